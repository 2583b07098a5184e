#include "queue/command_queue.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "core/frame_sync.h"

namespace vaxo2::queue {

void CommandQueue::push(std::unique_ptr<classQueBase> command, bool priority) {
    if (!command) {
        return;
    }
    std::unique_lock lock(mutex_);
    if (!priority) {
        entries_.push_back(std::move(command));
        const size_t released = releaseCount_ > 0 ? static_cast<size_t>(releaseCount_) : 0;
        if (entries_.size() - std::min(released, entries_.size()) >= kMaxUnreleasedCommands) {
            if (!overflowReported_) {
                overflowReported_ = true;
                std::fprintf(stderr,
                             "vaxo2: %zu commands were queued without a release (a script loop "
                             "without a wait?); they run now\n",
                             kMaxUnreleasedCommands);
            }
            releaseCount_ = static_cast<int32_t>(entries_.size());
            lock.unlock();
            // Released as it stands: a sleeping render thread must run it.
            if (core::AppContext* app = core::appContext()) core::requestFrame(*app);
        }
        return;
    }
    size_t at = releaseCount_ > 0 ? static_cast<size_t>(releaseCount_) : 0;
    if (at > entries_.size()) {
        at = entries_.size();
    }
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), std::move(command));
    if (releaseCount_ > 0) {
        --releaseCount_;
    }
}

void CommandQueue::release() {
    bool released = false;
    {
        std::lock_guard lock(mutex_);
        released = releaseCount_ != static_cast<int32_t>(entries_.size());
        releaseCount_ = static_cast<int32_t>(entries_.size());
    }
    // The render thread may be asleep at a still page: the batch runs at its next frame.
    if (released) {
        if (core::AppContext* app = core::appContext()) core::requestFrame(*app);
    }
}

bool CommandQueue::isEmpty() const {
    std::lock_guard lock(mutex_);
    return entries_.empty();
}

size_t CommandQueue::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

int32_t CommandQueue::releaseCount() const {
    std::lock_guard lock(mutex_);
    return releaseCount_;
}

size_t CommandQueue::executeReleased(QueExecuteContext& context) {
    std::lock_guard lock(mutex_);
    size_t taken = 0;
    while (!entries_.empty() && releaseCount_ != 0) {
        std::unique_ptr<classQueBase> command = std::move(entries_.front());
        entries_.pop_front();
        if (command) {
            if (command->targetMask == 0) {
                command->execute(context);
            } else {
                if (command->targetMask & kTargetScreen) {
                    context.target = context.screenRoot;
                    command->execute(context);
                }
                if (command->targetMask & kTargetTransition) {
                    context.target = context.transitionRoot;
                    command->execute(context);
                }
            }
        }
        command.reset();
        ++taken;
        if (releaseCount_ > 0) {
            --releaseCount_;
        }
    }
    return taken;
}

void CommandQueue::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    releaseCount_ = 0;
}

CommandQueue& mainCommandQueue() {
    static CommandQueue queue;
    return queue;
}

CommandQueue& systemCommandQueue() {
    static CommandQueue queue;
    return queue;
}

CommandQueue& spareCommandQueue() {
    static CommandQueue queue;
    return queue;
}

}  // namespace vaxo2::queue
