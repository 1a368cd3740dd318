// The platform probe (see process_probe.h). Modes, by first argument:
//   (none)         started by launch_hidden: writes start facts to the file
//                  named by KESTRIN_PROBE_REPORT, then, when KESTRIN_PROBE_HOLD
//                  names a file, stays alive until that file exists;
//   term <dir>     installs a termination handler, runs a ticking thread,
//                  writes <dir>/ready and waits for SIGTERM from outside;
//   raise <dir>    the same, but raises SIGTERM itself once ready;
//   append <path>  opens path with open_exclusive_for_append: exit status 0
//                  when it could, 1 when not;
//   exit <code>    ends at once with that exit status.
// The handler writes <dir>/marker with stdio and calls exit(signal).
#include "process_probe.h"

#include "files.h"
#include "processes.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The longest the probe stays around when nobody tells it to stop, so a
// failed test never leaves it behind for long.
constexpr auto kMaxLife = 60s;

std::atomic<long> ticks{0};
std::atomic<int> ticker_blocked{-1};
std::thread::id main_thread;
std::string marker_path;

// Writes text to path through a temporary name, so a reader never sees a
// half-written file.
bool publish(const std::string &path, const std::string &text) {
    std::string part = path + ".part";
    std::FILE *f = std::fopen(part.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = std::fputs(text.c_str(), f) >= 0;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(part.c_str(), path.c_str()) == 0;
}

bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

int report_and_hold() {
    std::string report;
    if (!platform::get_environment("KESTRIN_PROBE_REPORT", &report)) return 2;
    std::string facts = "pid=" + std::to_string(platform::current_pid()) + "\n" + probe::start_facts();
    if (!publish(report, facts)) return 2;
    std::string stop;
    if (platform::get_environment("KESTRIN_PROBE_HOLD", &stop)) {
        auto deadline = std::chrono::steady_clock::now() + kMaxLife;
        while (!exists(stop) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    }
    return 0;
}

void tick(void *) {
    ticker_blocked.store(probe::termination_blocked_here());
    for (;;) {
        ++ticks;
        std::this_thread::sleep_for(2ms);
    }
}

// The termination handler under test: it does what the service's handler
// does and what a signal handler must not, stdio and exit, and checks that
// the other thread is still running while it does so.
void on_termination(int sig) {
    long before = ticks.load();
    std::this_thread::sleep_for(100ms);
    long after = ticks.load();
    std::FILE *f = std::fopen(marker_path.c_str(), "w");
    if (f != nullptr) {
        std::fprintf(f, "signal=%d\nticking=%d\nmain_thread=%d\n", sig, after > before ? 1 : 0,
                     std::this_thread::get_id() == main_thread ? 1 : 0);
        std::fclose(f);
    }
    std::exit(sig);
}

int await_termination(const std::string &dir, bool raise_it) {
    main_thread = std::this_thread::get_id();
    marker_path = dir + platform::kPathSeparator + "marker";
    platform::install_termination_handler(on_termination);
    int main_blocked = probe::termination_blocked_here();
    if (!platform::start_detached_thread(tick, nullptr)) return 4;
    while (ticks.load() == 0) std::this_thread::sleep_for(1ms);
    std::string ready = "pid=" + std::to_string(platform::current_pid()) + "\nmain_blocked=" +
                        std::to_string(main_blocked) + "\nticker_blocked=" + std::to_string(ticker_blocked.load()) +
                        "\n";
    if (!publish(dir + platform::kPathSeparator + "ready", ready)) return 4;
    if (raise_it) std::raise(SIGTERM);
    std::this_thread::sleep_for(kMaxLife);
    return 3;
}

int append_exclusive(const char *path) {
    std::FILE *f = platform::open_exclusive_for_append(path);
    if (f == nullptr) return 1;
    std::fputs("probe\n", f);
    std::fclose(f);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode.empty()) return report_and_hold();
    if (argc < 3) return 2;
    if (mode == "term") return await_termination(argv[2], false);
    if (mode == "raise") return await_termination(argv[2], true);
    if (mode == "append") return append_exclusive(argv[2]);
    if (mode == "exit") return std::atoi(argv[2]);
    return 2;
}
