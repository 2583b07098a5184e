#include "platform/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/clock.h"

namespace vaxo2::platform {

namespace {
// Weighs about a third of a normal thread when both want the processor.
constexpr int kBackgroundNice = 5;
}  // namespace

Event::Event(bool manualReset, bool initiallySet)
    : manualReset_(manualReset), signalled_(initiallySet) {}

void Event::set() {
    Clock::instance().notify([this] { signalled_ = true; });
}

void Event::reset() {
    signalled_ = false;
}

bool Event::isSet() const {
    return signalled_;
}

bool Event::wait(uint32_t timeoutMs) {
    bool got = Clock::instance().waitUntil([this] { return signalled_.load(); }, timeoutMs);
    if (got && !manualReset_) signalled_ = false;
    return got;
}

WorkerThread::~WorkerThread() {
    stop(1000);
    if (thread_ && thread_->joinable()) {
        if (running()) {
            // Still busy after its time: leave it to the process exit, as the design allows.
            thread_->detach();
        } else {
            thread_->join();
        }
    }
}

bool WorkerThread::start(Procedure procedure) {
    procedure_ = std::move(procedure);
    return start();
}

bool WorkerThread::start() {
    if (!procedure_ || running()) return false;
    if (thread_ && thread_->joinable()) thread_->join();
    stopRequested_ = 0;
    auto shared = std::make_shared<Shared>();
    shared_ = shared;
    const bool participant = participant_;
    if (participant) Clock::instance().reserveParticipant();
    thread_ = std::make_unique<std::thread>(
        [this, shared, participant, name = name_, background = background_] {
            if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
            // A nice value of this thread alone (Linux keeps one per thread). Failing leaves it at
            // the normal priority, which is only slower.
            if (background) {
                setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kBackgroundNice);
            }
            uint32_t code;
            {
                std::unique_ptr<Clock::Participant> stepping;
                if (participant) {
                    stepping = std::make_unique<Clock::Participant>(Clock::Participant::Adopt{});
                }
                code = procedure_(*this);
            }
            exitCode_ = code;
            std::lock_guard lock(shared->mutex);
            shared->finished = true;
            shared->done.notify_all();
        });
    return true;
}

bool WorkerThread::running() const {
    if (!shared_) return false;
    std::lock_guard lock(shared_->mutex);
    return !shared_->finished;
}

uint32_t WorkerThread::stop(uint32_t timeoutMs) {
    stopRequested_ = 1;
    if (!shared_) return kWaitAbandoned;
    // Joining is not a clock wait: let stepping go on without us meanwhile.
    Clock::Excused excused;
    std::unique_lock lock(shared_->mutex);
    const bool ended = shared_->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                              [&] { return shared_->finished; });
    lock.unlock();
    if (!ended) return kWaitTimeout;
    // The procedure has returned, but the thread still runs its thread-local destructors, some
    // of them in libraries (the GL driver) that the caller may unload as soon as we return.
    // Only a join makes "ended" mean gone.
    if (thread_ && thread_->joinable() && thread_->get_id() != std::this_thread::get_id())
        thread_->join();
    return kWaitObject0;
}

}  // namespace vaxo2::platform
