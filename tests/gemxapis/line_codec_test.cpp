// The request and journal line format shared by libgemxapis and gemx_helper.
#include <gtest/gtest.h>

#include "line_codec.h"

namespace {

using gemxapis_line::build_line;
using gemxapis_line::escape_field;
using gemxapis_line::parse_line;
using gemxapis_line::unescape_field;

TEST(GemxapisEscapeTest, EscapesAndRestoresEachSpecialByte) {
    struct {
        std::string raw;
        std::string escaped;
    } const cases[] = {
        {"", ""},
        {"/plain/path", "/plain/path"},
        {"a\tb", "a\\tb"},
        {"a\nb", "a\\nb"},
        {"C:\\dir\\x", "C:\\\\dir\\\\x"},
        {"cr\rlf\n", "cr\\rlf\\n"},
        {"\\t is not a tab", "\\\\t is not a tab"},
        {"100% \"quoted\" \x7f\xff", "100% \"quoted\" \x7f\xff"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.raw));
        EXPECT_EQ(escape_field(c.raw), c.escaped);
        ASSERT_TRUE(unescape_field(c.escaped).has_value());
        EXPECT_EQ(*unescape_field(c.escaped), c.raw);
    }
}

TEST(GemxapisUnescapeTest, RefusesMalformedFields) {
    for (const char *bad : {"ends in \\", "\\x", "raw\ttab", "raw\nnewline", "raw\rcr", "\\"})
        EXPECT_FALSE(unescape_field(bad).has_value()) << bad;
}

TEST(GemxapisLineTest, BuildsNameAndEscapedArguments) {
    EXPECT_EQ(build_line("find_merge", {}), "find_merge");
    EXPECT_EQ(build_line("vtree", {"/a\tb", "5"}), "vtree\t/a\\tb\t5");
    EXPECT_EQ(build_line("deliver", {""}), "deliver\t");
}

TEST(GemxapisLineTest, ParsesWhatItBuilds) {
    std::vector<std::string> args{"2", "line\none", "", "back\\slash\t"};
    auto fields = parse_line(build_line("update", args));
    ASSERT_TRUE(fields.has_value());
    std::vector<std::string> expected{"update"};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(*fields, expected);
}

TEST(GemxapisLineTest, KeepsEmptyFields) {
    auto fields = parse_line("deliver\t");
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(*fields, (std::vector<std::string>{"deliver", ""}));
    fields = parse_line("");
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(*fields, (std::vector<std::string>{""}));
}

TEST(GemxapisLineTest, RefusesALineWithAMalformedField) {
    EXPECT_FALSE(parse_line("history\tbad\\q").has_value());
    EXPECT_FALSE(parse_line("history\ttrailing\\").has_value());
}

}  // namespace
