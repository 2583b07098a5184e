#pragma once
// A thin owner of one file descriptor with 64-bit size and position, an optional size limit
// and an optional Retry/Cancel dialog when an open fails.
#include <cerrno>
#include <cstdint>
#include <string>

namespace vaxo2::io {

// Shows the Retry/Cancel dialog for a failed open and returns the answer (platform::mb ids).
// Goes to the platform's message box unless a replacement is installed (tests drive it).
using FileErrorDialog = int (*)(const std::string& text, const std::string& caption,
                                uint32_t style);
void setFileErrorDialog(FileErrorDialog dialog);  // null restores the message box
int showFileErrorDialog(const std::string& text, const std::string& caption);

// Says on stderr, as "<program>: <file>: <why>", that a data file is bad and why (the file
// name is made printable). Callers say each problem once. Tests install a sink to see them.
using ProblemSink = void (*)(const std::string& file, const std::string& why);
void setProblemSink(ProblemSink sink);  // null restores stderr
void reportFileProblem(const std::string& file, const std::string& why);

class DataFile {
  public:
    static constexpr uint64_t kError = ~uint64_t{0};
    // lastError() of a name that exists but is neither a regular file nor a folder (a FIFO, a
    // socket, a device, or a link to one): it is never opened and counts as missing.
    static constexpr int kNotRegularFile = ENODEV;
    enum SeekOrigin : uint32_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

    DataFile() = default;
    ~DataFile();
    DataFile(DataFile&& other) noexcept;
    DataFile& operator=(DataFile&& other) noexcept;
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // `fileName` is a UTF-8 path. False (and nothing changed) when already open. Only regular
    // files open: a folder fails with EISDIR, anything else with kNotRegularFile.
    bool openForReading(const std::string& fileName, bool showErrors);
    // Truncates unless `append`; with `append` the file is kept and the position stays at 0.
    bool openForWriting(const std::string& fileName, bool showErrors, bool append);

    // Bytes transferred; 0 when closed. A write that would make the file larger than a
    // non-zero size limit writes nothing.
    uint32_t read(void* buffer, uint32_t count);
    uint32_t write(const void* buffer, uint32_t count);
    // Reads at an absolute position without moving the file position (for concurrent readers).
    uint32_t readAt(uint64_t offset, void* buffer, uint32_t count);

    // 0 when closed; kError on a failing system call.
    uint64_t size();
    uint64_t position();
    uint64_t seek(int64_t distance, uint32_t origin);

    bool isOpen() const { return fd_ >= 0; }
    void close();

    // 0 means no limit.
    void setSizeLimit(uint64_t limit) { sizeLimit_ = limit; }
    uint64_t sizeLimit() const { return sizeLimit_; }

    // The errno of the last failure of this object (0 after a success that clears it).
    int lastError() const { return lastError_; }

    // The dialog text for a failed open: file name, error code and the system's text for it.
    static std::string errorText(const std::string& fileName, int errorCode);
    // The system's text for an error code (ours for kNotRegularFile).
    static std::string errorComment(int errorCode);

  private:
    bool askRetry(const std::string& fileName, const char* caption) const;

    int fd_ = -1;
    uint64_t sizeLimit_ = 0;
    int lastError_ = 0;
};

}  // namespace vaxo2::io
