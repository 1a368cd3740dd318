// What only POSIX can show of the process layer: the detached start
// (session, descriptors, signal state, parent, no zombie), symbolic links
// in image paths, and SIGTERM taken outside signal context.
#include "processes.h"

#include "process_test_util.h"
#include "test_common.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using kestrin_test::LaunchedProbe;
using kestrin_test::TempDir;
using namespace std::chrono_literals;

// Owns one descriptor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Sets one signal's disposition for the scope of a test.
class ScopedDisposition {
public:
    ScopedDisposition(int sig, void (*handler)(int)) : sig_(sig) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, &saved_);
    }
    ~ScopedDisposition() { sigaction(sig_, &saved_, nullptr); }
    ScopedDisposition(const ScopedDisposition &) = delete;
    ScopedDisposition &operator=(const ScopedDisposition &) = delete;

private:
    int sig_;
    struct sigaction saved_ {};
};

// Blocks one signal in the calling thread for the scope of a test.
class ScopedBlock {
public:
    explicit ScopedBlock(int sig) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~ScopedBlock() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    ScopedBlock(const ScopedBlock &) = delete;
    ScopedBlock &operator=(const ScopedBlock &) = delete;

private:
    sigset_t saved_;
};

// Makes this process the reaper of orphaned descendants for the scope of a
// test, so anything a launch leaves behind turns up as a child of ours.
class ScopedSubreaper {
public:
    ScopedSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }
    ~ScopedSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    ScopedSubreaper(const ScopedSubreaper &) = delete;
    ScopedSubreaper &operator=(const ScopedSubreaper &) = delete;
};

// True when this process has no child at all, running or ended.
bool no_children_left() {
    int status = 0;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// The bit of sig in a /proc/<pid>/status signal mask given as hex text.
bool mask_has(const std::string &hex, int sig) {
    unsigned long long mask = std::strtoull(hex.c_str(), nullptr, 16);
    return (mask >> (sig - 1)) & 1ULL;
}

// ---- launch_hidden: what the started program inherits --------------------

class LaunchHiddenPosix : public ::testing::Test {
protected:
    // A descriptor without close-on-exec, as any caller might hold one.
    Fd leaked_{open("/dev/null", O_RDONLY)};
    // A signal ignored and another blocked by the caller: the program must
    // start with neither.
    ScopedDisposition ignored_{SIGUSR1, SIG_IGN};
    ScopedBlock blocked_{SIGUSR2};
};

TEST_F(LaunchHiddenPosix, ProgramStartsDetachedWithNothingInherited) {
    ASSERT_GE(leaked_.get(), 3);
    LaunchedProbe probe(kestrin_test::probe_path(), true);
    ASSERT_TRUE(probe.launched());
    // The one intermediate process has been reaped, and the program is not
    // a child of ours.
    EXPECT_TRUE(no_children_left());
    ASSERT_TRUE(probe.wait_for_report());
    const auto &facts = probe.facts();
    EXPECT_EQ(facts.at("fds"), "");
    EXPECT_EQ(facts.at("fd0"), "/dev/null");
    EXPECT_EQ(facts.at("fd1"), "/dev/null");
    EXPECT_EQ(facts.at("fd2"), "/dev/null");
    EXPECT_NE(std::atoi(facts.at("ppid").c_str()), getpid());
    EXPECT_NE(std::atoi(facts.at("sid").c_str()), getsid(0));
    EXPECT_EQ(facts.at("sid"), facts.at("pgid"));
    EXPECT_FALSE(mask_has(facts.at("sigign"), SIGUSR1));
    EXPECT_FALSE(mask_has(facts.at("sigblk"), SIGUSR2));
    EXPECT_TRUE(no_children_left());
}

TEST_F(LaunchHiddenPosix, CallersOwnChildrenAreLeftAlone) {
    // A child of the caller that has already ended must still be there for
    // the caller to reap after a launch: only the launch's own
    // intermediate process may be reaped by it.
    pid_t own = fork();
    ASSERT_GE(own, 0);
    if (own == 0) _exit(7);
    while (kestrin_test::process_running(own)) std::this_thread::sleep_for(1ms);
    LaunchedProbe probe(kestrin_test::probe_path(), false);
    ASSERT_TRUE(probe.launched());
    int status = 0;
    ASSERT_EQ(waitpid(own, &status, WNOHANG), own);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(LaunchHiddenPosixSignals, WorksWhenTheCallerIgnoresSigchld) {
    // With SIGCHLD ignored the system reaps children itself; the launch
    // must neither hang nor mistake that for a failure.
    ScopedDisposition ignored(SIGCHLD, SIG_IGN);
    LaunchedProbe probe(kestrin_test::probe_path(), false);
    ASSERT_TRUE(probe.launched());
    EXPECT_TRUE(probe.wait_for_report());
}

void note_child(int) {}

TEST(LaunchHiddenPosixSignals, LeavesTheCallersSigchldHandlerInPlace) {
    ScopedDisposition handled(SIGCHLD, note_child);
    LaunchedProbe probe(kestrin_test::probe_path(), false);
    ASSERT_TRUE(probe.launched());
    EXPECT_TRUE(probe.wait_for_report());
    struct sigaction now {};
    ASSERT_EQ(sigaction(SIGCHLD, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, note_child);
}

TEST(LaunchHiddenPosixFailure, LeavesNoProcessAndTellsWhy) {
    TempDir dir("launchfail");
    std::string unmarked = dir.file("unmarked");
    ASSERT_TRUE(kestrin_test::write_file(unmarked, "#!/bin/sh\nexit 0\n"));
    ASSERT_EQ(chmod(unmarked.c_str(), 0644), 0);
    struct Case {
        std::string program;
        int error;
    } cases[] = {
        {dir.file("missing"), ENOENT},
        {unmarked, EACCES},
    };
    ScopedSubreaper reaper;
    for (const auto &c : cases) {
        errno = 0;
        EXPECT_FALSE(platform::launch_hidden(c.program)) << c.program;
        EXPECT_EQ(errno, c.error) << c.program;
        EXPECT_TRUE(no_children_left()) << c.program;
    }
}

// ---- image paths through symbolic links ----------------------------------

TEST(ComparableImagePath, MatchesWhatTheSystemReportsForALinkedProgram) {
    TempDir dir("link");
    std::string link = dir.file("linked_probe");
    ASSERT_EQ(symlink(kestrin_test::probe_path().c_str(), link.c_str()), 0);
    LaunchedProbe probe(link, true);
    ASSERT_TRUE(probe.launched());
    ASSERT_TRUE(probe.wait_for_report());
    char buf[1024];
    ASSERT_TRUE(platform::process_image_path(probe.pid(), buf, sizeof buf));
    EXPECT_EQ(std::string(buf), platform::comparable_image_path(link));
    EXPECT_NE(std::string(buf), link);
}

TEST(ComparableImagePath, ResolvesRelativeParts) {
    std::string bin = kestrin_test::bin_dir();
    std::string roundabout = bin + "/../bin/./platform_probe";
    EXPECT_EQ(platform::comparable_image_path(roundabout), platform::comparable_image_path(kestrin_test::probe_path()));
    EXPECT_EQ(platform::comparable_image_path(kestrin_test::probe_path()).front(), '/');
}

TEST(ComparableImagePath, MissingFileGivesEmptyText) {
    TempDir dir("nolink");
    EXPECT_EQ(platform::comparable_image_path(dir.file("missing")), "");
}

// ---- termination ---------------------------------------------------------

// A probe started as an ordinary child; killed and reaped if a test leaves
// it running.
class ChildProbe {
public:
    explicit ChildProbe(const std::vector<std::string> &args) {
        std::string program = kestrin_test::probe_path();
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            execv(program.c_str(), argv.data());
            _exit(126);
        }
    }
    ~ChildProbe() {
        if (pid_ <= 0 || reaped_) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    ChildProbe(const ChildProbe &) = delete;
    ChildProbe &operator=(const ChildProbe &) = delete;

    pid_t pid() const { return pid_; }

    // Waits for the child to end, at most 60 s; its wait status, or -1.
    int wait() {
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            pid_t got = waitpid(pid_, &status, WNOHANG);
            if (got == pid_) {
                reaped_ = true;
                return status;
            }
            if (got < 0 && errno != EINTR) return -1;
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

TEST(TerminationHandler, SigtermRunsTheHandlerOnItsOwnThreadAndEndsWithItsStatus) {
    TempDir dir("term");
    ChildProbe child({"term", dir.path()});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(kestrin_test::wait_for_file(dir.file("ready")));
    auto ready = kestrin_test::parse_facts(kestrin_test::read_file(dir.file("ready")));
    // Blocked in the installing thread and in every thread started later.
    EXPECT_EQ(ready["main_blocked"], "1");
    EXPECT_EQ(ready["ticker_blocked"], "1");

    ASSERT_EQ(kill(child.pid(), SIGTERM), 0);
    int status = child.wait();
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 15);
    auto marker = kestrin_test::parse_facts(kestrin_test::read_file(dir.file("marker")));
    EXPECT_EQ(marker["signal"], "15");
    // The other thread went on running while the handler ran, and the
    // handler ran outside the thread it interrupted.
    EXPECT_EQ(marker["ticking"], "1");
    EXPECT_EQ(marker["main_thread"], "0");
}

}  // namespace
