// Skeleton pieces shared by the parsers: the heap-area warning, the
// unrecognized-option report, option arguments and operand collection.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cmdsyn_internal.h"
#include "veyraks.h"
#include "veyratbs.h"

namespace cmdsyn {

namespace {

constexpr std::size_t kFirstBlockBytes = 128;
constexpr int32_t kGrowthStep = 256;

void *alloc_in_area(void * /*context*/, stg_area_t area, std::size_t size) { return stg_alloc(area, size); }

}  // namespace

OperandAllocator area_allocator() { return OperandAllocator{alloc_in_area, nullptr}; }

void warn_heap_area() {
    std::fputs("*** Only a non-heap AREA may be passed to CMD_INIT_ARGS_PREFIX.\n", stdout);
    std::fflush(stdout);
}

void report_unrecognized_option(clp_hdl_t *hdl) {
    const char *text = _tbs_cmsg_tbs_msg_table_adr(100);
    if (text) imsg_print(6, text);
    char name[256];
    if (clp_get_last_flag_name(hdl, 1, sizeof name, name) == 0) {
        imsg_print(7, "internal error: Unrecognized option \"%s\"\n", -1, name);
    }
}

void take_argument(clp_hdl_t *hdl, char **word, bool *missing) {
    if (clp_get_next_arg(hdl, word) == CLP_NONE_LEFT) *missing = true;
}

OperandArray start_operands(char ***argv, int32_t *argc, stg_area_t area, OperandAllocator allocator) {
    *argv = nullptr;
    *argc = 0;
    return OperandArray{argv, argc, 0, area, allocator};
}

bool append_operand(OperandArray *array, char *text) {
    char **&argv = *array->argv;
    int32_t &argc = *array->argc;
    if (!argv) {
        // The first operand goes into a small block; the capacity counter
        // stays 0, so the next operand already moves to a full block.
        auto *block = static_cast<char **>(array->allocator.alloc(array->allocator.context, array->area,
                                                                  kFirstBlockBytes));
        if (!block) return false;
        argc = 0;
        argv = block;
    } else if (argc >= array->capacity) {
        // A block of pointers, not of 4-byte words: in a 64-bit build each
        // entry takes 8 bytes.
        if (array->capacity > INT32_MAX - kGrowthStep) return false;
        const int32_t capacity = array->capacity + kGrowthStep;
        auto *block = static_cast<char **>(array->allocator.alloc(
            array->allocator.context, array->area, static_cast<std::size_t>(capacity) * sizeof(char *)));
        if (!block) return false;
        std::memcpy(block, argv, static_cast<std::size_t>(argc) * sizeof(char *));
        argv = block;
        array->capacity = capacity;
    }
    argv[argc] = text;
    ++argc;
    return true;
}

int32_t collect_operands(clp_hdl_t *hdl, OperandArray *array, Operands count) {
    for (bool first = true;; first = false) {
        char *text = nullptr;
        if (clp_get_next_arg(hdl, &text) == CLP_NONE_LEFT) {
            return first && count == Operands::one_or_more ? kSyntaxError : 0;
        }
        if (!text) return 0;
        if (!append_operand(array, text)) return kSyntaxError;
    }
}

}  // namespace cmdsyn
