// Checks history operands against the rule of their object selector kind.
#include <cstdio>
#include <string>
#include <string_view>

#include "veyracmdsyn.h"
#include "veyraks.h"

namespace {

enum class Rule { vob_pathname, type_name, hyperlink };

struct SelectorKind {
    int kind;
    Rule rule;
    const char *noun;  // what the operand names, for the message
};

constexpr SelectorKind kKinds[] = {
    {1, Rule::vob_pathname, "VOB pathname"},
    {10, Rule::hyperlink, "hyperlink name"},
    {12, Rule::type_name, "storage pool name"},
    {13, Rule::type_name, "element type name"},
    {14, Rule::type_name, "branch type name"},
    {15, Rule::type_name, "attribute type name"},
    {16, Rule::type_name, "hyperlink type name"},
    {17, Rule::type_name, "trigger type name"},
    {18, Rule::type_name, "report type name"},
    {20, Rule::type_name, "label type name"},
    {24, Rule::type_name, "VOB replica name"},
    {27, Rule::type_name, "activity type name"},
    {29, Rule::type_name, "state type name"},
};

const SelectorKind *find_kind(int kind) {
    for (const SelectorKind &k : kKinds) {
        if (k.kind == kind) return &k;
    }
    return nullptr;
}

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool is_name_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

// A non-empty pathname without control characters.
bool is_vob_pathname(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (is_control(c)) return false;
    }
    return true;
}

// Letters, digits, "_", "." and "-", not starting with "-" or ".".
bool is_type_name(std::string_view text) {
    if (text.empty() || text[0] == '-' || text[0] == '.') return false;
    for (unsigned char c : text) {
        if (!is_name_char(c)) return false;
    }
    return true;
}

bool is_number(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// text, or text "@" VOB pathname when it has an "@": head gets the part
// before the first "@"; false when the "@" is followed by no valid pathname.
bool split_vob_suffix(std::string_view text, std::string_view *head) {
    std::size_t at = text.find('@');
    *head = text.substr(0, at);
    return at == std::string_view::npos || is_vob_pathname(text.substr(at + 1));
}

bool is_valid(Rule rule, std::string_view text) {
    std::string_view head;
    switch (rule) {
        case Rule::vob_pathname:
            return is_vob_pathname(text);
        case Rule::type_name:
            return split_vob_suffix(text, &head) && is_type_name(head);
        case Rule::hyperlink: {
            // Its type name, "@", its number, then optionally "@" and a VOB.
            std::size_t at = text.find('@');
            if (at == std::string_view::npos || !is_type_name(text.substr(0, at))) return false;
            std::string_view number;
            return split_vob_suffix(text.substr(at + 1), &number) && is_number(number);
        }
    }
    return false;
}

// The operand as it can be shown: control characters as \xNN, so that an
// operand cannot send terminal controls along with the message.
std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (is_control(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void report_bad_operand(const SelectorKind &kind, std::string_view text) {
    std::string message = "Invalid ";
    message += kind.noun;
    message += ": \"" + printable(text) + "\"\n";
    imsg_print(6, message.c_str());
}

int convert(int kind, const char *vob, char **argv, int argc) {
    if (argc <= 0 || !argv) {
        imsg_print(6, "Internal error: no operands to convert into object selectors.\n");
        return CMDSYN_OBJSELS_BAD_CALL;
    }
    const SelectorKind *selector = find_kind(kind);
    if (!selector) {
        std::string message =
            "Internal error: unknown object selector kind " + std::to_string(kind) + ".\n";
        imsg_print(6, message.c_str());
        return CMDSYN_OBJSELS_BAD_CALL;
    }
    if (vob && !is_vob_pathname(vob)) {
        report_bad_operand(*find_kind(1), vob);
        return CMDSYN_OBJSELS_BAD_OPERAND;
    }
    for (int i = 0; i < argc; ++i) {
        if (!argv[i]) {
            imsg_print(6, "Internal error: an operand to convert into an object selector is missing.\n");
            return CMDSYN_OBJSELS_BAD_CALL;
        }
        if (!is_valid(selector->rule, argv[i])) {
            report_bad_operand(*selector, argv[i]);
            return CMDSYN_OBJSELS_BAD_OPERAND;
        }
    }
    return 0;
}

}  // namespace

extern "C" int cmdsyn_argv_to_objsels(int kind, const char *vob, char **argv, int argc,
                                      stg_area_t /*area*/) {
    try {
        return convert(kind, vob, argv, argc);
    } catch (...) {
        // No memory for a message text.
        return CMDSYN_OBJSELS_BAD_CALL;
    }
}
