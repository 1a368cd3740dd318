// The vtree syntax: flags -a[ll] -nme[rge] -nco and one or more operands.
#include "cmdsyn_internal.h"

namespace cmdsyn {

int32_t parse_vtree(const char *args, stg_area_t area, vtree_args *rec, const ParseSetup &setup) {
    if (!rec) return kSyntaxError;
    clp_hdl_t *hdl = begin_parse(args, area, rec, kVtreeCode, setup.table);
    if (!hdl) return kSyntaxError;
    const int32_t options = run_option_loop(hdl, [&](int32_t flag, bool *) {
        switch (flag) {
        case 1: rec->all = 1; return true;
        case 6: rec->nco = 1; return true;
        case 15: rec->nmerge = 1; return true;
        default: return false;
        }
    });
    if (options != 0) return options;
    // Every operand is collected, although the vtree operation shows only
    // the first.
    OperandArray operands = start_operands(&rec->argv, &rec->argc, area, setup.allocator);
    return collect_operands(hdl, &operands, Operands::one_or_more);
}

}  // namespace cmdsyn

extern "C" int32_t cmdsyn_vtree(const char *args, stg_area_t area, vtree_args *rec) {
    return cmdsyn::parse_vtree(args, area, rec, {cmdsyn::vtree_options, cmdsyn::area_allocator()});
}
