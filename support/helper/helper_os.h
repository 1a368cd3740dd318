// The OS services of the helper program: one implementation file per OS
// (helper_os_posix.cpp, helper_os_win32.cpp), chosen by the build.
#pragma once

#include <string>

namespace gemx_helper {

// The separator the journal's path is joined with.
extern const char kPathSeparator;

// True when path names an existing file, directory or other object.
bool path_exists(const std::string &path);

// Appends bytes to the file at path (created, private to the user, when
// missing) with one write at the end of the file, even when other processes
// append at the same time. False when it could not.
bool append_to_file(const std::string &path, const std::string &bytes);

// Makes standard input and output carry bytes unchanged (no CR LF
// translation).
void use_binary_stdio();

}  // namespace gemx_helper
