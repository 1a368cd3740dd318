// The helper's life and the line exchanges of libgemxapis, over a fake
// helper link: start, ready line, answers, stale handles, broken helpers,
// and stopping while other threads exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "api_core.h"

namespace {

using gemxapis::ApiCore;
using gemxapis::HelperLink;
using gemxapis::LineStatus;
using gemxapis::Timeouts;

// The fake helper process. It outlives its link, so a test can look at it
// after the library has dropped the link.
struct FakeHelper {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::string> output{"ready"};  // lines it has written, unread
    bool output_closed = false;
    std::vector<std::string> received;  // what the library sent, as written
    bool input_closed = false;
    bool exited = false;
    bool terminated = false;
    bool exits_at_end_of_input = true;
    bool overlapping_exchange = false;  // a request arrived before the last answer was read
    int pid = 4242;
    // The answer to one request line; nullopt: it never answers.
    std::function<std::optional<std::string>(const std::string &)> answer = [](const std::string &) {
        return std::optional<std::string>("0");
    };

    void end() {
        exited = true;
        output_closed = true;
        cv.notify_all();
    }
};

class FakeLink final : public HelperLink {
public:
    explicit FakeLink(std::shared_ptr<FakeHelper> h) : h_(std::move(h)) {}

    bool send(std::string_view bytes) override {
        std::lock_guard<std::mutex> lock(h_->m);
        if (h_->input_closed || h_->exited) return false;
        if (!h_->output.empty()) h_->overlapping_exchange = true;
        std::string text(bytes);
        h_->received.push_back(text);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (auto a = h_->answer(text)) h_->output.push_back(*a);
        h_->cv.notify_all();
        return true;
    }

    LineStatus receive_line(std::string *line, int timeout_ms) override {
        std::unique_lock<std::mutex> lock(h_->m);
        auto ready = [&] { return !h_->output.empty() || h_->output_closed; };
        if (timeout_ms < 0)
            h_->cv.wait(lock, ready);
        else if (!h_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready))
            return LineStatus::timed_out;
        if (h_->output.empty()) return LineStatus::closed;
        *line = h_->output.front();
        h_->output.pop_front();
        return LineStatus::line;
    }

    void close_input() override {
        std::lock_guard<std::mutex> lock(h_->m);
        h_->input_closed = true;
        if (h_->exits_at_end_of_input) h_->end();
    }

    bool wait_for_exit(int timeout_ms) override {
        std::unique_lock<std::mutex> lock(h_->m);
        auto ended = [&] { return h_->exited; };
        if (timeout_ms < 0) {
            h_->cv.wait(lock, ended);
            return true;
        }
        return h_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ended);
    }

    void terminate() override {
        std::lock_guard<std::mutex> lock(h_->m);
        if (h_->exited) return;
        h_->terminated = true;
        h_->end();
    }

    int process_id() const override { return h_->pid; }

private:
    std::shared_ptr<FakeHelper> h_;
};

// A core whose starter hands out fresh fake helpers, prepared by prepare.
class GemxapisCoreTest : public ::testing::Test {
protected:
    GemxapisCoreTest()
        : core_(
              [this]() -> std::unique_ptr<HelperLink> {
                  ++starts_;
                  if (!start_works_) return nullptr;
                  auto h = std::make_shared<FakeHelper>();
                  h->pid = 4242 + starts_;
                  if (prepare_) prepare_(*h);
                  helpers_.push_back(h);
                  return std::make_unique<FakeLink>(h);
              },
              Timeouts{200, 200, 200}) {}

    FakeHelper &helper(std::size_t i = 0) { return *helpers_.at(i); }

    std::vector<std::shared_ptr<FakeHelper>> helpers_;
    std::function<void(FakeHelper &)> prepare_;
    bool start_works_ = true;
    int starts_ = 0;
    ApiCore core_;
};

TEST_F(GemxapisCoreTest, InitializeWaitsForReadyAndUninitializeEndsTheHelper) {
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    EXPECT_NE(handle, 0);
    EXPECT_EQ(core_.helper_process_id(handle), helper().pid);

    EXPECT_EQ(core_.uninitialize(&handle), 0);
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(helper().input_closed);
    EXPECT_TRUE(helper().exited);
    EXPECT_FALSE(helper().terminated);
    EXPECT_EQ(core_.helper_process_id(handle), 0);
}

TEST_F(GemxapisCoreTest, InitializeWhileAHelperRunsKeepsIt) {
    gemx_api_handle_t first = 0;
    gemx_api_handle_t second = 0;
    ASSERT_EQ(core_.initialize(&first), 0);
    ASSERT_EQ(core_.initialize(&second), 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(starts_, 1);
}

TEST_F(GemxapisCoreTest, NullHandlePointersAreRefused) {
    EXPECT_EQ(core_.initialize(nullptr), gemxapis::kBadArgument);
    EXPECT_EQ(core_.uninitialize(nullptr), gemxapis::kBadArgument);
    EXPECT_EQ(starts_, 0);
}

TEST_F(GemxapisCoreTest, AHelperThatCannotStartFails) {
    start_works_ = false;
    gemx_api_handle_t handle = 0;
    EXPECT_EQ(core_.initialize(&handle), gemxapis::kStartFailed);
    EXPECT_EQ(handle, 0);
}

struct NotReadyCase {
    const char *name;
    std::function<void(FakeHelper &)> prepare;
};

void PrintTo(const NotReadyCase &c, std::ostream *os) { *os << c.name; }

class GemxapisCoreNotReadyTest : public GemxapisCoreTest, public ::testing::WithParamInterface<NotReadyCase> {};

TEST_P(GemxapisCoreNotReadyTest, FailsAndLeavesNoHelper) {
    prepare_ = GetParam().prepare;
    gemx_api_handle_t handle = 0;
    EXPECT_EQ(core_.initialize(&handle), gemxapis::kNotReady);
    EXPECT_EQ(handle, 0);
    EXPECT_TRUE(helper().exited);
    EXPECT_EQ(core_.exchange(handle, "find_merge"), gemxapis::kNotCurrentHandle);
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, GemxapisCoreNotReadyTest,
    ::testing::Values(NotReadyCase{"exits",
                                   [](FakeHelper &h) {
                                       h.output.clear();
                                       h.end();
                                   }},
                      NotReadyCase{"says_something_else", [](FakeHelper &h) { h.output = {"hello"}; }},
                      NotReadyCase{"stays_silent", [](FakeHelper &h) { h.output.clear(); }},
                      NotReadyCase{"silent_and_deaf",
                                   [](FakeHelper &h) {
                                       h.output.clear();
                                       h.exits_at_end_of_input = false;
                                   }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(GemxapisCoreTest, ExchangeSendsOneLineAndPassesTheAnswerOn) {
    prepare_ = [](FakeHelper &h) {
        h.answer = [](const std::string &line) -> std::optional<std::string> {
            if (line == "history\t/a") return "0";
            if (line == "history\t/missing") return "1";
            return "-7";
        };
    };
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    EXPECT_EQ(core_.exchange(handle, "history\t/a"), 0);
    EXPECT_EQ(core_.exchange(handle, "history\t/missing"), 1);
    EXPECT_EQ(core_.exchange(handle, "other"), -7);
    EXPECT_EQ(helper().received, (std::vector<std::string>{"history\t/a\n", "history\t/missing\n", "other\n"}));
}

TEST_F(GemxapisCoreTest, StaleHandlesAreRefusedWithoutReachingTheHelper) {
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    gemx_api_handle_t old = handle;
    for (gemx_api_handle_t wrong : {0, handle + 1, -handle})
        EXPECT_EQ(core_.exchange(wrong, "find_merge"), gemxapis::kNotCurrentHandle) << wrong;
    ASSERT_EQ(core_.uninitialize(&handle), 0);
    EXPECT_EQ(core_.exchange(old, "find_merge"), gemxapis::kNotCurrentHandle);
    ASSERT_EQ(core_.initialize(&handle), 0);
    EXPECT_NE(handle, old);
    EXPECT_EQ(core_.exchange(old, "find_merge"), gemxapis::kNotCurrentHandle);
    EXPECT_TRUE(helper(0).received.empty());
    EXPECT_TRUE(helper(1).received.empty());
}

TEST_F(GemxapisCoreTest, UninitializeWithAWrongHandleLeavesTheHelperRunning) {
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    gemx_api_handle_t wrong = handle + 1;
    EXPECT_EQ(core_.uninitialize(&wrong), gemxapis::kNotCurrentHandle);
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(helper().input_closed);
    EXPECT_EQ(core_.exchange(handle, "find_merge"), 0);
}

struct BrokenCase {
    const char *name;
    std::function<void(FakeHelper &)> prepare;
    int result;
};

void PrintTo(const BrokenCase &c, std::ostream *os) { *os << c.name; }

class GemxapisCoreBrokenTest : public GemxapisCoreTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(GemxapisCoreBrokenTest, FailsAndTheNextInitializeStartsAFreshHelper) {
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    GetParam().prepare(helper());
    EXPECT_EQ(core_.exchange(handle, "find_merge"), GetParam().result);
    // The helper is out of use from now on.
    EXPECT_EQ(core_.exchange(handle, "find_merge"), gemxapis::kHelperGone);
    gemx_api_handle_t again = handle;
    ASSERT_EQ(core_.initialize(&again), 0);
    EXPECT_NE(again, handle);
    EXPECT_EQ(starts_, 2);
    EXPECT_TRUE(helper(0).exited);
    EXPECT_EQ(core_.exchange(again, "find_merge"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, GemxapisCoreBrokenTest,
    ::testing::Values(
        BrokenCase{"died",
                   [](FakeHelper &h) {
                       std::lock_guard<std::mutex> l(h.m);
                       h.end();
                   },
                   gemxapis::kHelperGone},
        BrokenCase{"closed_output_after_reading",
                   [](FakeHelper &h) {
                       std::lock_guard<std::mutex> l(h.m);
                       h.answer = [](const std::string &) { return std::nullopt; };
                       h.output_closed = true;
                   },
                   gemxapis::kHelperGone},
        BrokenCase{"answered_nonsense",
                   [](FakeHelper &h) {
                       std::lock_guard<std::mutex> l(h.m);
                       h.answer = [](const std::string &) { return std::optional<std::string>("zero"); };
                   },
                   gemxapis::kBadAnswer},
        BrokenCase{"answered_nothing",
                   [](FakeHelper &h) {
                       std::lock_guard<std::mutex> l(h.m);
                       h.answer = [](const std::string &) { return std::optional<std::string>(""); };
                   },
                   gemxapis::kBadAnswer}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(GemxapisCoreTest, AHelperThatIgnoresEndOfInputIsKilled) {
    prepare_ = [](FakeHelper &h) { h.exits_at_end_of_input = false; };
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    EXPECT_EQ(core_.uninitialize(&handle), 0);
    EXPECT_TRUE(helper().input_closed);
    EXPECT_TRUE(helper().terminated);
}

TEST_F(GemxapisCoreTest, UninitializeDuringAHungExchangeKillsTheHelper) {
    prepare_ = [](FakeHelper &h) { h.answer = [](const std::string &) { return std::nullopt; }; };
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    std::atomic<int> result{-1};
    std::thread worker([&] { result = core_.exchange(handle, "history\t/a"); });
    {
        // Wait until the request has reached the helper.
        std::unique_lock<std::mutex> lock(helper().m);
        helper().cv.wait(lock, [&] { return !helper().received.empty(); });
    }
    gemx_api_handle_t h = handle;
    EXPECT_EQ(core_.uninitialize(&h), 0);
    worker.join();
    EXPECT_EQ(result, gemxapis::kStopping);
    EXPECT_TRUE(helper().terminated);
}

TEST_F(GemxapisCoreTest, ConcurrentExchangesAreCarriedOutOneAtATime) {
    prepare_ = [](FakeHelper &h) {
        // The answer is the request's length, so a mixed-up answer shows.
        h.answer = [](const std::string &line) { return std::optional<std::string>(std::to_string(line.size())); };
    };
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                std::string line = "history\t/" + std::string(static_cast<std::size_t>(t * 7 + i % 13), 'p');
                if (core_.exchange(handle, line) != static_cast<int>(line.size())) ++wrong;
            }
        });
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(helper().overlapping_exchange);
    EXPECT_EQ(helper().received.size(), 16u * 300u);
}

TEST_F(GemxapisCoreTest, UninitializeWhileThreadsExchangeEndsThemCleanly) {
    gemx_api_handle_t handle = 0;
    ASSERT_EQ(core_.initialize(&handle), 0);
    const gemx_api_handle_t used = handle;
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                int r = core_.exchange(used, "find_merge");
                if (r != 0 && r != gemxapis::kStopping && r != gemxapis::kNotCurrentHandle) ++unexpected;
                ++done;
            }
        });
    }
    while (done < 200) std::this_thread::yield();
    EXPECT_EQ(core_.uninitialize(&handle), 0);
    EXPECT_EQ(handle, 0);
    // Every exchange that starts now fails at once.
    EXPECT_EQ(core_.exchange(used, "find_merge"), gemxapis::kNotCurrentHandle);
    stop = true;
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(unexpected, 0);
    EXPECT_FALSE(helper().terminated);
}

}  // namespace
