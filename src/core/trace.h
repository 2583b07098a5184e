#pragma once
// --trace: a timeline of the run for measuring start-up and frame pacing from outside the
// process. Each mark is one line "<microseconds> <event> [detail]", the microseconds read from
// the monotonic system clock (CLOCK_MONOTONIC, the same clock another process reads), kept in
// memory and written when the run ends. Marks cost one relaxed load when tracing is off.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vaxo2::core {

class Trace {
  public:
    // Starts collecting marks; `path` is written by finish().
    static void start(const std::string& path) {
        State& s = state();
        std::lock_guard lock(s.mutex);
        s.path = path;
        s.lines.clear();
        s.lines.reserve(4096);
        s.on.store(true, std::memory_order_release);
    }

    static bool on() { return state().on.load(std::memory_order_relaxed); }

    static void mark(const char* event, const std::string& detail = std::string()) {
        if (!on()) return;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::string line = std::to_string(us) + ' ' + event;
        if (!detail.empty()) line += ' ' + detail;
        State& s = state();
        std::lock_guard lock(s.mutex);
        if (s.on.load(std::memory_order_relaxed)) s.lines.push_back(std::move(line));
    }

    // Writes the marks collected so far and stops collecting. False when the file could not be
    // written.
    static bool finish() {
        State& s = state();
        std::lock_guard lock(s.mutex);
        if (!s.on.exchange(false)) return true;
        std::FILE* f = std::fopen(s.path.c_str(), "w");
        if (f == nullptr) return false;
        bool ok = true;
        for (const std::string& line : s.lines)
            ok = ok && std::fprintf(f, "%s\n", line.c_str()) >= 0;
        ok = std::fclose(f) == 0 && ok;
        s.lines.clear();
        s.lines.shrink_to_fit();
        return ok;
    }

  private:
    struct State {
        std::atomic<bool> on{false};
        std::mutex mutex;  // the lines and the path
        std::string path;
        std::vector<std::string> lines;
    };
    static State& state() {
        static State s;
        return s;
    }
};

}  // namespace vaxo2::core
