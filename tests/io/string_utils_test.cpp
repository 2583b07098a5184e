#include "io/string_utils.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vaxo2::io {
namespace {

TEST(ListField, FieldsOfAListWithAnEmptyOne) {
    const char* text = "a,b,,d";
    char buf[16];
    EXPECT_EQ(listField(text, buf, sizeof buf, ',', 0), 2u);
    EXPECT_STREQ(buf, "a");
    EXPECT_EQ(listField(text, buf, sizeof buf, ',', 2), 1u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(listField(text, buf, sizeof buf, ',', 3), 2u);
    EXPECT_STREQ(buf, "d");
    EXPECT_EQ(listField(text, buf, sizeof buf, ',', 4), 0u);
    EXPECT_EQ(listField(text, nullptr, 0, ',', 1), 2u);
    EXPECT_EQ(listField(nullptr, buf, sizeof buf, ',', 0), 0u);
    EXPECT_EQ(listField("a,b,", buf, sizeof buf, ',', 2), 0u);  // nothing after the last comma
    EXPECT_EQ(listField("", buf, sizeof buf, ',', 0), 0u);
}

TEST(ListField, CopyIsCutToTheBufferButLengthIsWhole) {
    char buf[4];
    EXPECT_EQ(listField("x,longfield", buf, sizeof buf, ',', 1), 10u);
    EXPECT_STREQ(buf, "lon");
    std::string field;
    EXPECT_EQ(listField("1f,\xE3\x81\x82", field, ',', 1), 4u);
    EXPECT_EQ(field, "\xE3\x81\x82");
    EXPECT_EQ(listField("1f,x", field, ',', -1), 0u);
}

TEST(EndsWithIgnoreCase, AsciiLettersOnly) {
    EXPECT_TRUE(endsWithIgnoreCase("movie.MPG", ".mpg"));
    EXPECT_TRUE(endsWithIgnoreCase("x", ""));
    EXPECT_FALSE(endsWithIgnoreCase("mpg", "a.mpg"));
    EXPECT_FALSE(endsWithIgnoreCase("movie.avi", ".mpg"));
    EXPECT_FALSE(endsWithIgnoreCase("\xC3\x89", "\xC3\xA9"));
}

TEST(CompareIgnoreCase, OrdersLikeLowercaseBytes) {
    EXPECT_EQ(compareIgnoreCase("ABC", "abc"), 0);
    EXPECT_LT(compareIgnoreCase("abc", "ABD"), 0);
    EXPECT_LT(compareIgnoreCase("ab", "abc"), 0);
    // Letters compare lowered: '[' (0x5B) comes before 'a' (0x61), though after 'A' (0x41).
    EXPECT_LT(compareIgnoreCase("[", "A"), 0);
    EXPECT_GT(compareIgnoreCase("a", "\xC3"), -0x100);
    EXPECT_LT(compareIgnoreCase("a", "\xC3"), 0);  // bytes compare unsigned
}

TEST(ParseNumbers, BaseDetectionAndErrno) {
    int error = -1;
    EXPECT_EQ(parseInteger("42", error), 42);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(parseInteger("0x1F", error), 31);
    EXPECT_EQ(parseInteger("010", error), 8);
    EXPECT_EQ(parseInteger("-7junk", error), -7);
    EXPECT_EQ(parseInteger("99999999999999999999", error), INT64_MAX);
    EXPECT_EQ(error, ERANGE);
    EXPECT_EQ(parseInteger("12", error), 12);
    EXPECT_EQ(error, 0);  // cleared before each parse
    EXPECT_DOUBLE_EQ(parseReal("2.5", error), 2.5);
    EXPECT_EQ(error, 0);
    parseReal("1e999", error);
    EXPECT_EQ(error, ERANGE);
}

TEST(Format, WritesUpTo1023Bytes) {
    EXPECT_EQ(format("save%4.4d.dat", 7), "save0007.dat");
    std::string longText(2000, 'q');
    std::string out = format("%s", longText.c_str());
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(out, longText.substr(0, 1023));
    // A three-byte character across the cut is dropped whole, one that fits is kept.
    std::string kana;
    for (int i = 0; i < 400; ++i) {
        kana += "\xE3\x81\x82";
    }
    out = format("%s", kana.c_str());
    EXPECT_EQ(out.size(), 1023u);  // 341 whole characters
    out = format("x%s", kana.c_str());
    EXPECT_EQ(out.size(), 1021u);  // "x" and 340 characters; the 341st would be cut
    EXPECT_EQ(out.substr(out.size() - 3), "\xE3\x81\x82");
}

}  // namespace
}  // namespace vaxo2::io
