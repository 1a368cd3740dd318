// Helpers of the bridge and client tests: the environment, child programs
// whose output the test reads, looking at and stopping processes from
// outside, private temporary directories, and reading the bridge's trace
// logs. The OS parts live in bridge_test_os_posix.cpp and
// bridge_test_os_win32.cpp, chosen by the build.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_common.h"

namespace bridge_test {

// ---- OS parts ------------------------------------------------------------

// The environment helpers shared by all tests.
using kestrin_test::set_env;
using kestrin_test::temp_dir_variables;

// The outcome of running a program to its end.
struct RunResult {
    bool started = false;   // the program was created
    bool finished = false;  // it ended within the time-out (else it was killed)
    int exit_code = -1;     // its exit status (-1 when it did not end normally)
    std::string out;        // everything it wrote to standard output
    std::string err;        // everything it wrote to standard error
};

// Runs program with args (and cwd as its current directory when not empty)
// as an ordinary child with standard input empty, waits for it to end and
// collects its output. A program still running after timeout_ms is killed:
// a guard against hangs, not a timing goal.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &cwd = std::string(), int timeout_ms = 180000);

// True while process pid exists and has not ended (a zombie has ended).
bool process_running(int pid);

// Ends process pid (POSIX: SIGTERM, then SIGKILL if it is still there after
// 10 seconds; Windows: TerminateProcess) and waits, bounded, until it has
// gone. True when it is gone.
bool stop_process(int pid);

// The ids of running processes whose program file lies under dir.
std::vector<int> processes_running_from(const std::string &dir);

// The number of open descriptors (POSIX) or handles (Windows) of the
// calling process.
int open_handle_count();

// The number of child processes that the calling process still owes a
// wait (POSIX: its children, running or ended but not reaped). Windows ties
// no process to the one that created it once the creator has closed its
// handles, so there it is always 0.
int unreaped_child_count();

// Makes link a symbolic link to the directory target; false when the
// system does not allow it.
bool make_directory_link(const std::string &target, const std::string &link);

// ---- Portable parts ------------------------------------------------------

// Sets a variable for the lifetime of the object and then puts back what
// was there before (also "not set").
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    bool had_value_;
    std::string old_value_;
};

// A fresh directory that serves as the user's temporary directory of this
// process and of every program it starts, for the lifetime of the object.
class PrivateTempDir {
public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir &) = delete;
    PrivateTempDir &operator=(const PrivateTempDir &) = delete;

    // The directory set in the environment.
    const std::string &base() const { return dir_.path(); }
    // The per-user temporary directory that fileutl_get_tmpdir gives now
    // (on POSIX a private folder below base()).
    std::string user_dir() const;
    // user_dir() joined with name.
    std::string file(const std::string &name) const;

private:
    kestrin_test::TempDir dir_;
    std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

// A program of the product tree under test: bin_dir() + name + suffix.
std::string program_path(const std::string &name);

// Polls until predicate holds or timeout_ms has passed (a guard against
// hangs). True when it held.
bool wait_until(const std::function<bool()> &predicate, int timeout_ms = 60000);

// The lines of text, each without its line end ("\n" or "\r\n"); a last
// line without a line end counts too.
std::vector<std::string> lines_of(const std::string &text);

// The file names (without directory) of the bridge trace logs in dir,
// sorted.
std::vector<std::string> trace_log_names(const std::string &dir);

// The lines of all bridge trace logs in dir, in file name order.
std::vector<std::string> trace_lines(const std::string &dir);

// The lines of "key=value" output as a lookup: the value of key, or "" when
// there is none.
std::string value_of(const std::string &output, const std::string &key);

// The pid written in the pid file of the service in the user's temporary
// directory, or 0 when there is none.
int pid_from_file(const std::string &path);

}  // namespace bridge_test
