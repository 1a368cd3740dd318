#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "bridge_test_util.h"

namespace fs = std::filesystem;

namespace bridge_test {

namespace {

// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The state letter of /proc/<pid>/stat ('Z' for a zombie), or 0 when the
// process does not exist.
char process_state(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return 0;
    return text[close + 2];
}

// The parent pid of process pid from /proc, or -1.
int parent_of(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    char state = 0;
    int ppid = -1;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return -1;
    return ppid;
}

// The pids of every process in /proc.
std::vector<int> all_pids() {
    std::vector<int> pids;
    DIR *d = ::opendir("/proc");
    if (!d) return pids;
    while (dirent *e = ::readdir(d)) {
        char *end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && pid > 0) pids.push_back(static_cast<int>(pid));
    }
    ::closedir(d);
    return pids;
}

}  // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                      int timeout_ms) {
    RunResult result;
    kestrin_test::TempDir capture("run");
    const std::string out_path = capture.file("out");
    const std::string err_path = capture.file("err");
    Fd out(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Fd err(::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Fd in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (out.get() < 0 || err.get() < 0 || in.get() < 0) return result;

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid < 0) return result;
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::dup2(in.get(), 0);
        ::dup2(out.get(), 1);
        ::dup2(err.get(), 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    result.started = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            result.finished = true;
            break;
        }
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (result.finished && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    result.out = kestrin_test::read_file(out_path);
    result.err = kestrin_test::read_file(err_path);
    return result;
}

bool process_running(int pid) {
    if (pid <= 0) return false;
    char state = process_state(pid);
    return state != 0 && state != 'Z' && state != 'X';
}

bool stop_process(int pid) {
    if (pid <= 0) return false;
    if (!process_running(pid)) return true;
    ::kill(pid, SIGTERM);
    if (wait_until([pid] { return !process_running(pid); }, 10000)) return true;
    ::kill(pid, SIGKILL);
    return wait_until([pid] { return !process_running(pid); }, 10000);
}

std::vector<int> processes_running_from(const std::string &dir) {
    std::error_code ec;
    std::string root = fs::weakly_canonical(dir, ec).string();
    if (root.empty()) root = dir;
    if (root.back() != '/') root += '/';
    std::vector<int> found;
    for (int pid : all_pids()) {
        char target[PATH_MAX + 1];
        std::string link = "/proc/" + std::to_string(pid) + "/exe";
        ssize_t n = ::readlink(link.c_str(), target, PATH_MAX);
        if (n <= 0) continue;
        std::string image(target, static_cast<std::size_t>(n));
        if (image.compare(0, root.size(), root) == 0 && process_running(pid)) found.push_back(pid);
    }
    return found;
}

int open_handle_count() {
    int count = 0;
    DIR *d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++count;
    }
    ::closedir(d);
    return count - 1;  // the directory stream's own descriptor
}

int unreaped_child_count() {
    const int self = static_cast<int>(::getpid());
    int count = 0;
    for (int pid : all_pids()) {
        if (parent_of(pid) == self && process_state(pid) != 0) ++count;
    }
    return count;
}

bool make_directory_link(const std::string &target, const std::string &link) {
    std::error_code ec;
    fs::create_directory_symlink(target, link, ec);
    return !ec;
}

}  // namespace bridge_test
