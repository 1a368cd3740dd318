// The history syntax: flags, groups, selector kinds, -vob, -avo[bs],
// -pna[me] and the call of the object-selector conversion (a recording
// stand-in here).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cmdsyn.h"
#include "cmdsyn_test_util.h"
#include "fake_veyracmdsyn.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::expect_operands;
using cmdsyn_test::expect_text;
using cmdsyn_test::expect_zero;
using cmdsyn_test::ScopedArea;

// The out-parameter's value before each parse, to see when it stays.
constexpr int32_t kUnchanged = -77;

const std::map<std::string, int32_t history_args::*> kFlagWords = {
    {"pname", &history_args::pname},   {"recurse", &history_args::recurse}, {"directory", &history_args::directory},
    {"all", &history_args::all},       {"avobs", &history_args::avobs},     {"local", &history_args::local},
    {"minor", &history_args::minor},   {"nco", &history_args::nco},         {"help", &history_args::help},
};

// What the parse should leave in the record.
struct Record {
    std::vector<std::string> flags;  // flag words set to 1; all others 0
    const char *user = nullptr;
    const char *branch = nullptr;
    std::vector<std::string> operands = {};
};

// The call of the conversion a case expects.
struct Conversion {
    int kind;
    const char *vob;
    std::vector<std::string> operands;
};

struct Parse {
    int32_t result;
    int32_t kind;  // out-parameter afterwards
    std::string output;
    history_args rec;
};

Parse parse(const char *args, stg_area_t area, int conversion_result = 0) {
    fake_objsels::reset(conversion_result);
    Parse p{-1, kUnchanged, "", {}};
    std::memset(&p.rec, 0x5a, sizeof p.rec);
    p.output = captured([&] { p.result = cmdsyn_history(args, area, &p.rec, &p.kind); });
    return p;
}

void expect_record(const history_args &rec, stg_area_t area, const Record &want) {
    EXPECT_EQ(rec.code, 5);
    EXPECT_EQ(rec.area, area);
    for (const auto &[name, word] : kFlagWords) {
        const bool set = std::find(want.flags.begin(), want.flags.end(), name) != want.flags.end();
        EXPECT_EQ(rec.*word, set ? 1 : 0) << name;
    }
    expect_text(rec.user, want.user, "user");
    expect_text(rec.branch, want.branch, "branch");
    expect_operands(rec.argv, rec.argc, want.operands);
    expect_zero(rec.reserved_5_6, "words 5-6");
    expect_zero(rec.reserved_15_16, "words 15-16");
    expect_zero(rec.reserved_19_22, "words 19-22");
}

void expect_conversion(const history_args &rec, stg_area_t area, const Conversion *want) {
    const std::vector<fake_objsels::Call> calls = fake_objsels::calls();
    if (!want) {
        EXPECT_TRUE(calls.empty()) << "the conversion is not called";
        return;
    }
    ASSERT_EQ(calls.size(), 1u) << "the conversion is called once";
    const fake_objsels::Call &call = calls[0];
    EXPECT_EQ(call.kind, want->kind);
    EXPECT_EQ(call.has_vob, want->vob != nullptr);
    if (want->vob) {
        EXPECT_EQ(call.vob, want->vob);
    }
    EXPECT_EQ(call.operands, want->operands);
    EXPECT_EQ(call.argc, static_cast<int>(want->operands.size()));
    EXPECT_EQ(call.argv, rec.argv) << "the record's own array is handed over";
    EXPECT_EQ(call.argc, rec.argc);
    EXPECT_EQ(call.area, area);
}

TEST(History, FlagOptions) {
    struct Case {
        const char *args;
        Record want;
    };
    const Case cases[] = {
        {"", {}},
        {"-r", {{"recurse"}}},
        {"-recurse f1", {{"recurse"}, nullptr, nullptr, {"f1"}}},
        {"-d", {{"directory"}}},
        {"-directory", {{"directory"}}},
        {"-a", {{"all"}}},
        {"-all", {{"all"}}},
        {"-avo", {{"avobs"}}},
        {"-avobs", {{"avobs"}}},
        {"-local", {{"local"}}},
        {"-h", {{"help"}}},
        {"-help", {{"help"}}},
        {"-min", {{"minor"}}},
        {"-minor", {{"minor"}}},
        {"-nco", {{"nco"}}},
        {"-pna f1", {{"pname"}, nullptr, nullptr, {"f1"}}},
        {"-pname f1", {{"pname"}, nullptr, nullptr, {"f1"}}},
        {"-nop", {}},
        {"-nopreferences", {}},
        {"-min -nco -local -help -pname", {{"minor", "nco", "local", "help", "pname"}}},
        {"-use u1 f1", {{}, "u1", nullptr, {"f1"}}},
        {"-user u1 f1", {{}, "u1", nullptr, {"f1"}}},
        {"-bra b1 f1 f2", {{}, nullptr, "b1", {"f1", "f2"}}},
        {"-branch b1 -user u1 -user u2", {{}, "u2", "b1"}},
        {"f1 f2", {{}, nullptr, nullptr, {"f1", "f2"}}},
        {"-all -- -f1", {{"all"}, nullptr, nullptr, {"-f1"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        const Parse p = parse(c.args, area.get());
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.kind, 0);
        EXPECT_EQ(p.output, "") << "no help text or other message is printed";
        expect_record(p.rec, area.get(), c.want);
        expect_conversion(p.rec, area.get(), nullptr);
    }
}

TEST(History, TypeOptionsChooseTheSelectorKind) {
    struct Case {
        const char *shortest;
        const char *full;
        int kind;
    };
    const Case cases[] = {
        {"-hli", "-hlink", 10},    {"-poo", "-pool", 12},      {"-elt", "-eltype", 13},   {"-brt", "-brtype", 14},
        {"-att", "-attype", 15},   {"-hlt", "-hltype", 16},    {"-trt", "-trtype", 17},   {"-rptt", "-rpttype", 18},
        {"-lbt", "-lbtype", 20},   {"-vre", "-vreplica", 24},  {"-act", "-actype", 27},   {"-stt", "-sttype", 29},
    };
    for (const Case &c : cases) {
        for (const char *typed : {c.shortest, c.full}) {
            SCOPED_TRACE(typed);
            ScopedArea area;
            const std::string with_operands = std::string(typed) + " X1 X2";
            Parse p = parse(with_operands.c_str(), area.get());
            EXPECT_EQ(p.result, 0);
            EXPECT_EQ(p.kind, c.kind);
            expect_record(p.rec, area.get(), {{}, nullptr, nullptr, {"X1", "X2"}});
            const Conversion conversion{c.kind, nullptr, {"X1", "X2"}};
            expect_conversion(p.rec, area.get(), &conversion);

            p = parse(typed, area.get());
            EXPECT_EQ(p.result, 1001) << "a type option needs an operand";
            EXPECT_EQ(p.kind, c.kind) << "the kind reached so far is handed back";
            EXPECT_EQ(p.output, "");
            expect_conversion(p.rec, area.get(), nullptr);
        }
        const std::string too_short(c.shortest, std::strlen(c.shortest) - 1);
        ScopedArea area;
        const Parse p = parse((too_short + " X1").c_str(), area.get());
        EXPECT_EQ(p.result, 1001) << too_short;
        EXPECT_NE(p.output.find("option \"" + too_short + "\""), std::string::npos) << p.output;
    }
}

// The outcomes that matter to the history operation, with what the
// out-parameter, the record and the conversion see.
TEST(History, Outcomes) {
    struct Case {
        const char *args;
        int conversion_result;
        int32_t result;
        int32_t kind;
        const char *output;
        Record want;
        bool converted;
        Conversion conversion;
    };
    const Case cases[] = {
        {"-vob v", 0, 0, 1, "", {{}, nullptr, nullptr, {"v"}}, true, {1, "v", {"v"}}},
        {"-vob \"my vob\"", 0, 0, 1, "", {{}, nullptr, nullptr, {"my vob"}}, true, {1, "my vob", {"my vob"}}},
        {"-vob v", 5, 5, kUnchanged, "", {{}, nullptr, nullptr, {"v"}}, true, {1, "v", {"v"}}},
        {"-vob v", 1001, 1001, kUnchanged, "", {{}, nullptr, nullptr, {"v"}}, true, {1, "v", {"v"}}},
        {"-lbtype L1", 0, 0, 20, "", {{}, nullptr, nullptr, {"L1"}}, true, {20, nullptr, {"L1"}}},
        {"-lbtype L1", -3, -3, kUnchanged, "", {{}, nullptr, nullptr, {"L1"}}, true, {20, nullptr, {"L1"}}},
        {"-vob v -lbtype L1 L2", 0, 0, 20, "", {{}, nullptr, nullptr, {"L1", "L2"}}, true, {20, "v", {"L1", "L2"}}},
        {"-nco -eltype E1", 0, 0, 13, "", {{"nco"}, nullptr, nullptr, {"E1"}}, true, {13, nullptr, {"E1"}}},
        {"-vob v f1", 0, 1001, 0, "", {{}, nullptr, nullptr, {"f1"}}, false, {}},
        {"-pname -lbtype L1", 0, 1001, kUnchanged, "", {{"pname"}, nullptr, nullptr, {"L1"}}, false, {}},
        {"-pname -vob v", 0, 1001, kUnchanged, "", {{"pname"}}, false, {}},
        {"-avobs f1", 0, 1001, 0, "[message 99: f1]\n", {{"avobs"}}, false, {}},
        {"-avobs -- f1 f2", 0, 1001, 0, "[message 99: f1]\n", {{"avobs"}}, false, {}},
        {"-user", 0, 1001, 0, "", {}, false, {}},
        {"-branch", 0, 1001, 0, "", {}, false, {}},
        {"-vob", 0, 1001, 0, "", {}, false, {}},
        {"-user -vob v", 0, 1001, 0, "", {}, false, {}},
        {"-lbtype -user u1", 0, 1001, 20, "", {{}, "u1"}, false, {}},
        {"-lbtype L1 -user u1", 0, 1001, 20, "Option \"-user\" must come before the operands\n", {}, false, {}},
        {"f1 -all", 0, 1001, 0, "Option \"-all\" must come before the operands\n", {}, false, {}},
        {"-all -recurse", 0, 1001, 0, "Options \"-all\" and \"-recurse\" cannot be used together\n", {}, false, {}},
        {"-lbt x -elt y", 0, 1001, 0, "Options \"-lbtype\" and \"-eltype\" cannot be used together\n", {}, false, {}},
        {"-avobs -local", 0, 1001, 0, "Options \"-avobs\" and \"-local\" cannot be used together\n", {}, false, {}},
        {"-branch b -vob v", 0, 1001, 0, "Options \"-branch\" and \"-vob\" cannot be used together\n", {}, false, {}},
        {"-lbtype L1 -lbtype L2", 0, 1001, 20, "Option \"-lbtype\" must come before the operands\n", {}, false, {}},
        {"-lbtype -lbtype L2", 0, 0, 20, "", {{}, nullptr, nullptr, {"L2"}}, true, {20, nullptr, {"L2"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args + ", conversion gives " + std::to_string(c.conversion_result));
        ScopedArea area;
        const Parse p = parse(c.args, area.get(), c.conversion_result);
        EXPECT_EQ(p.result, c.result);
        EXPECT_EQ(p.kind, c.kind);
        EXPECT_EQ(p.output, c.output);
        expect_record(p.rec, area.get(), c.want);
        expect_conversion(p.rec, area.get(), c.converted ? &c.conversion : nullptr);
    }
}

TEST(History, FailuresBeforeTheRecordIsSetUp) {
    for (const char *args : {"-zz", "-hl f1", "f1 \"f2", "-avob\"s"}) {
        SCOPED_TRACE(args);
        ScopedArea area;
        const Parse p = parse(args, area.get());
        EXPECT_EQ(p.result, 1001);
        EXPECT_EQ(p.kind, 0) << "the kind is 0 when no handle could be made";
        EXPECT_NE(p.output, "");
        history_args junk;
        std::memset(&junk, 0x5a, sizeof junk);
        EXPECT_EQ(std::memcmp(&p.rec, &junk, sizeof junk), 0) << "the record is untouched";
        expect_conversion(p.rec, area.get(), nullptr);
    }
}

TEST(History, ManyTypedOperandsReachTheConversion) {
    std::vector<std::string> want;
    const std::string args = "-elt " + cmdsyn_test::numbered_words(600, "e", &want);
    ScopedArea area;
    const Parse p = parse(args.c_str(), area.get());
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.kind, 13);
    expect_operands(p.rec.argv, p.rec.argc, want);
    const Conversion conversion{13, nullptr, want};
    expect_conversion(p.rec, area.get(), &conversion);
}

TEST(History, NullPointers) {
    ScopedArea area;
    history_args rec;
    fake_objsels::reset(0);
    EXPECT_EQ(cmdsyn_history("-lbtype L1", area.get(), &rec, nullptr), 0) << "the kind may be left out";
    EXPECT_EQ(fake_objsels::calls().size(), 1u);
    int32_t kind = kUnchanged;
    EXPECT_EQ(cmdsyn_history("f1", area.get(), nullptr, &kind), 1001);
    EXPECT_EQ(kind, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(cmdsyn_history(nullptr, area.get(), &rec, &kind), 1001);
    testing::internal::GetCapturedStdout();
}

}  // namespace
