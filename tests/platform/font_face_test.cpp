#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/font.h"

namespace vaxo2::platform {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A face read from its file as needed must measure and draw exactly like the same bytes held
// in memory, and files that are no font (or not a regular file) are refused without a crash.
TEST(FontFace, FileFaceMatchesMemoryFaceAndBadFilesAreRefused) {
    SystemFontMatch match;
    if (!matchJapaneseFont("", match)) GTEST_SKIP() << "no Japanese face installed";
    std::string error;
    auto fromFile = FontFace::open(match.file, match.index, error);
    ASSERT_NE(fromFile, nullptr) << error;
    auto fromBytes = FontFace::fromMemory(readAll(match.file), error);
    ASSERT_NE(fromBytes, nullptr) << error;

    for (const uint32_t codePoint : {uint32_t{'A'}, uint32_t{0x3042}, uint32_t{0x6F22}}) {
        for (const int32_t em : {12, 48}) {
            SCOPED_TRACE(testing::Message() << "U+" << std::hex << codePoint << " em " << em);
            if (match.index != 0) break;  // memory faces are the collection's first
            EXPECT_TRUE(fromFile->covers(codePoint));
            EXPECT_EQ(fromFile->advance(codePoint, em, 0), fromBytes->advance(codePoint, em, 0));
            EXPECT_GT(fromFile->advance(codePoint, em, 0), 0);
            const FaceMetrics a = fromFile->metrics(em, 0);
            const FaceMetrics b = fromBytes->metrics(em, 0);
            EXPECT_EQ(a.ascent, b.ascent);
            EXPECT_EQ(a.descent, b.descent);
            std::vector<uint8_t> canvasA(64 * 64, 0), canvasB(64 * 64, 0);
            fromFile->render(codePoint, em, 0, canvasA.data(), 64, 64);
            fromBytes->render(codePoint, em, 0, canvasB.data(), 64, 64);
            EXPECT_EQ(canvasA, canvasB);
            EXPECT_NE(std::count(canvasA.begin(), canvasA.end(), 0), 64 * 64);
        }
    }

    const fs::path dir = fs::temp_directory_path() / "vaxo2-font-face-test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::vector<uint8_t> bytes = readAll(match.file);
    {
        std::ofstream(dir / "empty.ttf", std::ios::binary);
        std::ofstream cut(dir / "cut.ttf", std::ios::binary);
        cut.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(std::min<size_t>(bytes.size(), 4096)));
    }
    ASSERT_EQ(::mkfifo((dir / "fifo.ttf").c_str(), 0600), 0);
    for (const char* name : {"empty.ttf", "fifo.ttf", "missing.ttf", "."}) {
        error.clear();
        EXPECT_EQ(FontFace::open((dir / name).string(), 0, error), nullptr) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
    // A face cut short may open from its header; drawing from it must stay within the file.
    if (auto cut = FontFace::open((dir / "cut.ttf").string(), 0, error)) {
        std::vector<uint8_t> canvas(32 * 32, 0);
        cut->render(0x3042, 24, 0, canvas.data(), 32, 32);
        cut->advance(0x3042, 24, 0);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vaxo2::platform
