// The request protocol: shared names, tag extraction and the decimal
// conversion, as both the service and the bridge read messages with them.
#include "gemx_protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace {

TEST(ProtocolNames, TagsAndSharedNamesAreExact) {
    struct Case {
        const char *value;
        const char *expected;
        std::size_t length;
    };
    const Case cases[] = {
        {request_start_tag, "<request_start>", 15}, {request_end_tag, "<request_end>", 13},
        {op_id_start_tag, "<op_id_start>", 13},     {op_id_end_tag, "<op_id_end>", 11},
        {args_start_tag, "<args_start>", 12},       {args_end_tag, "<args_end>", 10},
        {cwd_start_tag, "<cwd_start>", 11},         {cwd_end_tag, "<cwd_end>", 9},
        {response_start_tag, "<response_start>", 16}, {response_end_tag, "<response_end>", 14},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(c.value, c.expected);
        EXPECT_EQ(std::strlen(c.value), c.length) << c.expected;
    }
    EXPECT_STREQ(pid_file_name, "gemx_pkl_service.pid");
    // Two backslashes, a full stop and a backslash open the local pipe namespace.
    EXPECT_EQ(std::string(pipe_base_name),
              std::string(1, '\\') + '\\' + ".\\pipe\\vomar\\orvane\\kestrin\\gemx_pkl_service_pipe_request");
}

TEST(ProtocolNames, ServicePipeNameAppendsLoginWithoutSeparator) {
    EXPECT_EQ(service_pipe_name("alice"), std::string(pipe_base_name) + "alice");
    EXPECT_EQ(service_pipe_name("\\\\.\\pipe\\x", "bob"), "\\\\.\\pipe\\xbob");
    EXPECT_EQ(service_pipe_name(""), pipe_base_name);
}

struct ExtractCase {
    const char *what;
    std::string text;
    const char *start;
    const char *end;
    bool failed;
    std::string value;
};

void PrintTo(const ExtractCase &c, std::ostream *os) { *os << c.what; }

class ExtractTagged : public testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractTagged, FindsFirstOccurrences) {
    const ExtractCase &c = GetParam();
    std::string out = "stale";
    EXPECT_EQ(extract_tagged(c.text, c.start, c.end, out), c.failed);
    EXPECT_EQ(out, c.value);
}

const std::string kExample =
    "<request_start><op_id_start>6<op_id_end><args_start>a.c<args_end>"
    "<cwd_start>C:\\w<cwd_end><request_end>";

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractTagged,
    testing::Values(
        ExtractCase{"plain", "<a>x<b>", "<a>", "<b>", false, "x"},
        ExtractCase{"adjacent tags give an empty value", "<a><b>", "<a>", "<b>", false, ""},
        ExtractCase{"text around the tags", "pre<a>mid<b>post", "<a>", "<b>", false, "mid"},
        ExtractCase{"no start tag", "x<b>", "<a>", "<b>", true, ""},
        ExtractCase{"no end tag", "<a>x", "<a>", "<b>", true, ""},
        ExtractCase{"empty text", "", "<a>", "<b>", true, ""},
        ExtractCase{"end before start gives the rest", "<b>zz<a>rest of it", "<a>", "<b>", false, "rest of it"},
        ExtractCase{"end before start, start last", "<b><a>", "<a>", "<b>", false, ""},
        ExtractCase{"repeated tags: first of each", "<a>1<b><a>2<b>", "<a>", "<b>", false, "1"},
        ExtractCase{"end tag inside the start tag's overlap", "<a>", "<a>", "a>", false, ""},
        ExtractCase{"value cannot contain its end tag", "<a>x<b>y<b>", "<a>", "<b>", false, "x"},
        ExtractCase{"request content of the example", kExample, "<request_start>", "<request_end>",
                    false,
                    "<op_id_start>6<op_id_end><args_start>a.c<args_end><cwd_start>C:\\w<cwd_end>"},
        ExtractCase{"request end before request start",
                    "<request_end><request_start><op_id_start>1<op_id_end>", "<request_start>",
                    "<request_end>", false, "<op_id_start>1<op_id_end>"},
        ExtractCase{"response", "<response_start>0<response_end>", "<response_start>",
                    "<response_end>", false, "0"},
        ExtractCase{"NUL inside the text is kept", std::string("<a>x\0y<b>", 9), "<a>", "<b>", false,
                    std::string("x\0y", 3)}));

// Takes a request apart the way the service reads one: the request content
// first, then each field from the beginning of that content.
struct Fields {
    bool request_failed = true, op_failed = true, args_failed = true, cwd_failed = true;
    std::string op, args, cwd;
};

Fields read_request_fields(const std::string &message) {
    Fields f;
    std::string content;
    f.request_failed = extract_tagged(message, request_start_tag, request_end_tag, content);
    f.op_failed = extract_tagged(content, op_id_start_tag, op_id_end_tag, f.op);
    f.args_failed = extract_tagged(content, args_start_tag, args_end_tag, f.args);
    f.cwd_failed = extract_tagged(content, cwd_start_tag, cwd_end_tag, f.cwd);
    return f;
}

std::string request(const std::string &op, const std::string &args, const std::string &cwd) {
    return std::string(request_start_tag) + op_id_start_tag + op + op_id_end_tag + args_start_tag +
           args + args_end_tag + cwd_start_tag + cwd + cwd_end_tag + request_end_tag;
}

TEST(ReadingRequests, TheHundredAndTwoCharacterExample) {
    EXPECT_EQ(kExample.size(), 102u);
    EXPECT_EQ(request("6", "a.c", "C:\\w"), kExample);
    const Fields f = read_request_fields(kExample);
    EXPECT_FALSE(f.request_failed || f.op_failed || f.args_failed || f.cwd_failed);
    EXPECT_EQ(f.op, "6");
    EXPECT_EQ(f.args, "a.c");
    EXPECT_EQ(f.cwd, "C:\\w");
    std::int32_t id = -1;
    EXPECT_EQ(convert_decimal(f.op, &id), 0);
    EXPECT_EQ(id, gemx_op_vtree);
}

TEST(ReadingRequests, EmptyArgumentsAndCwdAreFoundAsEmpty) {
    const Fields f = read_request_fields(request("0", "", ""));
    EXPECT_FALSE(f.args_failed);
    EXPECT_FALSE(f.cwd_failed);
    EXPECT_EQ(f.args, "");
    EXPECT_EQ(f.cwd, "");
    // An empty operation id is found, but fails the conversion.
    const Fields g = read_request_fields(request("", "x", "y"));
    EXPECT_FALSE(g.op_failed);
    std::int32_t id = 0;
    EXPECT_EQ(convert_decimal(g.op, &id), 1);
}

TEST(ReadingRequests, ArgumentContainingItsEndTagIsCut) {
    const Fields f = read_request_fields(request("1", "a<args_end>b", "/w"));
    EXPECT_FALSE(f.args_failed);
    EXPECT_EQ(f.args, "a");
    EXPECT_EQ(f.cwd, "/w");
}

TEST(ReadingRequests, ArgumentContainingRequestEndLosesTheLaterFields) {
    const Fields f = read_request_fields(request("1", "a<request_end>b", "/w"));
    EXPECT_FALSE(f.request_failed);
    EXPECT_FALSE(f.op_failed);
    EXPECT_EQ(f.op, "1");
    EXPECT_TRUE(f.args_failed);
    EXPECT_TRUE(f.cwd_failed);
}

TEST(ReadingRequests, ArgumentCarryingCwdTagsSuppliesTheCwd) {
    const Fields f = read_request_fields(request("3", "x<cwd_start>/evil<cwd_end>y", "/real"));
    EXPECT_EQ(f.args, "x<cwd_start>/evil<cwd_end>y");
    EXPECT_EQ(f.cwd, "/evil");
}

TEST(ReadingRequests, MissingCwdFieldIsNotFound) {
    const std::string message = std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag +
                                args_start_tag + args_end_tag + request_end_tag;
    const Fields f = read_request_fields(message);
    EXPECT_FALSE(f.args_failed);
    EXPECT_TRUE(f.cwd_failed);
    EXPECT_EQ(f.cwd, "");
}

TEST(ReadingRequests, FieldsOutsideTheRequestContentAreNotSeen) {
    const std::string message = std::string(op_id_start_tag) + "1" + op_id_end_tag + request_start_tag +
                                request_end_tag;
    const Fields f = read_request_fields(message);
    EXPECT_FALSE(f.request_failed);
    EXPECT_TRUE(f.op_failed);
}

struct DecimalCase {
    const char *text;
    int result;
    std::int32_t value;
};

// Shows a conversion case with its control characters spelled out, so the
// test names stay on one line.
void PrintTo(const DecimalCase &c, std::ostream *os) {
    *os << '"';
    for (const char *p = c.text; *p != '\0'; ++p) {
        switch (*p) {
        case '\t': *os << "\\t"; break;
        case '\n': *os << "\\n"; break;
        case '\v': *os << "\\v"; break;
        case '\f': *os << "\\f"; break;
        case '\r': *os << "\\r"; break;
        default: *os << *p;
        }
    }
    *os << '"';
}

class ConvertDecimal : public testing::TestWithParam<DecimalCase> {};

TEST_P(ConvertDecimal, FollowsBaseTenRules) {
    const DecimalCase &c = GetParam();
    std::int32_t value = 12345;
    EXPECT_EQ(convert_decimal(c.text, &value), c.result) << '"' << c.text << '"';
    EXPECT_EQ(value, c.result == 0 ? c.value : 12345) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertDecimal,
    testing::Values(DecimalCase{"4", 0, 4}, DecimalCase{" 4", 0, 4}, DecimalCase{" \t\n\v\f\r4", 0, 4},
                    DecimalCase{"+4", 0, 4}, DecimalCase{"4\n", 0, 4}, DecimalCase{"4abc", 0, 4},
                    DecimalCase{"4 5", 0, 4}, DecimalCase{"-1", 0, -1}, DecimalCase{"7", 0, 7},
                    DecimalCase{"0", 0, 0}, DecimalCase{"-0", 0, 0}, DecimalCase{"0x10", 0, 0},
                    DecimalCase{"007", 0, 7}, DecimalCase{"2147483647", 0, 2147483647},
                    DecimalCase{"-2147483648", 0, INT32_MIN},
                    DecimalCase{"00000000000000000000000000042", 0, 42}, DecimalCase{"", 1, 0},
                    DecimalCase{"abc", 1, 0}, DecimalCase{" ", 1, 0}, DecimalCase{"+", 1, 0},
                    DecimalCase{"-", 1, 0}, DecimalCase{"+-4", 1, 0}, DecimalCase{"- 4", 1, 0},
                    DecimalCase{"x4", 1, 0}, DecimalCase{"2147483648", 1, 0},
                    DecimalCase{"-2147483649", 1, 0}, DecimalCase{"4294967296", 1, 0},
                    DecimalCase{"99999999999999999999999999", 1, 0},
                    DecimalCase{"-99999999999999999999999999", 1, 0}));

TEST(ReadingResponses, MostNegativeResultTravelsAsFortyOneCharacters) {
    const std::string response = std::string(response_start_tag) + "-2147483648" + response_end_tag;
    EXPECT_EQ(response.size(), 41u);
    std::string value;
    ASSERT_FALSE(extract_tagged(response, response_start_tag, response_end_tag, value));
    std::int32_t result = 0;
    ASSERT_EQ(convert_decimal(value, &result), 0);
    EXPECT_EQ(result, INT32_MIN);
}

TEST(ReadingResponses, EmptyValueIsFoundButEmpty) {
    std::string value = "x";
    EXPECT_FALSE(extract_tagged("<response_start><response_end>", response_start_tag, response_end_tag, value));
    EXPECT_TRUE(value.empty());
}

TEST(ExtractTaggedAliasing, OutMayBeTheTextVariable) {
    std::string s = "<a>inner<b>";
    EXPECT_FALSE(extract_tagged(s, "<a>", "<b>", s));
    EXPECT_EQ(s, "inner");
}

}  // namespace
