#include "sound/wav_writer.h"

#include <cstring>

namespace vaxo2::sound {

namespace {
constexpr size_t kFlushBytes = 65536;
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}
}  // namespace

WavWriter::~WavWriter() {
    close();
}

bool WavWriter::open(const std::string& path, std::string& error) {
    if (!file_.openForWriting(path, false, false)) {
        error = io::DataFile::errorText(path, file_.lastError());
        return false;
    }
    std::vector<uint8_t> header;
    putId(header, "RIFF");
    put32(header, 36);  // filled in on close
    putId(header, "WAVE");
    putId(header, "fmt ");
    put32(header, 16);
    put16(header, 1);       // PCM
    put16(header, 2);       // channels
    put32(header, 44100);   // rate
    put32(header, 176400);  // bytes per second
    put16(header, 4);       // block alignment
    put16(header, 16);      // bits
    putId(header, "data");
    put32(header, 0);
    if (file_.write(header.data(), static_cast<uint32_t>(header.size())) != header.size()) {
        error = "cannot write " + path;
        file_.close();
        return false;
    }
    pending_.reserve(kFlushBytes + 8192);
    dataBytes_ = 0;
    failed_ = false;
    return true;
}

void WavWriter::write(const int16_t* interleaved, uint32_t frames) noexcept {
    if (!file_.isOpen() || failed_) return;
    for (uint32_t i = 0; i < frames * 2; ++i) {
        if (dataBytes_ + 2 > kMaxDataBytes) break;
        const auto v = static_cast<uint16_t>(interleaved[i]);
        // Reserved ahead: these never allocate while the buffer is below its flush size.
        pending_.push_back(static_cast<uint8_t>(v & 0xFF));
        pending_.push_back(static_cast<uint8_t>(v >> 8));
        dataBytes_ += 2;
        if (pending_.size() >= kFlushBytes) flush();
    }
}

void WavWriter::flush() noexcept {
    if (pending_.empty()) return;
    if (file_.write(pending_.data(), static_cast<uint32_t>(pending_.size())) != pending_.size())
        failed_ = true;
    pending_.clear();
}

bool WavWriter::close() {
    if (!file_.isOpen()) return !failed_;
    flush();
    std::vector<uint8_t> size;
    put32(size, static_cast<uint32_t>(36 + dataBytes_));
    bool ok =
        !failed_ && file_.seek(4, io::DataFile::kBegin) == 4 && file_.write(size.data(), 4) == 4;
    size.clear();
    put32(size, static_cast<uint32_t>(dataBytes_));
    ok = ok && file_.seek(40, io::DataFile::kBegin) == 40 && file_.write(size.data(), 4) == 4;
    file_.close();
    return ok;
}

}  // namespace vaxo2::sound
