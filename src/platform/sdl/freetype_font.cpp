// Font faces on FreeType, installed faces through fontconfig.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H
#include FT_TRUETYPE_TABLES_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

#include "platform/font.h"

namespace vaxo2::platform {

namespace {

// Larger ems than this are not rendered (a corrupt setting must not allocate gigabytes).
constexpr int32_t kMaxEm = 2048;

int32_t clampEm(int32_t em) {
    return std::clamp(em, 1, kMaxEm);
}

// UTF-16 big-endian name-table bytes to UTF-8.
std::string utf16BeToUtf8(const FT_Byte* bytes, FT_UInt length) {
    std::string out;
    for (FT_UInt i = 0; i + 1 < length; i += 2) {
        uint32_t unit = (uint32_t{bytes[i]} << 8) | bytes[i + 1];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < length) {
            const uint32_t low = (uint32_t{bytes[i + 2]} << 8) | bytes[i + 3];
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (unit >> 18));
            out += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

// One FT_Library per face: faces are few, and nothing is shared between threads then.
struct LibraryHandle {
    FT_Library library = nullptr;
    ~LibraryHandle() {
        if (library) FT_Done_FreeType(library);
    }
};

// A font file read with pread as FreeType asks, rather than mapped: a large CJK face touched at
// a few hundred glyphs maps megabytes of pages (the system maps whole neighbourhoods around
// each touch) where the tables and glyphs read amount to a fraction of that.
struct FileStream {
    int fd = -1;
    FT_StreamRec stream{};
    ~FileStream() {
        if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& path) {
        // Non-blocking: a FIFO named like a font must not hang the open; reads of a regular
        // file are unaffected.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
        stream.size = static_cast<unsigned long>(st.st_size);
        stream.descriptor.pointer = this;
        stream.read = &FileStream::read;
        stream.close = nullptr;  // the face's owner closes the file
        return true;
    }

    // FreeType's contract: with count 0 only seek, answering 0 for success; otherwise the
    // number of bytes read.
    static unsigned long read(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                              unsigned long count) {
        auto* self = static_cast<FileStream*>(stream->descriptor.pointer);
        if (count == 0) return offset <= stream->size ? 0 : 1;
        if (offset >= stream->size) return 0;
        count = std::min(count, stream->size - offset);
        unsigned long done = 0;
        while (done < count) {
            const ssize_t got =
                ::pread(self->fd, buffer + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<unsigned long>(got);
        }
        return done;
    }
};

}  // namespace

struct FontFace::Impl {
    LibraryHandle library;
    // Declared before the face: the face reads through it until it is released.
    FileStream file;
    FT_Face face = nullptr;
    std::vector<uint8_t> bytes;  // memory faces read from here for their whole life
    std::mutex mutex;
    // One FreeType size object per (height, width) in use, so alternating between the layout's
    // size and the oversampled rendering size does not rescale the face each time.
    std::map<std::pair<int32_t, int32_t>, FT_Size> sizes;

    ~Impl() {
        if (face) FT_Done_Face(face);  // releases its size objects too
    }

    bool activate(int32_t emHeight, int32_t emWidth) {
        emHeight = clampEm(emHeight);
        emWidth = emWidth <= 0 ? emHeight : clampEm(emWidth);
        const auto key = std::make_pair(emHeight, emWidth);
        auto it = sizes.find(key);
        if (it == sizes.end()) {
            FT_Size size = nullptr;
            if (FT_New_Size(face, &size) != 0) return false;
            FT_Activate_Size(size);
            if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(emWidth),
                                   static_cast<FT_UInt>(emHeight)) != 0) {
                FT_Done_Size(size);
                return false;
            }
            it = sizes.emplace(key, size).first;
        }
        return FT_Activate_Size(it->second) == 0;
    }

    bool loadGlyph(uint32_t codePoint, FT_Int32 flags) {
        const FT_UInt index = FT_Get_Char_Index(face, codePoint);
        return FT_Load_Glyph(face, index, flags) == 0;
    }
};

FontFace::FontFace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FontFace::~FontFace() = default;

std::unique_ptr<FontFace> FontFace::open(const std::string& path, int32_t index,
                                         std::string& error) {
    auto impl = std::make_unique<Impl>();
    if (FT_Init_FreeType(&impl->library.library) != 0) {
        error = "FreeType cannot start";
        return nullptr;
    }
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &impl->file.stream;
    if (!impl->file.open(path) ||
        FT_Open_Face(impl->library.library, &args, index, &impl->face) != 0) {
        impl->face = nullptr;
        error = "FreeType does not read " + path;
        return nullptr;
    }
    if (!FT_IS_SCALABLE(impl->face)) {
        error = path + " is not a scalable font";
        return nullptr;
    }
    return std::unique_ptr<FontFace>(new FontFace(std::move(impl)));
}

std::unique_ptr<FontFace> FontFace::fromMemory(std::vector<uint8_t> bytes, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->bytes = std::move(bytes);
    if (FT_Init_FreeType(&impl->library.library) != 0) {
        error = "FreeType cannot start";
        return nullptr;
    }
    if (impl->bytes.empty() ||
        FT_New_Memory_Face(impl->library.library, impl->bytes.data(),
                           static_cast<FT_Long>(impl->bytes.size()), 0, &impl->face) != 0) {
        impl->face = nullptr;
        error = "not a font FreeType reads";
        return nullptr;
    }
    if (!FT_IS_SCALABLE(impl->face)) {
        error = "not a scalable font";
        return nullptr;
    }
    return std::unique_ptr<FontFace>(new FontFace(std::move(impl)));
}

std::vector<std::string> FontFace::familyNames() const {
    std::lock_guard lock(impl_->mutex);
    std::vector<std::string> names;
    auto add = [&names](std::string name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    };
    if (impl_->face->family_name) add(impl_->face->family_name);
    const FT_UInt count = FT_Get_Sfnt_Name_Count(impl_->face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName name;
        if (FT_Get_Sfnt_Name(impl_->face, i, &name) != 0) continue;
        if (name.name_id != TT_NAME_ID_FONT_FAMILY && name.name_id != TT_NAME_ID_TYPOGRAPHIC_FAMILY)
            continue;
        const bool unicode = name.platform_id == TT_PLATFORM_MICROSOFT ||
                             name.platform_id == TT_PLATFORM_APPLE_UNICODE;
        if (unicode) {
            add(utf16BeToUtf8(name.string, name.string_len));
        } else if (name.platform_id == TT_PLATFORM_MACINTOSH &&
                   name.encoding_id == TT_MAC_ID_ROMAN) {
            std::string ascii;
            for (FT_UInt b = 0; b < name.string_len; ++b) {
                if (name.string[b] < 0x80) ascii += static_cast<char>(name.string[b]);
            }
            add(ascii);
        }
    }
    return names;
}

bool FontFace::covers(uint32_t codePoint) const {
    std::lock_guard lock(impl_->mutex);
    return FT_Get_Char_Index(impl_->face, codePoint) != 0;
}

FaceMetrics FontFace::metrics(int32_t emHeight, int32_t emWidth) {
    std::lock_guard lock(impl_->mutex);
    FaceMetrics m;
    if (!impl_->activate(emHeight, emWidth)) return m;
    FT_Face face = impl_->face;
    const int32_t em = clampEm(emHeight);
    // Windows sizes a cell by the OS/2 table's win ascent and descent; use them when present.
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFF && face->units_per_EM > 0 &&
        (os2->usWinAscent != 0 || os2->usWinDescent != 0)) {
        const int64_t units = face->units_per_EM;
        m.ascent = static_cast<int32_t>((int64_t{os2->usWinAscent} * em + units - 1) / units);
        m.descent = static_cast<int32_t>((int64_t{os2->usWinDescent} * em + units - 1) / units);
        return m;
    }
    const FT_Size_Metrics& s = face->size->metrics;
    m.ascent = static_cast<int32_t>((s.ascender + 63) >> 6);
    m.descent = static_cast<int32_t>((-s.descender + 63) >> 6);
    return m;
}

int32_t FontFace::advance(uint32_t codePoint, int32_t emHeight, int32_t emWidth) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->activate(emHeight, emWidth)) return 0;
    if (!impl_->loadGlyph(codePoint, FT_LOAD_DEFAULT)) return 0;
    return static_cast<int32_t>((impl_->face->glyph->advance.x + 32) >> 6);
}

void FontFace::render(uint32_t codePoint, int32_t emHeight, int32_t emWidth, uint8_t* canvas,
                      int32_t width, int32_t height) {
    if (canvas == nullptr || width <= 0 || height <= 0) return;
    const FaceMetrics cell = metrics(emHeight, emWidth);
    std::lock_guard lock(impl_->mutex);
    if (!impl_->activate(emHeight, emWidth)) return;
    if (!impl_->loadGlyph(codePoint, FT_LOAD_DEFAULT)) return;
    FT_GlyphSlot slot = impl_->face->glyph;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return;
    const FT_Bitmap& bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.buffer == nullptr) return;
    const int32_t left = slot->bitmap_left;
    const int32_t top = cell.ascent - slot->bitmap_top;
    for (int32_t row = 0; row < static_cast<int32_t>(bitmap.rows); ++row) {
        const int32_t y = top + row;
        if (y < 0 || y >= height) continue;
        const uint8_t* from = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        uint8_t* to = canvas + static_cast<size_t>(y) * width;
        for (int32_t column = 0; column < static_cast<int32_t>(bitmap.width); ++column) {
            const int32_t x = left + column;
            if (x < 0 || x >= width) continue;
            to[x] = std::max(to[x], from[column]);
        }
    }
}

bool matchJapaneseFont(const std::string& family, SystemFontMatch& out) {
    static std::mutex fontconfigMutex;
    std::lock_guard lock(fontconfigMutex);
    if (!FcInit()) return false;
    // A face that has these has Japanese: hiragana A and the kanji of "kanji".
    constexpr FcChar32 kKana = 0x3042;
    constexpr FcChar32 kKanji = 0x6F22;
    auto tryMatch = [&out](const std::string& name) {
        FcPattern* pattern = FcPatternCreate();
        if (pattern == nullptr) return false;
        if (!name.empty()) {
            FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
        }
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &result);
        FcPatternDestroy(pattern);
        if (match == nullptr) return false;
        bool ok = false;
        FcCharSet* charset = nullptr;
        FcChar8* file = nullptr;
        if (FcPatternGetCharSet(match, FC_CHARSET, 0, &charset) == FcResultMatch &&
            FcCharSetHasChar(charset, kKana) && FcCharSetHasChar(charset, kKanji) &&
            FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            out.file = reinterpret_cast<const char*>(file);
            int index = 0;
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            out.index = index;
            FcChar8* matched = nullptr;
            out.family = FcPatternGetString(match, FC_FAMILY, 0, &matched) == FcResultMatch
                             ? reinterpret_cast<const char*>(matched)
                             : std::string();
            ok = true;
        }
        FcPatternDestroy(match);
        return ok;
    };
    return tryMatch(family) || tryMatch("sans-serif") || tryMatch(std::string());
}

}  // namespace vaxo2::platform
