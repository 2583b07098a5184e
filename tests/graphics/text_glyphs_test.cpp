// Fonts and glyph sources: the resolution cascade, the GDI-style measurement, sharing per
// (character, font), glyph pages, colours in the draw, character sets and the history side of
// GraphicTextOut.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "graphics/text_commands.h"
#include "graphics/tree_draw.h"
#include "text_test_support.h"

namespace vaxo2::graphics {
namespace {

using testing::RecordingBackend;
using testing::SquareFace;
using testing::SquareTextEngine;
using testing::testPicture;

TEST(FontTable, DefaultsResolveThroughTheCascade) {
    FontTable table;
    table.createDefaults();
    std::vector<std::string> asked;
    auto face = std::make_shared<SquareFace>();
    table.resolve([&](const std::string& name) {
        asked.push_back(name);
        return face;
    });
    // One resolution per distinct face name; font 10 inherits font 1's.
    EXPECT_EQ(asked, (std::vector<std::string>{"メイリオ", "ＭＳ ゴシック"}));
    const FontDefinition& f10 = *table.find(10);
    EXPECT_EQ(f10.resolved.faceName, "ＭＳ ゴシック");
    EXPECT_EQ(f10.logFont.lfHeight, -189);
    EXPECT_EQ(f10.logFont.lfWidth, 343);
    EXPECT_EQ(f10.textMetric.tmHeight, 189);
    EXPECT_EQ(table.find(0)->logFont.lfFaceName, u"メイリオ");
    EXPECT_EQ(table.find(0)->logFont.lfCharSet, 128);
    // Lookup of a missing number falls back to font 0.
    EXPECT_EQ(table.lookup(55), table.find(0));
    // A face name is cut to 31 UTF-16 units.
    EXPECT_EQ(faceNameField(std::string(40, 'x')).size(), 31u);

    // A definition without a size renders at the default height and gives the layout 0.
    FontSettings bare;
    bare.faceName = "x";
    table.define(20, bare);
    table.resolve([&](const std::string&) { return face; });
    EXPECT_EQ(table.find(20)->size(), 0);
}

TEST(GlyphMeasure, OversamplesAndCentresTheCellOnTheNominalSize) {
    FontTable table;
    table.createDefaults();
    auto face = std::make_shared<SquareFace>();
    table.resolve([&](const std::string&) { return face; });
    // 30 pixels, superSample: rendered at 120, texture 60 x 60, shown at 30 x 30.
    GlyphMetrics m = measureFontGlyph(*table.find(0), U'あ');
    EXPECT_EQ(m.emHeight, 120);
    EXPECT_EQ(m.q, 2);
    EXPECT_EQ(m.cx, 120);
    EXPECT_EQ(m.pixelWidth, 60);
    EXPECT_FLOAT_EQ(m.displayWidth, 30);
    EXPECT_FLOAT_EQ(m.displayHeight, 30);
    // Without superSample: 2x only.
    FontSettings plain;
    plain.size.set(30);
    plain.superSample.set(0);
    table.define(2, plain);
    table.resolve([&](const std::string&) { return face; });
    m = measureFontGlyph(*table.find(2), U'a');
    EXPECT_EQ(m.emHeight, 60);
    EXPECT_EQ(m.pixelWidth, 60);
    EXPECT_FLOAT_EQ(m.displayWidth, 30);
    // No face: nothing to measure, nothing crashes.
    table.resolve([](const std::string&) { return nullptr; });
    EXPECT_EQ(measureFontGlyph(*table.find(0), U'a').cx, 0);
}

TEST(GlyphSources, SharedPerCharacterAndFontPackedIntoPagesAndTintedInTheDraw) {
    SquareTextEngine text;
    GraphicObject root;
    text.backend.files["box"] = testPicture(600, 200);
    GraphicObject* message = GraphicObject::create(&root, {100});
    message->loadImage("box");
    message->StencilAction = 1;
    TextRequest r;
    r.text = "aab@f(1)a";
    r.color = 0xFF0000;
    message->textRequests.push_back(r);
    message->textLayout.colorOverride.clear();
    text.engine.processPendingText(*message);
    ASSERT_EQ(message->glyphChildren.size(), 4u);
    // "a" in font 0 twice shares one source; in font 1 it is another.
    EXPECT_EQ(message->glyphChildren.at(0)->source.get(),
              message->glyphChildren.at(1)->source.get());
    EXPECT_NE(message->glyphChildren.at(0)->source.get(),
              message->glyphChildren.at(3)->source.get());
    message->glyphChildren.at(1)->color.set(0x00FF00);
    // A colour with bits above the low 24 does not tint: the glyph keeps the last colour.
    message->glyphChildren.at(2)->color.set(0x7F0000FF);

    root.updateRoot(10);
    drawSubtree(root, text.backend);
    std::set<TextureId> glyphTextures;
    std::vector<uint32_t> tints;
    for (const auto& d : text.backend.draws) {
        if (!d.quad.tinted) continue;
        glyphTextures.insert(d.quad.texture);
        tints.push_back(d.quad.tint);
    }
    // Every glyph draws from one page, each in its own colour.
    EXPECT_EQ(glyphTextures.size(), 1u);
    EXPECT_EQ(tints, (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x000000, 0xFF0000}));
    EXPECT_EQ(text.engine.glyphs().atlas().pageCount(), 1u);
    EXPECT_EQ(text.engine.glyphs().atlas().liveRegions(), 3u);
    EXPECT_EQ(text.face->renders, 3);
    // The page holds coverage in alpha: the square's centre is opaque.
    const auto& page = text.backend.textures.at(*glyphTextures.begin());
    EXPECT_EQ(page.width, GlyphAtlas::kDefaultPageSide);
    EXPECT_EQ(page.pixels[(30 * page.width + 30) * 4 + 3], 255);
    // Half scale: a 60-pixel texture shows 30 pixels wide.
    EXPECT_EQ(message->glyphChildren.at(0)->source->scale, (Float3{0.5f, 0.5f, 1.0f}));

    // Releasing the last glyph of a character frees its region.
    message->glyphChildren.erase(3);
    EXPECT_EQ(text.engine.glyphs().atlas().liveRegions(), 2u);
    // A device release drops pages and glyphs alike; the next draw builds them again.
    releaseAllTextures();
    text.backend.draws.clear();
    drawSubtree(root, text.backend);
    EXPECT_EQ(text.face->renders, 5);
    EXPECT_EQ(text.backend.draws.size(), 4u);  // the box and three glyphs
}

TEST(GlyphAtlasPacking, ReusesFreedRegionsAndGivesHugeGlyphsAPageOfTheirOwn) {
    GlyphAtlas atlas(128);
    std::vector<GlyphAtlas::Region> regions;
    for (int i = 0; i < 16; ++i) {
        GlyphAtlas::Region region;
        ASSERT_TRUE(atlas.allocate(30, 30, 4096, region));
        regions.push_back(region);
    }
    EXPECT_EQ(atlas.pageCount(), 1u);  // 4 x 4 cells of 31 in 128
    GlyphAtlas::Region more;
    ASSERT_TRUE(atlas.allocate(30, 30, 4096, more));
    EXPECT_EQ(more.page, 1);
    atlas.release(regions[5]);
    GlyphAtlas::Region reused;
    ASSERT_TRUE(atlas.allocate(28, 30, 4096, reused));
    EXPECT_EQ(reused.page, 0);
    EXPECT_EQ(reused.x, regions[5].x);
    EXPECT_EQ(reused.y, regions[5].y);
    GlyphAtlas::Region huge;
    ASSERT_TRUE(atlas.allocate(300, 200, 4096, huge));
    EXPECT_EQ(huge.page, 2);
    EXPECT_FALSE(atlas.allocate(5000, 10, 4096, huge));
    EXPECT_FALSE(atlas.allocate(0, 10, 4096, huge));
}

TEST(CharacterSets, PicturesReplaceListedCharactersInBothKinds) {
    SquareTextEngine text;
    // A mask set for font 0 and a colour set for font 1; list lines "%x,%s".
    std::map<std::string, std::vector<uint8_t>> files = {{"mask.txt", {}}, {"colour.txt", {}}};
    const std::string maskList =
        "3042,pic\\a.png\r\n3042,pic\\other.png\r\n\r\nzz,bad\r\n41,missing.png";
    files["mask.txt"].assign(maskList.begin(), maskList.end());
    const std::string colourList = "0x3042, pic\\a.png trailing\r\n3043 ,needs-the-comma-first.png";
    files["colour.txt"].assign(colourList.begin(), colourList.end());
    auto readFile = [&](const std::string& name, std::vector<uint8_t>& out) {
        auto it = files.find(name);
        if (it == files.end()) return false;
        out = it->second;
        return true;
    };
    std::vector<std::string> pictures;
    auto readPicture = [&](const std::string& name, DecodedImage& out) {
        pictures.push_back(name);
        if (name != "pic\\a.png") return false;
        out.width = 40;
        out.height = 20;
        out.bgra.assign(40 * 20 * 4, 0);
        for (size_t i = 0; i < out.bgra.size(); i += 4) {
            out.bgra[i] = 200;      // blue: the mask's coverage
            out.bgra[i + 2] = 100;  // red
            out.bgra[i + 3] = 255;
        }
        return true;
    };
    TextGlyphs& glyphs = text.engine.glyphs();
    EXPECT_TRUE(glyphs.loadCharacterSet(0, "mask.txt", 40, 20, CharacterSetKind::Mask, readFile,
                                        readPicture));
    EXPECT_TRUE(glyphs.loadCharacterSet(1, "colour.txt", 40, 20, CharacterSetKind::Colour, readFile,
                                        readPicture));
    EXPECT_FALSE(glyphs.loadCharacterSet(9, "mask.txt", 1, 1, CharacterSetKind::Mask, readFile,
                                         readPicture));
    // An unreadable list changes the settings and loads nothing.
    EXPECT_TRUE(glyphs.loadCharacterSet(10, "none.txt", 8, 8, CharacterSetKind::Mask, readFile,
                                        readPicture));
    EXPECT_EQ(pictures, (std::vector<std::string>{"pic\\a.png", "missing.png", "pic\\a.png"}));
    EXPECT_EQ(text.engine.fonts().find(0)->characterSet.size(), 2u);

    // The picture is scaled from the 40 x 20 cell to the 30-pixel font: 30 x 30 shown.
    float w = 0, h = 0;
    SourceRef mask = glyphs.acquire("あ", 0, w, h);
    EXPECT_FLOAT_EQ(w, 30);
    EXPECT_FLOAT_EQ(h, 30);
    SourceRef colour = glyphs.acquire("あ", 1, w, h);
    SourceRef missing = glyphs.acquire("A", 0, w, h);
    EXPECT_FLOAT_EQ(w, 0);
    // A GDI glyph of a font with a set takes the set's cell height (20 / 4).
    glyphs.acquire("b", 0, w, h);
    EXPECT_FLOAT_EQ(h, 5);

    GraphicObject maskGlyph, colourGlyph, missingGlyph;
    maskGlyph.setSource(mask);
    maskGlyph.color.set(0x0000FF);
    colourGlyph.setSource(colour);
    colourGlyph.color.set(0x0000FF);
    missingGlyph.setSource(missing);
    drawObject(maskGlyph, text.backend);
    drawObject(colourGlyph, text.backend);
    drawObject(missingGlyph, text.backend);
    ASSERT_EQ(text.backend.draws.size(), 2u);  // the unreadable picture draws nothing
    EXPECT_TRUE(text.backend.draws[0].quad.tinted);
    EXPECT_EQ(text.backend.draws[0].quad.tint, 0x0000FFu);
    EXPECT_FALSE(text.backend.draws[1].quad.tinted);
    // Mask: coverage from the blue byte; colour: the picture's own pixels.
    const auto& page = text.backend.textures.at(text.backend.draws[0].quad.texture);
    const auto& first = maskGlyph.source->tiles.front().vertices[0];
    const size_t at = (static_cast<size_t>(first.v * page.height) * page.width +
                       static_cast<size_t>(first.u * page.width)) *
                      4;
    EXPECT_EQ(page.pixels[at + 3], 200);
    const auto& cfirst = colourGlyph.source->tiles.front().vertices[0];
    const size_t cat = (static_cast<size_t>(cfirst.v * page.height) * page.width +
                        static_cast<size_t>(cfirst.u * page.width)) *
                       4;
    EXPECT_EQ(page.pixels[cat + 2], 100);
}

class RecordedHistory : public MessageHistory {
  public:
    void openEntry() override { entries.emplace_back(); }
    void appendText(const std::string& text) override { entries.back().push_back(text); }
    std::vector<std::vector<std::string>> entries;
};

TEST(TextOutCommand, QueuesTheTextAndRecordsItInTheHistory) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    RecordedHistory history;
    queue::CommandQueue queue;
    using script::ScriptValue;
    // Target, Layer, Text, Color, FontNo, NoWait
    std::vector<ScriptValue> args = {ScriptValue::makeInteger(1),    ScriptValue::makeInteger(100),
                                     ScriptValue::makeString("one"), ScriptValue::makeInteger(0xFF),
                                     ScriptValue::makeInteger(3),    ScriptValue::makeInteger(2)};
    queueTextOut(args, 6, false, queue, &app, &history);
    args[2] = ScriptValue::makeString("two");
    queueTextOut(args, 3, true, queue, &app, &history);
    EXPECT_EQ(history.entries, (std::vector<std::vector<std::string>>{{"one", "two"}}));
    app.historyEntryOpen = 0;  // a page feed
    queueTextOut(args, 3, false, queue, &app, &history);
    EXPECT_EQ(history.entries.size(), 2u);

    // A setting changed after queueing does not reach text queued before it.
    app.textColor = 0x000001;
    app.textSpeed = 1;
    GraphicObject root;
    GraphicObject::create(&root, {100});
    queue.release();
    queue::QueExecuteContext context;
    context.screenRoot = &root;
    queue.executeReleased(context);
    const auto& requests = GraphicObject::find(&root, {100})->textRequests;
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].color, 0xFF);
    EXPECT_EQ(requests[0].fontNo, 3);
    EXPECT_EQ(requests[0].charInterval, 200);
    EXPECT_EQ(requests[1].charInterval, 0);  // the skip form
    EXPECT_EQ(requests[1].appearMode, 0);
    EXPECT_EQ(requests[2].charInterval, 100);  // NoWait defaults to 1
    EXPECT_EQ(requests[2].color, 0xFFFFFF);
}

}  // namespace
}  // namespace vaxo2::graphics
