// The tests' OS services on POSIX.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_os.h"

extern char **environ;

namespace gemxapis_test {

const char kProgramSuffix[] = "";

bool process_running(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return ::kill(pid, 0) == 0;
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

int current_pid() { return static_cast<int>(::getpid()); }

namespace {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A pipe whose ends close on exec; both ends -1 when it cannot be made.
struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_end = UniqueFd(fds[0]);
            write_end = UniqueFd(fds[1]);
        }
    }
    bool ok() const { return read_end.get() >= 0; }
    UniqueFd read_end;
    UniqueFd write_end;
};

class PosixChild final : public Child {
public:
    PosixChild(pid_t pid, UniqueFd in, UniqueFd out) : pid_(pid), in_(std::move(in)), out_(std::move(out)) {}
    ~PosixChild() override {
        in_.reset();
        out_.reset();
        if (!reaped_) kill_hard();
    }
    bool read_line(std::string *line) override {
        for (;;) {
            std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                *line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            char chunk[512];
            ssize_t n = ::read(out_.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void close_input() override { in_.reset(); }
    void kill_hard() override {
        if (reaped_) return;
        ::kill(pid_, SIGKILL);
        wait();
    }
    int wait() override {
        if (reaped_) return status_;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }
    int pid() const override { return static_cast<int>(pid_); }

private:
    pid_t pid_;
    UniqueFd in_;
    UniqueFd out_;
    bool reaped_ = false;
    int status_ = -1;
    std::string buffer_;
};

}  // namespace

std::unique_ptr<Child> start_child(const std::string &program, const std::vector<std::string> &args) {
    Pipe in;
    Pipe out;
    if (!in.ok() || !out.ok()) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read_end.get(), 0);
    posix_spawn_file_actions_adddup2(&actions, out.write_end.get(), 1);
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return nullptr;
    return std::make_unique<PosixChild>(pid, std::move(in.write_end), std::move(out.read_end));
}

}  // namespace gemxapis_test
