// What the tests of libgemxapis need of the OS: environment variables, a
// look at whether a process still runs, and child processes whose standard
// output the test reads. One file per OS (test_os_posix.cpp,
// test_os_win32.cpp), chosen by the build.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "test_common.h"

namespace gemxapis_test {

// The file name ending of programs ("" or ".exe").
extern const char kProgramSuffix[];

// The environment helpers shared by all tests.
using kestrin_test::set_env;
using kestrin_test::temp_dir_variables;

// True while process pid runs (a zombie does not count).
bool process_running(int pid);

// The calling process's id.
int current_pid();

// A child process with its standard input and output connected to the
// test. The destructor kills it if it still runs and waits for it.
class Child {
public:
    virtual ~Child() = default;
    // The next line of its output without line end; false at its end.
    virtual bool read_line(std::string *line) = 0;
    // Closes its standard input.
    virtual void close_input() = 0;
    // Kills it at once (SIGKILL, TerminateProcess) and waits for it.
    virtual void kill_hard() = 0;
    // Waits for it to end; its exit status (-1 when it did not end normally).
    virtual int wait() = 0;
    virtual int pid() const = 0;
};

// Starts program with args; null when it cannot be started.
std::unique_ptr<Child> start_child(const std::string &program, const std::vector<std::string> &args);

}  // namespace gemxapis_test
