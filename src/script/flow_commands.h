#pragma once
// Handlers of the flow, flag and wait commands. Their registration is built into the command
// table; the others' handlers come from the subsystems that own them.
#include <string_view>

#include "platform/window.h"
#include "script/command_table.h"

namespace vaxo2::script {

// The built-in handler for a command name, or an empty handler.
CommandHandler builtinHandler(std::string_view name);

// Virtual-key codes the waits use (the window's codes, as triggers take them).
namespace key {
constexpr int32_t kEnter = platform::vk::kReturn;
constexpr int32_t kControl = platform::vk::kControl;
constexpr int32_t kPageUp = platform::vk::kPrior;
constexpr int32_t kPageDown = platform::vk::kNext;
constexpr int32_t kUp = platform::vk::kUp;
constexpr int32_t kDown = platform::vk::kDown;
}  // namespace key

inline constexpr char kHistoryScript[] = "system\\History.vxs";
inline constexpr char kPreDataLoadScript[] = "system\\PreDataLoad.vxs";
inline constexpr char kRestartScript[] = "start.vxs";

}  // namespace vaxo2::script
