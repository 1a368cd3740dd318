// Micro-benchmarks of the routines one call runs through: the protocol's
// tag extraction and decimal conversion, the bridge's request text, the
// service's dispatch over a stand-in operations API, the option parsers,
// the trace scopes of both sides with tracing off, and the bridge's
// per-call discovery of the running service.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "bench_os.h"
#include "bridge_internal.h"
#include "cmdsyn.h"
#include "gemx_protocol.h"
#include "gemxbridge_tracer.h"
#include "service_internal.h"
#include "veyraks.h"

namespace {

std::string operand_list(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += "src/file" + std::to_string(i) + ".c";
    }
    return s;
}

std::string request_text(int op, const std::string &args) {
    return std::string(request_start_tag) + op_id_start_tag + std::to_string(op) + op_id_end_tag + args_start_tag +
           args + args_end_tag + cwd_start_tag + "/home/user/work" + cwd_end_tag + request_end_tag;
}

void BM_extract_tagged(benchmark::State &state) {
    const std::string text = request_text(3, operand_list(static_cast<int>(state.range(0))));
    std::string out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(extract_tagged(text, args_start_tag, args_end_tag, out));
    }
}
BENCHMARK(BM_extract_tagged)->Arg(0)->Arg(100);

void BM_convert_decimal(benchmark::State &state) {
    const std::string text = "-2147483648";
    std::int32_t v = 0;
    for (auto _ : state) benchmark::DoNotOptimize(convert_decimal(text, &v));
}
BENCHMARK(BM_convert_decimal);

void BM_construct_request(benchmark::State &state) {
    const std::string args = operand_list(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(construct_request(3, args.c_str()));
}
BENCHMARK(BM_construct_request)->Arg(0)->Arg(100);

// proc_req over the stand-in operations API below: what the service adds
// between reading a request and calling the operation.
void BM_proc_req(benchmark::State &state) {
    helper_handle = 1;
    const int op = static_cast<int>(state.range(0));
    const std::string args = op == 0 ? "" : operand_list(static_cast<int>(state.range(1)));
    const std::string message = request_text(op, args);
    for (auto _ : state) benchmark::DoNotOptimize(proc_req(message));
}
BENCHMARK(BM_proc_req)->Args({0, 0})->Args({3, 1})->Args({3, 100})->Args({5, 1000});

template <typename Record, typename Parse>
void parse_loop(benchmark::State &state, const std::string &args, Parse parse) {
    for (auto _ : state) {
        stg_area_t area = stg_create_area(4096);
        Record rec{};
        benchmark::DoNotOptimize(parse(args.c_str(), area, &rec));
        stg_free_area(area, 0);
    }
}

void BM_cmdsyn_history(benchmark::State &state) {
    const std::string args = "-r -use alice " + operand_list(static_cast<int>(state.range(0)));
    parse_loop<history_args>(state, args, [](const char *a, stg_area_t area, history_args *rec) {
        std::int32_t kind = 0;
        return cmdsyn_history(a, area, rec, &kind);
    });
}
BENCHMARK(BM_cmdsyn_history)->Arg(1)->Arg(100)->Arg(600);

void BM_cmdsyn_update(benchmark::State &state) {
    parse_loop<update_args>(state, operand_list(static_cast<int>(state.range(0))), cmdsyn_update);
}
BENCHMARK(BM_cmdsyn_update)->Arg(1)->Arg(1000);

void BM_cmdsyn_deliver(benchmark::State &state) { parse_loop<deliver_args>(state, "", cmdsyn_deliver); }
BENCHMARK(BM_cmdsyn_deliver);

void BM_cmdsyn_rebase(benchmark::State &state) { parse_loop<rebase_args>(state, "", cmdsyn_rebase); }
BENCHMARK(BM_cmdsyn_rebase);

void BM_cmdsyn_vtree(benchmark::State &state) {
    parse_loop<vtree_args>(state, "-all src/file.c", cmdsyn_vtree);
}
BENCHMARK(BM_cmdsyn_vtree);

// Trace scopes with tracing off (no trace folder in the environment).
void BM_bridge_trace_scope_off(benchmark::State &state) {
    for (auto _ : state) {
        GEMXBRIDGE_Tracer t("gemxbridge", "gemxbridge", "invoke_gemx_ui");
        t.writeTrace("Result = %d", 0);
    }
}
BENCHMARK(BM_bridge_trace_scope_off);

void BM_service_trace_scope_off(benchmark::State &state) {
    for (auto _ : state) {
        GEMXAPIS_Tracer t("gemx_pkl_service", "gemx_pkl_svc_win32", "com_worker");
        t.writeTrace("Request: %s", "x");
    }
}
BENCHMARK(BM_service_trace_scope_off);

// A service started from this tree in the run's temporary folder, for the
// discovery benchmark; stopped when the program ends.
class RunningService {
public:
    RunningService() {
        if (!init_gemx_service(0)) return;
        for (int i = 0; i < 200 && !gemx_ser_proc_check(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ok_ = gemx_ser_proc_check();
    }
    ~RunningService() { bench::stop_process(pid_from_file(), 10000); }
    bool ok() const { return ok_; }

private:
    static int pid_from_file() {
        char dir[1024] = {0};
        fileutl_get_tmpdir(0, dir, 1023, 0);
        std::FILE *f = std::fopen((std::string(dir) + bench::separator() + service_pid_file_name()).c_str(), "r");
        int pid = 0;
        if (f) {
            if (std::fscanf(f, "%d", &pid) != 1) pid = 0;
            std::fclose(f);
        }
        return pid;
    }
    bool ok_ = false;
};

// What the bridge does on every call before it touches the pipe: read the
// pid file and check that the process it names runs this tree's service.
// Nothing of it may be kept between calls, so it is part of every call's
// cost beyond the bare IPC floor.
void BM_bridge_service_check(benchmark::State &state) {
    static RunningService service;
    if (!service.ok()) {
        state.SkipWithError("the service could not be started");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(gemx_ser_proc_check());
}
BENCHMARK(BM_bridge_service_check)->UseRealTime();

// The private temporary folder's check, made twice per call by the bridge
// (pid file, socket path) and once per connection by the service.
void BM_private_folder_check(benchmark::State &state) {
    char dir[1024];
    for (auto _ : state) benchmark::DoNotOptimize(fileutl_get_tmpdir(0, dir, 1023, 0));
}
BENCHMARK(BM_private_folder_check)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
