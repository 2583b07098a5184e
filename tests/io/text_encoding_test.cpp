#include "io/text_encoding.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace vaxo2::io {
namespace {

std::vector<uint8_t> raw(std::initializer_list<int> bytes) {
    std::vector<uint8_t> v;
    for (int b : bytes) {
        v.push_back(static_cast<uint8_t>(b));
    }
    return v;
}

bool decode(const std::vector<uint8_t>& bytes, int kind, std::string& out) {
    return decodeTextFile(bytes.data(), bytes.size(), kind, out);
}

TEST(ByteOrderMarks, KindAndLengthFollowTheirSizeRules) {
    auto le = raw({0xFF, 0xFE, 'A'});
    auto be = raw({0xFE, 0xFF, 0});
    auto u8 = raw({0xEF, 0xBB, 0xBF, 'x'});
    auto u8short = raw({0xEF, 0xBB, 0xBF});
    EXPECT_EQ(encodingKind(le.data(), 3), kEncodingUtf16Le);
    EXPECT_EQ(encodingKind(le.data(), 2), kEncodingNone);  // needs more than 2 bytes
    EXPECT_EQ(encodingKind(be.data(), 3), kEncodingUtf16Be);
    EXPECT_EQ(encodingKind(u8.data(), 4), kEncodingUtf8);
    EXPECT_EQ(encodingKind(u8short.data(), 3), kEncodingNone);  // kind needs 4 bytes
    EXPECT_EQ(byteOrderMarkLength(u8short.data(), 3), 3u);      // length needs only 3
    EXPECT_EQ(byteOrderMarkLength(le.data(), 3), 2u);
    EXPECT_EQ(byteOrderMarkLength(le.data(), 2), 0u);
    EXPECT_EQ(encodingKind(nullptr, 10), kEncodingNone);
}

TEST(DecodeTextFile, Utf16LittleEndianStartsAfterTheMark) {
    // Mark, "A", U+3042, U+1F600 as a surrogate pair.
    auto bytes = raw({0xFF, 0xFE, 'A', 0, 0x42, 0x30, 0x3D, 0xD8, 0x00, 0xDE});
    std::string out;
    ASSERT_TRUE(decode(bytes, kEncodingAnsi, out));
    EXPECT_EQ(out, "A\xE3\x81\x82\xF0\x9F\x98\x80");
}

TEST(DecodeTextFile, Utf16WithOddTrailingByteAndLoneSurrogate) {
    auto bytes = raw({0xFF, 0xFE, 0x00, 0xD8, 'B', 0, 'C'});
    std::string out;
    ASSERT_TRUE(decode(bytes, kEncodingAnsi, out));
    EXPECT_EQ(out,
              "\xEF\xBF\xBD"
              "B");
}

TEST(DecodeTextFile, Utf16BigEndianIsRefused) {
    auto bytes = raw({0xFE, 0xFF, 0, 'A', 0, 'B'});
    std::string out = "stale";
    EXPECT_FALSE(decode(bytes, kEncodingAnsi, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(decode(raw({'a', 'b', 'c'}), kEncodingUtf16Be, out));
}

TEST(DecodeTextFile, Utf8KeepsMarkAndStopsAtZero) {
    std::string out;
    ASSERT_TRUE(decode(raw({0xEF, 0xBB, 0xBF, 'h', 'i', 0, 'x'}), kEncodingAnsi, out));
    EXPECT_EQ(out, "\xEF\xBB\xBFhi");
}

TEST(DecodeTextFile, NoMarkUsesTheDefaultKind) {
    // "あ" in CP932 (82 A0) and "い" in UTF-8.
    std::string out;
    ASSERT_TRUE(decode(raw({0x82, 0xA0, 'x'}), kEncodingAnsi, out));
    EXPECT_EQ(out, "\xE3\x81\x82x");
    ASSERT_TRUE(decode(raw({0xE3, 0x81, 0x84}), kEncodingUtf8, out));
    EXPECT_EQ(out, "\xE3\x81\x84");
    ASSERT_TRUE(decode(raw({'a', 0, 'b', 0}), kEncodingUtf16Le, out));
    EXPECT_EQ(out, "ab");
    EXPECT_FALSE(decode(raw({'a', 'b'}), kEncodingNone, out));
}

TEST(DecodeTextFile, EmptyResultsFail) {
    std::string out;
    EXPECT_FALSE(decode(raw({0xFF, 0xFE, 0x7F}), kEncodingAnsi, out));  // only the mark
    EXPECT_FALSE(decode({}, kEncodingAnsi, out));
}

TEST(AnsiCodePage, SettingChangesTheConversionAndBadBytesAreReplaced) {
    EXPECT_EQ(platform::ansiCodePage(), "CP932");
    EXPECT_EQ(ansiToUtf8("\x82\xA0"), "\xE3\x81\x82");
    EXPECT_EQ(utf8ToAnsi("\xE3\x81\x82z"), "\x82\xA0z");
    // A lead byte cut off at the end becomes U+FFFD rather than being dropped silently.
    EXPECT_EQ(ansiToUtf8("a\x82"), "a\xEF\xBF\xBD");
    platform::setAnsiCodePage("CP1252");
    EXPECT_EQ(ansiToUtf8("\xE9"), "\xC3\xA9");
    EXPECT_EQ(utf8ToAnsi("\xE3\x81\x82"), "?");  // not in the code page
    platform::setAnsiCodePage("NO-SUCH-CHARSET");
    EXPECT_EQ(ansiToUtf8("abc"), "");
    EXPECT_FALSE(platform::isCharsetSupported("NO-SUCH-CHARSET"));
    platform::setAnsiCodePage("CP932");
}

TEST(CodePageBuffer, SkipsMarkAndNamesCodePagesByNumber) {
    std::u16string out;
    auto utf8 = raw({0xEF, 0xBB, 0xBF, 'o', 'k'});
    ASSERT_TRUE(codePageBufferToUtf16(utf8.data(), utf8.size(), kCodePageUtf8, out));
    EXPECT_EQ(out, u"ok");
    auto sjis = raw({0x82, 0xA2});
    ASSERT_TRUE(codePageBufferToUtf16(sjis.data(), sjis.size(), 932, out));
    EXPECT_EQ(out, u"\u3044");
    EXPECT_FALSE(codePageBufferToUtf16(sjis.data(), sjis.size(), 12345, out));
}

TEST(Utf16Conversions, RoundTripAndReplaceMalformedInput) {
    std::string text = "A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80";
    EXPECT_EQ(toUtf16(text), u"A\u00E9\u3042\U0001F600");
    EXPECT_EQ(toUtf8(toUtf16(text)), text);
    // Overlong, surrogate, truncated and stray continuation bytes each become U+FFFD.
    EXPECT_EQ(toUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toUtf16("\xED\xA0\x80"), u"\uFFFD");
    EXPECT_EQ(toUtf16("x\xE3\x81"), u"x\uFFFD");
    EXPECT_EQ(toUtf16("\x80y"), u"\uFFFDy");
    EXPECT_EQ(toUtf8(u"a\0b"), "a");  // the pointer form stops at the zero unit
    std::u16string withMark = u"\uFEFFhi";
    std::string out;
    ASSERT_TRUE(utf16BufferToUtf8(withMark.data(), withMark.size(), out));
    EXPECT_EQ(out, "hi");
    EXPECT_FALSE(utf16BufferToUtf8(withMark.data(), 1, out));
}

TEST(CodePointToUtf8, EarlyThirtyOneBitForm) {
    EXPECT_EQ(codePointToUtf8(0x41), "A");
    EXPECT_EQ(codePointToUtf8(0x7FF), "\xDF\xBF");
    EXPECT_EQ(codePointToUtf8(0x800), "\xE0\xA0\x80");
    EXPECT_EQ(codePointToUtf8(0x10FFFF), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(codePointToUtf8(0x1FFFFF), "\xF7\xBF\xBF\xBF");
    EXPECT_EQ(codePointToUtf8(0x200000), "\xF8\x88\x80\x80\x80");
    EXPECT_EQ(codePointToUtf8(0x4000000), "\xFC\x84\x80\x80\x80\x80");
    EXPECT_EQ(codePointToUtf8(0x7FFFFFFE), "\xFD\xBF\xBF\xBF\xBF\xBE");
    EXPECT_EQ(codePointToUtf8(0x7FFFFFFF), "");
    EXPECT_EQ(codePointToUtf8(0xFFFFFFFF), "");
    std::string zero = codePointToUtf8(0);
    EXPECT_EQ(zero.size(), 1u);
}

TEST(Utf8Stepping, LengthsByLeadByteAndCharacterCount) {
    const int expected[][2] = {{0x00, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2},
                               {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF7, 4}, {0xF8, 5}, {0xFB, 5},
                               {0xFC, 6}, {0xFD, 6}, {0xFE, 0}, {0xFF, 0}};
    for (const auto& e : expected) {
        EXPECT_EQ(utf8SequenceLength(static_cast<uint8_t>(e[0])), e[1]) << e[0];
    }
    EXPECT_EQ(utf8CharacterCount("a\xE3\x81\x82"
                                 "b"),
              3u);
    EXPECT_EQ(utf8CharacterCount(""), 0u);
    EXPECT_EQ(utf8CharacterCount(nullptr), 0u);
    // Bytes that cannot start a sequence count one each; a cut sequence does not step past
    // the terminator.
    EXPECT_EQ(utf8CharacterCount("\x80\xFFz"), 3u);
    EXPECT_EQ(utf8CharacterCount("ab\xFC"), 3u);
}

}  // namespace
}  // namespace vaxo2::io
