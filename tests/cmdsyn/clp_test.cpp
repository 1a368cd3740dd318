// The option parser of libveyraks through its clp_ calls: word splitting,
// matching, the order of options and operands, option arguments, groups,
// option names, malformed tables and misuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cmdsyn_test_util.h"
#include "veyraks.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::ScopedArea;

const clp_option_t kNoOptions[] = {{nullptr, CLP_FLAG_END, 0}};

const clp_option_t kOptions[] = {
    {"-str[eam]", 23, 0},
    {"-to", 26, 0},
    {CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0},
    {"-q[uery]", 19, 0},
    {"-qal[l]", 20, 0},
    {CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0},
    {"-a[ll]", 1, 0},
    {"-avo[bs]", 3, 0},
    {nullptr, CLP_FLAG_END, 0},
};

// One step of a walk through a handle, written as the call and what it
// gives: "flag 23", "flag none", "flag fails", "arg \"s1\"", "arg none",
// "arg fails".
using Step = std::string;

Step flag(int32_t value) { return "flag " + std::to_string(value); }
Step arg(const char *text) { return std::string("arg \"") + text + "\""; }
Step no_flag() { return "flag none"; }
Step no_arg() { return "arg none"; }
Step flag_fails() { return "flag fails"; }
Step arg_fails() { return "arg fails"; }

// Makes the calls of plan in order and describes what each gave.
std::vector<Step> run(clp_hdl_t *hdl, const std::vector<Step> &plan) {
    std::vector<Step> got;
    for (const Step &step : plan) {
        if (step.rfind("flag", 0) == 0) {
            int32_t value = -99;
            const int result = clp_get_next_flag_value(hdl, nullptr, &value);
            got.push_back(result == 0 ? flag(value) : result == CLP_NONE_LEFT ? no_flag() : flag_fails());
        } else {
            char *text = nullptr;
            const int result = clp_get_next_arg(hdl, &text);
            if (result == 0) {
                got.push_back(text ? arg(text) : "arg null");
            } else {
                got.push_back(result == CLP_NONE_LEFT ? no_arg() : arg_fails());
                if (text) got.push_back("text pointer written");
            }
        }
    }
    return got;
}

void walk(clp_hdl_t *hdl, const std::vector<Step> &plan) { EXPECT_EQ(run(hdl, plan), plan); }

// The operands of args under a table without options, or null when the
// handle cannot be made.
bool operands_of(const char *args, std::vector<std::string> *out, std::string *printed) {
    ScopedArea area;
    clp_hdl_t *hdl = nullptr;
    *printed = captured([&] { hdl = clp_create_hdl_using_string(args, kNoOptions, area.get()); });
    if (!hdl) return false;
    EXPECT_EQ(clp_switch_flags(hdl, kNoOptions, area.get()), 0);
    int32_t value = 0;
    EXPECT_EQ(clp_get_next_flag_value(hdl, nullptr, &value), CLP_NONE_LEFT);
    char *text = nullptr;
    while (clp_get_next_arg(hdl, &text) == 0) out->emplace_back(text);
    return true;
}

TEST(ClpWords, SplitsAtBlanksAndTabsWithQuotesGrouping) {
    struct Case {
        const char *args;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"", {}},
        {" \t  ", {}},
        {"a", {"a"}},
        {"a b", {"a", "b"}},
        {"a\tb", {"a", "b"}},
        {"  a  \t b  ", {"a", "b"}},
        {"a\"b c\"d", {"ab cd"}},
        {"\"a b\" c", {"a b", "c"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"\"\"\"\"", {""}},
        {"x\"\"y", {"xy"}},
        {"\"a\"\"b\"", {"ab"}},
        {"C:\\a\\b \"C:\\Program Files\\x y\"", {"C:\\a\\b", "C:\\Program Files\\x y"}},
        {"a\\\"b c\"", {"a\\b c"}},
        {"a\nb", {"a\nb"}},
        {"100% %s %n", {"100%", "%s", "%n"}},
        {"-", {"-"}},
        {"- -", {"-", "-"}},
        {"-- -x", {"-x"}},
        {"-- -x --", {"-x", "--"}},
        {"a -- b", {"a", "b"}},
        {"\"--\" -x", {"-x"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        std::vector<std::string> words;
        std::string printed;
        ASSERT_TRUE(operands_of(c.args, &words, &printed)) << printed;
        EXPECT_EQ(words, c.words);
        EXPECT_EQ(printed, "");
    }
}

TEST(ClpWords, AnOpenQuoteFailsHandleCreation) {
    for (const char *args : {"\"", "\"abc", "a \"b", "a\"b\"c\"", "\"a\" \"b"}) {
        SCOPED_TRACE(args);
        std::vector<std::string> words;
        std::string printed;
        EXPECT_FALSE(operands_of(args, &words, &printed));
        EXPECT_EQ(printed, "Unbalanced quote (\") in the arguments\n");
    }
}

TEST(ClpWords, TextsAreCopiesInTheArea) {
    ScopedArea area;
    std::string args = "abc def";
    clp_hdl_t *hdl = clp_create_hdl_using_string(args.c_str(), kNoOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    args.assign("zzzzzzz");
    walk(hdl, {arg("abc"), arg("def"), no_arg(), no_arg()});
}

TEST(ClpWords, ManyWords) {
    ScopedArea area;
    std::vector<std::string> want;
    const std::string args = cmdsyn_test::numbered_words(5000, "w", &want);
    clp_hdl_t *hdl = clp_create_hdl_using_string(args.c_str(), kNoOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    std::vector<std::string> got;
    char *text = nullptr;
    while (clp_get_next_arg(hdl, &text) == 0) got.emplace_back(text);
    EXPECT_EQ(got, want);
}

TEST(ClpMatching, TypedOptionsAgainstSpecs) {
    struct Case {
        const char *typed;
        int32_t flag;  // -1: handle creation fails with message
        const char *message;
    };
    const Case cases[] = {
        {"-str", 23, ""},
        {"-stre", 23, ""},
        {"-stream", 23, ""},
        {"\"-stream\"", 23, ""},
        {"-st", -1, "Unrecognized option \"-st\"\n"},
        {"-streams", -1, "Unrecognized option \"-streams\"\n"},
        {"-STR", -1, "Unrecognized option \"-STR\"\n"},
        {"-Stream", -1, "Unrecognized option \"-Stream\"\n"},
        {"-to", 26, ""},
        {"-t", -1, "Unrecognized option \"-t\"\n"},
        {"-tox", -1, "Unrecognized option \"-tox\"\n"},
        {"-q", 19, ""},
        {"-qu", 19, ""},
        {"-query", 19, ""},
        {"-qa", -1, "Unrecognized option \"-qa\"\n"},
        {"-qal", 20, ""},
        {"-qall", 20, ""},
        {"-a", 1, ""},
        {"-all", 1, ""},
        {"-av", -1, "Unrecognized option \"-av\"\n"},
        {"-avo", 3, ""},
        {"-avobs", 3, ""},
        {"--all", -1, "Unrecognized option \"--all\"\n"},
        {"-%s%n", -1, "Unrecognized option \"-%s%n\"\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        ScopedArea area;
        clp_hdl_t *hdl = nullptr;
        const std::string printed =
            captured([&] { hdl = clp_create_hdl_using_string(c.typed, kOptions, area.get()); });
        EXPECT_EQ(printed, c.message);
        if (c.flag < 0) {
            EXPECT_EQ(hdl, nullptr);
            continue;
        }
        ASSERT_NE(hdl, nullptr);
        ASSERT_EQ(clp_switch_flags(hdl, kOptions, area.get()), 0);
        walk(hdl, {flag(c.flag), no_flag()});
    }
}

TEST(ClpMatching, AnOptionWordAnywhereBeforeTheEndMarkIsMatched) {
    for (const char *args : {"d1 -zz", "-all d1 -zz", "-str -zz"}) {
        SCOPED_TRACE(args);
        ScopedArea area;
        clp_hdl_t *hdl = nullptr;
        const std::string printed = captured([&] { hdl = clp_create_hdl_using_string(args, kOptions, area.get()); });
        EXPECT_EQ(hdl, nullptr);
        EXPECT_EQ(printed, "Unrecognized option \"-zz\"\n");
    }
}

TEST(ClpMatching, ATableWithoutOptionsRejectsEveryOptionWord) {
    ScopedArea area;
    clp_hdl_t *hdl = nullptr;
    const std::string printed = captured([&] { hdl = clp_create_hdl_using_string("a -x b", kNoOptions, area.get()); });
    EXPECT_EQ(hdl, nullptr);
    EXPECT_EQ(printed, "Unrecognized option \"-x\"\n");
    EXPECT_NE(clp_create_hdl_using_string("a -- -x b", kNoOptions, area.get()), nullptr);
}

TEST(ClpMatching, AmbiguousOptions) {
    const clp_option_t table[] = {
        {"-x[yz]", 1, 0}, {"-xy[w]", 2, 0}, {"-d[up]", 5, 0}, {"-d[up]", 5, 0}, {nullptr, CLP_FLAG_END, 0},
    };
    ScopedArea area;
    clp_hdl_t *hdl = nullptr;
    std::string printed = captured([&] { hdl = clp_create_hdl_using_string("-xy", table, area.get()); });
    EXPECT_EQ(hdl, nullptr);
    EXPECT_EQ(printed, "Ambiguous option \"-xy\": it could be \"-xyz\" or \"-xyw\"\n");

    printed = captured([&] { hdl = clp_create_hdl_using_string("-x -xyz -xyw -xyzw -d", table, area.get()); });
    EXPECT_EQ(printed, "Unrecognized option \"-xyzw\"\n");
    hdl = clp_create_hdl_using_string("-x -xyz -xyw -d -dup", table, area.get());
    ASSERT_NE(hdl, nullptr) << "a spec listed twice alike is not ambiguous";
    ASSERT_EQ(clp_switch_flags(hdl, table, area.get()), 0);
    walk(hdl, {flag(1), flag(1), flag(2), flag(5), flag(5), no_flag()});
}

TEST(ClpOrder, OptionsArgumentsAndOperands) {
    struct Case {
        const char *args;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"", {no_flag(), no_flag(), no_arg(), no_arg()}},
        {"-all d1 d2", {flag(1), no_flag(), arg("d1"), arg("d2"), no_arg(), no_flag(), no_arg()}},
        {"-str s1 -to t1 -q", {flag(23), arg("s1"), flag(26), arg("t1"), flag(19), no_flag(), no_arg()}},
        {"-str -to t1", {flag(23), no_arg(), flag(26), arg("t1"), no_flag()}},
        {"-str", {flag(23), no_arg(), no_flag(), no_arg()}},
        {"-str --", {flag(23), no_arg(), no_flag(), no_arg()}},
        {"-str -- x", {flag(23), no_arg(), no_flag(), arg("x"), no_arg()}},
        {"-str -", {flag(23), arg("-"), no_flag()}},
        {"-str \"\" d1", {flag(23), arg(""), no_flag(), arg("d1")}},
        {"-all -- -q d1", {flag(1), no_flag(), arg("-q"), arg("d1"), no_arg()}},
        {"-- -all", {no_flag(), arg("-all"), no_arg()}},
        {"-all d1 -- d2", {flag(1), no_flag(), arg("d1"), arg("d2"), no_arg()}},
        {"- -all", {flag_fails(), flag_fails(), arg_fails()}},
        {"d1 -all", {flag_fails(), flag_fails(), arg_fails()}},
        {"-str s1 d1 -all", {flag(23), arg("s1"), flag_fails()}},
        {"-all d1", {flag(1), no_flag(), arg("d1"), no_arg()}},
        {"-all", {flag(1), no_arg(), no_flag(), no_arg()}},
        // Taking operands without reading the options ends the options.
        {"d1 d2", {arg("d1"), arg("d2"), no_arg(), no_flag()}},
        {"-all d1", {arg_fails(), flag_fails()}},
        // An option read and its argument not asked for: the next word is an operand.
        {"-str s1", {flag(23), no_flag(), arg("s1"), no_arg()}},
        // Two argument calls after one option: the second ends the options.
        {"-str a b", {flag(23), arg("a"), arg("b"), no_flag(), no_arg()}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("args: ") + c.args);
        ScopedArea area;
        clp_hdl_t *hdl = clp_create_hdl_using_string(c.args, kOptions, area.get());
        ASSERT_NE(hdl, nullptr);
        ASSERT_EQ(clp_switch_flags(hdl, kOptions, area.get()), 0);
        std::vector<Step> got;
        captured([&] { got = run(hdl, c.steps); });
        EXPECT_EQ(got, c.steps);
    }
}

TEST(ClpOrder, AnOptionAfterTheOperandsIsNamed) {
    ScopedArea area;
    clp_hdl_t *hdl = clp_create_hdl_using_string("-q d1 -al d2", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    walk(hdl, {flag(19)});
    int32_t value = 0;
    const std::string printed = captured([&] { EXPECT_EQ(clp_get_next_flag_value(hdl, nullptr, &value), 1); });
    EXPECT_EQ(printed, "Option \"-al\" must come before the operands\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(clp_get_next_flag_value(hdl, nullptr, &value), 1); }), "")
        << "the message comes once";
}

TEST(ClpGroups, TwoDifferentOptionsOfOneGroupAreRejectedBySwitchFlags) {
    const clp_option_t table[] = {
        {CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0}, {"-a", 1, 0}, {"-b[ee]", 2, 0},
        {CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0},     {"-free", 3, 0},
        {CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0}, {"-c", 4, 0}, {"-d", 5, 0},
        {CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0},     {nullptr, CLP_FLAG_END, 0},
    };
    struct Case {
        const char *args;
        const char *message;  // "" when the string is accepted
    };
    const Case cases[] = {
        {"-a -c -free", ""},
        {"-a -a", ""},
        {"-b -bee", ""},
        {"-b -c -d", "Options \"-c\" and \"-d\" cannot be used together\n"},
        {"-a -b", "Options \"-a\" and \"-bee\" cannot be used together\n"},
        {"-b -free -a", "Options \"-bee\" and \"-a\" cannot be used together\n"},
        {"-a -- -b", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        ScopedArea area;
        clp_hdl_t *hdl = clp_create_hdl_using_string(c.args, table, area.get());
        ASSERT_NE(hdl, nullptr) << "groups are not checked when the handle is made";
        int result = -1;
        const std::string printed = captured([&] { result = clp_switch_flags(hdl, table, area.get()); });
        EXPECT_EQ(printed, c.message);
        EXPECT_EQ(result, *c.message ? 1 : 0);
    }
}

TEST(ClpGroups, DeliverStyleQueryOptions) {
    ScopedArea area;
    clp_hdl_t *hdl = clp_create_hdl_using_string("-q -qall", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    const std::string printed = captured([&] { EXPECT_NE(clp_switch_flags(hdl, kOptions, area.get()), 0); });
    EXPECT_EQ(printed, "Options \"-query\" and \"-qall\" cannot be used together\n");
}

TEST(ClpNames, LastFlagName) {
    ScopedArea area;
    clp_hdl_t *hdl = clp_create_hdl_using_string("-str s1 -qal", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    char buf[256] = "junk";
    EXPECT_NE(clp_get_last_flag_name(hdl, 1, sizeof buf, buf), 0) << "no option read yet";
    EXPECT_STREQ(buf, "");

    walk(hdl, {flag(23)});
    EXPECT_EQ(clp_get_last_flag_name(hdl, 1, sizeof buf, buf), 0);
    EXPECT_STREQ(buf, "-stream");
    EXPECT_EQ(clp_get_last_flag_name(hdl, 0, sizeof buf, buf), 0);
    EXPECT_STREQ(buf, "-str");
    for (int which : {-1, 2, 7}) {
        std::strcpy(buf, "junk");
        EXPECT_NE(clp_get_last_flag_name(hdl, which, sizeof buf, buf), 0) << which;
        EXPECT_STREQ(buf, "");
    }
    char exact[8];
    EXPECT_EQ(clp_get_last_flag_name(hdl, 1, sizeof exact, exact), 0);
    EXPECT_STREQ(exact, "-stream");
    char small[7] = "junk";
    EXPECT_NE(clp_get_last_flag_name(hdl, 1, sizeof small, small), 0);
    EXPECT_STREQ(small, "");
    EXPECT_NE(clp_get_last_flag_name(hdl, 1, 0, buf), 0);
    EXPECT_NE(clp_get_last_flag_name(hdl, 1, 256, nullptr), 0);

    walk(hdl, {arg("s1"), flag(20), no_flag()});
    EXPECT_EQ(clp_get_last_flag_name(hdl, 1, sizeof buf, buf), 0);
    EXPECT_STREQ(buf, "-qall") << "the option read last stays after the options end";
}

TEST(ClpTables, MalformedTablesFailTheCallTheyAreGiven) {
    using Entries = std::vector<clp_option_t>;
    const clp_option_t end{nullptr, CLP_FLAG_END, 0};
    const clp_option_t start{CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0};
    const clp_option_t stop{CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0};
    struct Case {
        const char *what;
        Entries entries;
        const char *message;
    };
    const Case cases[] = {
        {"end without start", {{"-a", 1, 0}, stop, end}, "internal error: option table entry 1 (\"End Mutual Exclusion\") does not fit its group\n"},
        {"nested groups", {start, start, stop, stop, end}, "internal error: option table entry 1 (\"Start Mutual Exclusion\") does not fit its group\n"},
        {"open group", {start, {"-a", 1, 0}, end}, "internal error: option table ends inside a mutual exclusion group\n"},
        {"marker with another flag", {{CLP_START_MUTEX, 4, 0}, end}, "internal error: option table entry 0 (\"Start Mutual Exclusion\") has a wrong flag value\n"},
        {"marker flag on a spec", {{"-a", CLP_FLAG_END_MUTEX, 0}, end}, "internal error: option table entry 0 (\"-a\") has a wrong flag value\n"},
        {"negative flag", {{"-a", -7, 0}, end}, "internal error: option table entry 0 (\"-a\") is not a valid option spec\n"},
        {"no hyphen", {{"all", 1, 0}, end}, "internal error: option table entry 0 (\"all\") is not a valid option spec\n"},
        {"lone hyphen", {{"-", 1, 0}, end}, "internal error: option table entry 0 (\"-\") is not a valid option spec\n"},
        {"empty shortest spelling", {{"-[all]", 1, 0}, end}, "internal error: option table entry 0 (\"-[all]\") is not a valid option spec\n"},
        {"open bracket", {{"-a[ll", 1, 0}, end}, "internal error: option table entry 0 (\"-a[ll\") is not a valid option spec\n"},
        {"close bracket only", {{"-a]", 1, 0}, end}, "internal error: option table entry 0 (\"-a]\") is not a valid option spec\n"},
        {"text after bracket", {{"-a[l]l", 1, 0}, end}, "internal error: option table entry 0 (\"-a[l]l\") is not a valid option spec\n"},
        {"two bracket pairs", {{"-a[l][l]", 1, 0}, end}, "internal error: option table entry 0 (\"-a[l][l]\") is not a valid option spec\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScopedArea area;
        clp_hdl_t *hdl = nullptr;
        std::string printed = captured([&] { hdl = clp_create_hdl_using_string("", c.entries.data(), area.get()); });
        EXPECT_EQ(hdl, nullptr);
        EXPECT_EQ(printed, c.message);

        hdl = clp_create_hdl_using_string("", kNoOptions, area.get());
        ASSERT_NE(hdl, nullptr);
        int result = 0;
        printed = captured([&] { result = clp_switch_flags(hdl, c.entries.data(), area.get()); });
        EXPECT_EQ(result, 1);
        EXPECT_EQ(printed, c.message);
    }
}

TEST(ClpTables, TheTerminatorMustComeWithin1024Entries) {
    ScopedArea area;
    std::vector<clp_option_t> table(1024, clp_option_t{"-a", 1, 0});
    table[1023] = clp_option_t{nullptr, CLP_FLAG_END, 0};
    EXPECT_NE(clp_create_hdl_using_string("-a", table.data(), area.get()), nullptr);

    table[1023] = clp_option_t{"-a", 1, 0};
    table.push_back(clp_option_t{nullptr, CLP_FLAG_END, 0});
    clp_hdl_t *hdl = nullptr;
    const std::string printed = captured([&] { hdl = clp_create_hdl_using_string("-a", table.data(), area.get()); });
    EXPECT_EQ(hdl, nullptr);
    EXPECT_EQ(printed, "internal error: option table has no terminator entry\n");
}

TEST(ClpTables, SwitchFlagsTakesItsValuesFromTheTableItIsGiven) {
    const clp_option_t other[] = {{"-str[eam]", 7, 0}, {"-q[uery]", 8, 0}, {nullptr, CLP_FLAG_END, 0}};
    ScopedArea area;
    clp_hdl_t *hdl = clp_create_hdl_using_string("-str x -q", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    ASSERT_EQ(clp_switch_flags(hdl, other, area.get()), 0);
    walk(hdl, {flag(7), arg("x"), flag(8), no_flag()});

    const clp_option_t narrower[] = {{"-q[uery]", 19, 0}, {nullptr, CLP_FLAG_END, 0}};
    hdl = clp_create_hdl_using_string("-str x -q", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    const std::string printed = captured([&] { EXPECT_EQ(clp_switch_flags(hdl, narrower, area.get()), 1); });
    EXPECT_EQ(printed, "Unrecognized option \"-str\"\n");
}

TEST(ClpMisuse, NullArgumentsAndForeignAreasFail) {
    ScopedArea area;
    clp_hdl_t *hdl = nullptr;
    std::string printed = captured([&] { hdl = clp_create_hdl_using_string(nullptr, kOptions, area.get()); });
    EXPECT_EQ(hdl, nullptr);
    EXPECT_EQ(printed, "internal error: no argument string\n");
    printed = captured([&] { hdl = clp_create_hdl_using_string("", nullptr, area.get()); });
    EXPECT_EQ(hdl, nullptr);
    EXPECT_EQ(printed, "internal error: no option table\n");

    for (stg_area_t unknown : {0, 0x7ffffff0}) {
        printed = captured([&] { hdl = clp_create_hdl_using_string("a b", kOptions, unknown); });
        EXPECT_EQ(hdl, nullptr) << unknown;
        EXPECT_EQ(printed, "internal error: the storage area gives no memory for option parsing\n");
    }
    stg_area_t freed = stg_create_area(4096);
    ASSERT_EQ(stg_free_area(freed, 1), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(clp_create_hdl_using_string("", kOptions, freed), nullptr);
    testing::internal::GetCapturedStdout();

    int32_t value = 0;
    char *text = nullptr;
    char buf[16];
    EXPECT_EQ(clp_switch_flags(nullptr, kOptions, area.get()), 1);
    EXPECT_EQ(clp_get_next_flag_value(nullptr, nullptr, &value), 1);
    EXPECT_EQ(clp_get_next_arg(nullptr, &text), 1);
    EXPECT_EQ(clp_get_last_flag_name(nullptr, 1, sizeof buf, buf), 1);

    hdl = clp_create_hdl_using_string("-all d1", kOptions, area.get());
    ASSERT_NE(hdl, nullptr);
    EXPECT_EQ(clp_get_next_flag_value(hdl, nullptr, nullptr), 1);
    EXPECT_EQ(clp_get_next_arg(hdl, nullptr), 1);
    ScopedArea other;
    printed = captured([&] { EXPECT_EQ(clp_switch_flags(hdl, kOptions, other.get()), 1); });
    EXPECT_EQ(printed, "internal error: option parsing handle does not belong to this storage area\n");
    walk(hdl, {flag(1), no_flag(), arg("d1")});
}

TEST(ClpThreads, ConcurrentParsesInTheirOwnAreas) {
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 300; ++i) {
                ScopedArea area;
                const std::string mine = "s" + std::to_string(t) + "_" + std::to_string(i);
                const std::string args = "-str " + mine + " -q -- -d" + std::to_string(t);
                clp_hdl_t *hdl = clp_create_hdl_using_string(args.c_str(), kOptions, area.get());
                int32_t value = 0;
                char *text = nullptr;
                bool ok = hdl && clp_switch_flags(hdl, kOptions, area.get()) == 0 &&
                          clp_get_next_flag_value(hdl, nullptr, &value) == 0 && value == 23 &&
                          clp_get_next_arg(hdl, &text) == 0 && mine == text &&
                          clp_get_next_flag_value(hdl, nullptr, &value) == 0 && value == 19 &&
                          clp_get_next_flag_value(hdl, nullptr, &value) == CLP_NONE_LEFT &&
                          clp_get_next_arg(hdl, &text) == 0 && "-d" + std::to_string(t) == text &&
                          clp_get_next_arg(hdl, &text) == CLP_NONE_LEFT;
                if (!ok) ++failures[t];
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(6, 0));
}

}  // namespace
