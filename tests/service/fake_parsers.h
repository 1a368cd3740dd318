// Stand-ins for the command-syntax parsers and for storage areas, linked
// into the adapter-frame tests in place of the real parsers and libveyraks's
// area calls. A parse answers what the test scripts (result, operands and
// vtree's flags) and records the argument string and area it was given;
// the area calls count what is made and freed and can refuse to make one.
// Meant for one test thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "veyraks.h"

namespace fake_parsers {

// What the next parses answer.
struct Script {
    Script() = default;
    Script(int result_, std::vector<const char *> operands_) : result(result_), operands(std::move(operands_)) {}

    int result = 0;
    // The operands handed out; an entry of null stands for a null operand.
    std::vector<const char *> operands;
    bool null_array = false;  // argv itself null (with argc as below)
    std::optional<int32_t> argc;  // when set, the count stored instead of operands.size()
    bool all = false, nco = false, nmerge = false;
};

// One parse as an adapter made it.
struct Parse {
    std::string parser;  // "deliver", "history", ...
    std::string args;
    stg_area_t area;
    bool has_kind;  // history: a selector-kind integer was passed
};

// Forgets everything; areas are made again; parses answer 0 without operands.
void reset();
void script(const Script &script);
std::vector<Parse> parses();

// When false, stg_create_area answers 0 (no area).
void set_areas_available(bool available);

// Area calls since the last reset.
struct AreaStats {
    std::vector<int> created_sizes;   // block size of each stg_create_area
    std::vector<stg_area_t> made;     // areas handed out
    std::vector<stg_area_t> freed;    // areas given to stg_free_area
    std::vector<int> free_flags;      // flags of each stg_free_area
};
AreaStats area_stats();

}  // namespace fake_parsers
