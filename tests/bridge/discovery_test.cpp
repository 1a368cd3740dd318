// Service discovery and launch. The pid file and the process it names are
// real: bridge_probe runs the bridge's code inside temporary product trees,
// where a copy of the probe stands in for the service program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "files.h"
#include "gemx_protocol.h"
#include "processes.h"
#include "product_tree.h"
#include "test_common.h"
#include "trace_fixture.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace {

using bridge_test::PrivateTempDir;
using bridge_test::ProductTree;
using bridge_test::RunResult;
using bridge_test::value_of;
using kestrin_test::separator;
using kestrin_test::TempDir;

// Process ids that no process has: beyond Linux's largest pid and a
// multiple of 4, as Windows ids are.
const int kNoSuchPid = 2147483644;

const std::string kInit = "gemxbridge::process_utils::init_gemx_service::";
const std::string kCheck = "gemxbridge::process_utils::gemx_ser_proc_check::";
const std::string kExists = "gemxbridge::process_utils::proc_exists::";
const std::string kCreate = "gemxbridge::process_utils::create_lsp::";
const std::string kInvoke = "gemxbridge::gemxbridge::invoke_gemx_ui::";

bool posix_paths() { return platform::kPathSeparator == '/'; }

// The trace of an init_gemx_service that found the service running.
std::vector<std::string> found_trace() {
    return {kInit + "Entering",  kCheck + "Entering", kExists + "Entering", kExists + "Exiting",
            kCheck + "Exiting", kInit + "Exiting"};
}

// The trace of an init_gemx_service that launched the service, the pid file
// naming a process (with_pid) or not.
std::vector<std::string> launch_trace(bool with_pid) {
    std::vector<std::string> lines{kInit + "Entering", kCheck + "Entering"};
    if (with_pid) lines.insert(lines.end(), {kExists + "Entering", kExists + "Exiting"});
    lines.insert(lines.end(), {kCheck + "Exiting", kInit + "gemx_service not found; launching...", kCreate + "Entering",
                               kCreate + "Exiting", kInit + "Exiting"});
    return lines;
}

// ---- in-process parts ----------------------------------------------------

struct PathCase {
    const char *name;
    std::string a;
    std::string b;
    bool same;
};

// Cases show by name in test listings.
void PrintTo(const PathCase &c, std::ostream *os) { *os << c.name; }

class BridgeImagePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(BridgeImagePath, IgnoresOnlyTheCaseOfAsciiLetters) {
    EXPECT_EQ(same_image_path(GetParam().a, GetParam().b), GetParam().same);
    EXPECT_EQ(same_image_path(GetParam().b, GetParam().a), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeImagePath,
    ::testing::Values(
        PathCase{"equal", "C:\\k\\bin\\gemx_pkl_service.exe", "C:\\k\\bin\\gemx_pkl_service.exe", true},
        PathCase{"case_differs", "C:\\Kestrin\\BIN\\Gemx_Pkl_Service.EXE", "c:\\kestrin\\bin\\gemx_pkl_service.exe",
                 true},
        PathCase{"posix_case_differs", "/opt/K/bin/gemx_pkl_service", "/opt/k/BIN/gemx_pkl_service", true},
        PathCase{"other_program", "C:\\k\\bin\\gemx_pkl_service.exe", "C:\\k\\bin\\gemx_helper.exe", false},
        PathCase{"prefix_only", "C:\\k\\bin\\gemx_pkl_service", "C:\\k\\bin\\gemx_pkl_service.exe", false},
        PathCase{"other_installation", "C:\\k1\\bin\\gemx_pkl_service.exe", "C:\\k2\\bin\\gemx_pkl_service.exe", false},
        PathCase{"non_ascii_case", "C:\\\xC4\\s.exe", "C:\\\xE4\\s.exe", false},
        PathCase{"letter_and_symbol", "C:\\a[", "C:\\A{", false},
        PathCase{"empty_and_not", "", "C:\\s.exe", false}),
    [](const ::testing::TestParamInfo<PathCase> &info) { return std::string(info.param.name); });

TEST(BridgeServiceNames, AreFixedForEveryClientKind) {
    const std::string bin = kestrin_test::product_dir() + separator() + "bin" + separator();
    EXPECT_EQ(service_exe_suffix(), std::string(1, separator()) + "bin" + separator() + "gemx_pkl_service" +
                                        platform::kExeSuffix);
    EXPECT_TRUE(same_image_path(platform::comparable_image_path(service_exe_path()),
                                platform::comparable_image_path(bin + "gemx_pkl_service" + platform::kExeSuffix)))
        << service_exe_path();
    EXPECT_EQ(service_pid_file_name(), "gemx_pkl_service.pid");
}

TEST(BridgeProcExists, RefusesProcessesThatAreNotTheService) {
    EXPECT_FALSE(proc_exists(platform::current_pid()));
    EXPECT_FALSE(proc_exists(0));
    EXPECT_FALSE(proc_exists(-1));
    EXPECT_FALSE(proc_exists(kNoSuchPid));
}

// ---- a stand-in service running from a temporary tree ----------------------

// Stops, when it goes, every process that runs a program of a tree: the
// stand-ins that a test launched.
class StopsProcessesUnder {
public:
    explicit StopsProcessesUnder(std::string dir) : dir_(std::move(dir)) {}
    ~StopsProcessesUnder() {
        for (int pid : bridge_test::processes_running_from(dir_)) bridge_test::stop_process(pid);
    }
    StopsProcessesUnder(const StopsProcessesUnder &) = delete;
    StopsProcessesUnder &operator=(const StopsProcessesUnder &) = delete;

private:
    std::string dir_;
};

class BridgeDiscovery : public ::testing::Test {
protected:
    // One stand-in service for the whole suite, started from its own tree
    // with a temporary directory of its own.
    static void SetUpTestSuite() {
        tree_ = new ProductTree(ProductTree::Service::stand_in);
        suite_tmp_ = new TempDir("suite");
        std::vector<std::unique_ptr<bridge_test::ScopedEnv>> more;
        for (const std::string &var : bridge_test::temp_dir_variables()) {
            more.push_back(std::make_unique<bridge_test::ScopedEnv>(var.c_str(), suite_tmp_->path().c_str()));
        }
        char dir[1024] = {0};
        fileutl_get_tmpdir(0, dir, 1023, 0);
        const std::string pid_file = std::string(dir) + separator() + pid_file_name;
        if (tree_->ready() && platform::launch_hidden(tree_->service())) {
            bridge_test::wait_until([&] { return bridge_test::pid_from_file(pid_file) > 0; });
            service_pid_ = bridge_test::pid_from_file(pid_file);
        }
    }
    static void TearDownTestSuite() {
        bridge_test::stop_process(service_pid_);
        if (tree_) {
            StopsProcessesUnder stop(tree_->root());
        }
        delete tree_;
        delete suite_tmp_;
        tree_ = nullptr;
        suite_tmp_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(tree_->ready());
        ASSERT_GT(service_pid_, 0) << "the stand-in service did not start";
    }

    std::string check(const ProductTree &tree) { return value_of(tree.run_probe({"check"}).out, "check"); }

    static ProductTree *tree_;
    static TempDir *suite_tmp_;
    static int service_pid_;
    PrivateTempDir temp_;
    TempDir trace_{"trace"};
};

ProductTree *BridgeDiscovery::tree_ = nullptr;
TempDir *BridgeDiscovery::suite_tmp_ = nullptr;
int BridgeDiscovery::service_pid_ = 0;

// What the pid file holds, made from the stand-in's pid and the test's own.
struct PidFileCase {
    const char *name;
    std::string (*content)(int service_pid);  // null: no pid file
    bool running;
};

// Cases show by name in test listings.
void PrintTo(const PidFileCase &c, std::ostream *os) { *os << c.name; }

class BridgePidFile : public BridgeDiscovery, public ::testing::WithParamInterface<PidFileCase> {};

// The service counts as running only when the pid file begins with a
// number that names a live process of this tree's service program.
TEST_P(BridgePidFile, DecidesWhetherTheServiceRuns) {
    const PidFileCase &c = GetParam();
    if (c.content) {
        ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), c.content(service_pid_)));
    }
    RunResult run = tree_->run_probe({"check"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(value_of(run.out, "check"), c.running ? "1" : "0") << run.out << run.err;
}

std::string pid_text(int pid) { return std::to_string(pid); }

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgePidFile,
    ::testing::Values(
        PidFileCase{"no_file", nullptr, false}, PidFileCase{"empty", [](int) { return std::string(); }, false},
        PidFileCase{"garbage", [](int) { return std::string("garbage\n"); }, false},
        PidFileCase{"service", [](int pid) { return pid_text(pid); }, true},
        PidFileCase{"blank_pid_newline", [](int pid) { return " " + pid_text(pid) + "\n"; }, true},
        PidFileCase{"white_space_sign_trailing_text", [](int pid) { return "\t\r\n +" + pid_text(pid) + "x 7"; },
                    true},
        PidFileCase{"another_program", [](int) { return pid_text(platform::current_pid()); }, false},
        PidFileCase{"no_such_process", [](int) { return pid_text(kNoSuchPid); }, false},
        PidFileCase{"zero", [](int) { return std::string("0"); }, false},
        PidFileCase{"negative", [](int pid) { return "-" + pid_text(pid); }, false},
        PidFileCase{"out_of_range", [](int) { return std::string("99999999999"); }, false},
        PidFileCase{"number_within_4096_bytes", [](int pid) { return std::string(4000, ' ') + pid_text(pid); },
                    true},
        PidFileCase{"number_beyond_4096_bytes", [](int pid) { return std::string(4096, ' ') + pid_text(pid); },
                    false}),
    [](const ::testing::TestParamInfo<PidFileCase> &info) { return std::string(info.param.name); });

// A pid file that is a directory cannot be read as one.
TEST_F(BridgeDiscovery, PidFileThatIsADirectoryDoesNotCount) {
    fs::create_directory(temp_.file(pid_file_name));
    EXPECT_EQ(check(*tree_), "0");
}

// The same program running from another installation is not this
// installation's service.
TEST_F(BridgeDiscovery, ServiceOfAnotherInstallationDoesNotCount) {
    ProductTree other(ProductTree::Service::stand_in);
    ASSERT_TRUE(other.ready());
    ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), pid_text(service_pid_)));
    EXPECT_EQ(check(other), "0");
    EXPECT_EQ(check(*tree_), "1");
}

// No pid file: one launch of the service program, no handle or child kept;
// the service writes its pid file, and the next call finds it and starts
// nothing more.
TEST_F(BridgeDiscovery, LaunchesTheServiceOnceAndThenFindsIt) {
    ProductTree tree(ProductTree::Service::stand_in);
    StopsProcessesUnder stop(tree.root());
    ASSERT_TRUE(tree.ready());
    TempDir first_trace("trace1"), second_trace("trace2");

    RunResult first = tree.run_probe({"init", "7"}, first_trace.path());
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(value_of(first.out, "init"), "1") << first.out << first.err;
    EXPECT_EQ(value_of(first.out, "kind"), "7");
    EXPECT_EQ(value_of(first.out, "handles_after"), value_of(first.out, "handles_before"));
    EXPECT_EQ(value_of(first.out, "children"), "0");
    EXPECT_EQ(bridge_test::trace_lines(first_trace.path()), launch_trace(false));

    ASSERT_TRUE(bridge_test::wait_until([&] { return bridge_test::pid_from_file(temp_.file(pid_file_name)) > 0; }));
    const int pid = bridge_test::pid_from_file(temp_.file(pid_file_name));
    EXPECT_TRUE(bridge_test::process_running(pid));

    RunResult second = tree.run_probe({"init", "-3"}, second_trace.path());
    EXPECT_EQ(value_of(second.out, "init"), "1") << second.out << second.err;
    EXPECT_EQ(value_of(second.out, "kind"), "-3");
    EXPECT_EQ(bridge_test::trace_lines(second_trace.path()), found_trace());
    EXPECT_EQ(bridge_test::processes_running_from(tree.root()), std::vector<int>{pid});
}

// A pid file that names a live process of another program (the id was
// reused) leads to a launch.
TEST_F(BridgeDiscovery, PidOfAnotherProgramLeadsToALaunch) {
    ProductTree tree(ProductTree::Service::stand_in);
    StopsProcessesUnder stop(tree.root());
    ASSERT_TRUE(tree.ready());
    const std::string own = pid_text(platform::current_pid());
    ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), own));

    RunResult run = tree.run_probe({"init"}, trace_.path());
    EXPECT_EQ(value_of(run.out, "init"), "1") << run.out << run.err;
    EXPECT_EQ(bridge_test::trace_lines(trace_.path()), launch_trace(true));
    ASSERT_TRUE(bridge_test::wait_until([&] { return kestrin_test::read_file(temp_.file(pid_file_name)) != own; }));
    EXPECT_EQ(check(tree), "1");
}

// A service that runs but offers no pipe: the client waits out its 25
// attempts (without pauses here), and the export reports the failed
// exchange after the client's own message.
TEST_F(BridgeDiscovery, ServiceWithoutItsPipeFailsTheExchange) {
    ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), pid_text(service_pid_)));
    RunResult run = tree_->run_probe({"invoke", "--no-pause", "6", "a.c"}, trace_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(value_of(run.out, "result"), "1") << run.out << run.err;
    const std::string send = "gemxbridge::com_utils::send_data_win32::";
    const std::string construct = "gemxbridge::gemxbridge::construct_request::";
    std::vector<std::string> expected{kInvoke + "Entering"};
    std::vector<std::string> init = found_trace();
    expected.insert(expected.end(), init.begin(), init.end());
    expected.insert(expected.end(),
                    {construct + "Entering", construct + "Exiting", send + "Entering",
                     send + "Unable to obtain pipe " + service_pipe_name(pipe_base_name, sysutl_myloginname()),
                     send + "Exiting", kInvoke + "error in named pipe communication"});
    EXPECT_EQ(bridge_test::trace_lines(trace_.path()), expected);
}

// ---- a service program that cannot be started ------------------------------

struct BrokenCase {
    const char *name;
    ProductTree::Service service;
};

// Cases show by name in test listings.
void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }

class BridgeBrokenService : public BridgeDiscovery, public ::testing::WithParamInterface<BrokenCase> {};

// Both messages, false, and no process left behind.
TEST_P(BridgeBrokenService, InitReportsTheFailedLaunch) {
    ProductTree tree(GetParam().service);
    StopsProcessesUnder stop(tree.root());
    ASSERT_TRUE(tree.ready());
    RunResult run = tree.run_probe({"init"}, trace_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(value_of(run.out, "init"), "0") << run.out << run.err;
    EXPECT_EQ(value_of(run.out, "children"), "0");
    EXPECT_EQ(value_of(run.out, "handles_after"), value_of(run.out, "handles_before"));
    std::vector<std::string> expected = launch_trace(false);
    expected.insert(expected.end() - 1, kInit + "error occurred while launching gemx_service");
    EXPECT_EQ(bridge_test::trace_lines(trace_.path()), expected);
    EXPECT_TRUE(bridge_test::processes_running_from(tree.root()).empty());
}

// The export gives up at once with 1, before any pipe is looked for.
TEST_P(BridgeBrokenService, InvokeReturnsOneWithoutTouchingThePipe) {
    ProductTree tree(GetParam().service);
    ASSERT_TRUE(tree.ready());
    RunResult run = tree.run_probe({"invoke", "6", "a.c"}, trace_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(value_of(run.out, "result"), "1") << run.out << run.err;
    std::vector<std::string> expected{kInvoke + "Entering"};
    std::vector<std::string> init = launch_trace(false);
    init.insert(init.end() - 1, kInit + "error occurred while launching gemx_service");
    expected.insert(expected.end(), init.begin(), init.end());
    expected.push_back(kInvoke + "Unable to get hold of gemx_<client>_service");
    EXPECT_EQ(bridge_test::trace_lines(trace_.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, BridgeBrokenService,
                         ::testing::Values(BrokenCase{"missing", ProductTree::Service::none},
                                           BrokenCase{"not_a_program", ProductTree::Service::not_a_program}),
                         [](const ::testing::TestParamInfo<BrokenCase> &info) { return std::string(info.param.name); });

// POSIX: a private temporary folder that fails its safety check (here
// opened to the group) can hold neither pid file nor pipe. The call fails
// at once with both launch messages, instead of starting a service that
// ends at once and then waiting minutes for its pipe.
TEST_F(BridgeDiscovery, UnsafePrivateFolderFailsTheCallWithoutALaunch) {
    if (!posix_paths()) GTEST_SKIP() << "the folder's safety check is a POSIX one";
    ProductTree tree(ProductTree::Service::stand_in);
    StopsProcessesUnder stop(tree.root());
    ASSERT_TRUE(tree.ready());
    const std::string folder = temp_.user_dir();
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_all, ec);
    ASSERT_FALSE(ec) << ec.message();
    struct Restore {
        std::string path;
        ~Restore() {
            std::error_code ignored;
            fs::permissions(path, fs::perms::owner_all, ignored);
        }
    } restore{folder};

    RunResult run = tree.run_probe({"invoke", "0", ""}, trace_.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(value_of(run.out, "result"), "1") << run.out << run.err;
    std::vector<std::string> expected{kInvoke + "Entering", kInit + "Entering", kCheck + "Entering",
                                      kCheck + "Exiting", kInit + "gemx_service not found; launching...",
                                      kInit + "error occurred while launching gemx_service", kInit + "Exiting",
                                      kInvoke + "Unable to get hold of gemx_<client>_service"};
    EXPECT_EQ(bridge_test::trace_lines(trace_.path()), expected);
    EXPECT_TRUE(bridge_test::processes_running_from(tree.root()).empty());
    EXPECT_FALSE(fs::exists(folder + "/" + pid_file_name));
}

// ---- paths that differ in form only ------------------------------------------

// POSIX: a tree reached through a symbolic link is the same installation.
TEST_F(BridgeDiscovery, TreeReachedThroughALinkIsRecognised) {
    if (!posix_paths()) GTEST_SKIP() << "Windows paths are compared as they are given";
    TempDir links("links");
    const std::string link = links.file("product");
    ASSERT_TRUE(bridge_test::make_directory_link(tree_->root(), link));
    ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), pid_text(service_pid_)));
    RunResult run = bridge_test::run_program(link + "/bin/bridge_probe", {"check"});
    EXPECT_EQ(value_of(run.out, "check"), "1") << run.out << run.err;
}

// POSIX: a service program that is itself a link to the real file is
// recognised by the file it leads to, as the system reports the process.
TEST_F(BridgeDiscovery, ServiceProgramThatIsALinkIsRecognised) {
    if (!posix_paths()) GTEST_SKIP() << "Windows paths are compared as they are given";
    ProductTree tree(ProductTree::Service::none);
    StopsProcessesUnder stop(tree.root());
    ASSERT_TRUE(tree.ready());
    const std::string real_dir = tree.root() + "/libexec";
    fs::create_directory(real_dir);
    ASSERT_TRUE(bridge_test::copy_file(tree.probe(), real_dir + "/gemx_pkl_service"));
    std::error_code ec;
    fs::create_symlink("../libexec/gemx_pkl_service", tree.service(), ec);
    ASSERT_FALSE(ec) << ec.message();

    RunResult run = tree.run_probe({"init"});
    EXPECT_EQ(value_of(run.out, "init"), "1") << run.out << run.err;
    ASSERT_TRUE(bridge_test::wait_until([&] { return bridge_test::pid_from_file(temp_.file(pid_file_name)) > 0; }));
    EXPECT_EQ(check(tree), "1");
}

// Windows: the same tree named with other letter case is the same
// installation.
TEST_F(BridgeDiscovery, TreeNamedInOtherLetterCaseIsRecognised) {
    if (posix_paths()) GTEST_SKIP() << "POSIX paths are case-sensitive";
    std::string upper = tree_->probe();
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(kestrin_test::write_file(temp_.file(pid_file_name), pid_text(service_pid_)));
    RunResult exe = bridge_test::run_program(upper, {"exe"});
    RunResult run = bridge_test::run_program(upper, {"check"});
    EXPECT_EQ(value_of(run.out, "check"), "1") << exe.out << run.out << run.err;
}

}  // namespace
