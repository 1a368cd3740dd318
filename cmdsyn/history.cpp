// The history syntax: flags, two mutual-exclusion groups, type options that
// choose the selector kind of the operands, -vob standing in for the
// operands, and the conversion of typed operands into object selectors.
#include "cmdsyn_internal.h"
#include "veyracmdsyn.h"
#include "veyratbs.h"

namespace cmdsyn {

namespace {

// Selector kind for plain pathnames, and for the vob argument of -vob
// standing in for the operands.
constexpr int32_t kPlainKind = 0;
constexpr int32_t kVobKind = 1;

// The selector kind a type option chooses, or kPlainKind when flag is not
// a type option.
int32_t selector_kind_of(int32_t flag) {
    switch (flag) {
    case 10: return 10;  // -hli[nk]
    case 18: return 12;  // -poo[l]
    case 8: return 13;   // -elt[ype]
    case 5: return 14;   // -brt[ype]
    case 2: return 15;   // -att[ype]
    case 11: return 16;  // -hlt[ype]
    case 27: return 17;  // -trt[ype]
    case 22: return 18;  // -rptt[ype]
    case 12: return 20;  // -lbt[ype]
    case 31: return 24;  // -vre[plica]
    case 0: return 27;   // -act[ype]
    case 24: return 29;  // -stt[ype]
    default: return kPlainKind;
    }
}

// The flag word an option sets, or null when flag is not a plain flag.
int32_t *flag_word_of(history_args *rec, int32_t flag) {
    switch (flag) {
    case 1: return &rec->all;
    case 3: return &rec->avobs;
    case 6: return &rec->nco;
    case 7: return &rec->directory;
    case 9: return &rec->help;
    case 13: return &rec->local;
    case 14: return &rec->minor;
    case 17: return &rec->pname;
    case 21: return &rec->recurse;
    default: return nullptr;
    }
}

}  // namespace

int32_t parse_history(const char *args, stg_area_t area, history_args *rec, int32_t *kind_out,
                      const ParseSetup &setup) {
    int32_t unused_kind = 0;
    if (!kind_out) kind_out = &unused_kind;
    int32_t kind = kPlainKind;
    char *vob = nullptr;
    // Most returns hand the selector kind reached so far to the caller.
    auto finish = [&](int32_t result) {
        *kind_out = kind;
        return result;
    };

    if (!rec) return finish(kSyntaxError);
    clp_hdl_t *hdl = begin_parse(args, area, rec, kHistoryCode, setup.table);
    if (!hdl) return finish(kSyntaxError);

    const int32_t options = run_option_loop(hdl, [&](int32_t flag, bool *missing) {
        if (const int32_t chosen = selector_kind_of(flag); chosen != kPlainKind) {
            kind = chosen;
            return true;
        }
        if (int32_t *word = flag_word_of(rec, flag)) {
            *word = 1;
            return true;
        }
        switch (flag) {
        case 16: return true;  // -nop[references]: accepted, nothing recorded
        case 4: take_argument(hdl, &rec->branch, missing); return true;
        case 28: take_argument(hdl, &rec->user, missing); return true;
        case 30: take_argument(hdl, &vob, missing); return true;
        default: return false;
        }
    });
    if (options != 0) return finish(options);

    // -avo[bs] names every vob itself and admits no operand.
    if (rec->avobs) {
        char *surplus = nullptr;
        if (clp_get_next_arg(hdl, &surplus) == 0 && surplus) {
            const char *text = _tbs_cmsg_tbs_msg_table_adr(99, surplus);
            if (text) imsg_print(6, text);
            return finish(kSyntaxError);
        }
    }

    OperandArray operands = start_operands(&rec->argv, &rec->argc, area, setup.allocator);
    if (kind == kPlainKind) {
        if (collect_operands(hdl, &operands, Operands::zero_or_more) != 0) return finish(kSyntaxError);
        if (vob && rec->argc > 0) return finish(kSyntaxError);
        if (vob) kind = kVobKind;
    } else if (collect_operands(hdl, &operands, Operands::one_or_more) != 0) {
        return finish(kSyntaxError);
    }

    // -pna[me] works on pathnames only; this rejection leaves *kind_out alone.
    if (rec->pname && kind != kPlainKind) return kSyntaxError;
    if (kind == kPlainKind) return finish(0);
    if (kind == kVobKind && !append_operand(&operands, vob)) return finish(kSyntaxError);

    // A failing conversion passes its own code back and leaves *kind_out alone.
    const int converted = cmdsyn_argv_to_objsels(kind, vob, rec->argv, rec->argc, area);
    if (converted != 0) return converted;
    return finish(0);
}

}  // namespace cmdsyn

extern "C" int32_t cmdsyn_history(const char *args, stg_area_t area, history_args *rec, int32_t *kind) {
    return cmdsyn::parse_history(args, area, rec, kind, {cmdsyn::history_options, cmdsyn::area_allocator()});
}
