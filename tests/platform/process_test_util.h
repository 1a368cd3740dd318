// Helpers of the platform tests for starting the probe program as an
// ordinary child, waiting for the files it writes and looking at
// processes from outside. One implementation per OS.
#pragma once

#include "test_common.h"

#include <map>
#include <string>
#include <vector>

namespace kestrin_test {

// bin/platform_probe with the platform's program suffix.
std::string probe_path();

// Polls until path exists and is not empty, or until timeout_ms passes
// (a guard against hangs, not a timing goal). True when it appeared.
bool wait_for_file(const std::string &path, int timeout_ms = 60000);

// The outcome of running a child to its end.
struct ChildRun {
    bool started = false;  // the child was created
    int pid = 0;           // its process id
    int exit_code = -1;    // its exit status (POSIX: -1 when killed by a signal)
};

// Starts program with args as an ordinary child, waits for it to end and
// returns its exit status.
ChildRun run_and_wait(const std::string &program, const std::vector<std::string> &args);

// True while process pid exists and has not ended (a zombie has ended).
bool process_running(int pid);

// The "key=value" lines of a probe's report as a map.
std::map<std::string, std::string> parse_facts(const std::string &text);

// A probe started with platform::launch_hidden that writes its start facts
// and, when held, stays alive until this object is destroyed. The probe
// learns where to report through variables of this process's environment,
// set only around the launch.
class LaunchedProbe {
public:
    LaunchedProbe(const std::string &program, bool hold);
    // Tells a held probe to stop and waits (bounded) until it has ended.
    ~LaunchedProbe();
    LaunchedProbe(const LaunchedProbe &) = delete;
    LaunchedProbe &operator=(const LaunchedProbe &) = delete;

    bool launched() const { return launched_; }
    // True once the report is there; waits for it at most timeout_ms.
    bool wait_for_report(int timeout_ms = 60000);
    const std::map<std::string, std::string> &facts() const { return facts_; }
    int pid() const;

private:
    TempDir dir_;
    bool launched_ = false;
    std::map<std::string, std::string> facts_;
};

}  // namespace kestrin_test
