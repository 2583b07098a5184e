#include "graphics/graphic_commands.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/app_context.h"
#include "graphics/transition.h"
#include "queue/command_queue.h"

namespace vaxo2::graphics {
namespace {

template <typename Command>
std::unique_ptr<Command> on(LayerPath path, uint64_t mask = queue::kTargetScreen) {
    auto command = std::make_unique<Command>();
    command->path = std::move(path);
    command->targetMask = mask;
    return command;
}

class GraphicCommands : public ::testing::Test {
  protected:
    GraphicCommands() : scoped(app) { app.screenRoot = &screen; }
    ~GraphicCommands() override {
        app.transitionRoot = nullptr;
        queue::mainCommandQueue().clear();
    }
    size_t frame(uint32_t now) {
        const size_t executed = drainCommandQueues(app, transition);
        updateTrees(now, app);
        return executed;
    }
    queue::CommandQueue& main() { return queue::mainCommandQueue(); }

    core::AppContext app;
    core::ScopedAppContext scoped;
    GraphicObject screen;
    std::unique_ptr<GraphicObject> transition;
};

TEST_F(GraphicCommands, CreateThenAlterPlacesThroughSlotZero) {
    main().push(on<classQue_GraphicCreate>({1, 2}));
    auto alter = on<classQue_GraphicAlter>({1, 2});
    alter->file = "bg.png";
    alter->x.set(-40);
    alter->z.set(3);
    alter->stencilAction.set(1);
    main().push(std::move(alter));
    EXPECT_EQ(frame(16), 0u);  // nothing released yet
    EXPECT_EQ(GraphicObject::find(&screen, {1, 2}), nullptr);
    main().release();
    EXPECT_EQ(frame(32), 2u);
    GraphicObject* object = GraphicObject::find(&screen, {1, 2});
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->source->name(), "bg.png");
    EXPECT_EQ(object->slots.at(0).Position, (Float3{-40, 0, 3}));
    EXPECT_EQ(object->StencilAction, 1);
    EXPECT_EQ(object->hide, 0);
    EXPECT_NEAR(object->worldMatrix.transformPoint(Vec3{}).x, -40.0f, 1e-4);

    // Hide given as false leaves it shown; given as true hides.
    auto hide = on<classQue_GraphicAlter>({1, 2});
    hide->hide.set(true);
    main().push(std::move(hide));
    main().release();
    frame(48);
    EXPECT_EQ(object->hide, 1);
}

TEST_F(GraphicCommands, MissingObjectsAndEmptyPathsDoNothing) {
    auto alter = on<classQue_GraphicAlter>({9});
    alter->x.set(1);
    main().push(std::move(alter));
    main().push(on<classQue_GraphicDelete>({}));
    main().push(on<classQue_GraphicStirSlotSet>({9, 9}));
    main().push(on<classQue_GraphicCreate>({}));
    main().release();
    EXPECT_EQ(frame(16), 4u);
    EXPECT_TRUE(screen.layerChildren.empty());

    // GraphicDelete where the parent exists but the last level does not.
    GraphicObject::create(&screen, {1});
    main().push(on<classQue_GraphicDelete>({1, 5}));
    main().release();
    frame(32);
    EXPECT_NE(GraphicObject::find(&screen, {1}), nullptr);
}

TEST_F(GraphicCommands, TargetMasksReachTheTreesOfTheSameDrain) {
    GraphicObject::create(&screen, {1});
    // Target 2 with no transition in this drain: nothing.
    auto early = on<classQue_GraphicStirSlotSet>({1}, queue::kTargetTransition);
    early->No.set(7);
    main().push(std::move(early));
    main().release();
    frame(16);
    EXPECT_EQ(GraphicObject::find(&screen, {1})->slots.count(7), 0u);

    // A transition, then Target 3: the screen tree and the fresh snapshot both get the slot.
    auto fade = std::make_unique<classQue_Transition>();
    fade->Time = 500;
    main().push(std::move(fade));
    auto both = on<classQue_GraphicStirSlotSet>({1}, 3);
    both->No.set(4);
    main().push(std::move(both));
    main().release();
    frame(32);
    ASSERT_TRUE(transition);
    EXPECT_EQ(app.transitionRoot, transition.get());
    EXPECT_EQ(GraphicObject::find(&screen, {1})->slots.count(4), 1u);
    EXPECT_EQ(GraphicObject::find(transition.get(), {1})->slots.count(4), 1u);
}

TEST_F(GraphicCommands, SlotSetBuildsAFreshSlotWithDefaults) {
    GraphicObject* object = GraphicObject::create(&screen, {1});
    auto first = on<classQue_GraphicStirSlotSet>({1});
    first->values.Loop.set(1);
    first->values.Position.set(Float3{10, 20, 0});
    first->values.Time.set(1000);
    first->values.Roll.set(0.5f);
    main().push(std::move(first));
    main().release();
    frame(16);
    ASSERT_EQ(object->slots.count(1), 1u);  // No not given: highest (0) + 1
    EXPECT_EQ(object->slots.at(1).Time, 1000);

    // No not given again: 2. Replacing slot 1 resets what is not given.
    auto second = on<classQue_GraphicStirSlotSet>({1});
    second->values.Loop.set(1);
    main().push(std::move(second));
    auto replace = on<classQue_GraphicStirSlotSet>({1});
    replace->No.set(1);
    replace->values.Loop.set(1);
    replace->values.Scale.set(Float3{2, 1, 1});
    main().push(std::move(replace));
    main().release();
    frame(32);
    EXPECT_EQ(object->slots.count(2), 1u);
    const StirSlot& slot1 = object->slots.at(1);
    EXPECT_EQ(slot1.Time, 0);
    EXPECT_FLOAT_EQ(slot1.Roll, 0.0f);
    EXPECT_EQ(slot1.Position, (Float3{0, 0, 0}));
    EXPECT_EQ(slot1.Scale, (Float3{2, 1, 1}));
    EXPECT_TRUE(slot1.finished());  // Time 0: finished in its first update

    // Without any slot at all the first one is 1.
    object->slots.clear();
    main().push(on<classQue_GraphicStirSlotSet>({1}));
    main().release();
    frame(48);
    EXPECT_EQ(object->slots.count(1), 1u);
}

// At a still page the render thread sleeps; anything that would change the picture by itself
// keeps it drawing frames.
TEST_F(GraphicCommands, TreesAnimateWhileASlotRunsTextWaitsOrAFadeOrMovieRuns) {
    EXPECT_FALSE(treesAnimating(app)) << "an empty scene";
    GraphicObject* object = GraphicObject::create(&screen, {1});
    GraphicObject* child = GraphicObject::create(&screen, {1, 5});
    frame(16);
    EXPECT_FALSE(treesAnimating(app)) << "finished slots 0";
    StirSlot move;
    move.No = 1;
    move.Loop = 0;  // the cycle under way is the last
    move.Time = 100;
    move.remaining = 100;
    child->slots[1] = move;
    EXPECT_TRUE(treesAnimating(app)) << "a child's running slot";
    child->rate = 0.0f;
    EXPECT_FALSE(treesAnimating(app)) << "a slot whose object's time stands still";
    child->rate = 1.0f;
    frame(200);
    EXPECT_FALSE(treesAnimating(app)) << "the slot ran out";
    object->textRequests.emplace_back();
    EXPECT_TRUE(treesAnimating(app)) << "text waiting to be laid out";
    object->textRequests.clear();
    object->setSource(sourceCache().acquire(static_cast<int32_t>(SourceKind::Movie), "m.mpg"));
    EXPECT_TRUE(treesAnimating(app)) << "a movie";
    object->releaseSource();
    main().push(on<classQue_GraphicCreate>({2}));
    auto fade = std::make_unique<classQue_Transition>();
    fade->Time = 100;
    main().push(std::move(fade), true);
    main().release();
    frame(300);
    EXPECT_TRUE(treesAnimating(app)) << "a transition";
    frame(500);
    retireFinishedTransition(app, transition);
    EXPECT_FALSE(treesAnimating(app)) << "the transition ended";
}

TEST_F(GraphicCommands, SlotChangeTouchesOnlyGivenFieldsAndDeleteTakesSlotZero) {
    GraphicObject* object = GraphicObject::create(&screen, {1});
    StirSlot running;
    running.No = 3;
    running.Loop = 1;
    running.Time = 1000;
    running.Position = Float3{5, 5, 5};
    running.remaining = 600;
    object->slots[3] = running;

    auto change = on<classQue_GraphicStirSlotChange>({1});
    change->No = 3;
    change->values.Transmittance.set(0.25f);
    main().push(std::move(change));
    auto missing = on<classQue_GraphicStirSlotChange>({1});
    missing->No = 8;
    missing->values.Time.set(5);
    main().push(std::move(missing));
    auto remove = on<classQue_GraphicStirSlotDelete>({1});
    remove->No = 0;
    main().push(std::move(remove));
    main().release();
    drainCommandQueues(app, transition);
    const StirSlot& changed = object->slots.at(3);
    EXPECT_FLOAT_EQ(changed.Transmittance, 0.25f);
    EXPECT_EQ(changed.remaining, 600);
    EXPECT_EQ(changed.Position, (Float3{5, 5, 5}));
    EXPECT_EQ(object->slots.count(8), 0u);
    EXPECT_EQ(object->slots.count(0), 0u);
}

TEST_F(GraphicCommands, MovieAlterShowsTheMovieAndPlaceholdersCarryRequests) {
    struct Movies : MovieStatus {
        std::vector<MovieRequest> requests;
        void request(GraphicSource&, MovieRequest r) override { requests.push_back(r); }
        bool hasPlayer(const GraphicSource&) override { return false; }
        bool playing(const GraphicSource&) override { return false; }
        bool animating(const GraphicSource&) override { return false; }
        bool takeNewFrame(GraphicSource&) override { return false; }
    } movies;
    setMovieStatus(&movies);
    GraphicObject* object = GraphicObject::create(&screen, {2});
    object->setHide(1);
    auto movie = on<classQue_GraphicAlter_Movie>({2});
    movie->file = "op.WMV";
    movie->y.set(12);
    main().push(std::move(movie));
    main().push(on<classQue_GraphicMoviePlay>({2}));
    main().push(on<classQue_GraphicMoviePouse>({2}));
    main().push(on<classQue_GraphicMovieStop>({2}));
    main().release();
    drainCommandQueues(app, transition);
    setMovieStatus(nullptr);
    EXPECT_EQ(object->source->kind(), SourceKind::Movie);
    EXPECT_EQ(object->hide, 0);  // Hide not given: shown
    EXPECT_FLOAT_EQ(object->slots.at(0).Position.y, 12.0f);
    EXPECT_EQ(movies.requests, (std::vector<MovieRequest>{MovieRequest::Play, MovieRequest::Pause,
                                                          MovieRequest::Stop}));
}

TEST_F(GraphicCommands, ChildDeleteAllDeleteAndPageFeed) {
    GraphicObject* box = GraphicObject::create(&screen, {3});
    GraphicObject::create(&screen, {3, 1});
    box->glyphChildren.emplace(0, std::make_unique<GraphicObject>(0, box));
    box->text = "hello";
    box->textLayout.penX = 40;
    box->textLayout.noLineBreak = 1;
    main().push(on<classQue_GraphicChildAllDelete>({3}));
    main().release();
    drainCommandQueues(app, transition);
    EXPECT_TRUE(box->layerChildren.empty());
    EXPECT_EQ(box->glyphChildren.size(), 1u);

    auto text = on<classQue_GraphicStdOutText>({3});
    text->text = "line";
    text->noWait.set(2);
    main().push(std::move(text));
    main().release();
    app.textSpeed = 40;
    drainCommandQueues(app, transition);
    ASSERT_EQ(box->textRequests.size(), 1u);
    EXPECT_EQ(box->textRequests.front().charInterval, 80);
    EXPECT_EQ(box->textRequests.front().color, app.textColor);

    main().push(on<classQue_PageFeed>({3}));
    main().release();
    drainCommandQueues(app, transition);
    EXPECT_TRUE(box->glyphChildren.empty());
    EXPECT_TRUE(box->text.empty());
    EXPECT_TRUE(box->textRequests.empty());
    EXPECT_FLOAT_EQ(box->textLayout.penX, 0.0f);
    EXPECT_EQ(box->textLayout.lineStart, 1);
    EXPECT_EQ(box->textLayout.noLineBreak, 1);

    auto wipe = std::make_unique<classQue_GraphicAllDelete>();
    wipe->targetMask = queue::kTargetScreen;
    main().push(std::move(wipe));
    main().release();
    drainCommandQueues(app, transition);
    EXPECT_TRUE(screen.layerChildren.empty());
}

TEST_F(GraphicCommands, FinishAllDrawingEndsGlyphSlots) {
    GraphicObject* box = GraphicObject::create(&screen, {1, 1});
    auto glyph = std::make_unique<GraphicObject>(0, box);
    StirSlot appear;
    appear.No = 1;
    appear.Loop = 1;
    appear.Time = 500;
    appear.remaining = 300;
    StirSlot forever = appear;
    forever.No = 2;
    forever.Loop = -1;
    glyph->slots[1] = appear;
    glyph->slots[2] = forever;
    GraphicObject* g = glyph.get();
    box->glyphChildren.emplace(0, std::move(glyph));
    auto finish = std::make_unique<classQue_GraphicStdTextDrawingAllFinish>();
    finish->targetMask = queue::kTargetScreen;
    main().push(std::move(finish));
    main().release();
    drainCommandQueues(app, transition);
    EXPECT_TRUE(g->slots.at(1).finished());
    EXPECT_FALSE(g->slots.at(2).finished());
}

}  // namespace
}  // namespace vaxo2::graphics
