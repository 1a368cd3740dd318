// What only Windows shows of the process layer: the hidden start and the
// termination handler registered with signal() and run when SIGTERM is
// raised.
#include "processes.h"

#include "process_test_util.h"
#include "test_common.h"

#include <gtest/gtest.h>

namespace {

using kestrin_test::LaunchedProbe;
using kestrin_test::TempDir;

TEST(LaunchHiddenWin32, ProgramIsAskedToStayHiddenWithoutAConsoleWindow) {
    LaunchedProbe probe(kestrin_test::probe_path(), false);
    ASSERT_TRUE(probe.launched());
    ASSERT_TRUE(probe.wait_for_report());
    const auto &facts = probe.facts();
    EXPECT_EQ(facts.at("use_show_window"), "1");
    EXPECT_EQ(facts.at("show_window"), "0");  // SW_HIDE
    EXPECT_EQ(facts.at("console_window"), "0");
}

TEST(TerminationHandler, RaisedSigtermRunsTheHandlerAndEndsWithItsStatus) {
    TempDir dir("term");
    auto run = kestrin_test::run_and_wait(kestrin_test::probe_path(), {"raise", dir.path()});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 15);
    auto marker = kestrin_test::parse_facts(kestrin_test::read_file(dir.file("marker")));
    EXPECT_EQ(marker["signal"], "15");
    EXPECT_EQ(marker["ticking"], "1");
}

}  // namespace
