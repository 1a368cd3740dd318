// The pipe client against a stand-in server on the service pipe: what it
// sends, what it makes of each kind of answer, and its schedule of waits
// and pauses, measured with a recording pause that never sleeps.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "gemx_protocol.h"
#include "pipe_test_server.h"
#include "trace_fixture.h"
#include "veyraks.h"

namespace {

using bridge_test::pause_log;
using bridge_test::Reply;
using bridge_test::scope_lines;
using bridge_test::TestServer;

const char kPrefix[] = "gemxbridge::com_utils::send_data_win32::";
const std::string kRequest = "<request_start><op_id_start>6<op_id_end><args_start>a.c<args_end><request_end>";

class BridgePipe : public bridge_test::TracedTest {
protected:
    void SetUp() override {
        TracedTest::SetUp();
        pause_log() = bridge_test::PauseLog{};
        set_sleep_function(bridge_test::recording_pause);
    }
    void TearDown() override {
        set_sleep_function(nullptr);
        pause_log() = bridge_test::PauseLog{};
        TracedTest::TearDown();
    }

    // The service pipe name of this user, as the service forms it.
    static std::string pipe_name() { return service_pipe_name(pipe_base_name, sysutl_myloginname()); }

    bridge_test::PrivateTempDir temp_;
};

struct ServerCase {
    const char *name;
    Reply reply;
    std::string answer;
    int result;
    std::string response;  // the response text afterwards
    const char *message;   // the traced message, or "" for none
};

// Cases show by name in test listings.
void PrintTo(const ServerCase &c, std::ostream *os) { *os << c.name; }

class BridgePipeAnswers : public BridgePipe, public ::testing::WithParamInterface<ServerCase> {};

// One request goes out as its bytes alone; the answer is one read of at
// most 4095 bytes, cut at a NUL; a server that goes without answering is a
// failure that leaves the response text alone.
TEST_P(BridgePipeAnswers, SendsTheRequestAndTakesTheAnswer) {
    const ServerCase &c = GetParam();
    TestServer server(pipe_name(), c.reply, c.answer);
    ASSERT_TRUE(server.created());

    std::string response = "untouched";
    EXPECT_EQ(send_data_win32(kRequest, response, 0), c.result);

    EXPECT_EQ(response, c.response);
    EXPECT_EQ(server.request(), kRequest);
    EXPECT_TRUE(pause_log().seconds.empty());
    EXPECT_EQ(traced(), scope_lines(kPrefix, c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgePipeAnswers,
    ::testing::Values(
        ServerCase{"answer", Reply::answer, "<response_start>0<response_end>", 1, "<response_start>0<response_end>",
                   ""},
        ServerCase{"closes_without_answer", Reply::close_without_answer, "", 0, "untouched",
                   "error encountered while reading response from pipe"},
        ServerCase{"zero_bytes", Reply::answer, "", 1, "", ""},
        ServerCase{"exactly_4095_bytes", Reply::answer, std::string(4095, 'a'), 1, std::string(4095, 'a'), ""},
        ServerCase{"over_4095_bytes", Reply::answer, std::string(4000, 'b') + std::string(1000, 'c'), 1,
                   std::string(4000, 'b') + std::string(95, 'c'), ""},
        ServerCase{"nul_inside", Reply::answer, std::string("<response_start>1\0<response_end>", 31), 1,
                   "<response_start>1", ""}),
    [](const ::testing::TestParamInfo<ServerCase> &info) { return std::string(info.param.name); });

// A request far longer than the pipe's buffers reaches the server whole.
TEST_F(BridgePipe, LongRequestArrivesWhole) {
    std::string request = "<request_start><op_id_start>3<op_id_end><args_start>" + std::string(100000, 'x') +
                          "<args_end><request_end>";
    TestServer server(pipe_name(), Reply::answer, "<response_start>1<response_end>");
    ASSERT_TRUE(server.created());
    std::string response;
    EXPECT_EQ(send_data_win32(request, response, 0), 1);
    EXPECT_EQ(server.request(), request);
    EXPECT_EQ(response, "<response_start>1<response_end>");
}

// Every client kind leads to the same pipe.
TEST_F(BridgePipe, EveryClientKindUsesTheSamePipe) {
    for (int kind : {0, 1, -1, 2147483647}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(pipe_base_name_for(kind), pipe_base_name);
        TestServer server(pipe_name(), Reply::answer, "<response_start>0<response_end>");
        ASSERT_TRUE(server.created());
        std::string response;
        EXPECT_EQ(send_data_win32(kRequest, response, kind), 1);
        EXPECT_EQ(server.request(), kRequest);
    }
}

// No pipe at all: 25 failed waits, each followed by a pause of 5 seconds,
// the 25th included; then the one open fails and names the pipe.
TEST_F(BridgePipe, NoPipeGivesUpAfter25WaitsAndPauses) {
    std::string response = "untouched";
    EXPECT_EQ(send_data_win32(kRequest, response, 0), 0);
    EXPECT_EQ(response, "untouched");
    EXPECT_EQ(pause_log().seconds, std::vector<unsigned>(25, 5u));
    EXPECT_EQ(traced(), scope_lines(kPrefix, "Unable to obtain pipe " + pipe_name()));
}

// A service that is still starting: the waits fail until its pipe is
// there, and the first wait that succeeds ends the loop.
TEST_F(BridgePipe, ServiceThatAppearsAfterTheThirdPauseIsReached) {
    std::unique_ptr<TestServer> server;
    pause_log().on_pause = [&server](std::size_t count) {
        if (count == 3) server = std::make_unique<TestServer>(pipe_name(), Reply::answer, "<response_start>0<response_end>");
    };
    std::string response;
    EXPECT_EQ(send_data_win32(kRequest, response, 0), 1);
    EXPECT_EQ(response, "<response_start>0<response_end>");
    EXPECT_EQ(pause_log().seconds, std::vector<unsigned>(3, 5u));
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->request(), kRequest);
    EXPECT_EQ(traced(), scope_lines(kPrefix));
}

}  // namespace
