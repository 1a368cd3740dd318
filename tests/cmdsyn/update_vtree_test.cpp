// The update and vtree syntaxes: operands only, and flags with one or more
// operands.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cmdsyn.h"
#include "cmdsyn_test_util.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::expect_operands;
using cmdsyn_test::expect_zero;
using cmdsyn_test::ScopedArea;

struct UpdateCase {
    const char *args;
    int32_t result;
    std::vector<std::string> operands;
    const char *output;
};

TEST(Update, ArgumentStrings) {
    const UpdateCase cases[] = {
        {"", 0, {}, ""},
        {"   ", 0, {}, ""},
        {"a b c", 0, {"a", "b", "c"}, ""},
        {"\"a b\" c", 0, {"a b", "c"}, ""},
        {"C:\\src\\x.c ..\\y.c", 0, {"C:\\src\\x.c", "..\\y.c"}, ""},
        {"-- -x", 0, {"-x"}, ""},
        {"a -- -b", 0, {"a", "-b"}, ""},
        {"a\t-- -b -c", 0, {"a", "-b", "-c"}, ""},
        {"-", 0, {"-"}, ""},
        {"\"\"", 0, {""}, ""},
    };
    for (const UpdateCase &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        update_args rec;
        std::memset(&rec, 0x5a, sizeof rec);
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_update(c.args, area.get(), &rec); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(rec.code, 5);
        EXPECT_EQ(rec.area, area.get());
        expect_operands(rec.argv, rec.argc, c.operands);
        expect_zero(rec.reserved_3_17, "words 3-17");
        expect_zero(rec.reserved_20, "word 20");
    }
}

TEST(Update, OptionsAreRejectedWhenTheHandleIsMade) {
    const std::pair<const char *, const char *> cases[] = {
        {"-x", "Unrecognized option \"-x\"\n"},
        {"a -all b", "Unrecognized option \"-all\"\n"},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args);
        ScopedArea area;
        update_args rec{};
        rec.code = 77;
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_update(args, area.get(), &rec); });
        EXPECT_EQ(result, 1001);
        EXPECT_EQ(output, message);
        EXPECT_EQ(rec.code, 77) << "the record is untouched";
    }
}

struct VtreeCase {
    const char *args;
    int32_t result;
    int32_t all, nco, nmerge;
    std::vector<std::string> operands;
    const char *output;
};

TEST(Vtree, ArgumentStrings) {
    const VtreeCase cases[] = {
        {"-all -nco -nmerge d1 d2", 0, 1, 1, 1, {"d1", "d2"}, ""},
        {"-a -nme -nco d1", 0, 1, 1, 1, {"d1"}, ""},
        {"d1", 0, 0, 0, 0, {"d1"}, ""},
        {"-nco \"C:\\my files\\f.c\"", 0, 0, 1, 0, {"C:\\my files\\f.c"}, ""},
        {"-all -all d1", 0, 1, 0, 0, {"d1"}, ""},
        {"-nmerge -- -d1", 0, 0, 0, 1, {"-d1"}, ""},
        {"\"\"", 0, 0, 0, 0, {""}, ""},
        {"-all", 1001, 1, 0, 0, {}, ""},
        {"", 1001, 0, 0, 0, {}, ""},
        {"-nco --", 1001, 0, 1, 0, {}, ""},
        {"d1 -all", 1001, 0, 0, 0, {}, "Option \"-all\" must come before the operands\n"},
    };
    for (const VtreeCase &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        vtree_args rec;
        std::memset(&rec, 0x5a, sizeof rec);
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_vtree(c.args, area.get(), &rec); });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(rec.code, 1);
        EXPECT_EQ(rec.area, area.get());
        EXPECT_EQ(rec.all, c.all);
        EXPECT_EQ(rec.nco, c.nco);
        EXPECT_EQ(rec.nmerge, c.nmerge);
        expect_operands(rec.argv, rec.argc, c.operands);
        expect_zero(rec.reserved_5_7, "words 5-7");
        expect_zero(rec.reserved_9, "word 9");
        expect_zero(rec.reserved_12_14, "words 12-14");
    }
}

TEST(Vtree, UnknownOptionsLeaveTheRecordUntouched) {
    for (const char *args : {"-nc d1", "-alll d1", "-merge d1", "-ALL d1"}) {
        SCOPED_TRACE(args);
        ScopedArea area;
        vtree_args rec{};
        rec.code = 77;
        int32_t result = -1;
        const std::string output = captured([&] { result = cmdsyn_vtree(args, area.get(), &rec); });
        EXPECT_EQ(result, 1001);
        const std::string typed = std::string(args).substr(0, std::string(args).find(' '));
        EXPECT_EQ(output, "Unrecognized option \"" + typed + "\"\n");
        EXPECT_EQ(rec.code, 77);
    }
}

// Operand arrays of every collecting parser keep all operands in order
// across the block boundaries of the growth rule.
TEST(OperandArrays, ManyOperandsInOrder) {
    for (int n : {1, 2, 255, 256, 257, 512, 513, 600}) {
        SCOPED_TRACE("operands: " + std::to_string(n));
        std::vector<std::string> want;
        const std::string operands = cmdsyn_test::numbered_words(n, "f", &want);
        ScopedArea area;
        update_args update;
        ASSERT_EQ(cmdsyn_update(operands.c_str(), area.get(), &update), 0);
        expect_operands(update.argv, update.argc, want);
        vtree_args vtree;
        ASSERT_EQ(cmdsyn_vtree(("-nco " + operands).c_str(), area.get(), &vtree), 0);
        expect_operands(vtree.argv, vtree.argc, want);
        history_args history;
        int32_t kind = -1;
        ASSERT_EQ(cmdsyn_history(("-min " + operands).c_str(), area.get(), &history, &kind), 0);
        EXPECT_EQ(kind, 0);
        expect_operands(history.argv, history.argc, want);
    }
}

}  // namespace
