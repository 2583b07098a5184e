// Operating-system services: message boxes (SDL, or stderr without a display), the
// single-instance lock file, dynamic libraries and PNG output.
#include <SDL.h>
#include <SDL_image.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <malloc.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/screenshot.h"
#include "platform/system.h"

namespace vaxo2::platform {
namespace {

std::atomic<bool> gInteractive{true};

class FileLock final : public InstanceLock {
  public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override {
        flock(fd_, LOCK_UN);
        close(fd_);
    }

  private:
    int fd_;
};

class DlLibrary final : public DynamicLibrary {
  public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    ~DlLibrary() override { dlclose(handle_); }
    void* symbol(const char* name) override { return dlsym(handle_, name); }

  private:
    void* handle_;
};

// File names have a length limit that lock names do not: long names keep a readable head and
// gain a hash of the whole name, so distinct folders still get distinct locks.
std::string lockFileName(const std::string& name) {
    constexpr size_t kMax = 200;
    if (name.size() <= kMax) return name;
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char tail[24];
    std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(h));
    return name.substr(0, kMax - 17) + tail;
}

}  // namespace

void setMessageBoxesInteractive(bool interactive) {
    gInteractive = interactive;
}
bool messageBoxesInteractive() {
    return gInteractive;
}

int showMessageBox(const std::string& textUtf8, const std::string& captionUtf8, uint32_t style) {
    const bool retryCancel = (style & 0xF) == mb::kRetryCancel;
    if (gInteractive && SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        SDL_MessageBoxButtonData okButtons[] = {
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
             mb::kIdOk, "OK"}};
        SDL_MessageBoxButtonData rcButtons[] = {
            {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, mb::kIdRetry, "Retry"},
            {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, mb::kIdCancel, "Cancel"}};
        uint32_t flags = SDL_MESSAGEBOX_INFORMATION;
        if ((style & 0xF0) == mb::kIconError) flags = SDL_MESSAGEBOX_ERROR;
        if ((style & 0xF0) == mb::kIconWarning) flags = SDL_MESSAGEBOX_WARNING;
        SDL_MessageBoxData data{flags,
                                nullptr,
                                captionUtf8.c_str(),
                                textUtf8.c_str(),
                                retryCancel ? 2 : 1,
                                retryCancel ? rcButtons : okButtons,
                                nullptr};
        int answer = 0;
        if (SDL_ShowMessageBox(&data, &answer) == 0 && answer > 0) return answer;
    }
    std::fprintf(stderr, "[%s] %s\n", captionUtf8.c_str(), textUtf8.c_str());
    return retryCancel ? mb::kIdCancel : mb::kIdOk;
}

std::string instanceLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return runtime;
    // Without the per-user runtime folder, a folder of our own in the temporary folder: the
    // temporary folder itself is shared with every local user, any of whom could create our
    // lock file first and hold it. One that is not ours alone is not used.
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/vaxo2-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        return std::string();
    }
    return dir;
}

std::unique_ptr<InstanceLock> tryAcquireInstanceLock(const std::string& name) {
    const std::string dir = instanceLockFolder();
    if (dir.empty()) {
        std::fprintf(stderr,
                     "vaxo2: no private folder for the lock file (another user owns or can write "
                     "to it); running without the single-instance check\n");
        return std::make_unique<InstanceLock>();
    }
    std::string path = dir + "/" + lockFileName(name) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // Without a lock file we cannot tell; running is better than refusing to run.
        std::fprintf(stderr, "vaxo2: cannot create lock file %s\n", path.c_str());
        return std::make_unique<InstanceLock>();
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<FileLock>(fd);
}

namespace {
std::atomic<int> gQuitSignal{0};
extern "C" void onQuitSignal(int signal) {
    gQuitSignal.store(signal);
}
}  // namespace

void catchQuitSignals() {
    // SIGINT and SIGTERM already reach the window as a quit event; a hang-up or a quit from
    // the terminal gets the same orderly shutdown instead of ending the process on the spot.
    for (int signal : {SIGHUP, SIGQUIT}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
            continue;  // ignored or handled by whoever started us: leave it so
        }
        struct sigaction action {};
        action.sa_handler = onQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

int takeQuitSignal() {
    return gQuitSignal.exchange(0);
}

void tuneMemoryAllocator() {
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_ARENA_MAX, 2);
}

std::unique_ptr<DynamicLibrary> loadDynamicLibrary(const std::string& path, std::string& error) {
    struct stat st {};
    if (path.find('/') != std::string::npos && stat(path.c_str(), &st) == 0 &&
        !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";  // a FIFO would block the loader
        return nullptr;
    }
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        error = e ? e : "cannot load library";
        return nullptr;
    }
    return std::make_unique<DlLibrary>(h);
}

std::string executableFolder() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            const size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash);
        }
        if (buf.size() > (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
}

std::string currentDirectory() {
    std::vector<char> buf(4096);
    while (!getcwd(buf.data(), buf.size())) {
        if (buf.size() > (1u << 20)) return ".";
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

bool changeDirectory(const std::string& path) {
    return chdir(path.c_str()) == 0;
}

OsVersion osVersion() {
    return OsVersion{};
}

bool writePng(const std::string& path, const uint8_t* rgba, int width, int height,
              std::string& error) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(rgba), width, height,
                                                        32, width * 4, SDL_PIXELFORMAT_RGBA32);
    if (!s) {
        error = SDL_GetError();
        return false;
    }
    const bool ok = IMG_SavePNG(s, path.c_str()) == 0;
    if (!ok) error = IMG_GetError();
    SDL_FreeSurface(s);
    return ok;
}

}  // namespace vaxo2::platform
