// Fuzzes the five command-syntax parsers over the real option parser and
// storage areas: the first byte picks the parser, the rest is the argument
// string. A successful parse must leave a record whose every text and
// operand can be read; any parse must leave the area freeable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cmdsyn.h"
#include "veyraks.h"

namespace {

// Reads every byte of a record text, so the address checks see a text that
// does not live in the area any more or is not terminated.
void touch(const char *text) {
    if (text != nullptr) (void)std::strlen(text);
}

void touch_operands(char **argv, int32_t argc) {
    if (argc < 0) std::abort();
    if (argc > 0 && argv == nullptr) std::abort();
    for (int32_t i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) std::abort();
        touch(argv[i]);
    }
}

void expect_prefix(int32_t code, stg_area_t area, int32_t want_code, stg_area_t want_area) {
    if (code != want_code || area != want_area) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned which = data[0] % 5;
    // The argument string is a C text: it ends at the first NUL.
    const std::string args(reinterpret_cast<const char *>(data) + 1, size - 1);
    const stg_area_t area = stg_create_area(4096);
    if (area == 0) return 0;
    int32_t result = 0;
    switch (which) {
        case 0: {
            deliver_args rec;
            std::memset(&rec, 0x5a, sizeof rec);
            result = cmdsyn_deliver(args.c_str(), area, &rec);
            if (result == 0) {
                expect_prefix(rec.code, rec.area, 4, area);
                touch(rec.stream), touch(rec.to), touch(rec.target);
                if (rec.query != 0 && rec.query != 9 && rec.query != 11) std::abort();
            }
            break;
        }
        case 1: {
            rebase_args rec;
            std::memset(&rec, 0x5a, sizeof rec);
            result = cmdsyn_rebase(args.c_str(), area, &rec);
            if (result == 0) {
                expect_prefix(rec.code, rec.area, 2, area);
                touch(rec.view), touch(rec.stream);
                if (rec.query != 0 && rec.query != 9 && rec.query != 11) std::abort();
            }
            break;
        }
        case 2: {
            update_args rec;
            std::memset(&rec, 0x5a, sizeof rec);
            result = cmdsyn_update(args.c_str(), area, &rec);
            if (result == 0) {
                expect_prefix(rec.code, rec.area, 5, area);
                touch_operands(rec.argv, rec.argc);
            }
            break;
        }
        case 3: {
            vtree_args rec;
            std::memset(&rec, 0x5a, sizeof rec);
            result = cmdsyn_vtree(args.c_str(), area, &rec);
            if (result == 0) {
                expect_prefix(rec.code, rec.area, 1, area);
                if (rec.argc < 1) std::abort();
                touch_operands(rec.argv, rec.argc);
            }
            break;
        }
        default: {
            history_args rec;
            std::memset(&rec, 0x5a, sizeof rec);
            int32_t kind = -7;
            result = cmdsyn_history(args.c_str(), area, &rec, &kind);
            if (result == 0) {
                expect_prefix(rec.code, rec.area, 5, area);
                if (kind < 0) std::abort();
                touch_operands(rec.argv, rec.argc);
                touch(rec.user), touch(rec.branch);
            }
            break;
        }
    }
    if (which != 4 && result != 0 && result != CMDSYN_SYNTAX_ERROR) std::abort();
    if (stg_free_area(area, 1) != 0) std::abort();
    return 0;
}
