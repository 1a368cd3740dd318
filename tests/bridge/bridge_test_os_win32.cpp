#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "bridge_test_util.h"

namespace fs = std::filesystem;

namespace bridge_test {

namespace {

// Owns one kernel handle (null and INVALID_HANDLE_VALUE count as none).
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() {
        if (h_) CloseHandle(h_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// One argument quoted the way the runtime's command-line parser splits it
// back: backslashes are literal except before a double quote.
std::string quote_argument(const std::string &arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

// An inheritable handle for a child's standard stream.
HANDLE inheritable_file(const std::string &path, bool write) {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The program file of process pid, or "" when it cannot be read.
std::string image_of(DWORD pid) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.get()) return "";
    char buf[MAX_PATH * 4];
    DWORD size = sizeof buf;
    if (!QueryFullProcessImageNameA(process.get(), 0, buf, &size)) return "";
    return std::string(buf, size);
}

}  // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                      int timeout_ms) {
    RunResult result;
    kestrin_test::TempDir capture("run");
    const std::string out_path = capture.file("out");
    const std::string err_path = capture.file("err");
    {
        Handle out(inheritable_file(out_path, true));
        Handle err(inheritable_file(err_path, true));
        Handle in(inheritable_file("NUL", false));
        if (!out.get() || !err.get() || !in.get()) return result;

        std::string line = quote_argument(program);
        for (const std::string &a : args) line += " " + quote_argument(a);
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in.get();
        si.hStdOutput = out.get();
        si.hStdError = err.get();
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
            return result;
        }
        Handle process(pi.hProcess);
        Handle thread(pi.hThread);
        result.started = true;
        if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0) {
            result.finished = true;
            DWORD code = 0;
            if (GetExitCodeProcess(process.get(), &code)) result.exit_code = static_cast<int>(code);
        } else {
            TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 10000);
        }
    }
    result.out = kestrin_test::read_file(out_path);
    result.err = kestrin_test::read_file(err_path);
    return result;
}

bool process_running(int pid) {
    if (pid <= 0) return false;
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process.get()) return false;
    DWORD code = 0;
    return GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

bool stop_process(int pid) {
    if (pid <= 0) return false;
    Handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process.get()) return !process_running(pid);
    TerminateProcess(process.get(), 15);
    return WaitForSingleObject(process.get(), 20000) == WAIT_OBJECT_0;
}

std::vector<int> processes_running_from(const std::string &dir) {
    std::string root = lower(dir);
    if (!root.empty() && root.back() != '\\') root += '\\';
    std::vector<int> found;
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.get()) return found;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
        std::string image = lower(image_of(entry.th32ProcessID));
        if (!image.empty() && image.compare(0, root.size(), root) == 0 &&
            process_running(static_cast<int>(entry.th32ProcessID))) {
            found.push_back(static_cast<int>(entry.th32ProcessID));
        }
    }
    return found;
}

int open_handle_count() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    return static_cast<int>(count);
}

int unreaped_child_count() { return 0; }

bool make_directory_link(const std::string &target, const std::string &link) {
    std::error_code ec;
    fs::create_directory_symlink(target, link, ec);
    return !ec;
}

}  // namespace bridge_test
