#include "script/lint.h"

#include <gtest/gtest.h>

#include <set>

namespace vaxo2::script {
namespace {

struct Found {
    int line, column;
    bool error;
    std::string message;
};

std::vector<Found> lint(std::string_view text, const LintOptions& options = {}) {
    std::vector<Found> out;
    for (const LintDiagnostic& d : lintScript(text, options))
        out.push_back({d.line, d.column, d.severity == LintDiagnostic::Severity::Error, d.message});
    return out;
}

bool has(const std::vector<Found>& f, int line, int column, std::string_view fragment) {
    for (const Found& x : f) {
        if (x.line == line && x.column == column && x.message.find(fragment) != std::string::npos)
            return true;
    }
    return false;
}

std::string all(const std::vector<Found>& f) {
    std::string s;
    for (const Found& x : f)
        s += std::to_string(x.line) + ":" + std::to_string(x.column) + " " + x.message + "\n";
    return s;
}

TEST(Lint, CleanScriptHasNothingToSay) {
    auto f = lint(
        "// opening\n#start\nGraphic(Layer=0, File=\"bg\\day.png\", StencilAction=1)\n"
        "GraphicSlot(Layer=10, No=1, Position=-200:0:0, Transmittance=1) Apply()\n"
        "{ Wait(500) }\nIfScriptJump(File=\"a.vxs\", Flag=2, Value=1) Graphic(Hide)\n");
    EXPECT_TRUE(f.empty()) << all(f);
}

TEST(Lint, SkippedWordsAndMisspeltCommands) {
    auto f = lint("Apply\n  wiat(1)\nGraphicAlte(Layer=1) hello Dammy\n");
    EXPECT_TRUE(has(f, 2, 3, "did you mean 'Wait'")) << all(f);
    EXPECT_TRUE(has(f, 3, 1, "did you mean 'GraphicAlter'")) << all(f);
    EXPECT_TRUE(has(f, 3, 22, "'hello' is not a statement")) << all(f);
    EXPECT_TRUE(has(f, 3, 28, "Dammy")) << all(f);
    EXPECT_FALSE(f.back().error);  // Dammy is only a warning
}

TEST(Lint, ArgumentsThatBindNothing) {
    auto f = lint(
        "Graphic(Lay=1, Layer=2, File=night)\nWait(Time=100+200)\n"
        "Wait(Time=GlobalFlag[1] + 5)\nWait(Tme=3)\nWait(1, 2, 3)\n"
        "GraphicSlot(Position=Wait(1))\n");
    EXPECT_TRUE(has(f, 1, 9, "'Lay=1' matches no parameter of Graphic")) << all(f);
    EXPECT_TRUE(has(f, 1, 30, "'night' compiles to nothing")) << all(f);
    EXPECT_TRUE(has(f, 2, 11, "'100+200' compiles to nothing")) << all(f);
    EXPECT_TRUE(has(f, 3, 11, "never evaluated")) << all(f);
    EXPECT_TRUE(has(f, 3, 11, "variable keyword 'GlobalFlag'")) << all(f);
    EXPECT_TRUE(has(f, 4, 6, "did you mean 'Time'")) << all(f);
    EXPECT_TRUE(has(f, 5, 12, "positional argument 3 is beyond Wait's 2")) << all(f);
    EXPECT_TRUE(has(f, 6, 22, "written as a value is never run")) << all(f);
}

TEST(Lint, StructureProblems) {
    auto f = lint("#a\n{ Apply\n#a }\n}\n{\nGraphicTextOut(Text=\"open\nApply\n");
    EXPECT_TRUE(has(f, 3, 1, "duplicate label '#a'")) << all(f);
    EXPECT_TRUE(has(f, 4, 1, "unmatched '}'")) << all(f);
    EXPECT_TRUE(has(f, 5, 1, "unmatched '{'")) << all(f);
    EXPECT_TRUE(has(f, 6, 15, "unterminated argument group")) << all(f);
    EXPECT_TRUE(has(f, 6, 21, "unterminated string")) << all(f);
    // The line break ends the argument group inside the string, and the rest of the text is
    // one word that is no command: even the Apply on the next line is lost.
    EXPECT_TRUE(has(f, 7, 1, "'Apply' is not a statement")) << all(f);
}

TEST(Lint, PositionsCountCharactersAfterCommentsAndTabs) {
    // Comments and tab runs collapse before compiling; columns still point into the source.
    auto f = lint("// \xE3\x81\x82\xE3\x81\x84\n\t\t\xE3\x81\x82 Wait(Tiem=1)\r\nbogus");
    EXPECT_TRUE(has(f, 2, 3, "'\xE3\x81\x82' is not a statement")) << all(f);
    EXPECT_TRUE(has(f, 2, 10, "did you mean 'Time'")) << all(f);
    EXPECT_TRUE(has(f, 3, 1, "'bogus'")) << all(f);
}

TEST(Lint, FilesMustExistWhenAGameIsGiven) {
    std::set<std::string> present{"a.vxs", "bg\\day.png"};
    LintOptions options;
    options.resourceExists = [&](const std::string& n) { return present.count(n) > 0; };
    const char* text =
        "ScriptCall(File=\"a.vxs\") ScriptJump(File=\"b.vxs\")\n"
        "Graphic(Layer=0, File=\"bg\\day.png\") GraphicAlter(Layer=0, File=\"bg\\night.png\")\n"
        "Sound(Layer=1, File=\"x.ogg\") ScriptJump(Label=#a)\n";
    auto f = lint(text, options);
    ASSERT_EQ(f.size(), 2u) << all(f);
    EXPECT_TRUE(has(f, 1, 26, "script \"b.vxs\"")) << all(f);
    EXPECT_TRUE(has(f, 2, 37, "picture \"bg\\night.png\"")) << all(f);
    EXPECT_TRUE(lint(text).empty());  // no game: names are not checked
}

// A script that calls itself (not as its last statement, which would end the caller first)
// nests one level per call until the runtime refuses.
TEST(Lint, ScriptCallOfItselfIsPointedOut) {
    LintOptions options;
    options.scriptName = "scene/loop.vxs";
    const std::string text =
        "ScriptCall(File=\"scene\\Loop.vxs\")\n"           // itself, another spelling
        "IfScriptCall(File=\"scene/loop.vxs\", Flag=1)\n"  // itself when the flag is set
        "ScriptCall(File=\"other.vxs\")\n"                 // another script
        "ScriptJump(File=\"scene/loop.vxs\")\n"            // a jump never nests
        "ScriptCall(File=\"scene/loop.vxs\")\n";           // last statement: a tail call
    auto f = lint(text, options);
    EXPECT_TRUE(has(f, 1, 1, "ScriptCall of this script itself")) << all(f);
    EXPECT_TRUE(has(f, 2, 1, "IfScriptCall of this script itself")) << all(f);
    EXPECT_EQ(f.size(), 2u) << all(f);
    // Only the file name known: a call naming it in any folder counts.
    options.scriptName = "LOOP.vxs";
    EXPECT_EQ(lint(text, options).size(), 2u);
    options.scriptName.clear();
    EXPECT_TRUE(lint(text, options).empty());
}

TEST(Lint, ClosestCommandName) {
    EXPECT_EQ(closestCommandName("wait"), "Wait");
    EXPECT_EQ(closestCommandName("KeyWiat"), "KeyWait");
    EXPECT_EQ(closestCommandName("Graphc"), "Graphic");
    EXPECT_EQ(closestCommandName("hello"), "");
    EXPECT_EQ(closestCommandName("ab"), "");
}

}  // namespace
}  // namespace vaxo2::script
