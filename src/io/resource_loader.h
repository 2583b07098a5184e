#pragma once
// The process-wide resource loader: a named data file is looked up in the packs data09.vxc
// down to data01.vxc of the game folder, then as a loose file.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vaxo2::io {

class PackArchive;

// Loads the named resource (a relative name, `\` or `/` separated) into `out`. True when found;
// `out` then holds exactly the file's bytes. showErrors lets the loose-file open offer the
// Retry/Cancel dialog. Safe to call from any thread.
bool loadResource(const std::string& name, std::vector<uint8_t>& out, bool showErrors = false);

class ResourceLoader {
  public:
    static constexpr int kPackCount = 9;

    // The one loader of the process.
    static ResourceLoader& instance();

    ResourceLoader();
    ~ResourceLoader();
    ResourceLoader(const ResourceLoader&) = delete;
    ResourceLoader& operator=(const ResourceLoader&) = delete;

    bool load(const std::string& name, std::vector<uint8_t>& out, bool showErrors);

    // The folder used when no application context is published ("." by default). With a
    // context, its gameFolder wins.
    void setGameFolder(const std::string& folder);
    std::string gameFolder() const;

    // Forgets every loaded pack index (the next lookup reads them again).
    void reset();

  private:
    struct PackSet;
    std::shared_ptr<PackSet> packsFor(const std::string& folder);

    mutable std::mutex mutex_;
    std::string fallbackFolder_ = ".";
    std::shared_ptr<PackSet> packs_;
};

// Splits a resource name (`\` or `/` separated) into its path components with `.` and `..`
// resolved by the name alone. False when it is empty, absolute, has a drive letter, or a `..`
// would leave the folder.
bool splitResourceName(const std::string& name, std::vector<std::string>& parts);

// Maps a resource name to an existing regular file under `folder`: backslashes become `/`, and
// when the exact path does not exist each component is matched case-insensitively (ASCII) in
// its directory. Names that leave the folder (see splitResourceName) are refused.
// Returns false when refused or not found; `path` then holds the plain mapped path (or is
// empty when refused).
bool resolveLooseFile(const std::string& folder, const std::string& name, std::string& path);

// True when the name is allowed as a loose-file name (stays inside the game folder).
bool isSafeRelativeName(const std::string& name);

}  // namespace vaxo2::io
