// The real service with a trace folder it cannot use: missing, a file, or
// below a file (unwritable even for root). Tracing is then off, and the
// service serves as it does untraced; nothing appears where the variable
// points.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "service_runner.h"
#include "service_test_util.h"

namespace {

namespace fs = std::filesystem;
using service_test::exchange;
using service_test::join;
using service_test::request;
using service_test::response;

constexpr int kStartMs = 90000;

struct FolderCase {
    const char *name;
    const char *relative;  // below the test's work folder
    bool make_file;        // create "file" in the work folder first
};

// Cases show by name in test listings.
void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.name; }

class ServiceWithUnusableTraceFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ServiceWithUnusableTraceFolder, ServesUntraced) {
    const FolderCase &c = GetParam();
    service_test::ProductTree tree(true);
    service_test::ServiceEnvironment env;
    kestrin_test::TempDir work("work");
    if (c.make_file) {
        ASSERT_TRUE(kestrin_test::write_file(join(work.path(), "file"), "x"));
    }
    const std::string folder = join(work.path(), c.relative);
    service_test::set_env("KESTRIN_GEMXAPIS_TRACE_DIR", folder.c_str());
    const std::string cwd = join(work.path(), "c");
    fs::create_directories(cwd);
    ASSERT_TRUE(kestrin_test::write_file(join(cwd, "a.c"), "a"));

    std::unique_ptr<service_test::Process> service = service_test::start_process(tree.service_program(), tree.root());
    ASSERT_TRUE(service);
    ASSERT_TRUE(service_test::wait_until_serving(*service, env.pipe_name(), kStartMs));
    EXPECT_EQ(exchange(env.pipe_name(), request("3", "a.c", cwd)), response(0));
    EXPECT_EQ(exchange(env.pipe_name(), request("3", "-bogus", cwd)), response(1));
    EXPECT_EQ(service_test::read_lines(env.journal_file()).size(), 1u);
    service->kill_hard();

    // The work folder holds what the test made and nothing else.
    std::size_t entries = 0;
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(work.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, c.make_file ? 3u : 2u);  // [file,] c, c/a.c
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceWithUnusableTraceFolder,
                         ::testing::Values(FolderCase{"missing", "missing", false},
                                           FolderCase{"a_file", "file", true},
                                           FolderCase{"below_a_file", "file/traces", true}),
                         [](const ::testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

}  // namespace
