#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vaxo2::app {
namespace wm = platform::wm;
namespace vk = platform::vk;

const char* const kUsageText =
    "usage: vaxo2 [options]\n"
    "  --game DIR             run the game in DIR (default: the current folder)\n"
    "  --headless             no window on screen: render offscreen (no display needed)\n"
    "  --stepped              deterministic clock: each frame advances time by one frame\n"
    "                         interval, as fast as the machine allows\n"
    "  --exit-after MS        close the window MS milliseconds after the start and shut down\n"
    "  --screenshot MS:FILE   write the frame presented at MS as a PNG (repeatable)\n"
    "  --dump-tree MS:FILE    write the scene tree at MS as JSON (repeatable)\n"
    "  --input FILE           feed timed input events from FILE (see README)\n"
    "  --size WxH             client area size (default 1280x720)\n"
    "  --codepage NAME        charset of scripts and texts without a byte-order mark\n"
    "                         (an iconv name; default CP932)\n"
    "  --audio-out FILE.wav   write everything sent to the audio device (44100 Hz stereo\n"
    "                         16-bit) into FILE.wav\n"
    "  --trace FILE           write a timeline of the run (start-up steps, presented\n"
    "                         frames) into FILE when the run ends\n"
    "  --game-converter       also load the script converter libText2vxs.so from the\n"
    "                         game folder (native code: only for games you trust)\n"
    "  --help                 this text\n";

namespace {

bool parseUint(const std::string& s, uint32_t& out) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::optional<uint32_t> keyCode(std::string name) {
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.size() == 1 && (std::isupper(static_cast<unsigned char>(name[0])) ||
                             std::isdigit(static_cast<unsigned char>(name[0])))) {
        return static_cast<uint32_t>(name[0]);
    }
    struct Named {
        const char* name;
        uint32_t code;
    };
    static const Named kNames[] = {
        {"RETURN", vk::kReturn}, {"ENTER", vk::kReturn},    {"SPACE", vk::kSpace},
        {"ESCAPE", vk::kEscape}, {"CONTROL", vk::kControl}, {"CTRL", vk::kControl},
        {"SHIFT", vk::kShift},   {"ALT", vk::kMenu},        {"UP", vk::kUp},
        {"DOWN", vk::kDown},     {"LEFT", vk::kLeft},       {"RIGHT", vk::kRight},
        {"PRIOR", vk::kPrior},   {"PAGEUP", vk::kPrior},    {"NEXT", vk::kNext},
        {"PAGEDOWN", vk::kNext}, {"BACK", vk::kBack},       {"TAB", vk::kTab},
    };
    for (const Named& n : kNames) {
        if (name == n.name) return n.code;
    }
    if (name.size() >= 2 && name[0] == 'F') {
        uint32_t f = 0;
        if (parseUint(name.substr(1), f) && f >= 1 && f <= 12) return vk::kF1 + f - 1;
    }
    uint32_t code = 0;
    // Any 16-bit code goes through, so that a test can also send codes the key table has no
    // entry for.
    if (parseUint(name, code) && code > 0 && code <= 0xFFFF) return code;
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<TimedMessage>> parseInputScript(const std::string& text,
                                                          std::string& error) {
    std::vector<TimedMessage> out;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(lineNo) + ": " + what;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        if (w.empty()) continue;
        uint32_t at = 0;
        if (!parseUint(w[0], at)) return fail("time '" + w[0] + "' is not milliseconds");
        if (w.size() < 2) return fail("event missing after the time");
        const std::string& ev = w[1];
        auto point = [&](size_t first, int& x, int& y) {
            if (w.size() < first + 2) return false;
            char* end = nullptr;
            const long lx = std::strtol(w[first].c_str(), &end, 10);
            if (*end) return false;
            const long ly = std::strtol(w[first + 1].c_str(), &end, 10);
            if (*end) return false;
            if (lx < -32768 || lx > 32767 || ly < -32768 || ly > 32767) return false;
            x = static_cast<int>(lx);
            y = static_cast<int>(ly);
            return true;
        };
        auto push = [&](uint32_t kind, uint64_t wp, int64_t lp) {
            out.push_back({at, {kind, wp, lp}});
        };
        int x = 0, y = 0;
        if (ev == "move" || ev == "click" || ev == "rclick" || ev == "ldown" || ev == "lup" ||
            ev == "rdown" || ev == "rup") {
            if (!point(2, x, y)) return fail(ev + " needs X Y");
            const int64_t lp = wm::makeLParam(x, y);
            if (ev == "move") push(wm::kMouseMove, 0, lp);
            if (ev == "click" || ev == "ldown") push(wm::kLButtonDown, wm::kMkLButton, lp);
            if (ev == "click" || ev == "lup") push(wm::kLButtonUp, 0, lp);
            if (ev == "rclick" || ev == "rdown") push(wm::kRButtonDown, wm::kMkRButton, lp);
            if (ev == "rclick" || ev == "rup") push(wm::kRButtonUp, 0, lp);
        } else if (ev == "wheel") {
            if (w.size() < 3) return fail("wheel needs a delta");
            char* end = nullptr;
            const long delta = std::strtol(w[2].c_str(), &end, 10);
            if (*end || delta < -32768 || delta > 32767) return fail("bad wheel delta");
            if (w.size() >= 5 && !point(3, x, y)) return fail("bad wheel position");
            const uint64_t high = static_cast<uint64_t>(static_cast<uint16_t>(delta)) << 16;
            push(wm::kMouseWheel, high, wm::makeLParam(x, y));
        } else if (ev == "key" || ev == "keydown" || ev == "keyup" || ev == "altkey") {
            if (w.size() < 3) return fail(ev + " needs a key name");
            const auto code = keyCode(w[2]);
            if (!code) return fail("unknown key '" + w[2] + "'");
            if (ev == "altkey") {
                push(wm::kSysKeyDown, *code, wm::keyLParam(true, false, false));
                push(wm::kSysKeyUp, *code, wm::keyLParam(true, true, true));
            } else {
                if (ev != "keyup") push(wm::kKeyDown, *code, wm::keyLParam(false, false, false));
                if (ev != "keydown") push(wm::kKeyUp, *code, wm::keyLParam(false, true, true));
            }
        } else if (ev == "close") {
            push(wm::kClose, 0, 0);
        } else {
            return fail("unknown event '" + ev + "'");
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.at < b.at; });
    return out;
}

std::optional<RunOptions> parseCommandLine(int argc, const char* const* argv, std::string& error) {
    RunOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o.showHelp = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--stepped") {
            o.stepped = true;
        } else if (a == "--game-converter") {
            o.gameConverter = true;
        } else if (a == "--game") {
            if (!value(o.gameFolder)) return std::nullopt;
        } else if (a == "--exit-after") {
            if (!value(v)) return std::nullopt;
            uint32_t ms = 0;
            if (!parseUint(v, ms)) {
                error = "--exit-after wants milliseconds, not '" + v + "'";
                return std::nullopt;
            }
            o.exitAfter = ms;
        } else if (a == "--screenshot") {
            if (!value(v)) return std::nullopt;
            const auto colon = v.find(':');
            uint32_t ms = 0;
            if (colon == std::string::npos || !parseUint(v.substr(0, colon), ms) ||
                colon + 1 >= v.size()) {
                error = "--screenshot wants MS:FILE.png, not '" + v + "'";
                return std::nullopt;
            }
            o.screenshots.push_back({ms, v.substr(colon + 1)});
        } else if (a == "--dump-tree") {
            if (!value(v)) return std::nullopt;
            const auto colon = v.find(':');
            uint32_t ms = 0;
            if (colon == std::string::npos || !parseUint(v.substr(0, colon), ms) ||
                colon + 1 >= v.size()) {
                error = "--dump-tree wants MS:FILE.json, not '" + v + "'";
                return std::nullopt;
            }
            o.treeDumps.push_back({ms, v.substr(colon + 1)});
        } else if (a == "--input") {
            if (!value(v)) return std::nullopt;
            std::ifstream f(v, std::ios::binary);
            if (!f) {
                error = "cannot read input script '" + v + "'";
                return std::nullopt;
            }
            // Bounded: the name may be a pipe or a device (/dev/zero) that never ends.
            std::string text(kMaxInputScriptBytes + 1, '\0');
            f.read(text.data(), static_cast<std::streamsize>(text.size()));
            text.resize(static_cast<size_t>(f.gcount()));
            if (text.size() > kMaxInputScriptBytes) {
                error = "input script '" + v + "' is larger than " +
                        std::to_string(kMaxInputScriptBytes >> 20) + " MiB";
                return std::nullopt;
            }
            std::string why;
            auto events = parseInputScript(text, why);
            if (!events) {
                error = v + ": " + why;
                return std::nullopt;
            }
            o.input = std::move(*events);
        } else if (a == "--size") {
            if (!value(v)) return std::nullopt;
            const auto xpos = v.find('x');
            uint32_t w = 0, h = 0;
            if (xpos == std::string::npos || !parseUint(v.substr(0, xpos), w) ||
                !parseUint(v.substr(xpos + 1), h) || w < 16 || h < 16 || w > 16384 || h > 16384) {
                error = "--size wants WxH, not '" + v + "'";
                return std::nullopt;
            }
            o.clientWidth = static_cast<int>(w);
            o.clientHeight = static_cast<int>(h);
        } else if (a == "--audio-out") {
            if (!value(o.audioOut)) return std::nullopt;
            if (o.audioOut.empty()) {
                error = "--audio-out wants a file name";
                return std::nullopt;
            }
        } else if (a == "--trace") {
            if (!value(o.traceFile)) return std::nullopt;
            if (o.traceFile.empty()) {
                error = "--trace wants a file name";
                return std::nullopt;
            }
        } else if (a == "--codepage") {
            if (!value(o.codePage)) return std::nullopt;
            if (o.codePage.empty()) {
                error = "--codepage wants a charset name";
                return std::nullopt;
            }
        } else {
            error = "unknown option '" + a + "'";
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace vaxo2::app
