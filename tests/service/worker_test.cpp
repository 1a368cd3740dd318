// read_request and com_worker over a real pipe of the platform layer, with
// the recording operations API behind the adapters: how a request is read
// (chunks, NUL bytes, one message only, the size limit) and what the worker
// answers and traces.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fake_gemxapis.h"
#include "pipe.h"
#include "processes.h"
#include "service_internal.h"
#include "service_test_os.h"
#include "service_test_util.h"

namespace {

using fake_gemxapis::Call;
using service_test::request;
using service_test::response;
using service_test::svc_line;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr gemx_api_handle_t kHandle = 31;

// A pipe name that no other test uses.
std::string unique_pipe_name() {
    static std::atomic<int> counter{0};
    return "\\\\.\\pipe\\kestrin\\service_worker_test_" + std::to_string(platform::current_pid()) + "_" +
           std::to_string(counter++);
}

// Text of the given size in a repeating pattern without NUL bytes.
std::string pattern(std::size_t size) {
    std::string text(size, 'a');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

// One server instance and one client of a private pipe; the POSIX socket
// lives in a private temporary directory.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_gemxapis::reset();
        helper_handle.store(kHandle);
        server_ = platform::PipeInstance::create(name_);
        ASSERT_TRUE(server_.valid());
        std::atomic<bool> connected{false};
        std::thread accept([&] { connected = server_.connect(); });
        bool opened = client_.wait(10000) && client_.open();
        accept.join();
        ASSERT_TRUE(opened);
        ASSERT_TRUE(connected);
    }
    void TearDown() override { helper_handle.store(0); }

    // Writes text as one message on a thread of its own, since a large
    // message is only taken in as the server reads it.
    std::thread send_async(std::string text, std::atomic<bool> *ok = nullptr) {
        return std::thread([this, text = std::move(text), ok] {
            std::size_t written = 0;
            bool sent = client_.write(text.data(), text.size(), &written) && written == text.size();
            if (ok) *ok = sent;
        });
    }

    // Writes text as one message from this thread.
    void send(const std::string &text) {
        std::size_t written = 0;
        ASSERT_TRUE(client_.write(text.data(), text.size(), &written));
        ASSERT_EQ(written, text.size());
    }

    // The answer to the client, or "<no answer>" when its read fails.
    std::string answer() {
        char buf[4096];
        std::size_t got = 0;
        if (!client_.read(buf, sizeof buf - 1, &got)) return "<no answer>";
        return std::string(buf, got);
    }

    // Hands the connected instance to com_worker on a thread of its own, as
    // the listener does.
    std::thread start_worker() {
        auto *block = new platform::PipeInstance(std::move(server_));
        return std::thread(com_worker, block);
    }

    static std::vector<std::string> worker_trace(std::vector<std::string> inner) {
        std::vector<std::string> lines{svc_line("com_worker", "Entering")};
        lines.insert(lines.end(), inner.begin(), inner.end());
        lines.push_back(svc_line("com_worker", "Exiting"));
        return lines;
    }

    kestrin_test::TempDir tmp_{"w"};
    service_test::ScopedTempDirEnv tmp_env_{tmp_.path()};
    std::string name_ = unique_pipe_name();
    platform::PipeInstance server_;
    platform::PipeClient client_{name_};
};

TEST_F(WorkerTest, ReadRequestJoinsTheChunksOfALongMessage) {
    const std::string message = pattern(10000);  // read as 4095, 4095 and 1810 bytes
    std::thread writer = send_async(message);
    bool too_large = true;
    EXPECT_EQ(read_request(server_, &too_large), message);
    EXPECT_FALSE(too_large);
    writer.join();
}

// A NUL byte ends what is kept of its own 4095-byte chunk only.
TEST_F(WorkerTest, ReadRequestDropsTheRestOfAChunkAfterANul) {
    std::string message = pattern(10000);
    message[100] = '\0';
    message[4095 + 200] = '\0';
    const std::string expected = message.substr(0, 100) + message.substr(4095, 200) + message.substr(8190);
    std::thread writer = send_async(message);
    bool too_large = true;
    EXPECT_EQ(read_request(server_, &too_large), expected);
    writer.join();
}

TEST_F(WorkerTest, ReadRequestTakesOneMessageOnly) {
    send("first");
    send("second");
    bool too_large = true;
    EXPECT_EQ(read_request(server_, &too_large), "first");
    EXPECT_EQ(read_request(server_, &too_large), "second");
}

TEST_F(WorkerTest, ReadRequestOfAnEmptyMessageOrAGoneClient) {
    send("");
    bool too_large = true;
    EXPECT_EQ(read_request(server_, &too_large), "");
    EXPECT_FALSE(too_large);
    client_.close();
    EXPECT_EQ(read_request(server_, &too_large), "");
    EXPECT_FALSE(too_large);
}

TEST_F(WorkerTest, ReadRequestKeepsARequestOfTheLimitWhole) {
    const std::string message = pattern(kRequestLimit);
    std::thread writer = send_async(message);
    bool too_large = true;
    const std::string got = read_request(server_, &too_large);
    writer.join();
    EXPECT_FALSE(too_large);
    EXPECT_EQ(got.size(), message.size());
    EXPECT_TRUE(got == message);
}

TEST_F(WorkerTest, ReadRequestRefusesARequestOverTheLimit) {
    std::thread writer = send_async(pattern(kRequestLimit + 1));
    bool too_large = false;
    EXPECT_EQ(read_request(server_, &too_large), "");
    EXPECT_TRUE(too_large);
    // The rest is never read: ending the connection ends the client's write.
    server_.disconnect();
    writer.join();
}

TEST_F(WorkerTest, WorkerAnswersAndTraces) {
    std::thread worker = start_worker();
    send(request("0", "", ""));
    EXPECT_EQ(answer(), response(0));
    worker.join();
    EXPECT_EQ(fake_gemxapis::trace(),
              worker_trace({svc_line("proc_req", "Entering"), svc_line("proc_req", "Exiting")}));
}

TEST_F(WorkerTest, WorkerAnswersABadRequestWithOne) {
    std::thread worker = start_worker();
    send(request("x", "", ""));
    EXPECT_EQ(answer(), response(1));
    worker.join();
    EXPECT_EQ(fake_gemxapis::trace(),
              worker_trace({svc_line("proc_req", "Entering"), svc_line("proc_req", "Error in processing op"),
                            svc_line("proc_req", "Exiting")}));
}

// A long request with many operands reaches the adapter whole.
TEST_F(WorkerTest, WorkerCarriesOutALongRequest) {
    const std::string cwd = tmp_.path();
    std::string args;
    std::vector<std::string> paths;
    for (int i = 0; args.size() < 9000; ++i) {
        std::string name = "operand_" + std::to_string(i) + ".c";
        args += name + " ";
        paths.push_back(service_test::join(cwd, name));
    }
    const std::string message = request("5", args, cwd);
    ASSERT_GT(message.size(), 2 * 4095u);
    std::thread worker = start_worker();
    send(message);
    EXPECT_EQ(answer(), response(0));
    worker.join();
    EXPECT_EQ(fake_gemxapis::calls(), std::vector<Call>{fake_gemxapis::update(kHandle, paths)});
}

// Only the first of two messages is carried out; the second is dropped
// with the connection.
TEST_F(WorkerTest, WorkerAnswersTheFirstOfTwoMessages) {
    send(request("0", "", ""));
    send(request("2", "", ""));
    std::thread worker = start_worker();
    EXPECT_EQ(answer(), response(0));
    worker.join();
    EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
}

// A client that leaves without writing gets no answer; its worker traces
// the empty request and ends.
TEST_F(WorkerTest, WorkerEndsWhenTheClientLeavesWithoutWriting) {
    client_.close();
    std::thread worker = start_worker();
    worker.join();
    EXPECT_EQ(fake_gemxapis::trace(),
              worker_trace({svc_line("proc_req", "Entering"), svc_line("proc_req", "Error in processing request"),
                            svc_line("proc_req", "Exiting")}));
}

// Over the limit the request is refused without being carried out, and the
// worker ends although the client is still writing and never reads.
TEST_F(WorkerTest, WorkerRefusesARequestOverTheLimit) {
    std::atomic<bool> sent{true};
    // Far more than the pipe's buffers hold beyond the limit, so the client
    // is still writing when the worker stops reading.
    std::thread writer = send_async(request("0", pattern(kRequestLimit + 4 * 1024 * 1024), ""), &sent);
    std::thread worker = start_worker();
    worker.join();
    writer.join();
    EXPECT_FALSE(sent);
    EXPECT_EQ(fake_gemxapis::trace(), worker_trace({svc_line("com_worker", "request larger than 16777216 bytes refused")}));
    EXPECT_THAT(fake_gemxapis::calls(), IsEmpty());
    // Where the answer outlives the connection (the POSIX socket) it is 1;
    // on Windows the disconnection discards it.
    if (service_test::kPipeIsSocketFile) {
        EXPECT_EQ(answer(), response(1));
    } else {
        EXPECT_THAT(answer(), AnyOf(response(1), "<no answer>"));
    }
}

}  // namespace
