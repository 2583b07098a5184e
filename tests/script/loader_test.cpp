#include "script/script_loader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/app_context.h"
#include "io/resource_loader.h"
#include "platform/system.h"
#include "script/compiler.h"
#include "script/flags.h"
#include "script/interpreter.h"

namespace vaxo2::script {
namespace {

namespace fs = std::filesystem;

const fs::path kPlugin = fs::path(VAXO2_BINARY_DIR) / "tools/text2vxs_sample/libText2vxs.so";

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setMessageBoxesInteractive(false);
        dir = fs::temp_directory_path() /
              ("vaxo2-script-loader-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        appCtx.gameFolder = dir.string();
        io::ResourceLoader::instance().reset();
    }
    void TearDown() override {
        io::ResourceLoader::instance().reset();
        fs::remove_all(dir);
    }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    // Puts the sample plugin into the game folder and lets the loader take it from there.
    void installPlugin() {
        ASSERT_TRUE(fs::exists(kPlugin)) << kPlugin;
        fs::copy_file(kPlugin, dir / "libText2vxs.so", fs::copy_options::overwrite_existing);
        loader.preConverter().allowGameFolder(true);
    }
    std::vector<std::string> names(const ScriptContext& c) {
        std::vector<std::string> out;
        for (int32_t idx : c.image.commandList) {
            const ScriptElement* e = c.image.element(idx);
            out.emplace_back(e ? c.image.text(e->name).value_or("") : "");
        }
        return out;
    }

    fs::path dir;
    core::AppContext appCtx;
    core::ScopedAppContext scoped{appCtx};
    ScriptLoader loader;
    ScriptHost host;
};

TEST_F(LoaderTest, PluginExpandsShorthandAndItsResultIsFreed) {
    installPlugin();
    write("a.vxs", "Apply\n@Hello, world\n");
    ScriptContext c;
    c.name = "a.vxs";
    ASSERT_TRUE(loader.loadScript(c, &host));
    EXPECT_TRUE(loader.preConverter().loaded());
    EXPECT_EQ(names(c), (std::vector<std::string>{"Apply", "GraphicTextOut", "KeyWait"}));
    std::vector<ScriptValue> args;
    const ScriptElement* text = c.image.element(c.image.commandList[1]);
    ASSERT_EQ(ScriptInterpreter::bindArguments(c, text->link, args), 3);
    EXPECT_EQ(args[2].text, "Hello, world");

    // A refusal that still hands back a block: the text stays, the block is given back.
    write("refuse.vxs", "@not expanded\nApply");
    ScriptContext r;
    r.name = "refuse.vxs";
    ASSERT_TRUE(loader.loadScript(r, &host));
    EXPECT_EQ(names(r), (std::vector<std::string>{"Apply"}));

    std::string error;
    auto lib = platform::loadDynamicLibrary((dir / "libText2vxs.so").string(), error);
    ASSERT_TRUE(lib) << error;
    auto live = reinterpret_cast<int (*)()>(lib->symbol("Text2vxsLiveHandles"));
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live(), 0);
}

TEST_F(LoaderTest, ConverterAnsweringZeroLeavesTheText) {
    installPlugin();
    write("b.vxs", "FlagSet(Flag=1) Wait(10)");
    ScriptContext c;
    c.name = "b.vxs";
    ASSERT_TRUE(loader.loadScript(c, &host));
    EXPECT_EQ(names(c), (std::vector<std::string>{"FlagSet", "Wait"}));
}

TEST_F(LoaderTest, MissingPluginIsRetriedAtTheNextScript) {
    write("c.vxs", "@Hi");
    ScriptContext c;
    c.name = "c.vxs";
    loader.loadScript(c, &host);
    EXPECT_FALSE(loader.preConverter().loaded());
    EXPECT_TRUE(c.image.commandList.empty());  // "@Hi" is no statement by itself
    installPlugin();
    ScriptContext again;
    again.name = "c.vxs";
    loader.loadScript(again, &host);
    EXPECT_TRUE(loader.preConverter().loaded());
    EXPECT_EQ(names(again), (std::vector<std::string>{"GraphicTextOut", "KeyWait"}));
}

TEST_F(LoaderTest, PluginFromTheGameFolderOnlyWhenThePlayerAllowsIt) {
    // Native code that came with a downloaded game is not run by default.
    fs::copy_file(kPlugin, dir / "libText2vxs.so");
    write("c.vxs", "@Hi");
    ScriptContext c;
    c.name = "c.vxs";
    loader.loadScript(c, &host);
    EXPECT_FALSE(loader.preConverter().loaded());
    EXPECT_TRUE(c.image.commandList.empty());

    // The runtime's own folder is searched; a FIFO there is no library and does not block.
    const fs::path own = dir / "own";
    fs::create_directories(own);
    ASSERT_EQ(::mkfifo((own / "libText2vxs.so").c_str(), 0600), 0);
    loader.preConverter().setOwnFolder(own.string());
    loader.loadScript(c, &host);
    EXPECT_FALSE(loader.preConverter().loaded());
    fs::remove(own / "libText2vxs.so");
    fs::copy_file(kPlugin, own / "libText2vxs.so");
    ScriptContext fromOwn;
    fromOwn.name = "c.vxs";
    loader.loadScript(fromOwn, &host);
    EXPECT_TRUE(loader.preConverter().loaded());
    EXPECT_EQ(names(fromOwn), (std::vector<std::string>{"GraphicTextOut", "KeyWait"}));

    ScriptLoader allowing;
    allowing.preConverter().setOwnFolder("");
    allowing.preConverter().allowGameFolder(true);
    ScriptContext fromGame;
    fromGame.name = "c.vxs";
    allowing.loadScript(fromGame, &host);
    EXPECT_TRUE(allowing.preConverter().loaded());
    EXPECT_EQ(names(fromGame), (std::vector<std::string>{"GraphicTextOut", "KeyWait"}));
}

TEST_F(LoaderTest, ImagesAreTakenAsTheyAre) {
    ScriptImage img;
    compileScript("Wait(Time=1) Apply", img);
    img.temporaryCount = 0;
    std::vector<uint8_t> bytes = writeImage(img);
    write("img.vxs", std::string(bytes.begin(), bytes.end()));
    write("short.vxs", std::string("VXS002\0\0\0\0", 10));
    ScriptContext c;
    c.name = "img.vxs";
    ASSERT_TRUE(loader.loadScript(c, &host));
    EXPECT_EQ(c.image.elementTable, img.elementTable);
    ScriptContext s;
    s.name = "short.vxs";
    EXPECT_FALSE(loader.loadScript(s, &host));
    EXPECT_TRUE(s.image.commandList.empty());
}

TEST_F(LoaderTest, MissingEmptyAndUnnamedScriptsGiveEmptyContexts) {
    write("empty.vxs", "");
    for (const char* name : {"", "missing.vxs", "empty.vxs"}) {
        ScriptContext c;
        c.name = name;
        EXPECT_FALSE(loader.loadScript(c, &host)) << name;
        EXPECT_TRUE(c.image.commandList.empty());
        EXPECT_EQ(c.readMarks, nullptr);
    }
}

TEST_F(LoaderTest, TextEncodingsAreDecoded) {
    // UTF-16 little-endian with a byte-order mark.
    std::string utf16 = "\xFF\xFE";
    for (char ch : std::string("Apply KeyWait"))
        utf16 += std::string{ch, '\0'};
    write("u16.vxs", utf16);
    ScriptContext c;
    c.name = "u16.vxs";
    ASSERT_TRUE(loader.loadScript(c, &host));
    EXPECT_EQ(names(c), (std::vector<std::string>{"Apply", "KeyWait"}));
    // UTF-8 with a byte-order mark: the first statement still compiles.
    write("u8.vxs", "\xEF\xBB\xBFQuit");
    ScriptContext d;
    d.name = "u8.vxs";
    ASSERT_TRUE(loader.loadScript(d, &host));
    EXPECT_EQ(names(d), (std::vector<std::string>{"Quit"}));
}

TEST_F(LoaderTest, PreloadedScriptIsTakenByItsFirstLoadOnly) {
    write("Start.vxs",
          "SystemTextSpeed(Speed=20)\n"
          "Graphic(Layer=0, File=\"a.png\")\n"
          "Sound(Layer=0, File=\"music.ogg\")\n"
          "GraphicAlter(Layer=1, File=12)\n"
          "Graphic(Layer=2, File=\"a.png\")\n"
          "GraphicAlter(Layer=3, File=\"b.png\")\n"
          "Wait(Time=1)\n"
          "Graphic(Layer=4, File=\"c.png\")\n");
    write("missing-later.vxs", "Quit");
    loader.preload("Start.vxs");
    loader.preload("missing-later.vxs");  // a second preload replaces the first
    fs::remove(dir / "missing-later.vxs");
    EXPECT_NE(loader.preloadedScript(), nullptr);
    loader.preload("Start.vxs");
    const ScriptContext* first = loader.preloadedScript();
    ASSERT_NE(first, nullptr);

    // Pictures up to the first wait, plain strings only, each once, within the limit.
    const auto pictures = [](std::string_view n) { return n == "Graphic" || n == "GraphicAlter"; };
    const auto waits = [](std::string_view n) { return n == "Wait"; };
    const auto never = [](std::string_view) { return false; };
    EXPECT_EQ(leadingFileArguments(*first, pictures, waits, 64, 4),
              (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(leadingFileArguments(*first, pictures, never, 64, 4),
              (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_EQ(leadingFileArguments(*first, pictures, never, 64, 1),
              (std::vector<std::string>{"a.png"}));
    EXPECT_EQ(leadingFileArguments(*first, pictures, never, 2, 4),
              (std::vector<std::string>{"a.png"}));

    // The file changes after the preload: the first load runs what was preloaded, later ones
    // read the file again; another name never takes the preloaded image.
    write("Start.vxs", "Quit");
    ScriptContext other;
    other.name = "start2.vxs";
    EXPECT_FALSE(loader.loadScript(other, &host));
    ScriptContext c;
    c.name = "Start.vxs";
    ASSERT_TRUE(loader.loadScript(c, &host));
    EXPECT_EQ(names(c).size(), 8u);
    EXPECT_EQ(loader.preloadedScript(), nullptr);
    ScriptContext again;
    again.name = "Start.vxs";
    ASSERT_TRUE(loader.loadScript(again, &host));
    EXPECT_EQ(names(again), (std::vector<std::string>{"Quit"}));

    // A script that is not there preloads as nothing and still loads as nothing.
    loader.preload("absent.vxs");
    EXPECT_EQ(loader.preloadedScript(), nullptr);
    ScriptContext absent;
    absent.name = "absent.vxs";
    EXPECT_FALSE(loader.loadScript(absent, &host));
}

TEST_F(LoaderTest, ScenarioRunsFromLooseFilesCaseInsensitively) {
    fs::create_directories(dir / "system");
    write("Start.vxs", "FlagSet(Flag=10, Value=3) ScriptCall(File=\"SYSTEM\\sub.VXS\")");
    write("system/sub.vxs", "FlagSet(Flag=11, Value=4)");
    ScriptInterpreter in;
    in.loader().setPreConverterEnabled(false);
    in.runScripts("Start.vxs");
    EXPECT_EQ(localFlag(10), 3);
    EXPECT_EQ(localFlag(11), 4);
}

}  // namespace
}  // namespace vaxo2::script
