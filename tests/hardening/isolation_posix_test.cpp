// One user's service and bridge against processes of another user, end to
// end with the real service program and the real bridge (through the gemx
// client of a product tree). The other user (uid 12345) is played by this
// program re-run as a child that drops to that uid (isolation_main_posix.cpp
// describes its roles), so these tests need root and skip without it.
//
// - A client of the other user reaches nothing while the modes stay as the
//   service made them, and once they are opened on purpose the service's
//   credential check still drops it unanswered, while the owner is served
//   before and after.
// - A socket of the other user planted at the service's socket path makes a
//   bridge call fail promptly without sending it a byte, and the service the
//   bridge launches ends instead of serving beside it.
// - A private temporary folder planted by the other user makes a bridge call
//   fail at once, before any service is launched, with nothing written there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "gemx_protocol.h"
#include "service_runner.h"
#include "service_test_util.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using service_test::request;
using service_test::response;

constexpr uid_t kOtherUid = 12345;

// Generous limits that only keep a broken run from hanging.
constexpr int kStartMs = 90000;
constexpr int kChildMs = 120000;
constexpr int kCallMs = 240000;  // past the bridge's 125 s of retries for a missing pipe
constexpr int kEndMs = 60000;

const char kBridgeTraceVariable[] = "KESTRIN_GEMXBRIDGE_TRACE_DIR";

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0.
int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits up to timeout_ms for child pid to end; its exit status, -<signal>
// when a signal ended it, or nullopt (the child killed and reaped) when it
// was still running.
std::optional<int> wait_child(pid_t pid, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int raw = 0;
        const pid_t got = ::waitpid(pid, &raw, WNOHANG);
        if (got == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
        if (got < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &raw, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// This program re-run as a process of the other user in one of the roles
// of isolation_main_posix.cpp; killed and reaped if it still runs when the
// object goes.
class OtherUser {
public:
    OtherUser(const std::string &role, const std::string &socket_path, const std::string &extra) {
        int to_child[2], from_child[2];
        if (::pipe2(to_child, O_CLOEXEC) != 0) return;
        if (::pipe2(from_child, O_CLOEXEC) != 0) {
            ::close(to_child[0]);
            ::close(to_child[1]);
            return;
        }
        const std::string self = kestrin_test::bin_dir() + "/test_isolation";
        const std::string uid = std::to_string(kOtherUid);
        std::vector<const char *> argv = {self.c_str(),        "--isolation-child", role.c_str(), uid.c_str(),
                                          socket_path.c_str(), extra.c_str(),       nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(to_child[0], 0);
            ::dup2(from_child[1], 1);
            ::execv(argv[0], const_cast<char *const *>(argv.data()));
            ::_exit(127);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        to_child_ = to_child[1];
        from_child_ = from_child[0];
    }
    ~OtherUser() {
        if (to_child_ >= 0) ::close(to_child_);
        if (from_child_ >= 0) ::close(from_child_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    OtherUser(const OtherUser &) = delete;
    OtherUser &operator=(const OtherUser &) = delete;

    bool started() const { return pid_ > 0; }

    // The child's next line of output without its newline; "" when none
    // came in time or the output ended.
    std::string read_line() {
        const auto deadline = Clock::now() + std::chrono::milliseconds(kChildMs);
        std::string line;
        for (;;) {
            pollfd p{from_child_, POLLIN, 0};
            if (::poll(&p, 1, remaining_ms(deadline)) <= 0) return "";
            char c;
            if (::read(from_child_, &c, 1) != 1) return "";
            if (c == '\n') return line;
            line += c;
        }
    }

    // Tells a listening child to stop.
    void stop() {
        if (to_child_ >= 0) ::close(to_child_);
        to_child_ = -1;
    }

    // The child's exit status; -1 when it did not end in time.
    int exit_status() {
        if (pid_ <= 0) return -1;
        const std::optional<int> status = wait_child(pid_, kChildMs);
        pid_ = -1;
        return status.value_or(-1);
    }

private:
    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
};

// A framed exchange made by hand on the socket file as this process (the
// owner), so the same bytes reach the service whatever the folder's mode.
// The answer text without its frame; nullopt when there is no connection
// or no whole answer.
std::optional<std::string> owner_exchange(const std::string &socket_path, const std::string &message) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path) return std::nullopt;
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    std::string wire(4, '\0');
    for (int i = 0; i < 4; ++i) wire[static_cast<std::size_t>(i)] = static_cast<char>((message.size() >> (8 * i)) & 0xff);
    wire += message;
    std::string got;
    bool sent = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    for (std::size_t done = 0; sent && done < wire.size();) {
        const ssize_t n = ::send(fd, wire.data() + done, wire.size() - done, MSG_NOSIGNAL);
        sent = n > 0;
        if (sent) done += static_cast<std::size_t>(n);
    }
    if (sent) {
        timeval guard{60, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!sent || got.size() < 4) return std::nullopt;
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<std::uint32_t>(static_cast<unsigned char>(got[static_cast<std::size_t>(i)])) << (8 * i);
    if (got.size() != 4 + static_cast<std::size_t>(length)) return std::nullopt;
    return got.substr(4);
}

// The ids of the running processes whose program file is one in folder.
std::vector<int> programs_running_from(const std::string &folder) {
    std::vector<int> found;
    std::error_code ec;
    const fs::path dir = fs::weakly_canonical(folder, ec);
    for (const fs::directory_entry &e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code link_ec;
        // The link of a process that has ended (a zombie) cannot be read.
        const fs::path exe = fs::read_symlink(e.path() / "exe", link_ec);
        if (!link_ec && exe.parent_path() == dir) found.push_back(std::atoi(name.c_str()));
    }
    return found;
}

// Waits up to timeout_ms until no program of folder runs; true when none do.
bool wait_until_none_run_from(const std::string &folder, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!programs_running_from(folder).empty()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The lines of every bridge trace log in dir.
std::vector<std::string> bridge_trace(const std::string &dir) {
    std::vector<std::string> lines;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(dir, ec)) {
        if (e.path().filename().string().rfind("gemxbridge_log_", 0) != 0) continue;
        for (std::string &line : service_test::read_lines(e.path().string())) lines.push_back(std::move(line));
    }
    return lines;
}

bool has_line(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool has_line_starting(const std::vector<std::string> &lines, const std::string &prefix) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; });
}

std::size_t count_lines(const std::vector<std::string> &lines, const std::string &line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// The names in dir; none when it cannot be read.
std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
    return names;
}

// A product tree with the service, its helper and the gemx client, in a
// private temporary directory of its own. Whatever the tree's programs
// still run when the test ends is stopped: services by the termination
// signal first, so they shut their helpers down.
class Isolation : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
        std::error_code ec;
        const fs::path gemx = fs::path(tree_.root()) / "bin" / "gemx";
        fs::copy_file(fs::path(kestrin_test::bin_dir()) / "gemx", gemx, ec);
        ASSERT_FALSE(ec) << ec.message();
        fs::permissions(gemx, fs::perms::owner_all, fs::perm_options::add);
        // The base of the private folder is open to passing through, as /tmp
        // is, so what stops the other user is the private folder or below.
        ASSERT_EQ(::chmod(tmpdir_base().c_str(), 0755), 0);
    }

    void TearDown() override {
        const std::string bin = tree_.root() + "/bin";
        for (int pid : programs_running_from(bin)) ::kill(pid, SIGTERM);
        if (!wait_until_none_run_from(bin, kEndMs)) {
            for (int pid : programs_running_from(bin)) ::kill(pid, SIGKILL);
            wait_until_none_run_from(bin, kEndMs);
        }
    }

    // TMPDIR as the service environment set it.
    static std::string tmpdir_base() {
        const char *value = std::getenv("TMPDIR");
        return value ? value : "";
    }

    // Runs the tree's gemx client with one operation 0 call and returns its
    // exit status (the result of invoke_gemx_ui), or -1 when it had to be
    // killed. The bridge traces into trace_dir when it is not empty. How
    // long the call took goes into the test's record as <label>_ms, for
    // reading, not for judging.
    int call_bridge(const std::string &label, const std::string &trace_dir) {
        const std::string program = tree_.root() + "/bin/gemx";
        std::vector<std::string> env;
        const std::string prefix = std::string(kBridgeTraceVariable) + "=";
        for (char **e = environ; *e; ++e)
            if (std::string(*e).rfind(prefix, 0) != 0) env.emplace_back(*e);
        if (!trace_dir.empty()) env.push_back(prefix + trace_dir);
        std::vector<char *> envp;
        for (std::string &s : env) envp.push_back(s.data());
        envp.push_back(nullptr);
        const char *argv[] = {program.c_str(), "noop", nullptr};
        const auto start = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execve(argv[0], const_cast<char *const *>(argv), envp.data());
            ::_exit(127);
        }
        if (pid < 0) return -1;
        const std::optional<int> status = wait_child(pid, kCallMs);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        RecordProperty(label + "_ms", std::to_string(elapsed.count()));
        return status.value_or(-1);
    }

    // The pid in the pid file of the private folder, 0 when there is none.
    int pid_in_file(const std::string &pid_file) const {
        return std::atoi(kestrin_test::read_file(pid_file).c_str());
    }

    service_test::ServiceEnvironment env_;
    service_test::ProductTree tree_{true};
    kestrin_test::TempDir bridge_traces_{"bridge-trace"};
};

// ---- a client of the other user -------------------------------------------

// The same well-formed operation 0 request for both users, so only who sends
// it differs. The cwd field is present, as the service requires.
std::string noop_request() { return request("0", "", ""); }

// With the modes as the service made them the other user cannot connect,
// and the first layer in its way decides: the private folder while it is
// 0700, the socket's 0600 once the folder lets others pass. Loosened on
// purpose, the socket lets it connect, and the service's credential check
// drops it without a byte of answer before any worker sees it. The owner is
// answered between every attempt, and the service goes on serving.
TEST_F(Isolation, ServiceAnswersItsOwnerAloneWhateverTheModesAllow) {
    const std::string folder = env_.user_tmpdir();
    const std::string socket_path = env_.socket_file();
    auto service = service_test::start_process(tree_.service_program(), tree_.root());
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(service_test::wait_until_serving(*service, env_.pipe_name(), kStartMs));

    struct stat st{};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::lstat(socket_path.c_str(), &st), 0);
    ASSERT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    const std::string message = noop_request();
    ASSERT_EQ(owner_exchange(socket_path, message), response(0));
    const std::string trace = env_.trace_file(service->pid());
    const std::string worker_start = service_test::svc_line("com_worker", "Entering");
    const std::size_t workers_before = count_lines(service_test::read_lines(trace), worker_start);

    struct Case {
        const char *name;
        mode_t folder_mode;
        mode_t socket_mode;
        const char *other_user_sees;
    };
    const Case cases[] = {
        {"modes as the service made them", 0700, 0600, "refused EACCES"},
        {"socket opened, the folder stops it", 0700, 0666, "refused EACCES"},
        {"folder opened, the socket's mode stops it", 0711, 0600, "refused EACCES"},
        {"both opened, the credential check drops it", 0711, 0666, "received 0 closed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
        ASSERT_EQ(::chmod(socket_path.c_str(), c.socket_mode), 0);
        OtherUser other("connect", socket_path, message);
        ASSERT_TRUE(other.started());
        EXPECT_EQ(other.read_line(), c.other_user_sees);
        EXPECT_EQ(other.exit_status(), 0);
        // The service finds its private folder anew for every instance it
        // makes after a connection, and ends once the folder has stopped
        // being private; so the owner is served with the modes as made.
        ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(socket_path.c_str(), 0600), 0);
        EXPECT_EQ(owner_exchange(socket_path, message), response(0));
    }
    // One worker for each of the owner's requests, none for the other user.
    EXPECT_EQ(count_lines(service_test::read_lines(trace), worker_start), workers_before + std::size(cases));

    // The owner's own pipe client is served too.
    EXPECT_EQ(service_test::exchange(env_.pipe_name(), message), response(0));
    int status = 0;
    EXPECT_FALSE(service->wait_exit(0, &status)) << "the service ended with " << status;
    EXPECT_TRUE(service->terminate_signal());
    EXPECT_TRUE(service->wait_exit(kEndMs, &status));
}

// ---- a socket of the other user at the service's path ----------------------

struct PlantedSocket {
    const char *name;
    // bind-first: bound as the owner (the file is the owner's) and listened
    // on as the other user; drop-first: the other user's own socket, linked
    // into the owner's private folder.
    const char *how;
};

void PrintTo(const PlantedSocket &p, std::ostream *os) { *os << p.name; }

class SocketOfAnotherUser : public Isolation, public testing::WithParamInterface<PlantedSocket> {};

// The bridge reaches the live listener, sees from its credentials that it is
// not the owner's service, and gives up: result 1, not a byte sent (how long
// the call took is in the test's record). The service it launched finds a live listener on its path, leaves
// it alone and ends; the pid file it wrote names no running process. Once
// the other user's listener is gone, the next call starts a service that
// replaces the stale socket and is answered.
TEST_P(SocketOfAnotherUser, BridgeCallFailsPromptlyAndSendsNothing) {
    const bool bind_first = std::string(GetParam().how) == "bind-first";
    env_.user_tmpdir();  // makes the private folder, 0700
    const std::string socket_path = env_.socket_file();
    const std::string theirs = tmpdir_base() + "/theirs";
    ASSERT_EQ(::mkdir(theirs.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0777), 0);
    const std::string listen_path = bind_first ? socket_path : theirs + "/sock";

    OtherUser other("listen", listen_path, GetParam().how);
    ASSERT_TRUE(other.started());
    ASSERT_EQ(other.read_line(), "ready");
    if (!bind_first) {
        ASSERT_EQ(::link(listen_path.c_str(), socket_path.c_str()), 0);
    }
    struct stat planted{};
    ASSERT_EQ(::lstat(socket_path.c_str(), &planted), 0);
    ASSERT_TRUE(S_ISSOCK(planted.st_mode));
    EXPECT_EQ(planted.st_uid, bind_first ? ::geteuid() : kOtherUid);

    EXPECT_EQ(call_bridge("refused_call", bridge_traces_.path()), 1);
    const std::vector<std::string> lines = bridge_trace(bridge_traces_.path());
    EXPECT_TRUE(has_line(lines, "gemxbridge::com_utils::send_data_win32::Unable to obtain pipe " + env_.pipe_name()));
    EXPECT_TRUE(has_line(lines, "gemxbridge::gemxbridge::invoke_gemx_ui::error in named pipe communication"));

    // The launched service ends on its own and leaves the listener's file.
    const std::string bin = tree_.root() + "/bin";
    EXPECT_TRUE(wait_until_none_run_from(bin, kEndMs));
    const int launched = pid_in_file(env_.pid_file());
    if (launched > 0) {
        EXPECT_FALSE(service_test::process_running(launched));
        EXPECT_TRUE(service_test::contains_in_order(service_test::read_lines(env_.trace_file(launched)),
                                                    {service_test::svc_line("main", "Could not create launcher request pipe")}));
    }
    struct stat after{};
    ASSERT_EQ(::lstat(socket_path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, planted.st_ino);

    other.stop();
    const std::string report = other.read_line();
    EXPECT_EQ(other.exit_status(), 0);
    long connections = -1, bytes = -1;
    std::string w1, w2;
    std::istringstream(report) >> w1 >> connections >> w2 >> bytes;
    ASSERT_EQ(w1, "connections") << report;
    EXPECT_GE(connections, 1) << "the bridge never reached the planted listener";
    EXPECT_EQ(bytes, 0) << "the other user's listener received bytes";

    EXPECT_EQ(call_bridge("call_after_it_went", ""), 0);
    const int serving = pid_in_file(env_.pid_file());
    EXPECT_TRUE(serving > 0 && serving != launched && service_test::process_running(serving));
}

INSTANTIATE_TEST_SUITE_P(Planted, SocketOfAnotherUser,
                         testing::Values(PlantedSocket{"linked_in_by_root", "drop-first"},
                                         PlantedSocket{"owners_file_other_users_listener", "bind-first"}),
                         [](const testing::TestParamInfo<PlantedSocket> &info) { return std::string(info.param.name); });

// ---- a private folder planted by the other user -----------------------------

struct PlantedFolder {
    const char *name;
    // Puts the other user's folder (or link) at private_dir; returns the
    // directory whose contents must stay untouched.
    std::string (*plant)(const std::string &private_dir, const std::string &spare);
};

void PrintTo(const PlantedFolder &p, std::ostream *os) { *os << p.name; }

// A directory of the other user with mode.
std::string their_directory(const std::string &path, mode_t mode) {
    EXPECT_EQ(::mkdir(path.c_str(), mode), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    EXPECT_EQ(::chown(path.c_str(), kOtherUid, kOtherUid), 0);
    return path;
}

class FolderOfAnotherUser : public Isolation, public testing::WithParamInterface<PlantedFolder> {};

// The bridge finds the private folder unsafe and gives up before launching a
// service or trying the pipe: result 1, nothing written in the folder, no
// service running, the folder left as it was.
TEST_P(FolderOfAnotherUser, BridgeCallFailsAtOnceAndWritesNothing) {
    const std::string private_dir = tmpdir_base() + "/kestrin-" + std::to_string(::geteuid());
    kestrin_test::TempDir spare("spare");
    const std::string watched = GetParam().plant(private_dir, spare.path());
    struct stat before{};
    ASSERT_EQ(::lstat(private_dir.c_str(), &before), 0);
    ASSERT_EQ(before.st_uid, kOtherUid);

    EXPECT_EQ(call_bridge("refused_call", bridge_traces_.path()), 1);
    const std::vector<std::string> lines = bridge_trace(bridge_traces_.path());
    EXPECT_TRUE(has_line(lines, "gemxbridge::process_utils::init_gemx_service::error occurred while launching gemx_service"));
    EXPECT_TRUE(has_line(lines, "gemxbridge::gemxbridge::invoke_gemx_ui::Unable to get hold of gemx_<client>_service"));
    EXPECT_FALSE(has_line_starting(lines, "gemxbridge::process_utils::create_lsp::")) << "a service was launched";
    EXPECT_FALSE(has_line_starting(lines, "gemxbridge::com_utils::send_data_win32::")) << "the pipe was tried";

    EXPECT_TRUE(names_in(watched).empty()) << testing::PrintToString(names_in(watched));
    EXPECT_TRUE(programs_running_from(tree_.root() + "/bin").empty());
    struct stat after{};
    ASSERT_EQ(::lstat(private_dir.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, kOtherUid);
    EXPECT_EQ(after.st_mode, before.st_mode);
}

INSTANTIATE_TEST_SUITE_P(
    Planted, FolderOfAnotherUser,
    testing::Values(
        PlantedFolder{"directory_open_to_all",
                      [](const std::string &dir, const std::string &) { return their_directory(dir, 0777); }},
        PlantedFolder{"directory_private_to_them",
                      [](const std::string &dir, const std::string &) { return their_directory(dir, 0700); }},
        PlantedFolder{"symlink_to_their_directory",
                      [](const std::string &dir, const std::string &spare) {
                          const std::string target = their_directory(spare + "/theirs", 0777);
                          EXPECT_EQ(::symlink(target.c_str(), dir.c_str()), 0);
                          EXPECT_EQ(::lchown(dir.c_str(), kOtherUid, kOtherUid), 0);
                          return target;
                      }}),
    [](const testing::TestParamInfo<PlantedFolder> &info) { return std::string(info.param.name); });

}  // namespace
