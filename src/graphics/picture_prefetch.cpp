#include "graphics/picture_prefetch.h"

#include <algorithm>

#include "core/trace.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace vaxo2::graphics {

PicturePrefetch& PicturePrefetch::instance() {
    static PicturePrefetch prefetch;
    return prefetch;
}

PicturePrefetch::~PicturePrefetch() {
    stop();
}

void PicturePrefetch::start(Reader reader, Decoder decoder, int threads) {
    stop();
    std::lock_guard lock(mutex_);
    reader_ = std::move(reader);
    decoder_ = std::move(decoder);
    running_ = true;
    addWorkersLocked(std::max(1, threads));
}

void PicturePrefetch::growTo(int threads) {
    std::lock_guard lock(mutex_);
    if (running_ && static_cast<int>(workers_.size()) < threads)
        addWorkersLocked(threads - static_cast<int>(workers_.size()));
}

void PicturePrefetch::addWorkersLocked(int count) {
    for (int i = 0; i < count; ++i) {
        auto worker = std::make_unique<platform::WorkerThread>();
        worker->setName("decode");
        // Ahead of need: the render thread, when it waits for a picture, leaves the processor
        // to the decode anyway.
        worker->setBackground(true);
        // Decodes never wait on the clock: the stepped clock need not wait for them.
        worker->setClockParticipant(false);
        worker->start([this](platform::WorkerThread& self) {
            workerLoop(self);
            return 0u;
        });
        workers_.push_back(std::move(worker));
    }
}

void PicturePrefetch::stop() {
    std::vector<std::unique_ptr<platform::WorkerThread>> workers;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        workers.swap(workers_);
    }
    jobs_.notify_all();
    for (auto& worker : workers)
        worker->stop(platform::kInfinite);
    std::lock_guard lock(mutex_);
    entries_.clear();
    reader_ = nullptr;
    decoder_ = nullptr;
}

bool PicturePrefetch::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void PicturePrefetch::request(const std::string& name) {
    if (name.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        for (const Entry& entry : entries_) {
            if (entry.name == name) return;
        }
        Entry entry;
        entry.name = name;
        entries_.push_back(std::move(entry));
    }
    jobs_.notify_one();
}

bool PicturePrefetch::take(const std::string& name, Result& out) {
    std::unique_lock lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&name](const Entry& e) { return e.name == name; });
    if (it == entries_.end()) return false;
    if (!it->started) {
        // Still queued behind others: this thread does it rather than wait for them.
        it->started = true;
        lock.unlock();
        work(*it);
        lock.lock();
        it->done = true;
    }
    it->wanted = true;
    finished_.wait(lock, [&it] { return it->done; });
    out = std::move(it->result);
    entries_.erase(it);
    return true;
}

void PicturePrefetch::work(Entry& entry) {
    // Only this thread touches the entry's result until it is marked done; the list node
    // stays put (std::list) while other entries come and go.
    Result& r = entry.result;
    r.read = reader_(entry.name, r.bytes);
    if (r.read) {
        core::Trace::mark("read", entry.name);
        r.decoded = decoder_(r.bytes, r.image);
        if (r.decoded) core::Trace::mark("decoded", entry.name);
    }
}

void PicturePrefetch::workerLoop(platform::WorkerThread& self) {
    std::unique_lock lock(mutex_);
    for (;;) {
        jobs_.wait(lock, [&] {
            if (!running_ || self.stopRequested()) return true;
            return std::any_of(entries_.begin(), entries_.end(),
                               [](const Entry& e) { return !e.started; });
        });
        if (!running_ || self.stopRequested()) return;
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [](const Entry& e) { return !e.started; });
        it->started = true;
        lock.unlock();
        work(*it);
        lock.lock();
        it->done = true;
        finished_.notify_all();
        dropOldResults();
    }
}

void PicturePrefetch::dropOldResults() {
    size_t kept = static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.done; }));
    for (auto it = entries_.begin(); it != entries_.end() && kept > kKeptResults;) {
        if (it->done && !it->wanted) {
            it = entries_.erase(it);
            --kept;
        } else {
            ++it;
        }
    }
}

}  // namespace vaxo2::graphics
