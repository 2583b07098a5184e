#pragma once
// Small operating-system services: message boxes, the single-instance lock, dynamic libraries,
// the working folder and the version information the start-up check reads.
#include <cstdint>
#include <memory>
#include <string>

namespace vaxo2::platform {

// Message box styles and answers, numbered as the Windows ones.
namespace mb {
constexpr uint32_t kOk = 0x0;
constexpr uint32_t kRetryCancel = 0x5;
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kIconWarning = 0x30;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdRetry = 4;
}  // namespace mb

// When no display is available (or headless is chosen) message boxes print to stderr and
// answer OK or Cancel.
void setMessageBoxesInteractive(bool interactive);
bool messageBoxesInteractive();
int showMessageBox(const std::string& textUtf8, const std::string& captionUtf8, uint32_t style);

// An exclusive lock named by `name`, held until destruction or process death.
class InstanceLock {
  public:
    virtual ~InstanceLock() = default;
};
// Null when another process holds the lock. The name is a file name (no '/'). The lock file
// lives in $XDG_RUNTIME_DIR, or else in a folder of the user's own, "$TMPDIR/vaxo2-<uid>"
// (mode 0700; one owned by someone else, or open to others, is not used).
std::unique_ptr<InstanceLock> tryAcquireInstanceLock(const std::string& name);
// The folder tryAcquireInstanceLock puts the lock file in; empty when there is none it can
// trust.
std::string instanceLockFolder();

// SIGHUP and SIGQUIT (unless someone set them otherwise) are noted instead of ending the
// process; takeQuitSignal returns the signal noted since the last call (0: none). The message
// loop turns it into a close, the orderly shutdown SIGINT and SIGTERM get.
void catchQuitSignals();
int takeQuitSignal();

// Makes freed picture-sized buffers go back to the system at once. Left alone, the C library
// raises its threshold for mapping large blocks to the largest block freed so far, so after
// the first decoded picture every later one comes from the heap, and the heap keeps the peak
// of a scene change for the rest of the run. Also keeps the per-thread heaps to two. Call
// before the threads start.
void tuneMemoryAllocator();

class DynamicLibrary {
  public:
    virtual ~DynamicLibrary() = default;
    virtual void* symbol(const char* name) = 0;
};
// A path with a '/' is loaded from there (a regular file only); a bare name is looked up on
// the system's library path.
std::unique_ptr<DynamicLibrary> loadDynamicLibrary(const std::string& path, std::string& error);

// The folder of the running executable ("" when it cannot be told).
std::string executableFolder();

std::string currentDirectory();
bool changeDirectory(const std::string& path);

// What the version check is fed: the Windows notions of platform id and major version, with
// this platform mapped to a current NT-family system.
struct OsVersion {
    uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
    uint32_t majorVersion = 10;
};
OsVersion osVersion();

}  // namespace vaxo2::platform
