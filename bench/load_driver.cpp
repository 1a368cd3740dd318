// gemx_bench: what one call of invoke_gemx_ui costs against a warm service,
// beside the bare IPC floor measured in the same run and process.
//
// It loads the bridge from its own product tree like the gemx client and
// must run with a private TMPDIR (run-bench makes one), so the service it
// starts and stops is its own. Concurrent clients are child processes
// (the bridge's process-wide state allows one call per process at a time);
// the floor's clients are threads, which the bare client allows.
//
//   gemx_bench [--quick]                      the whole run and its table
//   gemx_bench --client <start_ns> <ms> <out> one concurrent client (internal)
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_os.h"
#include "dynlib.h"
#include "gemx_protocol.h"
#include "pipe.h"
#include "veyraks.h"

namespace {

using InvokeFunction = int (*)(int, int, const char *);

// Latency figures of one series, in microseconds.
struct Stats {
    std::size_t count = 0;
    double median = 0, p99 = 0, max = 0, per_second = 0;
    long failures = 0;
};

Stats summarise(std::vector<double> us, double seconds, long failures) {
    Stats s;
    s.count = us.size();
    s.failures = failures;
    if (us.empty()) return s;
    std::sort(us.begin(), us.end());
    s.median = us[us.size() / 2];
    s.p99 = us[std::min(us.size() - 1, static_cast<std::size_t>(us.size() * 0.99))];
    s.max = us.back();
    s.per_second = seconds > 0 ? us.size() / seconds : 0;
    return s;
}

double elapsed_us(long long from, long long to) { return (to - from) / 1000.0; }

// The bridge, loaded as the gemx client loads it.
struct Bridge {
    platform::DynamicLibrary library;
    InvokeFunction invoke = nullptr;
};

bool load_bridge(Bridge *b) {
    std::string path = platform::product_library_path(platform::program_directory(), "gemxbridge");
    std::string error;
    b->library = platform::DynamicLibrary::load(path, &error);
    if (!b->library.valid()) {
        std::fprintf(stderr, "gemx_bench: cannot load %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    b->invoke = reinterpret_cast<InvokeFunction>(b->library.symbol("invoke_gemx_ui"));
    return b->invoke != nullptr;
}

std::string private_tmpdir() {
    char buf[1024] = {0};
    fileutl_get_tmpdir(0, buf, 1023, 0);
    return buf;
}

int service_pid(const std::string &tmpdir) {
    std::ifstream in(tmpdir + bench::separator() + pid_file_name);
    int pid = 0;
    in >> pid;
    return pid;
}

// A request of the size the bridge sends for operation 0 from here, so the
// floor moves the same bytes.
std::string floor_request() {
    return std::string(request_start_tag) + op_id_start_tag + "0" + op_id_end_tag + args_start_tag + args_end_tag +
           cwd_start_tag + platform::program_directory() + cwd_end_tag + request_end_tag;
}

// Sequential calls, alternating blocks of the bridge and of the floor so
// that drift in the machine's load touches both alike.
void sequential(Bridge &bridge, const std::string &floor_addr, int calls, Stats *ours, Stats *floor) {
    const std::string request = floor_request();
    std::vector<double> a, f;
    a.reserve(calls);
    f.reserve(calls);
    long fail_a = 0, fail_f = 0;
    double secs_a = 0, secs_f = 0;
    const int blocks = 10;
    for (int b = 0; b < blocks; ++b) {
        long long t0 = bench::now_ns();
        for (int i = 0; i < calls / blocks; ++i) {
            long long s = bench::now_ns();
            if (!bench::floor_call(floor_addr, request)) ++fail_f;
            f.push_back(elapsed_us(s, bench::now_ns()));
        }
        long long t1 = bench::now_ns();
        for (int i = 0; i < calls / blocks; ++i) {
            long long s = bench::now_ns();
            if (bridge.invoke(0, 0, "") != 0) ++fail_a;
            a.push_back(elapsed_us(s, bench::now_ns()));
        }
        long long t2 = bench::now_ns();
        secs_f += (t1 - t0) / 1e9;
        secs_a += (t2 - t1) / 1e9;
    }
    *ours = summarise(a, secs_a, fail_a);
    *floor = summarise(f, secs_f, fail_f);
}

// s in double quotes, for a command line.
std::string shell_quoted(const std::string &s) {
    std::string quoted;
    quoted.reserve(s.size() + 2);
    quoted += '"';
    quoted += s;
    quoted += '"';
    return quoted;
}

// The floor's server run in a process of its own (gemx_bench --floor-server):
// it writes its address to <folder>/floor_address.txt and serves until
// <folder>/floor_stop appears.
int floor_server_main(const std::string &folder) {
    auto server = bench::FloorServer::start(folder);
    if (!server) return 2;
    const std::string address_file = folder + bench::separator() + "floor_address.txt";
    {
        std::ofstream o(address_file + ".new");
        o << server->address();
    }
    std::rename((address_file + ".new").c_str(), address_file.c_str());
    const std::string stop = folder + bench::separator() + "floor_stop";
    while (!std::filesystem::exists(stop)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
}

// Sequential floor calls against a floor server in another process, as the
// service is for the bridge: every switch between client and server then
// changes address space, which the in-process floor never pays.
Stats remote_floor_series(const std::string &self, const std::string &folder, int calls) {
    const std::string sub = folder + bench::separator() + "remote_floor";
    std::filesystem::create_directories(sub);
    const std::string address_file = sub + bench::separator() + "floor_address.txt";
    const std::string stop = sub + bench::separator() + "floor_stop";
    std::remove(address_file.c_str());
    std::remove(stop.c_str());
    std::thread server([&] {
        std::system(bench::shell_command(shell_quoted(self) + " --floor-server " + shell_quoted(sub)).c_str());
    });
    std::string address;
    for (int i = 0; i < 200 && address.empty(); ++i) {
        std::ifstream in(address_file);
        std::getline(in, address);
        if (address.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<double> us;
    long failures = 0;
    long long t0 = bench::now_ns();
    if (!address.empty()) {
        const std::string request = floor_request();
        for (int i = 0; i < calls; ++i) {
            long long s = bench::now_ns();
            if (!bench::floor_call(address, request)) ++failures;
            us.push_back(elapsed_us(s, bench::now_ns()));
        }
    } else {
        failures = calls;
    }
    double secs = (bench::now_ns() - t0) / 1e9;
    std::ofstream(stop) << "stop\n";
    server.join();
    return summarise(us, secs, failures);
}

// Sequential exchanges with the running service through the platform's pipe
// client alone, without the bridge's discovery, request building and trace
// scopes: what the service and the pipe layer cost beyond the floor.
Stats direct_pipe_series(int calls) {
    const std::string name = service_pipe_name(pipe_base_name, sysutl_myloginname());
    const std::string request = floor_request();
    std::vector<double> us;
    long failures = 0;
    long long t0 = bench::now_ns();
    for (int i = 0; i < calls; ++i) {
        long long s = bench::now_ns();
        platform::PipeClient client(name);
        std::size_t written = 0, got = 0;
        char buf[4096];
        if (!client.wait(10000) || !client.open() || !client.write(request.data(), request.size(), &written) ||
            !client.read(buf, sizeof buf - 1, &got)) {
            ++failures;
        }
        client.close();
        us.push_back(elapsed_us(s, bench::now_ns()));
    }
    return summarise(us, (bench::now_ns() - t0) / 1e9, failures);
}

// Calls of one operation with one argument string.
Stats operation_series(Bridge &bridge, int op, const std::string &args, int calls) {
    std::vector<double> us;
    long failures = 0;
    long long t0 = bench::now_ns();
    for (int i = 0; i < calls; ++i) {
        long long s = bench::now_ns();
        if (bridge.invoke(0, op, args.c_str()) != 0) ++failures;
        us.push_back(elapsed_us(s, bench::now_ns()));
    }
    return summarise(us, (bench::now_ns() - t0) / 1e9, failures);
}

std::string operands(int n, const char *stem) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += stem + std::to_string(i) + ".c";
    }
    return s;
}

// One concurrent client: waits for the common start, calls operation 0
// until the window ends, and writes its failures and latencies to out.
int client_main(long long start_ns, int ms, const char *out) {
    Bridge bridge;
    if (!load_bridge(&bridge)) return 2;
    std::vector<double> us;
    long failures = 0;
    bench::sleep_until_ns(start_ns);
    long long end = start_ns + ms * 1000000LL;
    for (long long now = bench::now_ns(); now < end; now = bench::now_ns()) {
        if (bridge.invoke(0, 0, "") != 0) ++failures;
        us.push_back(elapsed_us(now, bench::now_ns()));
    }
    std::ofstream o(out);
    o << failures << '\n';
    for (double v : us) o << v << '\n';
    return o ? 0 : 2;
}

// One process's first call, timed, written to out: what the bridge's
// trace decision and log cost when KESTRIN_GEMXBRIDGE_TRACE_DIR is set.
int first_call_main(const char *out) {
    Bridge bridge;
    if (!load_bridge(&bridge)) return 2;
    long long s = bench::now_ns();
    int r = bridge.invoke(0, 0, "");
    double us = elapsed_us(s, bench::now_ns());
    std::ofstream o(out);
    o << (r != 0) << '\n' << us << '\n';
    return o ? 0 : 2;
}


// n client processes for ms milliseconds from a common start.
Stats concurrent_ours(int n, int ms, const std::string &self, const std::string &folder) {
    long long start = bench::now_ns() + 500000000LL + n * 20000000LL;
    std::vector<std::thread> threads;
    std::vector<std::string> outs;
    for (int i = 0; i < n; ++i) {
        outs.push_back(folder + bench::separator() + "client" + std::to_string(i) + ".txt");
    }
    for (int i = 0; i < n; ++i) {
        std::string cmd = shell_quoted(self) + " --client " + std::to_string(start) + " " + std::to_string(ms) + " " +
                          shell_quoted(outs[i]);
        threads.emplace_back([cmd] { std::system(bench::shell_command(cmd).c_str()); });
    }
    for (auto &t : threads) t.join();
    std::vector<double> all;
    long failures = 0;
    for (int i = 0; i < n; ++i) {
        std::ifstream in(outs[i]);
        long f = -1;
        if (!(in >> f)) {
            ++failures;  // a client that reported nothing counts as failed
            continue;
        }
        failures += f;
        double v;
        while (in >> v) all.push_back(v);
        std::remove(outs[i].c_str());
    }
    return summarise(all, ms / 1000.0, failures);
}

// n floor client threads for ms milliseconds.
Stats concurrent_floor(int n, int ms, const std::string &addr) {
    const std::string request = floor_request();
    std::vector<std::vector<double>> per(n);
    std::vector<long> failures(n, 0);
    long long start = bench::now_ns() + 100000000LL;
    long long end = start + ms * 1000000LL;
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            bench::sleep_until_ns(start);
            for (long long now = bench::now_ns(); now < end; now = bench::now_ns()) {
                if (!bench::floor_call(addr, request)) ++failures[i];
                per[i].push_back(elapsed_us(now, bench::now_ns()));
            }
        });
    }
    for (auto &t : threads) t.join();
    std::vector<double> all;
    long f = 0;
    for (int i = 0; i < n; ++i) {
        all.insert(all.end(), per[i].begin(), per[i].end());
        f += failures[i];
    }
    return summarise(all, ms / 1000.0, f);
}

// The first call of count fresh processes each.
Stats first_calls(int count, const std::string &self, const std::string &folder) {
    std::vector<double> us;
    long failures = 0;
    const std::string out = folder + bench::separator() + "first.txt";
    for (int i = 0; i < count; ++i) {
        std::system(bench::shell_command(shell_quoted(self) + " --first " + shell_quoted(out)).c_str());
        std::ifstream in(out);
        long f = 1;
        double v = 0;
        if (in >> f >> v) us.push_back(v);
        failures += f;
    }
    std::remove(out.c_str());
    return summarise(us, 0, failures);
}

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

void print_row(const char *what, const Stats &s) {
    std::printf("  %-34s %9zu %10.1f %10.1f %11.1f %10.0f %6ld\n", what, s.count, s.median, s.p99, s.max,
                s.per_second, s.failures);
}

void print_header() {
    std::printf("  %-34s %9s %10s %10s %11s %10s %6s\n", "series", "calls", "median us", "p99 us", "max us",
                "calls/s", "failed");
}

void print_resources(const char *when, const bench::Resources &r) {
    std::printf("  %-34s rss %6ld KiB  threads %4ld  descriptors %4ld\n", when, r.rss_kib, r.threads, r.handles);
}

int run(bool quick) {
    Bridge bridge;
    if (!load_bridge(&bridge)) return 2;
    const std::string self = platform::program_directory() + bench::separator() + "gemx_bench" + bench::exe_suffix();
    const std::string tmpdir = private_tmpdir();
    std::printf("gemx_bench %s  machine: %s\n  private temporary folder: %s\n\n", quick ? "--quick" : "(full)",
                bench::machine_description().c_str(), tmpdir.c_str());

    auto floor = bench::FloorServer::start(tmpdir);
    if (!floor) {
        std::fprintf(stderr, "gemx_bench: cannot start the floor server in %s\n", tmpdir.c_str());
        return 2;
    }

    // Cold start: no service runs; the first call starts it.
    std::printf("Cold start (no service running; the bridge's pause after a failed wait is 5000 ms)\n");
    const int colds = quick ? 1 : 3;
    for (int i = 0; i < colds; ++i) {
        bench::stop_process(service_pid(tmpdir), 10000);
        long long s = bench::now_ns();
        int r = bridge.invoke(0, 0, "");
        double ms = elapsed_us(s, bench::now_ns()) / 1000.0;
        if (ms >= 5000) {
            std::printf("  cold call %d: result %d, %.1f ms: the pause, and %.1f ms beyond it\n", i + 1, r, ms, ms - 5000);
        } else {
            std::printf("  cold call %d: result %d, %.1f ms (the service was up before the first wait failed)\n",
                        i + 1, r, ms);
        }
    }
    int pid = service_pid(tmpdir);

    // Warm-up, then the service's resources as the baseline.
    for (int i = 0; i < 1000; ++i) bridge.invoke(0, 0, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bench::Resources warm = bench::process_resources(pid);

    std::printf("\nSequential operation 0 (one process, blocks of ours and of the floor alternating)\n");
    print_header();
    Stats ours, fl;
    sequential(bridge, floor->address(), quick ? 4000 : 20000, &ours, &fl);
    print_row("invoke_gemx_ui op 0", ours);
    print_row("floor", fl);
    std::printf("  ratio ours/floor: median %.2fx (goal 1.5x), p99 %.2fx (goal 3x), calls/s %.2fx\n",
                ratio(ours.median, fl.median), ratio(ours.p99, fl.p99), ratio(ours.per_second, fl.per_second));
    Stats direct = direct_pipe_series(quick ? 2000 : 10000);
    print_row("pipe client straight to the service", direct);
    std::printf("  the service through the pipe layer alone is %.2fx the floor; the bridge's own work adds %.2fx\n",
                ratio(direct.median, fl.median), ratio(ours.median - direct.median, fl.median));
    Stats remote = remote_floor_series(self, tmpdir, quick ? 2000 : 10000);
    print_row("floor, server in another process", remote);
    std::printf("  the floor's server in another process costs %.2fx the in-process floor; ours is %.2fx of it\n",
                ratio(remote.median, fl.median), ratio(ours.median, remote.median));

    std::printf("\nConcurrent clients (ours: processes; floor: threads), %d ms each\n", quick ? 1500 : 5000);
    print_header();
    for (int n : {1, 4, 16, 64}) {
        const int ms = quick ? 1500 : 5000;
        Stats c = concurrent_ours(n, ms, self, tmpdir);
        Stats f = concurrent_floor(n, ms, floor->address());
        std::string a = std::to_string(n) + " clients, ours";
        std::string b = std::to_string(n) + " clients, floor";
        print_row(a.c_str(), c);
        print_row(b.c_str(), f);
        std::printf("  %-34s calls/s %.2fx of the floor (goal 0.7x at 64), p99 %.2fx, failed %ld (goal 0)\n", "",
                    ratio(c.per_second, f.per_second), ratio(c.p99, f.p99), c.failures);
    }

    // The operations check that their pathnames exist: a work folder of
    // their own holds them, and relative operands resolve against it.
    std::filesystem::path work = std::filesystem::path(tmpdir) / "work";
    std::filesystem::create_directories(work / "src");
    for (int i = 0; i < 1000; ++i) {
        const std::string number = std::to_string(i);
        for (const char *stem : {"a", "u"}) {
            std::string name = stem;
            name += number;
            name += ".c";
            std::ofstream(work / "src" / name) << stem << "\n";
        }
    }
    std::error_code ec;
    std::filesystem::path previous = std::filesystem::current_path(ec);
    std::filesystem::current_path(work, ec);
    std::printf("\nReal operations through the helper\n");
    print_header();
    const int reps = quick ? 20 : 100;
    print_row("history, 1 operand", operation_series(bridge, 3, operands(1, "src/a"), reps));
    print_row("history, 100 operands", operation_series(bridge, 3, operands(100, "src/a"), reps / 4 + 1));
    print_row("update, 1000 operands", operation_series(bridge, 5, operands(1000, "src/u"), reps / 4 + 1));

    std::filesystem::current_path(previous, ec);
    std::filesystem::remove_all(work, ec);

    // Tracing: the bridge decides once per process, at its first call, and
    // logs that call; the service decides at its start.
    std::printf("\nTracing (bridge: first call of a fresh process; service: sequential op 0)\n");
    print_header();
    const std::string trace_dir = tmpdir + bench::separator() + "trace";
    std::filesystem::create_directories(trace_dir, ec);
    const int firsts = quick ? 10 : 40;
    Stats off = first_calls(firsts, self, tmpdir);
    bench::set_env("KESTRIN_GEMXBRIDGE_TRACE_DIR", trace_dir);
    Stats on = first_calls(firsts, self, tmpdir);
    bench::set_env("KESTRIN_GEMXBRIDGE_TRACE_DIR", "");
    print_row("bridge first call, tracing off", off);
    print_row("bridge first call, tracing on", on);
    std::printf("  bridge tracing on costs %+.1f us at the median of a process's first call\n", on.median - off.median);
    {
        Stats seq_on, fl_on;
        bench::stop_process(service_pid(tmpdir), 10000);
        bench::set_env("KESTRIN_GEMXAPIS_TRACE_DIR", trace_dir);
        bridge.invoke(0, 0, "");  // starts a service that traces
        bench::set_env("KESTRIN_GEMXAPIS_TRACE_DIR", "");
        sequential(bridge, floor->address(), quick ? 2000 : 10000, &seq_on, &fl_on);
        bench::stop_process(service_pid(tmpdir), 10000);
        bridge.invoke(0, 0, "");  // back to a service that does not trace
        for (int i = 0; i < 1000; ++i) bridge.invoke(0, 0, "");
        Stats seq_off, fl_off;
        sequential(bridge, floor->address(), quick ? 2000 : 10000, &seq_off, &fl_off);
        print_row("service tracing off, op 0", seq_off);
        print_row("service tracing on, op 0", seq_on);
        std::printf("  service tracing on: median %.2fx of the floor (off: %.2fx), %+.1f us a call\n",
                    ratio(seq_on.median, fl_on.median), ratio(seq_off.median, fl_off.median),
                    seq_on.median - seq_off.median);
    }
    std::filesystem::remove_all(trace_dir, ec);
    pid = service_pid(tmpdir);
    for (int i = 0; i < 1000; ++i) bridge.invoke(0, 0, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    warm = bench::process_resources(pid);

    std::printf("\nService resources (pid %d)\n", pid);
    const int many = quick ? 10000 : 100000;
    long failed = 0;
    for (int i = 0; i < many; ++i) failed += bridge.invoke(0, 0, "") != 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    bench::Resources after = bench::process_resources(pid);
    print_resources("after warm-up", warm);
    std::string label = "after " + std::to_string(many) + " more calls";
    print_resources(label.c_str(), after);
    std::printf("  growth: rss %+ld KiB, threads %+ld, descriptors %+ld; failed calls %ld\n",
                after.rss_kib - warm.rss_kib, after.threads - warm.threads, after.handles - warm.handles, failed);

    floor.reset();
    bench::stop_process(service_pid(tmpdir), 10000);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 5 && std::strcmp(argv[1], "--client") == 0) {
        return client_main(std::strtoll(argv[2], nullptr, 10), std::atoi(argv[3]), argv[4]);
    }
    if (argc == 3 && std::strcmp(argv[1], "--first") == 0) return first_call_main(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--floor-server") == 0) return floor_server_main(argv[2]);
    // Line by line, so a run written to a file shows its progress.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    return run(quick);
}
