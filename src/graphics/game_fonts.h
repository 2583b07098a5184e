#pragma once
// Where the faces of the font table come from: a game's own font files first (fonts\*.ttf and
// fonts\*.otf in its packs, or loose in its fonts folder), matched by any family name they
// carry, then the installed faces with Japanese coverage.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "graphics/font_table.h"

namespace vaxo2::graphics {

class GameFonts {
  public:
    // The game's files are listed at the first resolution.
    explicit GameFonts(std::string gameFolder) : gameFolder_(std::move(gameFolder)) {}

    // The face for a face name; null when neither the game nor the system has a usable one.
    std::shared_ptr<GlyphFace> resolve(const std::string& faceName);

    // Family names the game's own fonts answer to (after the first resolution).
    std::vector<std::string> gameFamilies();

  private:
    void scan();

    std::string gameFolder_;
    std::mutex mutex_;
    bool scanned_ = false;
    // Folded family name to face.
    std::map<std::string, std::shared_ptr<GlyphFace>> gameFaces_;
    // Installed face file to face.
    std::map<std::string, std::shared_ptr<GlyphFace>> systemFaces_;
};

// A resolver over a GameFonts that lives as long as the resolver.
FaceResolver gameFaceResolver(const std::string& gameFolder);

}  // namespace vaxo2::graphics
