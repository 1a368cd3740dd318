// End to end: the gemx client loads the bridge from its product tree, the
// bridge starts the real service, and the service hands each operation to
// the helper, which records it in its journal. Every test has a temporary
// directory of its own (so its own pid file, pipe and journal) and stops
// the service it started.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "bridge_test_util.h"
#include "files.h"
#include "gemx_protocol.h"
#include "test_common.h"

namespace fs = std::filesystem;

namespace {

using bridge_test::PrivateTempDir;
using bridge_test::RunResult;
using kestrin_test::separator;
using kestrin_test::TempDir;

const char kLaunchLine[] = "gemxbridge::process_utils::init_gemx_service::gemx_service not found; launching...";

bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Gemx : public ::testing::Test {
protected:
    void SetUp() override {
        const char sep = separator();
        work_ = work_dir_.path();
        fs::create_directory(work_ + sep + "src");
        ASSERT_TRUE(kestrin_test::write_file(work_ + sep + "src" + sep + "a.c", "int main(void) { return 0; }\n"));
        ASSERT_TRUE(kestrin_test::write_file(work_ + sep + "src" + sep + "b.c", "int b;\n"));
        ASSERT_TRUE(kestrin_test::write_file(work_ + sep + "src" + sep + "a b.c", "int ab;\n"));
    }

    // Stops the service that the test's calls started, by its pid file.
    void TearDown() override { bridge_test::stop_process(service_pid()); }

    // Runs bin/gemx in the work folder; traced into trace_dir when given.
    RunResult gemx(const std::vector<std::string> &args, const std::string &trace_dir = "") {
        bridge_test::ScopedEnv trace("KESTRIN_GEMXBRIDGE_TRACE_DIR", trace_dir.empty() ? nullptr : trace_dir.c_str());
        return bridge_test::run_program(bridge_test::program_path("gemx"), args, work_);
    }

    int service_pid() { return bridge_test::pid_from_file(temp_.file(pid_file_name)); }

    std::vector<std::string> journal() {
        return bridge_test::lines_of(kestrin_test::read_file(temp_.file("gemx_helper.journal")));
    }

    // A pathname below the work folder as the service makes it absolute.
    std::string in_work(const std::string &relative) {
        std::string path = work_;
        for (const std::string &part : {std::string("src"), relative}) path += separator() + part;
        return path;
    }

    TempDir work_dir_{"work"};
    PrivateTempDir temp_;
    std::string work_;
};

// No service runs: one call launches it, waits for its pipe and gets its
// answer; the service is the product's program and has written its pid.
TEST_F(Gemx, ColdStartLaunchesTheServiceAndGetsItsAnswer) {
    TempDir trace("trace");
    RunResult run = gemx({"noop"}, trace.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(contains(bridge_test::trace_lines(trace.path()), kLaunchLine));
    const int pid = service_pid();
    EXPECT_TRUE(bridge_test::process_running(pid));
    std::vector<int> from_bin = bridge_test::processes_running_from(kestrin_test::bin_dir());
    EXPECT_NE(std::find(from_bin.begin(), from_bin.end(), pid), from_bin.end());
}

struct Call {
    std::vector<std::string> args;
    int exit_code;
    // The journal lines the call adds; "{cwd}" and "{src}/" stand for the
    // work folder and its src folder as the service writes them.
    std::vector<std::string> journal;
};

// Each of the six operations, through one service that the first call
// starts; results and journal lines as the helper records them.
TEST_F(Gemx, RunsEachOperationThroughTheServiceItStarts) {
    const std::vector<Call> calls = {
        {{"noop"}, 0, {}},
        {{"deliver", "-stream", "s1", "-to", "t1", "-target", "x1"}, 0, {"deliver\t{cwd}"}},
        {{"rebase", "-view", "myview", "-qall"}, 0, {"rebase\t{cwd}"}},
        {{"update", "src/a.c", "src/b.c"}, 0, {"update\t2\t{src}/a.c\t{src}/b.c"}},
        {{"update"}, 0, {"update\t1\t{cwd}"}},
        {{"history", "src/a.c", "src/b.c"}, 0, {"history\t{src}/a.c", "history\t{src}/b.c"}},
        {{"history", "src/a b.c"}, 0, {"history\t{src}/a b.c"}},
        {{"vtree", "-all", "-nco", "src/a.c"}, 0, {"vtree\t{src}/a.c\t3"}},
        {{"find_merge"}, 0, {"find_merge"}},
        {{"--kind", "5", "findmerge"}, 0, {"find_merge"}},
        {{"history", "src/missing.c"}, 1, {"history\t{src}/missing.c"}},
        {{"deliver", "-str"}, 1, {}},
        {{"vtree", "-bogus", "src/a.c"}, 1, {}},
    };
    auto expand = [this](std::string line) {
        for (std::size_t at; (at = line.find("{src}/")) != std::string::npos;) {
            std::size_t end = line.find('\t', at);
            std::string name = line.substr(at + 6, end == std::string::npos ? std::string::npos : end - at - 6);
            line.replace(at, 6 + name.size(), kestrin_test::journal_field(in_work(name)));
        }
        for (std::size_t at; (at = line.find("{cwd}")) != std::string::npos;) {
            line.replace(at, 5, kestrin_test::journal_field(work_));
        }
        return line;
    };

    int first_pid = 0;
    for (const Call &call : calls) {
        std::string shown;
        for (const std::string &a : call.args) shown += a + " ";
        SCOPED_TRACE("gemx " + shown);
        const std::size_t before = journal().size();
        RunResult run = gemx(call.args);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exit_code, call.exit_code) << run.out << run.err;
        std::vector<std::string> lines = journal();
        std::vector<std::string> added(lines.begin() + static_cast<long>(std::min(before, lines.size())), lines.end());
        std::vector<std::string> expected;
        for (const std::string &line : call.journal) expected.push_back(expand(line));
        EXPECT_EQ(added, expected);
        if (first_pid == 0) first_pid = service_pid();
        EXPECT_EQ(service_pid(), first_pid) << "a call started another service";
    }
    EXPECT_TRUE(bridge_test::process_running(first_pid));
}

// A call after the service has stopped launches a new one and is served.
TEST_F(Gemx, CallAfterTheServiceStoppedRelaunchesIt) {
    ASSERT_EQ(gemx({"noop"}).exit_code, 0);
    const int first = service_pid();
    ASSERT_TRUE(bridge_test::stop_process(first));

    TempDir trace("trace");
    RunResult run = gemx({"history", "src/a.c"}, trace.path());
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(contains(bridge_test::trace_lines(trace.path()), kLaunchLine));
    const int second = service_pid();
    EXPECT_NE(second, first);
    EXPECT_TRUE(bridge_test::process_running(second));
    EXPECT_EQ(journal(), std::vector<std::string>{"history\t" + kestrin_test::journal_field(in_work("a.c"))});
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    int exit_code;
    const char *out;  // text expected in standard output, or ""
    const char *err;  // text expected in standard error, or ""
};

// Cases show by name in test listings.
void PrintTo(const UsageCase &c, std::ostream *os) { *os << c.name; }

class GemxUsage : public Gemx, public ::testing::WithParamInterface<UsageCase> {};

// Mistakes of the command line are told on standard error with exit status
// 2, before the bridge is loaded: no service is started.
TEST_P(GemxUsage, ExplainsAndStartsNothing) {
    const UsageCase &c = GetParam();
    RunResult run = gemx(c.args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    if (!*c.out) {
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(service_pid(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GemxUsage,
    ::testing::Values(
        UsageCase{"help", {"--help"}, 0, "usage: gemx [--kind N] <operation> [word...]", ""},
        UsageCase{"no_operation", {}, 2, "", "usage: gemx"},
        UsageCase{"unknown_operation", {"bogus"}, 2, "", "gemx: unknown operation \"bogus\""},
        UsageCase{"unknown_option", {"--frob", "noop"}, 2, "", "gemx: unknown option --frob"},
        UsageCase{"kind_without_number", {"--kind"}, 2, "", "gemx: --kind needs a whole number"},
        UsageCase{"kind_not_a_number", {"--kind", "5x", "noop"}, 2, "", "gemx: --kind needs a whole number"},
        UsageCase{"kind_out_of_range", {"--kind", "2147483648", "noop"}, 2, "", "gemx: --kind needs a whole number"}),
    [](const ::testing::TestParamInfo<UsageCase> &info) { return std::string(info.param.name); });

// A product tree without the bridge library: gemx says which file it could
// not load and exits with 2.
TEST_F(Gemx, MissingBridgeLibraryIsReported) {
    TempDir tree("tree");
    const char sep = separator();
    const std::string real = kestrin_test::product_dir();
    const std::string bin = tree.path() + sep + "bin";
    fs::create_directory(bin);
    std::error_code ec;
    // gemx needs the support libraries of its tree, only not the bridge.
    for (const std::string folder : {"lib", "bin"}) {
        if (!fs::is_directory(real + sep + folder)) continue;
        fs::create_directory(tree.path() + sep + folder, ec);
        for (const auto &entry : fs::directory_iterator(real + sep + folder)) {
            const std::string name = entry.path().filename().string();
            bool library = name.find(".so") != std::string::npos || name.find(".dll") != std::string::npos;
            if (!library || name.find("gemxbridge") != std::string::npos) continue;
            fs::copy_file(entry.path(), tree.path() + sep + folder + sep + name, ec);
            ASSERT_FALSE(ec) << name;
        }
    }
    const std::string program = bin + sep + "gemx" + platform::kExeSuffix;
    fs::copy_file(bridge_test::program_path("gemx"), program, ec);
    ASSERT_FALSE(ec);

    RunResult run = bridge_test::run_program(program, {"noop"}, work_);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("gemx: cannot load the bridge library "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("gemxbridge"), std::string::npos) << run.err;
    EXPECT_EQ(service_pid(), 0);
}

}  // namespace
