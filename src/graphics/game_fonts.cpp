#include "graphics/game_fonts.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "io/pack_archive.h"
#include "io/resource_loader.h"
#include "platform/font.h"

namespace vaxo2::graphics {

namespace {

// A platform face seen through the engine's face interface.
class PlatformGlyphFace final : public GlyphFace {
  public:
    explicit PlatformGlyphFace(std::unique_ptr<platform::FontFace> face) : face_(std::move(face)) {}
    platform::FaceMetrics metrics(int32_t emHeight, int32_t emWidth) override {
        return face_->metrics(emHeight, emWidth);
    }
    int32_t advance(uint32_t codePoint, int32_t emHeight, int32_t emWidth) override {
        return face_->advance(codePoint, emHeight, emWidth);
    }
    void render(uint32_t codePoint, int32_t emHeight, int32_t emWidth, uint8_t* canvas,
                int32_t width, int32_t height) override {
        face_->render(codePoint, emHeight, emWidth, canvas, width, height);
    }
    platform::FontFace& face() { return *face_; }

  private:
    std::unique_ptr<platform::FontFace> face_;
};

std::string foldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool isFontFileName(const std::string& name) {
    const std::string folded = foldAscii(name);
    const bool inFolder = folded.rfind("fonts\\", 0) == 0 || folded.rfind("fonts/", 0) == 0;
    auto endsWith = [&folded](const char* suffix) {
        const std::string s(suffix);
        return folded.size() > s.size() &&
               folded.compare(folded.size() - s.size(), s.size(), s) == 0;
    };
    return inFolder && (endsWith(".ttf") || endsWith(".otf"));
}

}  // namespace

void GameFonts::scan() {
    scanned_ = true;
    // Candidate names in search order: the packs from data09 down, then loose files. The
    // resource loader then reads each name from where it has priority.
    std::vector<std::string> names;
    std::set<std::string> seen;
    auto add = [&](const std::string& name) {
        if (isFontFileName(name) && seen.insert(foldAscii(name)).second) names.push_back(name);
    };
    std::error_code ec;
    for (int pack = io::ResourceLoader::kPackCount; pack >= 1; --pack) {
        char file[32];
        std::snprintf(file, sizeof file, "/data%02d.vxc", pack);
        const std::string path = gameFolder_ + file;
        if (!std::filesystem::is_regular_file(path, ec)) continue;
        io::PackArchive archive(path);
        for (const io::PackEntry& entry : archive.entries())
            add(entry.name);
    }
    for (const auto& folder : std::filesystem::directory_iterator(gameFolder_, ec)) {
        if (!folder.is_directory(ec) || foldAscii(folder.path().filename().string()) != "fonts") {
            continue;
        }
        for (const auto& file : std::filesystem::directory_iterator(folder.path(), ec)) {
            if (file.is_regular_file(ec)) add("fonts\\" + file.path().filename().string());
        }
    }
    for (const std::string& name : names) {
        std::vector<uint8_t> bytes;
        if (!io::loadResource(name, bytes, false)) continue;
        std::string error;
        std::unique_ptr<platform::FontFace> face =
            platform::FontFace::fromMemory(std::move(bytes), error);
        if (!face) {
            // Not a font after all: the faces of the system stand in for whatever it named.
            std::fprintf(stderr, "vaxo2: %s: %s\n", name.c_str(), error.c_str());
            continue;
        }
        const std::vector<std::string> families = face->familyNames();
        auto shared = std::make_shared<PlatformGlyphFace>(std::move(face));
        for (const std::string& family : families) {
            gameFaces_.emplace(foldAscii(family), shared);  // the first file with a name wins
        }
    }
}

std::shared_ptr<GlyphFace> GameFonts::resolve(const std::string& faceName) {
    std::lock_guard lock(mutex_);
    if (!scanned_) scan();
    if (!faceName.empty()) {
        auto it = gameFaces_.find(foldAscii(faceName));
        if (it != gameFaces_.end()) return it->second;
    }
    platform::SystemFontMatch match;
    if (!platform::matchJapaneseFont(faceName, match)) return nullptr;
    const std::string key = match.file + "#" + std::to_string(match.index);
    auto known = systemFaces_.find(key);
    if (known != systemFaces_.end()) return known->second;
    std::string error;
    std::unique_ptr<platform::FontFace> face =
        platform::FontFace::open(match.file, match.index, error);
    if (!face) {
        std::fprintf(stderr, "vaxo2: font %s: %s\n", match.file.c_str(), error.c_str());
        return nullptr;
    }
    auto shared = std::make_shared<PlatformGlyphFace>(std::move(face));
    systemFaces_.emplace(key, shared);
    return shared;
}

std::vector<std::string> GameFonts::gameFamilies() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, face] : gameFaces_)
        names.push_back(name);
    return names;
}

FaceResolver gameFaceResolver(const std::string& gameFolder) {
    auto fonts = std::make_shared<GameFonts>(gameFolder);
    return [fonts](const std::string& faceName) { return fonts->resolve(faceName); };
}

}  // namespace vaxo2::graphics
