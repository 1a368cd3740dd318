// The line protocol between libgemxapis and its helper program: one request
// per line, fields separated by tab characters, each field escaped so that
// any text without NUL fits in one field of one line. The helper writes its
// journal lines in the same form.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gemxapis_line {

// The field with backslash, tab, newline and carriage return written as
// "\\", "\t", "\n" and "\r"; every other byte is kept as it is.
std::string escape_field(std::string_view text);

// The inverse of escape_field. Nullopt when the field holds a raw tab,
// newline or carriage return, a backslash at its end, or a backslash
// followed by anything but "\\", "t", "n" or "r".
std::optional<std::string> unescape_field(std::string_view field);

// A whole line (without its line end): the name, then a tab and the
// escaped form of each argument in order.
std::string build_line(std::string_view name, const std::vector<std::string> &args);

// The line split at its raw tabs and every field unescaped: the first field
// is the name. Nullopt when any field is malformed (see unescape_field).
std::optional<std::vector<std::string>> parse_line(std::string_view line);

}  // namespace gemxapis_line
