// vxsc: compiles scenario scripts to "VXS002" images, dumps scripts as tables and statements,
// and lints them for everything the runtime's compiler silently drops.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "io/resource_loader.h"
#include "io/text_encoding.h"
#include "platform/codepage.h"
#include "script/command_table.h"
#include "script/compiler.h"
#include "script/interpreter.h"
#include "script/lint.h"
#include "script/script_image.h"

namespace {

using namespace vaxo2;
using namespace vaxo2::script;

int usage() {
    std::cerr << "usage:\n"
                 "  vxsc compile IN.vxs -o OUT.vxs   write a compiled \"VXS002\" image\n"
                 "  vxsc dump FILE                   print a script (text or image) as tables\n"
                 "                                   and statements\n"
                 "  vxsc lint [--game DIR] FILES...  report what the runtime would drop or miss\n"
                 "options for every command:\n"
                 "  --codepage NAME                  charset of texts without a byte-order mark\n"
                 "                                   (an iconv name; default CP932)\n";
    return 2;
}

bool readFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A script file as the runtime reads it: an image as it is, else text decoded and compiled.
bool loadFile(const std::string& path, ScriptImage& image, std::string* text = nullptr) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes)) {
        std::cerr << "vxsc: cannot read " << path << "\n";
        return false;
    }
    if (hasImageMagic(bytes.data(), bytes.size())) {
        if (!parseImage(bytes.data(), bytes.size(), image))
            std::cerr << "vxsc: " << path << ": image shorter than its header; it loads empty\n";
        return true;
    }
    std::string decoded;
    io::decodeTextFile(bytes.data(), bytes.size(), io::kEncodingAnsi, decoded);
    compileScript(decoded, image);
    if (text) *text = std::move(decoded);
    return true;
}

const char* kindName(int32_t kind) {
    static const char* names[] = {"?",        "Command", "Name", "Parenthesis", "Label",
                                  "Variable", "Integer", "Real", "String",      "List"};
    return kind >= 1 && kind <= 9 ? names[kind] : "?";
}

std::string quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

// A statement is printed within the budget the runtime binds it with (kMaxBoundValues values,
// kMaxListDepth levels): lists of a damaged image that contain themselves or share their items
// would otherwise print exponentially. What is cut is shown as "...".
std::string renderElement(const ScriptImage& img, int32_t index, int64_t& budget, int depth = 0);

std::string renderList(const ScriptImage& img, int32_t position, char separator, int depth,
                       int64_t& budget, const std::vector<std::string>* names = nullptr) {
    auto list = img.argumentList(position);
    if (!list) return "<bad list " + std::to_string(position) + ">";
    std::string out;
    bool first = true;
    for (int32_t i = 0; i < list->count; ++i) {
        if (budget <= 0) {
            out += first ? "..." : (separator == ',' ? ", ..." : std::string(1, separator) + "...");
            break;
        }
        if (names && list->items[i] < 0) {  // not given
            --budget;
            continue;
        }
        if (!first) out += separator == ',' ? ", " : std::string(1, separator);
        first = false;
        if (names && static_cast<size_t>(i) < names->size())
            out += (*names)[static_cast<size_t>(i)] + "=";
        else if (names)
            out += "#" + std::to_string(i) + "=";
        out += renderElement(img, list->items[i], budget, depth + 1);
    }
    return out;
}

std::string renderElement(const ScriptImage& img, int32_t index, int64_t& budget, int depth) {
    if (depth > kMaxListDepth || --budget < 0) return "...";
    const ScriptElement* e = img.element(index);
    if (!e) return "-";
    auto name = img.text(e->name);
    switch (static_cast<ElementKind>(e->kind)) {
        case ElementKind::Command: {
            std::vector<std::string> params = parameterNames(lookupCommand(name.value_or("")));
            return std::string(name.value_or("?")) + "(" +
                   renderList(img, e->link, ',', depth, budget, &params) + ")";
        }
        case ElementKind::Name:
            return std::string(name.value_or("?"));
        case ElementKind::Parenthesis:
            return std::string(name.value_or("?"));
        case ElementKind::Label:
            return std::string(name.value_or("#?"));
        case ElementKind::Variable:
            return "tmp[" + std::to_string(e->link) + "]";
        case ElementKind::Integer: {
            auto v = img.integerAt(e->link);
            return v ? std::to_string(*v) : "<bad integer>";
        }
        case ElementKind::Real: {
            auto v = img.realAt(e->link);
            if (!v) return "<bad real>";
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", *v);
            std::string s = buf;
            if (s.find_first_of(".en") == std::string::npos) s += ".0";
            return s;
        }
        case ElementKind::String: {
            auto v = img.text(e->link);
            return v ? quoted(*v) : "<bad string>";
        }
        case ElementKind::List:
            return renderList(img, e->link, ':', depth, budget);
    }
    return "<kind " + std::to_string(e->kind) + ">";
}

int dump(const std::string& path) {
    ScriptImage img;
    if (!loadFile(path, img)) return 1;
    std::ostringstream o;
    o << "CommandList (" << img.commandList.size() << "):";
    for (int32_t v : img.commandList)
        o << " " << v;
    o << "\nArgumentLists (" << img.argumentLists.size() << "):";
    for (int32_t v : img.argumentLists)
        o << " " << v;
    o << "\nElementTable (" << img.elementTable.size() << "):\n";
    for (size_t i = 0; i < img.elementTable.size(); ++i) {
        const ScriptElement& e = img.elementTable[i];
        o << "  " << i << ": " << kindName(e.kind) << " name=" << e.name << " link=" << e.link;
        if (auto t = img.text(e.name); t && !t->empty()) o << " " << quoted(*t);
        o << "\n";
    }
    o << "DataPool: " << img.dataPool.size() << " bytes\n";
    o << "temporaryCount: " << img.temporaryCount << "\n";
    o << "Statements:\n";
    for (size_t i = 0; i < img.commandList.size(); ++i) {
        const int32_t idx = img.commandList[i];
        const ScriptElement* e = img.element(idx);
        o << "  " << i << ": ";
        if (!e) {
            o << "<no element " << idx << ">\n";
            continue;
        }
        switch (static_cast<ElementKind>(e->kind)) {
            case ElementKind::Command: {
                std::string_view n = img.text(e->name).value_or("?");
                int64_t budget = kMaxBoundValues;
                o << renderElement(img, idx, budget);
                if (n == "=")
                    o << "    ; hidden, never run";
                else if (lookupCommand(n) == 0)
                    o << "    ; not a command, skipped";
                break;
            }
            case ElementKind::Parenthesis:
                o << img.text(e->name).value_or("?") << "    ; matches " << e->link;
                break;
            case ElementKind::Label:
                o << img.text(e->name).value_or("?") << "    ; label at " << e->link;
                break;
            case ElementKind::Variable:
                o << "tmp[" << e->link << "]    ; receives the next hidden statement";
                break;
            default:
                o << kindName(e->kind) << "    ; does nothing";
        }
        o << "\n";
    }
    std::cout << o.str();
    return 0;
}

int compileCommand(const std::vector<std::string>& args) {
    std::string in, out;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            out = args[++i];
        else if (in.empty())
            in = args[i];
        else
            return usage();
    }
    if (in.empty() || out.empty()) return usage();
    ScriptImage img;
    if (!loadFile(in, img)) return 1;
    std::vector<uint8_t> bytes = writeImage(img);
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    if (!f) {
        std::cerr << "vxsc: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

// The name the runtime would load `file` by: its path inside the game folder when it lies in
// one, else its bare file name.
std::string scriptNameFor(const std::string& file, const std::string& game) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path = fs::weakly_canonical(file, ec);
    if (!game.empty() && !ec) {
        const fs::path inside = path.lexically_relative(fs::weakly_canonical(game, ec));
        if (!ec && !inside.empty() && *inside.begin() != "..") return inside.generic_string();
    }
    return fs::path(file).filename().string();
}

int lint(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string game;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--game" && i + 1 < args.size())
            game = args[++i];
        else
            files.push_back(args[i]);
    }
    if (files.empty()) return usage();
    LintOptions options;
    if (!game.empty()) {
        io::ResourceLoader::instance().setGameFolder(game);
        options.resourceExists = [](const std::string& name) {
            std::vector<uint8_t> bytes;
            return io::ResourceLoader::instance().load(name, bytes, false);
        };
    }
    int errors = 0, warnings = 0;
    for (const std::string& file : files) {
        std::vector<uint8_t> bytes;
        if (!readFile(file, bytes)) {
            std::cerr << file << ": error: cannot read\n";
            ++errors;
            continue;
        }
        if (hasImageMagic(bytes.data(), bytes.size()))
            continue;  // compiled images carry no source to check
        std::string text;
        if (!io::decodeTextFile(bytes.data(), bytes.size(), io::kEncodingAnsi, text) &&
            !bytes.empty()) {
            std::cout << file << ":1:1: error: text encoding not readable (UTF-16 big-endian?)\n";
            ++errors;
            continue;
        }
        options.scriptName = scriptNameFor(file, game);
        for (const LintDiagnostic& d : lintScript(text, options)) {
            std::cout << formatDiagnostic(file, d) << "\n";
            (d.severity == LintDiagnostic::Severity::Error ? errors : warnings) += 1;
        }
    }
    if (errors || warnings) std::cout << errors << " error(s), " << warnings << " warning(s)\n";
    return errors ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--codepage") != 0) {
            args.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc) return usage();
        const std::string charset = argv[++i];
        if (!platform::isCharsetSupported(charset)) {
            std::cerr << "vxsc: this system cannot convert the charset '" << charset << "'\n";
            return 2;
        }
        platform::setAnsiCodePage(charset);
    }
    if (command == "compile") return compileCommand(args);
    if (command == "dump" && args.size() == 1) return dump(args[0]);
    if (command == "lint") return lint(args);
    return usage();
}
