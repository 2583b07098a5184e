#pragma once
// Turns a script name into a filled context: read through the resource loader, take a
// "VXS002" image as it is, or decode a text script, pass it through the optional pre-converter
// plugin and compile it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vaxo2::platform {
class DynamicLibrary;
}

namespace vaxo2::script {

struct ScriptContext;
struct ScriptImage;
class ScriptHost;

// The pre-converter plugin "libText2vxs.so" (C ABI). ScriptPreConvert gets the script name,
// the decoded UTF-8 text and its length, the integer 0 and a pointer to a handle that starts
// null. It returns 1 when *handle holds the complete replacement text. Whatever it returns, a
// non-null handle belongs to the runtime, which hands it back to ScriptPreConvertFree.
extern "C" {
struct Text2vxsText {
    const char* data;
    uint64_t size;
};
using ScriptPreConvertFunction = uint8_t (*)(const char* name, const char* text, int32_t length,
                                             int32_t reserved, Text2vxsText** handle);
using ScriptPreConvertFreeFunction = void (*)(Text2vxsText* handle);
}

inline constexpr char kPreConverterLibrary[] = "libText2vxs.so";

class PreConverter {
  public:
    PreConverter();
    ~PreConverter();
    PreConverter(const PreConverter&) = delete;
    PreConverter& operator=(const PreConverter&) = delete;

    // The plugin is looked for in the runtime's own folder, then on the system's library
    // path. A game folder is data a player downloads: a plugin there is native code and is
    // loaded (ahead of the others) only when the player allowed it.
    void setGameFolder(std::string folder) { gameFolder_ = std::move(folder); }
    void allowGameFolder(bool allowed) { gameFolderAllowed_ = allowed; }
    // The runtime's own folder (the executable's, by default); "" searches no such folder.
    void setOwnFolder(std::string folder) { ownFolder_ = std::move(folder); }
    // Replaces `text` when the plugin converts it. A failed load is tried again next time; a
    // loaded library is kept.
    void convert(const std::string& name, std::string& text);
    bool loaded() const { return library_ != nullptr; }

  private:
    std::string gameFolder_;
    bool gameFolderAllowed_ = false;
    std::string ownFolder_;
    std::unique_ptr<platform::DynamicLibrary> library_;
};

// The File arguments of the statements of `context` whose command `wanted` accepts, from the
// first statement up to one whose command `ends` accepts (or `statements` of them), in order
// and without repeats, at most `limit` of them: what a script is about to show, guessed
// without running it. Arguments that bind to no string are passed over.
std::vector<std::string> leadingFileArguments(const ScriptContext& context,
                                              const std::function<bool(std::string_view)>& wanted,
                                              const std::function<bool(std::string_view)>& ends,
                                              size_t statements, size_t limit);

class ScriptLoader {
  public:
    using ResourceReader = std::function<bool(const std::string& name, std::vector<uint8_t>&)>;

    ScriptLoader();
    ~ScriptLoader();
    // Replaces the resource loader (tests, tools). Null restores it.
    void setResourceReader(ResourceReader reader);
    PreConverter& preConverter() { return preConverter_; }
    // Whether the plugin is used at all (tools may switch it off).
    void setPreConverterEnabled(bool enabled) { preConverterEnabled_ = enabled; }

    // Fills `context` (its name set). True when the context got an image.
    bool loadScript(ScriptContext& context, ScriptHost* host);

    // Reads and compiles `name` ahead of its first run (the first script, while the window
    // comes up): the next loadScript of that very name takes this image instead of reading
    // the file again. The caller keeps it from overlapping a loadScript.
    void preload(const std::string& name);
    // The script preload made, until a load takes it; null when it has no image.
    const ScriptContext* preloadedScript() const;

  private:
    struct Preloaded;
    // Reads `name` and turns it into `image`: a "VXS002" image as it is, a text compiled.
    bool readImage(const std::string& name, ScriptImage& image);

    ResourceReader reader_;
    std::unique_ptr<Preloaded> preloaded_;
    PreConverter preConverter_;
    bool preConverterEnabled_ = true;
};

}  // namespace vaxo2::script
