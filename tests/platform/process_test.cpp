// The process layer as both systems share it: threads, the image path of
// a process and the hidden launch, observed through the probe program.
#include "processes.h"

#include "files.h"
#include "process_test_util.h"
#include "test_common.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

namespace {

using kestrin_test::LaunchedProbe;
using kestrin_test::TempDir;

// ---- start_detached_thread ------------------------------------------------

struct Handoff {
    std::mutex mutex;
    std::condition_variable changed;
    void *seen = nullptr;
    bool ran = false;
};

void record_argument(void *arg) {
    auto *handoff = static_cast<Handoff *>(arg);
    std::lock_guard<std::mutex> lock(handoff->mutex);
    handoff->seen = arg;
    handoff->ran = true;
    handoff->changed.notify_all();
}

TEST(StartDetachedThread, RunsTheFunctionWithItsArgument) {
    Handoff handoff;
    ASSERT_TRUE(platform::start_detached_thread(record_argument, &handoff));
    std::unique_lock<std::mutex> lock(handoff.mutex);
    ASSERT_TRUE(handoff.changed.wait_for(lock, std::chrono::seconds(60), [&] { return handoff.ran; }));
    EXPECT_EQ(handoff.seen, &handoff);
}

TEST(StartDetachedThread, ManyThreadsAllRun) {
    // Detached threads release their resources themselves; starting many in
    // a row must not run out of them.
    struct Counter {
        std::mutex mutex;
        std::condition_variable changed;
        int done = 0;
    } counter;
    constexpr int kThreads = 200;
    auto bump = [](void *arg) {
        auto *c = static_cast<Counter *>(arg);
        std::lock_guard<std::mutex> lock(c->mutex);
        ++c->done;
        c->changed.notify_all();
    };
    for (int i = 0; i < kThreads; ++i) ASSERT_TRUE(platform::start_detached_thread(bump, &counter));
    std::unique_lock<std::mutex> lock(counter.mutex);
    ASSERT_TRUE(counter.changed.wait_for(lock, std::chrono::seconds(60), [&] { return counter.done == kThreads; }));
}

TEST(StartDetachedThread, RefusesANullFunction) { EXPECT_FALSE(platform::start_detached_thread(nullptr, nullptr)); }

// ---- process_image_path ---------------------------------------------------

std::string own_program() {
    return kestrin_test::bin_dir() + kestrin_test::separator() + "test_platform_process" + platform::kExeSuffix;
}

TEST(ProcessImagePath, OwnProcessGivesOwnProgram) {
    char buf[1024];
    ASSERT_TRUE(platform::process_image_path(platform::current_pid(), buf, sizeof buf));
    EXPECT_EQ(std::string(buf), platform::comparable_image_path(own_program()));
}

TEST(ProcessImagePath, AnotherRunningProcessGivesItsProgram) {
    LaunchedProbe probe(kestrin_test::probe_path(), true);
    ASSERT_TRUE(probe.launched());
    ASSERT_TRUE(probe.wait_for_report());
    char buf[1024];
    ASSERT_TRUE(platform::process_image_path(probe.pid(), buf, sizeof buf));
    EXPECT_EQ(std::string(buf), platform::comparable_image_path(kestrin_test::probe_path()));
}

TEST(ProcessImagePath, PidsThatNameNoProcessAreRejected) {
    for (int pid : {0, -1, INT_MIN}) {
        char buf[16];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_FALSE(platform::process_image_path(pid, buf, sizeof buf)) << pid;
        EXPECT_EQ(buf[0], '\0') << pid;
    }
}

TEST(ProcessImagePath, AnEndedProcessIsNotFound) {
    auto run = kestrin_test::run_and_wait(kestrin_test::probe_path(), {"exit", "0"});
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exit_code, 0);
    char buf[1024];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(platform::process_image_path(run.pid, buf, sizeof buf));
    EXPECT_EQ(buf[0], '\0');
}

TEST(ProcessImagePath, APathThatDoesNotFitIsLeftEmpty) {
    // A cut-off path would compare as some other program; it is reported
    // unknown instead, while the process itself was found.
    char buf[4];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_TRUE(platform::process_image_path(platform::current_pid(), buf, sizeof buf));
    EXPECT_EQ(buf[0], '\0');
}

// ---- launch_hidden --------------------------------------------------------

TEST(LaunchHidden, StartsTheProgram) {
    LaunchedProbe probe(kestrin_test::probe_path(), false);
    ASSERT_TRUE(probe.launched());
    ASSERT_TRUE(probe.wait_for_report());
    EXPECT_GT(probe.pid(), 0);
    EXPECT_NE(probe.pid(), platform::current_pid());
}

TEST(LaunchHidden, ProgramsThatCannotRunAreFailures) {
    TempDir dir("launch");
    std::string garbage = dir.file(std::string("garbage") + platform::kExeSuffix);
    ASSERT_TRUE(kestrin_test::write_file(garbage, "this is not a program\n"));
    std::filesystem::permissions(garbage, std::filesystem::perms::owner_all);
    std::string unmarked = dir.file("unmarked");
    ASSERT_TRUE(kestrin_test::write_file(unmarked, "#!/bin/sh\nexit 0\n"));
    std::filesystem::permissions(unmarked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    struct Case {
        const char *what;
        std::string program;
    } cases[] = {
        {"missing program", dir.file(std::string("missing") + platform::kExeSuffix)},
        {"missing folder", dir.file("nowhere") + kestrin_test::separator() + "prog"},
        {"a directory", dir.path()},
        {"empty name", ""},
        {"not a program", garbage},
        {"not marked executable", unmarked},
    };
    for (const auto &c : cases) {
        LaunchedProbe probe(c.program, false);
        EXPECT_FALSE(probe.launched()) << c.what;
    }
}

}  // namespace
