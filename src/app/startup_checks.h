#pragma once
// The checks made before anything starts: the operating-system version and the name of the
// single-instance lock, as pure functions of what the platform reports.
#include <string>

#include "platform/system.h"

namespace vaxo2::app {

// Versions 4 and below, and the Win32s/9x platform ids, are refused.
bool versionAccepted(const platform::OsVersion& version);

// "Global\" (unless an old platform) + "Vaxo2SystemRunning-" + the folder with every path
// separator (backslash, and on this system also '/') turned into '_'.
std::string instanceLockName(const platform::OsVersion& version, const std::string& folder);

extern const char* const kVersionRefusedText;  // "OSバージョンが動作対象外です"
extern const char* const kAlreadyRunningText;  // "同一アプリケーションが既に起動されています"
extern const char* const kAlreadyRunningCaption;  // "２重起動 Error"

}  // namespace vaxo2::app
