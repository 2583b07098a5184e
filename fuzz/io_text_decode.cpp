// Text decoding, UTF-8/UTF-16 conversion and the UTF-8 helpers on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "io/string_utils.h"
#include "io/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::io;
    std::string out;
    for (int kind = 0; kind <= 4; ++kind) {
        decodeTextFile(data, size, kind, out);
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    std::u16string wide = toUtf16(text);
    // Conversion to UTF-16 and back gives valid UTF-8 that converts back unchanged.
    std::string back = toUtf8(std::u16string_view(wide));
    if (toUtf8(std::u16string_view(toUtf16(back))) != back) {
        std::abort();
    }
    utf8CharacterCount(text.c_str());
    std::string field;
    listField(text.c_str(), field, ',', static_cast<int>(size % 5));
    if (size >= 4) {
        uint32_t cp = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
        std::string enc = codePointToUtf8(cp);
        if (!enc.empty() &&
            utf8SequenceLength(static_cast<uint8_t>(enc[0])) != static_cast<int>(enc.size())) {
            std::abort();
        }
    }
    return 0;
}
