// The deliver syntax: -str[eam] -to -tar[get] with arguments, -q[uery] or
// -qal[l] for a query mode; operands are not asked for.
#include "cmdsyn_internal.h"

namespace cmdsyn {

int32_t parse_deliver(const char *args, stg_area_t area, deliver_args *rec, const ParseSetup &setup) {
    if (!rec) return kSyntaxError;
    clp_hdl_t *hdl = begin_parse(args, area, rec, kDeliverCode, setup.table);
    if (!hdl) return kSyntaxError;
    return run_option_loop(hdl, [&](int32_t flag, bool *missing) {
        switch (flag) {
        case 23: take_argument(hdl, &rec->stream, missing); return true;
        case 26: take_argument(hdl, &rec->to, missing); return true;
        case 25: take_argument(hdl, &rec->target, missing); return true;
        case 19: rec->query = 9; return true;
        case 20: rec->query = 11; return true;
        default: return false;
        }
    });
}

}  // namespace cmdsyn

extern "C" int32_t cmdsyn_deliver(const char *args, stg_area_t area, deliver_args *rec) {
    return cmdsyn::parse_deliver(args, area, rec, {cmdsyn::deliver_options, cmdsyn::area_allocator()});
}
