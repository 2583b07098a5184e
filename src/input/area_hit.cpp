#include "input/area_hit.h"

#include <cmath>

#include "graphics/math.h"
#include "graphics/tree_draw.h"

namespace vaxo2::input {

using graphics::GraphicObject;
using graphics::Mat4;
using graphics::Vec3;
using graphics::Vec4;

namespace {

struct ScreenPoint {
    double x = 0, y = 0;
};

// Clip space to normalized device coordinates; false for a point at or behind the eye.
bool toDevice(const Vec4& clip, ScreenPoint& out) {
    if (!(clip.w > 0.0f) || !std::isfinite(clip.x) || !std::isfinite(clip.y)) return false;
    out.x = static_cast<double>(clip.x) / clip.w;
    out.y = static_cast<double>(clip.y) / clip.w;
    return std::isfinite(out.x) && std::isfinite(out.y);
}

double crossAt(const ScreenPoint& a, const ScreenPoint& b, const ScreenPoint& p) {
    return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

// Inside or on the edge of a convex quad given in drawing order around its outline; either
// winding (a mirrored picture turns it round). A quad squashed to a line or a point has no
// inside.
bool insideQuad(const ScreenPoint (&q)[4], const ScreenPoint& p) {
    const double area = crossAt(q[0], q[1], q[2]) + crossAt(q[0], q[2], q[3]);
    if (!(std::fabs(area) > 1e-12)) return false;
    bool anyPositive = false, anyNegative = false;
    for (int i = 0; i < 4; ++i) {
        const double c = crossAt(q[i], q[(i + 1) % 4], p);
        if (c > 0) anyPositive = true;
        if (c < 0) anyNegative = true;
    }
    return !(anyPositive && anyNegative);
}

}  // namespace

graphics::CameraSetup cameraForViewport(int32_t viewportWidth, int32_t viewportHeight) {
    // The runtime creates its device right-handed (handedness 0).
    return graphics::cameraFor(graphics::kDesignWidth, graphics::kDesignHeight, viewportWidth,
                               viewportHeight, 0);
}

bool objectShown(const GraphicObject* object) {
    if (object == nullptr) return false;
    for (const GraphicObject* o = object; o != nullptr; o = o->parent) {
        if (o->hide == 1) return false;
    }
    return true;
}

bool pictureContains(const GraphicObject& object, GamePoint point,
                     const graphics::CameraSetup& camera) {
    using graphics::SourceKind;
    if (!objectShown(&object) || !object.source) return false;
    const graphics::GraphicSource& source = *object.source;
    const SourceKind kind = source.kind();
    if (kind != SourceKind::Image && kind != SourceKind::Movie && kind != SourceKind::TextSurface)
        return false;
    if (!source.ready() || graphics::alphaByte(object.transmittance) == 0) return false;

    // The picture goes through the drawing code's own transform (pictureTransform) and the
    // device's camera; the point is where the design plane (z = 0) shows under the same camera.
    const Mat4 viewProjection = camera.view * camera.projection;
    const Mat4 toClip = graphics::pictureTransform(object) * viewProjection;
    const Vec3 onDesignPlane{point.x - graphics::kDesignWidth / 2.0f,
                             graphics::kDesignHeight / 2.0f - point.y, 0.0f};
    ScreenPoint p;
    if (!toDevice(graphics::transformVec4(onDesignPlane, viewProjection), p)) return false;

    for (const graphics::Tile& tile : source.tiles) {
        if (tile.texture == 0) continue;  // drawn as nothing
        // Strip order top-left, top-right, bottom-left, bottom-right; around the outline it is
        // 0, 1, 3, 2.
        static constexpr int kOutline[4] = {0, 1, 3, 2};
        ScreenPoint quad[4];
        bool visible = true;
        for (int i = 0; i < 4 && visible; ++i) {
            const graphics::TileVertex& v = tile.vertices[kOutline[i]];
            visible = toDevice(graphics::transformVec4(Vec3{v.x, v.y, v.z}, toClip), quad[i]);
        }
        if (visible && insideQuad(quad, p)) return true;
    }
    return false;
}

}  // namespace vaxo2::input
