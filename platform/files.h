// Files, directories and time as the core needs them: one interface, one
// implementation file per OS (files_posix.cpp, files_win32.cpp) chosen by
// the build. Every call is safe from any thread. Streams returned here are
// the caller's to close with std::fclose; on POSIX every one of them is
// close-on-exec, so no started program inherits it.
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
// opener can hold it at the same time: Windows denies sharing
// (_SH_DENYRW), POSIX takes an exclusive non-blocking flock on the open
// file, released when the stream is closed. A second open while the first
// is held fails, from another process and from the same one alike. Null
// when it cannot be opened or another opener holds it.
std::FILE *open_exclusive_for_append(const char *path);

// Makes path the process's current directory (_chdir). 0 on success, -1
// on failure.
int change_directory(const char *path);

// True when path names a directory that the process may enter (POSIX:
// a directory with search permission; Windows: a directory). False for a
// null path.
bool is_accessible_directory(const char *path);

// Joins a pathname to the directory base by the OS's rules. The result is
// not normalised and the file system is not consulted.
// POSIX: "/x" is returned unchanged; otherwise base + "/" + pathname, with
// no separator doubled when base already ends in one.
// Windows ('\\' and '/' are both separators): "C:\x" and "\\server\x" are
// returned unchanged; a rooted "\x" takes base's drive ("C:") or base's
// "\\server\share" prefix, and stays unchanged when base has neither; a
// drive-relative "C:x" is joined to base when base is on drive C (letters
// compared without case), else becomes "C:\x"; anything else is
// base + "\" + pathname, with no separator doubled.
// Both: an empty base leaves pathname unchanged (there is nothing to join
// it to), and an empty pathname gives base.
std::string join_to_directory(const std::string &base, const std::string &pathname);

// The current time of day in UTC.
struct UtcTime {
    int hour;    // 0 to 23
    int minute;  // 0 to 59
    int second;  // 0 to 60 (a leap second)
};
UtcTime utc_time_of_day();

// The value of an environment variable, or false when it is not set. A
// variable set to the empty text counts as set. value may be null when
// only the presence matters.
bool get_environment(const char *name, std::string *value);

}  // namespace platform
