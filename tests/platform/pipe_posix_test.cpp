// The POSIX pipe's own rules: where the socket lives, its mode, what
// create() does with what it finds at the path, the framing of a broken
// message, and the credential checks against processes of another uid
// (played by this program re-run as a child that drops to uid 12345).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "pipe.h"
#include "pipe_test_util.h"
#include "veyraks.h"

namespace {

using platform::PipeClient;
using platform::PipeInstance;
using platform::ReadStatus;
using pipe_test::connect_client;
using pipe_test::read_message;
using pipe_test::receive;
using pipe_test::send;

constexpr uid_t kOtherUid = 12345;

// Owns a file descriptor made in a test.
struct TestFd {
    int fd = -1;
    explicit TestFd(int f) : fd(f) {}
    ~TestFd() {
        if (fd >= 0) {
            close(fd);
        }
    }
    TestFd(const TestFd &) = delete;
    TestFd &operator=(const TestFd &) = delete;
};

sockaddr_un address_of(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    return addr;
}

// A plain socket bound to path; listening when listen_too is set.
int bound_socket(const std::string &path, bool listen_too) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = address_of(path);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        (listen_too && listen(fd, 16) != 0)) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

// A copy of this test program started with "--pipe-child"; killed and
// reaped when the test ends before it has exited on its own.
class Child {
public:
    Child(const std::string &role, const std::string &socket_path) {
        int to_child[2], from_child[2];
        if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
            return;
        }
        const std::string self = kestrin_test::bin_dir() + "/test_pipe";
        const std::string uid = std::to_string(kOtherUid);
        std::vector<const char *> argv = {self.c_str(), "--pipe-child", role.c_str(), uid.c_str(),
                                          socket_path.c_str(), nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            dup2(to_child[0], 0);
            dup2(from_child[1], 1);
            execv(argv[0], const_cast<char *const *>(argv.data()));
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        to_child_ = to_child[1];
        from_child_ = from_child[0];
    }
    ~Child() {
        if (to_child_ >= 0) {
            close(to_child_);
        }
        if (from_child_ >= 0) {
            close(from_child_);
        }
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool started() const { return pid_ > 0; }

    // The child's next line of output, without its newline.
    std::string read_line() {
        std::string line;
        char c;
        while (read(from_child_, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }

    bool write_line(const char *text) {
        const std::string line = std::string(text) + "\n";
        return write(to_child_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }

    // Waits for the child to end; its exit status, or -1 when it did not exit.
    int exit_status() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
};

class PosixPipeTest : public testing::Test {
protected:
    // The user's temporary directory as the pipe computes it.
    static std::string tmpdir() {
        char buf[1024] = {};
        fileutl_get_tmpdir(0, buf, 1023, 0);
        return buf;
    }
    std::string socket_path() const { return tmpdir() + "/" + pipe_test::leaf_of(name_); }

    static bool is_socket(const std::string &path, struct stat *st) {
        return lstat(path.c_str(), st) == 0 && S_ISSOCK(st->st_mode);
    }

    pipe_test::ScopedTmpdir tmpdir_;
    std::string name_ = pipe_test::unique_pipe_name();
};

TEST_F(PosixPipeTest, SocketIsOwnerOnlyInTheTemporaryDirectoryWhateverTheUmask) {
    const mode_t old_mask = umask(0);
    PipeInstance server = PipeInstance::create(name_);
    umask(old_mask);
    ASSERT_TRUE(server.valid());
    struct stat st{};
    ASSERT_TRUE(is_socket(socket_path(), &st)) << socket_path();
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(socket_path().rfind(tmpdir_.path(), 0), 0u);
}

TEST_F(PosixPipeTest, StaleSocketFileIsReplaced) {
    const std::string path = socket_path();
    close(bound_socket(path, true));  // a service that died: the file stays
    struct stat st{};
    ASSERT_TRUE(is_socket(path, &st));
    PipeClient refused(name_);
    ASSERT_FALSE(refused.wait(10000));
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    // The new socket has a listener behind it where the old one had none.
    PipeClient client(name_);
    ASSERT_TRUE(connect_client(client));
    ASSERT_TRUE(send(client, "hello"));
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_EQ(got, "hello");
}

TEST_F(PosixPipeTest, LiveListenerOfAnotherServiceMakesCreateFail) {
    const std::string path = socket_path();
    TestFd other(bound_socket(path, true));
    ASSERT_GE(other.fd, 0);
    struct stat before{};
    ASSERT_TRUE(is_socket(path, &before));
    PipeInstance server = PipeInstance::create(name_);
    EXPECT_FALSE(server.valid());
    struct stat after{};
    ASSERT_TRUE(is_socket(path, &after));
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(PosixPipeTest, PathThatIsNotASocketIsLeftAlone) {
    const std::string path = socket_path();
    ASSERT_TRUE(kestrin_test::write_file(path, "precious"));
    EXPECT_FALSE(PipeInstance::create(name_).valid());
    EXPECT_EQ(kestrin_test::read_file(path), "precious");
    PipeClient client(name_);
    EXPECT_FALSE(client.wait(10000));
}

TEST_F(PosixPipeTest, PathTooLongForASocketFails) {
    const std::string deep = tmpdir_.path() + "/" + std::string(100, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    setenv("TMPDIR", deep.c_str(), 1);
    EXPECT_FALSE(PipeInstance::create(name_).valid());
    PipeClient client(name_);
    EXPECT_FALSE(client.wait(10000));
    EXPECT_FALSE(client.open());
}

TEST_F(PosixPipeTest, ClosingLeavesAFileThatReplacedTheSocket) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    const std::string path = socket_path();
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_TRUE(kestrin_test::write_file(path, "someone else's"));
    server.close();
    EXPECT_EQ(kestrin_test::read_file(path), "someone else's");
}

TEST_F(PosixPipeTest, ClosingTheLastInstanceRemovesTheSocketFile) {
    PipeInstance first = PipeInstance::create(name_);
    PipeInstance second = PipeInstance::create(name_);
    ASSERT_TRUE(first.valid() && second.valid());
    struct stat st{};
    first.close();
    EXPECT_TRUE(is_socket(socket_path(), &st));
    second.close();
    EXPECT_NE(lstat(socket_path().c_str(), &st), 0);
}

// Later instances share the bound listener without the folder check: a
// service whose folder's mode changes under it goes on serving its socket
// (still 0600, still checking credentials), while a new pipe cannot be made
// there.
TEST_F(PosixPipeTest, LaterInstancesShareTheListenerWithoutTheFolderCheck) {
    PipeInstance first = PipeInstance::create(name_);
    ASSERT_TRUE(first.valid());
    const std::string folder = tmpdir();
    ASSERT_EQ(chmod(folder.c_str(), 0750), 0);
    PipeInstance unrelated = PipeInstance::create(pipe_test::unique_pipe_name());
    PipeInstance second = PipeInstance::create(name_);
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    EXPECT_FALSE(unrelated.valid());
    ASSERT_TRUE(second.valid());
    first.close();

    struct stat st{};
    EXPECT_TRUE(is_socket(socket_path(), &st));
    PipeClient client(name_);
    ASSERT_TRUE(client.wait(10000));
    EXPECT_TRUE(second.connect());
}

TEST_F(PosixPipeTest, SocketWithoutListenerFailsWaitAndOpenAtOnce) {
    close(bound_socket(socket_path(), true));
    PipeClient client(name_);
    EXPECT_FALSE(client.wait(10000));
    EXPECT_FALSE(client.open());
}

TEST_F(PosixPipeTest, ClientThatClosesMidMessageFailsTheServerRead) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    {
        TestFd raw(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_un addr = address_of(socket_path());
        ASSERT_EQ(connect(raw.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
        const char partial[] = "\x64\x00\x00\x00only ten..";  // 100 bytes announced, 10 sent
        ASSERT_EQ(send(raw.fd, partial, sizeof partial - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof partial - 1));
        ASSERT_TRUE(server.connect());
    }
    char buf[4096];
    std::size_t got = 99;
    EXPECT_EQ(server.read(buf, 4095, &got), ReadStatus::failed);
    EXPECT_EQ(got, 0u);
}

TEST_F(PosixPipeTest, ReadStopsAtTheMessageBoundaryOnTheWire) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    TestFd raw(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un addr = address_of(socket_path());
    ASSERT_EQ(connect(raw.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0);
    // Two framed messages in one send: "abc" and "de".
    const char wire[] = "\x03\x00\x00\x00" "abc" "\x02\x00\x00\x00" "de";
    ASSERT_EQ(send(raw.fd, wire, sizeof wire - 1, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof wire - 1));
    ASSERT_TRUE(server.connect());
    char buf[64];
    std::size_t got = 0;
    EXPECT_EQ(server.read(buf, sizeof buf, &got), ReadStatus::complete);
    EXPECT_EQ(std::string(buf, got), "abc");
    EXPECT_EQ(server.read(buf, 1, &got), ReadStatus::more_data);
    EXPECT_EQ(std::string(buf, got), "d");
    EXPECT_EQ(server.read(buf, sizeof buf, &got), ReadStatus::complete);
    EXPECT_EQ(std::string(buf, got), "e");
    // The answer goes out framed the same way.
    ASSERT_TRUE(server.write("ok", 2));
    char answer[6];
    ASSERT_EQ(recv(raw.fd, answer, sizeof answer, MSG_WAITALL), 6);
    EXPECT_EQ(std::string(answer, 6), std::string("\x02\x00\x00\x00ok", 6));
}

TEST_F(PosixPipeTest, EveryDescriptorIsCloseOnExec) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeClient client(name_);
    ASSERT_TRUE(connect_client(client));
    ASSERT_TRUE(server.connect());
    int sockets = 0;
    DIR *dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (dirent *entry = readdir(dir)) {
        const int fd = atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == dirfd(dir)) {
            continue;
        }
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0) {
            ++sockets;
            EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "fd " << fd;
        }
    }
    closedir(dir);
    EXPECT_GE(sockets, 3);  // listener, accepted connection, client
}

TEST_F(PosixPipeTest, ClientOfAnotherUidIsDroppedWithoutAnswer) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user";
    }
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    // Loosen the socket on purpose and give the other user a way to it, so
    // only the credential check stands in its way.
    ASSERT_EQ(chmod(socket_path().c_str(), 0666), 0);
    ASSERT_EQ(chmod(tmpdir_.path().c_str(), 0755), 0);
    const std::string door = tmpdir_.path() + "/door";
    ASSERT_EQ(link(socket_path().c_str(), door.c_str()), 0);

    std::string request;
    bool answered = false;
    std::jthread server_thread;
    // Should the test end early, one empty connection lets the server
    // thread's connect return, so the join does not hang.
    struct Unblock {
        std::string name;
        ~Unblock() {
            PipeClient last(name);
            last.open();
        }
    } unblock{name_};
    server_thread = std::jthread([&] {
        // Blocks through the foreign client and returns with the owner's.
        if (server.connect()) {
            read_message(server, 4095, &request);
            answered = server.write("for the owner", 13);
            server.flush();
            server.disconnect();
        }
    });
    {
        Child foreign("client", door);
        ASSERT_TRUE(foreign.started());
        ASSERT_EQ(foreign.exit_status(), 0) << "the other user's client got an answer or could not connect";
    }
    PipeClient owner(name_);
    ASSERT_TRUE(connect_client(owner));
    ASSERT_TRUE(send(owner, "owner's request"));
    std::string answer;
    EXPECT_TRUE(receive(owner, 4095, &answer));
    server_thread.join();
    EXPECT_EQ(request, "owner's request");
    EXPECT_TRUE(answered);
    EXPECT_EQ(answer, "for the owner");
}

TEST_F(PosixPipeTest, ServerOfAnotherUidIsRefusedBeforeAnythingIsSent) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to play another user";
    }
    const std::string theirs = tmpdir_.path() + "/theirs";
    ASSERT_EQ(mkdir(theirs.c_str(), 0777), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0777), 0);
    ASSERT_EQ(chmod(tmpdir_.path().c_str(), 0755), 0);
    Child foreign("server", theirs + "/sock");
    ASSERT_TRUE(foreign.started());
    ASSERT_EQ(foreign.read_line(), "ready");
    // The other user's socket appears where this user's service would be.
    ASSERT_EQ(link((theirs + "/sock").c_str(), socket_path().c_str()), 0);
    struct stat st{};
    ASSERT_TRUE(is_socket(socket_path(), &st));
    ASSERT_EQ(st.st_uid, kOtherUid);

    PipeClient waited(name_);
    EXPECT_TRUE(waited.wait(10000));  // a live server listens there
    EXPECT_FALSE(waited.open());
    std::size_t written = 0;
    EXPECT_FALSE(waited.write("secret", 6, &written));
    PipeClient direct(name_);
    EXPECT_FALSE(direct.open());
    EXPECT_FALSE(direct.write("secret", 6, &written));
    waited.close();
    direct.close();

    ASSERT_TRUE(foreign.write_line("go"));
    EXPECT_EQ(foreign.exit_status(), 0) << "the other user's server received bytes (3) or no connection (5)";
}

}  // namespace
