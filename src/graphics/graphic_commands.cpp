#include "graphics/graphic_commands.h"

#include "core/app_context.h"
#include "graphics/text_layout.h"

namespace vaxo2::graphics {

namespace {

void setBasePosition(GraphicObject& object, const OptionalFloat& x, const OptionalFloat& y,
                     const OptionalFloat& z) {
    auto it = object.slots.find(0);
    if (it == object.slots.end()) {
        return;
    }
    if (x.given) it->second.Position.x = x.value;
    if (y.given) it->second.Position.y = y.value;
    if (z.given) it->second.Position.z = z.value;
}

void requestMovie(GraphicObject* object, MovieRequest request) {
    if (object == nullptr || !object->source || object->source->kind() != SourceKind::Movie) {
        return;
    }
    if (MovieStatus* movies = movieStatus()) {
        movies->request(*object->source, request);
    }
}

void finishGlyphSlots(GraphicObject& object) {
    for (auto& [key, glyph] : object.glyphChildren) {
        for (auto& [number, slot] : glyph->slots) {
            if (slot.Loop >= 0) {
                slot.finish();
            }
        }
        glyph->markChanged();
        finishGlyphSlots(*glyph);
    }
    for (auto& [key, child] : object.layerChildren) {
        finishGlyphSlots(*child);
    }
}

template <typename T>
void put(const queue::OptionalValue<T>& from, T& to) {
    if (from.given) {
        to = from.value;
    }
}

}  // namespace

void classQue_GraphicCreate::execute(QueExecuteContext& context) {
    GraphicObject::create(context.target, path);
}

void classQue_GraphicAlter::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    if (!file.empty()) {
        object->loadImage(file);
    }
    setBasePosition(*object, x, y, z);
    if (hide.given) {
        object->setHide(hide.value ? 1 : 0);
    }
    if (stencilAction.given) {
        object->StencilAction = stencilAction.value;
    }
}

void classQue_GraphicAlter_Movie::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    object->releaseSource();
    object->setSource(sourceCache().acquire(static_cast<int32_t>(SourceKind::Movie), file));
    object->setHide(hide.given && hide.value ? 1 : 0);
    setBasePosition(*object, x, y, z);
}

void classQue_GraphicDelete::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object != nullptr) {
        GraphicObject::remove(object);
    }
}

void classQue_GraphicChildAllDelete::execute(QueExecuteContext& context) {
    if (GraphicObject* object = resolve(context)) {
        object->clearChildren();
    }
}

void classQue_GraphicAllDelete::execute(QueExecuteContext& context) {
    if (context.target != nullptr) {
        context.target->deleteAll();
    }
}

void classQue_PageFeed::execute(QueExecuteContext& context) {
    if (GraphicObject* object = resolve(context)) {
        feedPage(*object);
    }
}

TextSettings TextSettings::current() {
    TextSettings out;
    if (const core::AppContext* app = core::appContext()) {
        out.textColor = app->textColor;
        out.textSpeed = app->textSpeed;
        out.appearStartDelay = app->appearStartDelay;
        out.autoWait = app->autoWait;
    }
    out.taken = true;
    return out;
}

void classQue_GraphicStdOutText::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    const TextSettings app = settings.taken ? settings : TextSettings::current();
    TextRequest request;
    request.text = text;
    request.fontNo = fontNo.given ? static_cast<int64_t>(static_cast<int32_t>(fontNo.value)) : 0;
    request.color = color.given ? color.value : app.textColor;
    request.charInterval = noWait.valueOr(1) * app.textSpeed;
    request.appearMode = 1;
    request.appearStart = app.appearStartDelay;
    request.repeatAppearance = 0;
    request.repeatPeriod = app.autoWait;
    object->textRequests.push_back(std::move(request));
}

void classQue_GraphicStdOutTextX::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    const TextSettings app = settings.taken ? settings : TextSettings::current();
    TextRequest request;
    request.text = text;
    request.fontNo = fontNo.valueOr(0);
    request.color = color.given ? color.value : app.textColor;
    request.charInterval = charInterval.valueOr(0);
    request.appearMode = appearMode.valueOr(0);
    request.appearStart = appearStart.valueOr(0);
    request.repeatAppearance = repeatAppearance.valueOr(false) ? 1 : 0;
    request.repeatPeriod = repeatPeriod.valueOr(0);
    object->textRequests.push_back(std::move(request));
}

void classQue_GraphicStdTextDrawingAllFinish::execute(QueExecuteContext& context) {
    if (context.target != nullptr) {
        finishGlyphSlots(*context.target);
    }
}

void SlotParameters::applyTo(StirSlot& slot) const {
    put(StartDelay, slot.StartDelay);
    put(Delay, slot.Delay);
    put(AfterDelay, slot.AfterDelay);
    put(Time, slot.Time);
    put(TimeGainStart, slot.TimeGainStart);
    put(TimeGainEnd, slot.TimeGainEnd);
    put(Loop, slot.Loop);
    put(AutoDeleteFlag, slot.AutoDeleteFlag);
    put(Position, slot.Position);
    put(Scale, slot.Scale);
    put(Roll, slot.Roll);
    put(Transmittance, slot.Transmittance);
    put(Rate, slot.Rate);
    put(PositionCenter, slot.PositionCenter);
    put(ScaleCenter, slot.ScaleCenter);
    put(RollCenter, slot.RollCenter);
    put(RollAxis, slot.RollAxis);
    put(PositionGainStart, slot.PositionGainStart);
    put(PositionGainEnd, slot.PositionGainEnd);
    put(ScaleGainStart, slot.ScaleGainStart);
    put(ScaleGainEnd, slot.ScaleGainEnd);
}

void classQue_GraphicStirSlotSet::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    int64_t number = 1;
    if (No.given) {
        number = No.value;
    } else if (!object->slots.empty()) {
        const int64_t highest = object->slots.rbegin()->first;
        // The next number after the highest; past the top there is no higher one to take.
        number = highest == INT64_MAX ? highest : highest + 1;
    }
    StirSlot slot;
    slot.No = number;
    values.applyTo(slot);
    slot.No = number;
    slot.remaining = 0;
    object->slots[number] = slot;
}

void classQue_GraphicStirSlotChange::execute(QueExecuteContext& context) {
    GraphicObject* object = resolve(context);
    if (object == nullptr) {
        return;
    }
    auto it = object->slots.find(No);
    if (it != object->slots.end()) {
        values.applyTo(it->second);
    }
}

void classQue_GraphicStirSlotDelete::execute(QueExecuteContext& context) {
    if (GraphicObject* object = resolve(context)) {
        object->slots.erase(No);
    }
}

void classQue_GraphicMoviePlay::execute(QueExecuteContext& context) {
    requestMovie(resolve(context), MovieRequest::Play);
}

void classQue_GraphicMovieStop::execute(QueExecuteContext& context) {
    requestMovie(resolve(context), MovieRequest::Stop);
}

void classQue_GraphicMoviePouse::execute(QueExecuteContext& context) {
    requestMovie(resolve(context), MovieRequest::Pause);
}

}  // namespace vaxo2::graphics
