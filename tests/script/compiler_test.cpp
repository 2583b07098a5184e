#include "script/compiler.h"

#include <gtest/gtest.h>

#include "script/command_table.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

// A compiled statement, with its arguments bound the way the interpreter binds them.
struct Statement {
    std::string name;
    std::vector<ScriptValue> args;
};

std::string kindName(const ScriptImage& img, int32_t idx) {
    const ScriptElement* e = img.element(idx);
    return e ? std::to_string(e->kind) : "none";
}

std::vector<Statement> statements(const ScriptImage& img) {
    ScriptContext ctx;
    ctx.image = img;
    ctx.sizeTemporaries();
    std::vector<Statement> out;
    for (int32_t idx : img.commandList) {
        const ScriptElement* e = img.element(idx);
        Statement s;
        if (e && e->kind == static_cast<int32_t>(ElementKind::Command)) {
            s.name = std::string(img.text(e->name).value_or("?"));
            int32_t n = ScriptInterpreter::bindArguments(ctx, e->link, s.args);
            s.args.resize(static_cast<size_t>(n));
        } else if (e) {
            s.name = "<" + std::to_string(e->kind) + ">";
            if (auto t = img.text(e->name)) s.name += std::string(*t);
        }
        out.push_back(std::move(s));
    }
    return out;
}

ScriptImage compiled(std::string_view text) {
    ScriptImage img;
    compileScript(text, img);
    return img;
}

TEST(Compiler, CommentIsRemovedAndNamedValueBinds) {
    auto st = statements(compiled("Wait(Time=500) // pause\nKeyWait"));
    ASSERT_EQ(st.size(), 2u);
    EXPECT_EQ(st[0].name, "Wait");
    ASSERT_EQ(st[0].args.size(), 1u);
    EXPECT_EQ(st[0].args[0].type, ScriptValueType::Integer);
    EXPECT_EQ(st[0].args[0].integer, 500);
    EXPECT_EQ(st[1].name, "KeyWait");
    EXPECT_TRUE(st[1].args.empty());
}

TEST(Compiler, CommentRunsToLineEndOnlyAndQuotesInsideStringsKeepSlashes) {
    auto st = statements(compiled(
        "Graphic(File=\"a//b.png\") // Wait(1)\r\nKeyWait(Time=3)\xE2\x80\xA8// x\nApply"));
    ASSERT_EQ(st.size(), 3u);
    EXPECT_EQ(st[0].args[2].text, "a//b.png");
    EXPECT_EQ(st[1].name, "KeyWait");
    EXPECT_EQ(st[2].name, "Apply");
}

TEST(Compiler, QuotedCommaStaysOnePiece) {
    auto st = statements(compiled("Graphic(Layer=1, File=\"bg, night.png\")"));
    ASSERT_EQ(st.size(), 1u);
    ASSERT_EQ(st[0].args.size(), 3u);
    EXPECT_EQ(st[0].args[0].type, ScriptValueType::None);
    EXPECT_EQ(st[0].args[1].integer, 1);
    EXPECT_EQ(st[0].args[2].type, ScriptValueType::String);
    EXPECT_EQ(st[0].args[2].text, "bg, night.png");
}

TEST(Compiler, ColonListBindsListOfIntegers) {
    auto st = statements(compiled("GraphicSlot(Position=0:100:-3)"));
    ASSERT_EQ(st.size(), 1u);
    ASSERT_EQ(st[0].args.size(), 12u);  // Position is the 12th parameter
    const ScriptValue& pos = st[0].args[11];
    ASSERT_EQ(pos.type, ScriptValueType::List);
    ASSERT_EQ(pos.items.size(), 3u);
    EXPECT_EQ(pos.items[0].integer, 0);
    EXPECT_EQ(pos.items[1].integer, 100);
    EXPECT_EQ(pos.items[2].integer, -3);
}

TEST(Compiler, NumberInsideExpressionYieldsNothing) {
    ScriptImage img = compiled("Wait(Time=100+200)");
    auto st = statements(img);
    ASSERT_EQ(st.size(), 1u);
    ASSERT_EQ(st[0].args.size(), 1u);
    EXPECT_TRUE(st[0].args[0].isNone());
    EXPECT_EQ(img.temporaryCount, 0);
}

TEST(Compiler, ExpressionCreatesTemporaryAndHiddenStatements) {
    ScriptImage img = compiled("Wait(Time=GlobalFlag[1] + 5)");
    EXPECT_EQ(img.temporaryCount, 1);
    ASSERT_EQ(img.commandList.size(), 3u);
    const ScriptElement* var = img.element(img.commandList[0]);
    ASSERT_NE(var, nullptr);
    EXPECT_EQ(var->kind, static_cast<int32_t>(ElementKind::Variable));
    EXPECT_EQ(var->link, 0);
    const ScriptElement* eq = img.element(img.commandList[1]);
    ASSERT_NE(eq, nullptr);
    EXPECT_EQ(img.text(eq->name).value_or(""), "=");
    // Tokens in written order: variable, space, "+", space, 5.
    auto list = img.argumentList(eq->link);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, 5);
    EXPECT_EQ(list->items[0], -1);
    EXPECT_EQ(list->items[1], -1);
    EXPECT_EQ(img.text(img.element(list->items[2])->name).value_or(""), "+");
    EXPECT_EQ(list->items[3], -1);
    EXPECT_EQ(kindName(img, list->items[4]), std::to_string(int(ElementKind::Integer)));
    // The Wait binds its Time to the temporary, which is None.
    auto st = statements(img);
    EXPECT_EQ(st[2].name, "Wait");
    EXPECT_TRUE(st[2].args[0].isNone());
    const ScriptElement* wait = img.element(img.commandList[2]);
    auto waitArgs = img.argumentList(wait->link);
    EXPECT_EQ(waitArgs->items[0], img.commandList[0]);
}

TEST(Compiler, StringPlusNumberIsFiveTokens) {
    ScriptImage img = compiled("GraphicTextOut(Text=\"a\" + 5)");
    EXPECT_EQ(img.temporaryCount, 1);
    const ScriptElement* eq = img.element(img.commandList[1]);
    EXPECT_EQ(img.argumentList(eq->link)->count, 5);
}

TEST(Compiler, LabelsLinkToTheirFirstStatement) {
    ScriptImage img = compiled("Apply #start Apply #start ScriptJump(Label=#start)");
    ASSERT_EQ(img.commandList.size(), 5u);
    const ScriptElement* first = img.element(img.commandList[1]);
    ASSERT_EQ(first->kind, static_cast<int32_t>(ElementKind::Label));
    EXPECT_EQ(first->link, 1);
    EXPECT_EQ(img.commandList[1], img.commandList[3]);  // shared element
    auto st = statements(img);
    ASSERT_EQ(st[4].args.size(), 2u);
    EXPECT_EQ(st[4].args[1].type, ScriptValueType::LabelRef);
    EXPECT_EQ(st[4].args[1].text, "#start");
    EXPECT_EQ(st[4].args[1].integer, 1);
}

TEST(Compiler, BracesAreMatchedByNesting) {
    ScriptImage img = compiled("{ { } Apply } } {");
    // entries: { { } Apply } } {
    auto link = [&](size_t i) { return img.element(img.commandList[i])->link; };
    ASSERT_EQ(img.commandList.size(), 7u);
    EXPECT_EQ(link(0), 4);
    EXPECT_EQ(link(4), 0);
    EXPECT_EQ(link(1), 2);
    EXPECT_EQ(link(2), 1);
    EXPECT_EQ(link(5), -1);  // stray closer
    EXPECT_EQ(link(6), -1);  // unmatched opener
}

TEST(Compiler, WhiteSpaceRunsCollapseOutsideStringsOnly) {
    auto st = statements(compiled("\xEF\xBB\xBFGraphicTextOut(Text=\"a  \tb\",\t\t Layer =  3)"));
    ASSERT_EQ(st.size(), 1u);
    EXPECT_EQ(st[0].args[2].text, "a  \tb");
    EXPECT_EQ(st[0].args[1].integer, 3);
    // Ideographic space separates statements like a plain one.
    EXPECT_EQ(statements(compiled("Apply\xE3\x80\x80KeyWait")).size(), 2u);
}

TEST(Compiler, IntegerAndRealLiteralGrammars) {
    auto value = [](std::string_view v) {
        auto st = statements(compiled("Wait(" + std::string(v) + ")"));
        return st.at(0).args.empty() ? ScriptValue{} : st.at(0).args[0];
    };
    EXPECT_EQ(value("0x1F").integer, 31);
    EXPECT_EQ(value("010").integer, 8);
    EXPECT_EQ(value("-3").integer, -3);
    ScriptValue r = value("2.5");
    EXPECT_EQ(r.type, ScriptValueType::Real);
    EXPECT_DOUBLE_EQ(r.real, 2.5);
    EXPECT_DOUBLE_EQ(value("-1.5e2").real, -150.0);
    EXPECT_TRUE(value("1e5").isNone());    // no point: not a literal
    EXPECT_TRUE(value("night").isNone());  // bare word
    EXPECT_TRUE(isIntegerLiteral("+0"));
    EXPECT_FALSE(isIntegerLiteral("0x"));
    EXPECT_FALSE(isIntegerLiteral("12a"));
    EXPECT_FALSE(isRealLiteral("1.2.3"));
    EXPECT_TRUE(isRealLiteral("3.0d+2"));
}

TEST(Compiler, NamedBindingNeedsAnExactNameAndBareNameMeansOne) {
    auto st = statements(compiled("Graphic(Hide) Graphic(Lay=1, Layer=2) Wait(500, SkipOn=1)"));
    ASSERT_EQ(st.size(), 3u);
    ASSERT_EQ(st[0].args.size(), 7u);
    EXPECT_EQ(st[0].args[6].integer, 1);
    ASSERT_EQ(st[1].args.size(), 2u);
    EXPECT_EQ(st[1].args[1].integer, 2);
    ASSERT_EQ(st[2].args.size(), 2u);
    EXPECT_TRUE(st[2].args[0].isNone());
    EXPECT_EQ(st[2].args[1].integer, 1);
    auto pos = statements(compiled("Wait(500)"));
    EXPECT_EQ(pos[0].args.at(0).integer, 500);
}

TEST(Compiler, PrefixOfAnotherParameterIsNotAMatch) {
    auto st = statements(compiled("GraphicSlot(PositionCenter=5, Position=1:2)"));
    ASSERT_EQ(st[0].args.size(), 17u);
    EXPECT_EQ(st[0].args[16].integer, 5);
    EXPECT_EQ(st[0].args[11].type, ScriptValueType::List);
    // A later piece for the same position replaces an earlier one.
    auto again = statements(compiled("Wait(Time=1, Time=2)"));
    EXPECT_EQ(again[0].args[0].integer, 2);
}

TEST(Compiler, DammyAndUnknownWordsAreSkipped) {
    auto st = statements(compiled("Dammy hello wait(1) Flag[3] \"Apply\""));
    ASSERT_EQ(st.size(), 1u);  // only the Apply found inside the stray string
    EXPECT_EQ(st[0].name, "Apply");
}

TEST(Compiler, ElementsAreSharedByValue) {
    ScriptImage img = compiled("Wait(5) Wait(5) Graphic(File=\"a\") Graphic(File=\"a\")");
    auto arg0 = [&](size_t stmt, size_t pos) {
        return img.argumentList(img.element(img.commandList[stmt])->link)->items[pos];
    };
    EXPECT_EQ(arg0(0, 0), arg0(1, 0));
    EXPECT_EQ(arg0(2, 2), arg0(3, 2));
    EXPECT_NE(img.commandList[0], img.commandList[1]);  // commands are always new
}

TEST(Compiler, UnterminatedGroupAndStringAreClosed) {
    auto st = statements(compiled("GraphicTextOut(Text=\"never closed"));
    ASSERT_EQ(st.size(), 1u);
    EXPECT_EQ(st[0].args.at(2).text, "never closed");
    auto broken = statements(compiled("Wait(Time=7"));
    EXPECT_EQ(broken.at(0).args.at(0).integer, 7);
}

TEST(Compiler, GroupsAndPieces) {
    EXPECT_EQ(groupAt("  (a(b)c) rest", 0, "("), "  (a(b)c)");
    EXPECT_EQ(groupAt("(a[b", 0, "("), "(a[b)]");
    EXPECT_EQ(groupAt("x(a)", 0, "("), "");
    EXPECT_EQ(groupAt("(a))", 0, "("), "(a)");
    EXPECT_EQ(groupAt("(\"a\nb\")", 0, "("), "(\"a\")");
    EXPECT_EQ(pieceCount("a, b ,(c,d), \"e,f\"", ','), 4u);
    EXPECT_EQ(pieceAt("a, b ,(c,d), \"e,f\"", 1, ','), "b");
    EXPECT_EQ(pieceAt("a, b ,(c,d), \"e,f\"", 2, ','), "(c,d)");
    EXPECT_EQ(pieceCount("   ", ','), 0u);
    EXPECT_EQ(pieceCount("a,,b", ','), 3u);
    EXPECT_EQ(pieceAt("a,,b", 1, ','), "");
    EXPECT_EQ(pieceAt("x:\xE3\x81\x82", 1, ':'), "\xE3\x81\x82");
}

TEST(Compiler, DeepNestingIsBounded) {
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "Wait(";
    ScriptImage img = compiled(deep);
    EXPECT_EQ(img.commandList.size(), 1u);
    std::string list = "Graphic(File=";
    for (int i = 0; i < 5000; ++i)
        list += "(1:";
    img = compiled(list);
    // Each level is "(" followed by a list: an expression with its two hidden statements, up
    // to the nesting bound; beyond it the text is ignored.
    EXPECT_LE(img.commandList.size(), 2u * 64 + 1);
    EXPECT_GT(img.commandList.size(), 1u);
    EXPECT_EQ(img.text(img.element(img.commandList.back())->name).value_or(""), "Graphic");
}

// The colon-list test at every operand of a long value is answered from one pass: the same
// answers as scanning the rest of the value each time, for any text, broken UTF-8 included.
TEST(Compiler, TopLevelColonMapMatchesAScanFromEachPosition) {
    const std::vector<std::string> alphabet = {"(",    ")",    "[",   "]", "{", "}",
                                               ":",    "\"",   " ",   "a", "1", "\xE3\x81\x82",
                                               "\xE3", "\x81", "\xF0"};
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 300; ++round) {
        std::string value;
        const size_t length = next() % 40;
        for (size_t i = 0; i < length; ++i)
            value += alphabet[next() % alphabet.size()];
        const std::vector<int8_t> map = topLevelColonMap(value);
        ASSERT_EQ(map.size(), value.size());
        bool inString = false;
        for (size_t p = 0; p < value.size(); ++p) {
            const bool ascii = static_cast<unsigned char>(value[p]) < 0x80;
            // Every ASCII position outside a string is one an operand may start at.
            if (ascii && !inString) {
                EXPECT_NE(map[p], -1) << round << " at " << p;
            }
            if (map[p] >= 0) {
                const bool scanned = pieceCount(std::string_view(value).substr(p), ':') >= 2;
                EXPECT_EQ(map[p] == 1, scanned) << "'" << value << "' at " << p;
            }
            if (value[p] == '"') inString = !inString;
        }
    }
}

// A broken multi-byte sequence ends at the first byte that cannot continue it: the quote,
// bracket or separator after it keeps its meaning.
TEST(Compiler, BrokenUtf8NeverSwallowsADelimiter) {
    EXPECT_EQ(pieceCount("a:\xE3:b", ':'), 3u);
    EXPECT_EQ(pieceAt("a:\xE3\x81:b", 1, ':'), "\xE3\x81");
    const auto st = statements(compiled("Graphic(File=\"\xE3\", Layer=2)"));
    ASSERT_EQ(st.size(), 1u);
    ASSERT_EQ(st[0].args.size(), 3u);
    EXPECT_EQ(st[0].args[2].text, "\xE3");
    EXPECT_EQ(st[0].args[1].integer, 2);
}

// Tens of thousands of nested parentheses in one value: every "(" is an operand at which the
// rest is tested for a colon list; the test must not rescan the rest each time.
TEST(Compiler, DeeplyParenthesizedValueCompilesInLinearTime) {
    constexpr int kDepth = 100000;
    const std::string value = std::string(kDepth, '(') + "1:2" + std::string(kDepth, ')');
    ScriptImage img = compiled("Wait(Time=" + value + ")");
    // One expression: kDepth "(" names and the list, in a hidden statement before the Wait.
    ASSERT_EQ(img.commandList.size(), 3u);
    const ScriptElement* assign = img.element(img.commandList[1]);
    ASSERT_NE(assign, nullptr);
    auto list = img.argumentList(assign->link);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count, kDepth + 1);
    const ScriptElement* last = img.element(list->items[kDepth]);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->kind, static_cast<int32_t>(ElementKind::List));
}

}  // namespace
}  // namespace vaxo2::script
