#pragma once
// Movies in graphic objects: the movie kind of graphic source. Each movie source gets a player
// (a decoding thread, its sound in the mixer) when it is first drawn, and a grid of textures
// that show the player's picture centred on the object, black until the first picture. The
// script's play, stop and pause commands, and position and rate requests, are recorded on the
// source and applied in the frame's update, in that order: stop, start, pause, position, rate.
//
// End of a movie: the last picture stays and the player reports "not playing", so GraphicWait
// ends; GraphicPlay afterwards plays it again from the start. Movies do not loop by themselves.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/movie_player.h"
#include "graphics/render_backend.h"

namespace vaxo2::sound {
class Mixer;
}

namespace vaxo2::graphics {

class MoviePlayback final : public MovieStatus {
  public:
    MoviePlayback() = default;
    ~MoviePlayback() override;
    MoviePlayback(const MoviePlayback&) = delete;
    MoviePlayback& operator=(const MoviePlayback&) = delete;

    // Plugs movie sources into the layer tree (requests, updates, GraphicWait) and into the
    // source realizers; the destructor takes them out again.
    void install();
    // Where movie sound plays; null (the default) plays movies silently. Players opened later
    // use it.
    void setMixer(sound::Mixer* mixer) { mixer_ = mixer; }

    // ---- requests without a script command of their own (render thread) ----
    void requestPositions(GraphicSource& source, const MoviePositions& positions);
    void requestRate(GraphicSource& source, double rate);

    // ---- MovieStatus (render thread, except the two questions) ----
    void request(GraphicSource& source, MovieRequest request) override;
    bool hasPlayer(const GraphicSource& source) override;
    bool playing(const GraphicSource& source) override;
    bool animating(const GraphicSource& source) override;
    // Applies the pending requests and takes the picture due now; true when either changed
    // anything.
    bool takeNewFrame(GraphicSource& source) override;

    // The draw (device lock held): opens the player on first use, makes the tiles, and uploads
    // a picture that changed since the last upload. False while there is nothing to show.
    bool realize(GraphicSource& source, RenderBackend& backend);

    // The source's player, or null (tests and tools).
    static MoviePlayer* playerOf(const GraphicSource& source);

  private:
    sound::Mixer* mixer_ = nullptr;
    bool installed_ = false;
};

}  // namespace vaxo2::graphics
