// The export against the real service of this product tree: the service is
// started by a first, untraced call (with short pauses while its pipe comes
// up) and stopped when the suite ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "gemx_protocol.h"
#include "trace_fixture.h"

namespace {

using bridge_test::kTraceDirVariable;
using bridge_test::PrivateTempDir;
using bridge_test::ScopedEnv;

unsigned int short_pause(unsigned int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

class BridgeInvoke : public bridge_test::TracedTest {
protected:
    static void SetUpTestSuite() {
        temp_ = new PrivateTempDir();
        set_sleep_function(short_pause);
        GEMXBRIDGE_Tracer::reset_for_testing();
        ScopedEnv untraced(kTraceDirVariable, nullptr);
        first_result_ = invoke_gemx_ui(0, 0, "");
        service_pid_ = bridge_test::pid_from_file(temp_->file(pid_file_name));
    }
    static void TearDownTestSuite() {
        bridge_test::stop_process(bridge_test::pid_from_file(temp_->file(pid_file_name)));
        set_sleep_function(nullptr);
        delete temp_;
        temp_ = nullptr;
    }
    void SetUp() override {
        TracedTest::SetUp();
        ASSERT_EQ(first_result_, 0) << "the service could not be started and reached";
        ASSERT_TRUE(bridge_test::process_running(service_pid_));
    }

    static PrivateTempDir *temp_;
    static int first_result_;
    static int service_pid_;
};

PrivateTempDir *BridgeInvoke::temp_ = nullptr;
int BridgeInvoke::first_result_ = -1;
int BridgeInvoke::service_pid_ = 0;

// A call that finds the service running traces exactly these lines; the
// entry point's own Exiting line never follows, since the log closes first.
TEST_F(BridgeInvoke, CallThatFindsTheServiceTracesThirteenLines) {
    EXPECT_EQ(invoke_gemx_ui(0, 0, ""), 0);
    EXPECT_EQ(traced(), (std::vector<std::string>{
                            "gemxbridge::gemxbridge::invoke_gemx_ui::Entering",
                            "gemxbridge::process_utils::init_gemx_service::Entering",
                            "gemxbridge::process_utils::gemx_ser_proc_check::Entering",
                            "gemxbridge::process_utils::proc_exists::Entering",
                            "gemxbridge::process_utils::proc_exists::Exiting",
                            "gemxbridge::process_utils::gemx_ser_proc_check::Exiting",
                            "gemxbridge::process_utils::init_gemx_service::Exiting",
                            "gemxbridge::gemxbridge::construct_request::Entering",
                            "gemxbridge::gemxbridge::construct_request::Exiting",
                            "gemxbridge::com_utils::send_data_win32::Entering",
                            "gemxbridge::com_utils::send_data_win32::Exiting",
                            "gemxbridge::gemxbridge::process_response::Entering",
                            "gemxbridge::gemxbridge::process_response::Exiting",
                        }));
    EXPECT_EQ(bridge_test::pid_from_file(temp_->file(pid_file_name)), service_pid_);
}

// Only the first call of a process is traced; the later ones work the same
// and add nothing to the log.
TEST_F(BridgeInvoke, SecondCallWorksAndAddsNothingToTheLog) {
    EXPECT_EQ(invoke_gemx_ui(0, 0, ""), 0);
    std::vector<std::string> names = bridge_test::trace_log_names(trace_dir_.path());
    ASSERT_EQ(names.size(), 1u);
    const std::string first = kestrin_test::read_file(trace_dir_.file(names[0]));
    EXPECT_EQ(invoke_gemx_ui(0, 0, ""), 0);
    EXPECT_EQ(invoke_gemx_ui(0, 7, ""), 1);
    EXPECT_EQ(kestrin_test::read_file(trace_dir_.file(names[0])), first);
    EXPECT_EQ(bridge_test::trace_log_names(trace_dir_.path()).size(), 1u);
}

struct AnswerCase {
    const char *name;
    int client_kind;
    int op_id;
    const char *args;
    int result;
};

// Cases show by name in test listings.
void PrintTo(const AnswerCase &c, std::ostream *os) { *os << c.name; }

class BridgeInvokeAnswers : public BridgeInvoke, public ::testing::WithParamInterface<AnswerCase> {};

// Whatever the service answers is the result; ids it does not know are
// sent all the same, and every client kind reaches the same service.
TEST_P(BridgeInvokeAnswers, ReturnsTheServicesAnswer) {
    const AnswerCase &c = GetParam();
    EXPECT_EQ(invoke_gemx_ui(c.client_kind, c.op_id, c.args), c.result);
    std::vector<std::string> lines = traced();
    EXPECT_EQ(lines.size(), 13u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BridgeInvokeAnswers,
                         ::testing::Values(AnswerCase{"no_operation", 0, 0, "", 0},
                                           AnswerCase{"find_merge", 0, 2, "", 0},
                                           AnswerCase{"unknown_id", 0, 7, "", 1},
                                           AnswerCase{"negative_id", 0, -5, "", 1},
                                           AnswerCase{"bad_option", 0, 1, "-bogus", 1},
                                           AnswerCase{"request_end_inside_args", 0, 0, "<request_end>", 1},
                                           AnswerCase{"other_kind", 12345, 0, "", 0},
                                           AnswerCase{"negative_kind", -1, 0, "", 0}),
                         [](const ::testing::TestParamInfo<AnswerCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- calls without a trace -------------------------------------------------

struct UntracedCase {
    const char *name;
    const char *value;  // null: the variable is not set
};

// Cases show by name in test listings.
void PrintTo(const UntracedCase &c, std::ostream *os) { *os << c.name; }

class BridgeInvokeUntraced : public BridgeInvoke, public ::testing::WithParamInterface<UntracedCase> {};

// Whether or not the log can be written, the calls give the same results,
// and no file appears.
TEST_P(BridgeInvokeUntraced, GivesTheSameResultsAndWritesNothing) {
    std::string value = GetParam().value ? GetParam().value : "";
    if (value == "missing") value = trace_dir_.file("missing");
    if (value == "long") value = trace_dir_.path() + kestrin_test::separator() + std::string(240, 'l');
    ScopedEnv setting(kTraceDirVariable, GetParam().value ? value.c_str() : nullptr);
    EXPECT_EQ(invoke_gemx_ui(0, 0, ""), 0);
    EXPECT_EQ(invoke_gemx_ui(0, 7, ""), 1);
    EXPECT_EQ(invoke_gemx_ui(0, 1, "-bogus"), 1);
    EXPECT_TRUE(traced().empty());
    EXPECT_TRUE(std::filesystem::is_empty(trace_dir_.path()));
}

INSTANTIATE_TEST_SUITE_P(Settings, BridgeInvokeUntraced,
                         ::testing::Values(UntracedCase{"unset", nullptr}, UntracedCase{"empty", ""},
                                           UntracedCase{"missing_directory", "missing"},
                                           UntracedCase{"path_too_long", "long"}),
                         [](const ::testing::TestParamInfo<UntracedCase> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
