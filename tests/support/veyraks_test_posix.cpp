// libveyraks on POSIX: the private temporary directory and its checks, the
// login name from the passwd entry, absolute pathnames without a cwd.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_common.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace {

// Changes back to the directory that was current when it was made.
struct RestoreCwd {
    fs::path saved = fs::current_path();
    ~RestoreCwd() { fs::current_path(saved); }
};

// Points TMPDIR at a private folder for the test and restores it after.
class Tmpdir : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char *old = std::getenv("TMPDIR")) saved_ = old;
        ::setenv("TMPDIR", base_.path().c_str(), 1);
        expected_ = base_.path() + "/kestrin-" + std::to_string(::geteuid());
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    // fileutl_get_tmpdir as the service and the bridge call it.
    int get(std::string *out) {
        char buf[1024];
        int rc = fileutl_get_tmpdir(0, buf, 1023, 0);
        *out = buf;
        return rc;
    }

    kestrin_test::TempDir base_{"tmpdir"};
    std::optional<std::string> saved_;
    std::string expected_;
};

// True when a file can be created under dir the way callers join names to
// it (either separator).
bool can_create_under(const std::string &dir) {
    for (const char *name : {"/probe.txt", "\\probe.txt"}) {
        std::string path = dir + name;
        if (std::FILE *f = std::fopen(path.c_str(), "w")) {
            std::fclose(f);
            std::remove(path.c_str());
            return true;
        }
    }
    return false;
}

TEST_F(Tmpdir, CreatesAPrivateDirectoryWithMode0700) {
    std::string dir;
    ASSERT_EQ(get(&dir), 0);
    EXPECT_EQ(dir, expected_);
    struct stat st;
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_TRUE(can_create_under(dir));
}

TEST_F(Tmpdir, GivesTheOwnerFullAccessEvenUnderARestrictiveUmask) {
    mode_t old = ::umask(0577);
    std::string dir;
    int rc = get(&dir);
    ::umask(old);
    ASSERT_EQ(rc, 0);
    struct stat st;
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(Tmpdir, ReusesAnExistingPrivateDirectory) {
    ASSERT_EQ(::mkdir(expected_.c_str(), 0700), 0);
    kestrin_test::write_file(expected_ + "/kept", "x");
    std::string dir;
    ASSERT_EQ(get(&dir), 0);
    EXPECT_EQ(dir, expected_);
    EXPECT_EQ(kestrin_test::read_file(expected_ + "/kept"), "x");
    ASSERT_EQ(get(&dir), 0) << "a second call finds the same directory";
    EXPECT_EQ(dir, expected_);
}

TEST_F(Tmpdir, DropsTrailingSlashesOfTmpdir) {
    ::setenv("TMPDIR", (base_.path() + "///").c_str(), 1);
    std::string dir;
    ASSERT_EQ(get(&dir), 0);
    EXPECT_EQ(dir, expected_);
}

TEST_F(Tmpdir, ReadsTmpdirOnEveryCall) {
    std::string first, second;
    ASSERT_EQ(get(&first), 0);
    kestrin_test::TempDir other("tmpdir2");
    ::setenv("TMPDIR", other.path().c_str(), 1);
    ASSERT_EQ(get(&second), 0);
    EXPECT_EQ(second, other.path() + "/kestrin-" + std::to_string(::geteuid()));
    EXPECT_NE(first, second);
}

TEST_F(Tmpdir, FallsBackToSlashTmpWhenTmpdirIsUnsetEmptyOrRelative) {
    const std::string fallback = "/tmp/kestrin-" + std::to_string(::geteuid());
    struct Setting {
        const char *value;  // null: unset
    };
    for (Setting s : {Setting{nullptr}, Setting{""}, Setting{"relative/dir"}}) {
        if (s.value) {
            ::setenv("TMPDIR", s.value, 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        char buf[1024];
        int rc = fileutl_get_tmpdir(0, buf, 1023, 0);
        // /tmp/kestrin-<uid> may already exist in a shape of someone
        // else's making; the name is what matters here.
        if (rc == 0) {
            EXPECT_EQ(std::string(buf), fallback) << (s.value ? s.value : "(unset)");
        } else {
            EXPECT_FALSE(can_create_under(buf)) << (s.value ? s.value : "(unset)");
        }
    }
}

TEST_F(Tmpdir, RootTmpdirGivesADirectoryInTheRoot) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the right to create in /";
    ::setenv("TMPDIR", "/", 1);
    std::string dir;
    ASSERT_EQ(get(&dir), 0);
    EXPECT_EQ(dir, "/kestrin-" + std::to_string(::geteuid()));
    ::rmdir(dir.c_str());
}

// A shape in which the tmpdir path must be refused: how to make it, and
// whether it needs root.
struct Unsafe {
    const char *what;
    std::function<void(const std::string &path, const std::string &base)> make;
    bool needs_root;
};

class TmpdirRefuses : public Tmpdir, public ::testing::WithParamInterface<Unsafe> {};

TEST_P(TmpdirRefuses, AndHandsOutAPathUnderWhichNothingCanBeCreated) {
    const Unsafe &u = GetParam();
    if (u.needs_root && ::geteuid() != 0) GTEST_SKIP() << "needs root";
    u.make(expected_, base_.path());
    std::string dir;
    EXPECT_NE(get(&dir), 0);
    EXPECT_NE(dir, expected_);
    EXPECT_FALSE(dir.empty());
    EXPECT_FALSE(can_create_under(dir)) << dir;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TmpdirRefuses,
    ::testing::Values(
        Unsafe{"SymlinkToAPrivateDirectory",
               [](const std::string &path, const std::string &base) {
                   std::string real = base + "/real";
                   ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
                   ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
               },
               false},
        Unsafe{"DanglingSymlink",
               [](const std::string &path, const std::string &base) {
                   ASSERT_EQ(::symlink((base + "/nowhere").c_str(), path.c_str()), 0);
               },
               false},
        Unsafe{"GroupBits",
               [](const std::string &path, const std::string &) {
                   ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
                   ASSERT_EQ(::chmod(path.c_str(), 0750), 0);
               },
               false},
        Unsafe{"OtherBits",
               [](const std::string &path, const std::string &) {
                   ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
                   ASSERT_EQ(::chmod(path.c_str(), 0701), 0);
               },
               false},
        Unsafe{"WorldWritableSticky",
               [](const std::string &path, const std::string &) {
                   ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
                   ASSERT_EQ(::chmod(path.c_str(), 01777), 0);
               },
               false},
        Unsafe{"RegularFile",
               [](const std::string &path, const std::string &) {
                   ASSERT_TRUE(kestrin_test::write_file(path, "x"));
                   ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
               },
               false},
        Unsafe{"OwnedByAnotherUser",
               [](const std::string &path, const std::string &) {
                   ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
                   ASSERT_EQ(::chown(path.c_str(), 12345, 12345), 0);
               },
               true},
        Unsafe{"MissingParent",
               [](const std::string &, const std::string &base) {
                   ::setenv("TMPDIR", (base + "/missing/deeper").c_str(), 1);
               },
               false},
        Unsafe{"ParentIsAFile",
               [](const std::string &, const std::string &base) {
                   ASSERT_TRUE(kestrin_test::write_file(base + "/file", "x"));
                   ::setenv("TMPDIR", (base + "/file").c_str(), 1);
               },
               false}),
    [](const ::testing::TestParamInfo<Unsafe> &info) { return std::string(info.param.what); });

TEST_F(Tmpdir, AResultThatDoesNotFitIsRefused) {
    const int need = static_cast<int>(expected_.size()) + 1;
    std::vector<char> buf(need + 8, 'x');
    ASSERT_EQ(fileutl_get_tmpdir(0, buf.data(), need, 0), 0) << "exactly enough room";
    EXPECT_EQ(std::string(buf.data()), expected_);

    const std::string unusable = "/dev/null/kestrin-unsafe-tmpdir";
    ASSERT_GT(need - 1, static_cast<int>(unusable.size()))
        << "the private folder is deep enough for the unusable path to fit";
    EXPECT_NE(fileutl_get_tmpdir(0, buf.data(), need - 1, 0), 0);
    EXPECT_EQ(std::string(buf.data()), unusable);
    EXPECT_FALSE(can_create_under(buf.data()));

    EXPECT_NE(fileutl_get_tmpdir(0, buf.data(), 8, 0), 0);
    EXPECT_STREQ(buf.data(), "") << "not even the unusable path fits";

    buf[0] = 'x';
    EXPECT_NE(fileutl_get_tmpdir(0, buf.data(), 0, 0), 0);
    EXPECT_EQ(buf[0], 'x') << "size 0 writes nothing";
    EXPECT_NE(fileutl_get_tmpdir(0, nullptr, 1023, 0), 0);
}

TEST_F(Tmpdir, ConcurrentFirstCallsAllSucceed) {
    std::vector<std::string> seen(8);
    std::vector<int> results(8, -1);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            char buf[1024];
            results[i] = fileutl_get_tmpdir(0, buf, 1023, 0);
            seen[i] = buf;
        });
    }
    for (auto &t : threads) t.join();
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(results[i], 0) << i;
        EXPECT_EQ(seen[i], expected_) << i;
    }
}

TEST(LoginNamePosix, IsThePasswdNameOfTheEffectiveUser) {
    struct passwd *entry = ::getpwuid(::geteuid());
    std::string expected = entry ? entry->pw_name : std::to_string(::geteuid());
    EXPECT_EQ(std::string(sysutl_myloginname()), expected);
}

TEST(LoginNamePosix, DoesNotFollowTheEnvironment) {
    ::setenv("USER", "someone-else", 1);
    ::setenv("LOGNAME", "someone-else", 1);
    EXPECT_STRNE(sysutl_myloginname(), "someone-else");
}

TEST(AbspnPosix, AbsolutePathsNeedNoCurrentDirectory) {
    kestrin_test::TempDir dir("abspn");
    RestoreCwd restore;
    std::string gone = dir.path() + "/gone";
    ASSERT_EQ(::mkdir(gone.c_str(), 0700), 0);
    ASSERT_EQ(::chdir(gone.c_str()), 0);
    ASSERT_EQ(::rmdir(gone.c_str()), 0);  // the cwd no longer exists
    char buf[1024];
    int absolute = fileutl_abspn("/a/../b//c/", buf, sizeof buf);
    std::string result = buf;
    int relative = fileutl_abspn("x", buf, sizeof buf);
    char cwd[1024];
    int cwd_rc = fileutl_getcwd(cwd, sizeof cwd);
    EXPECT_EQ(absolute, 0);
    EXPECT_EQ(result, "/b/c");
    EXPECT_NE(relative, 0) << "a relative path needs the cwd";
    EXPECT_NE(cwd_rc, 0) << "a removed cwd cannot be read";
}

}  // namespace
