#include "graphics/graphic_object.h"

#include <atomic>
#include <cmath>
#include <limits>

namespace vaxo2::graphics {

namespace {
std::atomic<TextEngineHooks*> textHooks{nullptr};
std::atomic<MovieStatus*> movieHooks{nullptr};

// Elapsed milliseconds scaled by the object's rate, truncated; an absurd rate from a script
// value must neither overflow the conversion nor run time backwards.
int64_t scaledTime(int64_t dt, float rate) {
    const double scaled = static_cast<double>(dt) * static_cast<double>(rate);
    if (!(scaled > 0.0)) {
        return 0;
    }
    constexpr double kCeiling = 4.0e18;
    if (scaled >= kCeiling) {
        return static_cast<int64_t>(kCeiling);
    }
    return static_cast<int64_t>(scaled);
}
}  // namespace

void setTextEngineHooks(TextEngineHooks* hooks) {
    textHooks.store(hooks);
}
TextEngineHooks* textEngineHooks() {
    return textHooks.load();
}
void setMovieStatus(MovieStatus* status) {
    movieHooks.store(status);
}
MovieStatus* movieStatus() {
    return movieHooks.load();
}

GraphicObject::GraphicObject(int64_t number_, GraphicObject* parent_) {
    reset();
    number = number_;
    parent = parent_;
}

GraphicObject::~GraphicObject() = default;

void GraphicObject::reset() {
    source.reset();
    shader.reset();
    layerChildren.clear();
    glyphChildren.clear();
    text.clear();
    textRequests.clear();
    hide = 0;
    StencilAction = 0;
    textSetting.clear();
    textLayout = TextLayoutState{};
    worldMatrix = Mat4::identity();
    drawMatrix = Mat4::identity();
    transmittance = 0.0f;
    rate = 1.0f;
    lastUpdate = 0;
    changeCount = 0;
    accumulatedPosition = Float3{0, 0, 0};
    movieWaitCount = 0;
    byteFlag = 0;
    color.clear();
    slots.clear();
    StirSlot base;
    base.No = 0;
    base.Loop = 0;
    slots.emplace(0, base);
    changedInLastUpdate_ = false;
    subtreeChanged_ = true;
}

GraphicObject* GraphicObject::find(GraphicObject* root, const LayerPath& path) {
    if (root == nullptr || path.empty()) {
        return nullptr;
    }
    GraphicObject* at = root;
    for (int64_t number : path) {
        auto it = at->layerChildren.find(number);
        if (it == at->layerChildren.end()) {
            return nullptr;
        }
        at = it->second.get();
    }
    return at;
}

GraphicObject* GraphicObject::create(GraphicObject* root, const LayerPath& path) {
    // Updates, draws and teardown walk the tree recursively; an absurdly deep path from a
    // script or a save file must not be able to exhaust the stack.
    if (root == nullptr || path.empty() || path.size() > kMaxLayerDepth) {
        return nullptr;
    }
    size_t depth = 0;
    for (const GraphicObject* at = root->parent; at != nullptr; at = at->parent) {
        ++depth;
    }
    if (depth + path.size() > kMaxLayerDepth) {
        return nullptr;
    }
    GraphicObject* at = root;
    for (size_t level = 0; level + 1 < path.size(); ++level) {
        auto& slot = at->layerChildren[path[level]];
        if (!slot) {
            slot = std::make_unique<GraphicObject>(path[level], at);
        }
        at = slot.get();
    }
    auto& slot = at->layerChildren[path.back()];
    slot = std::make_unique<GraphicObject>(path.back(), at);
    return slot.get();
}

void GraphicObject::remove(GraphicObject* object) {
    if (object == nullptr) {
        return;
    }
    GraphicObject* owner = object->parent;
    if (owner == nullptr) {
        delete object;
        return;
    }
    for (ChildMap* map : {&owner->layerChildren, &owner->glyphChildren}) {
        auto it = map->find(object->number);
        if (it != map->end() && it->second.get() == object) {
            map->erase(it);
            owner->markChanged();
            return;
        }
    }
}

void GraphicObject::clearChildren() {
    layerChildren.clear();
    markChanged();
}

void GraphicObject::deleteAll() {
    if (!layerChildren.empty()) {
        layerChildren.clear();
        markChanged();
    }
}

std::unique_ptr<GraphicObject> GraphicObject::clone(GraphicObject* newParent) const {
    auto copy = std::make_unique<GraphicObject>(number, newParent);
    copy->source = source;
    copy->shader = shader;
    copy->hide = hide;
    copy->StencilAction = StencilAction;
    copy->textSetting = textSetting;
    copy->textLayout = textLayout;
    copy->worldMatrix = worldMatrix;
    copy->drawMatrix = drawMatrix;
    copy->transmittance = transmittance;
    copy->rate = rate;
    copy->lastUpdate = lastUpdate;
    copy->changeCount = changeCount;
    copy->accumulatedPosition = accumulatedPosition;
    copy->movieWaitCount = movieWaitCount;
    copy->byteFlag = byteFlag;
    copy->text = text;
    copy->textRequests = textRequests;
    copy->color = color;
    copy->slots = slots;
    for (const auto& [key, child] : layerChildren) {
        copy->layerChildren.emplace(key, child->clone(copy.get()));
    }
    for (const auto& [key, child] : glyphChildren) {
        copy->glyphChildren.emplace(key, child->clone(copy.get()));
    }
    return copy;
}

void GraphicObject::setHide(int32_t value) {
    hide = value;
    changeCount = changeCount == 0 ? 1u : 0u;
}

void GraphicObject::releaseSource() {
    source.reset();
}

void GraphicObject::setSource(SourceRef newSource) {
    source = std::move(newSource);
}

void GraphicObject::loadImage(const std::string& file) {
    releaseSource();
    source = sourceCache().acquire(static_cast<int32_t>(SourceKind::Image), file);
    // Loading a picture again is when a failed one is looked at again: its file may have
    // changed since (an unchanged one is recognised without decoding or a second report).
    if (source && source->failed()) source->state = 0;
}

void GraphicObject::makeRenderTarget() {
    releaseSource();
    source = sourceCache().acquire(static_cast<int32_t>(SourceKind::RenderTarget), std::string());
}

bool GraphicObject::updateRoot(uint32_t now) {
    const int64_t dt =
        lastUpdate == 0 ? 0 : static_cast<int64_t>(static_cast<uint32_t>(now - lastUpdate));
    lastUpdate = now;
    return update(dt, nullptr);
}

bool GraphicObject::update(int64_t dt, const GraphicObject* parentObject) {
    bool changed = false;
    if (hide == 0) {
        if (TextEngineHooks* hooks = textEngineHooks()) {
            changed |= hooks->processPendingText(*this);
        }
    }
    accumulatedPosition = parentObject ? parentObject->accumulatedPosition : Float3{0, 0, 0};

    SlotAccumulator accumulator;
    const int64_t slotDt = scaledTime(dt, rate);
    for (auto it = slots.begin(); it != slots.end();) {
        StirSlot& slot = it->second;
        slot.advance(slotDt);
        accumulator.apply(slot);
        accumulatedPosition.x += slot.Position.x;
        accumulatedPosition.y += slot.Position.y;
        accumulatedPosition.z += slot.Position.z;
        if (slot.AutoDeleteFlag && slot.finished()) {
            it = slots.erase(it);
        } else {
            ++it;
        }
    }

    Mat4 world = accumulator.matrix;
    const bool placedOnItsOwn =
        parentObject == nullptr ||
        (parentObject->source && parentObject->source->kind() == SourceKind::RenderTarget);
    if (!placedOnItsOwn) {
        world = accumulator.matrix * parentObject->worldMatrix;
    }
    if (!(world == worldMatrix)) {
        worldMatrix = world;
        changed = true;
    }
    if (!(world == drawMatrix)) {
        drawMatrix = world;
        changed = true;
    }
    // A fade changes the picture without moving anything.
    if (accumulator.transmittance != transmittance) {
        changed = true;
    }
    transmittance = accumulator.transmittance;
    rate = accumulator.rate > 0.0f ? accumulator.rate : 0.0f;

    if (source) {
        if (source->kind() == SourceKind::Movie) {
            if (MovieStatus* movies = movieStatus()) {
                changed |= movies->takeNewFrame(*source);
            }
        }
        if (source->changeCount != changeCount) {
            changeCount = source->changeCount;
            changed = true;
        }
    } else if (changeCount != 0) {
        changeCount = 0;
        changed = true;
    }

    bool below = false;
    for (auto& [key, child] : layerChildren) {
        below |= child->update(dt, this);
    }
    for (auto& [key, child] : glyphChildren) {
        below |= child->update(dt, this);
    }
    if (below) {
        subtreeChanged_ = true;
        changed = true;
    }
    changedInLastUpdate_ = changed;
    return changed;
}

bool GraphicObject::busy() {
    for (const auto& [number, slot] : slots) {
        if (slot.Loop >= 0 && !slot.finished()) {
            return true;
        }
    }
    if (source && source->kind() == SourceKind::Movie) {
        MovieStatus* movies = movieStatus();
        if (movies != nullptr && movies->hasPlayer(*source)) {
            return movies->playing(*source);
        }
        if (movieWaitCount < 1000) {
            ++movieWaitCount;
            return true;
        }
    }
    return false;
}

}  // namespace vaxo2::graphics
