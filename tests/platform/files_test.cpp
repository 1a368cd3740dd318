// The file layer as both systems share it: shared and exclusive opens,
// the current directory, directory checks, the UTC clock and the
// environment.
#include "files.h"

#include "process_test_util.h"
#include "test_common.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace {

using kestrin_test::TempDir;
namespace fs = std::filesystem;

// Closes a stream at the end of its scope.
struct StreamCloser {
    void operator()(std::FILE *f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

std::string read_all(std::FILE *f) {
    std::string text;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

// ---- shared opens ---------------------------------------------------------

TEST(SharedOpen, WriterAndReadersMayHoldTheFileAtOnce) {
    TempDir dir("shared");
    std::string path = dir.file("pid");
    Stream writer(platform::open_shared_for_write(path.c_str()));
    ASSERT_TRUE(writer);
    Stream second_writer(platform::open_shared_for_write(path.c_str()));
    EXPECT_TRUE(second_writer);
    second_writer.reset();
    ASSERT_GT(std::fputs("4711", writer.get()), -1);
    ASSERT_EQ(std::fflush(writer.get()), 0);
    Stream reader(platform::open_shared_for_read(path.c_str()));
    ASSERT_TRUE(reader);
    Stream second_reader(platform::open_shared_for_read(path.c_str()));
    ASSERT_TRUE(second_reader);
    EXPECT_EQ(read_all(reader.get()), "4711");
    EXPECT_EQ(read_all(second_reader.get()), "4711");
}

TEST(SharedOpen, WriteTruncatesAnOldFile) {
    TempDir dir("truncate");
    std::string path = dir.file("pid");
    ASSERT_TRUE(kestrin_test::write_file(path, "123456789"));
    Stream writer(platform::open_shared_for_write(path.c_str()));
    ASSERT_TRUE(writer);
    std::fputs("42", writer.get());
    writer.reset();
    EXPECT_EQ(kestrin_test::read_file(path), "42");
}

TEST(SharedOpen, FailuresGiveNull) {
    TempDir dir("sharedfail");
    std::string missing_dir = dir.file("nowhere") + kestrin_test::separator() + "file";
    EXPECT_EQ(platform::open_shared_for_read(dir.file("missing").c_str()), nullptr);
    EXPECT_EQ(platform::open_shared_for_write(missing_dir.c_str()), nullptr);
    EXPECT_EQ(platform::open_shared_for_read(nullptr), nullptr);
    EXPECT_EQ(platform::open_shared_for_write(nullptr), nullptr);
}

// ---- exclusive append -----------------------------------------------------

TEST(ExclusiveAppend, AppendsToWhatIsThere) {
    TempDir dir("append");
    std::string path = dir.file("log.txt");
    ASSERT_TRUE(kestrin_test::write_file(path, "first\n"));
    Stream log(platform::open_exclusive_for_append(path.c_str()));
    ASSERT_TRUE(log);
    std::fputs("second\n", log.get());
    log.reset();
    EXPECT_EQ(kestrin_test::read_file(path).rfind("first\nsecond", 0), 0u);
}

TEST(ExclusiveAppend, CreatesAMissingFile) {
    TempDir dir("appendnew");
    std::string path = dir.file("log.txt");
    Stream log(platform::open_exclusive_for_append(path.c_str()));
    ASSERT_TRUE(log);
    log.reset();
    EXPECT_TRUE(fs::exists(path));
}

TEST(ExclusiveAppend, OnlyOneOpenerAtATime) {
    TempDir dir("exclusive");
    std::string path = dir.file("log.txt");
    Stream held(platform::open_exclusive_for_append(path.c_str()));
    ASSERT_TRUE(held);
    std::fputs("held\n", held.get());

    // Neither another process nor this one gets it while it is held.
    auto other = kestrin_test::run_and_wait(kestrin_test::probe_path(), {"append", path});
    ASSERT_TRUE(other.started);
    EXPECT_EQ(other.exit_code, 1);
    Stream again(platform::open_exclusive_for_append(path.c_str()));
    EXPECT_FALSE(again);

    held.reset();
    other = kestrin_test::run_and_wait(kestrin_test::probe_path(), {"append", path});
    ASSERT_TRUE(other.started);
    EXPECT_EQ(other.exit_code, 0);
    std::string text = kestrin_test::read_file(path);
    EXPECT_NE(text.find("held"), std::string::npos);
    EXPECT_NE(text.find("probe"), std::string::npos);
}

TEST(ExclusiveAppend, FailuresGiveNull) {
    TempDir dir("appendfail");
    std::string missing_dir = dir.file("nowhere") + kestrin_test::separator() + "log.txt";
    EXPECT_EQ(platform::open_exclusive_for_append(missing_dir.c_str()), nullptr);
    EXPECT_EQ(platform::open_exclusive_for_append(nullptr), nullptr);
}

// ---- current directory ----------------------------------------------------

// Puts the current directory back at the end of a test.
class CurrentDirectoryTest : public ::testing::Test {
protected:
    ~CurrentDirectoryTest() override {
        std::error_code ec;
        fs::current_path(saved_, ec);
    }
    fs::path saved_ = fs::current_path();
};

TEST_F(CurrentDirectoryTest, ChangesTheProcessDirectory) {
    TempDir dir("cwd");
    ASSERT_EQ(platform::change_directory(dir.path().c_str()), 0);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), dir.path()));
    // Relative names now resolve inside it.
    ASSERT_TRUE(kestrin_test::write_file("here.txt", "x"));
    EXPECT_TRUE(fs::exists(dir.file("here.txt")));
}

TEST_F(CurrentDirectoryTest, FailureLeavesTheDirectoryAlone) {
    TempDir dir("cwdfail");
    std::string file = dir.file("plain");
    ASSERT_TRUE(kestrin_test::write_file(file, "x"));
    fs::path before = fs::current_path();
    for (const std::string &target : {dir.file("missing"), file}) {
        EXPECT_EQ(platform::change_directory(target.c_str()), -1) << target;
        EXPECT_EQ(fs::current_path(), before) << target;
    }
    EXPECT_EQ(platform::change_directory(nullptr), -1);
}

// ---- directory check ------------------------------------------------------

TEST(IsAccessibleDirectory, TellsDirectoriesFromEverythingElse) {
    TempDir dir("isdir");
    std::string file = dir.file("plain");
    ASSERT_TRUE(kestrin_test::write_file(file, "x"));
    struct Case {
        const char *what;
        std::string path;
        bool expected;
    } cases[] = {
        {"directory", dir.path(), true},
        {"directory with trailing separator", dir.path() + kestrin_test::separator(), true},
        {"file", file, false},
        {"missing", dir.file("missing"), false},
        {"empty", "", false},
    };
    for (const auto &c : cases) EXPECT_EQ(platform::is_accessible_directory(c.path.c_str()), c.expected) << c.what;
    EXPECT_FALSE(platform::is_accessible_directory(nullptr));
}

// ---- UTC clock ------------------------------------------------------------

int seconds_of_day(const std::tm &t) { return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec; }

TEST(UtcTimeOfDay, IsTheCurrentTimeInUtc) {
    std::time_t before_t = std::time(nullptr);
    platform::UtcTime now = platform::utc_time_of_day();
    std::time_t after_t = std::time(nullptr);
    EXPECT_GE(now.hour, 0);
    EXPECT_LE(now.hour, 23);
    EXPECT_GE(now.minute, 0);
    EXPECT_LE(now.minute, 59);
    EXPECT_GE(now.second, 0);
    EXPECT_LE(now.second, 60);
    std::tm before = *std::gmtime(&before_t);
    int lo = seconds_of_day(before);
    std::tm after = *std::gmtime(&after_t);
    int hi = seconds_of_day(after);
    int got = now.hour * 3600 + now.minute * 60 + now.second;
    if (hi >= lo) {
        EXPECT_GE(got, lo);
        EXPECT_LE(got, hi);
    } else {
        // The calls straddled midnight.
        EXPECT_TRUE(got >= lo || got <= hi);
    }
}

// ---- environment ----------------------------------------------------------

TEST(GetEnvironment, SetUnsetAndEmptyVariables) {
    struct Case {
        const char *what;
        const char *value;  // null: not set
        bool expected;
    } cases[] = {
        {"set", "C:\\logs", true},
        {"empty", "", true},
        {"with blanks", " a b ", true},
        {"not set", nullptr, false},
    };
    const char *name = "KESTRIN_PLATFORM_TEST_VARIABLE";
    for (const auto &c : cases) {
        kestrin_test::set_env(name, c.value);
        std::string value = "untouched";
        EXPECT_EQ(platform::get_environment(name, &value), c.expected) << c.what;
        if (c.expected) {
            EXPECT_EQ(value, c.value) << c.what;
        } else {
            EXPECT_EQ(value, "untouched") << c.what;
        }
        EXPECT_EQ(platform::get_environment(name, nullptr), c.expected) << c.what;
    }
    kestrin_test::set_env(name, nullptr);
    EXPECT_FALSE(platform::get_environment(nullptr, nullptr));
}

}  // namespace
