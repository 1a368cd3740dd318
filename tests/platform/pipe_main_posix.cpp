// Entry point of test_pipe on POSIX. Besides running the tests, the program
// plays a process of another user when a test re-runs it with
// "--pipe-child": it drops to that uid and talks to a socket with plain
// socket calls, so the product's own credential checks are what is tested.
//
//   --pipe-child client <uid> <socket>   connects, sends one framed request,
//       and exits 0 when the server closes without answering, 3 when an
//       answer arrives, 2 when the connection cannot be made.
//   --pipe-child server <uid> <socket>   binds and listens, prints "ready",
//       waits for a line on standard input, then takes every pending
//       connection and exits 0 when none of them sent a byte, 3 when one
//       did, 5 when no connection came.
#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kSetupFailed = 4;

bool become(const char *uid_text) {
    const auto uid = static_cast<uid_t>(std::strtoul(uid_text, nullptr, 10));
    return setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0 && geteuid() == uid;
}

bool address(const char *path, sockaddr_un *addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof addr->sun_path) {
        return false;
    }
    std::strcpy(addr->sun_path, path);
    return true;
}

int run_client(const char *path) {
    sockaddr_un addr{};
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !address(path, &addr) || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        return 2;
    }
    const char request[] = "\x07\x00\x00\x00request";
    if (send(fd, request, sizeof request - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request - 1)) {
        return 0;  // already dropped
    }
    char buf[64];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    close(fd);
    return n > 0 ? 3 : 0;
}

int run_server(const char *path) {
    sockaddr_un addr{};
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !address(path, &addr) || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(fd, 16) != 0) {
        return kSetupFailed;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
        return kSetupFailed;
    }
    int connections = 0;
    long bytes = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, connections == 0 ? 10000 : 500) <= 0) {
            break;
        }
        const int conn = accept(fd, nullptr, nullptr);
        if (conn < 0) {
            break;
        }
        ++connections;
        char buf[256];
        ssize_t n;
        while ((n = recv(conn, buf, sizeof buf, 0)) > 0) {
            bytes += n;
        }
        close(conn);
    }
    unlink(path);
    if (connections == 0) {
        return 5;
    }
    return bytes == 0 ? 0 : 3;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--pipe-child") == 0) {
        if (!become(argv[3])) {
            return kSetupFailed;
        }
        if (std::strcmp(argv[2], "client") == 0) {
            return run_client(argv[4]);
        }
        if (std::strcmp(argv[2], "server") == 0) {
            return run_server(argv[4]);
        }
        return kSetupFailed;
    }
    // A write to a peer that has gone must fail, not kill: keep SIGPIPE's
    // default action so a send without MSG_NOSIGNAL would end the tests.
    std::signal(SIGPIPE, SIG_DFL);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
