// What the service's tests need of the OS besides the platform layer:
// environment variables, the service program as a child process that can
// be signalled, waited for and killed, a look at other processes, and a
// stale socket file. One file per OS (service_test_os_posix.cpp,
// service_test_os_win32.cpp), chosen by the build.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "test_common.h"

namespace service_test {

// The exit status of a service that ended with -1: 255 on POSIX, -1 on
// Windows (the exit code 0xFFFFFFFF read as a signed integer).
extern const int kFailureStatus;

// True where the termination signal can be sent to another process
// (POSIX); Windows has no way to raise SIGTERM in another process.
extern const bool kCanSendTerminationSignal;

// True where the pipe is a socket file in the temporary directory (POSIX).
// There a second listener of the same name is refused, while on Windows a
// second service creates instances of the same pipe and serves as well.
extern const bool kPipeIsSocketFile;

// The environment helpers shared by all tests.
using kestrin_test::set_env;
using kestrin_test::temp_dir_variables;

// Points the temporary-directory variables at dir for the life of the
// object and puts the old values back afterwards.
class ScopedTempDirEnv {
public:
    explicit ScopedTempDirEnv(const std::string &dir);
    ~ScopedTempDirEnv();
    ScopedTempDirEnv(const ScopedTempDirEnv &) = delete;
    ScopedTempDirEnv &operator=(const ScopedTempDirEnv &) = delete;

private:
    struct Saved {
        std::string name;
        bool had;
        std::string value;
    };
    std::vector<Saved> saved_;
};

// True while process pid runs (a zombie does not count).
bool process_running(int pid);

// The ids of the running processes whose parent is parent_pid and whose
// program file is called name (without directory; ".exe" included on
// Windows).
std::vector<int> child_processes(int parent_pid, const std::string &name);

// A started program, without arguments, with this process's environment.
// The destructor kills it if it still runs and waits for it.
class Process {
public:
    virtual ~Process() = default;
    virtual int pid() const = 0;
    // Waits up to timeout_ms for it to end; true with its exit status (on
    // POSIX -<signal> when a signal ended it), false while it still runs.
    virtual bool wait_exit(int timeout_ms, int *status) = 0;
    // Sends the termination signal (SIGTERM). False where that cannot be
    // done from outside (Windows).
    virtual bool terminate_signal() = 0;
    // Ends it at once (SIGKILL, TerminateProcess) and waits for it.
    virtual void kill_hard() = 0;
};

// Starts program in the folder cwd; null when it cannot be started.
std::unique_ptr<Process> start_process(const std::string &program, const std::string &cwd);

// Leaves a socket file at path that nobody listens on, as a service that
// was killed leaves it. False where there are no socket files (Windows).
bool make_stale_socket(const std::string &path);

inline ScopedTempDirEnv::ScopedTempDirEnv(const std::string &dir) {
    for (const std::string &name : temp_dir_variables()) {
        const char *old = std::getenv(name.c_str());
        saved_.push_back({name, old != nullptr, old ? old : ""});
        set_env(name.c_str(), dir.c_str());
    }
}

inline ScopedTempDirEnv::~ScopedTempDirEnv() {
    for (const Saved &s : saved_) set_env(s.name.c_str(), s.had ? s.value.c_str() : nullptr);
}

}  // namespace service_test
