#pragma once
// Pictures read and decoded ahead, on a small pool of threads, from the moment a command names
// them: the render thread, which realizes a picture at its first draw, then finds the pixels
// ready and only uploads them. Nothing observable moves: the command still takes effect between
// frames and the picture shows in the same frame as before, since taking a picture whose decode
// is under way waits for it (so runs on the stepped clock draw the same frames), and failures
// are still judged and reported by the realizer, from the bytes and the decoder's word kept
// here.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "graphics/render_backend.h"

namespace vaxo2::platform {
class WorkerThread;
}

namespace vaxo2::graphics {

class PicturePrefetch {
  public:
    using Reader = std::function<bool(const std::string& name, std::vector<uint8_t>& bytes)>;
    using Decoder = std::function<bool(const std::vector<uint8_t>& bytes, DecodedImage& out)>;

    struct Result {
        bool read = false;
        std::vector<uint8_t> bytes;  // the file image, for the realizer's failure bookkeeping
        bool decoded = false;
        DecodedImage image;
    };

    // Decoded pictures nobody has taken yet are kept up to this many; older ones are dropped
    // (their draw then decodes them as before).
    static constexpr size_t kKeptResults = 4;

    static PicturePrefetch& instance();

    PicturePrefetch() = default;
    ~PicturePrefetch();
    PicturePrefetch(const PicturePrefetch&) = delete;
    PicturePrefetch& operator=(const PicturePrefetch&) = delete;

    // Starts `threads` workers that read and decode with these; until then requests are
    // ignored.
    void start(Reader reader, Decoder decoder, int threads);
    // Adds workers up to `threads` while running.
    void growTo(int threads);
    // Stops the workers (a decode under way finishes first) and drops every result.
    void stop();
    bool running() const;

    // A command named the picture: read and decode it unless that is under way or done.
    void request(const std::string& name);
    // The result for `name`, waiting for a decode under way; one not started yet is done here.
    // False when the picture was never requested (or its result was dropped).
    bool take(const std::string& name, Result& out);

  private:
    struct Entry {
        std::string name;
        bool started = false;
        bool done = false;
        bool wanted = false;  // a take waits for it: never dropped
        Result result;
    };

    void work(Entry& entry);
    void workerLoop(platform::WorkerThread& self);
    void dropOldResults();
    void addWorkersLocked(int count);

    mutable std::mutex mutex_;
    std::condition_variable jobs_;
    std::condition_variable finished_;
    std::list<Entry> entries_;  // in the order of the requests
    Reader reader_;
    Decoder decoder_;
    bool running_ = false;
    std::vector<std::unique_ptr<platform::WorkerThread>> workers_;
};

}  // namespace vaxo2::graphics
