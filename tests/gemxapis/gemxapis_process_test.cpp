// libgemxapis with the real helper program bin/gemx_helper (and misbehaving
// stand-ins for it): start and stop, the journal line of every operation,
// results, concurrency, and a helper that outlives nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gemxapis.h"
#include "gemxapis_testing.h"
#include "test_common.h"
#include "test_os.h"
#include "veyraks.h"

namespace {

namespace fs = std::filesystem;
using kestrin_test::TempDir;

// A path as the journal writes it: only the backslash of the paths used
// here needs escaping.
std::string journaled(const std::string &path) {
    std::string out;
    for (char c : path) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// Waits (bounded) until process pid has ended; false when it still runs.
bool ends_within(int pid, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (gemxapis_test::process_running(pid)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Each test runs with the product tree as current directory, a private
// temporary directory for the journal, and the helper stopped at the end.
class GemxapisHelperProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_cwd_ = fs::current_path();
        for (const std::string &name : gemxapis_test::temp_dir_variables()) {
            const char *value = std::getenv(name.c_str());
            saved_env_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            gemxapis_test::set_env(name.c_str(), temp_.path().c_str());
        }
        fs::current_path(kestrin_test::product_dir());
        char dir[1024];
        ASSERT_EQ(fileutl_get_tmpdir(0, dir, sizeof dir, 0), 0);
        journal_ = std::string(dir) + kestrin_test::separator() + "gemx_helper.journal";
        file_ = work_.file("file.txt");
        ASSERT_TRUE(kestrin_test::write_file(file_, "x"));
        missing_ = work_.file("missing");
    }

    void TearDown() override {
        if (handle_ != 0) gemx_api_uninitialize(&handle_);
        gemx_api_testing_set_timeouts(30000, 2000, 5000);
        gemxapis_test::set_env("GEMXAPIS_FAKE_HELPER", nullptr);
        fs::current_path(saved_cwd_);
        for (const auto &[name, value] : saved_env_)
            gemxapis_test::set_env(name.c_str(), value ? value->c_str() : nullptr);
    }

    // The journal lines written since the last call; each must be whole.
    std::vector<std::string> new_journal_lines() {
        std::string text = kestrin_test::read_file(journal_);
        std::string fresh = text.size() > seen_ ? text.substr(seen_) : std::string();
        seen_ = text.size();
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < fresh.size()) {
            std::size_t end = fresh.find('\n', start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "journal ends inside a line: " << fresh.substr(start);
                break;
            }
            lines.push_back(fresh.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    // A temporary product tree whose bin/gemx_helper is the fake helper.
    void use_fake_helper(const TempDir &tree, const char *mode) {
        fs::create_directories(fs::path(tree.path()) / "bin");
        std::string suffix = gemxapis_test::kProgramSuffix;
        fs::copy_file(fs::path(kestrin_test::bin_dir()) / ("gemxapis_fake_helper" + suffix),
                      fs::path(tree.path()) / "bin" / ("gemx_helper" + suffix));
        gemxapis_test::set_env("GEMXAPIS_FAKE_HELPER", mode);
        fs::current_path(tree.path());
    }

    TempDir temp_{"gemxtmp"};
    TempDir work_{"gemxwork"};
    std::string journal_;
    std::string file_;
    std::string missing_;
    std::size_t seen_ = 0;
    gemx_api_handle_t handle_ = 0;

private:
    fs::path saved_cwd_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
};

TEST_F(GemxapisHelperProcessTest, StartsTheHelperAndStopsIt) {
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    ASSERT_NE(handle_, 0);
    int pid = gemx_api_testing_helper_pid(handle_);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(gemxapis_test::process_running(pid));

    // A second initialize keeps the running helper.
    gemx_api_handle_t again = 0;
    ASSERT_EQ(gemx_api_initialize(&again), 0);
    EXPECT_EQ(again, handle_);
    EXPECT_EQ(gemx_api_testing_helper_pid(again), pid);

    gemx_api_handle_t used = handle_;
    EXPECT_EQ(gemx_api_uninitialize(&handle_), 0);
    EXPECT_EQ(handle_, 0);
    // Reaped before uninitialize returned.
    EXPECT_FALSE(gemxapis_test::process_running(pid));
    EXPECT_NE(gemx_api_find_merge(used), 0);
    EXPECT_NE(gemx_api_find_merge(0), 0);
    EXPECT_TRUE(new_journal_lines().empty());
}

TEST_F(GemxapisHelperProcessTest, TheHelperIsFoundRelativeToTheCurrentDirectoryOnly) {
    // The library's own location does not count: an empty tree has none.
    TempDir empty("gemxempty");
    fs::current_path(empty.path());
    EXPECT_NE(gemx_api_initialize(&handle_), 0);
    EXPECT_EQ(handle_, 0);
}

TEST_F(GemxapisHelperProcessTest, TheHelperStartsWhereverTheCurrentDirectoryMovesLater) {
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    fs::current_path(work_.path());
    EXPECT_EQ(gemx_api_deliver(handle_, work_.path().c_str()), 0);
    EXPECT_EQ(new_journal_lines(), std::vector<std::string>{"deliver\t" + journaled(work_.path())});
}

struct OperationCase {
    const char *name;
    // Calls one operation with the fixture's paths: (handle, work dir,
    // existing file, missing path).
    std::function<int(gemx_api_handle_t, const std::string &, const std::string &, const std::string &)> call;
    // The expected journal line from the same paths.
    std::function<std::string(const std::string &, const std::string &, const std::string &)> line;
    bool succeeds;
};

void PrintTo(const OperationCase &c, std::ostream *os) { *os << c.name; }

class GemxapisHelperOperationTest : public GemxapisHelperProcessTest, public ::testing::WithParamInterface<OperationCase> {};

TEST_P(GemxapisHelperOperationTest, JournalsOneLineAndAnswers) {
    const OperationCase &c = GetParam();
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    int result = c.call(handle_, work_.path(), file_, missing_);
    if (c.succeeds)
        EXPECT_EQ(result, 0);
    else
        EXPECT_NE(result, 0);
    EXPECT_EQ(new_journal_lines(), std::vector<std::string>{c.line(work_.path(), file_, missing_)});
}

using S = const std::string &;

INSTANTIATE_TEST_SUITE_P(
    Operations, GemxapisHelperOperationTest,
    ::testing::Values(
        OperationCase{"deliver_existing", [](auto h, S w, S, S) { return gemx_api_deliver(h, w.c_str()); },
                      [](S w, S, S) { return "deliver\t" + journaled(w); }, true},
        OperationCase{"deliver_missing", [](auto h, S, S, S m) { return gemx_api_deliver(h, m.c_str()); },
                      [](S, S, S m) { return "deliver\t" + journaled(m); }, false},
        OperationCase{"deliver_empty", [](auto h, S, S, S) { return gemx_api_deliver(h, ""); },
                      [](S, S, S) { return std::string("deliver\t"); }, false},
        OperationCase{"rebase_existing", [](auto h, S w, S, S) { return gemx_api_rebase(h, w.c_str()); },
                      [](S w, S, S) { return "rebase\t" + journaled(w); }, true},
        OperationCase{"rebase_missing", [](auto h, S, S, S m) { return gemx_api_rebase(h, m.c_str()); },
                      [](S, S, S m) { return "rebase\t" + journaled(m); }, false},
        OperationCase{"find_merge", [](auto h, S, S, S) { return gemx_api_find_merge(h); },
                      [](S, S, S) { return std::string("find_merge"); }, true},
        OperationCase{"history_existing", [](auto h, S, S f, S) { return gemx_api_history(h, f.c_str()); },
                      [](S, S f, S) { return "history\t" + journaled(f); }, true},
        OperationCase{"history_missing", [](auto h, S, S, S m) { return gemx_api_history(h, m.c_str()); },
                      [](S, S, S m) { return "history\t" + journaled(m); }, false},
        OperationCase{"history_tabs_newlines_backslashes",
                      [](auto h, S, S, S) { return gemx_api_history(h, "odd\tname\nwith\\slash\r"); },
                      [](S, S, S) { return std::string("history\todd\\tname\\nwith\\\\slash\\r"); }, false},
        OperationCase{"update_one",
                      [](auto h, S, S f, S) {
                          const char *paths[] = {f.c_str()};
                          return gemx_api_update(h, 0, paths, 1, 0, 0, 0, 0);
                      },
                      [](S, S f, S) { return "update\t1\t" + journaled(f); }, true},
        OperationCase{"update_one_missing_of_three",
                      [](auto h, S w, S f, S m) {
                          const char *paths[] = {f.c_str(), m.c_str(), w.c_str()};
                          return gemx_api_update(h, 0, paths, 3, 0, 0, 0, 0);
                      },
                      [](S w, S f, S m) {
                          return "update\t3\t" + journaled(f) + "\t" + journaled(m) + "\t" + journaled(w);
                      },
                      false},
        OperationCase{"update_thousand",
                      [](auto h, S w, S f, S) {
                          std::vector<const char *> paths;
                          for (int i = 0; i < 1000; ++i) paths.push_back(i % 2 ? w.c_str() : f.c_str());
                          return gemx_api_update(h, 0, paths.data(), 1000, 0, 0, 0, 0);
                      },
                      [](S w, S f, S) {
                          std::string line = "update\t1000";
                          for (int i = 0; i < 1000; ++i) line += "\t" + journaled(i % 2 ? w : f);
                          return line;
                      },
                      true},
        OperationCase{"vtree_no_flags", [](auto h, S, S f, S) { return gemx_api_vtree(h, f.c_str(), 0); },
                      [](S, S f, S) { return "vtree\t" + journaled(f) + "\t0"; }, true},
        OperationCase{"vtree_all_nco", [](auto h, S, S f, S) { return gemx_api_vtree(h, f.c_str(), 3); },
                      [](S, S f, S) { return "vtree\t" + journaled(f) + "\t3"; }, true},
        OperationCase{"vtree_every_flag", [](auto h, S w, S, S) { return gemx_api_vtree(h, w.c_str(), 7); },
                      [](S w, S, S) { return "vtree\t" + journaled(w) + "\t7"; }, true},
        OperationCase{"vtree_missing", [](auto h, S, S, S m) { return gemx_api_vtree(h, m.c_str(), 4); },
                      [](S, S, S m) { return "vtree\t" + journaled(m) + "\t4"; }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(GemxapisHelperProcessTest, AnExistingPathWithTabsAndNewlinesSucceeds) {
    std::string odd = work_.file("tab\there\nnewline");
    if (!kestrin_test::write_file(odd, "x")) GTEST_SKIP() << "this file system refuses such names";
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    EXPECT_EQ(gemx_api_history(handle_, odd.c_str()), 0);
    std::vector<std::string> lines = new_journal_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "history\t" + journaled(work_.path()) + kestrin_test::separator() + "tab\\there\\nnewline");
}

TEST_F(GemxapisHelperProcessTest, MissingArgumentsFailWithoutReachingTheHelper) {
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    const char *with_null[] = {file_.c_str(), nullptr};
    const char *one[] = {file_.c_str()};
    EXPECT_NE(gemx_api_deliver(handle_, nullptr), 0);
    EXPECT_NE(gemx_api_rebase(handle_, nullptr), 0);
    EXPECT_NE(gemx_api_history(handle_, nullptr), 0);
    EXPECT_NE(gemx_api_vtree(handle_, nullptr, 1), 0);
    EXPECT_NE(gemx_api_update(handle_, 0, nullptr, 1, 0, 0, 0, 0), 0);
    EXPECT_NE(gemx_api_update(handle_, 0, one, 0, 0, 0, 0, 0), 0);
    EXPECT_NE(gemx_api_update(handle_, 0, one, -1, 0, 0, 0, 0), 0);
    EXPECT_NE(gemx_api_update(handle_, 0, with_null, 2, 0, 0, 0, 0), 0);
    EXPECT_TRUE(new_journal_lines().empty());
    // The helper is still in step.
    EXPECT_EQ(gemx_api_find_merge(handle_), 0);
    EXPECT_EQ(new_journal_lines(), std::vector<std::string>{"find_merge"});
}

struct FakeStartCase {
    const char *mode;
};

void PrintTo(const FakeStartCase &c, std::ostream *os) { *os << c.mode; }

class GemxapisFakeHelperStartTest : public GemxapisHelperProcessTest, public ::testing::WithParamInterface<FakeStartCase> {};

TEST_P(GemxapisFakeHelperStartTest, InitializeFailsWithoutHanging) {
    TempDir tree("gemxtree");
    use_fake_helper(tree, GetParam().mode);
    gemx_api_testing_set_timeouts(1000, -1, 1000);
    EXPECT_NE(gemx_api_initialize(&handle_), 0);
    EXPECT_EQ(handle_, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, GemxapisFakeHelperStartTest,
                         ::testing::Values(FakeStartCase{"exit"}, FakeStartCase{"chatter"},
                                           FakeStartCase{"silent"}),
                         [](const auto &info) { return std::string(info.param.mode); });

TEST_F(GemxapisHelperProcessTest, AHelperThatIgnoresEndOfInputIsKilled) {
    TempDir tree("gemxtree");
    use_fake_helper(tree, "deaf");
    gemx_api_testing_set_timeouts(-1, -1, 300);
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    int pid = gemx_api_testing_helper_pid(handle_);
    EXPECT_EQ(gemx_api_find_merge(handle_), 0);
    EXPECT_EQ(gemx_api_uninitialize(&handle_), 0);
    EXPECT_FALSE(gemxapis_test::process_running(pid));
}

TEST_F(GemxapisHelperProcessTest, AnOperationThatNeverGetsAnAnswerEndsWithUninitialize) {
    TempDir tree("gemxtree");
    use_fake_helper(tree, "stall");
    gemx_api_testing_set_timeouts(-1, 300, 300);
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    const gemx_api_handle_t used = handle_;
    int pid = gemx_api_testing_helper_pid(handle_);
    std::atomic<int> result{0};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = gemx_api_find_merge(used);
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(gemx_api_uninitialize(&handle_), 0);
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_NE(result, 0);
    EXPECT_FALSE(gemxapis_test::process_running(pid));
}

TEST_F(GemxapisHelperProcessTest, AHelperThatDiedFailsOperationsAndIsReplaced) {
    TempDir tree("gemxtree");
    use_fake_helper(tree, "vanish");
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    const gemx_api_handle_t first = handle_;
    ASSERT_TRUE(ends_within(gemx_api_testing_helper_pid(handle_), std::chrono::seconds(30)));
    // Writing to the dead helper fails; it raises no SIGPIPE in this process.
    EXPECT_NE(gemx_api_find_merge(handle_), 0);
    EXPECT_NE(gemx_api_history(handle_, file_.c_str()), 0);

    // The real helper takes over at the next initialize.
    fs::current_path(kestrin_test::product_dir());
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    EXPECT_NE(handle_, first);
    EXPECT_EQ(gemx_api_find_merge(handle_), 0);
    EXPECT_NE(gemx_api_find_merge(first), 0);
}

TEST_F(GemxapisHelperProcessTest, SixteenThreadsGetTheirOwnAnswersAndWholeLines) {
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    const int kThreads = 16;
    const int kOps = 60;
    std::vector<std::string> files;
    for (int t = 0; t < kThreads; ++t) {
        files.push_back(work_.file("f" + std::to_string(t)));
        ASSERT_TRUE(kestrin_test::write_file(files.back(), "x"));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    const gemx_api_handle_t h = handle_;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string &f = files[static_cast<std::size_t>(t)];
            for (int i = 0; i < kOps; ++i) {
                std::string gone = f + "_gone_" + std::to_string(i);
                const char *two[] = {f.c_str(), f.c_str()};
                switch (i % 4) {
                case 0:
                    if (gemx_api_history(h, f.c_str()) != 0) ++wrong;
                    break;
                case 1:
                    if (gemx_api_history(h, gone.c_str()) == 0) ++wrong;
                    break;
                case 2:
                    if (gemx_api_vtree(h, f.c_str(), i % 8) != 0) ++wrong;
                    break;
                default:
                    if (gemx_api_update(h, 0, two, 2, 0, 0, 0, 0) != 0) ++wrong;
                }
            }
        });
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(wrong, 0);

    std::vector<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        std::string f = journaled(files[static_cast<std::size_t>(t)]);
        for (int i = 0; i < kOps; ++i) {
            switch (i % 4) {
            case 0:
                expected.push_back("history\t" + f);
                break;
            case 1:
                expected.push_back("history\t" + f + "_gone_" + std::to_string(i));
                break;
            case 2:
                expected.push_back("vtree\t" + f + "\t" + std::to_string(i % 8));
                break;
            default:
                expected.push_back("update\t2\t" + f + "\t" + f);
            }
        }
    }
    std::vector<std::string> lines = new_journal_lines();
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

TEST_F(GemxapisHelperProcessTest, UninitializeWhileOperationsRunEndsThemCleanly) {
    ASSERT_EQ(gemx_api_initialize(&handle_), 0);
    const gemx_api_handle_t used = handle_;
    int pid = gemx_api_testing_helper_pid(handle_);
    std::atomic<int> done{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> stop{false};
    std::atomic<int> succeeded_after_stop{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                bool was_stopped = stopped;
                int r = gemx_api_history(used, file_.c_str());
                if (was_stopped && r == 0) ++succeeded_after_stop;
                ++done;
            }
        });
    }
    while (done < 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gemx_api_uninitialize(&handle_), 0);
    stopped = true;
    int before = done;
    while (done < before + 50) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(succeeded_after_stop, 0);
    EXPECT_FALSE(gemxapis_test::process_running(pid));
    // Every journal line that was written is whole.
    for (const std::string &line : new_journal_lines()) EXPECT_EQ(line, "history\t" + journaled(file_));
}

TEST_F(GemxapisHelperProcessTest, TheHelperEndsWhenItsParentIsKilled) {
    std::string driver = kestrin_test::bin_dir() + kestrin_test::separator() + "gemxapis_driver" +
                         gemxapis_test::kProgramSuffix;
    auto child = gemxapis_test::start_child(driver, {"hold", kestrin_test::product_dir()});
    ASSERT_TRUE(child);
    std::string line;
    ASSERT_TRUE(child->read_line(&line));
    ASSERT_EQ(line.rfind("helper ", 0), 0u) << line;
    int pid = std::atoi(line.c_str() + 7);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(gemxapis_test::process_running(pid));
    child->kill_hard();
    EXPECT_TRUE(ends_within(pid, std::chrono::seconds(30)));
}

}  // namespace
