// vxcpack: builds, lists, extracts and appends pack archives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "io/data_file.h"
#include "io/pack_archive.h"
#include "io/pack_writer.h"
#include "io/resource_loader.h"
#include "io/string_utils.h"

namespace fs = std::filesystem;
using namespace vaxo2::io;

namespace {

int usage() {
    std::fputs(
        "usage: vxcpack create OUT.vxc DIR     pack every file under DIR\n"
        "       vxcpack list PACK              name and size of each entry\n"
        "       vxcpack extract PACK DIR       write every entry under DIR\n"
        "       vxcpack append HOST PACK       append PACK to HOST as an embedded pack\n"
        "list and extract also read a pack embedded in another file.\n",
        stderr);
    return 2;
}

int failWith(const std::string& message) {
    std::fprintf(stderr, "vxcpack: %s\n", message.c_str());
    return 1;
}

// Reads the index of a plain or embedded pack. False (with a message) when the file cannot be
// opened or the pack is damaged; `entries` still holds what could be read.
bool readIndex(const std::string& path, DataFile& file, std::vector<PackEntry>& entries,
               std::string& message) {
    if (!file.openForReading(path, false)) {
        message =
            "cannot open " + printableName(path) + ": " + DataFile::errorComment(file.lastError());
        return false;
    }
    struct Source : ByteSource {
        DataFile& f;
        uint64_t s;
        explicit Source(DataFile& file) : f(file), s(file.size()) {}
        uint64_t size() override { return s == DataFile::kError ? 0 : s; }
        size_t readAt(uint64_t offset, void* buffer, size_t count) override {
            return f.readAt(offset, buffer, static_cast<uint32_t>(count));
        }
    } source(file);
    PackIndexReport report;
    // Embedded reading falls back to position 0 when no trailer is found, so it serves both.
    readPackIndex(source, true, entries, &report);
    if (!report.headerValid || !report.problem.empty()) {
        message = printableName(path) + ": damaged pack: " + report.problem;
        if (report.skippedEntries != 0) {
            message += " (" + std::to_string(report.skippedEntries) + " of " +
                       std::to_string(report.declaredEntries) + " entries unreadable)";
        }
        return false;
    }
    return true;
}

bool readData(DataFile& file, const PackEntry& entry, std::vector<uint8_t>& data) {
    data.assign(entry.dataSize, 0);
    return entry.dataSize == 0 ||
           file.readAt(entry.dataOffset, data.data(), entry.dataSize) == entry.dataSize;
}

void warn(const std::string& message) {
    std::fprintf(stderr, "vxcpack: %s\n", message.c_str());
}

// Symlinks are not packed: a pack holds the folder's own files, and following links would
// pack files from outside it (under names that climb out of the folder) or loop forever on a
// link to a parent. Each one is named on stderr; the pack is still written. Two files whose
// entry names the runtime cannot tell apart (they differ only in letter case, or one has a
// backslash in its file name where the other has a folder) make no pack at all.
int create(const std::string& out, const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        return failWith(dir + " is not a folder");
    }
    std::vector<PackItem> items;
    fs::recursive_directory_iterator it(dir, fs::directory_options::none, ec);
    if (ec) {
        return failWith("cannot read " + dir + ": " + ec.message());
    }
    const fs::path base(dir);
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            return failWith("cannot read " + dir + ": " + ec.message());
        }
        const fs::path rel = it->path().lexically_relative(base);
        const std::string shown = printableName(rel.generic_string());
        const fs::file_status status = it->symlink_status(ec);
        if (ec) {
            return failWith("cannot read " + shown + ": " + ec.message());
        }
        if (fs::is_symlink(status)) {
            warn("skipping symlink " + shown + " (a pack holds only the folder's own files)");
            continue;
        }
        if (fs::is_directory(status)) {
            continue;
        }
        if (!fs::is_regular_file(status)) {
            warn("skipping " + shown + ": not a regular file");
            continue;
        }
        if (fs::equivalent(it->path(), out, ec)) {
            continue;  // the pack being written inside its own folder
        }
        std::string name = rel.generic_string();
        std::replace(name.begin(), name.end(), '/', '\\');
        items.push_back({name, it->path().string(), {}});
    }
    std::sort(items.begin(), items.end(),
              [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
    std::map<std::string, const PackItem*> byFoldedName;
    int collisions = 0;
    for (const PackItem& item : items) {
        auto [at, added] = byFoldedName.emplace(foldCase(item.name), &item);
        if (!added) {
            warn(printableName(at->second->sourcePath) + " and " + printableName(item.sourcePath) +
                 " would both be the entry " + printableName(item.name) +
                 " (the runtime ignores letter case)");
            ++collisions;
        }
    }
    if (collisions != 0) {
        return failWith("no pack written: rename the files that collide");
    }
    std::string error;
    if (!writePackFile(out, items, error)) {
        return failWith(error);
    }
    return 0;
}

int list(const std::string& pack) {
    DataFile file;
    std::vector<PackEntry> entries;
    std::string message;
    bool ok = readIndex(pack, file, entries, message);
    for (const auto& e : entries) {
        std::printf("%s\t%u\n", printableName(e.name).c_str(), e.dataSize);
    }
    return ok ? 0 : failWith(message);
}

// Writes `data` to dir/parts..., creating the folders on the way. Never writes through a
// symlink already in the target folder (an intermediate one, or the file itself) and never
// into anything but a regular file.
bool writeInside(const std::string& dir, const std::vector<std::string>& parts,
                 const std::vector<uint8_t>& data, std::string& error) {
    std::string path = dir;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        path += "/" + parts[i];
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT || (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)) {
                error = "cannot create " + printableName(path) + ": " + std::strerror(errno);
                return false;
            }
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            error = printableName(path) + " is a symlink; nothing is written through it";
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            error = printableName(path) + " is in the way: not a folder";
            return false;
        }
    }
    path += "/" + parts.back();
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = errno == ELOOP
                    ? printableName(path) + " is a symlink; nothing is written through it"
                    : "cannot write " + printableName(path) + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        error = printableName(path) + " is in the way: not a regular file";
    }
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write " + printableName(path) + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return ok;
}

// Entries are written under their names with `\` as the folder separator. The runtime sees
// only the first of entries whose names differ in letter case alone; later ones are skipped
// with a message. Entries whose names differ otherwise but map to one file (`a/b` and `a\b`,
// or `a\.\b`) cannot all be written: the later ones are skipped and the exit status says so.
int extract(const std::string& pack, const std::string& dir) {
    DataFile file;
    std::vector<PackEntry> entries;
    std::string message;
    if (!readIndex(pack, file, entries, message) && entries.empty()) {
        return failWith(message);
    }
    int status = message.empty() ? 0 : failWith(message);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        return failWith("cannot create " + dir + ": " + ec.message());
    }
    std::vector<uint8_t> data;
    std::set<std::string> seenNames;
    std::map<std::string, std::string> writtenPaths;  // folded path -> entry name written there
    std::vector<std::string> parts;
    for (const auto& e : entries) {
        const std::string shown = printableName(e.name);
        if (!seenNames.insert(foldCase(e.name)).second) {
            warn("skipping later duplicate of " + shown + " (the runtime only sees the first)");
            continue;
        }
        if (!splitResourceName(e.name, parts)) {
            status = failWith("refusing entry that leaves the target folder: " + shown);
            continue;
        }
        std::string key;
        for (const std::string& part : parts) {
            key += "/" + foldCase(part);
        }
        auto [at, added] = writtenPaths.emplace(key, e.name);
        if (!added) {
            status = failWith("skipping " + shown + ": it would overwrite " +
                              printableName(at->second) + ", written there before");
            continue;
        }
        if (!readData(file, e, data)) {
            status = failWith("data of " + shown + " is cut short");
            continue;
        }
        std::string error;
        if (!writeInside(dir, parts, data, error)) {
            status = failWith(error);
        }
    }
    return status;
}

int append(const std::string& host, const std::string& pack) {
    DataFile file;
    std::vector<PackEntry> entries;
    std::string message;
    if (!readIndex(pack, file, entries, message)) {
        return failWith(message);
    }
    std::vector<PackItem> items;
    items.reserve(entries.size());
    for (const auto& e : entries) {
        PackItem item{e.name, {}, {}};
        if (!readData(file, e, item.bytes)) {
            return failWith("data of " + printableName(e.name) + " is cut short");
        }
        items.push_back(std::move(item));
    }
    std::string error;
    if (!appendPackToFile(host, items, error)) {
        return failWith(error);
    }
    return 0;
}

}  // namespace

int run(int argc, char** argv) {
    if (argc != 4 && !(argc == 3 && std::strcmp(argv[1], "list") == 0)) {
        return usage();
    }
    std::string command = argv[1];
    if (command == "create" && argc == 4) {
        return create(argv[2], argv[3]);
    }
    if (command == "list" && argc == 3) {
        return list(argv[2]);
    }
    if (command == "extract" && argc == 4) {
        return extract(argv[2], argv[3]);
    }
    if (command == "append" && argc == 4) {
        return append(argv[2], argv[3]);
    }
    return usage();
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        // Out of memory on a damaged size, or a file system error not reported otherwise.
        return failWith(e.what());
    }
}
