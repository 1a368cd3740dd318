// POSIX side of the load driver's OS needs: the floor over a Unix-domain
// stream socket with 4-byte little-endian framing, /proc for resources.
#include "bench_os.h"

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace bench {
namespace {

// An owned descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(Fd &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd &operator=(Fd &&o) noexcept { std::swap(fd_, o.fd_); return *this; }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release() { int f = fd_; fd_ = -1; return f; }

private:
    int fd_;
};

bool write_all(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool read_all(int fd, char *p, std::size_t n) {
    while (n > 0) {
        ssize_t r = ::recv(fd, p, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// Writes one message: its length in 4 little-endian bytes, then its bytes,
// in one send as a message-mode pipe write would be.
bool write_message(int fd, const std::string &body) {
    std::string frame(4 + body.size(), '\0');
    std::uint32_t n = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((n >> (8 * i)) & 0xff);
    std::memcpy(frame.data() + 4, body.data(), body.size());
    return write_all(fd, frame.data(), frame.size());
}

bool read_message(int fd, std::string *body) {
    unsigned char len[4];
    if (!read_all(fd, reinterpret_cast<char *>(len), 4)) return false;
    std::uint32_t n = len[0] | (len[1] << 8) | (len[2] << 16) | (static_cast<std::uint32_t>(len[3]) << 24);
    if (n > (1u << 20)) return false;
    body->resize(n);
    return n == 0 || read_all(fd, body->data(), n);
}

const char kAnswer[] = "<response_start>0<response_end>";

// One connection of the floor server: read the request, answer, close.
void *serve_connection(void *arg) {
    Fd fd(static_cast<int>(reinterpret_cast<std::intptr_t>(arg)));
    std::string request;
    if (read_message(fd.get(), &request)) write_message(fd.get(), kAnswer);
    return nullptr;
}

class PosixFloorServer : public FloorServer {
public:
    PosixFloorServer(std::string path, Fd listener) : path_(std::move(path)), listener_(std::move(listener)) {
        thread_ = std::thread([this] { accept_loop(); });
    }
    ~PosixFloorServer() override {
        stop_ = true;
        ::shutdown(listener_.get(), SHUT_RDWR);
        // A connection of our own wakes an accept that shutdown did not.
        floor_call(path_, "");
        thread_.join();
        ::unlink(path_.c_str());
    }
    const std::string &address() const override { return path_; }

private:
    // Accepts for ever, one detached thread per connection, as the service
    // does.
    void accept_loop() {
        while (!stop_) {
            int c = ::accept(listener_.get(), nullptr, nullptr);
            if (c < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (stop_) break;
                continue;
            }
            pthread_t t;
            pthread_attr_t attr;
            pthread_attr_init(&attr);
            pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
            if (pthread_create(&t, &attr, serve_connection, reinterpret_cast<void *>(static_cast<std::intptr_t>(c))) != 0) {
                ::close(c);
            }
            pthread_attr_destroy(&attr);
        }
    }

    std::string path_;
    Fd listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace

std::unique_ptr<FloorServer> FloorServer::start(const std::string &folder) {
    std::string path = folder + "/floor_" + std::to_string(::getpid()) + ".sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return nullptr;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.get() < 0) return nullptr;
    ::unlink(path.c_str());
    if (::bind(s.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return nullptr;
    if (::listen(s.get(), SOMAXCONN) != 0) return nullptr;
    return std::make_unique<PosixFloorServer>(path, std::move(s));
}

bool floor_call(const std::string &address, const std::string &request) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, address.c_str(), address.size() + 1);
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.get() < 0) return false;
    if (::connect(s.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return false;
    if (!write_message(s.get(), request)) return false;
    char buf[4096];
    ssize_t r;
    do {
        r = ::recv(s.get(), buf, sizeof buf, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

Resources process_resources(int pid) {
    Resources res;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") status >> res.rss_kib;
        else if (key == "Threads:") status >> res.threads;
        std::string rest;
        std::getline(status, rest);
    }
    if (DIR *d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        long n = 0;
        while (dirent *e = ::readdir(d)) {
            if (e->d_name[0] != '.') ++n;
        }
        ::closedir(d);
        res.handles = n;
    }
    return res;
}

bool process_alive(int pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    // A zombie still answers kill(0); /proc tells it apart.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::size_t p = line.rfind(')');
    return !(p != std::string::npos && p + 2 < line.size() && line[p + 2] == 'Z');
}

bool stop_process(int pid, unsigned timeout_ms) {
    if (pid <= 0) return false;
    ::kill(pid, SIGTERM);
    for (unsigned waited = 0; waited < timeout_ms; waited += 10) {
        if (!process_alive(pid)) return true;
        ::usleep(10000);
    }
    return !process_alive(pid);
}

void set_env(const char *name, const std::string &value) {
    if (value.empty()) ::unsetenv(name);
    else ::setenv(name, value.c_str(), 1);
}

long long now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

void sleep_until_ns(long long t) {
    timespec ts{static_cast<time_t>(t / 1000000000LL), static_cast<long>(t % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

std::string shell_command(const std::string &command) { return command; }

char separator() { return '/'; }

std::string exe_suffix() { return ""; }

std::string machine_description() {
    utsname u{};
    ::uname(&u);
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("model name", 0) == 0) {
            std::size_t p = line.find(':');
            if (p != std::string::npos) cpu = line.substr(p + 2);
            break;
        }
    }
    return std::string(u.sysname) + " " + u.release + " " + u.machine + ", " + cpu + ", " +
           std::to_string(std::thread::hardware_concurrency()) + " cores";
}

}  // namespace bench
