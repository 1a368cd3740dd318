// proc_req over the recording operations API: the order of its checks and
// their trace messages, the conversion of the operation id, and the
// dispatch to the adapters with the helper handle's current value.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_gemxapis.h"
#include "service_internal.h"
#include "service_test_util.h"

namespace {

using fake_gemxapis::Call;
using service_test::ops_line;
using service_test::request;
using service_test::svc_line;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr gemx_api_handle_t kHandle = 4711;

class ProcReqTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_gemxapis::reset();
        helper_handle.store(kHandle);
    }
    void TearDown() override { helper_handle.store(0); }

    // The client cwd: a real folder, so that vtree's operand resolves.
    const std::string &cwd() const { return dir_.path(); }

    // The trace of a proc_req that stopped with message (empty: none).
    static std::vector<std::string> stopped_with(const std::string &message) {
        std::vector<std::string> lines{svc_line("proc_req", "Entering")};
        if (!message.empty()) lines.push_back(svc_line("proc_req", message));
        lines.push_back(svc_line("proc_req", "Exiting"));
        return lines;
    }

private:
    kestrin_test::TempDir dir_{"procreq"};
};

// Requests that proc_req refuses before any adapter runs, with the message
// of the first check that fails.
TEST_F(ProcReqTest, RefusedRequestsNameTheFirstFailingCheck) {
    const std::string r = request_start_tag, re = request_end_tag;
    const std::string o = op_id_start_tag, oe = op_id_end_tag;
    const std::string a = args_start_tag, ae = args_end_tag;
    const std::string c = cwd_start_tag, ce = cwd_end_tag;
    const std::string all_but_op = a + ae + c + "x" + ce;
    struct Case {
        const char *name;
        std::string message;
        const char *trace;
    };
    const std::vector<Case> cases = {
        {"empty message", "", "Error in processing request"},
        {"no request start", o + "0" + oe + all_but_op + re, "Error in processing request"},
        {"no request end", r + o + "0" + oe + all_but_op, "Error in processing request"},
        {"fields outside the request", o + "0" + oe + all_but_op + r + re, "Error in processing op"},
        {"no op start", r + "0" + oe + all_but_op + re, "Error in processing op"},
        {"no op end", r + o + "0" + all_but_op + re, "Error in processing op"},
        {"op of letters", request("abc", "", "x"), "Error in processing op"},
        {"empty op", request("", "", "x"), "Error in processing op"},
        {"op of a sign alone", request("-", "", "x"), "Error in processing op"},
        {"op above the range", request("2147483648", "", "x"), "Error in processing op"},
        {"op below the range", request("-2147483649", "", "x"), "Error in processing op"},
        {"op 0 without args", r + o + "0" + oe + c + "x" + ce + re, "Error in processing args"},
        {"op 0 without args end", r + o + "0" + oe + a + c + "x" + ce + re, "Error in processing args"},
        {"op 2 without args", r + o + "2" + oe + c + "x" + ce + re, "Error in processing args"},
        {"op 1 without args", r + o + "1" + oe + c + "x" + ce + re, "Error in processing args"},
        {"op 0 without cwd", r + o + "0" + oe + a + ae + re, "Error in processing cwd"},
        {"op 0 without cwd end", r + o + "0" + oe + a + ae + c + "x" + re, "Error in processing cwd"},
        {"op 2 without cwd", r + o + "2" + oe + a + ae + re, "Error in processing cwd"},
        {"op 3 without cwd", r + o + "3" + oe + a + ae + re, "Error in processing cwd"},
        {"no op and no args", r + c + "x" + ce + re, "Error in processing op"},
        {"bad op and no cwd", r + o + "x" + oe + a + ae + re, "Error in processing op"},
        {"no args and no cwd", r + o + "0" + oe + re, "Error in processing args"},
        {"args holding the request end", request("0", "a" + re + "b", "x"), "Error in processing args"},
        {"op -1", request("-1", "", "x"), "Unknown operation called"},
        {"op 7", request("7", "", "x"), "Unknown operation called"},
        {"op 9", request("9", "", "x"), "Unknown operation called"},
        {"op 2147483647", request("2147483647", "", "x"), "Unknown operation called"},
        {"op -2147483648", request("-2147483648", "", "x"), "Unknown operation called"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        fake_gemxapis::reset();
        EXPECT_EQ(proc_req(k.message), 1);
        EXPECT_EQ(fake_gemxapis::trace(), stopped_with(k.trace));
        EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
    }
}

// Every operation id 0 to 6 reaches its adapter (or, for 0, none) with the
// fields of the request; the operation-id text converts as the protocol
// says.
TEST_F(ProcReqTest, DispatchesByOperationId) {
    const std::string f = service_test::join(cwd(), "f.c");
    struct Case {
        const char *name;
        std::string message;
        std::vector<Call> calls;
    };
    const std::vector<Case> cases = {
        {"0", request("0", "ignored -x", cwd()), {}},
        {"0 without a cwd value", request("0", "", ""), {}},
        {"-0", request("-0", "", cwd()), {}},
        {"0x10 reads as 0", request("0x10", "", cwd()), {}},
        {"1 deliver", request("1", "-str s1", cwd()), {fake_gemxapis::deliver(kHandle, cwd())}},
        {"2 find merge ignores its args", request("2", "-bogus \"open", "not a dir"),
         {fake_gemxapis::find_merge(kHandle)}},
        {"3 history", request("3", "", cwd()), {fake_gemxapis::history(kHandle, cwd())}},
        {"4 rebase", request("4", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"5 update", request("5", "", cwd()), {fake_gemxapis::update(kHandle, {cwd()})}},
        {"6 vtree", request("6", "f.c", cwd()), {fake_gemxapis::vtree(kHandle, f, 0)}},
        {"blank before 4", request(" 4", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"tab before 4", request("\t4", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"plus sign", request("+4", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"newline after 4", request("4\n", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"letters after 4", request("4abc", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
        {"leading zeros", request("0004", "", cwd()), {fake_gemxapis::rebase(kHandle, cwd())}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        fake_gemxapis::reset();
        EXPECT_EQ(proc_req(k.message), 0);
        EXPECT_EQ(fake_gemxapis::calls(), k.calls);
    }
}

// Operation 0 writes nothing besides proc_req's own scope; an adapter's
// scope lies inside proc_req's.
TEST_F(ProcReqTest, TraceOfADispatch) {
    EXPECT_EQ(proc_req(request("0", "", "")), 0);
    EXPECT_EQ(fake_gemxapis::trace(), stopped_with(""));

    fake_gemxapis::reset();
    EXPECT_EQ(proc_req(request("1", "", cwd())), 0);
    EXPECT_THAT(fake_gemxapis::trace(),
                ElementsAre(svc_line("proc_req", "Entering"), ops_line("deliver", "Entering"),
                            ops_line("deliver", "Exiting"), svc_line("proc_req", "Exiting")));
}

// The fields may stand in any order inside the request, and their values
// reach the adapter byte for byte.
TEST_F(ProcReqTest, FieldsInAnyOrderAndPassedUnchanged) {
    const std::string odd_cwd = "  spaced \"cwd\" \\ with % signs  ";
    const std::string message = std::string(request_start_tag) + cwd_start_tag + odd_cwd + cwd_end_tag +
                                args_start_tag + args_end_tag + op_id_start_tag + "4" + op_id_end_tag +
                                request_end_tag;
    EXPECT_EQ(proc_req(message), 0);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::rebase(kHandle, odd_cwd)});
}

// A failing adapter makes the answer 1, whatever the API's nonzero result.
TEST_F(ProcReqTest, AdapterFailureAnswersOne) {
    for (int api_result : {1, 2, -1, 101}) {
        SCOPED_TRACE(api_result);
        fake_gemxapis::reset();
        fake_gemxapis::script("deliver", {api_result});
        EXPECT_EQ(proc_req(request("1", "", cwd())), 1);
        EXPECT_EQ(fake_gemxapis::calls().size(), 1u);
    }
}

// The handle is read at dispatch: whatever value it holds at that moment is
// the one the API gets, 0 included.
TEST_F(ProcReqTest, PassesTheHelperHandlesCurrentValue) {
    for (gemx_api_handle_t value : {gemx_api_handle_t{0}, gemx_api_handle_t{1}, gemx_api_handle_t{-7},
                                    gemx_api_handle_t{0x7fffffff}}) {
        SCOPED_TRACE(value);
        fake_gemxapis::reset();
        helper_handle.store(value);
        proc_req(request("2", "", ""));
        proc_req(request("4", "", cwd()));
        EXPECT_EQ(fake_gemxapis::calls(),
                  (std::vector<Call>{fake_gemxapis::find_merge(value), fake_gemxapis::rebase(value, cwd())}));
    }
}

}  // namespace
