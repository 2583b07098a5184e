#pragma once
// Conversions between the runtime's UTF-8 text and UTF-16 / the system ANSI code page, the
// decoding of text files of unknown encoding and the UTF-8 stepping helpers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vaxo2::io {

// Code page numbers as the Windows API numbers them.
constexpr uint32_t kCodePageAnsi = 0;  // CP_ACP: the system ANSI code page (a setting)
constexpr uint32_t kCodePageUtf8 = 65001;

// Encoding kinds of a text buffer.
enum EncodingKind : int {
    kEncodingNone = 0,
    kEncodingAnsi = 1,  // only ever a default passed by the caller
    kEncodingUtf16Le = 2,
    kEncodingUtf16Be = 3,
    kEncodingUtf8 = 4,
};

// UTF-16 -> UTF-8; stops at the first zero unit. Unpaired surrogates become U+FFFD.
std::string toUtf8(const char16_t* text);
std::string toUtf8(std::u16string_view text);
// UTF-8 -> UTF-16. Malformed sequences become U+FFFD. Empty on empty input.
std::u16string toUtf16(std::string_view text);

// Skips one leading byte-order mark unit (U+FEFF) and converts the rest. True when the result
// is not empty.
bool utf16BufferToUtf8(const char16_t* units, size_t count, std::string& out);
// Skips a leading byte-order mark (byteOrderMarkLength bytes) and converts the rest from the
// given code page. True when the result is not empty.
bool codePageBufferToUtf16(const uint8_t* bytes, size_t count, uint32_t codePage,
                           std::u16string& out);

int encodingKind(const uint8_t* bytes, size_t count);
size_t byteOrderMarkLength(const uint8_t* bytes, size_t count);

// Decodes a whole text file into UTF-8. defaultKind is used when the buffer has no mark
// (1: the system ANSI code page). UTF-16 big-endian is not decoded (false).
bool decodeTextFile(const uint8_t* bytes, size_t count, int defaultKind, std::string& out);

// UTF-8 <-> system ANSI code page (through UTF-16, as the Windows calls do).
std::string ansiToUtf8(std::string_view ansi);
std::string utf8ToAnsi(std::string_view utf8);

// The early 31-bit form of UTF-8: 1 to 6 bytes; empty for 0x7FFFFFFF and above.
std::string codePointToUtf8(uint32_t codePoint);
// 1 to 6 by the lead byte, 0 for a byte that cannot start a sequence.
int utf8SequenceLength(uint8_t leadByte);
// Characters of a zero-terminated UTF-8 text; a byte that cannot start a sequence counts as
// one character, and a sequence cut short by the terminator counts once.
size_t utf8CharacterCount(const char* text);

}  // namespace vaxo2::io
