// Files, directories and time on POSIX. Every stream is opened
// close-on-exec ("e"), so programs started by the process inherit none.
#include "files.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace platform {

const char kPathSeparator = '/';
const char kExeSuffix[] = "";

std::FILE *open_shared_for_write(const char *path) {
    if (path == nullptr) return nullptr;
    return std::fopen(path, "we");
}

std::FILE *open_shared_for_read(const char *path) {
    if (path == nullptr) return nullptr;
    return std::fopen(path, "re");
}

// POSIX has no sharing modes, so exclusivity comes from an advisory lock
// that every opener of the log takes: flock belongs to the open file, so a
// second open conflicts whether it comes from this process or another.
std::FILE *open_exclusive_for_append(const char *path) {
    if (path == nullptr) return nullptr;
    std::FILE *f = std::fopen(path, "ae");
    if (f == nullptr) return nullptr;
    int rc;
    do {
        rc = flock(fileno(f), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        std::fclose(f);
        errno = err;
        return nullptr;
    }
    return f;
}

int change_directory(const char *path) {
    if (path == nullptr) return -1;
    return chdir(path) == 0 ? 0 : -1;
}

bool is_accessible_directory(const char *path) {
    if (path == nullptr) return false;
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return access(path, X_OK) == 0;
}

std::string join_to_directory(const std::string &base, const std::string &pathname) {
    if (!pathname.empty() && pathname.front() == '/') return pathname;
    if (base.empty()) return pathname;
    if (pathname.empty()) return base;
    if (base.back() == '/') return base + pathname;
    return base + '/' + pathname;
}

UtcTime utc_time_of_day() {
    std::time_t now = std::time(nullptr);
    struct tm parts {};
    if (gmtime_r(&now, &parts) == nullptr) return UtcTime{0, 0, 0};
    return UtcTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

bool get_environment(const char *name, std::string *value) {
    if (name == nullptr) return false;
    const char *text = std::getenv(name);
    if (text == nullptr) return false;
    if (value != nullptr) value->assign(text);
    return true;
}

}  // namespace platform
