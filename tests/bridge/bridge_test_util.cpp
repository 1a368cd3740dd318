#include "bridge_test_util.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "files.h"
#include "gemx_protocol.h"
#include "veyraks.h"

namespace fs = std::filesystem;

namespace bridge_test {

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    had_value_ = platform::get_environment(name, &old_value_);
    set_env(name, value);
}

ScopedEnv::~ScopedEnv() { set_env(name_.c_str(), had_value_ ? old_value_.c_str() : nullptr); }

PrivateTempDir::PrivateTempDir() : dir_("tmp") {
    for (const std::string &var : temp_dir_variables()) {
        vars_.push_back(std::make_unique<ScopedEnv>(var.c_str(), dir_.path().c_str()));
    }
}

// The variables go back before the directory is removed.
PrivateTempDir::~PrivateTempDir() { vars_.clear(); }

std::string PrivateTempDir::user_dir() const {
    char buf[1024] = {0};
    fileutl_get_tmpdir(0, buf, 1023, 0);
    return buf;
}

std::string PrivateTempDir::file(const std::string &name) const {
    return user_dir() + kestrin_test::separator() + name;
}

std::string program_path(const std::string &name) {
    return kestrin_test::bin_dir() + kestrin_test::separator() + name + platform::kExeSuffix;
}

bool wait_until(const std::function<bool()> &predicate, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (predicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> trace_log_names(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("gemxbridge_log_", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> trace_lines(const std::string &dir) {
    std::vector<std::string> all;
    for (const std::string &name : trace_log_names(dir)) {
        std::vector<std::string> lines =
            lines_of(kestrin_test::read_file(dir + kestrin_test::separator() + name));
        all.insert(all.end(), lines.begin(), lines.end());
    }
    return all;
}

std::string value_of(const std::string &output, const std::string &key) {
    for (const std::string &line : lines_of(output)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return "";
}

int pid_from_file(const std::string &path) {
    std::int32_t pid = 0;
    if (convert_decimal(kestrin_test::read_file(path), &pid) != 0) return 0;
    return pid;
}

}  // namespace bridge_test
