// Pieces shared by the five parsers: the option tables, the steps of the
// parse skeleton, the unrecognized-option report and operand collection.
// The parse functions take their table and their operand allocator as
// arguments, so tests can drive them with another table or watch the blocks
// an operand array takes; the exported parsers pass the fixed ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "cmdsyn.h"
#include "veyraks.h"

namespace cmdsyn {

constexpr int32_t kSyntaxError = CMDSYN_SYNTAX_ERROR;

// Record codes of the args prefix.
constexpr int32_t kDeliverCode = 4;
constexpr int32_t kHistoryCode = 5;
constexpr int32_t kRebaseCode = 2;
constexpr int32_t kUpdateCode = 5;
constexpr int32_t kVtreeCode = 1;

// The option tables, each ending with {nullptr, -1, 0}.
extern const clp_option_t deliver_options[];
extern const clp_option_t rebase_options[];
extern const clp_option_t update_options[];
extern const clp_option_t vtree_options[];
extern const clp_option_t history_options[];

// Where an operand array takes its blocks: alloc(context, area, size)
// returns memory valid until the area is freed, or null.
struct OperandAllocator {
    void *(*alloc)(void *context, stg_area_t area, std::size_t size);
    void *context;
};

// The allocator of the product: stg_alloc in the parse's area.
OperandAllocator area_allocator();

// What a parse uses besides its arguments.
struct ParseSetup {
    const clp_option_t *table;
    OperandAllocator allocator;
};

// The parsers behind the exports cmdsyn_deliver ... cmdsyn_history, with
// the same arguments and results (cmdsyn.h), driven by setup. A null record
// fails with 1001; cmdsyn_history's kind may be null.
int32_t parse_deliver(const char *args, stg_area_t area, deliver_args *rec, const ParseSetup &setup);
int32_t parse_rebase(const char *args, stg_area_t area, rebase_args *rec, const ParseSetup &setup);
int32_t parse_update(const char *args, stg_area_t area, update_args *rec, const ParseSetup &setup);
int32_t parse_vtree(const char *args, stg_area_t area, vtree_args *rec, const ParseSetup &setup);
int32_t parse_history(const char *args, stg_area_t area, history_args *rec, int32_t *kind,
                      const ParseSetup &setup);

// Prints the warning that area 1 (the heap) was passed to a parser.
void warn_heap_area();

// Clears the whole record, stores the syntax's code and the area, and warns
// (then carries on) when the area is the heap.
template <class Record>
void CMD_INIT_ARGS_PREFIX(Record *rec, int32_t code, stg_area_t area) {
    static_assert(std::is_trivially_copyable_v<Record>);
    std::memset(static_cast<void *>(rec), 0, sizeof *rec);
    rec->code = code;
    if (area == STG_HEAP_AREA) warn_heap_area();
    rec->area = area;
}

// Skeleton steps 1 to 3: makes the handle, sets up the record's prefix and
// applies the table. Null when the parse fails (with 1001); the record is
// untouched when the handle cannot be made.
template <class Record>
clp_hdl_t *begin_parse(const char *args, stg_area_t area, Record *rec, int32_t code, const clp_option_t *table) {
    clp_hdl_t *hdl = clp_create_hdl_using_string(args, table, area);
    if (!hdl) return nullptr;
    CMD_INIT_ARGS_PREFIX(rec, code, area);
    if (clp_switch_flags(hdl, table, area) != 0) return nullptr;
    return hdl;
}

// Message 100 and the name of the option read last: the library reported a
// flag value that the parser has no case for.
void report_unrecognized_option(clp_hdl_t *hdl);

// Takes the argument of the option just read into *word; a missing one
// sets *missing.
void take_argument(clp_hdl_t *hdl, char **word, bool *missing);

// The option loop of the skeleton. dispatch(flag, &missing) handles one
// flag value and returns false when it has no case for it. 0 when the loop
// ends normally without a missing argument, else 1001.
template <class Dispatch>
int32_t run_option_loop(clp_hdl_t *hdl, Dispatch &&dispatch) {
    bool missing = false;
    for (;;) {
        int32_t flag = 0;
        const int result = clp_get_next_flag_value(hdl, nullptr, &flag);
        if (result == CLP_NONE_LEFT) break;
        if (result != 0) return kSyntaxError;
        if (!dispatch(flag, &missing)) {
            report_unrecognized_option(hdl);
            return kSyntaxError;
        }
    }
    return missing ? kSyntaxError : 0;
}

// One operand array being collected into a record's argv and argc words,
// with the capacity counter of the growth rule.
struct OperandArray {
    char ***argv;
    int32_t *argc;
    int32_t capacity;
    stg_area_t area;
    OperandAllocator allocator;
};

// An empty array over the record words argv and argc (both cleared).
OperandArray start_operands(char ***argv, int32_t *argc, stg_area_t area, OperandAllocator allocator);

// Appends text by the growth rule: a first block of 128 bytes while argv is
// null, then blocks of 256, 512, ... pointers, the collected ones copied
// over. False when the allocator gives no memory (the array is unchanged).
bool append_operand(OperandArray *array, char *text);

enum class Operands { zero_or_more, one_or_more };

// Collects the remaining arguments as operands until the library reports
// none left or hands out a null text. 1001 when one_or_more finds none at
// the first request, or memory runs out; else 0.
int32_t collect_operands(clp_hdl_t *hdl, OperandArray *array, Operands count);

}  // namespace cmdsyn
