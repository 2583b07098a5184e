#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace vaxo2::platform {

namespace {

std::mutex& charsetMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& ansiCharset() {
    static std::string name = "CP932";
    return name;
}

// One iconv descriptor, closed on destruction.
class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) {
            iconv_close(cd_);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// Converts with `cd`; on an invalid or incomplete input sequence appends `replacement` to the
// output and skips `skipUnit` input bytes, so the conversion always reaches the end.
void convertAll(iconv_t cd, const char* in, size_t inLeft, size_t skipUnit,
                const std::string& replacement, std::string& out) {
    out.clear();
    char buffer[4096];
    char* inPtr = const_cast<char*>(in);
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, outPtr - buffer);
        if (r != static_cast<size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ or EINVAL: replace one unit and go on.
        out += replacement;
        size_t skip = skipUnit < inLeft ? skipUnit : inLeft;
        inPtr += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
}

}  // namespace

void setAnsiCodePage(const std::string& charsetName) {
    std::lock_guard lock(charsetMutex());
    ansiCharset() = charsetName;
}

std::string ansiCodePage() {
    std::lock_guard lock(charsetMutex());
    return ansiCharset();
}

bool isCharsetSupported(const std::string& charsetName) {
    IconvHandle a("UTF-16LE", charsetName.c_str());
    IconvHandle b(charsetName.c_str(), "UTF-16LE");
    return a.valid() && b.valid();
}

bool charsetToUtf16(const std::string& charsetName, const uint8_t* bytes, size_t size,
                    std::u16string& out) {
    out.clear();
    IconvHandle cd("UTF-16LE", charsetName.c_str());
    if (!cd.valid()) {
        return false;
    }
    std::string raw;
    const std::string replacement("\xFD\xFF", 2);  // U+FFFD, little-endian
    convertAll(cd.get(), reinterpret_cast<const char*>(bytes), size, 1, replacement, raw);
    out.resize(raw.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                       (static_cast<uint8_t>(raw[2 * i + 1]) << 8));
    }
    return true;
}

bool utf16ToCharset(const std::string& charsetName, const char16_t* units, size_t count,
                    std::string& out) {
    out.clear();
    IconvHandle cd(charsetName.c_str(), "UTF-16LE");
    if (!cd.valid()) {
        return false;
    }
    std::string raw;
    raw.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        raw.push_back(static_cast<char>(units[i] & 0xFF));
        raw.push_back(static_cast<char>(units[i] >> 8));
    }
    convertAll(cd.get(), raw.data(), raw.size(), 2, "?", out);
    return true;
}

}  // namespace vaxo2::platform
