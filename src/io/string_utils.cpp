#include "io/string_utils.h"

#include "io/text_encoding.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vaxo2::io {

int compareIgnoreCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        auto ca = static_cast<unsigned char>(asciiLower(*a));
        auto cb = static_cast<unsigned char>(asciiLower(*b));
        if (ca != cb || ca == 0) {
            return static_cast<int>(ca) - static_cast<int>(cb);
        }
    }
}

std::string printableName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    auto escape = [&out](unsigned char c) {
        static const char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const size_t n = name.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                escape(c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // Length and smallest code point of a sequence with this lead byte.
        size_t length = 0;
        uint32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        }
        bool valid = length != 0 && i + length <= n;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (p[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        valid = valid && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
                !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
        if (!valid || code < 0xA0) {  // below U+00A0: the C1 controls
            if (valid) {
                for (size_t k = 0; k < length; ++k)
                    escape(p[i + k]);
                i += length;
            } else {
                escape(c);
                ++i;
            }
            continue;
        }
        out.append(name, i, length);
        i += length;
    }
    return out;
}

std::string foldCase(std::string text) {
    for (char& c : text) {
        c = asciiLower(c);
    }
    return text;
}

bool endsWithIgnoreCase(const std::string& text, const std::string& suffix) {
    if (suffix.size() > text.size()) {
        return false;
    }
    return foldCase(text.substr(text.size() - suffix.size())) == foldCase(suffix);
}

namespace {

// Start and length of field n, or false when there is none.
bool findField(const char* text, char delimiter, int n, const char*& start, size_t& length) {
    if (text == nullptr || n < 0) {
        return false;
    }
    const char* p = text;
    for (int i = 0; i < n; ++i) {
        const char* d = std::strchr(p, delimiter);
        if (d == nullptr || delimiter == '\0') {
            return false;
        }
        p = d + 1;
    }
    if (*p == '\0') {
        return false;
    }
    const char* end = p;
    while (*end != '\0' && *end != delimiter) {
        ++end;
    }
    start = p;
    length = static_cast<size_t>(end - p);
    return true;
}

}  // namespace

size_t listField(const char* text, char* buffer, size_t bufferSize, char delimiter, int n) {
    const char* start = nullptr;
    size_t length = 0;
    if (!findField(text, delimiter, n, start, length)) {
        return 0;
    }
    if (buffer != nullptr && bufferSize > 0) {
        size_t copy = length < bufferSize - 1 ? length : bufferSize - 1;
        std::memcpy(buffer, start, copy);
        buffer[copy] = '\0';
    }
    return length + 1;
}

size_t listField(const char* text, std::string& field, char delimiter, int n) {
    const char* start = nullptr;
    size_t length = 0;
    field.clear();
    if (!findField(text, delimiter, n, start, length)) {
        return 0;
    }
    field.assign(start, length);
    return length + 1;
}

double parseReal(const char* text, int& error) {
    errno = 0;
    double v = text != nullptr ? std::strtod(text, nullptr) : 0.0;
    error = errno;
    return v;
}

int64_t parseInteger(const char* text, int& error) {
    errno = 0;
    long long v = text != nullptr ? std::strtoll(text, nullptr, 0) : 0;
    error = errno;
    return static_cast<int64_t>(v);
}

std::string format(const char* fmt, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    if (n < 0) {
        return {};
    }
    if (static_cast<size_t>(n) < sizeof buffer) {
        return std::string(buffer, static_cast<size_t>(n));
    }
    // Cut: drop a UTF-8 sequence the cut left incomplete, so the text stays valid.
    size_t len = sizeof buffer - 1;
    size_t start = len;
    while (start > 0 && (static_cast<uint8_t>(buffer[start - 1]) & 0xC0) == 0x80 &&
           len - start < 5) {
        --start;
    }
    if (start > 0) {
        auto lead = static_cast<uint8_t>(buffer[start - 1]);
        int need = lead >= 0xC0 ? utf8SequenceLength(lead) : 0;
        if (need > 0 && len - (start - 1) < static_cast<size_t>(need)) {
            len = start - 1;
        }
    }
    return std::string(buffer, len);
}

}  // namespace vaxo2::io
