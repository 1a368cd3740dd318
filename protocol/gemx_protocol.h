// The request protocol shared by the launcher service and the bridge: the
// names both sides form alike, the ten message tags, the routine that reads
// a tagged field out of a message, and the decimal conversion of the
// operation id and of the result. Both deliverables compile this one unit,
// so the two ends agree byte for byte.
//
// Request: "<request_start>" "<op_id_start>" id "<op_id_end>"
//          "<args_start>" argument string "<args_end>"
//          ["<cwd_start>" client cwd "<cwd_end>"] "<request_end>"
// Response: "<response_start>" result "<response_end>"
// Numbers are printed as printf "%d" prints a signed 32-bit integer. No
// separators, no length prefix, no terminating NUL.
#pragma once

#include <cstdint>
#include <string>

// The pid file of the running service, in the user's temporary directory.
inline constexpr char pid_file_name[] = "gemx_pkl_service.pid";

// The service pipe's name without the login name that completes it.
inline constexpr char pipe_base_name[] = "\\\\.\\pipe\\vomar\\orvane\\kestrin\\gemx_pkl_service_pipe_request";

inline constexpr char request_start_tag[] = "<request_start>";
inline constexpr char request_end_tag[] = "<request_end>";
inline constexpr char op_id_start_tag[] = "<op_id_start>";
inline constexpr char op_id_end_tag[] = "<op_id_end>";
inline constexpr char args_start_tag[] = "<args_start>";
inline constexpr char args_end_tag[] = "<args_end>";
inline constexpr char cwd_start_tag[] = "<cwd_start>";
inline constexpr char cwd_end_tag[] = "<cwd_end>";
inline constexpr char response_start_tag[] = "<response_start>";
inline constexpr char response_end_tag[] = "<response_end>";

// Operation ids carried in a request.
enum gemx_operation_id : std::int32_t {
    gemx_op_none = 0,
    gemx_op_deliver = 1,
    gemx_op_find_merge = 2,
    gemx_op_history = 3,
    gemx_op_rebase = 4,
    gemx_op_update = 5,
    gemx_op_vtree = 6,
};

// Reads the field between start_tag and end_tag out of text.
// Both tags are looked for from the beginning of text, and the first
// occurrence of each counts. When the end tag lies at or after the end of
// the start tag, out gets the characters between them (empty for adjacent
// tags); when it lies before, out gets everything after the start tag.
// Returns false when both tags were found (out holds the field), true when
// either is missing (out is then empty). The arguments are copies, so out
// may be the caller's text variable itself.
bool extract_tagged(std::string text, std::string start_tag, std::string end_tag, std::string &out);

// Converts decimal text to a signed 32-bit integer: skips leading blanks,
// tabs, line feeds, vertical tabs, form feeds and carriage returns, accepts
// one "+" or "-", then reads digits up to the first non-digit and ignores
// the rest ("4abc" and "4\n" give 4, "0x10" gives 0). Returns 0 with the
// number in *value; returns 1 (leaving *value alone) when no digit was read
// or the number lies outside -2147483648 to 2147483647.
int convert_decimal(const std::string &text, std::int32_t *value);

// The service pipe name: base_name followed directly by login_name, the
// text sysutl_myloginname gives. Service and bridge both form it this way.
std::string service_pipe_name(const std::string &base_name, const std::string &login_name);

// The service pipe name from pipe_base_name and login_name.
std::string service_pipe_name(const std::string &login_name);
