// Trigger areas on a real scene: objects built in a layer tree, updated from their slots and
// drawn (through a recording backend), then pointed at and clicked through the input manager.
#include <gtest/gtest.h>

#include <cmath>

#include "../graphics/recording_backend.h"
#include "graphics/tree_draw.h"
#include "input/area_hit.h"
#include "input/input_manager.h"
#include "input_test_support.h"
#include "queue/command_queue.h"

namespace vaxo2::input {
namespace {

using namespace testing;
using graphics::GraphicObject;
using graphics::StirSlot;
using graphics::testing::RecordingBackend;
using graphics::testing::testPicture;

class AreaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        queue::systemCommandQueue().clear();
        for (const char* name :
             {"button.png", "hover.png", "pressed.png", "window.png", "glow.png"})
            backend.files[name] = testPicture(200, 100);
        scene.root = &root;
    }
    void TearDown() override { queue::systemCommandQueue().clear(); }

    // An object at `path` showing `file`, turned and scaled about its centre by slot 2 and
    // then moved by slot 1 (a later slot's transform applies to the picture first).
    GraphicObject* place(const queue::LayerPath& path, const std::string& file, float x, float y,
                         float scale = 1.0f, float roll = 0.0f) {
        GraphicObject* o = GraphicObject::create(&root, path);
        if (!file.empty()) o->loadImage(file);
        o->slots[1].No = 1;
        o->slots[1].Position = {x, y, 0};
        o->slots[2].No = 2;
        o->slots[2].Scale = {scale, scale, 1};
        o->slots[2].Roll = roll;
        return o;
    }
    // One frame: the system queue's released commands, the update, the draw.
    void frame() {
        queue::QueExecuteContext context;
        context.screenRoot = &root;
        queue::systemCommandQueue().executeReleased(context);
        root.updateRoot(++now);
        backend.draws.clear();
        graphics::drawSubtree(root, backend);
    }
    // What the object at `path` showed in the last frame.
    std::string shown(const queue::LayerPath& path) {
        GraphicObject* o = GraphicObject::find(&root, path);
        return o != nullptr && o->source ? o->source->name() : std::string();
    }

    RecordingBackend backend;  // outlives the tree, whose pictures it made
    GraphicObject root;
    FakeScene scene;
    InputManager manager{&scene};
    uint32_t now = 1;
};

// Design (x, y up from the centre) to client pixels of a 1280x720 window.
int px(float designX) {
    return static_cast<int>(std::lround(640 + designX));
}
int py(float designY) {
    return static_cast<int>(std::lround(360 - designY));
}

TEST_F(AreaTest, ButtonShowsHoverAndPressedPictures) {
    place({10}, "button.png", -300, 0);
    place({11}, "", -300, 0);  // the overlay's object
    frame();
    InputContext* context = manager.createContext(0);
    InputTrigger* button = manager.addTrigger(*context, TriggerKind::MouseButton, 1);
    manager.setArea(*button, {10});
    manager.setImages(*button, "button.png", "hover.png", "pressed.png", "");
    manager.setOverlay(*button, {11}, "", "glow.png");
    manager.updateHoverStates(*context, nullptr);
    frame();
    EXPECT_EQ(shown({10}), "button.png");

    Waiting w(manager, *context);
    manager.handleMessage(moveTo(px(-300), py(40)));  // over the button
    frame();
    EXPECT_EQ(shown({10}), "hover.png");
    EXPECT_EQ(shown({11}), "glow.png");
    EXPECT_EQ(backend.drawnTags(), (std::vector<std::string>{"hover.png", "glow.png"}));
    manager.handleMessage(moveTo(px(-300), py(60)));  // just above it
    frame();
    EXPECT_EQ(shown({10}), "button.png");
    EXPECT_EQ(GraphicObject::find(&root, {11})->hide, 1) << "the overlay goes with the hover";
    manager.handleMessage(moveTo(px(-390), py(-45)));
    manager.handleMessage(click(px(-390), py(-45)));
    EXPECT_EQ(w.result(), button);
    frame();
    EXPECT_EQ(shown({10}), "pressed.png");
    EXPECT_EQ(backend.drawnTags(), std::vector<std::string>{"pressed.png"});
}

TEST_F(AreaTest, RotatedScaledButtonIsHitInsideItsDrawnShapeOnly) {
    // 200x100 at (300, 100), scaled 1.5 and turned a quarter of a half turn (45 degrees,
    // counter-clockwise): half-sides 150 along (1, 1) and 75 along (-1, 1).
    GraphicObject* button = place({20}, "button.png", 300, 100, 1.5f, 0.25f);
    frame();
    const graphics::CameraSetup camera = cameraForViewport(1280, 720);
    auto along = [](float u, float v) {  // design point at u along the long side, v across
        const float c = std::sqrt(0.5f);
        return GamePoint{640 + 300 + u * c - v * c, 360 - (100 + u * c + v * c)};
    };
    struct Case {
        float u, v;
        bool hit;
    };
    const Case cases[] = {
        {0, 0, true},
        {140, 0, true},
        {-140, 0, true},
        {0, 70, true},
        {0, -70, true},
        {145, 70, true},
        {160, 0, false},
        {-160, 0, false},
        {0, 80, false},
        {0, -80, false},
        {155, 70, false},
        // Inside the unturned box (|x| < 150, |y| < 75) yet outside the turned shape.
        {49.5f, -148.5f, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pictureContains(*button, along(c.u, c.v), camera), c.hit) << c.u << ", " << c.v;
    EXPECT_FALSE(pictureContains(*button, GamePoint{640 + 300 + 140, 360 - 100 + 70}, camera))
        << "a corner of the unturned box";

    // Through the manager, in a 21:9 window (bars of 320): the same shape, mapped.
    scene.width = 2560;
    scene.height = 1080;
    InputContext* context = manager.createContext(0);
    InputTrigger* trigger = manager.addTrigger(*context, TriggerKind::MouseButton, 1);
    manager.setArea(*trigger, {20});
    auto client = [](GamePoint g) { return click(int(320 + g.x * 1.5f), int(g.y * 1.5f)); };
    {
        Waiting w(manager, *context, 30);
        manager.handleMessage(client(along(160, 0)));
        EXPECT_EQ(w.result(), nullptr);
    }
    Waiting w(manager, *context, 1000);
    manager.handleMessage(client(along(130, 60)));
    EXPECT_EQ(w.result(), trigger);
}

TEST_F(AreaTest, ObjectsThatDrawNothingAreNeverHit) {
    GraphicObject* parent = place({30}, "", 0, 0);
    GraphicObject* child = place({30, 1}, "button.png", 0, 0);
    GraphicObject* faded = place({31}, "button.png", 0, 0);
    faded->slots[2].Transmittance = 1.0f;
    GraphicObject* flat = place({32}, "button.png", 0, 0, 0.0f);
    GraphicObject* bare = place({33}, "", 0, 0);
    GraphicObject* missing = place({34}, "nosuch.png", 0, 0);
    frame();
    const graphics::CameraSetup camera = cameraForViewport(1280, 720);
    const GamePoint centre{640, 360};
    EXPECT_TRUE(pictureContains(*child, centre, camera));
    parent->setHide(1);
    EXPECT_FALSE(pictureContains(*child, centre, camera)) << "under a hidden parent";
    EXPECT_FALSE(objectShown(child));
    EXPECT_FALSE(pictureContains(*faded, centre, camera)) << "wholly transparent";
    EXPECT_FALSE(pictureContains(*flat, centre, camera)) << "scaled to nothing";
    EXPECT_FALSE(pictureContains(*bare, centre, camera)) << "no picture";
    EXPECT_FALSE(pictureContains(*missing, centre, camera)) << "a picture that never loaded";
    EXPECT_FALSE(objectShown(nullptr));
}

TEST_F(AreaTest, ClickOutsideEveryAreaAndHiddenOwnersReachTheLowerContext) {
    place({100}, "window.png", 0, -240);
    place({100, 10}, "button.png", 0, 0);  // placed within the window
    frame();
    InputContext* toolbar = manager.createContext(1);
    manager.setOwnerPath(*toolbar, {100});
    InputTrigger* button = manager.addTrigger(*toolbar, TriggerKind::MouseButton, 1);
    manager.setArea(*button, {100, 10});
    InputContext* keyWait = manager.createContext(0);
    InputTrigger* anywhere = manager.addTrigger(*keyWait, TriggerKind::MouseButton, 1);
    struct Case {
        int x, y;
        bool hideOwner;
        InputTrigger* toolbarFires;
        InputTrigger* keyWaitFires;
    };
    const Case cases[] = {
        {px(0), py(-240), false, button, nullptr},     // on the button
        {px(300), py(200), false, nullptr, anywhere},  // outside every area
        {px(0), py(-240), true, nullptr, anywhere},    // the owner is hidden
    };
    for (const Case& c : cases) {
        GraphicObject::find(&root, {100})->setHide(c.hideOwner ? 1 : 0);
        Waiting t(manager, *toolbar, 30), k(manager, *keyWait, 30);
        manager.handleMessage(click(c.x, c.y));
        EXPECT_EQ(t.result(), c.toolbarFires) << c.x << ", " << c.y;
        EXPECT_EQ(k.result(), c.keyWaitFires) << c.x << ", " << c.y;
    }
    // A missing owner passes the context over as well.
    GraphicObject::remove(GraphicObject::find(&root, {100}));
    Waiting t(manager, *toolbar, 30), k(manager, *keyWait, 30);
    manager.handleMessage(click(px(0), py(-240)));
    EXPECT_EQ(t.result(), nullptr);
    EXPECT_EQ(k.result(), anywhere);
}

}  // namespace
}  // namespace vaxo2::input
