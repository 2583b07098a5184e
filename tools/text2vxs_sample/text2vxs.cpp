// A sample pre-converter for scenario scripts. It expands a writer's shorthand: a line that
// starts with '@' is a message line, so
//     @Good morning.
// becomes
//     GraphicTextOut(Layer=100, Text="Good morning.") KeyWait
// Scripts without such lines are left alone (the converter answers 0 and returns nothing).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "script/script_loader.h"

using vaxo2::script::Text2vxsText;

namespace {
int liveHandles = 0;
}

extern "C" {

__attribute__((visibility("default"))) uint8_t ScriptPreConvert(const char* name, const char* text,
                                                                int32_t length,
                                                                int32_t /*reserved*/,
                                                                Text2vxsText** handle) {
    if (!text || length < 0 || !handle) return 0;
    std::string_view in(text, static_cast<size_t>(length));
    std::string out;
    out.reserve(in.size() + 64);
    bool expanded = false;
    size_t pos = 0;
    while (pos < in.size()) {
        size_t end = in.find('\n', pos);
        if (end == std::string_view::npos) end = in.size();
        std::string_view line = in.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() == '@') {
            out += "GraphicTextOut(Layer=100, Text=\"";
            out.append(line.substr(1));
            out += "\") KeyWait";
            expanded = true;
        } else {
            out.append(line);
        }
        out.push_back('\n');
        pos = end + 1;
    }
    // A script named "*refuse*" exercises the caller's duty to free a handle that comes with
    // an answer of 0.
    const bool refuse = name && std::strstr(name, "refuse") != nullptr;
    if (!expanded && !refuse) return 0;
    char* data = static_cast<char*>(std::malloc(out.size() ? out.size() : 1));
    auto* h = static_cast<Text2vxsText*>(std::malloc(sizeof(Text2vxsText)));
    if (!data || !h) {
        std::free(data);
        std::free(h);
        return 0;
    }
    std::memcpy(data, out.data(), out.size());
    h->data = data;
    h->size = out.size();
    *handle = h;
    ++liveHandles;
    return refuse ? 0 : 1;
}

__attribute__((visibility("default"))) void ScriptPreConvertFree(Text2vxsText* handle) {
    if (!handle) return;
    std::free(const_cast<char*>(handle->data));
    std::free(handle);
    --liveHandles;
}

// For tests: handles given out and not yet returned.
__attribute__((visibility("default"))) int Text2vxsLiveHandles() {
    return liveHandles;
}
}
