#pragma once
// Handlers of the flow, flag and wait commands. Their registration is built into the command
// table; the others' handlers come from the subsystems that own them.
#include <string_view>

#include "script/command_table.h"

namespace vaxo2::script {

// The built-in handler for a command name, or an empty handler.
CommandHandler builtinHandler(std::string_view name);

// Virtual-key codes the waits use.
namespace key {
constexpr int32_t kEnter = 13;
constexpr int32_t kControl = 17;
constexpr int32_t kPageUp = 33;
constexpr int32_t kPageDown = 34;
constexpr int32_t kUp = 38;
constexpr int32_t kDown = 40;
}  // namespace key

inline constexpr char kHistoryScript[] = "system\\History.vxs";
inline constexpr char kPreDataLoadScript[] = "system\\PreDataLoad.vxs";
inline constexpr char kRestartScript[] = "start.vxs";

}  // namespace vaxo2::script
