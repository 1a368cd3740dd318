// The service pipe, both ends, as the service and the bridge use it: one
// request and one answer per connection, message boundaries kept on the
// server side, one byte-mode read on the client side.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pipe.h"
#include "pipe_test_util.h"

namespace {

using platform::PipeClient;
using platform::PipeInstance;
using platform::ReadStatus;
using pipe_test::Chunk;
using pipe_test::connect_client;
using pipe_test::read_message;
using pipe_test::receive;
using pipe_test::send;

class PipeTest : public testing::Test {
protected:
    pipe_test::ScopedTmpdir tmpdir_;
    std::string name_ = pipe_test::unique_pipe_name();
};

// The client thread is declared before the instance in each test, so when a
// test ends early the instance closes first and the client's blocking read
// ends instead of hanging the join.

TEST_F(PipeTest, OneRequestOneAnswer) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    std::string answer;
    bool client_ok = false;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        client_ok = connect_client(client) && send(client, "request") && receive(client, 4095, &answer);
    });
    ASSERT_TRUE(server.connect());
    std::string request;
    const std::vector<Chunk> reads = read_message(server, 4095, &request);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].status, ReadStatus::complete);
    EXPECT_EQ(request, "request");
    EXPECT_TRUE(server.write("answer", 6));
    EXPECT_TRUE(server.flush());
    EXPECT_TRUE(server.disconnect());
    server.close();
    EXPECT_FALSE(server.valid());
    client_thread.join();
    EXPECT_TRUE(client_ok);
    EXPECT_EQ(answer, "answer");
}

TEST_F(PipeTest, LongRequestArrivesInChunksOfTheReadSize) {
    // The text outlives the client thread, which is joined when the test
    // body ends.
    std::string sent(10000, 'x');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>('a' + i % 26);
    }
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        std::string answer;
        if (connect_client(client) && send(client, sent)) {
            receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    std::string request;
    const std::vector<Chunk> reads = read_message(server, 4095, &request);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].status, ReadStatus::more_data);
    EXPECT_EQ(reads[0].size, 4095u);
    EXPECT_EQ(reads[1].status, ReadStatus::more_data);
    EXPECT_EQ(reads[1].size, 4095u);
    EXPECT_EQ(reads[2].status, ReadStatus::complete);
    EXPECT_EQ(reads[2].size, 1810u);
    EXPECT_EQ(request, sent);
    server.write("ok", 2);
    server.flush();
}

TEST_F(PipeTest, NulBytesPassUnchangedBothWays) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    const std::string request("re\0quest", 8);
    const std::string reply("an\0swer", 7);
    std::string answer;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client) && send(client, request)) {
            receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_EQ(got, request);
    EXPECT_TRUE(server.write(reply.data(), reply.size()));
    server.flush();
    client_thread.join();
    EXPECT_EQ(answer, reply);
}

TEST_F(PipeTest, TwoMessagesFromOneClientAreReadSeparately) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    std::string answer;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client) && send(client, "first") && send(client, "second")) {
            receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    std::string first, second;
    const std::vector<Chunk> reads1 = read_message(server, 4095, &first);
    const std::vector<Chunk> reads2 = read_message(server, 4095, &second);
    EXPECT_EQ(first, "first");
    EXPECT_EQ(reads1.back().status, ReadStatus::complete);
    EXPECT_EQ(second, "second");
    EXPECT_EQ(reads2.back().status, ReadStatus::complete);
    server.write("1", 1);
    server.flush();
    client_thread.join();
    EXPECT_EQ(answer, "1");
}

TEST_F(PipeTest, SixteenMebibyteMessage) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    std::string sent(16u << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>(i * 7 + i / 4096);
    }
    bool sent_ok = false;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        sent_ok = connect_client(client) && send(client, sent);
        std::string answer;
        receive(client, 4095, &answer);
    });
    ASSERT_TRUE(server.connect());
    std::string got;
    const std::vector<Chunk> reads = read_message(server, 1u << 16, &got);
    EXPECT_EQ(reads.back().status, ReadStatus::complete);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
    server.write("0", 1);
    server.flush();
    client_thread.join();
    EXPECT_TRUE(sent_ok);
}

TEST_F(PipeTest, ZeroLengthMessagesBothWays) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    bool read_ok = false;
    std::string answer = "unchanged";
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client) && send(client, "")) {
            read_ok = receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    char buf[16];
    std::size_t got = 99;
    EXPECT_EQ(server.read(buf, sizeof buf, &got), ReadStatus::complete);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(server.write("", 0));
    server.flush();
    client_thread.join();
    EXPECT_TRUE(read_ok);
    EXPECT_EQ(answer, "");
}

TEST_F(PipeTest, ClientThatClosesWithoutWritingFailsTheServerRead) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    {
        PipeClient client(name_);
        ASSERT_TRUE(connect_client(client));
        ASSERT_TRUE(server.connect());
    }
    char buf[4096];
    std::size_t got = 99;
    EXPECT_EQ(server.read(buf, 4095, &got), ReadStatus::failed);
    EXPECT_EQ(got, 0u);
    // The write to the departed client fails, and this process lives on.
    EXPECT_FALSE(server.write("<response_start>1<response_end>", 31));
    server.flush();
    server.disconnect();
}

TEST_F(PipeTest, ServerWriteAfterTheClientHasGoneFails) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    std::atomic<bool> request_read{false};
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client) && send(client, "bye")) {
            while (!request_read) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    });
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_EQ(got, "bye");
    request_read = true;
    client_thread.join();
    // The answer to a client that has gone fails and raises no signal; the
    // flush returns at once.
    EXPECT_FALSE(server.write("<response_start>0<response_end>", 31));
    server.flush();
    server.disconnect();
}

TEST_F(PipeTest, ServerThatClosesWithoutAnsweringFailsTheClientRead) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    bool wrote = false, read_ok = true;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client)) {
            wrote = send(client, "question");
            std::string answer;
            read_ok = receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    server.disconnect();
    server.close();
    client_thread.join();
    EXPECT_TRUE(wrote);
    EXPECT_FALSE(read_ok);
}

TEST_F(PipeTest, ClientWriteToAServerThatHasGoneFails) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeClient client(name_);
    ASSERT_TRUE(connect_client(client));
    ASSERT_TRUE(server.connect());
    server.disconnect();
    server.close();
    std::size_t written = 0;
    EXPECT_FALSE(client.write("request", 7, &written));
    std::string answer;
    EXPECT_FALSE(receive(client, 4095, &answer));
}

TEST_F(PipeTest, LongAnswerGivesTheClientItsFirstBytes) {
    std::jthread client_thread;
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    std::string reply(5000, '\0');
    for (std::size_t i = 0; i < reply.size(); ++i) {
        reply[i] = static_cast<char>('A' + i % 23);
    }
    std::string answer;
    bool read_ok = false;
    client_thread = std::jthread([&] {
        PipeClient client(name_);
        if (connect_client(client) && send(client, "q")) {
            read_ok = receive(client, 4095, &answer);
        }
    });
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_TRUE(server.write(reply.data(), reply.size()));
    // The client reads only part of the answer and then closes; the flush
    // returns because the client has gone.
    server.flush();
    client_thread.join();
    EXPECT_TRUE(read_ok);
    EXPECT_EQ(answer, reply.substr(0, 4095));
}

TEST_F(PipeTest, MissingPipeFailsWaitAndOpen) {
    PipeClient client(name_);
    EXPECT_EQ(client.name(), name_);
    EXPECT_FALSE(client.wait(10000));
    EXPECT_FALSE(client.open());
    std::size_t written = 7;
    EXPECT_FALSE(client.write("x", 1, &written));
    EXPECT_EQ(written, 0u);
    std::string answer;
    EXPECT_FALSE(receive(client, 4095, &answer));
}

TEST_F(PipeTest, ClientThatConnectsBeforeTheServerWaitsIsServed) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeClient client(name_);
    ASSERT_TRUE(connect_client(client));
    ASSERT_TRUE(send(client, "early"));
    ASSERT_TRUE(server.connect());
    EXPECT_TRUE(server.connect());  // a second call finds it connected
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_EQ(got, "early");
    EXPECT_TRUE(server.write("late", 4));
    std::string answer;
    EXPECT_TRUE(receive(client, 4095, &answer));
    EXPECT_EQ(answer, "late");
    EXPECT_TRUE(server.flush());
}

TEST_F(PipeTest, OpenWithoutWaitConnects) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeClient client(name_);
    ASSERT_TRUE(client.open());
    ASSERT_TRUE(send(client, "direct"));
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    EXPECT_EQ(got, "direct");
}

TEST_F(PipeTest, SeveralInstancesServeClientsAtTheSameTime) {
    constexpr int kClients = 4;
    std::vector<std::jthread> clients(kClients);
    std::vector<PipeInstance> servers;
    for (int i = 0; i < kClients; ++i) {
        servers.push_back(PipeInstance::create(name_));
        ASSERT_TRUE(servers.back().valid());
    }
    std::vector<std::string> answers(kClients);
    for (int i = 0; i < kClients; ++i) {
        clients[i] = std::jthread([&, i] {
            PipeClient client(name_);
            if (connect_client(client) && send(client, std::to_string(i))) {
                receive(client, 4095, &answers[i]);
            }
        });
    }
    // Every instance takes one client and holds it until all are connected,
    // so none of them waits for another to finish.
    std::vector<std::string> requests(kClients);
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(servers[i].connect());
        read_message(servers[i], 4095, &requests[i]);
    }
    for (int i = 0; i < kClients; ++i) {
        const std::string reply = "answer to " + requests[i];
        EXPECT_TRUE(servers[i].write(reply.data(), reply.size()));
        servers[i].flush();
        servers[i].disconnect();
        servers[i].close();
    }
    for (auto &t : clients) {
        t.join();
    }
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(answers[i], "answer to " + std::to_string(i));
    }
}

TEST_F(PipeTest, LastInstanceClosedRemovesThePipe) {
    PipeInstance first = PipeInstance::create(name_);
    PipeInstance second = PipeInstance::create(name_);
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    first.close();
    {
        PipeClient client(name_);
        EXPECT_TRUE(client.wait(10000));
    }
    second.close();
    PipeClient client(name_);
    EXPECT_FALSE(client.wait(10000));
    // The name can be created again afterwards.
    PipeInstance again = PipeInstance::create(name_);
    EXPECT_TRUE(again.valid());
}

TEST_F(PipeTest, InstanceServesAgainAfterDisconnect) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    for (const std::string text : {"one", "two"}) {
        // A disconnected instance takes the next client only once it waits
        // for one again, so the server side runs ahead on its own thread.
        std::string got;
        std::jthread server_side([&] {
            if (server.connect()) {
                read_message(server, 4095, &got);
                server.write(got.data(), got.size());
                server.flush();
                server.disconnect();
            }
        });
        PipeClient client(name_);
        ASSERT_TRUE(connect_client(client));
        ASSERT_TRUE(send(client, text));
        std::string answer;
        EXPECT_TRUE(receive(client, 4095, &answer));
        client.close();
        server_side.join();
        EXPECT_EQ(got, text);
        EXPECT_EQ(answer, text);
    }
}

TEST_F(PipeTest, FlushWaitsUntilTheClientHasRead) {
    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeClient client(name_);
    ASSERT_TRUE(connect_client(client));
    ASSERT_TRUE(send(client, "q"));
    ASSERT_TRUE(server.connect());
    std::string got;
    read_message(server, 4095, &got);
    ASSERT_TRUE(server.write("answer", 6));
    std::atomic<bool> flushed{false};
    std::jthread flusher([&] {
        server.flush();
        flushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(flushed) << "flush returned before the client read the answer";
    std::string answer;
    EXPECT_TRUE(receive(client, 4095, &answer));
    EXPECT_EQ(answer, "answer");
    flusher.join();  // returns now that the answer has been read
    EXPECT_TRUE(flushed);
}

TEST_F(PipeTest, InvalidObjectsFailEveryCall) {
    PipeInstance none;
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(none.connect());
    char buf[8];
    std::size_t got = 5;
    EXPECT_EQ(none.read(buf, sizeof buf, &got), ReadStatus::failed);
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(none.write("x", 1));
    EXPECT_FALSE(none.flush());
    EXPECT_FALSE(none.disconnect());
    none.close();

    PipeInstance server = PipeInstance::create(name_);
    ASSERT_TRUE(server.valid());
    PipeInstance moved = std::move(server);
    EXPECT_TRUE(moved.valid());
    EXPECT_FALSE(server.valid());  // NOLINT(bugprone-use-after-move): moved-from is invalid
}

}  // namespace
