// Fuzzes the service's request dispatch: any bytes as a whole message,
// handled by proc_req over the recording operations API with the real
// parsers and storage areas. Every message must be answered 0 or 1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake_gemxapis.h"
#include "service_internal.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    helper_handle.store(fake_gemxapis::kInitializeHandle);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fake_gemxapis::reset();
    // The first byte scripts the next answer of every operation, so that
    // failing operations are reached as well as succeeding ones.
    if (size > 0 && (data[0] & 1) != 0) {
        for (const char *name : {"deliver", "rebase", "find_merge", "history", "update", "vtree"})
            fake_gemxapis::script(name, {data[0] >> 1});
    }
    const int result = proc_req(std::string(reinterpret_cast<const char *>(data), size));
    if (result != 0 && result != 1) std::abort();
    return 0;
}
