#include "io/resource_loader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "core/app_context.h"
#include "io/data_file.h"
#include "io/pack_archive.h"
#include "io/string_utils.h"
#include "platform/system.h"

namespace vaxo2::io {

namespace {

constexpr uint64_t kLooseFileLimit = 0xFFFFFFFFull;  // sizes from 4 GiB up are not loaded

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool splitResourceName(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name[0] == '\\' || name[0] == '/') {
        return false;
    }
    if (name.size() >= 2 && name[1] == ':') {
        return false;  // drive letter
    }
    // `.` and `..` are resolved by the name alone, as Windows does: `sub\..\x` is `x`, and
    // only a `..` that would climb above the folder refuses the name.
    std::string part;
    auto flush = [&]() -> bool {
        if (part == "..") {
            if (parts.empty()) {
                return false;
            }
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
        return true;
    };
    for (char c : name) {
        if (c == '\\' || c == '/') {
            if (!flush()) {
                return false;
            }
        } else {
            part.push_back(c);
        }
    }
    return flush() && !parts.empty();
}

namespace {

// The entry of `dir` equal to `component` without regard to ASCII case; the first in byte
// order when several are.
bool matchComponent(const std::string& dir, const std::string& component, std::string& found) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return false;
    }
    std::vector<std::string> matches;
    while (dirent* e = ::readdir(d)) {
        if (compareIgnoreCase(e->d_name, component.c_str()) == 0) {
            matches.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    if (matches.empty()) {
        return false;
    }
    found = *std::min_element(matches.begin(), matches.end());
    return true;
}

const char* const kPackNames[ResourceLoader::kPackCount] = {
    "data09.vxc", "data08.vxc", "data07.vxc", "data06.vxc", "data05.vxc",
    "data04.vxc", "data03.vxc", "data02.vxc", "data01.vxc",
};

}  // namespace

bool isSafeRelativeName(const std::string& name) {
    std::vector<std::string> parts;
    return splitResourceName(name, parts);
}

bool resolveLooseFile(const std::string& folder, const std::string& name, std::string& path) {
    path.clear();
    std::vector<std::string> parts;
    if (!splitResourceName(name, parts)) {
        return false;
    }
    std::string base = folder.empty() ? "." : folder;
    if (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    path = base;
    for (const auto& p : parts) {
        path += '/';
        path += p;
    }
    if (isRegularFile(path)) {
        return true;
    }
    std::string current = base;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string candidate = current + '/' + parts[i];
        bool last = i + 1 == parts.size();
        bool exists = last ? isRegularFile(candidate) : isDirectory(candidate);
        if (!exists) {
            std::string found;
            if (!matchComponent(current, parts[i], found)) {
                return false;
            }
            candidate = current + '/' + found;
            if (last ? !isRegularFile(candidate) : !isDirectory(candidate)) {
                return false;
            }
        }
        current = candidate;
    }
    path = current;
    return true;
}

struct ResourceLoader::PackSet {
    std::string folder;
    std::vector<std::unique_ptr<PackArchive>> packs;
};

ResourceLoader& ResourceLoader::instance() {
    static ResourceLoader loader;
    return loader;
}

ResourceLoader::ResourceLoader() = default;
ResourceLoader::~ResourceLoader() = default;

void ResourceLoader::setGameFolder(const std::string& folder) {
    std::lock_guard lock(mutex_);
    fallbackFolder_ = folder.empty() ? "." : folder;
}

std::string ResourceLoader::gameFolder() const {
    if (const core::AppContext* context = core::appContext()) {
        return context->gameFolder.empty() ? "." : context->gameFolder;
    }
    std::lock_guard lock(mutex_);
    return fallbackFolder_;
}

void ResourceLoader::reset() {
    std::lock_guard lock(mutex_);
    packs_.reset();
}

std::shared_ptr<ResourceLoader::PackSet> ResourceLoader::packsFor(const std::string& folder) {
    std::lock_guard lock(mutex_);
    if (!packs_ || packs_->folder != folder) {
        auto set = std::make_shared<PackSet>();
        set->folder = folder;
        for (const char* name : kPackNames) {
            // A folder copied from Windows may hold DATA01.VXC or Data01.vxc: packs are found
            // under any letter case, like loose files.
            std::string path;
            if (!resolveLooseFile(folder, name, path)) {
                path = folder + "/" + name;
            }
            set->packs.push_back(std::make_unique<PackArchive>(path));
        }
        packs_ = std::move(set);
    }
    return packs_;
}

bool ResourceLoader::load(const std::string& name, std::vector<uint8_t>& out, bool showErrors) {
    const std::string folder = gameFolder();
    std::shared_ptr<PackSet> set = packsFor(folder);
    if (!name.empty()) {
        for (const auto& pack : set->packs) {
            if (pack->find(name, out)) {
                return true;
            }
        }
    }

    std::string path;
    bool resolved = resolveLooseFile(folder, name, path);
    if (!resolved && path.empty()) {
        // Empty, or a name that leaves the game folder: never opened, and retrying cannot
        // change that, so the dialog is shown once.
        if (showErrors) {
            showFileErrorDialog(DataFile::errorText(name, EACCES), "ReadFile Access Error");
        }
        return false;
    }
    DataFile file;
    bool found = false;
    for (;;) {
        // The dialog is driven here so a Retry resolves the name again: a file the user puts
        // in place under any letter case is found.
        if (file.openForReading(path, false)) {
            break;
        }
        if (!showErrors) {
            return false;
        }
        // The dialog names the file as the script wrote it, not the path it was mapped to.
        int answer = showFileErrorDialog(DataFile::errorText(name, file.lastError()),
                                         "ReadFile Access Error");
        if (answer != platform::mb::kIdRetry) {
            return false;
        }
        resolveLooseFile(folder, name, path);
    }
    uint64_t size = file.size();
    if (size != DataFile::kError && size != 0 && size <= kLooseFileLimit) {
        try {
            out.assign(static_cast<size_t>(size), 0);
            file.readAt(0, out.data(), static_cast<uint32_t>(size));
            found = true;
        } catch (const std::bad_alloc&) {
            out.clear();  // a buffer of that size cannot be had: not found
        }
    }
    file.close();
    return found;
}

bool loadResource(const std::string& name, std::vector<uint8_t>& out, bool showErrors) {
    return ResourceLoader::instance().load(name, out, showErrors);
}

}  // namespace vaxo2::io
