#include "app/startup_checks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/system.h"

namespace vaxo2::app {
namespace {

TEST(VersionCheck, RefusesOldAndNineXPlatforms) {
    EXPECT_FALSE(versionAccepted({2, 4}));
    EXPECT_TRUE(versionAccepted({2, 5}));
    EXPECT_TRUE(versionAccepted({2, 10}));
    EXPECT_FALSE(versionAccepted({1, 10})) << "9x counts as version 0";
    EXPECT_FALSE(versionAccepted({0, 6})) << "Win32s counts as version 0";
    EXPECT_TRUE(versionAccepted(platform::osVersion())) << "this platform must be accepted";
}

TEST(InstanceLockName, EverySeparatorBecomesAnUnderscore) {
    EXPECT_EQ(instanceLockName({2, 10}, "C:\\Games\\Demo"),
              "Global\\Vaxo2SystemRunning-C:_Games_Demo");
    EXPECT_EQ(instanceLockName({2, 10}, "/home/a\\\\b//c"),
              "Global\\Vaxo2SystemRunning-_home_a__b__c");
}

TEST(InstanceLockName, GlobalPrefixOnlyOnNewPlatforms) {
    EXPECT_EQ(instanceLockName({2, 5}, "x").rfind("Global\\", 0), 0u);
    EXPECT_EQ(instanceLockName({2, 4}, "x"), "Vaxo2SystemRunning-x");
    EXPECT_EQ(instanceLockName({1, 10}, "x"), "Vaxo2SystemRunning-x");
    EXPECT_EQ(instanceLockName({0, 10}, "x"), "Vaxo2SystemRunning-x");
}

TEST(InstanceLockName, LongestFolderStillFormsAFullName) {
    std::string folder = "/";
    while (folder.size() < 522)
        folder += "abcdefghi/";
    folder.resize(522);
    const std::string name = instanceLockName({2, 10}, folder);
    EXPECT_EQ(name.size(), std::string("Global\\Vaxo2SystemRunning-").size() + 522);
    EXPECT_EQ(name.find('/'), std::string::npos);
    // Two long folders that differ only at the end must not share a lock.
    std::string other = folder;
    other.back() = other.back() == 'x' ? 'y' : 'x';
    auto a = platform::tryAcquireInstanceLock(name);
    ASSERT_NE(a, nullptr);
    auto b = platform::tryAcquireInstanceLock(instanceLockName({2, 10}, other));
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(platform::tryAcquireInstanceLock(name), nullptr) << "the same name is held";
}

// Sets an environment variable for a scope (unset when `value` is null) and restores it.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(InstanceLockFolder, WithoutARuntimeFolderALockLivesInAFolderOfTheUsersOwn) {
    namespace fs = std::filesystem;
    const fs::path tmp =
        fs::temp_directory_path() / ("vaxo2-lock-test-" + std::to_string(::getpid()));
    fs::remove_all(tmp);
    fs::create_directories(tmp);
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv tmpdir("TMPDIR", tmp.c_str());
    const std::string own = (tmp / ("vaxo2-" + std::to_string(::getuid()))).string();
    EXPECT_EQ(platform::instanceLockFolder(), own);
    struct stat st {};
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
    {
        auto a = platform::tryAcquireInstanceLock("Vaxo2SystemRunning-test");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(platform::tryAcquireInstanceLock("Vaxo2SystemRunning-test"), nullptr);
        EXPECT_TRUE(fs::exists(own + "/Vaxo2SystemRunning-test.lock"));
    }
    // A folder that others can write to (or that another user made) is not trusted: the game
    // runs without the check rather than be blocked by someone else's lock file.
    ::chmod(own.c_str(), 0777);
    EXPECT_EQ(platform::instanceLockFolder(), "");
    auto unchecked = platform::tryAcquireInstanceLock("Vaxo2SystemRunning-test");
    EXPECT_NE(unchecked, nullptr);
    EXPECT_NE(platform::tryAcquireInstanceLock("Vaxo2SystemRunning-test"), nullptr);
    ::chmod(own.c_str(), 0700);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        EXPECT_EQ(platform::instanceLockFolder(), "");
    }
    // With a runtime folder, the lock goes there.
    {
        ScopedEnv withRuntime("XDG_RUNTIME_DIR", tmp.c_str());
        EXPECT_EQ(platform::instanceLockFolder(), tmp.string());
    }
    fs::remove_all(tmp);
}

}  // namespace
}  // namespace vaxo2::app
