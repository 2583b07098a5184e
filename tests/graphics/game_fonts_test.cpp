// Faces for the font table: a game's own font files (in a pack or loose, matched by any family
// name they carry, the Japanese ones included) win over the installed faces; a file FreeType
// rejects is passed over; an installed face always has Japanese.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "graphics/game_fonts.h"
#include "io/pack_writer.h"
#include "io/resource_loader.h"

namespace vaxo2::graphics {
namespace {

constexpr const char* kInstalledJapanese = "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf";

int coverage(GlyphFace& face, uint32_t codePoint) {
    std::vector<uint8_t> canvas(64 * 64, 0);
    face.render(codePoint, 48, 0, canvas.data(), 64, 64);
    int covered = 0;
    for (uint8_t c : canvas) covered += c > 128;
    return covered;
}

TEST(GameFonts, OwnFontFilesWinAndBrokenOnesFallBackToTheSystem) {
    if (!std::filesystem::exists(kInstalledJapanese)) GTEST_SKIP() << "no Japanese face installed";
    const std::string dir = std::string(VAXO2_BINARY_DIR) + "/game_fonts_" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/Fonts");
    // The installed Japanese face, carried by the game in its pack; a broken font loose.
    std::string error;
    ASSERT_TRUE(io::writePackFile(dir + "/data01.vxc",
                                  {io::PackItem{"fonts\\game.ttf", kInstalledJapanese, {}},
                                   io::PackItem{"readme.txt", "", {'x'}}},
                                  error))
        << error;
    std::ofstream(dir + "/Fonts/broken.otf") << "not a font at all";
    io::ResourceLoader::instance().setGameFolder(dir);

    GameFonts fonts(dir);
    const std::shared_ptr<GlyphFace> english = fonts.resolve("IPAexGothic");
    const std::shared_ptr<GlyphFace> japanese = fonts.resolve("IPAexゴシック");
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(english, japanese);  // one file, found by both of its family names
    const std::vector<std::string> families = fonts.gameFamilies();
    EXPECT_EQ(families.size(), 2u);
    // A name the game does not carry goes to the installed faces, with Japanese coverage
    // whatever the name says.
    const std::shared_ptr<GlyphFace> system = fonts.resolve("メイリオ");
    ASSERT_NE(system, nullptr);
    EXPECT_NE(system, english);
    EXPECT_EQ(system, fonts.resolve("ＭＳ ゴシック"));
    EXPECT_GT(coverage(*system, 0x3042), 100);
    EXPECT_GT(coverage(*system, 0x6F22), 100);
    const platform::FaceMetrics m = system->metrics(30, 0);
    EXPECT_GE(m.ascent + m.descent, 30);
    EXPECT_EQ(system->advance(0x3042, 30, 0), 30);
    // A wider em stretches the advance.
    EXPECT_EQ(system->advance(0x3042, 30, 60), 60);

    io::ResourceLoader::instance().setGameFolder(".");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vaxo2::graphics
