// The two message steps of the export: the request text that
// construct_request builds, byte for byte, and the integer that
// process_response takes out of an answer, with what each traces.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>

#include "bridge_internal.h"
#include "files.h"
#include "trace_fixture.h"

namespace fs = std::filesystem;

namespace {

using bridge_test::scope_lines;
using bridge_test::TracedTest;

const char kConstructPrefix[] = "gemxbridge::gemxbridge::construct_request::";
const char kResponsePrefix[] = "gemxbridge::gemxbridge::process_response::";

// Makes dir the current directory for the lifetime of the object.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string &dir) : old_(fs::current_path().string()) {
        ok_ = platform::change_directory(dir.c_str()) == 0;
    }
    ~ScopedCwd() { platform::change_directory(old_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string old_;
    bool ok_ = false;
};

std::string request_with_cwd(const std::string &id, const std::string &args, const std::string &cwd) {
    return "<request_start><op_id_start>" + id + "<op_id_end><args_start>" + args + "<args_end><cwd_start>" + cwd +
           "<cwd_end><request_end>";
}

std::string request_without_cwd(const std::string &id, const std::string &args) {
    return "<request_start><op_id_start>" + id + "<op_id_end><args_start>" + args + "<args_end><request_end>";
}

// ---- construct_request --------------------------------------------------

class BridgeRequestCwd : public TracedTest {};

struct RequestCase {
    const char *name;
    int op_id;
    const char *args;
    const char *id_text;
};

// Cases show by name in test listings.
void PrintTo(const RequestCase &c, std::ostream *os) { *os << c.name; }

class BridgeRequest : public TracedTest, public ::testing::WithParamInterface<RequestCase> {};

// The operation id as "%d" prints it and the argument string unchanged,
// tag text included, with the real current directory in the cwd field.
TEST_P(BridgeRequest, BuildsTheTaggedTextWithTheCurrentDirectory) {
    const RequestCase &c = GetParam();
    kestrin_test::TempDir dir("cwd");
    ScopedCwd cwd(dir.path());
    ASSERT_TRUE(cwd.ok());
    const std::string current = fs::current_path().string();

    std::string request = construct_request(c.op_id, c.args);

    EXPECT_EQ(request, request_with_cwd(c.id_text, c.args, current));
    EXPECT_EQ(traced(), scope_lines(kConstructPrefix));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeRequest,
    ::testing::Values(RequestCase{"vtree", 6, "a.c", "6"}, RequestCase{"negative", -5, "-all x", "-5"},
                      RequestCase{"empty_args", 3, "", "3"}, RequestCase{"no_operation", 0, "x", "0"},
                      RequestCase{"largest", INT_MAX, "a", "2147483647"},
                      RequestCase{"smallest", INT_MIN, "a", "-2147483648"},
                      RequestCase{"tags_inside", 1,
                                  "<args_end><cwd_start>C:\\evil<cwd_end><request_end><response_start>0",
                                  "1"},
                      RequestCase{"quotes_and_percent", 3, "\"a b\" 100%d %s \\x", "3"}),
    [](const ::testing::TestParamInfo<RequestCase> &info) { return std::string(info.param.name); });

// The example of the request format: operation 6, "a.c" and a four-letter
// directory give 102 characters; every other directory shifts the length
// by its own.
TEST_F(BridgeRequestCwd, RequestLengthFollowsTheExampleShape) {
    kestrin_test::TempDir dir("cwd");
    ScopedCwd cwd(dir.path());
    ASSERT_TRUE(cwd.ok());
    const std::string current = fs::current_path().string();
    EXPECT_EQ(construct_request(6, "a.c").size(), 102 - 4 + current.size());
}

// A current directory that no longer exists cannot be read: the request
// goes out without any cwd field, and nothing is traced about it.
TEST_F(BridgeRequestCwd, LeavesTheCwdFieldOutWhenTheDirectoryIsGone) {
    auto gone = std::make_unique<kestrin_test::TempDir>("gone");
    std::string path = gone->path();
    ScopedCwd cwd(path);
    ASSERT_TRUE(cwd.ok());
    std::error_code ec;
    fs::remove(path, ec);
    if (ec || fs::exists(path)) GTEST_SKIP() << "this system does not remove the current directory";

    EXPECT_EQ(construct_request(6, "a.c"), request_without_cwd("6", "a.c"));
    EXPECT_EQ(traced(), scope_lines(kConstructPrefix));
}

// A current directory of 1024 characters or more does not fit the
// 1024-byte buffer: the cwd field is left out rather than cut.
TEST_F(BridgeRequestCwd, LeavesTheCwdFieldOutWhenTheDirectoryIsTooLong) {
    kestrin_test::TempDir dir("deep");
    std::string deep = dir.path();
    const std::string component(100, 'd');
    std::error_code ec;
    while (deep.size() < 1100) {
        deep += kestrin_test::separator() + component;
        fs::create_directory(deep, ec);
        if (ec) GTEST_SKIP() << "this system does not hold paths of 1100 characters";
    }
    ScopedCwd cwd(deep);
    if (!cwd.ok()) GTEST_SKIP() << "this system cannot enter a directory of 1100 characters";

    EXPECT_EQ(construct_request(1, "x"), request_without_cwd("1", "x"));
}

// ---- process_response ---------------------------------------------------

struct ResponseCase {
    const char *name;
    std::string answer;
    int result;
    const char *message;  // the one traced message, or "" for none
};

// Cases show by name in test listings.
void PrintTo(const ResponseCase &c, std::ostream *os) { *os << c.name; }

class BridgeResponse : public TracedTest, public ::testing::WithParamInterface<ResponseCase> {};

TEST_P(BridgeResponse, ConvertsTheTextBetweenTheTags) {
    const ResponseCase &c = GetParam();
    EXPECT_EQ(process_response(c.answer), c.result);
    EXPECT_EQ(traced(), scope_lines(kResponsePrefix, c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BridgeResponse,
    ::testing::Values(
        ResponseCase{"zero", "<response_start>0<response_end>", 0, ""},
        ResponseCase{"one", "<response_start>1<response_end>", 1, ""},
        ResponseCase{"minus_two", "<response_start>-2<response_end>", -2, ""},
        ResponseCase{"blank_digits_letters", "<response_start> 7abc<response_end>", 7, ""},
        ResponseCase{"plus_sign_and_newline", "<response_start>+12\n<response_end>", 12, ""},
        ResponseCase{"smallest", "<response_start>-2147483648<response_end>", INT_MIN, ""},
        ResponseCase{"largest", "<response_start>2147483647<response_end>", INT_MAX, ""},
        ResponseCase{"end_tag_first", "<response_end><response_start>5", 5, ""},
        ResponseCase{"text_around_tags", "x<response_start>3<response_end>y<response_start>9", 3, ""},
        ResponseCase{"empty_value", "<response_start><response_end>", 1, "Empty response string"},
        ResponseCase{"empty_answer", "", 1, "error while reading response"},
        ResponseCase{"missing_end_tag", "<response_start>0", 1, "error while reading response"},
        ResponseCase{"missing_start_tag", "0<response_end>", 1, "error while reading response"},
        ResponseCase{"letters", "<response_start>abc<response_end>", 1, "invalid response value"},
        ResponseCase{"blanks_only", "<response_start>  <response_end>", 1, "invalid response value"},
        ResponseCase{"sign_only", "<response_start>-<response_end>", 1, "invalid response value"},
        ResponseCase{"beyond_largest", "<response_start>2147483648<response_end>", 1, "invalid response value"},
        ResponseCase{"beyond_smallest", "<response_start>-2147483649<response_end>", 1, "invalid response value"},
        ResponseCase{"far_beyond", "<response_start>99999999999999999999999<response_end>", 1,
                     "invalid response value"}),
    [](const ::testing::TestParamInfo<ResponseCase> &info) { return std::string(info.param.name); });

}  // namespace
