#include "io/data_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "io_test_support.h"
#include "platform/system.h"

namespace vaxo2::io {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(DataFileOpen, SecondOpenFailsAndKeepsFirstFile) {
    TempDir dir;
    writeFile(dir.file("a.bin"), "first");
    writeFile(dir.file("b.bin"), "second file");
    DataFile f;
    ASSERT_TRUE(f.openForReading(dir.file("a.bin"), false));
    EXPECT_FALSE(f.openForReading(dir.file("b.bin"), false));
    EXPECT_FALSE(f.openForWriting(dir.file("b.bin"), false, false));
    EXPECT_EQ(f.size(), 5u);
    char buf[8] = {};
    EXPECT_EQ(f.read(buf, 8), 5u);
    EXPECT_STREQ(buf, "first");
}

TEST(DataFileOpen, SizeLimitRefusesLargerFile) {
    TempDir dir;
    writeFile(dir.file("big.bin"), std::string(100, 'x'));
    DataFile f;
    f.setSizeLimit(99);
    EXPECT_FALSE(f.openForReading(dir.file("big.bin"), false));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.lastError(), ENOMEM);
    f.setSizeLimit(100);
    EXPECT_TRUE(f.openForReading(dir.file("big.bin"), false));
}

TEST(DataFileOpen, FolderIsNotAFile) {
    TempDir dir;
    DataFile f;
    EXPECT_FALSE(f.openForReading(dir.path(), false));
    EXPECT_EQ(f.lastError(), EISDIR);
}

TEST(DataFileWrite, TruncatesOrAppendsAtPositionZero) {
    TempDir dir;
    std::string path = dir.file("w.bin");
    writeFile(path, "0123456789");
    {
        DataFile f;
        ASSERT_TRUE(f.openForWriting(path, false, true));
        EXPECT_EQ(f.position(), 0u);
        EXPECT_EQ(f.size(), 10u);
        EXPECT_EQ(f.seek(0, DataFile::kEnd), 10u);
        EXPECT_EQ(f.write("ab", 2), 2u);
    }
    EXPECT_EQ(testing::readFile(path), testing::bytesOf("0123456789ab"));
    {
        DataFile f;
        ASSERT_TRUE(f.openForWriting(path, false, false));
        EXPECT_EQ(f.size(), 0u);
        EXPECT_EQ(f.write("xyz", 3), 3u);
    }
    EXPECT_EQ(testing::readFile(path), testing::bytesOf("xyz"));
}

TEST(DataFileWrite, LimitCountsFileSizeNotPosition) {
    TempDir dir;
    std::string path = dir.file("w.bin");
    writeFile(path, "12345");
    DataFile f;
    f.setSizeLimit(8);
    ASSERT_TRUE(f.openForWriting(path, false, true));
    // Position 0, but the file already holds 5 bytes: 5 + 4 > 8.
    EXPECT_EQ(f.write("abcd", 4), 0u);
    EXPECT_EQ(f.lastError(), ENOMEM);
    EXPECT_EQ(f.size(), 5u);
    EXPECT_EQ(f.write("abc", 3), 3u);
    EXPECT_EQ(f.size(), 5u);  // overwrote from position 0
    EXPECT_EQ(f.write("abcd", 4), 0u);
}

TEST(DataFileClosed, OperationsReturnZero) {
    DataFile f;
    char buf[4];
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.position(), 0u);
    EXPECT_EQ(f.seek(5, DataFile::kBegin), 0u);
    EXPECT_EQ(f.read(buf, 4), 0u);
    EXPECT_EQ(f.write(buf, 4), 0u);
}

TEST(DataFileSeek, SixtyFourBitPositionsAndFailures) {
    TempDir dir;
    DataFile f;
    ASSERT_TRUE(f.openForWriting(dir.file("s.bin"), false, false));
    const int64_t far = int64_t{5} << 32;  // beyond 32 bits: sparse, no space used
    EXPECT_EQ(f.seek(far, DataFile::kBegin), static_cast<uint64_t>(far));
    EXPECT_EQ(f.write("z", 1), 1u);
    EXPECT_EQ(f.size(), static_cast<uint64_t>(far) + 1);
    EXPECT_EQ(f.seek(-1, DataFile::kCurrent), static_cast<uint64_t>(far));
    // A position before the start is a failing system call.
    EXPECT_EQ(f.seek(-10, DataFile::kBegin), DataFile::kError);
    EXPECT_EQ(f.lastError(), EINVAL);
    EXPECT_EQ(f.seek(0, 7), DataFile::kError);
}

int gDialogCalls = 0;
std::string gDialogText;
std::string gDialogCaption;
uint32_t gDialogStyle = 0;
std::string gCreateOnRetry;

int recordingDialog(const std::string& text, const std::string& caption, uint32_t style) {
    ++gDialogCalls;
    gDialogText = text;
    gDialogCaption = caption;
    gDialogStyle = style;
    if (!gCreateOnRetry.empty()) {
        writeFile(gCreateOnRetry, "now here");
        return platform::mb::kIdRetry;
    }
    return platform::mb::kIdCancel;
}

class DataFileDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        gDialogCalls = 0;
        gCreateOnRetry.clear();
        setFileErrorDialog(&recordingDialog);
    }
    void TearDown() override { setFileErrorDialog(nullptr); }
    TempDir dir;
};

TEST_F(DataFileDialog, CancelReturnsFalseWithTextAndCaption) {
    DataFile f;
    std::string missing = dir.file("missing.vxs");
    EXPECT_FALSE(f.openForReading(missing, true));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(gDialogCalls, 1);
    EXPECT_EQ(gDialogCaption, "ReadFile Access Error");
    EXPECT_EQ(gDialogStyle, 0x35u);
    EXPECT_EQ(gDialogText, "filename:" + missing +
                               "\nerrorcode:2\n\nerrorcomment:" + std::strerror(ENOENT) + "\n");
}

TEST_F(DataFileDialog, RetryAfterFileAppearsOpensIt) {
    DataFile f;
    gCreateOnRetry = dir.file("late.bin");
    EXPECT_TRUE(f.openForReading(gCreateOnRetry, true));
    EXPECT_EQ(gDialogCalls, 1);
    EXPECT_EQ(f.size(), 8u);
}

TEST_F(DataFileDialog, SilentOpenShowsNothing) {
    DataFile f;
    EXPECT_FALSE(f.openForReading(dir.file("missing"), false));
    EXPECT_FALSE(f.openForWriting(dir.file("no/such/folder/x"), false, false));
    EXPECT_EQ(gDialogCalls, 0);
}

TEST_F(DataFileDialog, WriteFailureUsesWriteCaption) {
    DataFile f;
    EXPECT_FALSE(f.openForWriting(dir.file("no/such/folder/x"), true, false));
    EXPECT_EQ(gDialogCalls, 1);
    EXPECT_EQ(gDialogCaption, "WriteFile Access Error");
}

TEST(DataFileErrorText, BoundedLikeTheDialogBuffer) {
    std::string text = DataFile::errorText(std::string(5000, 'n'), ENOENT);
    EXPECT_LT(text.size(), 1024u);
    EXPECT_EQ(text.rfind("filename:nnn", 0), 0u);
}

}  // namespace
}  // namespace vaxo2::io
