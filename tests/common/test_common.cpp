#include "test_common.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace kestrin_test {

std::string bin_dir() {
#if defined(_WIN32)
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string self(buf, n);
#else
    std::error_code ec;
    std::string self = fs::read_symlink("/proc/self/exe", ec).string();
#endif
    return fs::path(self).parent_path().string();
}

std::string product_dir() { return fs::path(bin_dir()).parent_path().string(); }

char separator() { return static_cast<char>(fs::path::preferred_separator); }

void set_env(const char *name, const char *value) {
#if defined(_WIN32)
    // _putenv_s keeps the runtime's copy in step; SetEnvironmentVariableA
    // is what children inherit and the only way to hold an empty value.
    if (value == nullptr) {
        _putenv_s(name, "");
        SetEnvironmentVariableA(name, nullptr);
    } else {
        if (*value != '\0') _putenv_s(name, value);
        SetEnvironmentVariableA(name, value);
    }
#else
    if (value == nullptr) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
#endif
}

std::string journal_field(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::vector<std::string> temp_dir_variables() {
#if defined(_WIN32)
    return {"TMP", "TEMP"};
#else
    return {"TMPDIR"};
#endif
}

TempDir::TempDir(const std::string &tag) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#if defined(_WIN32)
    unsigned long pid = GetCurrentProcessId();
#else
    unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("kestrin-test-" + tag + "-" + std::to_string(pid) + "-" +
                                     std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string &name) const { return path_ + separator() + name; }

bool write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace kestrin_test
