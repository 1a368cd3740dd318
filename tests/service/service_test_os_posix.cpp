// The service tests' OS services on POSIX.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "service_test_os.h"

extern char **environ;

namespace service_test {

const bool kCanSendTerminationSignal = true;
const bool kPipeIsSocketFile = true;
const int kFailureStatus = 255;

namespace {

// The fields of /proc/<pid>/stat after the command name: state, ppid, ...
bool stat_of(int pid, char *state, int *ppid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return false;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 4 >= text.size()) return false;
    *state = text[close + 2];
    *ppid = std::atoi(text.c_str() + close + 4);
    return true;
}

// The file name of process pid's program, without its folder.
std::string program_name(int pid) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string path(buf, static_cast<std::size_t>(n));
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

bool process_running(int pid) {
    char state = 0;
    int ppid = 0;
    if (!stat_of(pid, &state, &ppid)) return ::kill(pid, 0) == 0;
    return state != 'Z' && state != 'X';
}

std::vector<int> child_processes(int parent_pid, const std::string &name) {
    std::vector<int> found;
    DIR *dir = ::opendir("/proc");
    if (!dir) return found;
    while (dirent *entry = ::readdir(dir)) {
        char *end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char state = 0;
        int ppid = 0;
        if (!stat_of(static_cast<int>(pid), &state, &ppid) || ppid != parent_pid) continue;
        if (state == 'Z' || state == 'X') continue;
        if (program_name(static_cast<int>(pid)) == name) found.push_back(static_cast<int>(pid));
    }
    ::closedir(dir);
    return found;
}

namespace {

class PosixProcess final : public Process {
public:
    explicit PosixProcess(pid_t pid) : pid_(pid) {}
    ~PosixProcess() override { kill_hard(); }
    int pid() const override { return static_cast<int>(pid_); }

    bool wait_exit(int timeout_ms, int *status) override {
        if (reaped_) {
            *status = status_;
            return true;
        }
        // Polled, so the wait can give up; only the test's own child is
        // looked at.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            int raw = 0;
            pid_t got = ::waitpid(pid_, &raw, WNOHANG);
            if (got == pid_) {
                reaped_ = true;
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? -WTERMSIG(raw) : -1000;
                *status = status_;
                return true;
            }
            if (got < 0 && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    bool terminate_signal() override { return !reaped_ && ::kill(pid_, SIGTERM) == 0; }

    void kill_hard() override {
        if (reaped_) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        wait_exit(60000, &status);
    }

private:
    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
};

}  // namespace

std::unique_ptr<Process> start_process(const std::string &program, const std::string &cwd) {
    // The child starts with the termination signal unblocked and at its
    // default, whatever this test process has done with it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::string path = program;
    char *argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return nullptr;
    return std::make_unique<PosixProcess>(pid);
}

bool make_stale_socket(const std::string &path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Bound and closed without listening: the file stays, nobody answers.
    bool ok = ::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace service_test
