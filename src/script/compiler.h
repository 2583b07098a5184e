#pragma once
// Compiles the text of a scenario script into a ScriptImage. Text that does not fit the grammar
// is skipped silently; `vxsc lint` reports it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_image.h"

namespace vaxo2::script {

// Byte length of the UTF-8 character that starts with `lead` (1..6), 0 when it cannot start one.
int characterLength(unsigned char lead);

// The bracket group that starts at `position` (after spaces) with `opener`, closed when the
// text ends early. Empty when the opener is missing or a closer comes first. When `consumed`
// is given it receives the end position of the scan in `text`.
std::string groupAt(std::string_view text, size_t position, std::string_view opener,
                    size_t* consumed = nullptr);
// Trimmed top-level pieces of `text` split at `separator` (outside strings and brackets).
std::vector<std::string_view> splitPieces(std::string_view text, char separator);
size_t pieceCount(std::string_view text, char separator);
std::string pieceAt(std::string_view text, size_t index, char separator);
// For every byte position p of a value, computed in one pass: 1 when the rest of the value from
// p splits into two or more pieces at top-level colons (a colon list), 0 when it does not, -1
// for a position that no operand of the value can start at (inside a string or a character).
// The tokenizer asks this at each operand of a long value.
std::vector<int8_t> topLevelColonMap(std::string_view value);

bool isIntegerLiteral(std::string_view text);
bool isRealLiteral(std::string_view text);
bool isVariableKeyword(std::string_view word);
// The word at `position`: up to the next word delimiter.
std::string_view wordAt(std::string_view text, size_t position);
// Passes 1 and 2: white space and comments to single spaces, outside strings.
// With `origins`, each output byte's source position is recorded.
std::string normalizeText(std::string_view text, std::vector<uint32_t>* origins = nullptr);

// Binding of one argument piece to a parameter name: the parameter position, or -1, and the
// value text.
int bindNamedPiece(std::string_view piece, const std::vector<std::string>& names,
                   std::string_view& value);

// What became of one argument value.
struct ValueReport {
    size_t tokens = 0;        // tokens recognised (spaces included)
    std::string_view unused;  // value text after the point where tokenizing stopped
    int32_t element = -1;     // the single token's element, when there is exactly one
};

// Told what the compiler silently drops or changes (for `vxsc lint`). Positions are offsets in
// the normalized text passed to begin(); `origins` maps them back to the source.
class CompileObserver {
  public:
    virtual ~CompileObserver() = default;
    virtual void begin(std::string_view /*normalized*/, const std::vector<uint32_t>& /*origins*/) {}
    // A CommandList entry made at `position` (command, label or brace).
    virtual void statement(size_t /*position*/, size_t /*commandIndex*/) {}
    virtual void skippedWord(size_t /*position*/, std::string_view /*word*/) {}
    // An argument piece; `parameter` is the position it binds to (-1: dropped).
    virtual void piece(size_t /*position*/, std::string_view /*command*/,
                       std::string_view /*piece*/, int /*parameter*/, bool /*named*/) {}
    virtual void value(size_t /*position*/, std::string_view /*text*/,
                       const ValueReport& /*report*/, const ScriptImage& /*image*/) {}
    virtual void variableReference(size_t /*position*/, std::string_view /*keyword*/) {}
    virtual void nestedCommand(size_t /*position*/, std::string_view /*name*/) {}
    virtual void unterminated(size_t /*position*/, std::string_view /*what*/) {}
};

class ScriptCompiler {
  public:
    // Always succeeds; the image is emptied first.
    void compile(std::string_view text, ScriptImage& image, CompileObserver* observer = nullptr);

  private:
    struct State;
};

inline void compileScript(std::string_view text, ScriptImage& image) {
    ScriptCompiler().compile(text, image);
}

}  // namespace vaxo2::script
