// Fuzzes the option parser's word splitting and matching. The input is an
// option table, one spec per line ("(" and ")" open and close a group of
// mutually exclusive options), then an empty line, then the argument
// string; without an empty line the argument string is parsed against a
// fixed table like the parsers' own. Every handle is then walked to its
// end the way the parsers walk it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "veyraks.h"

namespace {

const clp_option_t kFixedTable[] = {
    {"-str[eam]", 1, 0},
    {"-to", 2, 0},
    {CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0},
    {"-q[uery]", 9, 0},
    {"-qal[l]", 11, 0},
    {CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0},
    {"-a[ll]", 3, 0},
    {"-nme[rge]", 4, 0},
    {nullptr, CLP_FLAG_END, 0},
};

// The walk of one handle: options, with an argument after every odd flag
// value, then the operands. Each successful call moves the cursor, so the
// walk ends; the bound only guards against a parser that stops moving it.
void walk(clp_hdl_t *hdl, std::size_t words) {
    char name[8192];
    std::size_t steps = 0;
    int32_t flag = 0;
    int status;
    while ((status = clp_get_next_flag_value(hdl, nullptr, &flag)) == 0) {
        if (++steps > words + 2) std::abort();
        if (clp_get_last_flag_name(hdl, 1, sizeof name, name) != 0) std::abort();
        if (clp_get_last_flag_name(hdl, 0, sizeof name, name) == 0 && name[0] != '-') std::abort();
        if (flag % 2 != 0) {
            char *arg = nullptr;
            const int got = clp_get_next_arg(hdl, &arg);
            if (got == 0) (void)std::strlen(arg);
            else if (got != CLP_NONE_LEFT && got != 1) std::abort();
        }
    }
    if (status != CLP_NONE_LEFT && status != 1) std::abort();
    char *arg = nullptr;
    while ((status = clp_get_next_arg(hdl, &arg)) == 0) {
        if (++steps > words + 2) std::abort();
        (void)std::strlen(arg);
    }
    if (status != CLP_NONE_LEFT && status != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> specs;
    std::vector<clp_option_t> table;
    std::string args = input;
    const std::size_t split = input.find("\n\n");
    if (split != std::string::npos && split < 4096) {
        args = input.substr(split + 2);
        std::size_t from = 0;
        while (from <= split) {
            std::size_t nl = input.find('\n', from);
            if (nl == std::string::npos || nl > split) nl = split;
            specs.push_back(input.substr(from, nl - from));
            from = nl + 1;
        }
        table.reserve(specs.size() + 1);
        int32_t flag = 0;
        for (const std::string &spec : specs) {
            if (spec == "(") table.push_back({CLP_START_MUTEX, CLP_FLAG_START_MUTEX, 0});
            else if (spec == ")") table.push_back({CLP_END_MUTEX, CLP_FLAG_END_MUTEX, 0});
            else table.push_back({spec.c_str(), flag++, 0});
        }
        table.push_back({nullptr, CLP_FLAG_END, 0});
    }
    const clp_option_t *options = table.empty() ? kFixedTable : table.data();
    const stg_area_t area = stg_create_area(1024);
    if (area == 0) return 0;
    clp_hdl_t *hdl = clp_create_hdl_using_string(args.c_str(), options, area);
    if (hdl != nullptr) {
        if (clp_switch_flags(hdl, options, area) == 0) walk(hdl, args.size());
    }
    if (stg_free_area(area, 1) != 0) std::abort();
    return 0;
}
