// The helper link on POSIX: one socket pair serves as the helper's standard
// input and output. A socket lets the library write with MSG_NOSIGNAL, so a
// dead helper gives a failed write instead of SIGPIPE, without touching the
// process-wide signal dispositions, and shutdown(SHUT_WR) ends the helper's
// input while another thread still reads its answers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "helper_link.h"

extern char **environ;

namespace gemxapis {

const char kProgramSuffix[] = "";

int current_process_id() { return static_cast<int>(getpid()); }

namespace {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Owns the file actions of one posix_spawn call.
class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions &) = delete;
    SpawnActions &operator=(const SpawnActions &) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t *get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

// Owns the attributes of one posix_spawn call.
class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
    ~SpawnAttributes() {
        if (ok_) posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes &) = delete;
    SpawnAttributes &operator=(const SpawnAttributes &) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t *get() { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

class PosixHelperLink final : public HelperLink {
public:
    PosixHelperLink(UniqueFd socket, pid_t pid) : socket_(std::move(socket)), pid_(pid) {}

    ~PosixHelperLink() override {
        socket_.reset();
        std::lock_guard<std::mutex> lock(wait_mutex_);
        if (reaped_) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }

    bool send(std::string_view bytes) override {
        if (input_closed_) return false;
        while (!bytes.empty()) {
            ssize_t n = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    LineStatus receive_line(std::string *line, int timeout_ms) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
        for (;;) {
            std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::size_t length = end;
                if (length > 0 && buffer_[length - 1] == '\r') --length;
                line->assign(buffer_, 0, length);
                buffer_.erase(0, end + 1);
                return LineStatus::line;
            }
            if (output_ended_) return LineStatus::closed;
            int wait_ms = -1;
            if (timeout_ms >= 0) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0) return LineStatus::timed_out;
                wait_ms = static_cast<int>(left.count());
            }
            pollfd pfd{socket_.get(), POLLIN, 0};
            int ready = ::poll(&pfd, 1, wait_ms);
            if (ready < 0) {
                if (errno == EINTR) continue;
                output_ended_ = true;
                continue;
            }
            if (ready == 0) continue;
            char chunk[4096];
            ssize_t n = ::recv(socket_.get(), chunk, sizeof chunk, 0);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                output_ended_ = true;
            } else if (n == 0) {
                output_ended_ = true;
            } else {
                buffer_.append(chunk, static_cast<std::size_t>(n));
            }
        }
    }

    void close_input() override {
        if (input_closed_) return;
        input_closed_ = true;
        ::shutdown(socket_.get(), SHUT_WR);
    }

    bool wait_for_exit(int timeout_ms) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
        for (;;) {
            {
                // The lock is held for one look only, so terminate() from
                // another thread is never held up by a long wait.
                std::lock_guard<std::mutex> lock(wait_mutex_);
                if (reaped_) return true;
                int status = 0;
                pid_t r = ::waitpid(pid_, &status, WNOHANG);
                // ECHILD: somebody else reaped it (SIGCHLD ignored, for one).
                if (r == pid_ || (r < 0 && errno == ECHILD)) {
                    reaped_ = true;
                    return true;
                }
            }
            if (timeout_ms >= 0 && Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    void terminate() override {
        std::lock_guard<std::mutex> lock(wait_mutex_);
        if (!reaped_) ::kill(pid_, SIGKILL);
    }

    int process_id() const override { return static_cast<int>(pid_); }

private:
    UniqueFd socket_;
    const pid_t pid_;
    std::mutex wait_mutex_;
    bool reaped_ = false;  // guarded by wait_mutex_: pid_ may be reused after it
    bool input_closed_ = false;
    bool output_ended_ = false;
    std::string buffer_;  // output read past the last line handed out
};

}  // namespace

std::unique_ptr<HelperLink> start_helper_link(const std::string &program) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return nullptr;
    UniqueFd ours(fds[0]);
    UniqueFd theirs(fds[1]);

    // The child gets the socket as fd 0 and 1 (dup2 clears close-on-exec on
    // those two), keeps stderr, and loses every other descriptor, whoever
    // opened it and however.
    SpawnActions actions;
    if (!actions.ok() || posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), 0) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), 1) != 0 ||
        posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0)
        return nullptr;

    // The service blocks SIGTERM in every thread and may ignore signals;
    // the helper starts with an empty mask and default dispositions.
    SpawnAttributes attributes;
    sigset_t empty;
    sigset_t all;
    sigemptyset(&empty);
    sigfillset(&all);
    if (!attributes.ok() || posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0 ||
        posix_spawnattr_setsigmask(attributes.get(), &empty) != 0 ||
        posix_spawnattr_setsigdefault(attributes.get(), &all) != 0)
        return nullptr;

    std::string path = program;
    char *argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), actions.get(), attributes.get(), argv, environ) != 0) return nullptr;
    theirs.reset();
    return std::make_unique<PosixHelperLink>(std::move(ours), pid);
}

}  // namespace gemxapis
