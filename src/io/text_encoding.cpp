#include "io/text_encoding.h"

#include "platform/codepage.h"

namespace vaxo2::io {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

std::string utf16ToUtf8(const char16_t* units, size_t count) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        char16_t u = units[i];
        if (isHighSurrogate(u) && i + 1 < count && isLowSurrogate(units[i + 1])) {
            uint32_t cp = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) +
                          (static_cast<uint32_t>(units[i + 1]) - 0xDC00);
            appendUtf8(out, cp);
            ++i;
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
    return utf16ToUtf8(text.data(), text.size());
}

std::string toUtf8(const char16_t* text) {
    if (text == nullptr) {
        return {};
    }
    return toUtf8(std::u16string_view(text));
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        uint8_t b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        // Strict decoding of the modern form: 2-4 bytes, no overlongs, no surrogates, at most
        // U+10FFFF. Anything else yields one U+FFFD per maximal bad prefix.
        int len = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, min = 0x10000;
        }
        if (len == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        int k = 1;
        for (; k < len && i + k < n; ++k) {
            uint8_t c = p[i + k];
            if ((c & 0xC0) != 0x80) {
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(kReplacement);
            i += k;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

bool utf16BufferToUtf8(const char16_t* units, size_t count, std::string& out) {
    out.clear();
    if (units == nullptr) {
        return false;
    }
    if (count > 0 && units[0] == 0xFEFF) {
        ++units;
        --count;
    }
    out = utf16ToUtf8(units, count);
    return !out.empty();
}

bool codePageBufferToUtf16(const uint8_t* bytes, size_t count, uint32_t codePage,
                           std::u16string& out) {
    out.clear();
    if (bytes == nullptr) {
        return false;
    }
    size_t mark = byteOrderMarkLength(bytes, count);
    bytes += mark;
    count -= mark;
    if (codePage == kCodePageUtf8) {
        out = toUtf16(std::string_view(reinterpret_cast<const char*>(bytes), count));
    } else {
        std::string charset =
            codePage == kCodePageAnsi ? platform::ansiCodePage() : "CP" + std::to_string(codePage);
        if (!platform::charsetToUtf16(charset, bytes, count, out)) {
            out.clear();
        }
    }
    return !out.empty();
}

int encodingKind(const uint8_t* bytes, size_t count) {
    if (bytes == nullptr) {
        return kEncodingNone;
    }
    if (count > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        return kEncodingUtf16Le;
    }
    if (count > 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return kEncodingUtf16Be;
    }
    if (count >= 4 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return kEncodingUtf8;
    }
    return kEncodingNone;
}

size_t byteOrderMarkLength(const uint8_t* bytes, size_t count) {
    if (bytes == nullptr) {
        return 0;
    }
    if (count > 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        return 2;
    }
    if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return 3;
    }
    return 0;
}

bool decodeTextFile(const uint8_t* bytes, size_t count, int defaultKind, std::string& out) {
    out.clear();
    if (bytes == nullptr) {
        return false;
    }
    int kind = encodingKind(bytes, count);
    if (kind == kEncodingNone) {
        kind = defaultKind;
    }
    switch (kind) {
        case kEncodingAnsi: {
            std::u16string wide;
            if (!codePageBufferToUtf16(bytes, count, kCodePageAnsi, wide)) {
                return false;
            }
            return utf16BufferToUtf8(wide.data(), wide.size(), out);
        }
        case kEncodingUtf16Le: {
            // Units are assembled byte by byte: the buffer need not be aligned, and an odd
            // last byte is ignored.
            std::u16string units(count / 2, u'\0');
            for (size_t i = 0; i < units.size(); ++i) {
                units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            }
            return utf16BufferToUtf8(units.data(), units.size(), out);
        }
        case kEncodingUtf8: {
            size_t n = 0;
            while (n < count && bytes[n] != 0) {
                ++n;
            }
            out.assign(reinterpret_cast<const char*>(bytes), n);
            return true;
        }
        default:
            return false;
    }
}

std::string ansiToUtf8(std::string_view ansi) {
    std::u16string wide;
    if (!platform::charsetToUtf16(platform::ansiCodePage(),
                                  reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size(),
                                  wide)) {
        return {};
    }
    return toUtf8(std::u16string_view(wide));
}

std::string utf8ToAnsi(std::string_view utf8) {
    std::u16string wide = toUtf16(utf8);
    std::string out;
    if (!platform::utf16ToCharset(platform::ansiCodePage(), wide.data(), wide.size(), out)) {
        return {};
    }
    return out;
}

std::string codePointToUtf8(uint32_t cp) {
    std::string out;
    auto trail = [&](int shift) {
        out.push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
    };
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        trail(0);
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        trail(6), trail(0);
    } else if (cp < 0x200000) {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        trail(12), trail(6), trail(0);
    } else if (cp < 0x4000000) {
        out.push_back(static_cast<char>(0xF8 | (cp >> 24)));
        trail(18), trail(12), trail(6), trail(0);
    } else if (cp < 0x7FFFFFFF) {
        out.push_back(static_cast<char>(0xFC | (cp >> 30)));
        trail(24), trail(18), trail(12), trail(6), trail(0);
    }
    return out;
}

int utf8SequenceLength(uint8_t b) {
    if (b < 0x80) {
        return 1;
    }
    if (b < 0xC0) {
        return 0;
    }
    if (b < 0xE0) {
        return 2;
    }
    if (b < 0xF0) {
        return 3;
    }
    if (b < 0xF8) {
        return 4;
    }
    if (b < 0xFC) {
        return 5;
    }
    if (b < 0xFE) {
        return 6;
    }
    return 0;
}

size_t utf8CharacterCount(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    size_t count = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    while (*p != 0) {
        int len = utf8SequenceLength(*p);
        if (len == 0) {
            len = 1;
        }
        // Never step over the terminator, whatever the lead byte promised.
        int k = 1;
        while (k < len && p[k] != 0) {
            ++k;
        }
        p += k;
        ++count;
    }
    return count;
}

}  // namespace vaxo2::io
