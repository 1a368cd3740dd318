// Service discovery and launch: the pid file, a check of the process it
// names, and a hidden start of the service program when there is none.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "bridge_internal.h"
#include "files.h"
#include "gemx_protocol.h"
#include "gemxbridge_tracer.h"
#include "processes.h"
#include "veyraks.h"
#include "veyrant.h"

namespace {

const int kPathBuffer = 1024;

// A pid file holds a few digits; more than this is not a pid file of ours.
const std::size_t kPidFileReadLimit = 4096;

int client_kind = 0;

// The pid file's number as standard formatted input reads it: leading
// white space, an optional sign, digits; false when there is none or it is
// out of the 32-bit range.
bool read_pid_file(const std::string &path, int *pid) {
    std::FILE *f = platform::open_shared_for_read(path.c_str());
    if (!f) return false;
    char text[kPidFileReadLimit + 1];
    std::size_t n = std::fread(text, 1, kPidFileReadLimit, f);
    unix_nt_fclose(f);
    text[n] = '\0';
    int32_t value = 0;
    if (convert_decimal(std::string(text, n), &value) != 0) return false;
    *pid = value;
    return true;
}

// The service program's path in the form the process table reports, kept
// for the life of the process: resolving it walks every component of the
// path (one system call each on POSIX), which was a large share of a warm
// call's cost. fresh asks for it to be resolved again, for when the
// installation's links may have changed since it was kept.
std::string comparable_service_path(bool fresh) {
    static std::mutex lock;
    static std::string kept_for;
    static std::string kept;
    std::string path = service_exe_path();
    std::lock_guard<std::mutex> hold(lock);
    if (fresh || kept.empty() || kept_for != path) {
        kept = platform::comparable_image_path(path);
        kept_for = path;
    }
    return kept;
}

// True when the user's private temporary folder, where the service keeps
// its pid file and pipe, passes its safety check.
bool private_folder_usable() {
    char tmpdir[kPathBuffer] = {0};
    return fileutl_get_tmpdir(0, tmpdir, kPathBuffer - 1, 0) == 0;
}

}  // namespace

int current_client_kind() { return client_kind; }

bool same_image_path(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string service_exe_suffix() {
    std::string suffix;
    suffix += platform::kPathSeparator;
    suffix += "bin";
    suffix += platform::kPathSeparator;
    suffix += "gemx_pkl_service";
    suffix += platform::kExeSuffix;
    return suffix;
}

std::string service_pid_file_name() { return pid_file_name; }

std::string service_exe_path() {
    char buffer[kPathBuffer] = {0};
    const char *dir = ks_product_dir(buffer, 0);
    return std::string(dir ? dir : "") + service_exe_suffix();
}

bool init_gemx_service(int kind) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "process_utils", "init_gemx_service");
    client_kind = kind;
    if (gemx_ser_proc_check()) return true;
    tracer.writeTrace("gemx_service not found; launching...");
    // A service started while the private temporary folder is unusable
    // ends at once, and the pipe client would then spend all its retries
    // (about two minutes) waiting for a pipe that cannot appear: such a
    // start counts as failed.
    if (private_folder_usable() && create_lsp() == 0) return true;
    tracer.writeTrace("error occurred while launching gemx_service");
    return false;
}

bool gemx_ser_proc_check() {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "process_utils", "gemx_ser_proc_check");
    char tmpdir[kPathBuffer] = {0};
    fileutl_get_tmpdir(0, tmpdir, kPathBuffer - 1, 0);
    std::string path = std::string(tmpdir) + platform::kPathSeparator + service_pid_file_name();
    int pid = 0;
    if (!read_pid_file(path, &pid)) return false;
    return proc_exists(pid);
}

bool proc_exists(int pid) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "process_utils", "proc_exists");
    char module[kPathBuffer];
    std::memset(module, 0, kPathBuffer - 1);
    module[kPathBuffer - 1] = '\0';
    if (!platform::process_image_path(pid, module, kPathBuffer - 1)) return false;
    // The image path is reported with symbolic links resolved on POSIX, so
    // the service path is compared in the same form. A mismatch against the
    // kept form is checked once more against a freshly resolved one.
    std::string expected = comparable_service_path(false);
    if (!expected.empty() && same_image_path(module, expected)) return true;
    expected = comparable_service_path(true);
    return !expected.empty() && same_image_path(module, expected);
}

int create_lsp() {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "process_utils", "create_lsp");
    return platform::launch_hidden(service_exe_path()) ? 0 : 1;
}
