#pragma once
// Small string helpers shared by the script reader, the text layout and the loaders.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vaxo2::io {

// ASCII-only case folding, as `_stricmp` compares.
inline char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
int compareIgnoreCase(const char* a, const char* b);
std::string foldCase(std::string text);

// True when `text` ends with `suffix`, letters A-Z compared without case.
bool endsWithIgnoreCase(const std::string& text, const std::string& suffix);

// Field n (from 0) of a delimited list. Copies it (zero-terminated) into `buffer` when given;
// the buffer must hold the field and its terminator (bufferSize bytes; the copy is cut to
// fit). Returns the field's length plus 1, or 0 when there is no such field.
size_t listField(const char* text, char* buffer, size_t bufferSize, char delimiter, int n);
// Same, returning the field as a string: length + 1 or 0 as above.
size_t listField(const char* text, std::string& field, char delimiter, int n);

// strtod / strtoll (base 0) with the resulting errno in `error` (0 on success).
double parseReal(const char* text, int& error);
int64_t parseInteger(const char* text, int& error);

// A name from data (a pack entry, a script's file name) made safe to print on a terminal:
// control characters (C0, DEL, and C1 whether UTF-8 encoded or bare) and bytes that are no
// valid UTF-8 become \xNN; everything else, UTF-8 text included, stays as it is.
std::string printableName(const std::string& name);

// printf-style formatting into a 1024-byte buffer; longer output is cut at 1023 bytes.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vaxo2::io
