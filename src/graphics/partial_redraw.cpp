#include "graphics/partial_redraw.h"

#include <algorithm>
#include <cmath>

#include "graphics/math.h"

namespace vaxo2::graphics {

namespace {

using platform::GpuMatrix;
using platform::GpuVertex;

bool sameVertex(const GpuVertex& a, const GpuVertex& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.diffuse == b.diffuse && a.u == b.u &&
           a.v == b.v;
}

PixelRect unite(const PixelRect& a, const PixelRect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int32_t x0 = std::min(a.x, b.x);
    const int32_t y0 = std::min(a.y, b.y);
    const int32_t x1 = std::max(a.x + a.width, b.x + b.width);
    const int32_t y1 = std::max(a.y + a.height, b.y + b.height);
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

PixelRect intersect(const PixelRect& a, const PixelRect& b) {
    const int32_t x0 = std::max(a.x, b.x);
    const int32_t y0 = std::max(a.y, b.y);
    const int32_t x1 = std::min(a.x + a.width, b.x + b.width);
    const int32_t y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0) return PixelRect{};
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

// Row vectors: p' = p * m.
void transform(const GpuMatrix& m, const float in[4], float out[4]) {
    for (int j = 0; j < 4; ++j) {
        out[j] = in[0] * m[j] + in[1] * m[4 + j] + in[2] * m[8 + j] + in[3] * m[12 + j];
    }
}

// The rectangle of whole pixels around [x0, x1) x [y0, y1), grown by one pixel on each side:
// edges that fall on pixel centres and rounding in the rasterizer stay inside.
PixelRect around(double x0, double y0, double x1, double y1) {
    constexpr double kLimit = 1 << 28;
    x0 = std::clamp(std::floor(x0) - 1, -kLimit, kLimit);
    y0 = std::clamp(std::floor(y0) - 1, -kLimit, kLimit);
    x1 = std::clamp(std::ceil(x1) + 1, -kLimit, kLimit);
    y1 = std::clamp(std::ceil(y1) + 1, -kLimit, kLimit);
    return PixelRect{static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                     static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0)};
}

}  // namespace

bool PartialRedrawGpu::Command::sameDraw(const Command& other) const {
    if (isClear != other.isClear) return false;
    // A clear reaches the whole target under any states.
    if (isClear) {
        return colour == other.colour && depth == other.depth && stencil == other.stencil &&
               std::equal(rgba, rgba + 4, other.rgba) && depthValue == other.depthValue &&
               stencilValue == other.stencilValue;
    }
    if (!(states == other.states)) return false;
    if (texture != other.texture || textureVersion != other.textureVersion || mode != other.mode) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (!sameVertex(vertices[i], other.vertices[i])) return false;
    }
    return true;
}

PartialRedrawGpu::PartialRedrawGpu(std::unique_ptr<platform::Gpu> inner)
    : inner_(std::move(inner)) {
    inner_->viewport(states_.viewport[0], states_.viewport[1], states_.viewport[2],
                     states_.viewport[3]);
}

void PartialRedrawGpu::beginFrame() {
    recording_ = true;
    frame_.clear();
}

platform::GpuTexture PartialRedrawGpu::createTexture(int32_t width, int32_t height,
                                                     const uint8_t* bgra) {
    const platform::GpuTexture texture = inner_->createTexture(width, height, bgra);
    if (texture != 0) versions_[texture].number = nextVersion_++;
    return texture;
}

bool PartialRedrawGpu::updateTexture(platform::GpuTexture texture, int32_t x, int32_t y,
                                     int32_t width, int32_t height, const uint8_t* bgra) {
    if (!inner_->updateTexture(texture, x, y, width, height, bgra)) return false;
    Version& version = versions_[texture];
    if (recording_) {
        version.writtenThisFrame.push_back(PixelRect{x, y, width, height});
    } else {
        version.number = nextVersion_++;
    }
    return true;
}

platform::GpuTexture PartialRedrawGpu::createRenderTarget(int32_t width, int32_t height) {
    const platform::GpuTexture target = inner_->createRenderTarget(width, height);
    if (target != 0) versions_[target].number = nextVersion_++;
    return target;
}

void PartialRedrawGpu::destroyTexture(platform::GpuTexture texture) {
    // A draw recorded in this frame may still sample it when the frame is replayed.
    if (recording_) {
        destroyAfterFrame_.push_back(texture);
        return;
    }
    versions_.erase(texture);
    inner_->destroyTexture(texture);
}

void PartialRedrawGpu::setDefaultTargetSize(int32_t width, int32_t height) {
    if (width != targetWidth_ || height != targetHeight_) invalidate();
    targetWidth_ = width;
    targetHeight_ = height;
    inner_->setDefaultTargetSize(width, height);
}

bool PartialRedrawGpu::beginRenderTarget(platform::GpuTexture target) {
    // The pass draws at once, under the states the recorded window draws left behind.
    if (targetDepth_ == 0 && recording_) apply(states_, nullptr);
    if (!inner_->beginRenderTarget(target)) return false;
    versions_[target].number = nextVersion_++;
    savedViewports_.push_back(
        {states_.viewport[0], states_.viewport[1], states_.viewport[2], states_.viewport[3]});
    inner_->viewport(states_.viewport[0], states_.viewport[1], states_.viewport[2],
                     states_.viewport[3]);
    ++targetDepth_;
    return true;
}

void PartialRedrawGpu::endRenderTarget() {
    if (targetDepth_ == 0) return;
    inner_->endRenderTarget();
    --targetDepth_;
    const std::array<int32_t, 4> saved = savedViewports_.back();
    savedViewports_.pop_back();
    std::copy(saved.begin(), saved.end(), states_.viewport);
}

void PartialRedrawGpu::setViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
    states_.viewport[0] = x;
    states_.viewport[1] = y;
    states_.viewport[2] = std::max(0, width);
    states_.viewport[3] = std::max(0, height);
    if (!recordingWindow()) inner_->setViewport(x, y, width, height);
}

void PartialRedrawGpu::viewport(int32_t& x, int32_t& y, int32_t& width, int32_t& height) const {
    x = states_.viewport[0];
    y = states_.viewport[1];
    width = states_.viewport[2];
    height = states_.viewport[3];
}

void PartialRedrawGpu::clear(bool colour, float r, float g, float b, float a, bool depth,
                             float depthValue, bool stencil, uint8_t stencilValue) {
    if (!recordingWindow()) {
        if (targetDepth_ == 0) invalidate();
        inner_->clear(colour, r, g, b, a, depth, depthValue, stencil, stencilValue);
        return;
    }
    Command command;
    command.isClear = true;
    command.states = states_;
    command.colour = colour;
    command.depth = depth;
    command.stencil = stencil;
    command.rgba[0] = r;
    command.rgba[1] = g;
    command.rgba[2] = b;
    command.rgba[3] = a;
    command.depthValue = depthValue;
    command.stencilValue = stencilValue;
    frame_.push_back(command);
}

void PartialRedrawGpu::setViewMatrix(const platform::GpuMatrix& view) {
    states_.view = view;
    if (!recordingWindow()) inner_->setViewMatrix(view);
}

void PartialRedrawGpu::setProjectionMatrix(const platform::GpuMatrix& projection) {
    states_.projection = projection;
    if (!recordingWindow()) inner_->setProjectionMatrix(projection);
}

void PartialRedrawGpu::setWorldMatrix(const platform::GpuMatrix& world) {
    states_.world = world;
    if (!recordingWindow()) inner_->setWorldMatrix(world);
}

void PartialRedrawGpu::setDepthState(bool test, bool write) {
    states_.depthTest = test;
    states_.depthWrite = write;
    if (!recordingWindow()) inner_->setDepthState(test, write);
}

void PartialRedrawGpu::setStencilState(const platform::StencilState& state) {
    states_.stencil = state;
    if (!recordingWindow()) inner_->setStencilState(state);
}

void PartialRedrawGpu::setBlendMode(platform::BlendMode mode) {
    states_.blend = mode;
    if (!recordingWindow()) inner_->setBlendMode(mode);
}

void PartialRedrawGpu::drawQuad(platform::GpuTexture texture,
                                const platform::GpuVertex (&vertices)[4],
                                platform::ShadeMode mode) {
    if (!recordingWindow()) {
        if (targetDepth_ == 0) invalidate();
        inner_->drawQuad(texture, vertices, mode);
        return;
    }
    Command command;
    command.states = states_;
    command.texture = texture;
    std::copy(vertices, vertices + 4, command.vertices);
    command.mode = mode;
    frame_.push_back(command);
}

bool PartialRedrawGpu::readPixels(std::vector<uint8_t>& rgba, int32_t& width, int32_t& height) {
    if (recordingWindow()) resolveFrame();
    return inner_->readPixels(rgba, width, height);
}

void PartialRedrawGpu::apply(const States& s, const States* applied) {
    // Only what differs: the GL layer submits its queued quads at a viewport change, and quads
    // under one state batch together.
    const bool all = applied == nullptr;
    if (all || !std::equal(s.viewport, s.viewport + 4, applied->viewport))
        inner_->setViewport(s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]);
    if (all || s.view != applied->view) inner_->setViewMatrix(s.view);
    if (all || s.projection != applied->projection) inner_->setProjectionMatrix(s.projection);
    if (all || s.world != applied->world) inner_->setWorldMatrix(s.world);
    if (all || s.depthTest != applied->depthTest || s.depthWrite != applied->depthWrite)
        inner_->setDepthState(s.depthTest, s.depthWrite);
    if (all || !(s.stencil == applied->stencil)) inner_->setStencilState(s.stencil);
    if (all || s.blend != applied->blend) inner_->setBlendMode(s.blend);
}

PixelRect PartialRedrawGpu::boundsOf(const Command& command) const {
    const States& s = command.states;
    const PixelRect viewport{s.viewport[0], s.viewport[1], s.viewport[2], s.viewport[3]};
    // A clear reaches the whole target, whatever the viewport.
    if (command.isClear) return windowRect();
    const GpuMatrix wvp = toArray(fromArray(s.world) * fromArray(s.view) * fromArray(s.projection));
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (int i = 0; i < 4; ++i) {
        const float in[4] = {command.vertices[i].x, command.vertices[i].y, command.vertices[i].z,
                             1.0f};
        float clip[4];
        transform(wvp, in, clip);
        // Behind the eye or not a number: whatever the viewport shows may change.
        if (!(clip[3] > 1e-6f) || !std::isfinite(clip[0]) || !std::isfinite(clip[1])) {
            return viewport;
        }
        const double px = s.viewport[0] + (clip[0] / clip[3] + 1.0) * 0.5 * s.viewport[2];
        const double py = s.viewport[1] + (1.0 - clip[1] / clip[3]) * 0.5 * s.viewport[3];
        if (i == 0) {
            x0 = x1 = px;
            y0 = y1 = py;
        } else {
            x0 = std::min(x0, px);
            x1 = std::max(x1, px);
            y0 = std::min(y0, py);
            y1 = std::max(y1, py);
        }
    }
    return intersect(around(x0, y0, x1, y1), viewport);
}

PixelRect PartialRedrawGpu::texelsOf(const Command& command) const {
    int32_t width = 0, height = 0;
    if (command.isClear || command.texture == 0 ||
        !inner_->textureSize(command.texture, width, height)) {
        return PixelRect{};
    }
    double u0 = command.vertices[0].u, u1 = u0, v0 = command.vertices[0].v, v1 = v0;
    for (const GpuVertex& vertex : command.vertices) {
        u0 = std::min<double>(u0, vertex.u);
        u1 = std::max<double>(u1, vertex.u);
        v0 = std::min<double>(v0, vertex.v);
        v1 = std::max<double>(v1, vertex.v);
    }
    if (!std::isfinite(u0) || !std::isfinite(u1) || !std::isfinite(v0) || !std::isfinite(v1)) {
        return PixelRect{0, 0, width, height};
    }
    return around(u0 * width, v0 * height, u1 * width, v1 * height);
}

bool PartialRedrawGpu::sampledRegionWritten(const Command& command) const {
    if (command.isClear || command.texture == 0) return false;
    const auto it = versions_.find(command.texture);
    if (it == versions_.end()) return false;
    for (const PixelRect& written : it->second.writtenThisFrame) {
        if (!intersect(written, command.texels).empty()) return true;
    }
    return false;
}

void PartialRedrawGpu::replay(const std::vector<Command>& commands) {
    const States* applied = nullptr;
    for (const Command& command : commands) {
        apply(command.states, applied);
        applied = &command.states;
        if (command.isClear) {
            inner_->clear(command.colour, command.rgba[0], command.rgba[1], command.rgba[2],
                          command.rgba[3], command.depth, command.depthValue, command.stencil,
                          command.stencilValue);
        } else {
            inner_->drawQuad(command.texture, command.vertices, command.mode);
        }
    }
    // Later draws outside a frame find the states the engine last set.
    apply(states_, applied);
}

void PartialRedrawGpu::resolveFrame() {
    if (!recording_) return;
    recording_ = false;
    for (Command& command : frame_) {
        if (!command.isClear && command.texture != 0) {
            // The replay samples what the texture holds now.
            const auto it = versions_.find(command.texture);
            command.textureVersion = it == versions_.end() ? 0 : it->second.number;
            command.texels = texelsOf(command);
        }
        command.bounds = boundsOf(command);
    }

    PixelRect damage;
    bool whole = !previousValid_;
    if (!whole) {
        const size_t n = frame_.size();
        const size_t m = previous_.size();
        const auto same = [this](const Command& now, const Command& before) {
            return now.sameDraw(before) && !sampledRegionWritten(now);
        };
        size_t prefix = 0;
        while (prefix < n && prefix < m && same(frame_[prefix], previous_[prefix]))
            ++prefix;
        size_t suffix = 0;
        while (suffix < n - prefix && suffix < m - prefix &&
               same(frame_[n - 1 - suffix], previous_[m - 1 - suffix])) {
            ++suffix;
        }
        for (size_t i = prefix; i < m - suffix; ++i)
            damage = unite(damage, previous_[i].bounds);
        for (size_t i = prefix; i < n - suffix; ++i)
            damage = unite(damage, frame_[i].bounds);
        damage = intersect(damage, windowRect());
        whole = damage == windowRect();
    }

    lastDrew_ = whole || !damage.empty();
    if (whole) {
        lastRedraw_ = windowRect();
        replay(frame_);
    } else if (!damage.empty()) {
        lastRedraw_ = damage;
        inner_->setScissor(true, damage.x, damage.y, damage.width, damage.height);
        replay(frame_);
        inner_->setScissor(false, 0, 0, 0, 0);
    } else {
        lastRedraw_ = PixelRect{};
    }

    previous_.swap(frame_);
    frame_.clear();
    previousValid_ = true;
    for (auto& [texture, version] : versions_) {
        if (!version.writtenThisFrame.empty()) {
            // Written during the frame: later frames compare against the new content.
            version.writtenThisFrame.clear();
        }
    }
    std::vector<platform::GpuTexture> destroy;
    destroy.swap(destroyAfterFrame_);
    for (platform::GpuTexture texture : destroy)
        destroyTexture(texture);
}

}  // namespace vaxo2::graphics
