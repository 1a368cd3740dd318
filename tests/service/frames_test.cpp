// The adapters' frame over stand-in parsers and areas: the storage area is
// made with 4096, handed to the parser and freed once with 1 on every way
// out; no area means no parse and no API call; and record contents that
// the real parsers never produce (no operand, a null operand, a negative
// count) are answered with 1 instead of crashing or reporting success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fake_gemxapis.h"
#include "fake_parsers.h"
#include "service_internal.h"
#include "service_test_util.h"

namespace {

using fake_gemxapis::Call;
using service_test::join;
using service_test::ops_line;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr gemx_api_handle_t kHandle = 99;

using Adapter = std::function<int(gemx_api_handle_t, std::string, std::string)>;

struct Named {
    const char *name;
    Adapter adapter;
};

const std::vector<Named> &parsing_adapters() {
    static const std::vector<Named> all = {
        {"deliver", deliver}, {"rebase", rebase}, {"history", history}, {"update", update}, {"vtree", vtree}};
    return all;
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_gemxapis::reset();
        fake_parsers::reset();
    }
    std::string cwd() const { return dir_.path(); }

    // Expects exactly one area, made with 4096 and freed once with 1.
    static void expect_one_area_freed() {
        fake_parsers::AreaStats stats = fake_parsers::area_stats();
        EXPECT_THAT(stats.created_sizes, ElementsAre(4096));
        ASSERT_EQ(stats.made.size(), 1u);
        EXPECT_THAT(stats.freed, ElementsAre(stats.made[0]));
        EXPECT_THAT(stats.free_flags, ElementsAre(1));
    }

private:
    kestrin_test::TempDir dir_{"frames"};
};

// No storage area: the adapter answers 1 before parsing and calls nothing,
// and there is nothing to free.
TEST_F(FrameTest, NoAreaAnswersOneWithoutParseOrCall) {
    fake_parsers::set_areas_available(false);
    fake_parsers::script({0, {"f.c"}});
    for (const Named &a : parsing_adapters()) {
        SCOPED_TRACE(a.name);
        fake_gemxapis::reset();
        EXPECT_EQ(a.adapter(kHandle, "f.c", cwd()), 1);
        EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
    }
    EXPECT_THAT(fake_parsers::parses(), IsEmpty());
    EXPECT_THAT(fake_parsers::area_stats().freed, IsEmpty());
    // find_merge makes no area, so it still works.
    EXPECT_EQ(find_merge(kHandle), 0);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::find_merge(kHandle)});
}

// The parser gets the argument string and the adapter's own area (history
// also a selector-kind integer), and the area is freed once on every path.
TEST_F(FrameTest, AreaIsHandedToTheParserAndFreedOnEveryPath) {
    struct Path {
        const char *name;
        fake_parsers::Script script;
        std::vector<int> api_results;
    };
    const std::vector<Path> paths = {
        {"parse fails", {1001, {"f.c"}}, {}},
        {"parse fails with another code", {1002, {"f.c"}}, {}},
        {"operation succeeds", {0, {"f.c"}}, {}},
        {"operation fails", {0, {"f.c"}}, {5, 5}},
        {"resolution fails", {0, {"f.c", nullptr}}, {}},
    };
    for (const Named &a : parsing_adapters()) {
        for (const Path &p : paths) {
            SCOPED_TRACE(std::string(a.name) + ": " + p.name);
            fake_gemxapis::reset();
            fake_parsers::reset();
            fake_parsers::script(p.script);
            fake_gemxapis::script(a.name, p.api_results);
            a.adapter(kHandle, "the args", cwd());
            std::vector<fake_parsers::Parse> parses = fake_parsers::parses();
            ASSERT_EQ(parses.size(), 1u);
            EXPECT_EQ(parses[0].parser, a.name);
            EXPECT_EQ(parses[0].args, "the args");
            EXPECT_EQ(parses[0].has_kind, std::string(a.name) == "history");
            ASSERT_EQ(fake_parsers::area_stats().made.size(), 1u);
            EXPECT_EQ(parses[0].area, fake_parsers::area_stats().made[0]);
            expect_one_area_freed();
        }
    }
}

// Any nonzero parser result is a parse failure: 1, its message, no call.
TEST_F(FrameTest, AnyNonzeroParseResultFails) {
    for (int code : {1001, 1002, 1003, 1, -1}) {
        for (const Named &a : parsing_adapters()) {
            SCOPED_TRACE(std::string(a.name) + " " + std::to_string(code));
            fake_gemxapis::reset();
            fake_parsers::reset();
            fake_parsers::script({code, {"f.c"}});
            EXPECT_EQ(a.adapter(kHandle, "", cwd()), 1);
            EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
            EXPECT_EQ(fake_gemxapis::trace(),
                      (std::vector<std::string>{ops_line(a.name, "Entering"),
                                                ops_line(a.name, "error occurred while parsing arguments"),
                                                ops_line(a.name, "Exiting")}));
        }
    }
}

// vtree needs a first operand: a parse that succeeds without one (no
// count, a null array, a null first entry) is answered with 1 and no call.
TEST_F(FrameTest, VtreeWithoutAFirstOperandAnswersOne) {
    struct Case {
        const char *name;
        fake_parsers::Script script;
    };
    fake_parsers::Script no_array{0, {"f.c"}};
    no_array.null_array = true;
    fake_parsers::Script negative{0, {"f.c"}};
    negative.argc = -2;
    const std::vector<Case> cases = {
        {"no operands", {0, {}}},
        {"a null first operand", {0, {nullptr}}},
        {"a null first of two", {0, {nullptr, "g.c"}}},
        {"a null array", no_array},
        {"a negative count", negative},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        fake_gemxapis::reset();
        fake_parsers::reset();
        fake_parsers::script(k.script);
        EXPECT_EQ(vtree(kHandle, "", cwd()), 1);
        EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
        expect_one_area_freed();
    }
}

// A null operand cannot be resolved: history stops there after the calls
// before it, update makes no call; both answer 1 without crashing.
TEST_F(FrameTest, NullOperandFailsTheResolution) {
    const std::vector<std::string> failed = {
        ops_line("make_abs_pn", "Entering"), ops_line("make_abs_pn", "error while converting to abs pn"),
        ops_line("make_abs_pn", "Exiting")};
    fake_parsers::script({0, {"a.c", nullptr, "b.c"}});
    EXPECT_EQ(history(kHandle, "", cwd()), 1);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::history(kHandle, join(cwd(), "a.c"))});
    std::vector<std::string> trace = fake_gemxapis::trace();
    EXPECT_NE(std::search(trace.begin(), trace.end(), failed.begin(), failed.end()), trace.end());
    EXPECT_EQ(trace[trace.size() - 2], ops_line("history", "error making abs pname"));

    fake_gemxapis::reset();
    EXPECT_EQ(update(kHandle, "", cwd()), 1);
    EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
    trace = fake_gemxapis::trace();
    EXPECT_NE(std::search(trace.begin(), trace.end(), failed.begin(), failed.end()), trace.end());
    EXPECT_EQ(trace[trace.size() - 2], ops_line("update", "error making abs pname"));
}

// A count without an operand array, or a negative count, is no list of
// operands: history and update answer 1 and call nothing, rather than read
// through a null array or report success without a call.
TEST_F(FrameTest, BrokenOperandCountsAnswerOne) {
    fake_parsers::Script no_array{0, {"a.c"}};
    no_array.null_array = true;
    fake_parsers::Script negative{0, {"a.c"}};
    negative.argc = -3;
    for (const fake_parsers::Script &s : {no_array, negative}) {
        for (const Named &a : {Named{"history", history}, Named{"update", update}}) {
            SCOPED_TRACE(std::string(a.name) + (s.null_array ? " null array" : " negative count"));
            fake_gemxapis::reset();
            fake_parsers::reset();
            fake_parsers::script(s);
            EXPECT_EQ(a.adapter(kHandle, "", cwd()), 1);
            EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
            expect_one_area_freed();
        }
    }
}

// Many operands: every one resolved and copied into the one path list.
TEST_F(FrameTest, UpdateCopiesEveryResolvedOperand) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("f" + std::to_string(i) + ".c");
    fake_parsers::Script s;
    std::vector<std::string> expected;
    for (const std::string &n : names) {
        s.operands.push_back(n.c_str());
        expected.push_back(join(cwd(), n));
    }
    fake_parsers::script(s);
    EXPECT_EQ(update(kHandle, "", cwd()), 0);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::update(kHandle, expected)});
}

}  // namespace
