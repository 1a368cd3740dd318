// The pipe client's schedule of waits, opens and pauses, over a scripted
// client end of the pipe: a pipe that appears late, never appears, is
// taken by other clients between the wait and the open, or refuses us.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "fake_pipe_client.h"
#include "gemx_protocol.h"
#include "trace_fixture.h"
#include "veyraks.h"

namespace {

using fake_pipe::Step;

const char kPrefix[] = "gemxbridge::com_utils::send_data_win32::";
const std::string kRequest = "<request_start><op_id_start>0<op_id_end><args_start><args_end><request_end>";

std::vector<unsigned> pauses;

unsigned int record_pause(unsigned int seconds) {
    pauses.push_back(seconds);
    return 0;
}

struct RetryCase {
    const char *name;
    std::vector<Step> steps;
    Step rest;
    int result;
    int waits;
    int opens;
    std::size_t pauses;  // each of 5 seconds
};

// Cases show by name in test listings.
void PrintTo(const RetryCase &c, std::ostream *os) { *os << c.name; }

std::vector<Step> repeated(Step s, int n) { return std::vector<Step>(static_cast<std::size_t>(n), s); }

std::vector<Step> joined(std::vector<Step> a, const std::vector<Step> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BridgePipeRetries : public bridge_test::TracedTest, public ::testing::WithParamInterface<RetryCase> {
protected:
    void SetUp() override {
        TracedTest::SetUp();
        pauses.clear();
        set_sleep_function(record_pause);
    }
    void TearDown() override {
        set_sleep_function(nullptr);
        TracedTest::TearDown();
    }
};

// Pauses follow failed waits only; a busy open waits again at once without
// using up an attempt (up to 1000 times); a refused open ends the attempts.
TEST_P(BridgePipeRetries, FollowTheSchedule) {
    const RetryCase &c = GetParam();
    fake_pipe::set_script({c.steps, c.rest});
    std::string response = "untouched";

    EXPECT_EQ(send_data_win32(kRequest, response, 0), c.result);

    EXPECT_EQ(fake_pipe::record().waits, c.waits);
    EXPECT_EQ(fake_pipe::record().opens, c.opens);
    EXPECT_EQ(pauses, std::vector<unsigned>(c.pauses, 5u));
    if (c.result == 1) {
        EXPECT_EQ(fake_pipe::record().written, kRequest);
        EXPECT_EQ(response, "<response_start>0<response_end>");
        EXPECT_EQ(traced(), bridge_test::scope_lines(kPrefix));
    } else {
        EXPECT_EQ(fake_pipe::record().written, "");
        EXPECT_EQ(response, "untouched");
        const std::string name = service_pipe_name(pipe_base_name, sysutl_myloginname());
        EXPECT_EQ(traced(), bridge_test::scope_lines(kPrefix, "Unable to obtain pipe " + name));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgePipeRetries,
    ::testing::Values(
        RetryCase{"opens_at_once", {Step::opens}, Step::no_pipe, 1, 1, 1, 0},
        RetryCase{"busy_three_times_then_opens", {Step::busy, Step::busy, Step::busy, Step::opens}, Step::no_pipe, 1,
                  4, 4, 0},
        RetryCase{"appears_after_24_pauses", joined(repeated(Step::no_pipe, 24), {Step::opens}), Step::no_pipe, 1, 25,
                  1, 24},
        // Busy opens between failed waits leave all 25 attempts to the waits.
        RetryCase{"busy_opens_use_no_attempt",
                  joined(joined(repeated(Step::busy, 40), repeated(Step::no_pipe, 24)), {Step::busy, Step::opens}),
                  Step::no_pipe, 1, 66, 42, 24},
        // 25 waits, 25 pauses, then the one open after the loop.
        RetryCase{"never_a_pipe", {}, Step::no_pipe, 0, 25, 1, 25},
        // 1000 busy retries, then busy opens count as attempts again.
        RetryCase{"busy_for_ever", {}, Step::busy, 0, 1025, 1026, 0},
        RetryCase{"refused", {}, Step::refused, 0, 1, 2, 0},
        RetryCase{"refused_after_busy", {Step::busy, Step::busy}, Step::refused, 0, 3, 4, 0}),
    [](const ::testing::TestParamInfo<RetryCase> &info) { return std::string(info.param.name); });

}  // namespace
