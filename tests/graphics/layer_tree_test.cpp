#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

#include "graphics/graphic_object.h"
#include "graphics/picture_failures.h"
#include "graphics/picture_prefetch.h"
#include "graphics/tree_draw.h"
#include "recording_backend.h"

namespace vaxo2::graphics {
namespace {

using testing::RecordingBackend;
using testing::testPicture;

class LayerTree : public ::testing::Test {
  protected:
    void SetUp() override {
        pictureFailures().clear();
        for (const char* name : {"bg.png", "a.png", "b.png", "c.png", "d.png"}) {
            backend.files[name] = testPicture(4, 2);
        }
        backend.files["wide.png"] = testPicture(300, 2);
    }
    GraphicObject* picture(const LayerPath& path, const std::string& file) {
        GraphicObject* object = GraphicObject::create(&root, path);
        object->loadImage(file);
        return object;
    }
    void draw() {
        backend.draws.clear();
        drawTree(root, backend, 16.0f / 9.0f);
    }
    // The backend outlives the tree: sources hand their textures back to it.
    RecordingBackend backend;
    GraphicObject root;
};

TEST_F(LayerTree, CreateMakesMissingLevelsAndReplacesTheLast) {
    GraphicObject* leaf = GraphicObject::create(&root, {1, 2});
    ASSERT_NE(leaf, nullptr);
    GraphicObject* middle = GraphicObject::find(&root, {1});
    ASSERT_NE(middle, nullptr);
    EXPECT_EQ(leaf->parent, middle);
    EXPECT_FALSE(middle->source);
    EXPECT_EQ(GraphicObject::find(&root, {1, 2}), leaf);

    GraphicObject::create(&root, {1, 2, 3});
    GraphicObject* again = GraphicObject::create(&root, {1, 2});
    EXPECT_TRUE(again->layerChildren.empty());  // the old subtree went with it
    EXPECT_EQ(GraphicObject::find(&root, {1, 2, 3}), nullptr);
    EXPECT_EQ(GraphicObject::find(&root, {1}), middle);  // intermediate level kept

    EXPECT_EQ(GraphicObject::create(&root, {}), nullptr);
    // Depth is bounded so recursive walks stay safe.
    EXPECT_NE(GraphicObject::create(&root, LayerPath(GraphicObject::kMaxLayerDepth, 1)), nullptr);
    EXPECT_EQ(GraphicObject::create(&root, LayerPath(GraphicObject::kMaxLayerDepth + 1, 1)),
              nullptr);
    EXPECT_EQ(GraphicObject::create(nullptr, {1}), nullptr);
    EXPECT_EQ(GraphicObject::find(&root, {}), nullptr);
    EXPECT_EQ(GraphicObject::find(&root, {7}), nullptr);
}

TEST_F(LayerTree, FreshObjectHasAFinishedSlotZeroAndIdentity) {
    GraphicObject* object = GraphicObject::create(&root, {5});
    ASSERT_EQ(object->slots.size(), 1u);
    EXPECT_TRUE(object->slots.at(0).finished());
    EXPECT_EQ(object->rate, 1.0f);
    EXPECT_EQ(object->worldMatrix, Mat4::identity());
    object->slots.at(0).Position = Float3{10, 20, 0};
    object->hide = 1;
    object->reset();
    EXPECT_EQ(object->hide, 0);
    EXPECT_EQ(object->slots.at(0).Position, (Float3{0, 0, 0}));
}

TEST_F(LayerTree, DeleteRemovesOnlyWhatExists) {
    GraphicObject::create(&root, {1, 2});
    GraphicObject::remove(GraphicObject::find(&root, {1, 3}));  // nothing there: no effect
    EXPECT_NE(GraphicObject::find(&root, {1, 2}), nullptr);
    const uint32_t before = GraphicObject::find(&root, {1})->changeCount;
    GraphicObject::remove(GraphicObject::find(&root, {1, 2}));
    EXPECT_EQ(GraphicObject::find(&root, {1, 2}), nullptr);
    EXPECT_NE(GraphicObject::find(&root, {1})->changeCount, before);

    GraphicObject::create(&root, {4});
    root.deleteAll();
    EXPECT_TRUE(root.layerChildren.empty());
}

TEST_F(LayerTree, ClearChildrenKeepsGlyphs) {
    GraphicObject* box = GraphicObject::create(&root, {3});
    GraphicObject::create(box, {1});
    box->glyphChildren.emplace(0, std::make_unique<GraphicObject>(0, box));
    box->clearChildren();
    EXPECT_TRUE(box->layerChildren.empty());
    EXPECT_EQ(box->glyphChildren.size(), 1u);
}

TEST_F(LayerTree, NegativeLayersDrawBehindTheParentAndGlyphsLast) {
    GraphicObject* parent = picture({10}, "a.png");
    picture({10, 1}, "c.png");
    picture({10, -1}, "b.png");
    picture({5}, "bg.png");
    auto glyph = std::make_unique<GraphicObject>(0, parent);
    glyph->loadImage("d.png");
    parent->glyphChildren.emplace(0, std::move(glyph));
    root.updateRoot(100);
    draw();
    EXPECT_EQ(backend.drawnTags(),
              (std::vector<std::string>{"bg.png", "b.png", "a.png", "c.png", "d.png"}));
}

TEST_F(LayerTree, HideOfAParentHidesItsSubtree) {
    GraphicObject* parent = picture({1}, "a.png");
    picture({1, 1}, "b.png");
    picture({2}, "c.png");
    parent->setHide(1);
    root.updateRoot(16);
    draw();
    EXPECT_EQ(backend.drawnTags(), (std::vector<std::string>{"c.png"}));
    parent->setHide(0);
    draw();
    EXPECT_EQ(backend.drawnTags(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
}

TEST_F(LayerTree, TreeHasPicturesOnlyWhenSomethingVisibleShows) {
    EXPECT_FALSE(treeHasPictures(root));
    GraphicObject* parent = GraphicObject::create(&root, {1});
    EXPECT_FALSE(treeHasPictures(root));  // an empty layer shows nothing
    picture({1, 2}, "a.png");
    EXPECT_TRUE(treeHasPictures(root));
    parent->setHide(1);
    EXPECT_FALSE(treeHasPictures(root));
}

TEST_F(LayerTree, StencilActionSelectsTheMode) {
    for (int64_t action : {0, 1, 2, 3, 7, -1}) {
        picture({action + 100}, "a.png")->StencilAction = action;
    }
    draw();
    std::vector<StencilMode> modes;
    for (const auto& d : backend.draws)
        modes.push_back(d.quad.stencil);
    EXPECT_EQ(modes, (std::vector<StencilMode>{StencilMode::Unchanged, StencilMode::TestEqual255,
                                               StencilMode::Write255, StencilMode::WriteZero,
                                               StencilMode::Invert, StencilMode::Unchanged}));
}

TEST_F(LayerTree, PictureIsCentredWithYUp) {
    picture({1}, "wide.png");
    draw();
    ASSERT_EQ(backend.draws.size(), 1u);
    const QuadDraw& quad = backend.draws[0].quad;
    EXPECT_FLOAT_EQ(quad.vertices[0].x, -150.0f);
    EXPECT_FLOAT_EQ(quad.vertices[0].y, 1.0f);
    EXPECT_FLOAT_EQ(quad.vertices[3].x, 150.0f);
    EXPECT_FLOAT_EQ(quad.vertices[3].y, -1.0f);
    EXPECT_EQ(quad.vertices[0].diffuse, 0xFFFFFFFFu);
}

TEST_F(LayerTree, LargePicturesAreTiledWithPartialEdgeTiles) {
    backend.maxSide = 128;
    picture({1}, "wide.png");  // 300 x 2: tiles of 128, 128 and 44 pixels
    draw();
    ASSERT_EQ(backend.draws.size(), 3u);
    const GraphicSource& source = *GraphicObject::find(&root, {1})->source;
    EXPECT_EQ(source.paddedWidth, 384);
    const QuadDraw& last = backend.draws[2].quad;
    EXPECT_FLOAT_EQ(last.vertices[0].x, 256.0f - 150.0f);
    EXPECT_FLOAT_EQ(last.vertices[1].x, 150.0f);
    EXPECT_NEAR(last.vertices[1].u, 44.0f / 128.0f, 1e-6);
    EXPECT_EQ(backend.textures.at(last.texture).width, 128);
}

TEST_F(LayerTree, SharedPictureIsLoadedOnceAndOutlivesOneUser) {
    GraphicObject* first = picture({1}, "a.png");
    picture({2}, "a.png");
    EXPECT_EQ(first->source->references(), 2);
    draw();
    EXPECT_EQ(backend.reads, 1);
    EXPECT_EQ(backend.textures.size(), 1u);
    GraphicObject::remove(first);
    draw();
    EXPECT_EQ(backend.drawnTags(), (std::vector<std::string>{"a.png"}));
    GraphicObject::remove(GraphicObject::find(&root, {2}));
    EXPECT_TRUE(backend.textures.empty());  // last reference gone: texture released
}

// A picture that cannot be shown is read, decoded and reported once, with its name, not at every
// frame; loading it again looks at its file again, and decodes only bytes that changed.
TEST_F(LayerTree, BrokenPicturesAreTriedAndReportedOnceUntilTheirFileChanges) {
    std::vector<std::string> reports;
    pictureFailures().setSink([&](const std::string& name, const std::string& reason) {
        reports.push_back(name + ": " + reason);
    });
    backend.files["broken.png"] = {'I', 'M', 'G', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    picture({1}, "broken.png");
    picture({2}, "missing.png");
    draw();
    draw();
    draw();
    EXPECT_TRUE(backend.draws.empty());
    EXPECT_EQ(backend.reads, 2);
    EXPECT_TRUE(GraphicObject::find(&root, {1})->source->failed());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "broken.png: not a picture that can be decoded");
    EXPECT_EQ(reports[1], "missing.png: not found in the packs or the game folder");

    // Shown again unchanged (another object, the same object, after a device reset): read
    // once more to compare, never reported again.
    picture({5}, "broken.png");
    picture({1}, "broken.png");
    draw();
    releaseAllTextures();
    draw();
    EXPECT_EQ(backend.reads, 2 + 1 + 2);
    EXPECT_EQ(reports.size(), 2u);

    // The file is replaced: the next load decodes it and shows it; a later break is news.
    backend.files["broken.png"] = testPicture(4, 2);
    picture({1}, "broken.png");
    draw();
    EXPECT_EQ(backend.drawnTags(), (std::vector<std::string>{"broken.png", "broken.png"}));
    EXPECT_EQ(reports.size(), 2u);
    GraphicObject::remove(GraphicObject::find(&root, {1}));
    GraphicObject::remove(GraphicObject::find(&root, {5}));
    backend.files["broken.png"] = {'I', 'M', 'G'};
    picture({1}, "broken.png");
    draw();
    EXPECT_EQ(reports.size(), 3u);

    // A failed texture leaves the tile without one; the source still counts as ready.
    backend.failTextures = 1;
    picture({3}, "c.png");
    draw();
    EXPECT_TRUE(GraphicObject::find(&root, {3})->source->ready());
    pictureFailures().setSink(nullptr);
}

// Pictures a command named are read and decoded on the prefetch's threads; the draw takes the
// result and shows, fails and reports exactly as when it decodes them itself.
TEST_F(LayerTree, PicturesDecodedAheadShowAndFailAsWhenDecodedAtTheDraw) {
    struct AheadBackend : RecordingBackend {
        bool readsLikePrefetch() const override { return true; }
    } ahead;
    ahead.files = backend.files;
    ahead.files["good.png"] = testPicture(3, 2, 0x41);
    ahead.files["broken.png"] = {'I', 'M', 'G', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3};
    std::vector<std::string> reports;
    pictureFailures().setSink([&](const std::string& name, const std::string& reason) {
        reports.push_back(name + ": " + reason);
    });
    std::atomic<int> decodes{0};
    const std::map<std::string, std::vector<uint8_t>> files = ahead.files;
    PicturePrefetch& prefetch = PicturePrefetch::instance();
    prefetch.start(
        [&files](const std::string& name, std::vector<uint8_t>& bytes) {
            auto it = files.find(name);
            if (it == files.end()) return false;
            bytes = it->second;
            return true;
        },
        [&decodes, &ahead](const std::vector<uint8_t>& bytes, DecodedImage& out) {
            ++decodes;
            return ahead.RecordingBackend::decodeImage(bytes, out);
        },
        2);
    for (const char* name : {"good.png", "broken.png", "missing.png", "good.png"}) {
        prefetch.request(name);
    }
    GraphicObject tree;
    for (const auto& [layer, name] : std::vector<std::pair<int64_t, std::string>>{
             {1, "good.png"}, {2, "broken.png"}, {3, "missing.png"}, {4, "a.png"}}) {
        GraphicObject::create(&tree, {layer})->loadImage(name);
    }
    drawTree(tree, ahead, 16.0f / 9.0f);
    ahead.draws.clear();
    drawTree(tree, ahead, 16.0f / 9.0f);
    // Only a.png, never named ahead, was read by the draw; good.png was decoded once.
    EXPECT_EQ(ahead.reads, 1);
    EXPECT_EQ(decodes.load(), 2);
    // The texture made from good.png holds its pixels (its tag stays empty: the backend's
    // reader never saw it).
    ASSERT_EQ(ahead.drawnTags(), (std::vector<std::string>{"", "a.png"}));
    ASSERT_EQ(ahead.textures.size(), 2u);
    const auto& good = ahead.textures.begin()->second;
    EXPECT_EQ(good.width, 3);
    EXPECT_EQ(good.pixels, std::vector<uint8_t>(3 * 2 * 4, 0x41));
    EXPECT_EQ(reports,
              (std::vector<std::string>{"broken.png: not a picture that can be decoded",
                                        "missing.png: not found in the packs or the game folder"}));
    PicturePrefetch::Result result;
    EXPECT_FALSE(prefetch.take("good.png", result));  // taken by the draw
    prefetch.stop();
    prefetch.request("b.png");  // stopped: ignored
    EXPECT_FALSE(prefetch.take("b.png", result));
    tree.deleteAll();
    pictureFailures().setSink(nullptr);
}

TEST_F(LayerTree, TransmittanceSetsTheVertexAlpha) {
    EXPECT_EQ(alphaByte(0.0f), 255u);
    EXPECT_EQ(alphaByte(0.5f), 128u);
    EXPECT_EQ(alphaByte(1.0f), 0u);
    EXPECT_EQ(alphaByte(-3.0f), 255u);
    EXPECT_EQ(alphaByte(std::nanf("")), 255u);

    GraphicObject* object = picture({1}, "a.png");
    StirSlot half;
    half.No = 1;
    half.Transmittance = 0.5f;
    object->slots[1] = half;
    object->slots[2] = half;
    root.updateRoot(10);
    EXPECT_FLOAT_EQ(object->transmittance, 1.0f);
    draw();
    EXPECT_TRUE(backend.draws.empty());  // fully transparent: not drawn at all
    object->slots.erase(2);
    root.updateRoot(20);
    draw();
    ASSERT_EQ(backend.draws.size(), 1u);
    EXPECT_EQ(backend.draws[0].quad.vertices[2].diffuse, 0x80FFFFFFu);
}

TEST_F(LayerTree, UpdateComposesWithTheParentAndMovesBySlots) {
    GraphicObject* parent = GraphicObject::create(&root, {1});
    parent->slots.at(0).Position = Float3{100, 0, 0};
    GraphicObject* child = GraphicObject::create(&root, {1, 1});
    StirSlot move;
    move.No = 1;
    move.Loop = 1;
    move.Time = 1000;
    move.Position = Float3{0, 64, 0};
    child->slots[1] = move;

    EXPECT_TRUE(root.updateRoot(5000));  // first update: dt 0
    root.updateRoot(5250);
    const Vec3 at = child->worldMatrix.transformPoint(Vec3{0, 0, 0});
    EXPECT_NEAR(at.x, 100.0f, 1e-3);
    EXPECT_NEAR(at.y, 0.15625f * 64.0f, 1e-3);
    EXPECT_NEAR(child->accumulatedPosition.x, 100.0f, 1e-4);
    EXPECT_NEAR(child->accumulatedPosition.y, 64.0f, 1e-4);

    root.updateRoot(6250);
    EXPECT_NEAR(child->worldMatrix.transformPoint(Vec3{0, 0, 0}).y, 64.0f, 1e-3);
    // Nothing moves any more: the frame counts as idle.
    EXPECT_FALSE(root.updateRoot(6266));
    EXPECT_FALSE(root.changedInLastUpdate());
    child->setHide(1);
    EXPECT_TRUE(root.updateRoot(6282));
    EXPECT_FALSE(root.updateRoot(6298));
}

TEST_F(LayerTree, AutoDeleteSlotAppliesItsEndOnceThenGoes) {
    GraphicObject* object = GraphicObject::create(&root, {1});
    StirSlot jump;
    jump.No = 3;
    jump.Loop = 1;
    jump.Position = Float3{9, 0, 0};
    jump.AutoDeleteFlag = true;
    object->slots[3] = jump;
    root.updateRoot(1);
    EXPECT_EQ(object->slots.count(3), 0u);
    EXPECT_NEAR(object->worldMatrix.transformPoint(Vec3{}).x, 9.0f, 1e-4);
    root.updateRoot(17);
    EXPECT_NEAR(object->worldMatrix.transformPoint(Vec3{}).x, 0.0f, 1e-4);
}

TEST_F(LayerTree, RateSlotSpeedsUpTheWholeObjectOnceFinished) {
    GraphicObject* object = GraphicObject::create(&root, {1});
    StirSlot rate;
    rate.No = 1;
    rate.Rate = 0.5f;  // Loop 0: finished, applies at once
    object->slots[1] = rate;
    StirSlot move;
    move.No = 2;
    move.Loop = 1;
    move.Time = 1500;
    object->slots[2] = move;
    root.updateRoot(100);
    EXPECT_FLOAT_EQ(object->rate, 1.5f);
    root.updateRoot(1100);  // 1000 ms x 1.5
    EXPECT_EQ(object->slots.at(2).remaining, 0);
    EXPECT_TRUE(object->slots.at(2).finished());

    // Absurd rates neither overflow nor run time backwards.
    object->slots.at(1).Rate = 1e30f;
    object->slots[2] = move;
    root.updateRoot(1116);
    root.updateRoot(1132);
    EXPECT_TRUE(object->slots.at(2).finished());
    object->slots.at(1).Rate = -5.0f;
    root.updateRoot(1148);
    EXPECT_FLOAT_EQ(object->rate, 0.0f);
}

TEST_F(LayerTree, CloneSharesSourcesAndCopiesTheSubtree) {
    GraphicObject* parent = picture({1}, "a.png");
    parent->slots.at(0).Position = Float3{1, 2, 3};
    picture({1, -2}, "b.png");
    std::unique_ptr<GraphicObject> copy = root.clone();
    GraphicObject* copied = GraphicObject::find(copy.get(), {1});
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, parent);
    EXPECT_EQ(copied->parent, copy.get());
    EXPECT_EQ(copied->source.get(), parent->source.get());
    EXPECT_EQ(parent->source->references(), 2);
    EXPECT_EQ(copied->slots.at(0).Position, (Float3{1, 2, 3}));
    EXPECT_NE(GraphicObject::find(copy.get(), {1, -2}), nullptr);
    copy.reset();
    EXPECT_EQ(parent->source->references(), 1);
}

TEST_F(LayerTree, BusyWhileAFiniteSlotRuns) {
    GraphicObject* object = GraphicObject::create(&root, {1});
    EXPECT_FALSE(object->busy());
    StirSlot forever;
    forever.No = 1;
    forever.Loop = -1;
    forever.Time = 100;
    object->slots[1] = forever;
    EXPECT_FALSE(object->busy());  // endless slots do not count
    StirSlot once = forever;
    once.No = 2;
    once.Loop = 1;
    object->slots[2] = once;
    EXPECT_TRUE(object->busy());
    root.updateRoot(1);
    root.updateRoot(200);
    EXPECT_FALSE(object->busy());

    // A movie whose player never appears stops counting as busy after 1000 tests.
    object->source = sourceCache().acquire(static_cast<int32_t>(SourceKind::Movie), "op.mpg");
    int tests = 0;
    while (object->busy() && tests < 5000)
        ++tests;
    EXPECT_EQ(tests, 1000);
}

TEST_F(LayerTree, RenderTargetRootDrawsItsSubtreeIntoTheTargetThenOneQuad) {
    picture({1}, "a.png");
    GraphicObject target;
    target.makeRenderTarget();
    target.setShader(shaderCache().acquire(kShaderKindPixel, ":AlphaIgnore"));
    target.layerChildren.emplace(1, GraphicObject::find(&root, {1})->clone(&target));
    target.transmittance = 0.5f;
    backend.backWidth = 1920;
    backend.backHeight = 1080;
    drawTree(target, backend, 16.0f / 9.0f);
    ASSERT_EQ(backend.events.size(), 4u);
    EXPECT_EQ(backend.events[0].rfind("begin", 0), 0u);
    EXPECT_EQ(backend.events[1], "draw");
    EXPECT_EQ(backend.events[2], "end");
    ASSERT_EQ(backend.draws.size(), 2u);
    const QuadDraw& quad = backend.draws[1].quad;
    EXPECT_EQ(backend.draws[1].tag, ":target");
    EXPECT_EQ(quad.program, ":AlphaIgnore");
    EXPECT_EQ(quad.vertices[0].diffuse >> 24, 128u);
    // 1920 x 1080 texture scaled onto the 1280 x 720 design area.
    const Vec3 corner =
        quad.world.transformPoint(Vec3{quad.vertices[3].x, quad.vertices[3].y, quad.vertices[3].z});
    EXPECT_NEAR(corner.x, 640.0f, 1e-3);
    EXPECT_NEAR(corner.y, -360.0f, 1e-3);

    // A 4:3 window: the quad grows to cover the taller visible area.
    const Float3 scale = renderTargetScale(1024, 768, 4.0f / 3.0f);
    EXPECT_NEAR(scale.x * 1024, 1280.0f, 1e-2);
    EXPECT_NEAR(scale.y * 768, 960.0f, 1e-2);
}

TEST_F(LayerTree, RenderTargetRootRendersItsSubtreeAgainOnlyWhenItMayHaveChanged) {
    picture({1}, "a.png");
    picture({2}, "b.png");
    std::unique_ptr<GraphicObject> snapshot = root.clone(nullptr);
    snapshot->makeRenderTarget();
    StirSlot& fade = snapshot->slots[0];
    fade.Transmittance = 1.0f;
    fade.Time = 1000;
    fade.Loop = 1;
    uint32_t now = 1000;
    snapshot->lastUpdate = now - 16;  // cloned from a screen tree updated a frame ago
    // One frame: update, then draw; true when the subtree was rendered into the target.
    auto frame = [&](float aspect = 16.0f / 9.0f) {
        snapshot->updateRoot(now);
        now += 16;
        backend.events.clear();
        drawTree(*snapshot, backend, aspect);
        const bool rendered = !backend.events.empty() && backend.events[0].rfind("begin", 0) == 0;
        EXPECT_EQ(backend.events.back(), "draw");  // the faded quad, every frame
        return rendered;
    };
    EXPECT_TRUE(frame());   // never rendered
    EXPECT_TRUE(frame());   // its pictures were realized while rendering: they changed
    EXPECT_FALSE(frame());  // a still snapshot: only its fade moves
    EXPECT_FALSE(frame());
    EXPECT_LT(snapshot->transmittance, 1.0f);
    EXPECT_GT(snapshot->transmittance, 0.0f);

    struct Case {
        const char* what;
        std::function<void()> change;
    };
    GraphicObject* child = GraphicObject::find(snapshot.get(), {1});
    const Case cases[] = {
        {"a slot moves a picture",
         [&] {
             StirSlot move;
             move.No = 1;
             move.Loop = 1;
             move.Time = 32;
             move.Position = Float3{10, 0, 0};
             child->slots[1] = move;
         }},
        {"commands ran on the tree", [&] { snapshot->markSubtreeChanged(); }},
        {"a child was removed",
         [&] { GraphicObject::remove(GraphicObject::find(snapshot.get(), {2})); }},
        {"the target was made anew", [&] { snapshot->source->releaseTextures(); }},
        {"another root rendered into the shared target",
         [&] {
             std::unique_ptr<GraphicObject> other = root.clone(nullptr);
             other->makeRenderTarget();
             drawTree(*other, backend, 16.0f / 9.0f);
         }},
    };
    for (const Case& c : cases) {
        c.change();
        EXPECT_TRUE(frame()) << c.what;
        while (frame()) {  // a moving slot renders until it ends
        }
        EXPECT_FALSE(frame()) << c.what;
    }
    EXPECT_TRUE(frame(4.0f / 3.0f)) << "the view's aspect changed";
    EXPECT_FALSE(frame(4.0f / 3.0f));
}

}  // namespace
}  // namespace vaxo2::graphics
