// The update syntax: no options, zero or more operands.
#include "cmdsyn_internal.h"

namespace cmdsyn {

int32_t parse_update(const char *args, stg_area_t area, update_args *rec, const ParseSetup &setup) {
    if (!rec) return kSyntaxError;
    clp_hdl_t *hdl = begin_parse(args, area, rec, kUpdateCode, setup.table);
    if (!hdl) return kSyntaxError;
    OperandArray operands = start_operands(&rec->argv, &rec->argc, area, setup.allocator);
    return collect_operands(hdl, &operands, Operands::zero_or_more);
}

}  // namespace cmdsyn

extern "C" int32_t cmdsyn_update(const char *args, stg_area_t area, update_args *rec) {
    return cmdsyn::parse_update(args, area, rec, {cmdsyn::update_options, cmdsyn::area_allocator()});
}
