// The real service program under faults: clients that misbehave in every
// way a socket allows while well-behaved clients go on being served, a
// helper killed while the service runs, and a service killed while a
// client waits for its answer, after which a new service takes over the
// stale pid file and socket.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service_runner.h"
#include "service_test_util.h"

namespace {

using service_test::exchange;
using service_test::join;
using service_test::request;
using service_test::response;

// Generous limits that only keep a broken run from hanging.
constexpr int kStartMs = 90000;

// The largest request the service keeps (16 MiB).
constexpr std::size_t kRequestLimitForTests = 16u * 1024u * 1024u;

// A connection to the service's socket made by hand, so a client can send
// what the pipe layer never would: part of a frame, two frames, a length
// that promises more than comes.
class RawClient {
public:
    explicit RawClient(const std::string &socket_path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (fd_ < 0 || socket_path.size() >= sizeof addr.sun_path) return;
        std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) close();
    }
    ~RawClient() { close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Writes all of bytes; false once the service has closed its end.
    bool send(const std::string &bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Everything the service writes until it closes the connection.
    std::string receive_all() {
        timeval limit{60, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::string got;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
        return got;
    }

private:
    int fd_ = -1;
};

// A message framed as the POSIX pipe frames it: 4-byte little-endian length.
std::string frame_header(std::uint32_t length) {
    std::string h(4, '\0');
    for (int i = 0; i < 4; ++i) h[i] = static_cast<char>((length >> (8 * i)) & 0xff);
    return h;
}
std::string framed(const std::string &message) {
    return frame_header(static_cast<std::uint32_t>(message.size())) + message;
}

// The answer text inside a frame as the service writes it.
std::string unframed(const std::string &bytes) { return bytes.size() >= 4 ? bytes.substr(4) : std::string(); }

// One service started in its own tree and environment.
struct Started {
    service_test::ServiceEnvironment env;
    service_test::ProductTree tree{true};
    std::unique_ptr<service_test::Process> process;

    bool start() {
        process = service_test::start_process(tree.service_program(), tree.root());
        return process != nullptr && service_test::wait_until_serving(*process, env.pipe_name(), kStartMs);
    }
    std::optional<std::string> send(const std::string &message) { return exchange(env.pipe_name(), message); }
};

class ServiceFaults : public ::testing::Test {
protected:
    void SetUp() override {
        kestrin_test::write_file(join(work_.path(), "a.c"), "a");
        ASSERT_TRUE(s_.start()) << "the service did not start serving";
    }
    std::string noop() const { return request("0", "", ""); }
    std::string history() const { return request("3", "a.c", work_.path()); }

    kestrin_test::TempDir work_{"work"};
    Started s_;
};

// Each misbehaving client, left as it is while well-behaved clients are
// served; clients that keep their connection are closed only at the end.
TEST_F(ServiceFaults, MisbehavingClientsDoNotStopWellBehavedOnes) {
    struct Case {
        const char *name;
        std::function<void(RawClient &)> act;
    };
    const std::string big(kRequestLimitForTests, 'x');
    const std::vector<Case> cases = {
        {"connects and closes without writing", [](RawClient &c) { c.close(); }},
        {"closes in the middle of the length", [](RawClient &c) { c.send(std::string(2, '\x10')); c.close(); }},
        {"closes in the middle of the request",
         [this](RawClient &c) {
             const std::string m = history();
             c.send(frame_header(static_cast<std::uint32_t>(m.size())) + m.substr(0, m.size() / 2));
             c.close();
         }},
        {"promises more than it sends and waits",
         [](RawClient &c) { c.send(frame_header(1000) + "<request_start>"); }},
        {"promises 4 GiB", [](RawClient &c) { c.send(frame_header(0xffffffffu) + "garbage"); }},
        {"sends garbage and closes", [](RawClient &c) { c.send(std::string("\x07\0\0\0\xff\xfe\x00\x01zz\n", 11)); c.close(); }},
        {"sends two messages and never reads",
         [this](RawClient &c) { c.send(framed(noop()) + framed(history())); }},
        {"sends a request and never reads", [this](RawClient &c) { c.send(framed(history())); }},
        {"sends more than 16 MiB", [&big](RawClient &c) { c.send(frame_header(static_cast<std::uint32_t>(big.size() + 1)) + big + "y"); }},
    };
    std::vector<std::unique_ptr<RawClient>> kept;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        auto client = std::make_unique<RawClient>(s_.env.socket_file());
        ASSERT_TRUE(client->connected());
        k.act(*client);
        EXPECT_EQ(s_.send(noop()), response(0));
        EXPECT_EQ(s_.send(history()), response(0));
        kept.push_back(std::move(client));
    }
    EXPECT_TRUE(service_test::process_running(s_.process->pid()));
}

// Two messages on one connection: the first is answered, the second is
// not read, and the connection ends.
TEST_F(ServiceFaults, SecondMessageOnOneConnectionIsNotAnswered) {
    RawClient c(s_.env.socket_file());
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.send(framed(noop()) + framed(request("9", "", ""))));
    EXPECT_EQ(unframed(c.receive_all()), response(0));
}

// A request over 16 MiB is answered with 1 (or its connection is cut while
// the rest is being written), and the service goes on serving.
TEST_F(ServiceFaults, OversizeRequestIsRefused) {
    RawClient c(s_.env.socket_file());
    ASSERT_TRUE(c.connected());
    const std::string message(kRequestLimitForTests + 1, 'z');
    if (c.send(framed(message))) {
        const std::string answer = c.receive_all();
        if (!answer.empty()) {
            EXPECT_EQ(unframed(answer), response(1));
        }
    }
    EXPECT_EQ(s_.send(noop()), response(0));
}

// With its helper killed the service answers every operation with 1 and
// goes on serving what needs no helper.
TEST_F(ServiceFaults, HelperKilledWhileTheServiceRuns) {
    const std::vector<int> helpers = service_test::child_processes(s_.process->pid(), "gemx_helper");
    ASSERT_EQ(helpers.size(), 1u);
    ASSERT_EQ(::kill(helpers[0], SIGKILL), 0);
    for (int i = 0; i < 200 && service_test::process_running(helpers[0]); ++i) ::usleep(10000);
    const std::string cwd = work_.path();
    for (const std::string &op : {request("1", "", cwd), request("2", "", cwd), history(), request("4", "", cwd),
                                  request("5", "a.c", cwd), request("6", "a.c", cwd)}) {
        SCOPED_TRACE(op);
        EXPECT_EQ(s_.send(op), response(1));
        EXPECT_EQ(s_.send(noop()), response(0));
    }
    EXPECT_TRUE(service_test::process_running(s_.process->pid()));
}

// A service killed while a client waits for its answer: the client gets
// no answer, and a new service started beside the stale pid file and
// socket takes them over and serves.
TEST_F(ServiceFaults, ServiceKilledWhileAClientWaits) {
    const std::vector<int> helpers = service_test::child_processes(s_.process->pid(), "gemx_helper");
    RawClient waiting(s_.env.socket_file());
    ASSERT_TRUE(waiting.connected());
    ASSERT_TRUE(waiting.send(frame_header(1000) + "<request_start>"));
    s_.process->kill_hard();
    EXPECT_EQ(waiting.receive_all(), "");
    EXPECT_EQ(exchange(s_.env.pipe_name(), noop(), 1000), std::nullopt);
    // The helper ends by itself once its input ends with the service.
    for (int pid : helpers) {
        for (int i = 0; i < 3000 && service_test::process_running(pid); ++i) ::usleep(10000);
        EXPECT_FALSE(service_test::process_running(pid));
    }
    ASSERT_TRUE(s_.start());
    EXPECT_EQ(kestrin_test::read_file(s_.env.pid_file()), std::to_string(s_.process->pid()));
    EXPECT_EQ(s_.send(history()), response(0));
}

// ---- a private temporary directory made unsafe --------------------------

// How the user's private temporary directory is made unsafe; the folder
// whose contents must stay untouched is returned.
struct UnsafeTmp {
    const char *name;
    std::string (*make)(const std::string &private_dir, const std::string &spare);
};

void PrintTo(const UnsafeTmp &u, std::ostream *os) { *os << u.name; }

std::string chmod_to(const std::string &dir, mode_t mode) {
    EXPECT_EQ(::chmod(dir.c_str(), mode), 0);
    return dir;
}

class UnsafePrivateTmp : public ::testing::TestWithParam<UnsafeTmp> {};

// The service refuses the directory: it writes no pid file, socket or
// journal there (nor where a link in its place points), starts no helper
// and ends with -1.
TEST_P(UnsafePrivateTmp, ServiceWritesNothingThereAndEndsWithMinusOne) {
    namespace fs = std::filesystem;
    Started s;
    kestrin_test::TempDir spare("spare");
    const std::string private_dir = s.env.user_tmpdir();  // made 0700 by this first call
    ASSERT_FALSE(private_dir.empty());
    const std::string watched = GetParam().make(private_dir, spare.path());
    s.process = service_test::start_process(s.tree.service_program(), s.tree.root());
    ASSERT_NE(s.process, nullptr);
    int status = 0;
    ASSERT_TRUE(s.process->wait_exit(60000, &status));
    EXPECT_EQ(status, service_test::kFailureStatus);
    EXPECT_TRUE(service_test::child_processes(s.process->pid(), "gemx_helper").empty());
    std::vector<std::string> names;
    for (const fs::directory_entry &e : fs::directory_iterator(watched)) names.push_back(e.path().filename());
    EXPECT_TRUE(names.empty()) << ::testing::PrintToString(names);
    ::chmod(watched.c_str(), 0700);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, UnsafePrivateTmp,
    ::testing::Values(
        UnsafeTmp{"symlink_to_a_private_directory",
                  [](const std::string &dir, const std::string &spare) {
                      const std::string real = join(spare, "real");
                      EXPECT_EQ(::mkdir(real.c_str(), 0700), 0);
                      EXPECT_EQ(::rmdir(dir.c_str()), 0);
                      EXPECT_EQ(::symlink(real.c_str(), dir.c_str()), 0);
                      return real;
                  }},
        UnsafeTmp{"group_writable", [](const std::string &dir, const std::string &) { return chmod_to(dir, 0770); }},
        UnsafeTmp{"world_writable", [](const std::string &dir, const std::string &) { return chmod_to(dir, 0707); }},
        UnsafeTmp{"world_writable_sticky",
                  [](const std::string &dir, const std::string &) { return chmod_to(dir, 01777); }}),
    [](const ::testing::TestParamInfo<UnsafeTmp> &info) { return std::string(info.param.name); });

// ---- the bridge after a killed service ---------------------------------------

// The gemx client of the tree, started with one operation word.
pid_t start_client(const std::string &tree, const std::string &operation) {
    const std::string program = join(join(tree, "bin"), "gemx");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), operation.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// The client's exit status, which is the result of invoke_gemx_ui.
int client_result(pid_t pid) {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True once process pid holds a socket, which the bridge makes only to
// reach a service it has found running.
bool holds_a_socket(pid_t pid) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const fs::directory_entry &e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const fs::path target = fs::read_symlink(e.path(), ec);
        if (!ec && target.string().rfind("socket:", 0) == 0) return true;
    }
    return false;
}

// A service killed in the middle of a call: that call answers 1; the next
// call finds the stale pid file and socket, starts a new service and
// succeeds.
TEST(BridgeAfterAKilledService, CallInProgressFailsAndTheNextStartsANewService) {
    namespace fs = std::filesystem;
    Started s;
    std::error_code ec;
    fs::copy_file(fs::path(kestrin_test::bin_dir()) / "gemx", fs::path(s.tree.root()) / "bin" / "gemx", ec);
    ASSERT_FALSE(ec) << ec.message();
    fs::permissions(fs::path(s.tree.root()) / "bin" / "gemx", fs::perms::owner_all, fs::perm_options::add);
    ASSERT_TRUE(s.start());
    const int old_pid = s.process->pid();
    // Stopped, the service takes the connection but never answers, so the
    // call is surely in progress when the service is killed.
    ASSERT_EQ(::kill(old_pid, SIGSTOP), 0);
    const pid_t client = start_client(s.tree.root(), "noop");
    ASSERT_GT(client, 0);
    for (int i = 0; i < 3000 && !holds_a_socket(client); ++i) ::usleep(10000);
    s.process->kill_hard();
    EXPECT_EQ(client_result(client), 1);

    EXPECT_EQ(client_result(start_client(s.tree.root(), "noop")), 0);
    const std::string text = kestrin_test::read_file(s.env.pid_file());
    const int new_pid = std::atoi(text.c_str());
    EXPECT_GT(new_pid, 0);
    EXPECT_NE(new_pid, old_pid);
    if (new_pid > 0 && new_pid != old_pid) {
        EXPECT_EQ(s.send(request("0", "", "")), response(0));
        ::kill(new_pid, SIGTERM);
        for (int i = 0; i < 3000 && service_test::process_running(new_pid); ++i) ::usleep(10000);
        if (service_test::process_running(new_pid)) ::kill(new_pid, SIGKILL);
    }
}

}  // namespace
