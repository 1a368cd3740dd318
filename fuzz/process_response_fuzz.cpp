// Fuzzes the bridge's reading of an answer: any bytes as the response.
// The result must be the number between the response tags, or 1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge_internal.h"
#include "gemx_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string response(reinterpret_cast<const char *>(data), size);
    const int result = process_response(response);
    std::string value;
    std::int32_t number = 0;
    int expected = 1;
    if (!extract_tagged(response, response_start_tag, response_end_tag, value) && !value.empty() &&
        convert_decimal(value, &number) == 0)
        expected = number;
    if (result != expected) std::abort();
    return 0;
}
