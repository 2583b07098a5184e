#include "queue/command_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/app_context.h"
#include "queue/data_commands.h"
#include "queue/sound_commands.h"

namespace vaxo2::queue {
namespace {

// Records every execution as "<name>@<root>" so order and target choice are visible.
struct Journal {
    std::vector<std::string> lines;
    int destroyed = 0;
};

graphics::GraphicObject* fakeRoot(int n) {
    return reinterpret_cast<graphics::GraphicObject*>(static_cast<uintptr_t>(n) * 16);
}

std::string rootName(graphics::GraphicObject* root) {
    if (root == nullptr) return "null";
    if (root == fakeRoot(1)) return "screen";
    if (root == fakeRoot(2)) return "transition";
    return "other";
}

class Recorded : public classQueBase {
  public:
    Recorded(Journal& journal, std::string name, uint64_t mask = 0, bool makesTransition = false)
        : journal_(journal), name_(std::move(name)), makesTransition_(makesTransition) {
        targetMask = mask;
    }
    ~Recorded() override { ++journal_.destroyed; }
    void execute(QueExecuteContext& context) override {
        journal_.lines.push_back(name_ + "@" + (targetMask ? rootName(context.target) : "-"));
        if (makesTransition_) context.transitionRoot = fakeRoot(2);
    }

  private:
    Journal& journal_;
    std::string name_;
    bool makesTransition_;
};

void drain(CommandQueue& queue) {
    QueExecuteContext context;
    context.screenRoot = fakeRoot(1);
    queue.executeReleased(context);
}

TEST(CommandQueue, NothingRunsWithoutRelease) {
    Journal journal;
    CommandQueue queue;
    queue.push(new Recorded(journal, "A"));
    queue.push(new Recorded(journal, "B"));
    for (int frame = 0; frame < 5; ++frame)
        drain(queue);
    EXPECT_TRUE(journal.lines.empty());
    EXPECT_EQ(queue.size(), 2u);
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"A@-", "B@-"}));
    EXPECT_EQ(journal.destroyed, 2);
    EXPECT_TRUE(queue.isEmpty());
}

// A script that loops without a wait pushes and never releases: once the unreleased batch is
// kMaxUnreleasedCommands long it runs as it stands (said once), so the queue stays bounded by
// what is pushed between two drains; nothing pushed is lost.
TEST(CommandQueue, AnUnreleasedBatchThatKeepsGrowingIsReleased) {
    Journal journal;
    CommandQueue queue;
    ::testing::internal::CaptureStderr();
    size_t largest = 0;
    const size_t total = 3 * kMaxUnreleasedCommands + 5;
    for (size_t i = 0; i < total; ++i) {
        queue.push(new Recorded(journal, "X"));
        largest = std::max(largest, queue.size());
        if (i % 1000 == 999) drain(queue);  // the render thread's frames
    }
    drain(queue);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_LE(largest, kMaxUnreleasedCommands + 1000);
    EXPECT_EQ(journal.lines.size(), 3 * kMaxUnreleasedCommands);
    EXPECT_EQ(queue.size(), 5u);  // the rest waits for a release, as any batch does
    EXPECT_EQ(queue.releaseCount(), 0);
    EXPECT_NE(said.find("without a release"), std::string::npos) << said;
    EXPECT_EQ(said.find("vaxo2"), said.rfind("vaxo2")) << "said once";
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.destroyed, static_cast<int>(total));
}

TEST(CommandQueue, PushAfterReleaseWaitsForTheNextRelease) {
    Journal journal;
    CommandQueue queue;
    queue.push(new Recorded(journal, "A"));
    queue.push(new Recorded(journal, "B"));
    queue.release();
    queue.push(new Recorded(journal, "C"));
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"A@-", "B@-"}));
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.releaseCount(), 0);
    drain(queue);
    EXPECT_EQ(journal.lines.size(), 2u);
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.lines.back(), "C@-");
}

// A still page's render thread sleeps until asked: a release that hands it new commands asks,
// a release with nothing new (every wait re-releases) does not.
TEST(CommandQueue, OnlyAReleaseOfNewCommandsAsksForAFrame) {
    core::AppContext app;
    core::ScopedAppContext published(app);
    Journal journal;
    CommandQueue queue;
    queue.release();
    EXPECT_EQ(app.frameWanted.load(), 0) << "an empty queue";
    queue.push(new Recorded(journal, "A"));
    EXPECT_EQ(app.frameWanted.load(), 0) << "pushed, not released";
    queue.release();
    EXPECT_EQ(app.frameWanted.load(), 1);
    app.frameWanted = 0;
    queue.release();
    EXPECT_EQ(app.frameWanted.load(), 0) << "the same batch again";
    drain(queue);
    queue.release();
    EXPECT_EQ(app.frameWanted.load(), 0) << "drained";
    queue.push(new Recorded(journal, "B"), true);
    queue.release();
    EXPECT_EQ(app.frameWanted.load(), 1) << "a priority push";
}

TEST(CommandQueue, PriorityPushGoesAfterTheReleasedEntries) {
    Journal journal;
    CommandQueue queue;
    // Nothing released: priority goes to the front.
    queue.push(new Recorded(journal, "A"));
    queue.push(new Recorded(journal, "B"));
    queue.push(new Recorded(journal, "T0"), true);
    EXPECT_EQ(queue.releaseCount(), 0);
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"T0@-", "A@-", "B@-"}));

    // [A, B, C] released, then T with priority: A, B, C, T and two of the three places left.
    journal.lines.clear();
    queue.push(new Recorded(journal, "A"));
    queue.push(new Recorded(journal, "B"));
    queue.push(new Recorded(journal, "C"));
    queue.release();
    queue.push(new Recorded(journal, "T"), true);
    EXPECT_EQ(queue.releaseCount(), 2);
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"A@-", "B@-"}));
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"A@-", "B@-", "C@-", "T@-"}));
}

TEST(CommandQueue, PriorityPushLandsBetweenReleasedAndUnreleased) {
    Journal journal;
    CommandQueue queue;
    queue.push(new Recorded(journal, "A"));
    queue.release();
    queue.push(new Recorded(journal, "X"));
    queue.push(new Recorded(journal, "Y"));
    queue.push(new Recorded(journal, "T"), true);  // after A, before X
    EXPECT_EQ(queue.releaseCount(), 0);
    queue.release();
    drain(queue);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"A@-", "T@-", "X@-", "Y@-"}));
}

TEST(CommandQueue, TargetMaskChoosesTheRoots) {
    Journal journal;
    CommandQueue queue;
    // Target 2 before any transition: the command sees a null root.
    queue.push(new Recorded(journal, "early", kTargetTransition));
    queue.push(new Recorded(journal, "transition", 0, true));
    queue.push(new Recorded(journal, "both", kTargetScreen | kTargetTransition));
    queue.push(new Recorded(journal, "screen", kTargetScreen));
    queue.release();
    QueExecuteContext context;
    context.screenRoot = fakeRoot(1);
    queue.executeReleased(context);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"early@null", "transition@-", "both@screen",
                                                       "both@transition", "screen@screen"}));
    EXPECT_EQ(context.transitionRoot, fakeRoot(2));
    EXPECT_EQ(journal.destroyed, 4);
}

TEST(CommandQueue, NullPushIsIgnoredAndClearDestroys) {
    Journal journal;
    CommandQueue queue;
    queue.push(static_cast<classQueBase*>(nullptr));
    queue.push(std::unique_ptr<classQueBase>(), true);
    EXPECT_TRUE(queue.isEmpty());
    queue.push(new Recorded(journal, "A"));
    queue.release();
    queue.clear();
    EXPECT_EQ(journal.destroyed, 1);
    EXPECT_TRUE(journal.lines.empty());
    EXPECT_EQ(queue.releaseCount(), 0);
}

TEST(CommandQueue, ProcessWideQueuesAreDistinct) {
    EXPECT_NE(&mainCommandQueue(), &systemCommandQueue());
    EXPECT_NE(&systemCommandQueue(), &spareCommandQueue());
    EXPECT_EQ(&mainCommandQueue(), &mainCommandQueue());
}

struct CountingSound : SoundCommandTarget {
    std::vector<std::string> seen;
    void run(const classQue_SoundCreate& c) override {
        seen.push_back("create " + std::to_string(c.layer));
    }
    void run(const classQue_SoundAlter& c) override { seen.push_back("alter " + c.file); }
    void run(const classQue_SoundPlay&) override { seen.push_back("play"); }
    void run(const classQue_SoundStop& c) override {
        seen.push_back("stop " + std::to_string(c.time));
    }
    void run(const classQue_SoundStopToVoice& c) override {
        seen.push_back("voice " + std::to_string(c.time.valueOr(0)));
    }
    void run(const classQue_SoundVolume&) override { seen.push_back("volume"); }
    void run(const classQue_SoundDelete&) override { seen.push_back("delete"); }
    void run(const classQue_SoundAllDelete&) override { seen.push_back("all"); }
};

TEST(QueuedCommands, SoundCommandsReachTheRegisteredTarget) {
    CommandQueue queue;
    auto create = std::make_unique<classQue_SoundCreate>();
    create->layer = 200;
    auto alter = std::make_unique<classQue_SoundAlter>();
    alter->layer = 200;
    alter->file = "SE\\click.ogg";
    auto voice = std::make_unique<classQue_SoundStopToVoice>();
    queue.push(std::move(create));
    queue.push(std::move(alter));
    queue.push(std::move(voice));
    queue.push(std::make_unique<classQue_SoundPlay>());
    queue.release();

    CountingSound sound;
    setSoundCommandTarget(&sound);
    QueExecuteContext context;
    queue.executeReleased(context);
    setSoundCommandTarget(nullptr);
    EXPECT_EQ(sound.seen,
              (std::vector<std::string>{"create 200", "alter SE\\click.ogg", "voice 0", "play"}));

    // Without a target they are consumed quietly.
    queue.push(std::make_unique<classQue_SoundAllDelete>());
    queue.release();
    queue.executeReleased(context);
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(sound.seen.size(), 4u);
}

struct RecordingData : DataCommandTarget {
    std::vector<std::string> seen;
    bool flagWhenLoading = false;
    void save(const classQue_DataSave& c) override { seen.push_back("save " + c.path); }
    void load(const classQue_DataLoad& c) override {
        flagWhenLoading = core::appContext()->dataLoadRequested.load() == 1;
        seen.push_back("load " + c.path);
    }
};

TEST(QueuedCommands, DataLoadRaisesTheStopFlagBeforeLoading) {
    core::AppContext app;
    core::ScopedAppContext scoped(app);
    RecordingData data;
    setDataCommandTarget(&data);
    CommandQueue queue;
    queue.push(new classQue_DataSave("save/save0001.dat"));
    queue.push(new classQue_DataLoad("save/save0002.dat"));
    queue.release();
    QueExecuteContext context;
    queue.executeReleased(context);
    setDataCommandTarget(nullptr);
    EXPECT_EQ(data.seen,
              (std::vector<std::string>{"save save/save0001.dat", "load save/save0002.dat"}));
    EXPECT_TRUE(data.flagWhenLoading);
    EXPECT_EQ(app.dataLoadRequested.load(), 1);
}

}  // namespace
}  // namespace vaxo2::queue

namespace vaxo2::queue {
namespace {

// Pushes a follower into the queue it runs from, as a slot load does with its transition.
class PushesFollower : public classQueBase {
  public:
    PushesFollower(CommandQueue& queue, std::vector<std::string>& log) : queue_(queue), log_(log) {}
    void execute(QueExecuteContext&) override {
        log_.push_back("leader");
        struct Follower : classQueBase {
            std::vector<std::string>& log;
            explicit Follower(std::vector<std::string>& l) : log(l) {}
            void execute(QueExecuteContext&) override { log.push_back("follower"); }
        };
        queue_.push(new Follower(log_));
    }

  private:
    CommandQueue& queue_;
    std::vector<std::string>& log_;
};

TEST(CommandQueue, ACommandMayPushIntoItsOwnQueueWhileDraining) {
    CommandQueue queue;
    std::vector<std::string> log;
    queue.push(new PushesFollower(queue, log));
    queue.release();
    QueExecuteContext context;
    EXPECT_EQ(queue.executeReleased(context), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"leader"}));
    EXPECT_EQ(queue.size(), 1u);  // waits for the next release
    queue.release();
    queue.executeReleased(context);
    EXPECT_EQ(log, (std::vector<std::string>{"leader", "follower"}));
}

}  // namespace
}  // namespace vaxo2::queue
