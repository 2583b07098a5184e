#include "io/resource_loader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/app_context.h"
#include "io/data_file.h"
#include "io/pack_writer.h"
#include "io_test_support.h"
#include "platform/system.h"

namespace vaxo2::io {
namespace {

using testing::bytesOf;
using testing::TempDir;
using testing::writeFile;

class ResourceLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override { loader.setGameFolder(dir.path()); }
    void pack(const std::string& file, std::vector<PackItem> items) {
        std::string error;
        ASSERT_TRUE(writePackFile(dir.file(file), items, error)) << error;
    }
    std::string load(const std::string& name) {
        std::vector<uint8_t> out;
        if (!loader.load(name, out, false)) {
            return "<none>";
        }
        return std::string(out.begin(), out.end());
    }
    TempDir dir;
    ResourceLoader loader;
};

TEST_F(ResourceLoaderTest, HigherNumberedPackWins) {
    pack("data03.vxc", {{"a.txt", {}, bytesOf("three")}, {"only3", {}, bytesOf("3")}});
    pack("data07.vxc", {{"A.TXT", {}, bytesOf("seven")}});
    EXPECT_EQ(load("a.txt"), "seven");
    EXPECT_EQ(load("only3"), "3");
}

TEST_F(ResourceLoaderTest, PackBeatsLooseFileAndLooseIsTheFallback) {
    pack("data01.vxc", {{"Start.vxs", {}, bytesOf("packed")}});
    writeFile(dir.file("Start.vxs"), "loose");
    writeFile(dir.file("other.vxs"), "loose other");
    EXPECT_EQ(load("Start.vxs"), "packed");
    EXPECT_EQ(load("other.vxs"), "loose other");
    EXPECT_EQ(load("absent.vxs"), "<none>");
}

TEST_F(ResourceLoaderTest, PackedZeroSizeFoundLooseZeroSizeNot) {
    pack("data02.vxc", {{"zero.bin", {}, {}}});
    writeFile(dir.file("loosezero.bin"), "");
    EXPECT_EQ(load("zero.bin"), "");
    EXPECT_EQ(load("loosezero.bin"), "<none>");
}

TEST_F(ResourceLoaderTest, PackNamesKeepTheirSeparator) {
    pack("data01.vxc", {{"system\\Title.png", {}, bytesOf("packed title")}});
    EXPECT_EQ(load("SYSTEM\\title.PNG"), "packed title");
    // A forward slash does not match the packed name; with no loose file it is not found.
    EXPECT_EQ(load("system/Title.png"), "<none>");
}

TEST_F(ResourceLoaderTest, LooseNamesMatchAnyCaseAndEitherSeparator) {
    writeFile(dir.file("system/title.png"), "loose title");
    writeFile(dir.file("system/sub/deep.png"), "deep");
    EXPECT_EQ(load("system\\Title.PNG"), "loose title");
    EXPECT_EQ(load("SYSTEM/SUB/DEEP.png"), "deep");
    EXPECT_EQ(load("System\\Sub/./deep.png"), "deep");
    EXPECT_EQ(load("system\\deep.png"), "<none>");  // wrong folder
    EXPECT_EQ(load("system"), "<none>");            // a folder is no file
}

TEST_F(ResourceLoaderTest, NamesLeavingTheFolderAreRefused) {
    TempDir outside;
    writeFile(outside.file("secret.txt"), "secret");
    std::string rel =
        "..\\" + std::filesystem::path(outside.path()).filename().string() + "\\secret.txt";
    EXPECT_EQ(load(rel), "<none>");
    EXPECT_EQ(load(outside.file("secret.txt")), "<none>");
    EXPECT_EQ(load("a/../../secret.txt"), "<none>");
    EXPECT_EQ(load("C:\\secret.txt"), "<none>");
    EXPECT_EQ(load(""), "<none>");
    EXPECT_TRUE(isSafeRelativeName("x\\..y\\.\\z"));
}

TEST_F(ResourceLoaderTest, DotDotThatStaysInsideIsAnOrdinaryName) {
    writeFile(dir.file("x.vxs"), "top");
    writeFile(dir.file("Sub/y.vxs"), "sub");
    EXPECT_EQ(load("sub\\..\\x.vxs"), "top");  // "sub" need not even exist, as on Windows
    EXPECT_EQ(load("nowhere\\..\\SUB\\.\\y.vxs"), "sub");
    EXPECT_EQ(load("sub\\..\\..\\x.vxs"), "<none>");
    std::vector<std::string> parts;
    EXPECT_TRUE(splitResourceName("a\\b\\..\\c/./d", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "c", "d"}));
    EXPECT_FALSE(splitResourceName("a\\..", parts));  // nothing left
    EXPECT_FALSE(splitResourceName("a\\..\\..\\b", parts));
}

TEST_F(ResourceLoaderTest, PacksAreFoundUnderAnyLetterCase) {
    pack("DATA01.VXC", {{"a.txt", {}, bytesOf("one")}, {"b.txt", {}, bytesOf("b one")}});
    pack("Data02.vxc", {{"A.TXT", {}, bytesOf("two")}});
    EXPECT_EQ(load("a.txt"), "two");  // the higher number still wins
    EXPECT_EQ(load("b.txt"), "b one");
}

std::vector<std::string> gProblems;
void recordProblem(const std::string& file, const std::string& why) {
    gProblems.push_back(file + ": " + why);
}

TEST_F(ResourceLoaderTest, SpecialFilesAreNeverOpenedAndCountAsMissing) {
    gProblems.clear();
    setProblemSink(&recordProblem);
    // A FIFO would block open() and read() for ever; a device never ends.
    ASSERT_EQ(::mkfifo(dir.file("data01.vxc").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.file("Start.vxs").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("Start.vxs", dir.file("picture.png").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.file("zero.bin").c_str()), 0);
    EXPECT_EQ(load("Start.vxs"), "<none>");
    EXPECT_EQ(load("START.VXS"), "<none>");
    EXPECT_EQ(load("picture.png"), "<none>");
    EXPECT_EQ(load("zero.bin"), "<none>");
    DataFile file;
    EXPECT_FALSE(file.openForReading(dir.file("picture.png"), false));
    EXPECT_EQ(file.lastError(), DataFile::kNotRegularFile);
    // The pack that cannot be read is named once, however often it is searched.
    EXPECT_EQ(gProblems.size(), 1u);
    EXPECT_NE(gProblems.at(0).find("data01.vxc: pack cannot be read: not a regular file"),
              std::string::npos);
    setProblemSink(nullptr);
}

TEST_F(ResourceLoaderTest, ContextGameFolderWinsOverTheSetter) {
    TempDir other;
    writeFile(other.file("where.txt"), "context folder");
    writeFile(dir.file("where.txt"), "setter folder");
    EXPECT_EQ(load("where.txt"), "setter folder");
    {
        core::AppContext context;
        context.gameFolder = other.path();
        core::ScopedAppContext scope(context);
        EXPECT_EQ(load("where.txt"), "context folder");
    }
    EXPECT_EQ(load("where.txt"), "setter folder");
}

TEST_F(ResourceLoaderTest, PacksOfAFolderAreReadOnceUntilReset) {
    pack("data01.vxc", {{"x", {}, bytesOf("old")}});
    EXPECT_EQ(load("x"), "old");
    pack("data01.vxc", {{"x", {}, bytesOf("new!")}});
    // The index is kept; the data range it names is read from the file as it now is.
    EXPECT_EQ(load("x").size(), 3u);
    loader.reset();
    EXPECT_EQ(load("x"), "new!");
}

TEST_F(ResourceLoaderTest, ConcurrentLoadsAllSucceed) {
    std::vector<PackItem> items;
    for (int i = 0; i < 200; ++i) {
        items.push_back({"f" + std::to_string(i), {}, bytesOf("v" + std::to_string(i))});
    }
    pack("data05.vxc", items);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 200; i += 4) {
                if (load("F" + std::to_string(i)) == "v" + std::to_string(i)) {
                    ++good;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(good.load(), 200);
}

int gCalls = 0;
std::string gText;
int cancelDialog(const std::string& text, const std::string&, uint32_t) {
    ++gCalls;
    gText = text;
    return platform::mb::kIdCancel;
}

TEST_F(ResourceLoaderTest, ShowErrorsOnlyForTheLooseFileWhenAsked) {
    setFileErrorDialog(&cancelDialog);
    gCalls = 0;
    std::vector<uint8_t> out;
    EXPECT_FALSE(loader.load("missing.vxs", out, false));
    EXPECT_EQ(gCalls, 0);
    EXPECT_FALSE(loader.load("missing.vxs", out, true));
    EXPECT_EQ(gCalls, 1);
    EXPECT_NE(gText.find("missing.vxs"), std::string::npos);
    EXPECT_NE(gText.find("errorcode:2"), std::string::npos);
    EXPECT_FALSE(loader.load("..\\escape", out, true));
    EXPECT_EQ(gCalls, 2);
    // The name as the script wrote it, not the path it was mapped to.
    EXPECT_FALSE(loader.load("Sub\\..\\Missing.VXS", out, true));
    EXPECT_EQ(gCalls, 3);
    EXPECT_EQ(gText.rfind("filename:Sub\\..\\Missing.VXS\nerrorcode:2\n", 0), 0u) << gText;
    setFileErrorDialog(nullptr);
}

TEST(LooseFileResolution, ExactPathPreferredOverCaseMatches) {
    TempDir dir;
    writeFile(dir.file("Data/File.txt"), "upper");
    writeFile(dir.file("data/file.txt"), "lower");
    std::string path;
    ASSERT_TRUE(resolveLooseFile(dir.path(), "data\\file.txt", path));
    EXPECT_EQ(path, dir.file("data/file.txt"));
    ASSERT_TRUE(resolveLooseFile(dir.path(), "Data\\File.txt", path));
    EXPECT_EQ(path, dir.file("Data/File.txt"));
    // Neither spelled exactly: the first match in byte order, folder by folder.
    ASSERT_TRUE(resolveLooseFile(dir.path(), "DATA\\FILE.TXT", path));
    EXPECT_EQ(path, dir.file("Data/File.txt"));
}

}  // namespace
}  // namespace vaxo2::io
