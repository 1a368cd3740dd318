// GEMXAPIS_Tracer, in a fresh driver process per case, because the trace
// variable is read once per process: exact lines, "%" kept, whole lines
// from concurrent threads, nothing lost at a crash, nothing without the
// variable, nothing after close_file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_common.h"
#include "test_os.h"

namespace {

namespace fs = std::filesystem;
using kestrin_test::TempDir;

const char kVariable[] = "KESTRIN_GEMXAPIS_TRACE_DIR";

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            ADD_FAILURE() << "the log ends inside a line";
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

const std::vector<std::string> kBasicLines = {
    "gemx_pkl_service::operations::deliver::Entering",
    "gemx_pkl_service::operations::deliver::error occurred while parsing arguments",
    "gemx_pkl_service::operations::deliver::100% sure %d %s",
    "gemx_pkl_service::operations::deliver::n=42 text=x",
    "gemx_pkl_service::operations::make_abs_pn::Entering",
    "gemx_pkl_service::operations::make_abs_pn::error while converting to abs pn",
    "gemx_pkl_service::operations::make_abs_pn::Exiting",
    "gemx_pkl_service::operations::deliver::Exiting",
};

class GemxapisTracerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *value = std::getenv(kVariable);
        if (value) saved_ = value;
    }
    void TearDown() override { gemxapis_test::set_env(kVariable, saved_ ? saved_->c_str() : nullptr); }

    // Runs the driver's trace scenario with the variable set to value (or
    // unset); the driver's pid, or 0 when it did not run as expected.
    int run_scenario(const std::string &scenario, const char *value, int expected_status = 0,
                     const std::string &extra = "") {
        gemxapis_test::set_env(kVariable, value);
        std::string driver = kestrin_test::bin_dir() + kestrin_test::separator() + "gemxapis_driver" +
                             gemxapis_test::kProgramSuffix;
        std::vector<std::string> args{"trace", scenario};
        if (!extra.empty()) args.push_back(extra);
        auto child = gemxapis_test::start_child(driver, args);
        gemxapis_test::set_env(kVariable, saved_ ? saved_->c_str() : nullptr);
        if (!child) {
            ADD_FAILURE() << "driver did not start";
            return 0;
        }
        std::string line;
        if (!child->read_line(&line) || line.rfind("pid ", 0) != 0) {
            ADD_FAILURE() << "driver said: " << line;
            return 0;
        }
        child->close_input();
        int status = child->wait();
        EXPECT_EQ(status, expected_status);
        return std::atoi(line.c_str() + 4);
    }

    std::string log_of(const TempDir &dir, int pid) {
        return dir.file("gemxapis_log_" + std::to_string(pid) + ".txt");
    }

    std::vector<std::string> files_in(const TempDir &dir) {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
        return names;
    }

    std::optional<std::string> saved_;
};

TEST_F(GemxapisTracerTest, WritesScopesAndMessagesExactlyAndNothingAfterClose) {
    TempDir dir("gemxtrace");
    int pid = run_scenario("basic", dir.path().c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"gemxapis_log_" + std::to_string(pid) + ".txt"});
    EXPECT_EQ(split_lines(kestrin_test::read_file(log_of(dir, pid))), kBasicLines);
}

TEST_F(GemxapisTracerTest, ADirectoryWithATrailingSeparatorNamesTheSameLog) {
    TempDir dir("gemxtrace");
    std::string value = dir.path() + kestrin_test::separator();
    int pid = run_scenario("basic", value.c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(split_lines(kestrin_test::read_file(log_of(dir, pid))), kBasicLines);
}

TEST_F(GemxapisTracerTest, LinesOfConcurrentThreadsStayWhole) {
    TempDir dir("gemxtrace");
    int pid = run_scenario("threads", dir.path().c_str());
    ASSERT_GT(pid, 0);
    std::vector<std::string> lines = split_lines(kestrin_test::read_file(log_of(dir, pid)));
    const std::string scope = "gemx_pkl_service::operations::history::";
    const std::string filler(300, 'z');
    std::map<std::string, int> counts;
    for (const std::string &line : lines) ++counts[line];
    EXPECT_EQ(counts[scope + "Entering"], 16 * 200);
    EXPECT_EQ(counts[scope + "Exiting"], 16 * 200);
    for (int t = 0; t < 16; ++t)
        for (int i = 0; i < 200; i += 37)
            EXPECT_EQ(counts[scope + "thread " + std::to_string(t) + " item " + std::to_string(i) + " " + filler], 1);
    EXPECT_EQ(lines.size(), 3u * 16u * 200u);
    for (const std::string &line : lines) EXPECT_EQ(line.rfind(scope, 0), 0u) << line;
}

TEST_F(GemxapisTracerTest, AProcessThatEndsAbruptlyLosesNoLine) {
    TempDir dir("gemxtrace");
    int pid = run_scenario("crash", dir.path().c_str(), 7);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(split_lines(kestrin_test::read_file(log_of(dir, pid))),
              (std::vector<std::string>{
                  "gemx_pkl_service::gemx_pkl_svc_win32::main::Entering",
                  "gemx_pkl_service::gemx_pkl_svc_win32::main::Initializing the helper process for : pikal"}));
}

struct SilentCase {
    const char *name;
    const char *scenario;
    bool variable_names_dir;  // else the variable stays unset
    bool pass_dir_to_driver;
};

void PrintTo(const SilentCase &c, std::ostream *os) { *os << c.name; }

class GemxapisTracerSilentTest : public GemxapisTracerTest, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(GemxapisTracerSilentTest, WritesNoFile) {
    const SilentCase &c = GetParam();
    TempDir dir("gemxtrace");
    int pid = run_scenario(c.scenario, c.variable_names_dir ? dir.path().c_str() : nullptr, 0,
                           c.pass_dir_to_driver ? dir.path() : "");
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(files_in(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, GemxapisTracerSilentTest,
                         ::testing::Values(SilentCase{"variable_unset", "basic", false, false},
                                           SilentCase{"variable_set_after_first_trace", "late", false, true},
                                           SilentCase{"closed_before_first_trace", "close-first", true, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(GemxapisTracerTest, AVariableNamingNoDirectoryWritesNothing) {
    TempDir dir("gemxtrace");
    std::string missing = dir.file("not_there");
    int pid = run_scenario("basic", missing.c_str());
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(files_in(dir).empty());
    // A plain file is no directory either.
    ASSERT_TRUE(kestrin_test::write_file(missing, "x"));
    pid = run_scenario("basic", missing.c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"not_there"});
}

}  // namespace
