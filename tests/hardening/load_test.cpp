// The real service program under load: many clients at once, for a fixed
// time, mixing well-formed operations with every kind of malformed request.
// Every request must get its own right answer, the operations that reach
// the helper must each leave their journal line, and once the load is over
// the service's threads, handles and memory must be back where they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_os.h"
#include "service_runner.h"
#include "service_test_util.h"

namespace {

namespace fs = std::filesystem;
using service_test::exchange;
using service_test::join;
using service_test::request;
using service_test::response;

// Generous limits that only keep a broken run from hanging.
constexpr int kStartMs = 90000;
constexpr int kExchangeMs = 60000;
constexpr int kSettleMs = 30000;

// Memory the service may keep after a load beyond what it held after an
// identical warm-up load: allocator caches, not a per-request leak (a
// leak of even 100 bytes a request would pass this over the run).
constexpr long kRssSlackKiB = 2048;

// Sanitizer builds hold freed memory back (quarantine, shadow memory), so
// their resident size says nothing about leaks; there the threads and
// handles are checked, and the memory figure in the ordinary build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryFigureMeaningful = false;
#else
constexpr bool kMemoryFigureMeaningful = true;
#endif

// One request of the mix and the answer it must get.
struct Kind {
    const char *name;
    std::string message;
    int answer;
    const char *journal;  // the journal line each one leaves, or null
};

// What the clients saw of one kind.
struct Tally {
    std::atomic<long> sent{0};
    std::atomic<long> wrong{0};
    std::atomic<long> unanswered{0};
};

class ServiceUnderLoad : public ::testing::Test {
protected:
    void SetUp() override {
        process_ = service_test::start_process(tree_.service_program(), tree_.root());
        ASSERT_TRUE(process_) << "the service program could not be started";
        ASSERT_TRUE(service_test::wait_until_serving(*process_, env_.pipe_name(), kStartMs));
        cwd_ = join(work_.path(), "c");
        fs::create_directories(cwd_);
        kestrin_test::write_file(join(cwd_, "a.c"), "a");
    }

    // The mix: operations answered 0 (two of them reach the helper) and
    // malformed requests of every layer, answered 1.
    std::vector<Kind> kinds() const {
        const std::string no_args = std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag +
                                    request_end_tag;
        return {
            {"no operation", request("0", "", ""), 0, nullptr},
            {"history", request("3", "a.c", cwd_), 0, "history"},
            {"vtree", request("6", "-all a.c", cwd_), 0, "vtree"},
            {"empty message", "", 1, nullptr},
            {"garbage", std::string("\x01\xff<request_start>\0<<>>", 20), 1, nullptr},
            {"no request end", std::string(request_start_tag) + op_id_start_tag + "0", 1, nullptr},
            {"op of letters", request("abc", "", cwd_), 1, nullptr},
            {"op out of range", request("99999999999", "", cwd_), 1, nullptr},
            {"no args", no_args, 1, nullptr},
            {"unknown op", request("9", "", cwd_), 1, nullptr},
            {"bad syntax", request("3", "-bogus a.c", cwd_), 1, nullptr},
            {"unbalanced quote", request("5", "\"a.c", cwd_), 1, nullptr},
            {"cwd that is no folder", request("3", "a.c", join(cwd_, "missing")), 1, nullptr},
            {"large args", request("0", std::string(200000, 'x'), cwd_), 0, nullptr},
        };
    }

    // Runs clients for ms milliseconds, each cycling through the mix from
    // an offset of its own; tallies[i] counts kind i.
    void load(int clients, int ms, const std::vector<Kind> &mix, std::vector<Tally> &tallies) {
        std::latch go(clients);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                go.arrive_and_wait();
                for (std::size_t i = static_cast<std::size_t>(c); std::chrono::steady_clock::now() < end; ++i) {
                    const std::size_t k = i % mix.size();
                    ++tallies[k].sent;
                    std::optional<std::string> answer = exchange(env_.pipe_name(), mix[k].message, kExchangeMs);
                    if (!answer) {
                        ++tallies[k].unanswered;
                    } else if (*answer != response(mix[k].answer)) {
                        ++tallies[k].wrong;
                    }
                }
            });
        }
        for (std::thread &t : threads) t.join();
    }

    // Waits until the service's threads and handles are down to those of
    // before (its workers end shortly after their clients go).
    bench::Resources settled(const bench::Resources &before) {
        bench::Resources now = bench::process_resources(process_->pid());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
        while ((now.threads > before.threads || now.handles > before.handles) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            now = bench::process_resources(process_->pid());
        }
        return now;
    }

    long journal_count(const char *operation) const {
        std::vector<std::string> lines = service_test::read_lines(env_.journal_file());
        const std::string prefix = std::string(operation) + "\t";
        return static_cast<long>(std::count_if(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        }));
    }

    service_test::ProductTree tree_{true};
    service_test::ServiceEnvironment env_;
    kestrin_test::TempDir work_{"work"};
    std::unique_ptr<service_test::Process> process_;
    std::string cwd_;
};

TEST_F(ServiceUnderLoad, SixtyFourClientsMixingGoodAndBadRequests) {
    constexpr int kClients = 64;
    const std::vector<Kind> mix = kinds();

    // A warm-up of the same shape first, so the figures taken afterwards
    // include what the allocator and the helper keep once they have served
    // this many clients.
    {
        std::vector<Tally> warm(mix.size());
        load(kClients, 1000, mix, warm);
    }
    const bench::Resources idle = bench::process_resources(process_->pid());
    ASSERT_GT(idle.threads, 0) << "the service's resources cannot be read";
    const bench::Resources before = settled(idle);
    std::vector<long> journal_before;
    for (const Kind &k : mix) journal_before.push_back(k.journal ? journal_count(k.journal) : 0);

    std::vector<Tally> tallies(mix.size());
    load(kClients, 4000, mix, tallies);

    for (std::size_t k = 0; k < mix.size(); ++k) {
        SCOPED_TRACE(mix[k].name);
        EXPECT_GT(tallies[k].sent.load(), 0);
        EXPECT_EQ(tallies[k].wrong.load(), 0);
        EXPECT_EQ(tallies[k].unanswered.load(), 0);
        // The journal is written before the answer goes out, so it is
        // complete once every client has its answer.
        if (mix[k].journal) {
            EXPECT_EQ(journal_count(mix[k].journal) - journal_before[k], tallies[k].sent.load());
        }
    }

    long total = 0;
    for (const Tally &t : tallies) total += t.sent.load();
    RecordProperty("requests", static_cast<int>(total));

    const bench::Resources after = settled(before);
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.handles, before.handles);
    if (kMemoryFigureMeaningful) {
        EXPECT_LE(after.rss_kib, before.rss_kib + kRssSlackKiB)
            << "resident memory grew from " << before.rss_kib << " KiB to " << after.rss_kib << " KiB";
    }
    EXPECT_EQ(exchange(env_.pipe_name(), request("0", "", ""), kExchangeMs), response(0));
}

}  // namespace
