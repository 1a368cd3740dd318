// The end-to-end tests' service runner: see service_runner.h.
#include "service_runner.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "files.h"
#include "gemx_protocol.h"
#include "pipe.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace service_test {

namespace {

// Hard-links from to to, or copies it when the file system refuses.
void place(const fs::path &from, const fs::path &to) {
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (ec) fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::string program_file(const std::string &name) { return name + platform::kExeSuffix; }

const char kTraceVariable[] = "KESTRIN_GEMXAPIS_TRACE_DIR";

}  // namespace

ProductTree::ProductTree(bool with_helper) {
    const fs::path bin = fs::path(root()) / "bin";
    fs::create_directories(bin);
    const fs::path from_bin = kestrin_test::bin_dir();
    place(from_bin / program_file("gemx_pkl_service"), bin / program_file("gemx_pkl_service"));
    if (with_helper) place(from_bin / program_file("gemx_helper"), bin / program_file("gemx_helper"));
    for (const fs::directory_entry &e : fs::directory_iterator(from_bin))
        if (e.is_regular_file() && e.path().extension() == ".dll") place(e.path(), bin / e.path().filename());
    const fs::path from_lib = fs::path(kestrin_test::product_dir()) / "lib";
    std::error_code ec;
    if (fs::is_directory(from_lib, ec)) {
        fs::create_directories(fs::path(root()) / "lib");
        for (const fs::directory_entry &e : fs::directory_iterator(from_lib)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name.find(".so") != std::string::npos)
                place(e.path(), fs::path(root()) / "lib" / name);
        }
    }
}

std::string ProductTree::service_program() const {
    return (fs::path(root()) / "bin" / program_file("gemx_pkl_service")).string();
}

ServiceEnvironment::ServiceEnvironment() {
    const char *old = std::getenv(kTraceVariable);
    had_trace_dir_ = old != nullptr;
    old_trace_dir_ = old ? old : "";
    set_env(kTraceVariable, traces_.path().c_str());
}

ServiceEnvironment::~ServiceEnvironment() {
    set_env(kTraceVariable, had_trace_dir_ ? old_trace_dir_.c_str() : nullptr);
}

std::string ServiceEnvironment::user_tmpdir() const {
    char buf[1024] = {0};
    fileutl_get_tmpdir(0, buf, 1023, 0);
    return buf;
}

std::string ServiceEnvironment::pid_file() const {
    return user_tmpdir() + kestrin_test::separator() + pid_file_name;
}

std::string ServiceEnvironment::journal_file() const {
    return user_tmpdir() + kestrin_test::separator() + "gemx_helper.journal";
}

std::string ServiceEnvironment::socket_file() const {
    const std::string name = pipe_name();
    return user_tmpdir() + kestrin_test::separator() + name.substr(name.rfind('\\') + 1);
}

std::string ServiceEnvironment::trace_file(int pid) const {
    return traces_.file("gemxapis_log_" + std::to_string(pid) + ".txt");
}

std::string ServiceEnvironment::pipe_name() const { return service_pipe_name(pipe_base_name, sysutl_myloginname()); }

std::optional<std::string> exchange(const std::string &pipe_name, const std::string &message, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        platform::PipeClient client(pipe_name);
        if (client.wait(2000) && client.open()) {
            std::size_t written = 0;
            if (!client.write(message.data(), message.size(), &written)) return std::nullopt;
            char buf[4096];
            std::size_t got = 0;
            if (!client.read(buf, sizeof buf, &got)) return std::nullopt;
            return std::string(buf, got);
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool wait_until_serving(Process &service, const std::string &pipe_name, int timeout_ms) {
    const std::string ping = std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag +
                             args_start_tag + args_end_tag + cwd_start_tag + cwd_end_tag + request_end_tag;
    const std::string zero = std::string(response_start_tag) + "0" + response_end_tag;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        if (service.wait_exit(0, &status)) return false;
        std::optional<std::string> answer = exchange(pipe_name, ping, 1000);
        if (answer && *answer == zero) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::vector<std::string> read_lines(const std::string &path) {
    const std::string text = kestrin_test::read_file(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool contains_in_order(const std::vector<std::string> &lines, const std::vector<std::string> &expected) {
    std::size_t next = 0;
    for (const std::string &line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
}

bool wait_for_lines(const std::string &path, std::size_t from, const std::vector<std::string> &expected,
                    int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::vector<std::string> lines = read_lines(path);
        if (lines.size() >= from &&
            contains_in_order(std::vector<std::string>(lines.begin() + static_cast<long>(from), lines.end()),
                              expected))
            return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace service_test
