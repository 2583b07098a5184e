#pragma once
// Character-set conversion for the engine: the "system ANSI code page" of the original
// platform (CP932 unless a setting names another) and any other named charset.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vaxo2::platform {

// The charset that stands for the system ANSI code page. Default "CP932".
void setAnsiCodePage(const std::string& charsetName);
std::string ansiCodePage();

// True when the charset can be converted to and from UTF-16LE here.
bool isCharsetSupported(const std::string& charsetName);

// Converts `size` bytes in `charsetName` to UTF-16 (native units). Bytes that do not form a
// character become U+FFFD; a sequence cut off at the end too. False when the charset is
// unknown.
bool charsetToUtf16(const std::string& charsetName, const uint8_t* bytes, size_t size,
                    std::u16string& out);
// Converts UTF-16 to `charsetName`; characters the charset lacks become '?'. False when the
// charset is unknown.
bool utf16ToCharset(const std::string& charsetName, const char16_t* units, size_t count,
                    std::string& out);

}  // namespace vaxo2::platform
