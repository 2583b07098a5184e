#pragma once
// The queued commands that change a layer tree. Each resolves its LayerPath from the root the
// drain hands it (screen or transition tree) and does nothing when the path does not resolve.
#include <cstdint>
#include <string>

#include "graphics/graphic_object.h"
#include "queue/queued_command.h"

namespace vaxo2::graphics {

using queue::classQueBase;
using queue::OptionalBool;
using queue::OptionalFloat;
using queue::OptionalFloat3;
using queue::OptionalInt;
using queue::QueExecuteContext;

// A command that addresses one object.
class PathCommand : public classQueBase {
  public:
    LayerPath path;

  protected:
    GraphicObject* resolve(const QueExecuteContext& context) const {
        return GraphicObject::find(context.target, path);
    }
};

class classQue_GraphicCreate : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_GraphicAlter : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    std::string file;
    OptionalFloat x, y, z;
    OptionalBool hide;
    OptionalInt stencilAction;
};

class classQue_GraphicAlter_Movie : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    std::string file;
    OptionalFloat x, y, z;
    OptionalBool hide;
};

class classQue_GraphicDelete : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_GraphicChildAllDelete : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_GraphicAllDelete : public classQueBase {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_PageFeed : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

// The application's text settings as the script had them when it queued a text. Taken by the
// handler on the scenario thread: a setting changed by a later statement must not reach text
// queued before it (the render thread executes the batch only at the next frame), and the
// render thread then never reads settings the scenario thread is writing.
struct TextSettings {
    bool taken = false;
    int64_t textColor = 0xFFFFFF;
    int64_t textSpeed = 100;
    int64_t appearStartDelay = 300;
    int64_t autoWait = 1000;

    // The published context's settings (the defaults without one).
    static TextSettings current();
};

class classQue_GraphicStdOutText : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    TextSettings settings;  // not taken: the context's at execution
    std::string text;
    OptionalInt color;
    OptionalInt fontNo;
    OptionalInt noWait;
};

class classQue_GraphicStdOutTextX : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    TextSettings settings;  // not taken: the context's at execution
    std::string text;
    OptionalInt fontNo;
    OptionalInt color;
    OptionalInt charInterval;
    OptionalInt appearMode;
    OptionalInt appearStart;
    OptionalBool repeatAppearance;
    OptionalInt repeatPeriod;
};

class classQue_GraphicStdTextDrawingAllFinish : public classQueBase {
  public:
    void execute(QueExecuteContext& context) override;
};

// Every GraphicSlot parameter but No, each applied only when given.
struct SlotParameters {
    OptionalInt StartDelay, Delay, AfterDelay, Time;
    OptionalFloat TimeGainStart, TimeGainEnd;
    OptionalInt Loop;
    OptionalBool AutoDeleteFlag;
    OptionalFloat3 Position, Scale;
    OptionalFloat Roll, Transmittance, Rate;
    OptionalFloat3 PositionCenter, ScaleCenter, RollCenter, RollAxis;
    OptionalFloat3 PositionGainStart, PositionGainEnd, ScaleGainStart, ScaleGainEnd;

    void applyTo(StirSlot& slot) const;
};

class classQue_GraphicStirSlotSet : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    OptionalInt No;
    SlotParameters values;
};

class classQue_GraphicStirSlotChange : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    int64_t No = 0;
    SlotParameters values;
};

class classQue_GraphicStirSlotDelete : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
    int64_t No = 0;
};

class classQue_GraphicMoviePlay : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_GraphicMovieStop : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

class classQue_GraphicMoviePouse : public PathCommand {
  public:
    void execute(QueExecuteContext& context) override;
};

}  // namespace vaxo2::graphics
