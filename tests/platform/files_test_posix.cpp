// What only POSIX shows of the file layer: its joining rules, close-on-exec
// streams and a clock that ignores the local time zone.
#include "files.h"

#include "process_test_util.h"
#include "test_common.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstdio>
#include <ctime>
#include <string>

namespace {

using kestrin_test::TempDir;

TEST(JoinToDirectory, PosixRules) {
    struct Case {
        const char *base;
        const char *pathname;
        const char *expected;
    } cases[] = {
        {"/home/u/ws", "src/a.c", "/home/u/ws/src/a.c"},
        {"/home/u/ws/", "src/a.c", "/home/u/ws/src/a.c"},
        {"/", "etc", "/etc"},
        {"/home/u/ws", "/abs/file", "/abs/file"},
        {"/home/u/ws", "/", "/"},
        {"/home/u/ws", "../up", "/home/u/ws/../up"},
        {"/home/u/ws", "./here", "/home/u/ws/./here"},
        {"/home/u/ws", "C:\\x", "/home/u/ws/C:\\x"},
        {"/home/u/ws", "\\x", "/home/u/ws/\\x"},
        {"/home/u/ws", "", "/home/u/ws"},
        {"", "rel", "rel"},
        {"", "/abs", "/abs"},
        {"rel/base", "x", "rel/base/x"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(platform::join_to_directory(c.base, c.pathname), c.expected)
            << "base \"" << c.base << "\", pathname \"" << c.pathname << "\"";
    }
}

TEST(PosixStreams, EveryOpenIsCloseOnExec) {
    TempDir dir("cloexec");
    std::string path = dir.file("f");
    ASSERT_TRUE(kestrin_test::write_file(path, "x"));
    struct Case {
        const char *what;
        std::FILE *(*open)(const char *);
    } cases[] = {
        {"shared write", platform::open_shared_for_write},
        {"shared read", platform::open_shared_for_read},
        {"exclusive append", platform::open_exclusive_for_append},
    };
    for (const auto &c : cases) {
        std::FILE *f = c.open(path.c_str());
        ASSERT_NE(f, nullptr) << c.what;
        int flags = fcntl(fileno(f), F_GETFD);
        EXPECT_NE(flags & FD_CLOEXEC, 0) << c.what;
        std::fclose(f);
    }
}

// Sets TZ for the scope of a test and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone) {
        if (const char *old = std::getenv("TZ")) saved_ = old, had_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    std::string saved_;
    bool had_ = false;
};

TEST(UtcTimeOfDay, IgnoresTheLocalTimeZone) {
    // Five and a half hours off UTC, so a local-time clock cannot agree
    // with the UTC one at any moment.
    ScopedTimeZone zone("KST-5:30");
    std::time_t before = std::time(nullptr);
    platform::UtcTime now = platform::utc_time_of_day();
    std::tm utc{};
    gmtime_r(&before, &utc);
    int got = now.hour * 60 + now.minute;
    int expected = utc.tm_hour * 60 + utc.tm_min;
    // At most a minute may pass between the two readings.
    int diff = (got - expected + 24 * 60) % (24 * 60);
    EXPECT_LE(diff, 1) << now.hour << ":" << now.minute << " against " << utc.tm_hour << ":" << utc.tm_min;
}

}  // namespace
