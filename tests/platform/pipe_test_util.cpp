#include "pipe_test_util.h"

#include <atomic>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pipe_test {

std::string unique_pipe_name() {
    static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    return "\\\\.\\pipe\\kestrin\\test_pipe_" + std::to_string(pid) + "_" + std::to_string(counter++);
}

std::string leaf_of(const std::string &pipe_name) { return pipe_name.substr(pipe_name.find_last_of('\\') + 1); }

ScopedTmpdir::ScopedTmpdir() {
#if !defined(_WIN32)
    if (const char *old = std::getenv("TMPDIR")) {
        had_old_ = true;
        old_ = old;
    }
    setenv("TMPDIR", dir_.path().c_str(), 1);
#endif
}

ScopedTmpdir::~ScopedTmpdir() {
#if !defined(_WIN32)
    if (had_old_) {
        setenv("TMPDIR", old_.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
#endif
}

std::vector<Chunk> read_message(platform::PipeInstance &server, std::size_t chunk, std::string *data) {
    std::vector<Chunk> reads;
    std::vector<char> buf(chunk + 1);
    for (;;) {
        std::size_t got = 0;
        const platform::ReadStatus status = server.read(buf.data(), chunk, &got);
        reads.push_back({status, got});
        data->append(buf.data(), got);
        if (status != platform::ReadStatus::more_data) {
            return reads;
        }
    }
}

bool connect_client(platform::PipeClient &client) { return client.wait(10000) && client.open(); }

bool send(platform::PipeClient &client, const std::string &text) {
    std::size_t written = 0;
    return client.write(text.data(), text.size(), &written) && written == text.size();
}

bool receive(platform::PipeClient &client, std::size_t max, std::string *text) {
    std::string buf(max, '\0');
    std::size_t got = 0;
    if (!client.read(buf.data(), max, &got)) {
        return false;
    }
    *text = buf.substr(0, got);
    return true;
}

}  // namespace pipe_test
