#pragma once
// Threads and events with the semantics the engine was designed around: a thread object with a
// stop flag and a stop that waits a bounded time, and events whose timed waits go through Clock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vaxo2::platform {

// Wait results, numbered as the Windows wait functions number them.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned = 0x80;
constexpr uint32_t kWaitTimeout = 0x102;

// An event with auto or manual reset. Waits are clock waits, so they take part in stepping.
class Event {
  public:
    explicit Event(bool manualReset = false, bool initiallySet = false);
    void set();
    void reset();
    // Returns true when the event was signalled, false on timeout (kInfinite waits forever).
    bool wait(uint32_t timeoutMs);
    bool isSet() const;

  private:
    bool manualReset_;
    std::atomic<bool> signalled_;
};

class WorkerThread {
  public:
    using Procedure = std::function<uint32_t(WorkerThread&)>;

    WorkerThread() = default;
    explicit WorkerThread(Procedure procedure) : procedure_(std::move(procedure)) {}
    virtual ~WorkerThread();  // stops with 1000 ms
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Clears the stop flag and starts the procedure on a new thread. False when there is no
    // procedure or a thread is already running.
    bool start();
    bool start(Procedure procedure);

    // Sets the stop flag and waits up to timeoutMs (real time) for the thread to end.
    // kWaitObject0 when it ended, kWaitTimeout when it is still running (it is then left to run
    // and detached at destruction), kWaitAbandoned when no thread was ever started.
    uint32_t stop(uint32_t timeoutMs);
    bool stopRequested() const { return stopRequested_.load(std::memory_order_relaxed) != 0; }
    bool running() const;
    uint32_t exitCode() const { return exitCode_; }

    // Whether the thread takes part in clock stepping (every worker but the driver does).
    void setClockParticipant(bool participant) { participant_ = participant; }
    // The name the system shows for the thread (at most 15 bytes), set when it starts.
    void setName(std::string name) { name_ = std::move(name); }
    // Work done ahead of need (reading, decoding): the thread runs at a lower priority, so that
    // on a machine with few cores it takes what the threads the player waits on leave. Threads
    // it starts inherit that priority, so it must not start any that need to keep up (audio).
    void setBackground(bool background) { background_ = background; }

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    Procedure procedure_;
    std::atomic<uint8_t> stopRequested_{0};
    std::unique_ptr<std::thread> thread_;
    std::shared_ptr<Shared> shared_;
    uint32_t exitCode_ = 0;
    bool participant_ = true;
    bool background_ = false;
    std::string name_;
};

}  // namespace vaxo2::platform
