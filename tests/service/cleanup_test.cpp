// The termination path and the pid file over the recording operations API:
// cleanup stops the helper only when there is one and always ends the
// process with the signal number; write_pid_file writes the process id
// alone and reports a pid file that cannot be opened.
#include <gtest/gtest.h>

#include <string>

#include "fake_gemxapis.h"
#include "processes.h"
#include "service_internal.h"
#include "service_test_os.h"
#include "service_test_util.h"
#include "veyraks.h"

namespace {

using service_test::svc_line;

// cleanup ends the process, so it runs in a child; the fake echoes what it
// sees to standard error, where the death test reads it.
class CleanupDeathTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        fake_gemxapis::reset();
    }
    void TearDown() override { helper_handle.store(0); }
};

TEST_F(CleanupDeathTest, WithoutAHelperItOnlyEnds) {
    EXPECT_EXIT(
        {
            helper_handle.store(0);
            fake_gemxapis::echo_to_stderr(true);
            cleanup(15);
        },
        ::testing::ExitedWithCode(15), "^" + svc_line("cleanup", "Entering") + ";$");
}

TEST_F(CleanupDeathTest, StopsTheHelperAndClosesTheTrace) {
    EXPECT_EXIT(
        {
            helper_handle.store(5);
            fake_gemxapis::echo_to_stderr(true);
            cleanup(15);
        },
        ::testing::ExitedWithCode(15),
        "^" + svc_line("cleanup", "Entering") + ";" + svc_line("cleanup", "Killing the helper gemx process") +
            ";uninitialize 5;" + svc_line("cleanup", "Killed the helper gemx process") + ";close_file;$");
}

TEST_F(CleanupDeathTest, ExitStatusIsTheSignalNumber) {
    EXPECT_EXIT(cleanup(2), ::testing::ExitedWithCode(2), "");
}

class PidFileTest : public ::testing::Test {
protected:
    void SetUp() override { fake_gemxapis::reset(); }

    static std::string pid_file() {
        char dir[1024] = {0};
        fileutl_get_tmpdir(0, dir, 1023, 0);
        return service_test::join(dir, pid_file_name);
    }

    kestrin_test::TempDir tmp_{"pid"};
};

TEST_F(PidFileTest, HoldsTheProcessIdAloneOverAnOldFile) {
    service_test::ScopedTempDirEnv env(tmp_.path());
    ASSERT_TRUE(kestrin_test::write_file(pid_file(), "1234567890123 and more"));
    ASSERT_TRUE(write_pid_file());
    EXPECT_EQ(kestrin_test::read_file(pid_file()), std::to_string(platform::current_pid()));
    EXPECT_TRUE(fake_gemxapis::trace().empty());
}

TEST_F(PidFileTest, FailsWhenItCannotBeOpened) {
    service_test::ScopedTempDirEnv env(service_test::join(tmp_.path(), "missing"));
    EXPECT_FALSE(write_pid_file());
    EXPECT_TRUE(fake_gemxapis::trace().empty());
}

}  // namespace
