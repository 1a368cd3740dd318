// Files, directories and time on Windows, through the C runtime's shared
// opens (_fsopen) and the system's time and environment calls.
#include "files.h"

#include <windows.h>
#include <direct.h>
#include <share.h>

#include <cctype>
#include <vector>

namespace platform {

const char kPathSeparator = '\\';
const char kExeSuffix[] = ".exe";

std::FILE *open_shared_for_write(const char *path) {
    if (path == nullptr) return nullptr;
    return _fsopen(path, "w", _SH_DENYNO);
}

std::FILE *open_shared_for_read(const char *path) {
    if (path == nullptr) return nullptr;
    return _fsopen(path, "r", _SH_DENYNO);
}

std::FILE *open_exclusive_for_append(const char *path) {
    if (path == nullptr) return nullptr;
    return _fsopen(path, "a", _SH_DENYRW);
}

int change_directory(const char *path) {
    if (path == nullptr) return -1;
    return _chdir(path) == 0 ? 0 : -1;
}

bool is_accessible_directory(const char *path) {
    if (path == nullptr) return false;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// True when text starts with a drive designator such as "C:".
bool has_drive(const std::string &text) {
    return text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':';
}

// True when text starts with two separators: "\\server\share\...".
bool is_unc(const std::string &text) {
    return text.size() >= 2 && is_separator(text[0]) && is_separator(text[1]);
}

// The part of base that a rooted pathname ("\x") is resolved against: its
// drive ("C:") or its "\\server\share" prefix; empty when base has neither.
std::string root_of(const std::string &base) {
    if (has_drive(base)) return base.substr(0, 2);
    if (!is_unc(base)) return std::string();
    std::size_t server_end = 2;
    while (server_end < base.size() && !is_separator(base[server_end])) ++server_end;
    if (server_end == base.size()) return base;
    std::size_t share_end = server_end + 1;
    while (share_end < base.size() && !is_separator(base[share_end])) ++share_end;
    return base.substr(0, share_end);
}

// base + "\" + rest, without doubling a separator that base ends in.
std::string append(const std::string &base, const std::string &rest) {
    if (base.empty()) return rest;
    if (rest.empty()) return base;
    if (is_separator(base.back())) return base + rest;
    return base + '\\' + rest;
}

}  // namespace

std::string join_to_directory(const std::string &base, const std::string &pathname) {
    if (is_unc(pathname)) return pathname;
    if (has_drive(pathname)) {
        if (pathname.size() >= 3 && is_separator(pathname[2])) return pathname;
        std::string rest = pathname.substr(2);
        bool same_drive = has_drive(base) && std::toupper(static_cast<unsigned char>(base[0])) ==
                                                 std::toupper(static_cast<unsigned char>(pathname[0]));
        if (same_drive) return append(base, rest);
        return pathname.substr(0, 2) + '\\' + rest;
    }
    if (!pathname.empty() && is_separator(pathname[0])) return root_of(base) + pathname;
    return append(base, pathname);
}

UtcTime utc_time_of_day() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return UtcTime{now.wHour, now.wMinute, now.wSecond};
}

// GetEnvironmentVariableA sees the process environment, which _putenv and
// SetEnvironmentVariableA both update, and unlike the runtime's copy it can
// hold a variable whose value is empty.
bool get_environment(const char *name, std::string *value) {
    if (name == nullptr) return false;
    // The size query counts the terminating NUL, so an empty value gives 1
    // and only a missing variable gives 0.
    DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) return false;
    // The value may change between the size query and the copy; retry until
    // it fits.
    for (;;) {
        std::vector<char> buf(needed);
        SetLastError(ERROR_SUCCESS);
        DWORD got = GetEnvironmentVariableA(name, buf.data(), needed);
        if (got == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        if (got < needed) {
            if (value != nullptr) value->assign(buf.data(), got);
            return true;
        }
        needed = got;
    }
}

}  // namespace platform
