#pragma once
// Diagnostics for scenario writers: everything the runtime's compiler silently drops, changes
// or cannot find, with line and column.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vaxo2::script {

struct LintDiagnostic {
    enum class Severity { Warning, Error };
    Severity severity = Severity::Error;
    int line = 1;    // 1-based
    int column = 1;  // 1-based, in characters
    std::string message;
};

struct LintOptions {
    // When set, File arguments of script and picture commands are checked with it.
    std::function<bool(const std::string& name)> resourceExists;
    // The script's own name as the runtime loads it (a bare file name when its folder in the
    // game is unknown); when set, a ScriptCall of the script itself is pointed out.
    std::string scriptName;
};

// Lints one decoded (UTF-8) script text. Diagnostics are in text order.
std::vector<LintDiagnostic> lintScript(std::string_view text, const LintOptions& options = {});

// A command name close to `word` (different case or up to two edits), or empty.
std::string closestCommandName(std::string_view word);

// "file:line:col: error: message"
std::string formatDiagnostic(const std::string& file, const LintDiagnostic& d);

}  // namespace vaxo2::script
