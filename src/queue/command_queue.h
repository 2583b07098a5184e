#pragma once
// A FIFO of queued commands that the render thread may execute only as far as the scenario
// thread has released it, so a script's batch of changes appears between two frames.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "queue/queued_command.h"

namespace vaxo2::queue {

// Commands a queue holds back before it releases them by itself. A script that loops without a
// wait pushes without end and never releases; rather than hold an ever-growing batch (or drop
// commands, losing what the script asked for), the queue lets such a batch run as it stands:
// the render thread then keeps draining it. No real scene builds a batch this large.
constexpr size_t kMaxUnreleasedCommands = 65536;

class CommandQueue {
  public:
    CommandQueue() = default;
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Takes ownership. Without priority the command goes to the back; with priority it goes
    // right after the entries that are already released (so it runs before the unreleased
    // batch), and takes one of the released places. A push that brings the unreleased batch to
    // kMaxUnreleasedCommands releases it (said once on stderr).
    void push(std::unique_ptr<classQueBase> command, bool priority = false);
    void push(classQueBase* command, bool priority = false) {
        push(std::unique_ptr<classQueBase>(command), priority);
    }

    // Everything queued so far may now run.
    void release();
    bool isEmpty() const;
    size_t size() const;
    int32_t releaseCount() const;

    // Render thread: executes and destroys the released entries in order, under the lock.
    // Returns how many entries it took (so the frame can tell an idle drain).
    size_t executeReleased(QueExecuteContext& context);

    // Destroys every entry without executing it (shutdown).
    void clear();

  private:
    // Recursive like the critical section it stands for: a command executing in a drain may
    // push into (or release) its own queue from the render thread.
    mutable std::recursive_mutex mutex_;
    std::deque<std::unique_ptr<classQueBase>> entries_;
    int32_t releaseCount_ = 0;
    bool overflowReported_ = false;
};

// The process-wide queues, in drain order.
CommandQueue& mainCommandQueue();    // every scenario-script handler pushes here
CommandQueue& systemCommandQueue();  // system screens and system scripts
CommandQueue& spareCommandQueue();   // drained each frame, fed by nothing

}  // namespace vaxo2::queue
