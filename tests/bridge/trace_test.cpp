// The bridge's trace log: when it is opened and where, the lines it
// holds, the states in which it writes nothing, and a second process that
// meets a log held by another.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "bridge_test_util.h"
#include "files.h"
#include "gemxbridge_tracer.h"
#include "processes.h"
#include "trace_fixture.h"

namespace fs = std::filesystem;

namespace {

using bridge_test::kTraceDirVariable;
using bridge_test::ScopedEnv;
using bridge_test::TracedTest;
using kestrin_test::read_file;
using kestrin_test::separator;
using kestrin_test::TempDir;

const char kChildVariable[] = "KESTRIN_BRIDGE_TEST_TRACE_CHILD";

// Seconds since midnight UTC.
int utc_seconds() {
    platform::UtcTime t = platform::utc_time_of_day();
    return t.hour * 3600 + t.minute * 60 + t.second;
}

// The log file name for a time of day in seconds since midnight.
std::string log_name_at(int seconds) {
    seconds %= 86400;
    char name[64];
    std::snprintf(name, sizeof name, "gemxbridge_log_d%02d%02d%02d.txt", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return name;
}

// The log names of the coming minutes: whichever second a scope made now
// falls on, its log is one of them.
std::vector<std::string> coming_log_names(int count = 180) {
    const int now = utc_seconds();
    std::vector<std::string> names;
    for (int i = -1; i < count; ++i) names.push_back(log_name_at(now + 86400 + i));
    return names;
}

// A directory below base whose path has exactly length characters.
std::string directory_of_length(const std::string &base, std::size_t length) {
    std::string dir = base;
    while (dir.size() < length) {
        std::size_t remaining = length - dir.size();
        std::size_t chars = std::min<std::size_t>(remaining - 1, 100);
        if (remaining - (chars + 1) == 1) --chars;
        if (chars == 0) return "";
        dir += separator() + std::string(chars, 'p');
        std::error_code ec;
        fs::create_directory(dir, ec);
        if (ec) return "";
    }
    return dir.size() == length ? dir : "";
}

// The length of the log path that a directory of n characters gives:
// separator, "gemxbridge_log_", "dHHMMSS", ".txt".
constexpr std::size_t log_path_length(std::size_t n) { return n + 1 + 15 + 7 + 4; }

class BridgeTrace : public TracedTest {};

// Writes the three lines that the parent test looks for; traces only when
// started as the child of SecondProcessWithTheSameLogNameRunsUntraced.
TEST(BridgeTraceChild, WritesItsScope) {
    if (!platform::get_environment(kChildVariable, nullptr)) GTEST_SKIP() << "runs only as a child process";
    GEMXBRIDGE_Tracer scope("gemxbridge", "child", "scope");
    scope.writeTrace("child says 100%%");
}

// Writes a message and ends at once, without closing or flushing any
// stream; started by LinesAreCompleteWhenWriteTraceReturns.
TEST(BridgeTraceChild, EndsAbruptly) {
    if (!platform::get_environment(kChildVariable, nullptr)) GTEST_SKIP() << "runs only as a child process";
    GEMXBRIDGE_Tracer outer("gemxbridge", "gemxbridge", "invoke_gemx_ui");
    GEMXBRIDGE_Tracer inner("gemxbridge", "com_utils", "send_data_win32");
    inner.writeTrace("Unable to obtain pipe %s", "x");
    std::_Exit(3);
}

// The first scope of the process opens <dir>/gemxbridge_log_dHHMMSS.txt,
// named after the UTC time, and its first line is that scope's.
TEST_F(BridgeTrace, FirstScopeOpensTheLogNamedAfterTheUtcTime) {
    const int before = utc_seconds();
    { GEMXBRIDGE_Tracer scope("gemxbridge", "gemxbridge", "invoke_gemx_ui"); }
    const int after = utc_seconds();
    GEMXBRIDGE_Tracer::close_file();

    std::vector<std::string> names = bridge_test::trace_log_names(trace_dir_.path());
    ASSERT_EQ(names.size(), 1u);
    ASSERT_TRUE(std::regex_match(names[0], std::regex("gemxbridge_log_d([01][0-9]|2[0-3])[0-5][0-9][0-6][0-9]\\.txt")))
        << names[0];
    bool in_range = false;
    for (int s = before; s <= after + (after < before ? 86400 : 0); ++s) in_range |= names[0] == log_name_at(s);
    EXPECT_TRUE(in_range) << names[0] << " is not a time between " << before << " and " << after;
    EXPECT_EQ(traced(), (std::vector<std::string>{"gemxbridge::gemxbridge::invoke_gemx_ui::Entering",
                                                  "gemxbridge::gemxbridge::invoke_gemx_ui::Exiting"}));
}

TEST_F(BridgeTrace, ScopesNestAndMessagesFollowInOrder) {
    {
        GEMXBRIDGE_Tracer outer("gemxbridge", "process_utils", "init_gemx_service");
        outer.writeTrace("gemx_service not found; launching...");
        {
            GEMXBRIDGE_Tracer inner("gemxbridge", "process_utils", "create_lsp");
            inner.writeTrace("value %d of %s", 42, "x");
        }
        outer.writeTrace("%s", "done");
    }
    EXPECT_EQ(traced(), (std::vector<std::string>{
                            "gemxbridge::process_utils::init_gemx_service::Entering",
                            "gemxbridge::process_utils::init_gemx_service::gemx_service not found; launching...",
                            "gemxbridge::process_utils::create_lsp::Entering",
                            "gemxbridge::process_utils::create_lsp::value 42 of x",
                            "gemxbridge::process_utils::create_lsp::Exiting",
                            "gemxbridge::process_utils::init_gemx_service::done",
                            "gemxbridge::process_utils::init_gemx_service::Exiting",
                        }));
}

// A "%" in the formatted text is written as it is, not formatted again.
TEST_F(BridgeTrace, PercentInAMessageReachesTheFileUnchanged) {
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "m", "f");
        scope.writeTrace("%s", "100% %d %s %% %n");
        scope.writeTrace("%d%%", 5);
    }
    std::vector<std::string> lines = traced();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "gemxbridge::m::f::100% %d %s %% %n");
    EXPECT_EQ(lines[2], "gemxbridge::m::f::5%");
}

// A message far longer than any buffer of the library is written whole.
TEST_F(BridgeTrace, LongMessageIsWrittenWhole) {
    const std::string text(20000, 'w');
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "m", "f");
        scope.writeTrace("<%s>", text.c_str());
    }
    std::vector<std::string> lines = traced();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "gemxbridge::m::f::<" + text + ">");
}

// When writeTrace returns, its line and every line written before it are
// in the file: a process that ends abruptly right after, without closing
// its streams, loses none of them.
TEST_F(BridgeTrace, LinesAreCompleteWhenWriteTraceReturns) {
    ScopedEnv child_mode(kChildVariable, "1");
    bridge_test::RunResult run = bridge_test::run_program(bridge_test::program_path("test_bridge_trace"),
                                                          {"--gtest_filter=BridgeTraceChild.EndsAbruptly"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 3) << run.out << run.err;
    std::vector<std::string> lines = bridge_test::trace_lines(trace_dir_.path());
    const std::vector<std::string> flushed{"gemxbridge::gemxbridge::invoke_gemx_ui::Entering",
                                           "gemxbridge::com_utils::send_data_win32::Entering",
                                           "gemxbridge::com_utils::send_data_win32::Unable to obtain pipe x"};
    ASSERT_GE(lines.size(), flushed.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3), flushed);
}

// After close_file nothing more is written in this process, also when the
// variable is set again: the first scope read it once.
TEST_F(BridgeTrace, CloseEndsTracingForTheRestOfTheProcess) {
    { GEMXBRIDGE_Tracer scope("gemxbridge", "gemxbridge", "invoke_gemx_ui"); }
    GEMXBRIDGE_Tracer::close_file();
    std::vector<std::string> names = bridge_test::trace_log_names(trace_dir_.path());
    ASSERT_EQ(names.size(), 1u);
    const std::string before = read_file(trace_dir_.file(names[0]));

    TempDir other("trace2");
    ScopedEnv again(kTraceDirVariable, other.path().c_str());
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "gemxbridge", "invoke_gemx_ui");
        scope.writeTrace("after close");
    }
    GEMXBRIDGE_Tracer::close_file();
    EXPECT_EQ(read_file(trace_dir_.file(names[0])), before);
    EXPECT_EQ(bridge_test::trace_log_names(trace_dir_.path()).size(), 1u);
    EXPECT_TRUE(bridge_test::trace_log_names(other.path()).empty());
}

// A log whose name an earlier process used, on any day, is appended to.
TEST_F(BridgeTrace, LogOfTheSameNameIsAppendedTo) {
    const std::vector<std::string> names = coming_log_names();
    for (const std::string &name : names) ASSERT_TRUE(kestrin_test::write_file(trace_dir_.file(name), "earlier\n"));
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "m", "f");
        scope.writeTrace("later");
    }
    GEMXBRIDGE_Tracer::close_file();
    int changed = 0;
    for (const std::string &name : names) {
        std::vector<std::string> lines = bridge_test::lines_of(read_file(trace_dir_.file(name)));
        if (lines.size() == 1) continue;
        ++changed;
        EXPECT_EQ(lines, (std::vector<std::string>{"earlier", "gemxbridge::m::f::Entering", "gemxbridge::m::f::later",
                                                   "gemxbridge::m::f::Exiting"}));
    }
    EXPECT_EQ(changed, 1);
}

// While a process holds its log, a second process whose first scope falls
// on the same name cannot open it and writes nothing; once the log is free,
// the same child traces.
TEST_F(BridgeTrace, SecondProcessWithTheSameLogNameRunsUntraced) {
    ScopedEnv child_mode(kChildVariable, "1");
    const std::vector<std::string> args{"--gtest_filter=BridgeTraceChild.WritesItsScope"};
    const std::string self = bridge_test::program_path("test_bridge_trace");

    std::vector<std::string> names = coming_log_names();
    {
        std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE *)>> held;
        for (const std::string &name : names) {
            std::FILE *f = platform::open_exclusive_for_append(trace_dir_.file(name).c_str());
            ASSERT_NE(f, nullptr) << name;
            held.emplace_back(f, std::fclose);
        }
        bridge_test::RunResult run = bridge_test::run_program(self, args);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        for (const std::string &name : names) EXPECT_EQ(read_file(trace_dir_.file(name)), "") << name;
        EXPECT_EQ(bridge_test::trace_log_names(trace_dir_.path()).size(), names.size());
    }

    for (const std::string &name : names) fs::remove(trace_dir_.file(name));
    bridge_test::RunResult run = bridge_test::run_program(self, args);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_EQ(bridge_test::trace_lines(trace_dir_.path()),
              (std::vector<std::string>{"gemxbridge::child::scope::Entering", "gemxbridge::child::scope::child says 100%",
                                        "gemxbridge::child::scope::Exiting"}));
}

// ---- states in which nothing is written ----------------------------------

enum class Setting { unset, empty, missing_directory, path_too_long };

struct OffCase {
    const char *name;
    Setting setting;
};

// Cases show by name in test listings.
void PrintTo(const OffCase &c, std::ostream *os) { *os << c.name; }

class BridgeTraceOff : public TracedTest, public ::testing::WithParamInterface<OffCase> {};

// Nothing is created, every trace call does nothing, and setting the
// variable to a good directory afterwards changes nothing in this process.
TEST_P(BridgeTraceOff, WritesNothingForTheRestOfTheProcess) {
    std::string value;
    switch (GetParam().setting) {
        case Setting::unset:
            break;
        case Setting::empty:
            value = "";
            break;
        case Setting::missing_directory:
            value = trace_dir_.file("missing");
            break;
        case Setting::path_too_long:
            value = directory_of_length(trace_dir_.path(), 229);
            ASSERT_FALSE(value.empty());
            ASSERT_EQ(log_path_length(value.size()), 256u);
            break;
    }
    std::unique_ptr<ScopedEnv> setting = std::make_unique<ScopedEnv>(
        kTraceDirVariable, GetParam().setting == Setting::unset ? nullptr : value.c_str());
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "gemxbridge", "invoke_gemx_ui");
        scope.writeTrace("%s", "nothing");
    }
    setting.reset();  // the fixture's good directory again
    {
        GEMXBRIDGE_Tracer scope("gemxbridge", "gemxbridge", "invoke_gemx_ui");
        scope.writeTrace("still nothing");
    }
    GEMXBRIDGE_Tracer::close_file();

    std::error_code ec;
    std::size_t entries = 0;
    for (const auto &entry : fs::recursive_directory_iterator(trace_dir_.path(), ec)) {
        if (!entry.is_directory()) ++entries;
    }
    EXPECT_EQ(entries, 0u);
    EXPECT_FALSE(fs::exists(trace_dir_.file("missing")));
}

INSTANTIATE_TEST_SUITE_P(Settings, BridgeTraceOff,
                         ::testing::Values(OffCase{"unset", Setting::unset}, OffCase{"empty", Setting::empty},
                                           OffCase{"missing_directory", Setting::missing_directory},
                                           OffCase{"path_too_long", Setting::path_too_long}),
                         [](const ::testing::TestParamInfo<OffCase> &info) { return std::string(info.param.name); });

// The longest log path that fits the 256-byte buffer, 255 characters, is
// still traced.
TEST_F(BridgeTrace, LogPathOf255CharactersIsTraced) {
    std::string dir = directory_of_length(trace_dir_.path(), 228);
    ASSERT_FALSE(dir.empty());
    ASSERT_EQ(log_path_length(dir.size()), 255u);
    ScopedEnv setting(kTraceDirVariable, dir.c_str());
    { GEMXBRIDGE_Tracer scope("gemxbridge", "m", "f"); }
    GEMXBRIDGE_Tracer::close_file();
    EXPECT_EQ(bridge_test::trace_lines(dir),
              (std::vector<std::string>{"gemxbridge::m::f::Entering", "gemxbridge::m::f::Exiting"}));
}

// A directory value that ends in a separator is used as it is; the doubled
// separator still names a file in that directory.
TEST_F(BridgeTrace, TrailingSeparatorIsKept) {
    std::string dir = trace_dir_.path() + separator();
    ScopedEnv setting(kTraceDirVariable, dir.c_str());
    { GEMXBRIDGE_Tracer scope("gemxbridge", "m", "f"); }
    EXPECT_EQ(traced().size(), 2u);
}

}  // namespace
