#pragma once
// A node of a layer tree. Everything on screen is one of these; it shows at most one source,
// takes its placement from its animation slots, and owns its layer children and the glyph
// children that the text engine creates.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "graphics/graphic_source.h"
#include "graphics/stir_slot.h"
#include "graphics/transform.h"
#include "queue/queued_command.h"

namespace vaxo2::graphics {

using queue::LayerPath;

// One pending message text of an object; consumed by the text layout engine.
struct TextRequest {
    std::string text;
    int64_t fontNo = 0;
    int64_t color = 0xFFFFFF;
    int64_t charInterval = 0;
    int64_t appearMode = 1;
    int64_t appearStart = 0;
    uint8_t repeatAppearance = 0;
    int64_t repeatPeriod = 0;
};

// The text cursor and layout state of an object, reset by a page feed.
struct TextLayoutState {
    float penX = 0, penY = 0, penZ = 0;
    int64_t lineIndent = 0;
    int64_t glyphCount = 0;
    int64_t appearDelay = 0;
    uint8_t lineStart = 1;
    uint8_t noLineBreak = 0;
    queue::OptionalInt fontOverride;
    queue::OptionalInt colorOverride;
};

class GraphicObject;
class RenderBackend;

// The text engine plugs in here: it lays pending requests out into glyph children during the
// update and gives each glyph its colour just before it draws.
class TextEngineHooks {
  public:
    virtual ~TextEngineHooks() = default;
    // Returns true when it processed anything (the object then counts as changed).
    virtual bool processPendingText(GraphicObject& object) = 0;
    // Before an object showing a text source draws (and before its source is realized): true
    // with `rgb` (0xRRGGBB) when the source's coverage is to be drawn in that colour. Shared
    // glyph textures are never rewritten for a colour.
    virtual bool glyphTint(GraphicObject& object, RenderBackend& backend, uint32_t& rgb) = 0;
    // After a restore from a save slot: lays the stored text out again.
    virtual void relayout(GraphicObject& object) = 0;
};
void setTextEngineHooks(TextEngineHooks* hooks);
TextEngineHooks* textEngineHooks();

class GraphicObject {
  public:
    using ChildMap = std::map<int64_t, std::unique_ptr<GraphicObject>>;
    // Deepest tree create() builds (levels below a root).
    static constexpr size_t kMaxLayerDepth = 256;

    explicit GraphicObject(int64_t number = 0, GraphicObject* parent = nullptr);
    ~GraphicObject();
    GraphicObject(const GraphicObject&) = delete;
    GraphicObject& operator=(const GraphicObject&) = delete;

    // Back to a fresh object: no source, no children, identity matrices, a finished slot 0.
    void reset();

    // ---- tree operations; a null root or an empty path yields nothing ----
    static GraphicObject* find(GraphicObject* root, const LayerPath& path);
    // Creates missing intermediate levels; the last level is always made fresh (an existing
    // object there is deleted with its subtree).
    static GraphicObject* create(GraphicObject* root, const LayerPath& path);
    // Removes the object from its parent (destroying its subtree) and marks the parent changed.
    // A root is destroyed directly.
    static void remove(GraphicObject* object);
    // Empties the layer children (glyph children stay) and marks the object changed.
    void clearChildren();
    // Deletes every layer child.
    void deleteAll();
    // Deep copy: shares the sources, copies the slots, clones both child maps.
    std::unique_ptr<GraphicObject> clone(GraphicObject* newParent = nullptr) const;
    void setHide(int32_t value);
    // Something about the object or its children changed that the next update must report
    // (a child removed, its text reset).
    void markChanged() {
        changeCount ^= 1u;
        subtreeChanged_ = true;
    }

    // ---- sources ----
    void releaseSource();
    void loadImage(const std::string& file);
    void makeRenderTarget();
    void setSource(SourceRef newSource);
    void setShader(SourceRef newShader) { shader = std::move(newShader); }

    // ---- frame update ----
    // Advances a root by the time since its last update (0 the first time); returns whether
    // anything in the tree changed.
    bool updateRoot(uint32_t now);
    // True when the last update saw a change anywhere in this subtree.
    bool changedInLastUpdate() const { return changedInLastUpdate_; }

    // ---- rendering a subtree into a render target ----
    // True when what the objects below this one show may differ from what was last rendered
    // of them: an update saw a change below it, markSubtreeChanged was called (commands ran on
    // its tree: they may change what no update looks at, such as hide), or nothing was
    // rendered yet. The object's own placement and fade do not count.
    bool subtreeChangedSinceRender() const { return subtreeChanged_; }
    void markSubtreeChanged() { subtreeChanged_ = true; }
    void markSubtreeRendered() { subtreeChanged_ = false; }
    // What the last render into this object's target was made for: the target source's change
    // count (a new target has a new one) and the view's aspect ratio.
    uint32_t renderedTargetChange = 0;
    float renderedAspect = 0.0f;

    // ---- GraphicWait ----
    // Busy while a slot with Loop >= 0 has not finished, or while its movie has not played out.
    bool busy();

    // ---- fields ----
    int64_t number = 0;
    SourceRef source;
    SourceRef shader;
    GraphicObject* parent = nullptr;
    int32_t hide = 0;
    int64_t StencilAction = 0;
    queue::OptionalInt textSetting;
    TextLayoutState textLayout;
    Mat4 worldMatrix = Mat4::identity();
    Mat4 drawMatrix = Mat4::identity();
    float transmittance = 0.0f;
    float rate = 1.0f;
    uint32_t lastUpdate = 0;
    uint32_t changeCount = 0;
    Float3 accumulatedPosition{0, 0, 0};
    int32_t movieWaitCount = 0;
    uint8_t byteFlag = 0;
    std::string text;
    std::deque<TextRequest> textRequests;
    // Glyphs: the colour the text engine gives them (applied at draw time when given).
    queue::OptionalInt color;
    std::map<int64_t, StirSlot> slots;
    ChildMap layerChildren;
    ChildMap glyphChildren;

  private:
    bool update(int64_t dt, const GraphicObject* parentObject);
    bool changedInLastUpdate_ = false;
    bool subtreeChanged_ = true;
};

// Movie sources report playback state through this (the movie subsystem registers it).
enum class MovieRequest { Play, Stop, Pause };

class MovieStatus {
  public:
    virtual ~MovieStatus() = default;
    // GraphicPlay / GraphicStop / GraphicPouse on an object showing this movie.
    virtual void request(GraphicSource& source, MovieRequest request) = 0;
    // Whether a player exists for the source yet.
    virtual bool hasPlayer(const GraphicSource& source) = 0;
    virtual bool playing(const GraphicSource& source) = 0;
    // Whether the source still needs frames by itself: opening, playing, or paused before its
    // first picture arrived. A stopped, paused or ended movie shows a still picture.
    virtual bool animating(const GraphicSource& source) = 0;
    // Called in each frame's update: applies the pending requests and takes the picture due
    // now; true when the picture changed or a request was applied.
    virtual bool takeNewFrame(GraphicSource& source) = 0;
};
void setMovieStatus(MovieStatus* status);
MovieStatus* movieStatus();

}  // namespace vaxo2::graphics
