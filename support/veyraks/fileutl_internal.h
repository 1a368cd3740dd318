// Internals of the file services shared by the POSIX and the Windows
// implementation: lexical pathname normalisation and the copy of a result
// into a caller's buffer. Pure functions that read nothing but their
// arguments, so both rule sets can be tested on any platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veyraks_fileutl {

// The absolute, lexically normalised form of path by POSIX rules. A path
// that does not begin with "/" is taken against cwd, which must then be
// absolute itself. "." and empty components are dropped, ".." removes the
// component before it and stays at the root when there is none; the result
// has no trailing "/" unless it is the root "/". Nullopt for an empty path
// or a relative path without an absolute cwd.
std::optional<std::string> normalize_posix(std::string_view cwd, std::string_view path);

// The absolute, lexically normalised form of path by Windows rules, with
// "\" and "/" both taken as separators and "\" written:
// - "C:\x" is absolute on drive C;
// - "C:x" is drive-relative: against cwd when cwd is on drive C (letters
//   compared without case), else against "C:\";
// - "\\server\share\x" is a UNC path whose root is "\\server\share": ".."
//   never climbs above the share; server and share must both be present;
// - "\x" is rooted: against the root of cwd (its drive or its UNC share);
// - anything else is relative to cwd.
// cwd must be an absolute drive or UNC path whenever path needs it. The
// root of a result ends in "\" ("C:\", "\\server\share\"), other results
// have no trailing separator. Nullopt for an empty path, a malformed UNC
// path, or a path that needs a cwd that is missing or not absolute.
std::optional<std::string> normalize_windows(std::string_view cwd, std::string_view path);

// Copies text and its NUL into buf (size bytes). False when buf is null,
// size is not positive, or the text does not fit; buf then holds "" if it
// holds anything.
bool copy_to_buffer(std::string_view text, char *buf, int size);

}  // namespace veyraks_fileutl
