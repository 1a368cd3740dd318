// A recording stand-in for cmdsyn_argv_to_objsels: every call is kept with
// copies of its operands, and the result is the one the test chose.
#pragma once

#include <string>
#include <vector>

#include "veyraks.h"

namespace fake_objsels {

struct Call {
    int kind;
    bool has_vob;
    std::string vob;
    char **argv;
    int argc;
    std::vector<std::string> operands;  // argv[0..argc) as texts
    stg_area_t area;
};

// Forgets earlier calls; later calls return result.
void reset(int result = 0);

// The calls since the last reset, in order.
std::vector<Call> calls();

}  // namespace fake_objsels
