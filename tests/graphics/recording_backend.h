#pragma once
// A render backend that draws nothing: it serves files from memory, "decodes" a tiny test
// picture format and records every texture and quad, so draw logic is checked without a GPU.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "graphics/render_backend.h"

namespace vaxo2::graphics::testing {

// Test picture format: "IMG" w(2 bytes LE) h(2 bytes LE), then w*h BGRA pixels.
inline std::vector<uint8_t> testPicture(int w, int h, uint8_t fill = 0x80) {
    std::vector<uint8_t> bytes = {'I',
                                  'M',
                                  'G',
                                  static_cast<uint8_t>(w & 0xFF),
                                  static_cast<uint8_t>(w >> 8),
                                  static_cast<uint8_t>(h & 0xFF),
                                  static_cast<uint8_t>(h >> 8)};
    bytes.resize(bytes.size() + static_cast<size_t>(w) * h * 4, fill);
    return bytes;
}

class RecordingBackend : public RenderBackend {
  public:
    struct Texture {
        int32_t width = 0;
        int32_t height = 0;
        std::vector<uint8_t> pixels;
        bool renderTarget = false;
        std::string tag;  // the file it was made from, ":target" for a render target
    };
    struct Draw {
        QuadDraw quad;
        std::string tag;  // file name of the source drawn (":target" for a render target)
    };

    std::map<std::string, std::vector<uint8_t>> files;
    std::map<TextureId, Texture> textures;
    std::vector<Draw> draws;
    std::vector<std::string> events;
    int32_t maxSide = 4096;
    int32_t backWidth = 1280;
    int32_t backHeight = 720;
    int reads = 0;
    int failTextures = 0;  // the next n createTexture calls fail

    bool readFile(const std::string& name, std::vector<uint8_t>& bytes) override {
        ++reads;
        lastRead_ = name;
        auto it = files.find(name);
        if (it == files.end()) return false;
        bytes = it->second;
        return true;
    }
    bool decodeImage(const std::vector<uint8_t>& bytes, DecodedImage& out) override {
        if (bytes.size() < 7 || std::memcmp(bytes.data(), "IMG", 3) != 0) return false;
        out.width = bytes[3] | (bytes[4] << 8);
        out.height = bytes[5] | (bytes[6] << 8);
        const size_t need = static_cast<size_t>(out.width) * out.height * 4;
        if (bytes.size() - 7 < need) return false;
        out.bgra.assign(bytes.begin() + 7, bytes.begin() + 7 + static_cast<ptrdiff_t>(need));
        return true;
    }
    int32_t maxTextureSize() override { return maxSide; }
    TextureId createTexture(int32_t w, int32_t h, const uint8_t* bgra) override {
        if (failTextures > 0) {
            --failTextures;
            return 0;
        }
        const TextureId id = next_++;
        textures[id] =
            Texture{w, h, std::vector<uint8_t>(bgra, bgra + static_cast<size_t>(w) * h * 4), false,
                    lastRead_};
        return id;
    }
    void destroyTexture(TextureId texture) override { textures.erase(texture); }
    int updates = 0;
    bool updateTexture(TextureId texture, int32_t x, int32_t y, int32_t w, int32_t h,
                       const uint8_t* bgra) override {
        auto it = textures.find(texture);
        if (it == textures.end() || x < 0 || y < 0 || x + w > it->second.width ||
            y + h > it->second.height) {
            return false;
        }
        ++updates;
        for (int32_t row = 0; row < h; ++row) {
            std::memcpy(
                &it->second.pixels[(static_cast<size_t>(y + row) * it->second.width + x) * 4],
                bgra + static_cast<size_t>(row) * w * 4, static_cast<size_t>(w) * 4);
        }
        return true;
    }
    TextureId createRenderTarget(int32_t w, int32_t h) override {
        const TextureId id = next_++;
        textures[id] = Texture{w, h, {}, true, ":target"};
        return id;
    }
    void backBufferSize(int32_t& w, int32_t& h) override {
        w = backWidth;
        h = backHeight;
    }
    void beginRenderTarget(TextureId target) override {
        events.push_back("begin " + std::to_string(target));
    }
    void endRenderTarget() override { events.push_back("end"); }
    void drawQuad(const QuadDraw& quad) override {
        auto it = textures.find(quad.texture);
        draws.push_back(Draw{quad, it == textures.end() ? std::string("?") : it->second.tag});
        events.push_back("draw");
    }

    std::vector<std::string> drawnTags() const {
        std::vector<std::string> out;
        for (const Draw& d : draws)
            out.push_back(d.tag);
        return out;
    }

  private:
    TextureId next_ = 1;
    std::string lastRead_;
};

}  // namespace vaxo2::graphics::testing
