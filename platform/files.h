// Files, directories and time as the core needs them: one interface, one
// implementation file per OS (files_posix.cpp, files_win32.cpp) chosen by
// the build. Every call is safe from any thread.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// The separator the product's paths are joined with ('\\' or '/').
extern const char kPathSeparator;

// The file name ending of programs ("" or ".exe").
extern const char kExeSuffix[];

// Opens path for writing (created or truncated), shared with every other
// opener (_fsopen(path, "w", _SH_DENYNO) on Windows). Null on failure.
std::FILE *open_shared_for_write(const char *path);

// Opens path for reading in text mode, shared for reading and writing with
// other openers (_SH_DENYNO). Null on failure.
std::FILE *open_shared_for_read(const char *path);

// Opens path for appending ("a", created when missing) so that no other
// process can hold it at the same time: Windows denies sharing, POSIX takes
// an exclusive non-blocking lock. Null when it cannot be opened or another
// process holds it.
std::FILE *open_exclusive_for_append(const char *path);

// Makes path the process's current directory (_chdir). 0 on success.
int change_directory(const char *path);

// True when path names a directory that the process may enter.
bool is_accessible_directory(const char *path);

// Joins a pathname to the directory base by the OS's rules: an absolute
// pathname is returned unchanged; a relative one is appended to base
// (Windows also handles a rooted "\x" and a drive-relative "C:x" against
// base's drive). The result is not normalised.
std::string join_to_directory(const std::string &base, const std::string &pathname);

// The current time of day in UTC.
struct UtcTime {
    int hour;
    int minute;
    int second;
};
UtcTime utc_time_of_day();

// The value of an environment variable, or false when it is not set.
bool get_environment(const char *name, std::string *value);

}  // namespace platform
