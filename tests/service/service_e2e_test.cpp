// The real service program end to end, started in a product tree of its
// own with a private temporary directory and trace folder: its pid file,
// its answers to good and bad requests, what reaches the helper's journal,
// its trace, concurrent clients, and how it starts and ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pipe.h"
#include "service_runner.h"
#include "service_test_util.h"

namespace {

namespace fs = std::filesystem;
using service_test::exchange;
using service_test::join;
using service_test::journal_field;
using service_test::ops_line;
using service_test::read_lines;
using service_test::request;
using service_test::response;
using service_test::svc_line;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

// Generous limits that only keep a broken run from hanging; Wine starts
// processes slowly.
constexpr int kStartMs = 90000;
constexpr int kEndMs = 60000;

// One service started in its own tree and environment.
struct Started {
    service_test::ServiceEnvironment env;
    service_test::ProductTree tree;
    std::unique_ptr<service_test::Process> process;

    explicit Started(bool with_helper) : tree(with_helper) {}

    // Starts the program with the tree's root as its current directory.
    bool start() {
        process = service_test::start_process(tree.service_program(), tree.root());
        return process != nullptr;
    }
    bool serving() { return process && service_test::wait_until_serving(*process, env.pipe_name(), kStartMs); }
    std::string trace_file() const { return env.trace_file(process->pid()); }
    std::optional<std::string> send(const std::string &message) { return exchange(env.pipe_name(), message); }
};

// ---- one service shared by the cases that only talk to it -----------------

class ServingService : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared_ = new Started(true);
        // A stale pid file, longer than any real process id.
        kestrin_test::write_file(shared_->env.pid_file(), "4000000000");
        shared_ok_ = shared_->start() && shared_->serving();
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(shared_ok_) << "the shared service did not start serving"; }

    static Started &service() { return *shared_; }
    std::optional<std::string> send(const std::string &message) { return shared_->send(message); }
    std::size_t trace_size() const { return read_lines(shared_->trace_file()).size(); }
    std::size_t journal_size() const { return read_lines(shared_->env.journal_file()).size(); }
    std::vector<std::string> journal_since(std::size_t from) const {
        std::vector<std::string> lines = read_lines(shared_->env.journal_file());
        return std::vector<std::string>(lines.begin() + static_cast<long>(std::min(from, lines.size())), lines.end());
    }

    // A folder of client files: <work>/c with a.c and b.c in it.
    std::string client_dir() const {
        const std::string dir = join(work_.path(), "c");
        fs::create_directories(dir);
        kestrin_test::write_file(join(dir, "a.c"), "a");
        kestrin_test::write_file(join(dir, "b.c"), "b");
        return dir;
    }

    kestrin_test::TempDir work_{"work"};

private:
    static Started *shared_;
    static bool shared_ok_;
};

Started *ServingService::shared_ = nullptr;
bool ServingService::shared_ok_ = false;

// The stale pid file has been overwritten with the process id alone.
TEST_F(ServingService, PidFileHoldsTheProcessId) {
    const std::string text = kestrin_test::read_file(service().env.pid_file());
    EXPECT_EQ(text, std::to_string(service().process->pid()));
    EXPECT_TRUE(!text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }));
}

TEST_F(ServingService, NoOperationAnswersZero) {
    EXPECT_EQ(send(request("0", "", "")), response(0));
    EXPECT_EQ(send(request("0", "-anything at all", "not a folder")), response(0));
}

// Every kind of bad request is answered with 1, and the service goes on
// serving, also while another client holds its connection without writing.
TEST_F(ServingService, BadRequestsAreAnsweredWithOneWhileOthersAreServed) {
    const std::size_t before = trace_size();
    platform::PipeClient holder(service().env.pipe_name());
    ASSERT_TRUE(holder.wait(10000) && holder.open());
    const std::string cwd = client_dir();
    struct Case {
        const char *name;
        std::string message;
        const char *trace;  // in proc_req's scope, or null
    };
    const std::vector<Case> cases = {
        {"empty message", "", "Error in processing request"},
        {"no tags", "hello", "Error in processing request"},
        {"no request end", std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag,
         "Error in processing request"},
        {"op of letters", request("abc", "", cwd), "Error in processing op"},
        {"op out of range", request("2147483648", "", cwd), "Error in processing op"},
        {"no args", std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag + request_end_tag,
         "Error in processing args"},
        {"no cwd",
         std::string(request_start_tag) + op_id_start_tag + "2" + op_id_end_tag + args_start_tag + args_end_tag +
             request_end_tag,
         "Error in processing cwd"},
        {"unknown op 9", request("9", "", cwd), "Unknown operation called"},
        {"unknown op -1", request("-1", "", cwd), "Unknown operation called"},
        {"bad syntax", request("1", "-str", cwd), nullptr},
        {"vtree without operand", request("6", "-all", cwd), nullptr},
        {"history of a missing file", request("3", "missing.c", cwd), nullptr},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(send(k.message), response(1));
        EXPECT_EQ(send(request("0", "", "")), response(0));
        if (k.trace) {
            EXPECT_TRUE(service_test::wait_for_lines(service().trace_file(), before, {svc_line("proc_req", k.trace)}));
        }
    }
    // The held connection is still the service's to answer.
    const std::string ping = request("0", "", "");
    std::size_t written = 0;
    ASSERT_TRUE(holder.write(ping.data(), ping.size(), &written));
    char buf[256];
    std::size_t got = 0;
    ASSERT_TRUE(holder.read(buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), response(0));
}

// A client that connects and leaves without writing gets nothing; its
// worker traces the empty request, and the next client is served.
TEST_F(ServingService, ClientLeavingWithoutWritingIsDropped) {
    const std::size_t before = trace_size();
    {
        platform::PipeClient client(service().env.pipe_name());
        ASSERT_TRUE(client.wait(10000) && client.open());
    }
    EXPECT_TRUE(service_test::wait_for_lines(
        service().trace_file(), before,
        {svc_line("com_worker", "Entering"), svc_line("proc_req", "Error in processing request"),
         svc_line("com_worker", "Exiting")}));
    EXPECT_EQ(send(request("0", "", "")), response(0));
}

// What each operation hands to the helper, as its journal records it.
TEST_F(ServingService, JournalLinesOfEachOperation) {
    const std::string cwd = client_dir();
    const std::string a = journal_field(join(cwd, "a.c"));
    const std::string b = journal_field(join(cwd, "b.c"));
    const std::string c = journal_field(cwd);
    struct Case {
        const char *name;
        std::string op;
        std::string args;
        int result;
        std::vector<std::string> journal;
    };
    const std::vector<Case> cases = {
        {"deliver", "1", "-str s1", 0, {"deliver\t" + c}},
        {"find merge", "2", "", 0, {"find_merge"}},
        {"history without operands", "3", "", 0, {"history\t" + c}},
        {"history of two", "3", "a.c ../c/b.c", 0, {"history\t" + a, "history\t" + b}},
        {"rebase", "4", "-vie v1", 0, {"rebase\t" + c}},
        {"update without operands", "5", "", 0, {"update\t1\t" + c}},
        {"update of two", "5", "b.c ./a.c", 0, {"update\t2\t" + b + "\t" + a}},
        {"vtree", "6", "-all -nco a.c b.c", 0, {"vtree\t" + a + "\t3"}},
        {"vtree of a missing file", "6", "-nmerge x.c", 1, {"vtree\t" + journal_field(join(cwd, "x.c")) + "\t4"}},
        {"no operation", "0", "a.c", 0, {}},
        {"bad syntax", "3", "-bogus", 1, {}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        const std::size_t before = journal_size();
        EXPECT_EQ(send(request(k.op, k.args, cwd)), response(k.result));
        EXPECT_THAT(journal_since(before), ElementsAreArray(k.journal));
    }
}

// The start-up's trace, then one request's scopes in their order.
TEST_F(ServingService, TraceLines) {
    std::vector<std::string> lines = read_lines(service().trace_file());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], svc_line("main", "Entering"));
    EXPECT_EQ(lines[1], svc_line("main", "Initializing the helper process for : pikal"));
    EXPECT_EQ(lines[2], svc_line("com_worker", "Entering"));

    const std::string cwd = client_dir();
    const std::size_t before = lines.size();
    EXPECT_EQ(send(request("6", "a.c", cwd)), response(0));
    EXPECT_TRUE(service_test::wait_for_lines(
        service().trace_file(), before,
        {svc_line("com_worker", "Entering"), svc_line("proc_req", "Entering"), ops_line("vtree", "Entering"),
         ops_line("make_abs_pn", "Entering"), ops_line("make_abs_pn", "Exiting"), ops_line("vtree", "Exiting"),
         svc_line("proc_req", "Exiting"), svc_line("com_worker", "Exiting")}));
}

// Sixteen clients at once, each with a client cwd of its own: every
// operand is resolved against its own client's cwd. Each client sends a
// history request and an update request of many operands, so resolutions
// of different clients overlap.
TEST_F(ServingService, ConcurrentClientsWithDifferentCwds) {
    constexpr int kClients = 16;
    constexpr int kOperands = 300;
    std::vector<std::string> dirs, messages, expected;
    for (int i = 0; i < kClients; ++i) {
        dirs.push_back(join(work_.path(), "d" + std::to_string(i)));
        fs::create_directories(dirs.back());
        const std::string file = "f" + std::to_string(i) + ".c";
        kestrin_test::write_file(join(dirs.back(), file), "x");
        const std::string resolved = journal_field(join(dirs.back(), file));
        std::string operands, update_line = "update\t" + std::to_string(kOperands);
        for (int k = 0; k < kOperands; ++k) {
            operands += file + " ";
            update_line += "\t" + resolved;
        }
        messages.push_back(request("3", file, dirs.back()));
        expected.push_back("history\t" + resolved);
        messages.push_back(request("5", operands, dirs.back()));
        expected.push_back(update_line);
    }
    const std::size_t before = journal_size();
    std::vector<std::optional<std::string>> answers(messages.size());
    std::latch go(static_cast<std::ptrdiff_t>(messages.size()));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        threads.emplace_back([&, i] {
            go.arrive_and_wait();
            answers[i] = exchange(service().env.pipe_name(), messages[i], 120000);
        });
    }
    for (std::thread &t : threads) t.join();
    for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(answers[i], response(0)) << "request " << i;
    EXPECT_THAT(journal_since(before), UnorderedElementsAreArray(expected));
}

// ---- cases that start services of their own ------------------------------

// A product tree without the helper: the helper cannot be initialised, and
// the service ends with -1 after tracing why.
TEST(ServiceLifecycle, InitializeFailureEndsWithMinusOne) {
    Started s(false);
    ASSERT_TRUE(s.start());
    int status = 0;
    ASSERT_TRUE(s.process->wait_exit(kEndMs, &status));
    EXPECT_EQ(status, service_test::kFailureStatus);
    std::vector<std::string> lines = read_lines(s.trace_file());
    EXPECT_TRUE(service_test::contains_in_order(
        lines, {svc_line("main", "Entering"), svc_line("main", "Initializing the helper process for : pikal"),
                svc_line("main", "Initialize failed "), svc_line("main", "Exiting")}))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(kestrin_test::read_file(s.env.pid_file()), std::to_string(s.process->pid()));
}

// No usable temporary directory: the pid file cannot be written, and the
// service ends with -1 before it starts the helper.
TEST(ServiceLifecycle, PidFileFailureEndsWithMinusOne) {
    Started s(true);
    const std::string missing = join(s.tree.root(), "missing");
    for (const std::string &name : service_test::temp_dir_variables())
        service_test::set_env(name.c_str(), missing.c_str());
    ASSERT_TRUE(s.start());
    int status = 0;
    ASSERT_TRUE(s.process->wait_exit(kEndMs, &status));
    EXPECT_EQ(status, service_test::kFailureStatus);
    EXPECT_THAT(read_lines(s.trace_file()),
                ElementsAreArray({svc_line("main", "Entering"), svc_line("main", "create of lock file failed"),
                                  svc_line("main", "Exiting")}));
}

// The termination signal stops the helper and ends the service with 15,
// also while a client holds a connection.
TEST(ServiceLifecycle, TerminationSignalEndsWith15AndStopsTheHelper) {
    if (!service_test::kCanSendTerminationSignal)
        GTEST_SKIP() << "the termination signal cannot be sent to another process here";
    Started s(true);
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.serving());
    std::vector<int> helpers = service_test::child_processes(s.process->pid(), "gemx_helper");
    ASSERT_EQ(helpers.size(), 1u);
    platform::PipeClient holder(s.env.pipe_name());
    ASSERT_TRUE(holder.wait(10000) && holder.open());

    ASSERT_TRUE(s.process->terminate_signal());
    int status = 0;
    ASSERT_TRUE(s.process->wait_exit(kEndMs, &status));
    EXPECT_EQ(status, 15);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndMs);
    while (service_test::process_running(helpers[0]) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(service_test::process_running(helpers[0]));
    EXPECT_TRUE(service_test::contains_in_order(
        read_lines(s.trace_file()),
        {svc_line("cleanup", "Entering"), svc_line("cleanup", "Killing the helper gemx process"),
         svc_line("cleanup", "Killed the helper gemx process")}));
    // The held connection ends with the process.
    char buf[64];
    std::size_t got = 0;
    EXPECT_FALSE(holder.read(buf, sizeof buf, &got));
}

// A socket file left by a killed service is replaced by the next one.
TEST(ServiceLifecycle, StaleSocketFileIsReplaced) {
    if (!service_test::kPipeIsSocketFile) GTEST_SKIP() << "the pipe is no file here";
    Started s(true);
    ASSERT_TRUE(service_test::make_stale_socket(s.env.socket_file()));
    ASSERT_TRUE(s.start());
    EXPECT_TRUE(s.serving());
}

// A second service of the same user: on POSIX it cannot take the pipe and
// ends with -1 while the first goes on serving, and hands the pid file back
// to the first, so the bridge keeps finding the live one; on Windows it
// creates instances of the same pipe as well, serves once the first has
// gone, and the pid file names the one that started last.
TEST(ServiceLifecycle, SecondServiceOfTheSameUser) {
    Started first(true);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.serving());
    std::unique_ptr<service_test::Process> second =
        service_test::start_process(first.tree.service_program(), first.tree.root());
    ASSERT_TRUE(second);
    const std::string second_pid = std::to_string(second->pid());
    int status = 0;
    if (service_test::kPipeIsSocketFile) {
        ASSERT_TRUE(second->wait_exit(kEndMs, &status));
        EXPECT_EQ(status, service_test::kFailureStatus);
        EXPECT_TRUE(service_test::contains_in_order(read_lines(first.env.trace_file(second->pid())),
                                                    {svc_line("main", "Could not create launcher request pipe")}));
        EXPECT_EQ(kestrin_test::read_file(first.env.pid_file()), std::to_string(first.process->pid()));
        for (int i = 0; i < 4; ++i) EXPECT_EQ(first.send(request("0", "", "")), response(0));
        EXPECT_FALSE(first.process->wait_exit(0, &status));
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
        while (kestrin_test::read_file(first.env.pid_file()) != second_pid &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(kestrin_test::read_file(first.env.pid_file()), second_pid);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(first.send(request("0", "", "")), response(0));
        first.process->kill_hard();
        EXPECT_TRUE(service_test::wait_until_serving(*second, first.env.pipe_name(), kStartMs));
        EXPECT_FALSE(second->wait_exit(0, &status));
    }
}

}  // namespace
