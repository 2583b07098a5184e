#include "app/startup_checks.h"

namespace vaxo2::app {

const char* const kVersionRefusedText = "OSバージョンが動作対象外です";
const char* const kAlreadyRunningText = "同一アプリケーションが既に起動されています";
const char* const kAlreadyRunningCaption = "２重起動 Error";

bool versionAccepted(const platform::OsVersion& version) {
    const uint32_t major =
        (version.platformId == 0 || version.platformId == 1) ? 0 : version.majorVersion;
    return major > 4;
}

std::string instanceLockName(const platform::OsVersion& version, const std::string& folder) {
    std::string name;
    name.reserve(32 + folder.size());
    const bool oldPlatform = version.platformId == 0 || version.platformId == 1 ||
                             (version.platformId == 2 && version.majorVersion < 5);
    if (!oldPlatform) name += "Global\\";
    name += "Vaxo2SystemRunning-";
    for (char c : folder)
        name += (c == '\\' || c == '/') ? '_' : c;
    return name;
}

}  // namespace vaxo2::app
