// The deliver and rebase syntaxes: options with arguments, query modes, the
// record words they fill and the failures they report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cmdsyn.h"
#include "cmdsyn_test_util.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::expect_text;
using cmdsyn_test::expect_zero;
using cmdsyn_test::ScopedArea;

constexpr unsigned char kJunk = 0x5a;

// What a case expects of the parse. untouched: the record keeps the junk it
// was filled with (the handle could not be made).
struct DeliverCase {
    const char *args;
    int32_t result;
    const char *stream;
    const char *to;
    const char *target;
    int32_t query;
    const char *output;
    bool untouched = false;
};

void expect_deliver(const deliver_args &rec, stg_area_t area, const DeliverCase &want) {
    EXPECT_EQ(rec.code, 4);
    EXPECT_EQ(rec.area, area);
    expect_text(rec.stream, want.stream, "stream");
    expect_text(rec.to, want.to, "to");
    expect_text(rec.target, want.target, "target");
    EXPECT_EQ(rec.query, want.query);
    expect_zero(rec.reserved_3_5, "words 3-5");
    expect_zero(rec.reserved_9_25, "words 9-25");
    expect_zero(rec.reserved_27_31, "words 27-31");
}

bool untouched(const void *rec, std::size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(rec);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != kJunk) return false;
    }
    return true;
}

TEST(Deliver, ArgumentStrings) {
    const DeliverCase cases[] = {
        {"", 0, nullptr, nullptr, nullptr, 0, ""},
        {"-stream s1 -to t1 -target x1 -qall", 0, "s1", "t1", "x1", 11, ""},
        {"-str s1 -tar x1 -to t1", 0, "s1", "t1", "x1", 0, ""},
        {"-q", 0, nullptr, nullptr, nullptr, 9, ""},
        {"-query", 0, nullptr, nullptr, nullptr, 9, ""},
        {"-qal", 0, nullptr, nullptr, nullptr, 11, ""},
        {"-q -query", 0, nullptr, nullptr, nullptr, 9, ""},
        {"-qall -str s", 0, "s", nullptr, nullptr, 11, ""},
        {"-str s1 -str s2", 0, "s2", nullptr, nullptr, 0, ""},
        {"-str \"my stream\" -to C:\\views\\t1", 0, "my stream", "C:\\views\\t1", nullptr, 0, ""},
        {"-to -", 0, nullptr, "-", nullptr, 0, ""},
        {"-str \"\"", 0, "", nullptr, nullptr, 0, ""},
        {"-stream s1 extra words", 0, "s1", nullptr, nullptr, 0, ""},
        {"-str", 1001, nullptr, nullptr, nullptr, 0, ""},
        {"-tar", 1001, nullptr, nullptr, nullptr, 0, ""},
        {"-to t1 -str", 1001, nullptr, "t1", nullptr, 0, ""},
        {"-str -to t1", 1001, nullptr, "t1", nullptr, 0, ""},
        {"-str -- t1", 1001, nullptr, nullptr, nullptr, 0, ""},
        {"-q -qall", 1001, nullptr, nullptr, nullptr, 0, "Options \"-query\" and \"-qall\" cannot be used together\n"},
        {"extra -q", 1001, nullptr, nullptr, nullptr, 0, "Option \"-q\" must come before the operands\n"},
        {"-zz", 1001, nullptr, nullptr, nullptr, 0, "Unrecognized option \"-zz\"\n", true},
        {"-st s1", 1001, nullptr, nullptr, nullptr, 0, "Unrecognized option \"-st\"\n", true},
        {"-STREAM s1", 1001, nullptr, nullptr, nullptr, 0, "Unrecognized option \"-STREAM\"\n", true},
        {"-view v", 1001, nullptr, nullptr, nullptr, 0, "Unrecognized option \"-view\"\n", true},
        {"-str \"s1", 1001, nullptr, nullptr, nullptr, 0, "Unbalanced quote (\") in the arguments\n", true},
    };
    for (const DeliverCase &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        deliver_args rec;
        std::memset(&rec, kJunk, sizeof rec);
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_deliver(c.args, area.get(), &rec); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(output, c.output);
        if (c.untouched) {
            EXPECT_TRUE(untouched(&rec, sizeof rec));
        } else {
            expect_deliver(rec, area.get(), c);
        }
    }
}

struct RebaseCase {
    const char *args;
    int32_t result;
    const char *view;
    const char *stream;
    int32_t query;
    const char *output;
    bool untouched = false;
};

void expect_rebase(const rebase_args &rec, stg_area_t area, const RebaseCase &want) {
    EXPECT_EQ(rec.code, 2);
    EXPECT_EQ(rec.area, area);
    expect_text(rec.view, want.view, "view");
    expect_text(rec.stream, want.stream, "stream");
    EXPECT_EQ(rec.query, want.query);
    expect_zero(rec.reserved_3_4, "words 3-4");
    expect_zero(rec.reserved_7_21, "words 7-21");
    expect_zero(rec.reserved_23_27, "words 23-27");
}

TEST(Rebase, ArgumentStrings) {
    const RebaseCase cases[] = {
        {"", 0, nullptr, nullptr, 0, ""},
        {"-view myview", 0, "myview", nullptr, 0, ""},
        {"-vie v -str s -q", 0, "v", "s", 9, ""},
        {"-stream s -qall", 0, nullptr, "s", 11, ""},
        {"-qal -view v1 -view v2", 0, "v2", nullptr, 11, ""},
        {"-view", 1001, nullptr, nullptr, 0, ""},
        {"-stream s1 -view", 1001, nullptr, "s1", 0, ""},
        {"-vi v", 1001, nullptr, nullptr, 0, "Unrecognized option \"-vi\"\n", true},
        {"-to t", 1001, nullptr, nullptr, 0, "Unrecognized option \"-to\"\n", true},
        {"-q -qal", 1001, nullptr, nullptr, 0, "Options \"-query\" and \"-qall\" cannot be used together\n"},
        {"v1 -view v", 1001, nullptr, nullptr, 0, "Option \"-view\" must come before the operands\n"},
    };
    for (const RebaseCase &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        rebase_args rec;
        std::memset(&rec, kJunk, sizeof rec);
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_rebase(c.args, area.get(), &rec); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(output, c.output);
        if (c.untouched) {
            EXPECT_TRUE(untouched(&rec, sizeof rec));
        } else {
            expect_rebase(rec, area.get(), c);
        }
    }
}

TEST(DeliverRebase, TextsLiveInTheAreaNotInTheArgumentString) {
    ScopedArea area;
    std::string args = "-stream s1 -view v1";
    rebase_args rec;
    ASSERT_EQ(cmdsyn_rebase(args.c_str(), area.get(), &rec), 0);
    args.assign(args.size(), 'z');
    EXPECT_STREQ(rec.stream, "s1");
    EXPECT_STREQ(rec.view, "v1");
}

}  // namespace
