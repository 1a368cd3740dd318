// The stand-in parsers and area calls: see fake_parsers.h.
#include "fake_parsers.h"

#include <cstring>

#include "cmdsyn.h"

namespace fake_parsers {

namespace {

struct State {
    Script script;
    std::vector<Parse> parses;
    bool areas = true;
    stg_area_t next_area = 100;
    AreaStats stats;
};

State &state() {
    static State s;
    return s;
}

// The operand array of the current script, as the record will point to it.
char **operand_array() {
    State &s = state();
    if (s.script.null_array) return nullptr;
    return const_cast<char **>(s.script.operands.data());
}

int32_t operand_count() {
    const Script &sc = state().script;
    return sc.argc ? *sc.argc : static_cast<int32_t>(sc.operands.size());
}

// Records the parse and clears the record as a real parser would.
template <class Record>
int32_t parse(const char *parser, const char *args, stg_area_t area, Record *rec, bool has_kind) {
    std::memset(static_cast<void *>(rec), 0, sizeof *rec);
    rec->area = area;
    state().parses.push_back({parser, args ? args : "<null>", area, has_kind});
    return state().script.result;
}

}  // namespace

void reset() { state() = State{}; }
void script(const Script &script) { state().script = script; }
std::vector<Parse> parses() { return state().parses; }
void set_areas_available(bool available) { state().areas = available; }
AreaStats area_stats() { return state().stats; }

}  // namespace fake_parsers

extern "C" {

stg_area_t stg_create_area(int32_t block_size) {
    fake_parsers::State &s = fake_parsers::state();
    s.stats.created_sizes.push_back(block_size);
    if (!s.areas) return 0;
    stg_area_t area = s.next_area++;
    s.stats.made.push_back(area);
    return area;
}

int stg_free_area(stg_area_t area, int flags) {
    fake_parsers::State &s = fake_parsers::state();
    s.stats.freed.push_back(area);
    s.stats.free_flags.push_back(flags);
    return 0;
}

int32_t cmdsyn_deliver(const char *args, stg_area_t area, deliver_args *rec) {
    return fake_parsers::parse("deliver", args, area, rec, false);
}

int32_t cmdsyn_rebase(const char *args, stg_area_t area, rebase_args *rec) {
    return fake_parsers::parse("rebase", args, area, rec, false);
}

int32_t cmdsyn_update(const char *args, stg_area_t area, update_args *rec) {
    int32_t result = fake_parsers::parse("update", args, area, rec, false);
    rec->argc = fake_parsers::operand_count();
    rec->argv = fake_parsers::operand_array();
    return result;
}

int32_t cmdsyn_vtree(const char *args, stg_area_t area, vtree_args *rec) {
    int32_t result = fake_parsers::parse("vtree", args, area, rec, false);
    const fake_parsers::Script &sc = fake_parsers::state().script;
    rec->argc = fake_parsers::operand_count();
    rec->argv = fake_parsers::operand_array();
    rec->all = sc.all;
    rec->nco = sc.nco;
    rec->nmerge = sc.nmerge;
    return result;
}

int32_t cmdsyn_history(const char *args, stg_area_t area, history_args *rec, int32_t *kind) {
    int32_t result = fake_parsers::parse("history", args, area, rec, kind != nullptr);
    rec->argc = fake_parsers::operand_count();
    rec->argv = fake_parsers::operand_array();
    if (kind) *kind = 0;
    return result;
}

}  // extern "C"
