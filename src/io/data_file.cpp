#include "io/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "io/string_utils.h"
#include "platform/system.h"

namespace vaxo2::io {

namespace {
std::atomic<FileErrorDialog> gDialog{nullptr};
std::atomic<ProblemSink> gProblemSink{nullptr};
}  // namespace

void setProblemSink(ProblemSink sink) {
    gProblemSink = sink;
}

void reportFileProblem(const std::string& file, const std::string& why) {
    if (ProblemSink sink = gProblemSink.load()) {
        sink(file, why);
        return;
    }
    // One write per message, so messages of several threads do not interleave.
    const std::string line =
        std::string(program_invocation_short_name) + ": " + printableName(file) + ": " + why + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void setFileErrorDialog(FileErrorDialog dialog) {
    gDialog = dialog;
}

int showFileErrorDialog(const std::string& text, const std::string& caption) {
    const uint32_t style = platform::mb::kIconWarning | platform::mb::kRetryCancel;
    if (FileErrorDialog dialog = gDialog.load()) {
        return dialog(text, caption, style);
    }
    return platform::showMessageBox(text, caption, style);
}

DataFile::~DataFile() {
    close();
}

DataFile::DataFile(DataFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      sizeLimit_(other.sizeLimit_),
      lastError_(other.lastError_) {}

DataFile& DataFile::operator=(DataFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        sizeLimit_ = other.sizeLimit_;
        lastError_ = other.lastError_;
    }
    return *this;
}

std::string DataFile::errorComment(int errorCode) {
    return errorCode == kNotRegularFile ? "not a regular file (a pipe, socket or device is no data)"
                                        : std::strerror(errorCode);
}

std::string DataFile::errorText(const std::string& fileName, int errorCode) {
    // The whole text is bounded like the dialog buffer it replaces.
    return format("filename:%s\nerrorcode:%d\n\nerrorcomment:%s\n", fileName.c_str(), errorCode,
                  errorComment(errorCode).c_str());
}

bool DataFile::askRetry(const std::string& fileName, const char* caption) const {
    return showFileErrorDialog(errorText(fileName, lastError_), caption) == platform::mb::kIdRetry;
}

bool DataFile::openForReading(const std::string& fileName, bool showErrors) {
    if (isOpen()) {
        return false;
    }
    for (;;) {
        // Only a regular file is data. A FIFO (or a link to one) would block open() and every
        // read until someone writes to it, a device never ends: such a name is looked at
        // before it is opened, and the open itself does not wait, in case the name changed
        // in between.
        struct stat st {};
        int fd = -1;
        if (::stat(fileName.c_str(), &st) != 0) {
            lastError_ = errno;
        } else if (!S_ISREG(st.st_mode)) {
            lastError_ = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
        } else {
            fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) lastError_ = errno;
        }
        if (fd >= 0) {
            if (::fstat(fd, &st) != 0) {
                lastError_ = errno;
                ::close(fd);
            } else if (!S_ISREG(st.st_mode)) {
                lastError_ = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
                ::close(fd);
            } else if (sizeLimit_ != 0 && static_cast<uint64_t>(st.st_size) > sizeLimit_) {
                lastError_ = ENOMEM;
                ::close(fd);
            } else {
                fd_ = fd;
                lastError_ = 0;
            }
        }
        if (isOpen() || !showErrors) {
            return isOpen();
        }
        if (!askRetry(fileName, "ReadFile Access Error")) {
            return false;
        }
    }
}

bool DataFile::openForWriting(const std::string& fileName, bool showErrors, bool append) {
    if (isOpen()) {
        return false;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC);
    for (;;) {
        int fd = ::open(fileName.c_str(), flags, 0644);
        if (fd < 0) {
            lastError_ = errno;
        } else {
            fd_ = fd;
            lastError_ = 0;
        }
        if (isOpen() || !showErrors) {
            return isOpen();
        }
        if (!askRetry(fileName, "WriteFile Access Error")) {
            return false;
        }
    }
}

namespace {
// Repeats a partial read or write until `count` bytes moved, the end of the file, or an error
// (kept in `lastError`); interrupted calls are retried.
template <typename Step>
uint32_t transferAll(uint32_t count, int& lastError, Step step) {
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) lastError = errno;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}
}  // namespace

uint32_t DataFile::read(void* buffer, uint32_t count) {
    if (!isOpen()) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    return transferAll(count, lastError_,
                       [&](uint32_t done) { return ::read(fd_, out + done, count - done); });
}

uint32_t DataFile::readAt(uint64_t offset, void* buffer, uint32_t count) {
    if (!isOpen() || offset > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    return transferAll(count, lastError_, [&](uint32_t done) {
        return ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
    });
}

uint32_t DataFile::write(const void* buffer, uint32_t count) {
    if (!isOpen()) {
        return 0;
    }
    if (sizeLimit_ != 0) {
        uint64_t current = size();
        if (current == kError || current + count > sizeLimit_) {
            lastError_ = current == kError ? lastError_ : ENOMEM;
            return 0;
        }
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    return transferAll(count, lastError_,
                       [&](uint32_t done) { return ::write(fd_, in + done, count - done); });
}

uint64_t DataFile::size() {
    if (!isOpen()) {
        return 0;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        lastError_ = errno;
        return kError;
    }
    return static_cast<uint64_t>(st.st_size);
}

uint64_t DataFile::position() {
    return seek(0, kCurrent);
}

uint64_t DataFile::seek(int64_t distance, uint32_t origin) {
    if (!isOpen()) {
        return 0;
    }
    int whence = origin == kBegin     ? SEEK_SET
                 : origin == kCurrent ? SEEK_CUR
                 : origin == kEnd     ? SEEK_END
                                      : -1;
    if (whence < 0) {
        lastError_ = EINVAL;
        return kError;
    }
    off_t r = ::lseek(fd_, static_cast<off_t>(distance), whence);
    if (r < 0) {
        lastError_ = errno;
        return kError;
    }
    return static_cast<uint64_t>(r);
}

void DataFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vaxo2::io
