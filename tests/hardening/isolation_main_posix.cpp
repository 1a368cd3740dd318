// Entry point of test_isolation. Besides running the tests, the program
// plays a process of another user when a test re-runs it with
// "--isolation-child": it drops to that uid and uses plain socket calls, so
// what stops it is the product's own doing (modes, credential checks), not
// the pipe layer's client.
//
//   --isolation-child connect <uid> <socket> <request>
//       Connects, sends <request> framed as the pipe frames it (4-byte
//       little-endian length, then the bytes) and reads until the other end
//       closes. Prints one line: "refused <errno name>" when the connect
//       fails, otherwise "received <byte count> <closed|timed-out>".
//   --isolation-child listen <uid> <socket> <drop-first|bind-first>
//       drop-first: becomes the uid, then binds and listens. bind-first:
//       binds as the caller (the file is the caller's), becomes the uid,
//       then listens (the credentials a client sees are those at listen()).
//       Prints "ready", then accepts and reads every connection until a line
//       (or the end) arrives on standard input, and prints
//       "connections <count> bytes <count>".
//
// Exit status 0 when the role ran, 4 when it could not be set up. Children
// leave through _exit: after the uid change the leak checker of a sanitized
// build could no longer inspect the process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kSetupFailed = 4;

// Hang guards of the roles: how long a reply or an instruction may take.
constexpr int kReceiveGuardSeconds = 60;
constexpr int kListenGuardMs = 300000;

[[noreturn]] void finish(int status) {
    std::fflush(stdout);
    ::_exit(status);
}

bool become(uid_t uid) {
    return ::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0 && ::geteuid() == uid;
}

bool address(const char *path, sockaddr_un *addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof addr->sun_path) return false;
    std::strcpy(addr->sun_path, path);
    return true;
}

const char *errno_name(int err) {
    switch (err) {
        case EACCES: return "EACCES";
        case EPERM: return "EPERM";
        case ENOENT: return "ENOENT";
        case ECONNREFUSED: return "ECONNREFUSED";
        case ENOTDIR: return "ENOTDIR";
        default: return "other";
    }
}

bool send_all(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

[[noreturn]] void run_connect(uid_t uid, const char *path, const std::string &request) {
    if (!become(uid)) finish(kSetupFailed);
    sockaddr_un addr{};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !address(path, &addr)) finish(kSetupFailed);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        std::printf("refused %s\n", errno_name(errno));
        finish(0);
    }
    std::string frame(4, '\0');
    const auto length = static_cast<std::uint32_t>(request.size());
    for (int i = 0; i < 4; ++i) frame[static_cast<std::size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xff);
    frame += request;
    // A send that fails means the service dropped the connection first;
    // what counts is what comes back.
    send_all(fd, frame);
    timeval guard{kReceiveGuardSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    long received = 0;
    bool closed = false;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            received += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // 0 is the orderly end; a reset is an end as well, without data.
        closed = n == 0 || errno == ECONNRESET;
        break;
    }
    std::printf("received %ld %s\n", received, closed ? "closed" : "timed-out");
    finish(0);
}

[[noreturn]] void run_listen(uid_t uid, const char *path, bool bind_first) {
    sockaddr_un addr{};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !address(path, &addr)) finish(kSetupFailed);
    if (!bind_first && !become(uid)) finish(kSetupFailed);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) finish(kSetupFailed);
    if (bind_first && !become(uid)) finish(kSetupFailed);
    if (::listen(fd, SOMAXCONN) != 0) finish(kSetupFailed);
    std::printf("ready\n");
    std::fflush(stdout);

    // One loop over the listener, standard input and every open connection,
    // so a client that keeps its connection open holds nothing up.
    std::vector<int> open_connections;
    long connections = 0;
    long bytes = 0;
    for (;;) {
        std::vector<pollfd> fds = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
        for (int c : open_connections) fds.push_back({c, POLLIN, 0});
        const int n = ::poll(fds.data(), fds.size(), kListenGuardMs);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || fds[1].revents != 0) break;
        if (fds[0].revents & POLLIN) {
            const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                ++connections;
                open_connections.push_back(c);
            }
        }
        std::vector<int> still_open;
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                still_open.push_back(fds[i].fd);
                continue;
            }
            char buf[4096];
            const ssize_t got = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (got > 0) {
                bytes += got;
                still_open.push_back(fds[i].fd);
            } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                still_open.push_back(fds[i].fd);
            } else {
                ::close(fds[i].fd);
            }
        }
        open_connections = still_open;
    }
    // The caller stops the role only after its clients are done, so what
    // they sent is queued already: take every pending connection and read
    // what waits on each, without blocking.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0 && errno == EINTR) continue;
        if (c < 0) break;
        ++connections;
        open_connections.push_back(c);
    }
    for (int c : open_connections) {
        char buf[4096];
        ssize_t got;
        while ((got = ::recv(c, buf, sizeof buf, MSG_DONTWAIT)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) bytes += got;
        }
        ::close(c);
    }
    std::printf("connections %ld bytes %ld\n", connections, bytes);
    finish(0);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--isolation-child") == 0) {
        if (argc != 6) finish(kSetupFailed);
        const auto uid = static_cast<uid_t>(std::strtoul(argv[3], nullptr, 10));
        if (std::strcmp(argv[2], "connect") == 0) run_connect(uid, argv[4], argv[5]);
        if (std::strcmp(argv[2], "listen") == 0) run_listen(uid, argv[4], std::strcmp(argv[5], "bind-first") == 0);
        finish(kSetupFailed);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
