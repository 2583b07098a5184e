#include "app/entry.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/runtime.h"
#include "app/startup_checks.h"
#include "core/trace.h"
#include "platform/codepage.h"
#include "platform/system.h"

namespace vaxo2::app {

int runMain(int argc, char** argv) {
    platform::tuneMemoryAllocator();
    std::string error;
    auto options = parseCommandLine(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "vaxo2: %s\n%s", error.c_str(), kUsageText);
        return 2;
    }
    if (options->showHelp) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (!options->traceFile.empty()) {
        // Named from where the player started us, not from the game folder entered below.
        if (options->traceFile.front() != '/')
            options->traceFile = platform::currentDirectory() + "/" + options->traceFile;
        core::Trace::start(options->traceFile);
        core::Trace::mark("main");
    }
    if (!options->codePage.empty()) {
        if (!platform::isCharsetSupported(options->codePage)) {
            std::fprintf(stderr, "vaxo2: this system cannot convert the charset '%s'\n",
                         options->codePage.c_str());
            return 2;
        }
        platform::setAnsiCodePage(options->codePage);
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool haveDisplay = (display && *display) || (wayland && *wayland);
    platform::setMessageBoxesInteractive(!options->headless && haveDisplay);

    if (!options->gameFolder.empty() && !platform::changeDirectory(options->gameFolder)) {
        std::fprintf(stderr, "vaxo2: cannot enter game folder '%s'\n", options->gameFolder.c_str());
        return 2;
    }
    // From here on the game folder is the current folder, as the single-instance rule expects.
    options->gameFolder = ".";

    const platform::OsVersion version = platform::osVersion();
    if (!versionAccepted(version)) {
        platform::showMessageBox(kVersionRefusedText, "Error", platform::mb::kOk);
        return -1;
    }
    std::unique_ptr<platform::InstanceLock> lock =
        platform::tryAcquireInstanceLock(instanceLockName(version, platform::currentDirectory()));
    if (!lock) {
        platform::showMessageBox(kAlreadyRunningText, kAlreadyRunningCaption,
                                 platform::mb::kIconWarning);
        return 0;
    }

    platform::catchQuitSignals();
    Runtime runtime(std::move(*options), RuntimeHooks{});
    return runtime.run();
}

}  // namespace vaxo2::app
