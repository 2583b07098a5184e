// Movies are decoded by FFmpeg, which with the libraries it depends on is well over a hundred
// shared objects: linked into the runtime they would be mapped and relocated at every start
// and held in memory for games that never show a movie. They live in a module of their own
// (libvaxo2_movie.so, beside the runtime) that the first movie loads.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <string>

#include "platform/movie_decoder.h"

namespace vaxo2::platform {

namespace {

using OpenFunction = MovieDecoder* (*)(std::shared_ptr<const std::vector<uint8_t>>*, std::string*);

constexpr const char* kModuleName = "libvaxo2_movie.so";

std::string executableFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string folder(path, static_cast<size_t>(n));
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

struct MovieModule {
    OpenFunction open = nullptr;
    std::string error;

    MovieModule() {
        // Beside the runtime first (an installed game), then where the build put it (tests,
        // tools), then the library path. Loaded for good: decoders made by it may live until
        // the process ends.
        std::string candidates[3];
        const std::string folder = executableFolder();
        if (!folder.empty()) candidates[0] = folder + "/" + kModuleName;
#ifdef VAXO2_MOVIE_MODULE
        candidates[1] = VAXO2_MOVIE_MODULE;
#endif
        candidates[2] = kModuleName;
        for (const std::string& candidate : candidates) {
            if (candidate.empty()) continue;
            if (candidate.find('/') != std::string::npos && access(candidate.c_str(), R_OK) != 0)
                continue;
            void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                const char* why = dlerror();
                error = why ? why : "cannot be loaded";
                continue;
            }
            open = reinterpret_cast<OpenFunction>(dlsym(handle, "vaxo2_open_movie_decoder"));
            if (open != nullptr) return;
            error = candidate + " has no movie decoder";
        }
        if (error.empty()) error = std::string(kModuleName) + " not found";
    }
};

MovieModule& movieModule() {
    static MovieModule module;
    return module;
}

}  // namespace

void MovieDecoder::prepare() {
    movieModule();
}

std::unique_ptr<MovieDecoder> MovieDecoder::open(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                                 std::string& error) {
    const MovieModule& module = movieModule();
    if (module.open == nullptr) {
        error = "movies cannot be played: " + module.error;
        return nullptr;
    }
    return std::unique_ptr<MovieDecoder>(module.open(&bytes, &error));
}

}  // namespace vaxo2::platform
