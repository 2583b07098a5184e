#include "app/startup_checks.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vaxo2::app
