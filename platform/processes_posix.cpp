// Processes, threads and termination on POSIX (Linux: /proc, close_range).
#include "processes.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

extern char **environ;

namespace platform {

namespace {

// Owns one file descriptor and closes it when destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Owns a pthread attribute object.
class ThreadAttributes {
public:
    ThreadAttributes() : ok_(pthread_attr_init(&attr_) == 0) {}
    ~ThreadAttributes() {
        if (ok_) pthread_attr_destroy(&attr_);
    }
    ThreadAttributes(const ThreadAttributes &) = delete;
    ThreadAttributes &operator=(const ThreadAttributes &) = delete;
    bool ok() const { return ok_; }
    pthread_attr_t *get() { return &attr_; }

private:
    pthread_attr_t attr_;
    bool ok_;
};

struct ThreadStart {
    void (*fn)(void *);
    void *arg;
};

// The pthread entry: takes the start record over and runs fn(arg).
void *run_thread(void *raw) {
    ThreadStart start = *static_cast<ThreadStart *>(raw);
    delete static_cast<ThreadStart *>(raw);
    start.fn(start.arg);
    return nullptr;
}

// ---- Termination ---------------------------------------------------------

std::atomic<void (*)(int)> termination_handler{nullptr};
std::mutex termination_mutex;
bool termination_thread_running = false;

sigset_t termination_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

// The dedicated thread: takes every SIGTERM with sigwait and runs the
// handler on an ordinary thread, where it may trace, lock and exit.
void wait_for_termination(void *) {
    sigset_t set = termination_set();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        void (*handler)(int) = termination_handler.load();
        if (handler != nullptr) handler(sig);
    }
}

// ---- Detached launch -----------------------------------------------------

// Returns fd itself when it lies above the standard descriptors, else a
// close-on-exec duplicate above them (the original is closed). So placing
// /dev/null on 0..2 in the child can never overwrite one of ours.
UniqueFd above_standard(UniqueFd fd) {
    if (!fd || fd.get() > 2) return fd;
    return UniqueFd(fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
}

// A close-on-exec pipe whose both ends lie above the standard descriptors.
bool make_pipe(UniqueFd *read_end, UniqueFd *write_end) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    *read_end = above_standard(UniqueFd(fds[0]));
    *write_end = above_standard(UniqueFd(fds[1]));
    return *read_end && *write_end;
}

// Everything the two forked processes need, prepared before the fork so
// that they only make system calls.
struct LaunchPlan {
    const char *path;
    char *argv[2];
    int devnull;
    int exec_read;     // the intermediate child learns the exec outcome here
    int exec_write;    // the program's end: an errno, or closed by the exec
    int result_read;   // the caller learns the outcome here
    int result_write;  // the intermediate child's end
    int max_fd;        // bound for closing descriptors without close_range
};

// Async-signal-safe: writes all of len bytes unless the descriptor fails.
void write_all(int fd, const void *data, std::size_t len) {
    const char *p = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t n = ::write(fd, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        len -= static_cast<std::size_t>(n);
    }
}

// Async-signal-safe: reads up to len bytes, stopping early only at end of
// file; the count read, or -1 on an error.
ssize_t read_full(int fd, void *data, std::size_t len) {
    char *p = static_cast<char *>(data);
    std::size_t got = 0;
    while (got < len) {
        ssize_t n = ::read(fd, p + got, len - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Async-signal-safe: waits for the one child pid, retrying interruptions.
void reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Async-signal-safe: closes every descriptor above 2 except keep (> 2).
void close_inherited(int keep, int max_fd) {
    bool below = keep == 3 || close_range(3, static_cast<unsigned>(keep - 1), 0) == 0;
    bool above = close_range(static_cast<unsigned>(keep + 1), ~0U, 0) == 0;
    if (below && above) return;
    for (int fd = 3; fd < max_fd; ++fd) {
        if (fd != keep) ::close(fd);
    }
}

// The program's side, in the grandchild: a clean signal state, /dev/null
// on the standard streams, nothing else inherited, then the exec. On any
// failure the errno goes back through exec_write and the process ends.
[[noreturn]] void exec_program(const LaunchPlan &plan) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
    for (int target = 0; target <= 2; ++target) {
        if (dup2(plan.devnull, target) < 0) {
            int err = errno;
            write_all(plan.exec_write, &err, sizeof err);
            _exit(127);
        }
    }
    close_inherited(plan.exec_write, plan.max_fd);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    execve(plan.path, plan.argv, environ);
    int err = errno;
    write_all(plan.exec_write, &err, sizeof err);
    _exit(127);
}

// The intermediate child: leaves the caller's session, starts the program
// as its own child and waits only for the exec outcome. A program that
// failed to execute is reaped here, so nothing is left behind; a running
// one is orphaned when this process ends and adopted by init. The errno
// (0 for success) goes to the caller through result_write.
[[noreturn]] void run_intermediate(const LaunchPlan &plan) {
    ::close(plan.result_read);
    setsid();
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGCHLD, &dfl, nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        write_all(plan.result_write, &err, sizeof err);
        _exit(1);
    }
    if (pid == 0) {
        ::close(plan.exec_read);
        ::close(plan.result_write);
        exec_program(plan);
    }
    ::close(plan.exec_write);
    int err = 0;
    ssize_t n = read_full(plan.exec_read, &err, sizeof err);
    if (n == static_cast<ssize_t>(sizeof err)) {
        reap(pid);
    } else if (n != 0) {
        err = EIO;
    }
    write_all(plan.result_write, &err, sizeof err);
    _exit(0);
}

// The highest descriptor number worth closing when close_range is missing.
int descriptor_limit() {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1 << 16;
    if (limit.rlim_cur > (1u << 20)) return 1 << 20;
    return static_cast<int>(limit.rlim_cur);
}

}  // namespace

int current_pid() { return static_cast<int>(getpid()); }

bool start_detached_thread(void (*fn)(void *), void *arg) {
    if (fn == nullptr) return false;
    ThreadAttributes attributes;
    if (!attributes.ok() || pthread_attr_setdetachstate(attributes.get(), PTHREAD_CREATE_DETACHED) != 0) {
        return false;
    }
    auto *start = new (std::nothrow) ThreadStart{fn, arg};
    if (start == nullptr) return false;
    pthread_t thread;
    if (pthread_create(&thread, attributes.get(), run_thread, start) != 0) {
        delete start;
        return false;
    }
    return true;
}

void install_termination_handler(void (*handler)(int)) {
    if (handler == nullptr) return;
    termination_handler.store(handler);
    std::lock_guard<std::mutex> lock(termination_mutex);
    if (termination_thread_running) return;
    sigset_t set = termination_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    termination_thread_running = start_detached_thread(wait_for_termination, nullptr);
    // Without the waiting thread a blocked SIGTERM would never be taken;
    // leave the signal's default action in force instead.
    if (!termination_thread_running) pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool launch_hidden(const std::string &program) {
    if (program.empty()) {
        errno = ENOENT;
        return false;
    }
    UniqueFd devnull = above_standard(UniqueFd(open("/dev/null", O_RDWR | O_CLOEXEC)));
    UniqueFd exec_read, exec_write, result_read, result_write;
    if (!devnull || !make_pipe(&exec_read, &exec_write) || !make_pipe(&result_read, &result_write)) {
        return false;
    }
    LaunchPlan plan{program.c_str(),
                    {const_cast<char *>(program.c_str()), nullptr},
                    devnull.get(),
                    exec_read.get(),
                    exec_write.get(),
                    result_read.get(),
                    result_write.get(),
                    descriptor_limit()};

    // With every signal blocked across the fork, none of the caller's
    // handlers can run in the children before their dispositions are reset.
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    pid_t pid = fork();
    if (pid == 0) run_intermediate(plan);
    int fork_error = errno;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (pid < 0) {
        errno = fork_error;
        return false;
    }

    exec_read.reset();
    exec_write.reset();
    result_write.reset();
    int err = 0;
    if (read_full(result_read.get(), &err, sizeof err) != static_cast<ssize_t>(sizeof err)) err = EIO;
    reap(pid);
    if (err != 0) {
        errno = err;
        return false;
    }
    return true;
}

bool process_image_path(int pid, char *buf, std::size_t size) {
    if (buf != nullptr && size > 0) buf[0] = '\0';
    if (pid <= 0) return false;
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", pid);
    char target[4096];
    ssize_t n = readlink(link, target, sizeof target);
    if (n < 0) return false;
    // A path that fills the buffer may be cut short; report it unknown
    // rather than a wrong path.
    std::size_t len = static_cast<std::size_t>(n);
    if (len < sizeof target && buf != nullptr && len < size) {
        std::memcpy(buf, target, len);
        buf[len] = '\0';
    }
    return true;
}

std::string comparable_image_path(const std::string &path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::string();
    return std::string(resolved.get());
}

}  // namespace platform
