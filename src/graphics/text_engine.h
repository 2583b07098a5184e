#pragma once
// The message-text engine of a run: the font table, the glyph sources and pages, and the layout,
// plugged into the layer tree (text processing in the update, glyph colours in the draw, the
// re-layout after a restore) and into the source realizers. The script side reaches it for the
// text commands, the history and the KeyWait questions (is text still appearing, how long does
// the message page take).
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "graphics/font_table.h"
#include "graphics/graphic_object.h"
#include "graphics/text_glyphs.h"
#include "graphics/text_layout.h"

namespace vaxo2::graphics {

// Where GraphicTextOut records its texts; the backlog implements it. Called on the scenario
// thread.
class MessageHistory {
  public:
    virtual ~MessageHistory() = default;
    // Appends a new, empty entry (a page of text begins).
    virtual void openEntry() = 0;
    // Appends one text to the last entry.
    virtual void appendText(const std::string& text) = 0;
};

class TextEngine final : public TextEngineHooks {
  public:
    TextEngine();
    ~TextEngine() override;
    TextEngine(const TextEngine&) = delete;
    TextEngine& operator=(const TextEngine&) = delete;

    // Plugs the engine into the layer tree and the text-source realizer and makes it the one
    // the text commands use; the destructor takes it out again.
    void install();
    // The installed engine, or null.
    static TextEngine* current();

    FontTable& fonts() { return fonts_; }
    TextGlyphs& glyphs() { return glyphs_; }

    // Start-up: the default fonts, resolved through `resolver`.
    void startFonts(const FaceResolver& resolver);

    // The render thread's backend, so that the layout can build a text box's image.
    void setBackend(RenderBackend* backend) { backend_ = backend; }
    // How character-set lists and pictures are read (the game's files by default).
    using FileReader = std::function<bool(const std::string&, std::vector<uint8_t>&)>;
    void setFileReader(FileReader reader) { readFile_ = std::move(reader); }
    void setPictureReader(PictureReader reader) { readPicture_ = std::move(reader); }
    const FileReader& fileReader() const { return readFile_; }
    const PictureReader& pictureReader() const { return readPicture_; }

    void setHistory(MessageHistory* history) { history_ = history; }
    MessageHistory* history() const { return history_; }

    // TextEngineHooks
    bool processPendingText(GraphicObject& object) override;
    bool glyphTint(GraphicObject& object, RenderBackend& backend, uint32_t& rgb) override;
    void relayout(GraphicObject& object) override;

    // KeyWait: true while the guard is up (glyphs were placed to appear one by one) and some
    // text under `root` is still pending or appearing. Call with the tree lock held.
    bool textAppearing(const GraphicObject& root) const;
    // The player finished the page: the guard drops until new text starts appearing.
    void clearGuard() { guard_ = false; }
    bool guardUp() const { return guard_; }

  private:
    FontTable fonts_;
    TextGlyphs glyphs_;
    RenderBackend* backend_ = nullptr;
    FileReader readFile_;
    PictureReader readPicture_;
    MessageHistory* history_ = nullptr;
    std::atomic<bool> guard_{false};
    bool installed_ = false;
};

// Automatic play reads this of the message object: max(glyphCount x 100, appearance delay).
int64_t messageDisplayTime(const GraphicObject& message);

}  // namespace vaxo2::graphics
