// Small helpers shared by the service's tests: trace lines as the service
// writes them, request messages, and paths built the platform's way.
#pragma once

#include <string>

#include "gemx_protocol.h"
#include "test_common.h"

namespace service_test {

// A trace line of the module "gemx_pkl_svc_win32": "...::<function>::<tail>".
inline std::string svc_line(const std::string &function, const std::string &tail) {
    return "gemx_pkl_service::gemx_pkl_svc_win32::" + function + "::" + tail;
}

// A trace line of the module "operations".
inline std::string ops_line(const std::string &function, const std::string &tail) {
    return "gemx_pkl_service::operations::" + function + "::" + tail;
}

// A well-formed request with all four fields, the operation id as given.
inline std::string request(const std::string &op, const std::string &args, const std::string &cwd) {
    return std::string(request_start_tag) + op_id_start_tag + op + op_id_end_tag + args_start_tag + args +
           args_end_tag + cwd_start_tag + cwd + cwd_end_tag + request_end_tag;
}

// The response for a result.
inline std::string response(int result) {
    return std::string(response_start_tag) + std::to_string(result) + response_end_tag;
}

// dir and name joined by the platform's separator.
inline std::string join(const std::string &dir, const std::string &name) {
    return dir + kestrin_test::separator() + name;
}

// Text in double quotes, so the option parser keeps it one word whatever
// the temporary folder's name holds.
inline std::string quoted(const std::string &text) { return "\"" + text + "\""; }

}  // namespace service_test
