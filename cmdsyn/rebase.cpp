// The rebase syntax: -vie[w] and -str[eam] with arguments, -q[uery] or
// -qal[l] for a query mode; operands are not asked for.
#include "cmdsyn_internal.h"

namespace cmdsyn {

int32_t parse_rebase(const char *args, stg_area_t area, rebase_args *rec, const ParseSetup &setup) {
    if (!rec) return kSyntaxError;
    clp_hdl_t *hdl = begin_parse(args, area, rec, kRebaseCode, setup.table);
    if (!hdl) return kSyntaxError;
    return run_option_loop(hdl, [&](int32_t flag, bool *missing) {
        switch (flag) {
        case 29: take_argument(hdl, &rec->view, missing); return true;
        case 23: take_argument(hdl, &rec->stream, missing); return true;
        case 19: rec->query = 9; return true;
        case 20: rec->query = 11; return true;
        default: return false;
        }
    });
}

}  // namespace cmdsyn

extern "C" int32_t cmdsyn_rebase(const char *args, stg_area_t area, rebase_args *rec) {
    return cmdsyn::parse_rebase(args, area, rec, {cmdsyn::rebase_options, cmdsyn::area_allocator()});
}
