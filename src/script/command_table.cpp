#include "script/command_table.h"

#include <cstring>

#include "script/flow_commands.h"

namespace vaxo2::script {
namespace {

using P = std::array<const char*, kMaxParameters>;

constexpr P kNone{};
constexpr P kTargetLayer{"Target", "Layer"};
constexpr P kGraphic{"Target", "Layer", "File", "x", "y", "z", "Hide", "StencilAction"};
constexpr P kScriptFile{"File", "Label"};
constexpr P kIfScript{"File", "Label", "Flag", "Value", "GlobalFlag"};
constexpr P kCharset{"Font", "List", "DefaultWidth", "DefaultHigth"};

// Sound and SoundAlter carry Stream between Silent and FinishToDelete.
constexpr P kSoundFull{"Layer",  "File",   "Volume",         "Pan",  "Loop",
                       "Silent", "Stream", "FinishToDelete", "Play", "LoopFileNo"};

constexpr std::array<CommandEntry, kCommandCount> kTable{{
    {"Dammy", kNone},
    {"Apply", kNone},
    {"Graphic", kGraphic},
    {"GraphicAlter", kGraphic},
    {"GraphicDelete", kTargetLayer},
    {"GraphicChildDelete", kTargetLayer},
    {"GraphicTextOut", {"Target", "Layer", "Text", "Color", "FontNo", "NoWait"}},
    {"GraphicWait", {"Target", "Layer", "Flag"}},
    {"PageFeed", kTargetLayer},
    {"Transition", {"Time", "File", "Shader", "Async", "IsQue"}},
    {"Wait", {"Time", "SkipOn"}},
    {"KeyWait", {"Time"}},
    {"GraphicPlay", kTargetLayer},
    {"GraphicStop", kTargetLayer},
    {"GraphicPouse", kTargetLayer},
    {"GraphicDelete", kTargetLayer},
    {"Apply", kNone},
    {"GraphicSlot",
     {"Target",
      "Layer",
      "No",
      "StartDelay",
      "Delay",
      "AfterDelay",
      "Time",
      "TimeGainStart",
      "TimeGainEnd",
      "Loop",
      "AutoDeleteFlag",
      "Position",
      "Scale",
      "Roll",
      "Transmittance",
      "Rate",
      "PositionCenter",
      "ScaleCenter",
      "RollCenter",
      "RollAxis",
      "PositionGainStart",
      "PositionGainEnd",
      "ScaleGainStart",
      "ScaleGainEnd"}},
    {"GraphicSlotDelete", {"Target", "Layer", "No"}},
    {"Sound", kSoundFull},
    {"SoundAlter", kSoundFull},
    {"SoundStop", {"Layer", "Time", "FinishToDelete"}},
    {"SoundVolume", {"Layer", "Time", "Volume"}},
    {"ScriptJump", kScriptFile},
    {"ScriptCall", kScriptFile},
    {"IfScriptCall", kIfScript},
    {"IfScriptJump", kIfScript},
    {"FlagSet", {"Flag", "Value"}},
    {"FlagReset", {"Flag"}},
    {"GlobalFlagSet", {"Flag", "Value"}},
    {"SystemDataSave", kNone},
    {"OrignalCharactorSet", kCharset},
    {"GraphicCharactorSet", kCharset},
    {"SystemTextColor", {"Color"}},
    {"SystemTextSpeed", {"Speed"}},
    {"SoundGroup", {"No", "SoundNoStart", "SoundNoLast"}},
    {"SoundGroupVolume", {"No", "Volume"}},
    {"SoundGroupSilent", {"No", "Value"}},
    {"SoundGroupAutomodeSkip", {"No", "Value"}},
    {"Quit", {"Flag"}},
    {"Restart", {"Flag"}},
    {"DataLoad", {"No"}},
    {"DataSave", {"No"}},
    {"HistoryReset", kNone},
    {"History", kNone},
    {"TitleMenu", kNone},
    {"Config", kNone},
    {"SubMenu", kNone},
}};

std::array<CommandHandler, kCommandCount>& handlers() {
    static std::array<CommandHandler, kCommandCount> table = [] {
        std::array<CommandHandler, kCommandCount> h;
        for (int i = 0; i < kCommandCount; ++i)
            h[static_cast<size_t>(i)] = builtinHandler(kTable[static_cast<size_t>(i)].name);
        return h;
    }();
    return table;
}

}  // namespace

const std::array<CommandEntry, kCommandCount>& commandTable() {
    return kTable;
}

int lookupCommand(std::string_view name) {
    for (int i = 1; i < kCommandCount; ++i) {
        if (name == kTable[static_cast<size_t>(i)].name) return i;
    }
    return 0;
}

std::vector<std::string> parameterNames(int index) {
    std::vector<std::string> names;
    if (index < 0 || index >= kCommandCount) return names;
    for (const char* p : kTable[static_cast<size_t>(index)].parameters) {
        if (!p) break;
        names.emplace_back(p);
    }
    return names;
}

int parameterCount(int index) {
    if (index < 0 || index >= kCommandCount) return 0;
    int count = 0;
    while (count < kMaxParameters &&
           kTable[static_cast<size_t>(index)].parameters[static_cast<size_t>(count)])
        ++count;
    return count;
}

int parameterIndex(int index, std::string_view parameter) {
    if (index < 0 || index >= kCommandCount) return -1;
    const auto& params = kTable[static_cast<size_t>(index)].parameters;
    for (int i = 0; i < kMaxParameters && params[static_cast<size_t>(i)]; ++i) {
        if (parameter == params[static_cast<size_t>(i)]) return i;
    }
    return -1;
}

bool setCommandHandler(std::string_view name, CommandHandler handler) {
    bool found = false;
    for (int i = 0; i < kCommandCount; ++i) {
        if (name == kTable[static_cast<size_t>(i)].name) {
            handlers()[static_cast<size_t>(i)] = handler;
            found = true;
        }
    }
    return found;
}

void callHandler(int index, ScriptInterpreter& interpreter,
                 const std::vector<ScriptValue>& arguments, int32_t count, ScriptValue* result) {
    if (index < 0 || index >= kCommandCount) return;
    const CommandHandler& h = handlers()[static_cast<size_t>(index)];
    if (h) h(interpreter, arguments, count, result);
}

}  // namespace vaxo2::script
