// File services on Windows: the temporary directory, the current directory
// and absolute pathnames by Windows rules.
#include <windows.h>

#include <string>
#include <vector>

#include "fileutl_internal.h"
#include "veyraks.h"

namespace {

// Handed out when no temporary directory can be supplied: "<" and ">" are
// not allowed in Windows file names, so every create and open below this
// path fails instead of landing in the current directory.
constexpr const char kUnusableTmpdir[] = "<kestrin-no-tmpdir>";

// The process's current directory, or "" when it cannot be read.
std::string current_directory() {
    DWORD need = GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return std::string();
    std::vector<char> buf(need + 1);
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0 || n >= buf.size()) return std::string();
    return std::string(buf.data(), n);
}

}  // namespace

extern "C" {

int fileutl_get_tmpdir(int /*reserved*/, char *buf, int size, int /*flags*/) {
    if (!buf || size <= 0) return 1;
    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n > 0 && n < sizeof temp) {
        std::string dir(temp, n);
        while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
        if (!dir.empty() && veyraks_fileutl::copy_to_buffer(dir, buf, size)) return 0;
    }
    veyraks_fileutl::copy_to_buffer(kUnusableTmpdir, buf, size);
    return 1;
}

int fileutl_getcwd(char *buf, int size) {
    if (!buf || size <= 0) return 1;
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buf);
    if (n > 0 && n < static_cast<DWORD>(size)) return 0;
    buf[0] = '\0';
    return 1;
}

int fileutl_abspn(const char *pathname, char *buf, int size) {
    if (buf && size > 0) buf[0] = '\0';
    if (!pathname || !*pathname) return 1;
    auto normal = veyraks_fileutl::normalize_windows(current_directory(), pathname);
    return normal && veyraks_fileutl::copy_to_buffer(*normal, buf, size) ? 0 : 1;
}

}  // extern "C"
