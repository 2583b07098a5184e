#include "script/lint.h"

#include <algorithm>
#include <cctype>

#include "script/command_table.h"
#include "script/compiler.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

// Edits between two words, a swap of neighbours counting as one (typing slips).
size_t editDistance(std::string_view a, std::string_view b) {
    const size_t w = b.size() + 1;
    std::vector<size_t> d((a.size() + 1) * w);
    for (size_t i = 0; i <= a.size(); ++i)
        d[i * w] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            size_t v = std::min(
                {d[(i - 1) * w + j] + 1, d[i * w + j - 1] + 1, d[(i - 1) * w + j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                v = std::min(v, d[(i - 2) * w + j - 2] + 1);
            d[i * w + j] = v;
        }
    }
    return d[a.size() * w + b.size()];
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The closest of `candidates` within two edits (ignoring case), or empty.
std::string closest(std::string_view word, const std::vector<std::string>& candidates) {
    if (word.size() < 3 || word.size() > 64) return {};
    std::string lw = lower(word);
    std::string best;
    size_t bestDistance = 3;
    for (const std::string& c : candidates) {
        if (c == word || c.size() + 2 < word.size() || word.size() + 2 < c.size()) continue;
        size_t d = editDistance(lw, lower(c));
        if (d < bestDistance && d * 3 <= c.size()) {
            bestDistance = d;
            best = c;
        }
    }
    return best;
}

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (int i = 1; i < kCommandCount; ++i)
        names.emplace_back(commandTable()[static_cast<size_t>(i)].name);
    return names;
}

bool isScriptCommand(std::string_view n) {
    return n == "ScriptJump" || n == "ScriptCall" || n == "IfScriptJump" || n == "IfScriptCall";
}

bool isPictureCommand(std::string_view n) {
    return n == "Graphic" || n == "GraphicAlter" || n == "Transition";
}

class LintObserver : public CompileObserver {
  public:
    LintObserver(std::string_view source, std::vector<LintDiagnostic>& out)
        : source_(source), out_(out) {
        // CR LF, CR and LF each end a line.
        lineStarts_.push_back(0);
        for (size_t i = 0; i < source.size(); ++i) {
            if (source[i] == '\n' ||
                (source[i] == '\r' && (i + 1 >= source.size() || source[i + 1] != '\n')))
                lineStarts_.push_back(i + 1);
        }
    }

    void begin(std::string_view normalized, const std::vector<uint32_t>& origins) override {
        // Kept: finish() reports after the compiler's own buffers are gone.
        origins_ = origins;
        // A quote left open at the end swallows the rest of the script into one string.
        size_t lastQuote = std::string_view::npos;
        bool open = false;
        for (size_t i = 0; i < normalized.size(); ++i) {
            if (normalized[i] == '"') {
                open = !open;
                lastQuote = i;
            }
        }
        if (open)
            report(lastQuote, LintDiagnostic::Severity::Error,
                   "unterminated string: everything after this quote is inside it");
    }

    void statement(size_t position, size_t index) override {
        if (statementAt_.size() <= index) statementAt_.resize(index + 1, 0);
        statementAt_[index] = position;
    }

    void skippedWord(size_t position, std::string_view word) override {
        // Line breaks kept inside a broken string are not words a writer would recognise.
        while (!word.empty() && static_cast<unsigned char>(word.front()) <= ' ') {
            word.remove_prefix(1);
            ++position;
        }
        while (!word.empty() && static_cast<unsigned char>(word.back()) <= ' ')
            word.remove_suffix(1);
        if (word.empty()) return;
        if (word == "Dammy") {
            report(position, LintDiagnostic::Severity::Warning,
                   "'Dammy' is never run as a command; it is skipped");
            return;
        }
        if (isVariableKeyword(word)) {
            report(position, LintDiagnostic::Severity::Warning,
                   "variable keyword '" + std::string(word) + "' outside an argument does nothing");
            return;
        }
        std::string near = closestCommandName(word);
        if (!near.empty()) {
            report(position, LintDiagnostic::Severity::Error,
                   "unknown command '" + std::string(word) + "'; did you mean '" + near + "'?");
        } else {
            report(position, LintDiagnostic::Severity::Error,
                   "'" + shorten(word) + "' is not a statement and is skipped");
        }
    }

    void piece(size_t position, std::string_view command, std::string_view piece, int parameter,
               bool named) override {
        const int index = lookupCommand(command);
        const std::vector<std::string> params = parameterNames(index);
        const std::string name = leadingName(piece);
        if (named && parameter < 0) {
            std::string msg = "argument '" + shorten(piece) + "' matches no parameter of " +
                              std::string(command) + " and is dropped";
            std::string near = closest(name, params);
            if (!near.empty()) msg += "; did you mean '" + near + "'?";
            report(position, LintDiagnostic::Severity::Error, msg);
            return;
        }
        if (!named) {
            if (!name.empty()) {
                std::string msg = "'" + name + "' is not a parameter of " + std::string(command) +
                                  "; the argument is taken as positional";
                std::string near = closest(name, params);
                if (!near.empty()) msg += "; did you mean '" + near + "'?";
                report(position, LintDiagnostic::Severity::Error, msg);
            } else if (static_cast<size_t>(parameter) >= params.size()) {
                report(position, LintDiagnostic::Severity::Error,
                       "positional argument " + std::to_string(parameter + 1) + " is beyond " +
                           std::string(command) + "'s " + std::to_string(params.size()) +
                           " parameters");
            }
        }
    }

    void value(size_t position, std::string_view text, const ValueReport& r,
               const ScriptImage&) override {
        if (r.tokens == 0) {
            if (text.empty())
                report(position, LintDiagnostic::Severity::Error,
                       "empty value: the parameter is not given");
            else
                report(position, LintDiagnostic::Severity::Error,
                       "value '" + shorten(text) +
                           "' compiles to nothing, so the parameter is not given (numbers count "
                           "only as a whole value; write text between double quotes)");
            return;
        }
        if (!r.unused.empty()) {
            report(position + static_cast<size_t>(r.unused.data() - text.data()),
                   LintDiagnostic::Severity::Error,
                   "value text '" + shorten(r.unused) + "' is not understood and is ignored");
        }
        if (r.tokens >= 2) {
            report(position, LintDiagnostic::Severity::Error,
                   "expression '" + shorten(text) +
                       "' is never evaluated; the parameter binds None at run time");
        }
    }

    void variableReference(size_t position, std::string_view keyword) override {
        report(position, LintDiagnostic::Severity::Error,
               "variable keyword '" + std::string(keyword) +
                   "' has no value; the parameter binds None at run time");
    }

    void nestedCommand(size_t position, std::string_view name) override {
        report(position, LintDiagnostic::Severity::Error,
               "command '" + std::string(name) +
                   "' written as a value is never run; the parameter binds None");
    }

    void unterminated(size_t position, std::string_view what) override {
        report(position, LintDiagnostic::Severity::Error,
               "unterminated " + std::string(what) + ": closed where the text or line ends");
    }

    void finish(const ScriptContext& context, const LintOptions& options) {
        const ScriptImage& image = context.image;
        for (size_t i = 0; i < image.commandList.size(); ++i) {
            const ScriptElement* e = image.element(image.commandList[i]);
            if (!e || i >= statementAt_.size()) continue;
            const size_t at = statementAt_[i];
            const auto kind = static_cast<ElementKind>(e->kind);
            if (kind == ElementKind::Parenthesis && e->link < 0) {
                report(at, LintDiagnostic::Severity::Error,
                       "unmatched '" + std::string(image.text(e->name).value_or("?")) + "'");
            } else if (kind == ElementKind::Label && e->link != static_cast<int32_t>(i)) {
                report(at, LintDiagnostic::Severity::Error,
                       "duplicate label '" + std::string(image.text(e->name).value_or("")) +
                           "'; only its first occurrence counts");
            } else if (kind == ElementKind::Command) {
                if (options.resourceExists) checkFile(context, *e, at, options);
                // A call as the last statement ends its caller at once: no deeper.
                if (!options.scriptName.empty() && i + 1 < image.commandList.size())
                    checkSelfCall(context, *e, at, options.scriptName);
            }
        }
    }

  private:
    void checkSelfCall(const ScriptContext& context, const ScriptElement& e, size_t at,
                       const std::string& self) {
        std::string_view name = context.image.text(e.name).value_or("");
        if (name != "ScriptCall" && name != "IfScriptCall") return;
        const int filePos = parameterIndex(lookupCommand(name), "File");
        std::vector<ScriptValue> args;
        const int32_t n = ScriptInterpreter::bindArguments(context, e.link, args, filePos + 1);
        if (filePos < 0 || filePos >= n) return;
        const ScriptValue& v = args[static_cast<size_t>(filePos)];
        if (v.type != ScriptValueType::String || !sameScript(v.text, self)) return;
        report(at, LintDiagnostic::Severity::Warning,
               std::string(name) + " of this script itself: each call nests one level deeper, " +
                   "and the runtime refuses calls nested " + std::to_string(kMaxScriptDepth) +
                   " deep");
    }

    // Names compared as the loose-file lookup does (either separator, ASCII case ignored); a
    // bare `self` matches the called name's last component.
    static bool sameScript(const std::string& called, const std::string& self) {
        auto normal = [](std::string s) {
            for (char& c : s)
                c = c == '\\' ? '/'
                              : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        const std::string a = normal(called), b = normal(self);
        if (a == b) return true;
        if (b.find('/') != std::string::npos) return false;
        const size_t slash = a.rfind('/');
        return slash != std::string::npos && a.substr(slash + 1) == b;
    }

    void checkFile(const ScriptContext& context, const ScriptElement& e, size_t at,
                   const LintOptions& options) {
        const ScriptImage& image = context.image;
        std::string_view name = image.text(e.name).value_or("");
        const bool script = isScriptCommand(name);
        if (!script && !isPictureCommand(name)) return;
        const int index = lookupCommand(name);
        const int filePos = parameterIndex(index, "File");
        std::vector<ScriptValue> args;
        int32_t n = ScriptInterpreter::bindArguments(context, e.link, args);
        if (filePos < 0 || filePos >= n) return;
        const ScriptValue& v = args[static_cast<size_t>(filePos)];
        if (v.type != ScriptValueType::String || v.text.empty()) return;
        if (!options.resourceExists(v.text)) {
            report(at, LintDiagnostic::Severity::Error,
                   std::string(script ? "script" : "picture") + " \"" + v.text +
                       "\" exists neither in the packs nor on disk");
        }
    }

    static std::string leadingName(std::string_view piece) {
        size_t i = 0;
        while (i < piece.size() &&
               (std::isalnum(static_cast<unsigned char>(piece[i])) || piece[i] == '_'))
            ++i;
        if (i == 0 || std::isdigit(static_cast<unsigned char>(piece[0]))) return {};
        size_t j = i;
        while (j < piece.size() && piece[j] == ' ')
            ++j;
        if (j < piece.size() && piece[j] == '=' && (j + 1 >= piece.size() || piece[j + 1] != '='))
            return std::string(piece.substr(0, i));
        return {};
    }

    static std::string shorten(std::string_view s) {
        if (s.size() <= 60) return std::string(s);
        size_t cut = 57;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            --cut;
        return std::string(s.substr(0, cut)) + "...";
    }

    void report(size_t normalizedPos, LintDiagnostic::Severity severity, std::string message) {
        size_t src = 0;
        if (!origins_.empty()) src = origins_[std::min(normalizedPos, origins_.size() - 1)];
        LintDiagnostic d;
        d.severity = severity;
        d.message = std::move(message);
        // Line and column of `src`.
        auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), src);
        const int line = static_cast<int>(it - lineStarts_.begin());
        const size_t lineStart = lineStarts_[static_cast<size_t>(line - 1)];
        int column = 1;
        for (size_t i = lineStart; i < src && i < source_.size(); ++i) {
            if ((static_cast<unsigned char>(source_[i]) & 0xC0) != 0x80) ++column;
        }
        d.line = line;
        d.column = column;
        out_.push_back(std::move(d));
        order_.push_back(src);
    }

    std::string_view source_;
    std::vector<LintDiagnostic>& out_;
    std::vector<uint32_t> origins_;
    std::vector<size_t> lineStarts_;
    std::vector<size_t> statementAt_;

  public:
    std::vector<size_t> order_;
};

}  // namespace

std::string closestCommandName(std::string_view word) {
    static const std::vector<std::string> names = commandNames();
    return closest(word, names);
}

std::vector<LintDiagnostic> lintScript(std::string_view text, const LintOptions& options) {
    std::vector<LintDiagnostic> found;
    LintObserver observer(text, found);
    ScriptContext context;
    ScriptCompiler().compile(text, context.image, &observer);
    context.sizeTemporaries();
    observer.finish(context, options);
    // Text order (stable for diagnostics at the same place).
    std::vector<size_t> idx(found.size());
    for (size_t i = 0; i < idx.size(); ++i)
        idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(),
                     [&](size_t a, size_t b) { return observer.order_[a] < observer.order_[b]; });
    std::vector<LintDiagnostic> sorted;
    sorted.reserve(found.size());
    for (size_t i : idx)
        sorted.push_back(std::move(found[i]));
    return sorted;
}

std::string formatDiagnostic(const std::string& file, const LintDiagnostic& d) {
    return file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " +
           (d.severity == LintDiagnostic::Severity::Error ? "error" : "warning") + ": " + d.message;
}

}  // namespace vaxo2::script
