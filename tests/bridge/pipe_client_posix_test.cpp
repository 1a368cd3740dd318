// POSIX only: a socket at the service pipe's path that another user
// listens on. The client must see from the peer's credentials that it is
// not the user's own service, refuse it and send it nothing.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "gemx_protocol.h"
#include "pipe_test_server.h"
#include "trace_fixture.h"
#include "veyraks.h"

namespace {

const uid_t kOtherUid = 12345;

// Reads one int from fd, waiting at most timeout_ms; false on time-out.
bool read_int(int fd, int *value, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    return ::read(fd, value, sizeof *value) == static_cast<ssize_t>(sizeof *value);
}

// The child: binds the socket, becomes another user, listens, and reports
// how many bytes the one client that connects sends before it goes.
[[noreturn]] void foreign_server(const std::string &path, int ready_fd, int report_fd) {
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) ::_exit(10);
    // The credentials a client sees are those in force at listen().
    if (::setgid(kOtherUid) != 0 || ::setuid(kOtherUid) != 0) ::_exit(11);
    if (::listen(s, 4) != 0) ::_exit(12);
    int ready = 1;
    if (::write(ready_fd, &ready, sizeof ready) != static_cast<ssize_t>(sizeof ready)) ::_exit(13);
    pollfd p{s, POLLIN, 0};
    int received = -1;  // nobody connected
    if (::poll(&p, 1, 20000) > 0) {
        int c = ::accept(s, nullptr, nullptr);
        received = 0;
        char buf[256];
        for (;;) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 20000) <= 0) break;
            ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            received += static_cast<int>(n);
        }
    }
    if (::write(report_fd, &received, sizeof received) != static_cast<ssize_t>(sizeof received)) ::_exit(14);
    ::_exit(0);
}

class BridgePipeForeignServer : public bridge_test::TracedTest {
protected:
    bridge_test::PrivateTempDir temp_;
};

TEST_F(BridgePipeForeignServer, IsRefusedAndGetsNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    set_sleep_function(bridge_test::recording_pause);
    const std::string name = service_pipe_name(pipe_base_name, sysutl_myloginname());
    const std::string path = temp_.file(name.substr(name.find_last_of('\\') + 1));

    int ready[2], report[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(report), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) foreign_server(path, ready[1], report[1]);
    ::close(ready[1]);
    ::close(report[1]);

    int flag = 0;
    bool listening = read_int(ready[0], &flag, 20000);
    std::string response = "untouched";
    int result = listening ? send_data_win32("<request_start><request_end>", response, 0) : -1;
    int received = -2;
    bool reported = listening && read_int(report[0], &received, 30000);
    ::close(ready[0]);
    ::close(report[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::unlink(path.c_str());
    set_sleep_function(nullptr);

    ASSERT_TRUE(listening) << "child status " << status;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(response, "untouched");
    ASSERT_TRUE(reported);
    EXPECT_LE(received, 0) << "the foreign server received bytes";
    std::vector<std::string> lines = traced();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "gemxbridge::com_utils::send_data_win32::Unable to obtain pipe " + name),
              lines.end());
}

}  // namespace
