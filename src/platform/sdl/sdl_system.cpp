// Operating-system services: message boxes (SDL, or stderr without a display), the
// single-instance lock file, dynamic libraries and PNG output.
#include <SDL.h>
#include <SDL_image.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
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

std::unique_ptr<InstanceLock> tryAcquireInstanceLock(const std::string& name) {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    path += "/" + lockFileName(name) + ".lock";
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

std::unique_ptr<DynamicLibrary> loadDynamicLibrary(const std::string& path, std::string& error) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        error = e ? e : "cannot load library";
        return nullptr;
    }
    return std::make_unique<DlLibrary>(h);
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
