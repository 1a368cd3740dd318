// libveyraks services that behave alike on every platform: the current
// directory, absolute pathnames, the login name and the product directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_common.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace {

// Runs each test in a fresh folder as the current directory and restores
// the directory the test started in.
class InTempCwd : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        fs::current_path(dir_.path());
        cwd_ = fs::current_path().string();
    }
    void TearDown() override { fs::current_path(saved_); }

    kestrin_test::TempDir dir_{"veyraks"};
    fs::path saved_;
    std::string cwd_;  // the current directory as the OS reports it
};

TEST_F(InTempCwd, GetcwdFillsTheBufferWhenTheTextAndItsNulFit) {
    const int exact = static_cast<int>(cwd_.size()) + 1;
    std::vector<char> buf(exact + 16, 'x');
    ASSERT_EQ(fileutl_getcwd(buf.data(), 1024), 0);
    EXPECT_EQ(std::string(buf.data()), cwd_);
    ASSERT_EQ(fileutl_getcwd(buf.data(), exact), 0);
    EXPECT_EQ(std::string(buf.data()), cwd_);
}

TEST_F(InTempCwd, GetcwdFailsWhenTheBufferIsTooSmall) {
    std::vector<char> buf(cwd_.size() + 16, 'x');
    for (int size : {static_cast<int>(cwd_.size()), 1}) {
        EXPECT_NE(fileutl_getcwd(buf.data(), size), 0) << size;
        EXPECT_EQ(buf[0], '\0') << "the buffer is left empty, size " << size;
    }
    buf[0] = 'x';
    EXPECT_NE(fileutl_getcwd(buf.data(), 0), 0);
    EXPECT_EQ(buf[0], 'x') << "size 0 writes nothing";
    EXPECT_NE(fileutl_getcwd(nullptr, 1024), 0);
}

TEST_F(InTempCwd, AbspnResolvesAgainstTheCurrentDirectory) {
    const std::string sep(1, kestrin_test::separator());
    char buf[1024];
    ASSERT_EQ(fileutl_abspn("a/./b/../c", buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), cwd_ + sep + "a" + sep + "c");
    ASSERT_EQ(fileutl_abspn(".", buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), cwd_);
    ASSERT_EQ(fileutl_abspn("..", buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), fs::path(cwd_).parent_path().string());
}

TEST_F(InTempCwd, AbspnFollowsAChangeOfTheCurrentDirectory) {
    fs::create_directory("sub");
    char buf[1024];
    ASSERT_EQ(fileutl_abspn("f", buf, sizeof buf), 0);
    const std::string before = buf;
    fs::current_path("sub");
    ASSERT_EQ(fileutl_abspn("f", buf, sizeof buf), 0);
    EXPECT_NE(std::string(buf), before);
    EXPECT_EQ(std::string(buf), fs::current_path().string() + kestrin_test::separator() + "f");
}

TEST_F(InTempCwd, AbspnFailsForEmptyNullOrOversizedResults) {
    char buf[1024];
    EXPECT_NE(fileutl_abspn("", buf, sizeof buf), 0);
    EXPECT_NE(fileutl_abspn(nullptr, buf, sizeof buf), 0);
    EXPECT_NE(fileutl_abspn("f", nullptr, 1024), 0);
    const int exact = static_cast<int>(cwd_.size()) + 3;  // cwd, separator, "f", NUL
    EXPECT_EQ(fileutl_abspn("f", buf, exact), 0);
    EXPECT_NE(fileutl_abspn("f", buf, exact - 1), 0);
    EXPECT_STREQ(buf, "");
    std::string deep(2000, 'd');
    EXPECT_NE(fileutl_abspn(deep.c_str(), buf, sizeof buf), 0);
}

TEST(LoginName, IsNonEmptyAndTheSameTextForTheWholeProcess) {
    const char *name = sysutl_myloginname();
    ASSERT_NE(name, nullptr);
    EXPECT_STRNE(name, "");
    std::vector<const char *> seen(8);
    std::vector<std::thread> threads;
    for (auto &slot : seen) threads.emplace_back([&slot] { slot = sysutl_myloginname(); });
    for (auto &t : threads) t.join();
    for (const char *other : seen) EXPECT_EQ(other, name);
}

TEST(ProductDir, IsTheParentOfTheLibrarysFolder) {
    char buf[1024];
    std::memset(buf, 'x', sizeof buf);
    char *dir = ks_product_dir(buf, 0);
    ASSERT_EQ(dir, buf);
    EXPECT_EQ(std::string(dir), kestrin_test::product_dir());
    const char last = dir[std::strlen(dir) - 1];
    EXPECT_TRUE(last != '/' && last != '\\') << "no trailing separator: " << dir;
}

TEST(ProductDir, StaysAbsoluteAfterTheCurrentDirectoryChanges) {
    kestrin_test::TempDir elsewhere("veyraks-pd");
    fs::path saved = fs::current_path();
    fs::current_path(elsewhere.path());
    char buf[1024];
    std::string dir = ks_product_dir(buf, 0);
    fs::current_path(saved);
    EXPECT_EQ(dir, kestrin_test::product_dir());
    EXPECT_EQ(ks_product_dir(nullptr, 0), nullptr);
}

}  // namespace
