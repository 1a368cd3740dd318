// The library's export: one operation handed to the launcher service.
#include <cstdint>
#include <string>

#include "bridge_internal.h"
#include "gemx_protocol.h"
#include "gemxbridge_tracer.h"
#include "kestrin_api.h"
#include "veyraks.h"

namespace {

const int kCwdBuffer = 1024;

// The body of invoke_gemx_ui; the export wraps it so no exception leaves
// the library.
int invoke(int client_kind, int op_id, const char *args) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "gemxbridge", "invoke_gemx_ui");
    int result = 1;
    std::string request;
    std::string response;
    if (!init_gemx_service(client_kind)) {
        tracer.writeTrace("Unable to get hold of gemx_<client>_service");
    } else {
        request = construct_request(op_id, args);
        response.clear();
        if (!send_data_win32(request, response, client_kind)) {
            tracer.writeTrace("error in named pipe communication");
        } else {
            result = process_response(response);
        }
    }
    // The log closes while this scope is still open, so the entry point's
    // Exiting line is never written and later calls in the process are not
    // traced.
    GEMXBRIDGE_Tracer::close_file();
    return result;
}

}  // namespace

std::string construct_request(int op_id, const char *args) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "gemxbridge", "construct_request");
    std::string request;
    request += request_start_tag;
    request += op_id_start_tag;
    request += std::to_string(op_id);
    request += op_id_end_tag;
    request += args_start_tag;
    request += args ? args : "";
    request += args_end_tag;
    char cwd[kCwdBuffer];
    if (fileutl_getcwd(cwd, kCwdBuffer) == 0) {
        request += cwd_start_tag;
        request += cwd;
        request += cwd_end_tag;
    }
    request += request_end_tag;
    return request;
}

int process_response(std::string response) {
    GEMXBRIDGE_Tracer tracer("gemxbridge", "gemxbridge", "process_response");
    std::string value;
    if (extract_tagged(response, response_start_tag, response_end_tag,
                                      value)) {
        tracer.writeTrace("error while reading response");
        return 1;
    }
    if (value.empty()) {
        tracer.writeTrace("Empty response string");
        return 1;
    }
    int32_t result = 0;
    if (convert_decimal(value, &result) != 0) {
        tracer.writeTrace("invalid response value");
        return 1;
    }
    return result;
}

extern "C" KESTRIN_EXPORT int invoke_gemx_ui(int client_kind, int op_id, const char *args) {
    try {
        return invoke(client_kind, op_id, args);
    } catch (...) {
        // Only an exhausted heap can throw here; the caller gets a failure.
        GEMXBRIDGE_Tracer::close_file();
        return 1;
    }
}
