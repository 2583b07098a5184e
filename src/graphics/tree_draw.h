#pragma once
// Drawing a layer tree: the order (negative layers behind their parent, glyphs last), the
// per-object state (alpha from transmittance, stencil by StencilAction, source scale), lazy
// realization of image and render-target sources, and the render-target root of a transition.
#include <cstdint>

#include "graphics/graphic_object.h"
#include "graphics/render_backend.h"

namespace vaxo2::graphics {

// Design surface.
constexpr int32_t kDesignWidth = 1280;
constexpr int32_t kDesignHeight = 720;

// 255 - trunc(clamp(transmittance, 0, 1) * 255); a NaN counts as opaque.
uint32_t alphaByte(float transmittance);

// Places a tile's quad: its top-left corner at (left, top) with y up, the given size, texture
// coordinates from (0, 0) to (u1, v1), moved by the source's offset.
void setTileVertices(Tile& tile, float left, float top, float width, float height, float u1,
                     float v1, const Float3& offset);

// Realizes an image source: decode, cut into tiles of at most the maximum texture size, centre
// with y up. A file that cannot be read or decoded marks the source failed and is reported once
// (pictureFailures()).
bool realizeImage(GraphicSource& source, RenderBackend& backend);
// Realizes the shared render-target source: a square target covering the back buffer.
bool realizeRenderTarget(GraphicSource& source, RenderBackend& backend);
// Realizes any kind (image and render target here, the rest through registered realizers;
// a movie's realizer also takes its newest picture, at every draw).
bool realizeSource(GraphicSource& source, RenderBackend& backend);

// The transform an object's picture is drawn with: the source's scale in front of the object's
// draw matrix (every slot's position, scale, roll and centres, composed with the parents').
// Input hit-testing places trigger areas with this same function, so a button takes clicks
// exactly where it shows.
Mat4 pictureTransform(const GraphicObject& object);

// Draws one object's own picture (kinds 1, 2, 3; kind 5 only when asked by drawTree).
void drawObject(GraphicObject& object, RenderBackend& backend, bool allowRenderTarget = false);
// Draws an object and its subtree in layer order.
void drawSubtree(GraphicObject& object, RenderBackend& backend);

// The scale that maps a render texture of tile size onto the visible area for a window of
// the given aspect ratio (width / height).
Float3 renderTargetScale(int32_t tileWidth, int32_t tileHeight, float windowAspect);

// Draws a whole tree inside a frame whose camera is set up. A root with a render-target
// source draws its subtree into the target, then itself as one quad with its shader.
void drawTree(GraphicObject& root, RenderBackend& backend, float windowAspect);

// Whether drawing the tree would put anything on screen: some object not hidden (nor under a
// hidden parent) shows a picture, a movie or text, or the root is a render target.
bool treeHasPictures(const GraphicObject& root);

// Device reset or teardown: drops every cached source's textures (render targets and images
// alike); they are rebuilt at their next draw.
void releaseAllTextures();
// Device reset: only the render targets go (they follow the back-buffer size); picture
// textures survive, as managed textures did.
void releaseRenderTargets();

}  // namespace vaxo2::graphics
