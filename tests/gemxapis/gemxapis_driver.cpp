// A process for the multi-process tests of libgemxapis. Its first argument
// names what it does:
//   hold <product dir>  starts the helper from that product tree, prints
//                       "helper <pid>" and waits for the end of its input
//                       (the test kills it meanwhile);
//   trace <scenario> [<dir>]  traces through GEMXAPIS_Tracer as the scenario
//                       says and prints "pid <pid>" first, so the test knows
//                       the log's name.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "gemxapis.h"
#include "gemxapis_testing.h"
#include "test_os.h"

namespace {

void say(const std::string &line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int hold(const std::string &product_dir) {
    std::error_code ec;
    std::filesystem::current_path(product_dir, ec);
    if (ec) return 2;
    gemx_api_handle_t handle = 0;
    if (gemx_api_initialize(&handle) != 0) return 3;
    say("helper " + std::to_string(gemx_api_testing_helper_pid(handle)));
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    gemx_api_uninitialize(&handle);
    return 0;
}

// One scope with the messages every log test looks for.
void basic_scope() {
    GEMXAPIS_Tracer trace("gemx_pkl_service", "operations", "deliver");
    trace.writeTrace("error occurred while parsing arguments");
    trace.writeTrace("%s", "100% sure %d %s");
    trace.writeTrace("n=%d text=%s", 42, "x");
    {
        GEMXAPIS_Tracer inner("gemx_pkl_service", "operations", "make_abs_pn");
        inner.writeTrace("error while converting to abs pn");
    }
}

// threads x scopes scopes, each with one long message, all at once.
void many_threads() {
    const std::string filler(300, 'z');
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([t, &filler] {
            for (int i = 0; i < 200; ++i) {
                GEMXAPIS_Tracer trace("gemx_pkl_service", "operations", "history");
                trace.writeTrace("thread %d item %d %s", t, i, filler.c_str());
            }
        });
    }
    for (std::thread &th : threads) th.join();
}

int trace(const std::string &scenario, const std::string &dir) {
    say("pid " + std::to_string(gemxapis_test::current_pid()));
    if (scenario == "basic") {
        basic_scope();
        GEMXAPIS_Tracer::close_file();
        // After the close nothing more reaches the log.
        basic_scope();
        GEMXAPIS_Tracer::close_file();
    } else if (scenario == "threads") {
        many_threads();
        GEMXAPIS_Tracer::close_file();
    } else if (scenario == "crash") {
        GEMXAPIS_Tracer trace("gemx_pkl_service", "gemx_pkl_svc_win32", "main");
        trace.writeTrace("Initializing the helper process for : %s", "pikal");
        // Ends without closing the log or leaving the scope.
        std::_Exit(7);
    } else if (scenario == "late") {
        // The variable is read at the first trace call only.
        GEMXAPIS_Tracer first("gemx_pkl_service", "operations", "find_merge");
        gemxapis_test::set_env("KESTRIN_GEMXAPIS_TRACE_DIR", dir.c_str());
        basic_scope();
    } else if (scenario == "close-first") {
        GEMXAPIS_Tracer::close_file();
        basic_scope();
    } else {
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "hold") return hold(args[1]);
    if (args.size() >= 2 && args[0] == "trace") return trace(args[1], args.size() > 2 ? args[2] : "");
    return 2;
}
