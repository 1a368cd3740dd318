#include "process_test_util.h"

#include "files.h"
#include "processes.h"
#include "test_common.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>

namespace kestrin_test {

std::string probe_path() {
    return bin_dir() + separator() + "platform_probe" + platform::kExeSuffix;
}

bool wait_for_file(const std::string &path, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) > 0 && !ec) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::map<std::string, std::string> parse_facts(const std::string &text) {
    std::map<std::string, std::string> facts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // Reports written in text mode on Windows end their lines in CR LF.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t eq = line.find('=');
        if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return facts;
}

LaunchedProbe::LaunchedProbe(const std::string &program, bool hold) : dir_("probe") {
    set_env("KESTRIN_PROBE_REPORT", dir_.file("report").c_str());
    set_env("KESTRIN_PROBE_HOLD", hold ? dir_.file("stop").c_str() : nullptr);
    launched_ = platform::launch_hidden(program);
    set_env("KESTRIN_PROBE_REPORT", nullptr);
    set_env("KESTRIN_PROBE_HOLD", nullptr);
}

LaunchedProbe::~LaunchedProbe() {
    write_file(dir_.file("stop"), "stop");
    int id = pid();
    if (id <= 0) return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (process_running(id) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool LaunchedProbe::wait_for_report(int timeout_ms) {
    if (!launched_) return false;
    if (!facts_.empty()) return true;
    if (!wait_for_file(dir_.file("report"), timeout_ms)) return false;
    facts_ = parse_facts(read_file(dir_.file("report")));
    return !facts_.empty();
}

int LaunchedProbe::pid() const {
    auto it = facts_.find("pid");
    return it == facts_.end() ? 0 : std::atoi(it->second.c_str());
}

}  // namespace kestrin_test
