#pragma once
// Pictures that could not be shown, remembered by name with a fingerprint of the bytes that
// failed (or of their absence). A broken or missing file is then read, decoded and reported
// once instead of at every frame; when the same name later holds other bytes (the file was
// replaced) it is decoded again. Safe to use from any thread.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vaxo2::graphics {

class PictureFailures {
  public:
    // Receives each new failure: the picture's name as the script wrote it, and why.
    using Sink = std::function<void(const std::string& name, const std::string& reason)>;

    // True when `bytes` (null: the file could not be read) are what failed for `name` before.
    bool failedBefore(const std::string& name, const std::vector<uint8_t>* bytes) const;
    // Remembers a failure and reports it, unless these bytes were reported for `name` already.
    void remember(const std::string& name, const std::vector<uint8_t>* bytes,
                  const std::string& reason);
    // The picture showed: a later failure of the same name is news again.
    void forget(const std::string& name);
    void clear();
    // Where failures are reported; null (the default) writes one line to stderr.
    void setSink(Sink sink);

  private:
    mutable std::mutex mutex_;
    std::unordered_map<std::string, uint64_t> fingerprints_;  // guarded by mutex_
    Sink sink_;                                               // guarded by mutex_
};

// The process-wide record used by image realization.
PictureFailures& pictureFailures();

}  // namespace vaxo2::graphics
