// bridge_probe: runs the bridge's discovery and launch code inside whatever
// product tree it is copied into (the product directory comes from where
// libveyraks lies), and doubles as a stand-in service program.
//
//   bridge_probe                  stand-in service: writes its pid to the
//                                 pid file in the user's temporary directory
//                                 and stays alive until killed (at most 300 s)
//   bridge_probe check            check=<gemx_ser_proc_check>
//   bridge_probe init [kind]      init=<init_gemx_service(kind)>, kind=<stored
//                                 kind>, handles_before/after=<open handles
//                                 before the call and after it, its trace log
//                                 closed>, children=<children not reaped afterwards>
//   bridge_probe exe              exe=<service_exe_path>
//   bridge_probe invoke [--no-pause] op args
//                                 result=<invoke_gemx_ui(0, op, args)>; with
//                                 --no-pause the waits for the pipe take no
//                                 pauses
//
// Every mode closes the bridge trace log before it ends, so the test can
// read the log whole.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bridge_internal.h"
#include "bridge_test_util.h"
#include "gemx_protocol.h"
#include "gemxbridge_tracer.h"
#include "processes.h"
#include "veyraks.h"

extern "C" int invoke_gemx_ui(int client_kind, int op_id, const char *args);

namespace {

unsigned int no_pause(unsigned int) { return 0; }

// Writes the pid file the way the service does, in one step, then waits.
int stand_in_service() {
    char dir[1024] = {0};
    fileutl_get_tmpdir(0, dir, 1023, 0);
    std::string path = std::string(dir) + kestrin_test::separator() + pid_file_name;
    std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << platform::current_pid();
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) return 1;
    for (int i = 0; i < 3000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return stand_in_service();
    std::string mode = argv[1];
    int status = 0;
    if (mode == "check") {
        std::printf("check=%d\n", gemx_ser_proc_check() ? 1 : 0);
    } else if (mode == "init") {
        int kind = argc > 2 ? std::atoi(argv[2]) : 0;
        int before = bridge_test::open_handle_count();
        bool found = init_gemx_service(kind);
        // The log opened by the first scope is the one handle that may stay.
        GEMXBRIDGE_Tracer::close_file();
        int after = bridge_test::open_handle_count();
        std::printf("init=%d\nkind=%d\nhandles_before=%d\nhandles_after=%d\nchildren=%d\n", found ? 1 : 0,
                    current_client_kind(), before, after, bridge_test::unreaped_child_count());
    } else if (mode == "exe") {
        std::printf("exe=%s\n", service_exe_path().c_str());
    } else if (mode == "invoke") {
        int i = 2;
        if (i < argc && std::strcmp(argv[i], "--no-pause") == 0) {
            set_sleep_function(no_pause);
            ++i;
        }
        int op = i < argc ? std::atoi(argv[i++]) : 0;
        const char *args = i < argc ? argv[i] : "";
        std::printf("result=%d\n", invoke_gemx_ui(0, op, args));
    } else {
        std::fprintf(stderr, "bridge_probe: unknown mode %s\n", mode.c_str());
        status = 2;
    }
    GEMXBRIDGE_Tracer::close_file();
    std::fflush(stdout);
    return status;
}
