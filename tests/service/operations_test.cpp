// The operation adapters and make_abs_pn over the recording operations API
// and the real parsers and support libraries: which calls each adapter
// makes, with what, and what it answers. Pathnames are resolved against
// real temporary folders, so the expected absolute forms are exact.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fake_gemxapis.h"
#include "files.h"
#include "service_internal.h"
#include "service_test_util.h"
#include "veyraks.h"

namespace {

using fake_gemxapis::Call;
using service_test::join;
using service_test::ops_line;
using service_test::quoted;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr gemx_api_handle_t kHandle = 0x2a;

// An adapter that takes the argument string and the client cwd.
using Adapter = std::function<int(gemx_api_handle_t, std::string, std::string)>;

// A folder tree for the resolutions: <root>/w is the client cwd, with the
// folder sub in it; <root>/plain is a file; <root>/elsewhere a folder for
// absolute operands.
class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_gemxapis::reset();
        std::filesystem::create_directories(join(join(root_.path(), "w"), "sub"));
        std::filesystem::create_directories(join(root_.path(), "elsewhere"));
        ASSERT_TRUE(kestrin_test::write_file(join(root_.path(), "plain"), "x"));
    }

    std::string root() const { return root_.path(); }
    std::string cwd() const { return join(root_.path(), "w"); }
    std::string in_cwd(const std::string &name) const { return join(cwd(), name); }
    std::string elsewhere(const std::string &name) const { return join(join(root_.path(), "elsewhere"), name); }

    // An operand that resolves to more than the 1023 characters the path
    // buffer holds.
    static std::string too_long() { return std::string(1100, 'x'); }

    // The trace of a whole adapter call: its scope around inner lines.
    static std::vector<std::string> scope(const std::string &adapter, std::vector<std::string> inner) {
        std::vector<std::string> lines{ops_line(adapter, "Entering")};
        lines.insert(lines.end(), inner.begin(), inner.end());
        lines.push_back(ops_line(adapter, "Exiting"));
        return lines;
    }

    // One make_abs_pn scope, with a failure message when given one.
    static std::vector<std::string> resolution(const std::string &failure = "") {
        std::vector<std::string> lines{ops_line("make_abs_pn", "Entering")};
        if (!failure.empty()) lines.push_back(ops_line("make_abs_pn", failure));
        lines.push_back(ops_line("make_abs_pn", "Exiting"));
        return lines;
    }

    static std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto &p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }

private:
    kestrin_test::TempDir root_{"ops"};
};

// One adapter call and what it should come to.
struct AdapterCase {
    const char *name;
    Adapter adapter;
    std::string args;
    std::string cwd;
    std::vector<int> api_results;  // scripted for the adapter's operation
    int result;
    std::vector<Call> calls;
    std::vector<std::string> trace;  // empty: not checked
};

void run_cases(const std::vector<AdapterCase> &cases) {
    for (const AdapterCase &k : cases) {
        SCOPED_TRACE(k.name);
        fake_gemxapis::reset();
        for (const char *op : {"deliver", "rebase", "history", "update", "vtree"})
            fake_gemxapis::script(op, k.api_results);
        EXPECT_EQ(k.adapter(kHandle, k.args, k.cwd), k.result);
        EXPECT_EQ(fake_gemxapis::calls(), k.calls);
        if (!k.trace.empty()) {
            EXPECT_EQ(fake_gemxapis::trace(), k.trace);
        }
    }
}

TEST_F(AdapterTest, DeliverAndRebasePassTheClientCwd) {
    const std::string parse_error = ops_line("deliver", "error occurred while parsing arguments");
    run_cases({
        {"deliver plain", deliver, "", cwd(), {}, 0, {fake_gemxapis::deliver(kHandle, cwd())},
         scope("deliver", {})},
        {"deliver with options", deliver, "-str s1 -to t1 -tar x1 -qall", cwd(), {}, 0,
         {fake_gemxapis::deliver(kHandle, cwd())}, {}},
        {"deliver with an empty cwd", deliver, "", "", {}, 0, {fake_gemxapis::deliver(kHandle, "")}, {}},
        {"deliver with a cwd that is no folder", deliver, "", "no such", {}, 0,
         {fake_gemxapis::deliver(kHandle, "no such")}, {}},
        {"deliver failing in the API", deliver, "", cwd(), {3}, 1, {fake_gemxapis::deliver(kHandle, cwd())},
         scope("deliver", {})},
        {"deliver -str without its argument", deliver, "-str", cwd(), {}, 1, {}, scope("deliver", {parse_error})},
        {"deliver with an unknown option", deliver, "-bogus", cwd(), {}, 1, {}, scope("deliver", {parse_error})},
        {"rebase plain", rebase, "", cwd(), {}, 0, {fake_gemxapis::rebase(kHandle, cwd())}, scope("rebase", {})},
        {"rebase with options", rebase, "-vie v1 -str s1 -q", cwd(), {}, 0,
         {fake_gemxapis::rebase(kHandle, cwd())}, {}},
        {"rebase failing in the API", rebase, "", cwd(), {-5}, 1, {fake_gemxapis::rebase(kHandle, cwd())}, {}},
        {"rebase -str without its argument", rebase, "-str", cwd(), {}, 1, {},
         scope("rebase", {ops_line("rebase", "error occurred while parsing arguments")})},
    });
}

TEST_F(AdapterTest, FindMergeCallsWithTheHandleAlone) {
    EXPECT_EQ(find_merge(kHandle), 0);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::find_merge(kHandle)});
    EXPECT_EQ(fake_gemxapis::trace(), scope("find_merge", {}));

    fake_gemxapis::reset();
    fake_gemxapis::script("find_merge", {9});
    EXPECT_EQ(find_merge(kHandle), 1);
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::find_merge(kHandle)});
    EXPECT_EQ(fake_gemxapis::trace(), scope("find_merge", {ops_line("find_merge", "error encountered in find merge")}));
}

TEST_F(AdapterTest, HistoryCallsOncePerOperand) {
    const std::string abs = elsewhere("x.c");
    const std::string lost = ops_line("history", "error making abs pname");
    run_cases({
        {"no operands: the cwd as it came", history, "", cwd(), {}, 0, {fake_gemxapis::history(kHandle, cwd())},
         scope("history", {})},
        {"no operands, empty cwd", history, "", "", {}, 0, {fake_gemxapis::history(kHandle, "")},
         scope("history", {})},
        {"no operands, cwd no folder", history, "", "no such", {}, 0,
         {fake_gemxapis::history(kHandle, "no such")}, {}},
        {"no operands, failing", history, "", cwd(), {4}, 1, {fake_gemxapis::history(kHandle, cwd())}, {}},
        {"operands resolved in order", history, "a.c ../b.c sub/./c.c " + quoted(abs), cwd(), {}, 0,
         {fake_gemxapis::history(kHandle, in_cwd("a.c")), fake_gemxapis::history(kHandle, join(root(), "b.c")),
          fake_gemxapis::history(kHandle, join(in_cwd("sub"), "c.c")), fake_gemxapis::history(kHandle, abs)},
         {}},
        {"options before operands", history, "-r -nco a.c", cwd(), {}, 0,
         {fake_gemxapis::history(kHandle, in_cwd("a.c"))}, {}},
        {"second of three unresolvable", history, "a.c " + too_long() + " b.c", cwd(), {}, 1,
         {fake_gemxapis::history(kHandle, in_cwd("a.c"))},
         concat({{ops_line("history", "Entering")},
                 resolution(),
                 resolution("error while converting to abs pn"),
                 {lost, ops_line("history", "Exiting")}})},
        {"first call fails, second succeeds", history, "a.c b.c", cwd(), {1, 0}, 0,
         {fake_gemxapis::history(kHandle, in_cwd("a.c")), fake_gemxapis::history(kHandle, in_cwd("b.c"))}, {}},
        {"first call succeeds, second fails", history, "a.c b.c", cwd(), {0, 1}, 1,
         {fake_gemxapis::history(kHandle, in_cwd("a.c")), fake_gemxapis::history(kHandle, in_cwd("b.c"))}, {}},
        {"unknown option", history, "-bogus a.c", cwd(), {}, 1, {},
         scope("history", {ops_line("history", "error occurred while parsing arguments")})},
    });
}

TEST_F(AdapterTest, UpdatePassesOnePathList) {
    const std::string abs = elsewhere("x.c");
    run_cases({
        {"no operands: the cwd as it came", update, "", cwd(), {}, 0, {fake_gemxapis::update(kHandle, {cwd()})},
         scope("update", {})},
        {"no operands, empty cwd", update, "", "", {}, 0, {fake_gemxapis::update(kHandle, {""})}, {}},
        {"operands resolved in order", update, "a.c ../b.c " + quoted(abs) + " sub", cwd(), {}, 0,
         {fake_gemxapis::update(kHandle, {in_cwd("a.c"), join(root(), "b.c"), abs, in_cwd("sub")})}, {}},
        {"failing in the API", update, "a.c", cwd(), {2}, 1, {fake_gemxapis::update(kHandle, {in_cwd("a.c")})},
         {}},
        {"an unresolvable operand", update, "a.c " + too_long(), cwd(), {}, 1, {},
         concat({{ops_line("update", "Entering")},
                 resolution(),
                 resolution("error while converting to abs pn"),
                 {ops_line("update", "error making abs pname"), ops_line("update", "Exiting")}})},
        {"an option word", update, "-x a.c", cwd(), {}, 1, {},
         scope("update", {ops_line("update", "error occurred while parsing arguments")})},
    });
}

TEST_F(AdapterTest, VtreeResolvesTheFirstOperandAndBuildsTheFlagWord) {
    const std::string f = in_cwd("f.c");
    run_cases({
        {"no flags", vtree, "f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 0)},
         concat({{ops_line("vtree", "Entering")}, resolution(), {ops_line("vtree", "Exiting")}})},
        {"-all", vtree, "-all f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 1)}, {}},
        {"-nco", vtree, "-nco f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 2)}, {}},
        {"-all -nco", vtree, "-all -nco f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 3)}, {}},
        {"-nmerge", vtree, "-nmerge f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 4)}, {}},
        {"all three, short forms", vtree, "-a -nme -nco f.c", cwd(), {}, 0, {fake_gemxapis::vtree(kHandle, f, 7)},
         {}},
        {"only the first of two operands", vtree, "f.c " + too_long(), cwd(), {}, 0,
         {fake_gemxapis::vtree(kHandle, f, 0)},
         concat({{ops_line("vtree", "Entering")}, resolution(), {ops_line("vtree", "Exiting")}})},
        {"failing in the API", vtree, "f.c", cwd(), {1}, 1, {fake_gemxapis::vtree(kHandle, f, 0)}, {}},
        {"no operand", vtree, "-all", cwd(), {}, 1, {},
         scope("vtree", {ops_line("vtree", "error occurred while parsing arguments")})},
        {"an unresolvable operand", vtree, too_long(), cwd(), {}, 1, {},
         concat({{ops_line("vtree", "Entering")},
                 resolution("error while converting to abs pn"),
                 {ops_line("vtree", "error making abs pname"), ops_line("vtree", "Exiting")}})},
    });
}

// A client cwd that cannot serve for resolution fails history, update and
// vtree as soon as an operand must be resolved, absolute operands included,
// and no API call is made.
TEST_F(AdapterTest, UnusableClientCwdFailsEveryResolution) {
    struct Cwd {
        const char *name;
        std::string cwd;
        const char *message;
    };
    const std::vector<Cwd> cwds = {
        {"empty", "", "cannot resolve rel pname without cwd"},
        {"a file", join(root(), "plain"), "error encountered whicle chdir"},
        {"missing", join(root(), "missing"), "error encountered whicle chdir"},
    };
    struct Op {
        const char *name;
        Adapter adapter;
    };
    const std::vector<Op> ops = {{"history", history}, {"update", update}, {"vtree", vtree}};
    for (const Cwd &c : cwds) {
        for (const Op &op : ops) {
            for (const std::string &operand : {std::string("a.c"), quoted(elsewhere("x.c"))}) {
                SCOPED_TRACE(std::string(c.name) + " cwd, " + op.name + " " + operand);
                fake_gemxapis::reset();
                EXPECT_EQ(op.adapter(kHandle, operand, c.cwd), 1);
                EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
                EXPECT_EQ(fake_gemxapis::trace(),
                          concat({{ops_line(op.name, "Entering")},
                                  resolution(c.message),
                                  {ops_line(op.name, "error making abs pname"), ops_line(op.name, "Exiting")}}));
            }
        }
    }
}

// make_abs_pn on its own: the absolute form against the client cwd,
// lexically normalised, and the limits of the 1024-byte buffer.
TEST_F(AdapterTest, MakeAbsPnResolvesAgainstTheClientCwd) {
    struct Case {
        const char *name;
        std::string cwd;
        std::string pathname;
        bool ok;
        std::string path;  // when ok
    };
    const std::string sep(1, kestrin_test::separator());
    const std::string up_to_1023 = std::string(1023 - cwd().size() - 1, 'p');
    const std::vector<Case> cases = {
        {"relative", cwd(), "a.c", true, in_cwd("a.c")},
        {"dot", cwd(), "./a.c", true, in_cwd("a.c")},
        {"dot dot", cwd(), "sub/../../b.c", true, join(root(), "b.c")},
        {"the cwd itself", cwd(), ".", true, cwd()},
        {"an empty pathname", cwd(), "", true, cwd()},
        {"cwd with a trailing separator", cwd() + sep, "a.c", true, in_cwd("a.c")},
        {"absolute", cwd(), elsewhere("x.c"), true, elsewhere("x.c")},
        {"repeated separators", cwd(), "sub//c.c", true, join(in_cwd("sub"), "c.c")},
        {"exactly 1023 characters", cwd(), up_to_1023, true, in_cwd(up_to_1023)},
        {"1024 characters", cwd(), up_to_1023 + "p", false, ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        fake_gemxapis::reset();
        char path[1024];
        std::memset(path, '#', sizeof path);
        ASSERT_EQ(make_abs_pn(k.cwd, k.pathname.c_str(), path), k.ok);
        if (k.ok) {
            EXPECT_EQ(std::string(path), k.path);
            EXPECT_EQ(fake_gemxapis::trace(), resolution());
        } else {
            EXPECT_EQ(fake_gemxapis::trace(), resolution("error while converting to abs pn"));
        }
    }
}

// Resolving no longer changes the process's current directory, so workers
// that resolve at the same time against different client cwds each get
// their own result.
TEST_F(AdapterTest, ConcurrentResolutionsKeepTheirOwnCwd) {
    char before[1024];
    ASSERT_EQ(fileutl_getcwd(before, sizeof before), 0);
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::vector<std::string> dirs;
    for (int t = 0; t < kThreads; ++t) {
        dirs.push_back(join(root(), "c" + std::to_string(t)));
        std::filesystem::create_directories(dirs.back());
    }
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                char path[1024];
                if (!make_abs_pn(dirs[t], "f.c", path) || std::string(path) != join(dirs[t], "f.c")) ++wrong[t];
            }
        });
    }
    for (std::thread &th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
    char after[1024];
    ASSERT_EQ(fileutl_getcwd(after, sizeof after), 0);
    EXPECT_STREQ(after, before);
}

}  // namespace
