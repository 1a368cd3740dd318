// The option tables of the five syntaxes. Flag values come from one code
// space: an option has the same value in every table that holds it.
#include "cmdsyn_internal.h"

namespace cmdsyn {

namespace {

constexpr clp_option_t kStartGroup{CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0};
constexpr clp_option_t kEndGroup{CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0};
constexpr clp_option_t kEnd{nullptr, CLP_FLAG_END, 0};

}  // namespace

const clp_option_t deliver_options[] = {
    {"-str[eam]", 23, 0},
    {"-to", 26, 0},
    {"-tar[get]", 25, 0},
    kStartGroup,
    {"-q[uery]", 19, 0},
    {"-qal[l]", 20, 0},
    kEndGroup,
    kEnd,
};

const clp_option_t rebase_options[] = {
    {"-vie[w]", 29, 0},
    {"-str[eam]", 23, 0},
    kStartGroup,
    {"-q[uery]", 19, 0},
    {"-qal[l]", 20, 0},
    kEndGroup,
    kEnd,
};

const clp_option_t update_options[] = {
    kEnd,
};

const clp_option_t vtree_options[] = {
    {"-a[ll]", 1, 0},
    {"-nme[rge]", 15, 0},
    {"-nco", 6, 0},
    kEnd,
};

const clp_option_t history_options[] = {
    kStartGroup,
    {"-r[ecurse]", 21, 0},
    {"-d[irectory]", 7, 0},
    {"-a[ll]", 1, 0},
    {"-nop[references]", 16, 0},
    {"-avo[bs]", 3, 0},
    {"-local", 13, 0},
    {"-elt[ype]", 8, 0},
    {"-att[ype]", 2, 0},
    {"-hlt[ype]", 11, 0},
    {"-lbt[ype]", 12, 0},
    {"-brt[ype]", 5, 0},
    {"-trt[ype]", 27, 0},
    {"-act[ype]", 0, 0},
    {"-stt[ype]", 24, 0},
    {"-rptt[ype]", 22, 0},
    {"-poo[l]", 18, 0},
    {"-hli[nk]", 10, 0},
    {"-vre[plica]", 31, 0},
    kEndGroup,
    {"-h[elp]", 9, 0},
    {"-min[or]", 14, 0},
    {"-nco", 6, 0},
    {"-use[r]", 28, 0},
    kStartGroup,
    {"-bra[nch]", 4, 0},
    {"-vob", 30, 0},
    kEndGroup,
    {"-pna[me]", 17, 0},
    kEnd,
};

}  // namespace cmdsyn
