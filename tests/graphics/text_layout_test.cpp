// Message layout against a fixed 30-pixel metric: pen and line rules, the in-line codes, ruby,
// wrapping, appearance timing, skip output, re-layout and bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app_context.h"
#include "graphics/graphic_commands.h"
#include "graphics/text_layout.h"
#include "text_test_support.h"

namespace vaxo2::graphics {
namespace {

using testing::SquareTextEngine;
using testing::testPicture;

struct Placed {
    std::string character;
    float x, y;
    int64_t font;
    bool ruby;
};

class TextLayoutTest : public ::testing::Test {
  protected:
    // A message object whose own picture is boxW x boxH.
    GraphicObject& message(int boxW, int boxH) {
        text.backend.files["box"] = testPicture(boxW, boxH);
        GraphicObject* object = GraphicObject::create(&root, {100});
        object->loadImage("box");
        return *object;
    }
    static TextRequest request(const std::string& s, int64_t interval = 0) {
        TextRequest r;
        r.text = s;
        r.color = 0x123456;
        r.charInterval = interval;
        r.appearMode = 1;
        r.appearStart = 300;
        r.repeatPeriod = 1000;
        return r;
    }
    std::vector<Placed> layout(GraphicObject& object, const std::vector<TextRequest>& requests) {
        for (const TextRequest& r : requests)
            object.textRequests.push_back(r);
        EXPECT_TRUE(text.engine.processPendingText(object));
        return placed(object);
    }
    static std::vector<Placed> placed(const GraphicObject& object) {
        std::vector<Placed> out;
        for (const auto& [key, glyph] : object.glyphChildren) {
            const StirSlot& base = glyph->slots.at(0);
            out.push_back(Placed{glyph->source->name(), base.Position.x, base.Position.y,
                                 glyph->source->key().value1, glyph->slots.count(999) != 0});
        }
        return out;
    }

    SquareTextEngine text;
    GraphicObject root;
};

TEST_F(TextLayoutTest, PenLinesIndentAndWrapFollowTheRules) {
    // Box 600 x 200: the first glyph's centre is at -300 + 15, the first line at 100 - 20 + 15;
    // the pitch is the base font's 30 + 20.
    struct Case {
        const char* name;
        int boxW;
        std::string text;
        std::vector<std::pair<std::string, std::pair<float, float>>> want;
    };
    const std::vector<Case> cases = {
        {"explicit break",
         600,
         "abc\\ndef",
         {{"a", {-285, 95}},
          {"b", {-255, 95}},
          {"c", {-225, 95}},
          {"d", {-285, 45}},
          {"e", {-255, 45}},
          {"f", {-225, 45}}}},
        {"quotation indents continuation lines and drops a leading blank",
         600,
         "「あ\\n　い\\n う",
         {{"「", {-285, 95}}, {"あ", {-255, 95}}, {"い", {-255, 45}}, {"う", {-255, -5}}}},
        {"automatic wrap after the fourth glyph",
         100,
         "abcdef",
         {{"a", {-35, 95}},
          {"b", {-5, 95}},
          {"c", {25, 95}},
          {"d", {55, 95}},
          {"e", {-35, 45}},
          {"f", {-5, 45}}}},
        {"no wrap before a forbidden character",
         100,
         "abcd。f",
         {{"a", {-35, 95}},
          {"b", {-5, 95}},
          {"c", {25, 95}},
          {"d", {55, 95}},
          {"。", {85, 95}},
          {"f", {-35, 45}}}},
        {"@u+( is decimal",
         600,
         "@u+(12354)@u+(3042)",
         {{"あ", {-285, 95}}, {"\xE0\xAF\xA2", {-255, 95}}}},
        {"font change applies to the following glyphs",
         600,
         "a@f(1)b",
         {{"a", {-285, 95}}, {"b", {-255, 95}}}},
        {"a code without its end prints as text without the @",
         600,
         "@f(1",
         {{"f", {-285, 95}}, {"(", {-255, 95}}, {"1", {-225, 95}}}},
        {"bytes that cannot lead a character are skipped",
         600,
         "\x80\xFF"
         "a",
         {{"a", {-285, 95}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.layerChildren.clear();
        GraphicObject& object = message(c.boxW, 200);
        const std::vector<Placed> got = layout(object, {request(c.text)});
        ASSERT_EQ(got.size(), c.want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].character, c.want[i].first) << i;
            EXPECT_FLOAT_EQ(got[i].x, c.want[i].second.first) << i;
            EXPECT_FLOAT_EQ(got[i].y, c.want[i].second.second) << i;
        }
        EXPECT_EQ(object.text, c.text);
        EXPECT_EQ(object.textLayout.glyphCount, static_cast<int64_t>(c.want.size()));
    }
}

TEST_F(TextLayoutTest, RubyIsCentredHalfSizeInFontOneAndMovesWholeToTheNextLine) {
    GraphicObject& object = message(600, 200);
    std::vector<Placed> got = layout(object, {request("@r(漢字,かんじ)x")});
    ASSERT_EQ(got.size(), 6u);
    // Base glyphs, then the three ruby glyphs: n = 4, offset -(60 - 0) / 2.
    EXPECT_FLOAT_EQ(got[0].x, -285);
    EXPECT_FLOAT_EQ(got[1].x, -255);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(got[2 + i].ruby);
        EXPECT_EQ(got[2 + i].font, 1);
        EXPECT_FLOAT_EQ(got[2 + i].x, -300 + 15 + 60 + i * 15.0f - 30 - 30);
        EXPECT_FLOAT_EQ(got[2 + i].y, 100 + 15 + 2);
    }
    EXPECT_EQ(object.glyphChildren.at(2)->slots.at(999).Scale, (Float3{0.5f, 0.5f, 1.0f}));
    // The pen did not move for the ruby: "x" follows the base text.
    EXPECT_FLOAT_EQ(got[5].x, -225);
    EXPECT_EQ(object.textLayout.glyphCount, 6);

    // Without a comma only the base text; a group that does not fit breaks first.
    root.layerChildren.clear();
    GraphicObject& narrow = message(100, 200);
    got = layout(narrow, {request("ab@r(漢字)")});
    ASSERT_EQ(got.size(), 4u);
    EXPECT_FLOAT_EQ(got[2].x, -35);
    EXPECT_FLOAT_EQ(got[2].y, 45);
}

TEST_F(TextLayoutTest, AppearanceFollowsOnePageTimeLine) {
    GraphicObject& object = message(600, 200);
    // NoWait 2 at speed 100 gives 200 ms between characters; a second request continues.
    layout(object, {request("ab", 200), request("c", 100)});
    const int64_t want[] = {0, 200, 400};
    for (int64_t key = 0; key < 3; ++key) {
        const GraphicObject& glyph = *object.glyphChildren.at(key);
        ASSERT_EQ(glyph.slots.size(), 3u);
        EXPECT_EQ(glyph.slots.at(1).Transmittance, 1.0f);
        const StirSlot& reveal = glyph.slots.at(2);
        EXPECT_EQ(reveal.Transmittance, -1.0f);
        EXPECT_EQ(reveal.Loop, 1);
        EXPECT_EQ(reveal.StartDelay, 300);
        EXPECT_EQ(reveal.Delay, want[key]);
    }
    EXPECT_EQ(object.textLayout.appearDelay, 500);
    EXPECT_EQ(messageDisplayTime(object), 500);
    EXPECT_TRUE(text.engine.textAppearing(root));

    // Run the glyphs on their slot clock: the second shows 300 + 200 ms after placing.
    root.updateRoot(1000);
    root.updateRoot(1499);
    EXPECT_LT(object.glyphChildren.at(0)->transmittance, 1.0f);
    EXPECT_EQ(object.glyphChildren.at(1)->transmittance, 1.0f);
    root.updateRoot(1501);
    EXPECT_LT(object.glyphChildren.at(1)->transmittance, 1.0f);

    // Finish-all jumps every appearance to its end.
    classQue_GraphicStdTextDrawingAllFinish finish;
    queue::QueExecuteContext context;
    context.target = &root;
    finish.execute(context);
    root.updateRoot(1517);
    EXPECT_LT(object.glyphChildren.at(2)->transmittance, 1.0f);
    EXPECT_FALSE(text.engine.textAppearing(root));

    // NoWait 0: everything at once, no slots beyond slot 0.
    root.layerChildren.clear();
    GraphicObject& instant = message(600, 200);
    layout(instant, {request("xy", 0)});
    EXPECT_EQ(instant.glyphChildren.at(1)->slots.size(), 1u);
    EXPECT_EQ(instant.textLayout.appearDelay, 0);
    EXPECT_EQ(messageDisplayTime(instant), 200);  // glyphCount x 100
}

TEST_F(TextLayoutTest, RepeatedAppearanceLoopsWithinTheRepeatPeriod) {
    GraphicObject& object = message(600, 200);
    TextRequest r = request("ab", 100);
    r.repeatAppearance = 1;
    layout(object, {r});
    const StirSlot& second = object.glyphChildren.at(1)->slots.at(2);
    EXPECT_EQ(second.Loop, -1);
    EXPECT_EQ(second.Delay, 0);
    EXPECT_EQ(second.AfterDelay, 100);
    EXPECT_EQ(second.Time, 900);
}

TEST_F(TextLayoutTest, SkipOutputAndRelayoutShowTheTextAtOnceInTheDefaultColour) {
    core::AppContext app;
    app.textColor = 0xABCDEF;
    app.skipMode = 1;
    core::ScopedAppContext published(app);
    GraphicObject& object = message(600, 200);

    // The skip form of the command: font 0, no interval, colour from the settings.
    classQue_GraphicStdOutTextX skip;
    skip.path = {100};
    skip.text = "a@f(1)b";
    skip.fontNo.set(0);
    skip.charInterval.set(0);
    skip.appearMode.set(0);
    skip.appearStart.set(0);
    queue::QueExecuteContext context;
    context.target = &root;
    skip.execute(context);
    text.engine.processPendingText(object);
    ASSERT_EQ(object.glyphChildren.size(), 2u);
    EXPECT_EQ(object.glyphChildren.at(0)->slots.size(), 1u);
    EXPECT_EQ(object.glyphChildren.at(0)->color.value, 0xABCDEF);
    EXPECT_EQ(object.glyphChildren.at(1)->source->key().value1, 1);

    // After a restore: the stored text again, at once, even when it was laid out appearing.
    object.textRequests.push_back(request("c", 100));
    text.engine.processPendingText(object);
    object.textLayout.colorOverride.set(0x00FF00);
    text.engine.relayout(object);
    const std::vector<Placed> got = placed(object);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(object.text, "a@f(1)bc");
    EXPECT_FLOAT_EQ(got[2].x, -225);
    EXPECT_EQ(object.glyphChildren.at(2)->slots.size(), 1u);
    EXPECT_EQ(object.glyphChildren.at(2)->color.value, 0x00FF00);
    EXPECT_EQ(object.textLayout.appearDelay, 0);

    // A page feed empties the page.
    classQue_PageFeed feed;
    feed.path = {100};
    feed.execute(context);
    EXPECT_TRUE(object.glyphChildren.empty());
    EXPECT_TRUE(object.text.empty());
    EXPECT_EQ(object.textLayout.glyphCount, 0);
    EXPECT_EQ(object.textLayout.lineStart, 1);
}

TEST_F(TextLayoutTest, BadInputFallsBackWithoutCrashing) {
    GraphicObject& object = message(600, 200);
    // A font without a definition measures as font 0; code points beyond Unicode and 0 still
    // place a glyph; an absurd number saturates.
    const std::vector<Placed> got =
        layout(object, {request("@f(7)a@u+(99999999)@u+(0)@u+(999999999999999999999)"
                                "@f(99999999999999999999)b@r(,x)@r()")});
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].font, 7);
    EXPECT_FLOAT_EQ(got[0].x, -285);
    EXPECT_EQ(got[2].character, "");
    EXPECT_EQ(got[3].character, "");
    EXPECT_FLOAT_EQ(got[4].x, -285 + 30 + 30);  // the empty glyphs have no width
    EXPECT_EQ(text.engine.fonts().find(7), nullptr);
    // Without an image the box is 0 x 0: every glyph wraps, nothing breaks.
    GraphicObject* bare = GraphicObject::create(&root, {5});
    bare->textRequests.push_back(request("ab"));
    EXPECT_TRUE(text.engine.processPendingText(*bare));
    EXPECT_EQ(bare->glyphChildren.size(), 2u);
}

TEST(TextLayoutHelpers, ForbiddenCharactersAndAtolRules) {
    int forbidden = 0;
    for (const char* c : {"」", ",",  ")", "]", "｝", "、", "〕", "〉", "》", "』", "】", "〙",
                          "〗", "〟", "’", "”", "｠", "»",  "。", "？", "「", "a",  ""}) {
        forbidden += lineStartForbidden(c) ? 1 : 0;
    }
    EXPECT_EQ(forbidden, 20);
    EXPECT_EQ(decimalValue("  -12x"), -12);
    EXPECT_EQ(decimalValue("x12"), 0);
    EXPECT_EQ(decimalValue("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(characterCount("aあ\x80"), 3u);
}

}  // namespace
}  // namespace vaxo2::graphics
