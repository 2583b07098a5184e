#include "script/compiler.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "script/command_table.h"

namespace vaxo2::script {
namespace {

constexpr std::string_view kWordDelimiters = " +-*=/()\"?^|&!%[]><;:{}";
constexpr std::string_view kOperators[] = {"==", ">=", "=>", "<=", "=<", "<<", ">>",
                                           "&&", "||", "+",  "-",  "<",  ">",  "=",
                                           "*",  "/",  "^",  "%",  "&",  "|"};
constexpr std::string_view kVariableKeywords[] = {"Flag",   "LocalFlag",   "GlobalFlag",
                                                  "String", "LocalString", "GlobalString"};

bool isDelimiter(char c) {
    return kWordDelimiters.find(c) != std::string_view::npos;
}

// Length of the character at `pos`: what its lead byte announces, at least 1, never past the
// end, and never over a byte that cannot continue it. A broken sequence thus never swallows the
// quote, bracket or colon after it, and every scan, from wherever it starts, passes through the
// same ASCII positions (which keeps the top-level colon search below linear).
size_t multiByteStep(std::string_view text, size_t pos) {
    size_t n = static_cast<size_t>(characterLength(static_cast<unsigned char>(text[pos])));
    n = std::min(n, text.size() - pos);
    size_t length = 1;
    while (length < n && (static_cast<unsigned char>(text[pos + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

inline size_t stepAt(std::string_view text, size_t pos) {
    return static_cast<unsigned char>(text[pos]) < 0x80 ? 1 : multiByteStep(text, pos);
}

// White space that becomes one space (outside strings), and the subset that ends a comment.
size_t whiteSpaceLength(std::string_view text, size_t pos, bool commentEndOnly) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == '\r' || c == '\n') return 1;
    if (!commentEndOnly && c == '\t') return 1;
    std::string_view rest = text.substr(pos);
    if (rest.size() >= 2 && c == 0xC2 && static_cast<unsigned char>(rest[1]) == 0x85) return 2;
    if (rest.size() >= 3 && c == 0xE2 && static_cast<unsigned char>(rest[1]) == 0x80 &&
        (static_cast<unsigned char>(rest[2]) == 0xA8 ||
         static_cast<unsigned char>(rest[2]) == 0xA9))
        return 3;
    if (!commentEndOnly && rest.size() >= 3) {
        if (c == 0xE3 && static_cast<unsigned char>(rest[1]) == 0x80 &&
            static_cast<unsigned char>(rest[2]) == 0x80)
            return 3;
        if (c == 0xEF && static_cast<unsigned char>(rest[1]) == 0xBB &&
            static_cast<unsigned char>(rest[2]) == 0xBF)
            return 3;
    }
    return 0;
}

struct Depths {
    int paren = 0, square = 0, brace = 0;
    // Updates for `c`; false when a depth fell below 0.
    bool apply(char c) {
        switch (c) {
            case '(':
                ++paren;
                break;
            case ')':
                --paren;
                break;
            case '[':
                ++square;
                break;
            case ']':
                --square;
                break;
            case '{':
                ++brace;
                break;
            case '}':
                --brace;
                break;
            default:
                break;
        }
        return paren >= 0 && square >= 0 && brace >= 0;
    }
    bool zero() const { return paren == 0 && square == 0 && brace == 0; }
};

void appendU64(std::vector<uint8_t>& pool, uint64_t v) {
    for (int b = 0; b < 8; ++b)
        pool.push_back(static_cast<uint8_t>(v >> (8 * b)));
}

// True when `text` has `separator` at depth 0 outside strings (before any depth underflow):
// the cheap test for "two or more pieces".
bool hasTopLevel(std::string_view text, char separator) {
    bool inString = false;
    Depths d;
    for (size_t pos = 0; pos < text.size(); pos += stepAt(text, pos)) {
        char c = text[pos];
        if (c == '"') {
            inString = !inString;
            continue;
        }
        if (inString) continue;
        if (!d.apply(c)) return false;
        if (c == separator && d.zero()) return true;
    }
    return false;
}

// hasTopLevel(text.substr(p), ':') for every position p at once. Asked at each operand of a
// long value, the direct scan would make tokenizing quadratic. One scan over the whole value
// visits every ASCII position (see stepAt); every operand of a value lies at one, outside a
// string, and a scan started there follows the same path with depths counted from there. So:
// with D the depths after each character, the scan from p finds a colon at depth zero when the
// nearest colon after p with D equal to the depths before p comes before the nearest point
// where a depth falls below its value before p. Both are found for all p in one backward pass.
class TopLevelColonIndex {
  public:
    explicit TopLevelColonIndex(std::string_view text) : answer_(text.size() + 1, kUnknown) {
        struct Node {
            size_t pos;
            int8_t component;  // 0 (), 1 [], 2 {}, -1 none
            int8_t delta;
            bool colon;
            bool outside;  // not inside a string
        };
        std::vector<Node> nodes;
        std::array<int64_t, 3> depth{0, 0, 0}, low{0, 0, 0}, high{0, 0, 0};
        bool inString = false;
        for (size_t pos = 0; pos < text.size(); pos += stepAt(text, pos)) {
            const char c = text[pos];
            Node node{pos, -1, 0, false, !inString};
            if (c == '"') {
                inString = !inString;
            } else if (!inString) {
                static constexpr std::string_view kOpen = "([{", kClose = ")]}";
                if (size_t k = kOpen.find(c); k != std::string_view::npos) {
                    node.component = static_cast<int8_t>(k);
                    node.delta = 1;
                } else if (size_t k2 = kClose.find(c); k2 != std::string_view::npos) {
                    node.component = static_cast<int8_t>(k2);
                    node.delta = -1;
                }
                node.colon = c == ':';
                if (node.component >= 0) {
                    int64_t& d = depth[static_cast<size_t>(node.component)];
                    d += node.delta;
                    low[static_cast<size_t>(node.component)] =
                        std::min(low[static_cast<size_t>(node.component)], d);
                    high[static_cast<size_t>(node.component)] =
                        std::max(high[static_cast<size_t>(node.component)], d);
                }
            }
            nodes.push_back(node);
        }
        constexpr size_t kNone = SIZE_MAX;
        // lastAt[k][v - low[k]]: the nearest node (so far, going backwards) after which depth k
        // is v.
        std::array<std::vector<size_t>, 3> lastAt;
        for (size_t k = 0; k < 3; ++k)
            lastAt[k].assign(static_cast<size_t>(high[k] - low[k] + 1), kNone);
        struct KeyHash {
            size_t operator()(const std::array<int64_t, 3>& key) const {
                return std::hash<int64_t>{}(key[0] * 1000003 ^ key[1] * 7919 ^ key[2]);
            }
        };
        std::unordered_map<std::array<int64_t, 3>, size_t, KeyHash> colonAt;
        for (size_t i = nodes.size(); i-- > 0;) {
            const Node& node = nodes[i];
            if (!node.outside) continue;  // inside a string depths do not move
            for (size_t k = 0; k < 3; ++k)
                lastAt[k][static_cast<size_t>(depth[k] - low[k])] = i;
            if (node.colon) colonAt[depth] = i;
            std::array<int64_t, 3> before = depth;
            if (node.component >= 0) before[static_cast<size_t>(node.component)] -= node.delta;
            size_t underflow = kNone;
            for (size_t k = 0; k < 3; ++k) {
                if (before[k] - 1 >= low[k])
                    underflow =
                        std::min(underflow, lastAt[k][static_cast<size_t>(before[k] - 1 - low[k])]);
            }
            auto colon = colonAt.find(before);
            answer_[node.pos] = colon != colonAt.end() && colon->second < underflow ? kYes : kNo;
            depth = before;
        }
    }

    // The answer for `pos`, or nothing for a position the scan did not pass outside a string.
    std::optional<bool> at(size_t pos) const {
        if (pos >= answer_.size() || answer_[pos] == kUnknown) return std::nullopt;
        return answer_[pos] == kYes;
    }

  private:
    static constexpr uint8_t kUnknown = 0, kNo = 1, kYes = 2;
    std::vector<uint8_t> answer_;
};

}  // namespace

int characterLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC0 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    if (lead >= 0xF8 && lead <= 0xFB) return 5;
    if (lead >= 0xFC && lead <= 0xFD) return 6;
    return 0;
}

std::string normalizeText(std::string_view text, std::vector<uint32_t>* origins) {
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    bool lastSpace = false;  // the last byte written was a space outside strings
    size_t pos = 0;
    // Each written byte remembers where it came from (for diagnostics only).
    auto emit = [&](std::string_view bytes) {
        out.append(bytes);
        if (origins) origins->resize(out.size(), static_cast<uint32_t>(pos));
    };
    auto putSpace = [&] {
        if (!lastSpace) emit(" ");
        lastSpace = true;
    };
    while (pos < text.size()) {
        char c = text[pos];
        // Plain ASCII that is neither a quote, a slash nor white space is copied as it is.
        if (!origins && static_cast<unsigned char>(c) > ' ' &&
            static_cast<unsigned char>(c) < 0x80 && c != '"' && (c != '/' || inString)) {
            out.push_back(c);
            lastSpace = false;
            ++pos;
            continue;
        }
        if (inString) {
            size_t n = stepAt(text, pos);
            emit(text.substr(pos, n));
            if (c == '"') inString = false;
            lastSpace = false;
            pos += n;
            continue;
        }
        if (c == '"') {
            inString = true;
            emit(text.substr(pos, 1));
            lastSpace = false;
            ++pos;
            continue;
        }
        if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '/') {
            putSpace();
            pos += 2;
            while (pos < text.size() && whiteSpaceLength(text, pos, true) == 0)
                pos += stepAt(text, pos);
            continue;
        }
        if (c == ' ') {
            putSpace();
            ++pos;
            continue;
        }
        if (size_t w = whiteSpaceLength(text, pos, false)) {
            putSpace();
            pos += w;
            continue;
        }
        size_t n = stepAt(text, pos);
        emit(text.substr(pos, n));
        lastSpace = false;
        pos += n;
    }
    return out;
}

std::string groupAt(std::string_view text, size_t position, std::string_view opener,
                    size_t* consumed) {
    if (consumed) *consumed = position;
    size_t start = position;
    size_t pos = position;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    if (!opener.empty() && text.substr(pos, opener.size()) != opener) return {};
    bool inString = false;
    Depths d;
    bool endedInString = false;
    while (pos < text.size()) {
        char c = text[pos];
        if (inString) {
            if (c == '\r' || c == '\n') {
                endedInString = true;
                break;
            }
            if (c == '"') inString = false;
            pos += stepAt(text, pos);
            continue;
        }
        if (c == '"') {
            inString = true;
            ++pos;
            continue;
        }
        if (!d.apply(c)) return {};
        pos += stepAt(text, pos);
        if (d.zero()) break;
    }
    if (pos >= text.size() && inString) endedInString = true;
    std::string group(text.substr(start, pos - start));
    if (consumed) *consumed = pos;
    if (endedInString) group.push_back('"');
    group.append(static_cast<size_t>(std::max(d.paren, 0)), ')');
    group.append(static_cast<size_t>(std::max(d.square, 0)), ']');
    group.append(static_cast<size_t>(std::max(d.brace, 0)), '}');
    return group;
}

std::vector<std::string_view> splitPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    bool any = false;
    for (char c : text) {
        if (c != ' ') {
            any = true;
            break;
        }
    }
    if (!any) return pieces;
    auto trimmed = [&](size_t from, size_t to) {
        while (from < to && (text[from] == ' ' || text[from] == separator))
            ++from;
        // Trim back over whole characters: find the last character that is neither.
        size_t end = from;
        size_t p = from;
        while (p < to) {
            size_t n = std::min(stepAt(text, p), to - p);
            if (!(n == 1 && (text[p] == ' ' || text[p] == separator))) end = p + n;
            p += n;
        }
        pieces.push_back(text.substr(from, end - from));
    };
    bool inString = false;
    Depths d;
    size_t pieceStart = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        char c = text[pos];
        if (inString) {
            if (c == '"') inString = false;
            pos += stepAt(text, pos);
            continue;
        }
        if (c == '"') {
            inString = true;
            ++pos;
            continue;
        }
        if (!d.apply(c)) break;
        if (c == separator && d.zero()) {
            trimmed(pieceStart, pos);
            pieceStart = pos + 1;
        }
        pos += stepAt(text, pos);
    }
    trimmed(pieceStart, pos);
    return pieces;
}

std::vector<int8_t> topLevelColonMap(std::string_view value) {
    const TopLevelColonIndex index(value);
    std::vector<int8_t> map(value.size());
    for (size_t pos = 0; pos < value.size(); ++pos) {
        const std::optional<bool> known = index.at(pos);
        map[pos] = known ? static_cast<int8_t>(*known) : int8_t{-1};
    }
    return map;
}

size_t pieceCount(std::string_view text, char separator) {
    return splitPieces(text, separator).size();
}

std::string pieceAt(std::string_view text, size_t index, char separator) {
    auto pieces = splitPieces(text, separator);
    if (index >= pieces.size()) return {};
    return std::string(pieces[index]);
}

bool isIntegerLiteral(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t zeros = 0;
    while (i < t.size() && t[i] == '0') {
        ++i;
        ++zeros;
    }
    if (i < t.size() && (t[i] == 'x' || t[i] == 'X')) {
        ++i;
        size_t hex = 0;
        while (i < t.size() && std::isxdigit(static_cast<unsigned char>(t[i]))) {
            ++i;
            ++hex;
        }
        return hex > 0 && i == t.size();
    }
    size_t digits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        ++i;
        ++digits;
    }
    return zeros + digits > 0 && i == t.size();
}

bool isRealLiteral(std::string_view t) {
    if (t.find('.') == std::string_view::npos) return false;
    size_t i = 0;
    auto skip = [&](auto pred) {
        size_t n = 0;
        while (i < t.size() && pred(t[i])) {
            ++i;
            ++n;
        }
        return n;
    };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t mantissa = skip(digit);
    if (i < t.size() && t[i] == '.') ++i;
    mantissa += skip(digit);
    skip([](char c) { return c == 'd' || c == 'D' || c == 'e' || c == 'E'; });
    skip([](char c) { return c == '+' || c == '-'; });
    skip(digit);
    return mantissa > 0 && i == t.size();
}

bool isVariableKeyword(std::string_view word) {
    for (std::string_view k : kVariableKeywords) {
        if (word == k) return true;
    }
    return false;
}

std::string_view wordAt(std::string_view text, size_t position) {
    size_t end = position;
    while (end < text.size() && !isDelimiter(text[end]))
        ++end;
    return text.substr(position, end - position);
}

int bindNamedPiece(std::string_view piece, const std::vector<std::string>& names,
                   std::string_view& value) {
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (piece.substr(0, name.size()) != name) continue;
        size_t p = name.size();
        while (p < piece.size() && piece[p] == ' ')
            ++p;
        if (p == piece.size()) {
            value = "1";
            return static_cast<int>(i);
        }
        if (piece[p] == '=') {
            ++p;
            while (p < piece.size() && piece[p] == ' ')
                ++p;
            value = piece.substr(p);
            return static_cast<int>(i);
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------

// Lets the pools be searched with a string_view without building a string.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using TextMap = std::unordered_map<std::string, int32_t, TextHash, std::equal_to<>>;

// Parameter names of every command, built once.
const std::vector<std::string>& cachedParameterNames(int index) {
    static const std::vector<std::vector<std::string>> all = [] {
        std::vector<std::vector<std::string>> v;
        for (int i = 0; i < kCommandCount; ++i)
            v.push_back(parameterNames(i));
        return v;
    }();
    return all[static_cast<size_t>(index)];
}

struct ScriptCompiler::State {
    ScriptImage& image;
    TextMap names, labels, strings;
    std::unordered_map<int64_t, int32_t> integers;
    std::unordered_map<double, int32_t> reals;
    // Rest of a value short enough to scan directly for a top-level colon at each operand.
    static constexpr size_t kDirectColonScan = 256;
    // Nesting of values inside values (lists, commands written as arguments). Deeper text is
    // ignored like any other unrecognised value, so hostile input cannot exhaust the stack.
    int depth = 0;
    static constexpr int kMaxDepth = 64;

    CompileObserver* observer = nullptr;
    // Maps text views back to positions in the normalized text, for the observer: views point
    // either into it or into one of the argument-group copies on this stack.
    const char* base = nullptr;
    size_t baseSize = 0;
    struct Copy {
        const char* data;
        size_t size;
        size_t origin;
    };
    std::vector<Copy> copies;

    explicit State(ScriptImage& img) : image(img) {}

    size_t where(const char* p) const {
        if (p >= base && p <= base + baseSize) return static_cast<size_t>(p - base);
        for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
            if (p >= it->data && p <= it->data + it->size)
                return it->origin + static_cast<size_t>(p - it->data);
        }
        return 0;
    }

    int32_t poolText(std::string_view text) {
        int32_t at = static_cast<int32_t>(image.dataPool.size());
        image.dataPool.insert(image.dataPool.end(), text.begin(), text.end());
        image.dataPool.push_back(0);
        return at;
    }

    int32_t addElement(ElementKind kind, int32_t name, int32_t link) {
        image.elementTable.push_back(ScriptElement{static_cast<int32_t>(kind), name, link});
        return static_cast<int32_t>(image.elementTable.size() - 1);
    }

    int32_t sharedText(TextMap& map, ElementKind kind, std::string_view text) {
        auto it = map.find(text);
        if (it != map.end()) return it->second;
        int32_t offset = poolText(text);
        int32_t idx = kind == ElementKind::String ? addElement(kind, -1, offset)
                                                  : addElement(kind, offset, -1);
        map.emplace(std::string(text), idx);
        return idx;
    }

    int32_t integerElement(int64_t v) {
        auto it = integers.find(v);
        if (it != integers.end()) return it->second;
        int32_t offset = static_cast<int32_t>(image.dataPool.size());
        appendU64(image.dataPool, static_cast<uint64_t>(v));
        int32_t idx = addElement(ElementKind::Integer, -1, offset);
        integers.emplace(v, idx);
        return idx;
    }

    int32_t realElement(double v) {
        auto it = reals.find(v);
        if (it != reals.end()) return it->second;
        int32_t offset = static_cast<int32_t>(image.dataPool.size());
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        appendU64(image.dataPool, bits);
        int32_t idx = addElement(ElementKind::Real, -1, offset);
        reals.emplace(v, idx);
        return idx;
    }

    int32_t appendList(const std::vector<int32_t>& items) {
        int32_t at = static_cast<int32_t>(image.argumentLists.size());
        image.argumentLists.push_back(static_cast<int32_t>(items.size()));
        image.argumentLists.insert(image.argumentLists.end(), items.begin(), items.end());
        return at;
    }

    // A command with its argument group; returns its Command element.
    int32_t compileCommand(std::string_view name, std::string_view group, size_t origin) {
        size_t lead = 0;
        while (lead < group.size() && group[lead] == ' ')
            ++lead;
        std::string paren = groupAt(group.substr(lead), 0, "(");
        std::string_view inside;
        if (paren.size() >= 2) inside = std::string_view(paren).substr(1, paren.size() - 2);
        std::vector<std::string_view> pieces = splitPieces(inside, ',');
        if (observer) copies.push_back(Copy{paren.data(), paren.size(), origin + lead});

        const std::vector<std::string>& params = cachedParameterNames(lookupCommand(name));
        std::vector<std::string_view> values;
        std::vector<bool> present;
        bool anyNamed = false;
        std::vector<int> bindings;
        for (std::string_view piece : pieces) {
            std::string_view value;
            int pos = bindNamedPiece(piece, params, value);
            if (observer) bindings.push_back(pos);
            if (pos < 0) continue;
            if (static_cast<size_t>(pos) >= values.size()) {
                values.resize(static_cast<size_t>(pos) + 1);
                present.resize(static_cast<size_t>(pos) + 1, false);
            }
            values[static_cast<size_t>(pos)] = value;
            present[static_cast<size_t>(pos)] = true;
            anyNamed = true;
        }
        if (!anyNamed) {
            values = pieces;
            present.assign(values.size(), true);
        }
        if (observer) {
            for (size_t i = 0; i < pieces.size(); ++i)
                observer->piece(where(pieces[i].data()), name, pieces[i],
                                anyNamed ? bindings[i] : static_cast<int>(i), anyNamed);
        }
        std::vector<int32_t> items;
        items.reserve(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            items.push_back(present[i] ? compileValue(values[i]) : -1);
        int32_t list = appendList(items);
        if (observer) copies.pop_back();
        return addElement(ElementKind::Command, poolText(name), list);
    }

    // One argument value to an element index (-1: not given).
    int32_t compileValue(std::string_view value) {
        if (depth >= kMaxDepth) return -1;
        std::vector<int32_t> toks;
        ++depth;
        size_t used = tokenize(value, toks);
        --depth;
        if (observer) {
            ValueReport r;
            r.tokens = toks.size();
            r.unused = value.substr(std::min(used, value.size()));
            if (toks.size() == 1) r.element = toks[0];
            observer->value(where(value.data()), value, r, image);
        }
        if (toks.empty()) return -1;
        if (toks.size() == 1) return toks[0];
        int32_t temp = image.temporaryCount++;
        int32_t variable = addElement(ElementKind::Variable, -1, temp);
        int32_t list = appendList(toks);
        int32_t assign = addElement(ElementKind::Command, poolText("="), list);
        image.commandList.push_back(variable);
        image.commandList.push_back(assign);
        return variable;
    }

    // Returns how much of `v` was used.
    size_t tokenize(std::string_view v, std::vector<int32_t>& out) {
        bool operand = true;
        size_t pos = 0;
        // The whole-rest forms need a colon, a point or a number start in the rest; knowing
        // where the last colon and point are keeps long expressions linear.
        const size_t lastColon = v.rfind(':');
        const size_t lastDot = v.rfind('.');
        // The first question is answered by one scan; a long value asked again gets the index.
        std::optional<TopLevelColonIndex> colonIndex;
        int colonQuestions = 0;
        auto topLevelColon = [&](size_t at) {
            if (++colonQuestions > 1 && v.size() - at > kDirectColonScan) {
                if (!colonIndex) colonIndex.emplace(v);
                if (std::optional<bool> known = colonIndex->at(at)) return *known;
            }
            return hasTopLevel(v.substr(at), ':');
        };
        auto numberStart = [](char c) {
            return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'x' ||
                   c == 'X';
        };
        while (pos < v.size()) {
            if (v[pos] == ' ') {
                out.push_back(-1);
                ++pos;
                continue;
            }
            if (!operand) {
                bool found = false;
                for (std::string_view op : kOperators) {
                    if (v.substr(pos, op.size()) == op) {
                        out.push_back(sharedText(names, ElementKind::Name, op));
                        pos += op.size();
                        found = true;
                        break;
                    }
                }
                if (!found) return pos;
                operand = true;
                continue;
            }
            std::string_view rest = v.substr(pos);
            // Whole-rest forms first.
            std::vector<std::string_view> items;
            if (lastColon != std::string_view::npos && lastColon >= pos && topLevelColon(pos))
                items = splitPieces(rest, ':');
            if (items.size() >= 2) {
                std::vector<int32_t> elems;
                elems.reserve(items.size());
                for (std::string_view item : items)
                    elems.push_back(compileValue(item));
                int32_t list = appendList(elems);
                out.push_back(addElement(ElementKind::List, poolText(""), list));
                return v.size();
            }
            if (numberStart(rest[0]) && isIntegerLiteral(rest)) {
                std::string s(rest);
                out.push_back(integerElement(std::strtoll(s.c_str(), nullptr, 0)));
                return v.size();
            }
            if (lastDot != std::string_view::npos && lastDot >= pos && numberStart(rest[0]) &&
                isRealLiteral(rest)) {
                std::string s(rest);
                out.push_back(realElement(std::strtod(s.c_str(), nullptr)));
                return v.size();
            }
            std::string_view word = wordAt(v, pos);
            if (isVariableKeyword(word)) {
                size_t end = pos + word.size();
                size_t consumed = end;
                if (!groupAt(v, end, "[", &consumed).empty()) end = consumed;
                if (observer) observer->variableReference(where(v.data() + pos), word);
                out.push_back(-1);
                pos = end;
                operand = false;
                continue;
            }
            if (v[pos] == '(' || v[pos] == ')') {
                out.push_back(sharedText(names, ElementKind::Name, v.substr(pos, 1)));
                ++pos;
                continue;
            }
            if (v[pos] == '"') {
                size_t close = v.find('"', pos + 1);
                std::string_view lit = close == std::string_view::npos
                                           ? v.substr(pos + 1)
                                           : v.substr(pos + 1, close - pos - 1);
                if (observer && close == std::string_view::npos)
                    observer->unterminated(where(v.data() + pos), "string");
                out.push_back(sharedText(strings, ElementKind::String, lit));
                pos = close == std::string_view::npos ? v.size() : close + 1;
                operand = false;
                continue;
            }
            if (!word.empty() && lookupCommand(word) > 0) {
                size_t end = pos + word.size();
                size_t consumed = end;
                std::string group = groupAt(v, end, "(", &consumed);
                if (observer) {
                    observer->nestedCommand(where(v.data() + pos), word);
                    if (!group.empty() && group.size() > consumed - end)
                        observer->unterminated(where(v.data() + end), "argument group");
                }
                out.push_back(compileCommand(word, group, where(v.data() + end)));
                pos = group.empty() ? end : consumed;
                operand = false;
                continue;
            }
            if (!word.empty() && word[0] == '#') {
                out.push_back(sharedText(labels, ElementKind::Label, word));
                pos += word.size();
                operand = false;
                continue;
            }
            return pos;
        }
        return pos;
    }
};

void ScriptCompiler::compile(std::string_view source, ScriptImage& image,
                             CompileObserver* observer) {
    image.clear();
    image.commandList.reserve(source.size() / 20);
    image.argumentLists.reserve(source.size() / 10);
    image.elementTable.reserve(source.size() / 10);
    image.dataPool.reserve(source.size());

    std::vector<uint32_t> origins;
    const std::string text = normalizeText(source, observer ? &origins : nullptr);
    State st(image);
    std::string_view t = text;
    st.observer = observer;
    st.base = text.data();
    st.baseSize = text.size();
    if (observer) observer->begin(text, origins);

    // Pass 3: statements.
    size_t pos = 0;
    while (pos < t.size()) {
        unsigned char c = static_cast<unsigned char>(t[pos]);
        if (characterLength(c) == 0 || c == ' ' || c == ';') {
            ++pos;
            continue;
        }
        if (c == '{' || c == '}') {
            int32_t e = st.addElement(ElementKind::Parenthesis, st.poolText(t.substr(pos, 1)), -1);
            if (observer) observer->statement(pos, image.commandList.size());
            image.commandList.push_back(e);
            ++pos;
            continue;
        }
        std::string_view word = wordAt(t, pos);
        if (word.empty()) {
            pos += stepAt(t, pos);
            continue;
        }
        size_t after = pos + word.size();
        if (lookupCommand(word) > 0) {
            size_t consumed = after;
            std::string group = groupAt(t, after, "(", &consumed);
            if (observer && !group.empty() && group.size() > consumed - after)
                observer->unterminated(after, "argument group");
            int32_t cmd = st.compileCommand(word, group, after);
            if (observer) observer->statement(pos, image.commandList.size());
            image.commandList.push_back(cmd);
            pos = group.empty() ? after : consumed;
            continue;
        }
        if (!isVariableKeyword(word) && word[0] == '#') {
            if (observer) observer->statement(pos, image.commandList.size());
            image.commandList.push_back(st.sharedText(st.labels, ElementKind::Label, word));
        } else if (observer) {
            observer->skippedWord(pos, word);
        }
        pos = after;
    }

    // Pass 4: labels point at their first statement.
    for (size_t i = 0; i < image.commandList.size(); ++i) {
        ScriptElement& e = image.elementTable[static_cast<size_t>(image.commandList[i])];
        if (e.kind == static_cast<int32_t>(ElementKind::Label) && e.link == -1)
            e.link = static_cast<int32_t>(i);
    }

    // Pass 5: braces, matched by nesting.
    std::vector<size_t> open;
    for (size_t i = 0; i < image.commandList.size(); ++i) {
        ScriptElement& e = image.elementTable[static_cast<size_t>(image.commandList[i])];
        if (e.kind != static_cast<int32_t>(ElementKind::Parenthesis)) continue;
        if (image.dataPool[static_cast<size_t>(e.name)] == '{') {
            open.push_back(i);
        } else if (!open.empty()) {
            size_t j = open.back();
            open.pop_back();
            image.elementTable[static_cast<size_t>(image.commandList[j])].link =
                static_cast<int32_t>(i);
            e.link = static_cast<int32_t>(j);
        }
    }
}

}  // namespace vaxo2::script
