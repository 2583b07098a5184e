// vxcpack: builds, lists, extracts and appends pack archives.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "io/data_file.h"
#include "io/pack_archive.h"
#include "io/pack_writer.h"
#include "io/resource_loader.h"

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
        message = "cannot open " + path + ": " + std::strerror(file.lastError());
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
        message = path + ": damaged pack: " + report.problem;
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

int create(const std::string& out, const std::string& dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        return failWith(dir + " is not a folder");
    }
    std::vector<PackItem> items;
    fs::recursive_directory_iterator it(dir, fs::directory_options::follow_directory_symlink, ec);
    if (ec) {
        return failWith("cannot read " + dir + ": " + ec.message());
    }
    const fs::path outAbs = fs::weakly_canonical(out, ec);
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            return failWith("cannot read " + dir + ": " + ec.message());
        }
        if (!it->is_regular_file(ec)) {
            continue;
        }
        if (fs::weakly_canonical(it->path(), ec) == outAbs) {
            continue;  // the pack being written inside its own folder
        }
        std::string rel = fs::relative(it->path(), dir, ec).generic_string();
        std::replace(rel.begin(), rel.end(), '/', '\\');
        items.push_back({rel, it->path().string(), {}});
    }
    std::sort(items.begin(), items.end(),
              [](const PackItem& a, const PackItem& b) { return a.name < b.name; });
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
        std::printf("%s\t%u\n", e.name.c_str(), e.dataSize);
    }
    return ok ? 0 : failWith(message);
}

int extract(const std::string& pack, const std::string& dir) {
    DataFile file;
    std::vector<PackEntry> entries;
    std::string message;
    if (!readIndex(pack, file, entries, message) && entries.empty()) {
        return failWith(message);
    }
    int status = message.empty() ? 0 : failWith(message);
    std::vector<uint8_t> data;
    std::set<std::string> written;
    for (const auto& e : entries) {
        if (!written.insert(e.name).second) {
            // The runtime only ever sees the first entry of a name.
            std::fprintf(stderr, "vxcpack: skipping later duplicate of %s\n", e.name.c_str());
            continue;
        }
        if (!isSafeRelativeName(e.name)) {
            status = failWith("refusing entry that leaves the target folder: " + e.name);
            continue;
        }
        std::string rel = e.name;
        std::replace(rel.begin(), rel.end(), '\\', '/');
        fs::path target = fs::path(dir) / rel;
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            status =
                failWith("cannot create " + target.parent_path().string() + ": " + ec.message());
            continue;
        }
        if (!readData(file, e, data)) {
            status = failWith("data of " + e.name + " is cut short");
            continue;
        }
        DataFile out;
        if (!out.openForWriting(target.string(), false, false) ||
            (!data.empty() &&
             out.write(data.data(), static_cast<uint32_t>(data.size())) != data.size())) {
            status =
                failWith("cannot write " + target.string() + ": " + std::strerror(out.lastError()));
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
            return failWith("data of " + e.name + " is cut short");
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
