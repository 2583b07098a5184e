#pragma once
// Writes what the mixer sends to the device (44100 Hz, stereo, signed 16-bit) into a WAV file as
// it comes. The sizes in the header are filled in when the file is closed.
#include <cstdint>
#include <string>
#include <vector>

#include "io/data_file.h"

namespace vaxo2::sound {

class WavWriter {
  public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Creates (or truncates) the file and writes a header. False with `error` set on failure.
    bool open(const std::string& path, std::string& error);
    // Appends interleaved stereo frames. Never throws; past 4 GiB of data the rest is dropped.
    void write(const int16_t* interleaved, uint32_t frames) noexcept;
    // Writes what is buffered and the final sizes. True when every write succeeded.
    bool close();
    uint64_t framesWritten() const { return dataBytes_ / 4; }

  private:
    void flush() noexcept;

    io::DataFile file_;
    std::vector<uint8_t> pending_;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

}  // namespace vaxo2::sound
