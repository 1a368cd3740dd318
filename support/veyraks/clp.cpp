// Option parsing: splits an argument string into words, matches the option
// words against an option table and hands out options, their arguments and
// the operands in order. The handle and every text live in the caller's
// storage area; nothing here is global, so parses on different threads (each
// with its own area) never meet.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "veyraks.h"

namespace {

constexpr int kFailed = 1;
constexpr int kMaxTableEntries = 1024;
constexpr uint32_t kMagic = 0x68706c63u;

enum WordKind : int32_t { kOperand = 0, kOption = 1, kEndOfOptions = 2 };
enum Phase : int32_t { kOptionsPhase = 0, kOperandsPhase = 1, kBrokenPhase = 2 };

// One word of the argument string as the handle keeps it.
struct Word {
    const char *text;  // as typed, quotes removed
    const char *name;  // options: full name of the matched spec
    int32_t kind;
    int32_t flag;   // options: flag value of the matched spec
    int32_t entry;  // options: index of the matched table entry
    int32_t group;  // options: mutual-exclusion group of that entry, -1 for none
};

// One option entry of a table, taken apart.
struct Spec {
    std::string shortest;
    std::string full;
    int32_t flag;
    int32_t entry;
    int32_t group;
};

}  // namespace

struct clp_hdl {
    uint32_t magic;
    stg_area_t area;
    Word *words;
    int32_t count;
    int32_t cursor;
    int32_t phase;
    int32_t pending;  // an option was just read and its argument not yet asked for
    int32_t last;     // index of the option read last, -1 before the first
};

namespace {

void say(const std::string &text) { imsg_print(6, text.c_str()); }

bool valid(const clp_hdl *hdl) { return hdl && hdl->magic == kMagic; }

// A copy of text in the area, or null when the area gives no memory.
const char *area_copy(stg_area_t area, const std::string &text) {
    char *copy = static_cast<char *>(stg_alloc(area, text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// Splits args at blanks and tabs. A double quote opens a part that runs to
// the next double quote; the quotes are removed and the part joins the word
// around it. There is no other escape, so backslashes pass unchanged. False
// when a quote is left open.
bool split_words(const char *args, std::vector<std::string> &out) {
    std::string word;
    bool in_word = false;
    bool in_quote = false;
    for (const char *p = args; *p; ++p) {
        const char c = *p;
        if (in_quote) {
            if (c == '"') {
                in_quote = false;
            } else {
                word += c;
            }
        } else if (c == '"') {
            in_quote = true;
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word) out.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_quote) return false;
    if (in_word) out.push_back(std::move(word));
    return true;
}

// Takes one option spec apart into its shortest spelling and full name.
bool read_spec(const char *text, Spec &spec) {
    const std::string s(text);
    if (s.size() < 2 || s[0] != '-') return false;
    const auto open = s.find('[');
    if (open == std::string::npos) {
        if (s.find(']') != std::string::npos) return false;
        spec.shortest = s;
        spec.full = s;
        return true;
    }
    const auto close = s.find(']');
    if (open < 2 || close != s.size() - 1 || s.find('[', open + 1) != std::string::npos) return false;
    spec.shortest = s.substr(0, open);
    spec.full = spec.shortest + s.substr(open + 1, close - open - 1);
    return true;
}

std::string entry_text(const clp_option_t &entry) { return entry.spec ? entry.spec : "(null)"; }

// Reads the table up to its terminator into specs, with each option's group.
// False, after a message, when the table is malformed or has no terminator
// within kMaxTableEntries entries.
bool read_table(const clp_option_t *table, std::vector<Spec> &specs) {
    if (!table) {
        say("internal error: no option table\n");
        return false;
    }
    int32_t group = -1;
    int32_t groups = 0;
    for (int32_t i = 0; i < kMaxTableEntries; ++i) {
        const clp_option_t &entry = table[i];
        if (!entry.spec) {
            if (group < 0) return true;
            say("internal error: option table ends inside a mutual exclusion group\n");
            return false;
        }
        const bool start = std::strcmp(entry.spec, CLP_START_MUTEX) == 0;
        const bool end = std::strcmp(entry.spec, CLP_END_MUTEX) == 0;
        if (start != (entry.flag == CLP_FLAG_START_MUTEX) || end != (entry.flag == CLP_FLAG_END_MUTEX)) {
            say("internal error: option table entry " + std::to_string(i) + " (\"" + entry_text(entry) +
                "\") has a wrong flag value\n");
            return false;
        }
        if (start || end) {
            if (start == (group >= 0)) {
                say("internal error: option table entry " + std::to_string(i) + " (\"" + entry_text(entry) +
                    "\") does not fit its group\n");
                return false;
            }
            group = start ? groups++ : -1;
            continue;
        }
        Spec spec;
        if (entry.flag < 0 || !read_spec(entry.spec, spec)) {
            say("internal error: option table entry " + std::to_string(i) + " (\"" + entry_text(entry) +
                "\") is not a valid option spec\n");
            return false;
        }
        spec.flag = entry.flag;
        spec.entry = i;
        spec.group = group;
        specs.push_back(std::move(spec));
    }
    say("internal error: option table has no terminator entry\n");
    return false;
}

// The option entry that typed stands for, or null after a message when it stands
// for none or for two different ones. typed matches a spec when it is a
// prefix of the full name at least as long as the shortest spelling;
// matching is case-sensitive.
const Spec *match(const std::vector<Spec> &specs, const std::string &typed) {
    const Spec *found = nullptr;
    for (const Spec &spec : specs) {
        if (typed.size() < spec.shortest.size() || typed.size() > spec.full.size() ||
            spec.full.compare(0, typed.size(), typed) != 0) {
            continue;
        }
        if (!found) {
            found = &spec;
        } else if (found->full != spec.full || found->flag != spec.flag) {
            say("Ambiguous option \"" + typed + "\": it could be \"" + found->full + "\" or \"" + spec.full +
                "\"\n");
            return nullptr;
        }
    }
    if (!found) say("Unrecognized option \"" + typed + "\"\n");
    return found;
}

// Matches every option word of hdl against specs and records flag value,
// entry, group and full name. False after a message.
bool apply_specs(clp_hdl *hdl, const std::vector<Spec> &specs) {
    for (int32_t i = 0; i < hdl->count; ++i) {
        Word &word = hdl->words[i];
        if (word.kind != kOption) continue;
        const Spec *spec = match(specs, word.text);
        if (!spec) return false;
        if (!word.name || spec->full != word.name) {
            word.name = area_copy(hdl->area, spec->full);
            if (!word.name) {
                say("internal error: the storage area gives no memory for option parsing\n");
                return false;
            }
        }
        word.flag = spec->flag;
        word.entry = spec->entry;
        word.group = spec->group;
    }
    return true;
}

// False, after a message naming both, when two different options of one
// mutual-exclusion group are present. The same option twice is allowed.
bool check_groups(const clp_hdl *hdl) {
    for (int32_t i = 0; i < hdl->count; ++i) {
        const Word &first = hdl->words[i];
        if (first.kind != kOption || first.group < 0) continue;
        for (int32_t j = i + 1; j < hdl->count; ++j) {
            const Word &other = hdl->words[j];
            if (other.kind == kOption && other.group == first.group && other.entry != first.entry) {
                say(std::string("Options \"") + first.name + "\" and \"" + other.name +
                    "\" cannot be used together\n");
                return false;
            }
        }
    }
    return true;
}

// Builds the handle in the area from the words; null after a message.
clp_hdl *build_handle(const std::vector<std::string> &texts, stg_area_t area) {
    auto *hdl = static_cast<clp_hdl *>(stg_alloc(area, sizeof(clp_hdl)));
    Word *words = nullptr;
    if (hdl && !texts.empty()) words = static_cast<Word *>(stg_alloc(area, texts.size() * sizeof(Word)));
    if (!hdl || (!texts.empty() && !words)) {
        say("internal error: the storage area gives no memory for option parsing\n");
        return nullptr;
    }
    *hdl = clp_hdl{kMagic, area, words, static_cast<int32_t>(texts.size()), 0, kOptionsPhase, 0, -1};
    bool options_over = false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string &text = texts[i];
        Word &word = words[i];
        word = Word{area_copy(area, text), nullptr, kOperand, -1, -1, -1};
        if (!word.text) {
            say("internal error: the storage area gives no memory for option parsing\n");
            return nullptr;
        }
        if (options_over) continue;
        if (text == "--") {
            word.kind = kEndOfOptions;
            options_over = true;
        } else if (text.size() > 1 && text[0] == '-') {
            word.kind = kOption;
        }
    }
    return hdl;
}

// Ends the options at the cursor: steps over a "--" standing there and
// turns to the operands. Fails, after a message, when an option word still
// follows, since options must come before the operands.
int end_options(clp_hdl *hdl) {
    if (hdl->cursor < hdl->count && hdl->words[hdl->cursor].kind == kEndOfOptions) {
        ++hdl->cursor;
    } else {
        for (int32_t i = hdl->cursor; i < hdl->count; ++i) {
            if (hdl->words[i].kind == kOption) {
                say(std::string("Option \"") + hdl->words[i].text + "\" must come before the operands\n");
                hdl->phase = kBrokenPhase;
                return kFailed;
            }
        }
    }
    hdl->phase = kOperandsPhase;
    hdl->pending = 0;
    return 0;
}

// Hands out the next operand, stepping over the "--" that ended the options
// wherever it stands.
int next_operand(clp_hdl *hdl, char **arg) {
    while (hdl->cursor < hdl->count && hdl->words[hdl->cursor].kind == kEndOfOptions) ++hdl->cursor;
    if (hdl->cursor >= hdl->count) return CLP_NONE_LEFT;
    *arg = const_cast<char *>(hdl->words[hdl->cursor++].text);
    return 0;
}

}  // namespace

extern "C" {

clp_hdl_t *clp_create_hdl_using_string(const char *args, const clp_option_t *table, stg_area_t area) {
    try {
        if (!args) {
            say("internal error: no argument string\n");
            return nullptr;
        }
        std::vector<Spec> specs;
        if (!read_table(table, specs)) return nullptr;
        std::vector<std::string> texts;
        if (!split_words(args, texts)) {
            say("Unbalanced quote (\") in the arguments\n");
            return nullptr;
        }
        if (texts.size() > static_cast<std::size_t>(INT32_MAX / 2) || texts.size() > SIZE_MAX / sizeof(Word)) {
            say("internal error: too many words in the arguments\n");
            return nullptr;
        }
        clp_hdl *hdl = build_handle(texts, area);
        if (!hdl || !apply_specs(hdl, specs)) return nullptr;
        return hdl;
    } catch (...) {
        say("internal error: out of memory while parsing options\n");
        return nullptr;
    }
}

int clp_switch_flags(clp_hdl_t *hdl, const clp_option_t *table, stg_area_t area) {
    try {
        if (!valid(hdl)) return kFailed;
        if (hdl->area != area) {
            say("internal error: option parsing handle does not belong to this storage area\n");
            return kFailed;
        }
        std::vector<Spec> specs;
        if (!read_table(table, specs) || !apply_specs(hdl, specs) || !check_groups(hdl)) return kFailed;
        return 0;
    } catch (...) {
        say("internal error: out of memory while parsing options\n");
        return kFailed;
    }
}

int clp_get_next_flag_value(clp_hdl_t *hdl, void * /*reserved*/, int32_t *value) {
    if (!valid(hdl) || !value) return kFailed;
    if (hdl->phase == kBrokenPhase) return kFailed;
    if (hdl->phase == kOperandsPhase) return CLP_NONE_LEFT;
    hdl->pending = 0;
    if (hdl->cursor < hdl->count && hdl->words[hdl->cursor].kind == kOption) {
        hdl->last = hdl->cursor;
        hdl->pending = 1;
        *value = hdl->words[hdl->cursor++].flag;
        return 0;
    }
    return end_options(hdl) == 0 ? CLP_NONE_LEFT : kFailed;
}

int clp_get_next_arg(clp_hdl_t *hdl, char **arg) {
    if (!valid(hdl) || !arg) return kFailed;
    if (hdl->phase == kBrokenPhase) return kFailed;
    if (hdl->phase == kOptionsPhase) {
        if (hdl->pending) {
            // The argument of the option just read: the next word, unless
            // that is itself an option, the "--" or nothing at all.
            hdl->pending = 0;
            if (hdl->cursor >= hdl->count || hdl->words[hdl->cursor].kind != kOperand) return CLP_NONE_LEFT;
            *arg = const_cast<char *>(hdl->words[hdl->cursor++].text);
            return 0;
        }
        if (end_options(hdl) != 0) return kFailed;
    }
    return next_operand(hdl, arg);
}

int clp_get_last_flag_name(clp_hdl_t *hdl, int which, int size, char *buf) {
    if (!buf || size <= 0) return kFailed;
    buf[0] = '\0';
    if (!valid(hdl) || hdl->last < 0 || (which != 0 && which != 1)) return kFailed;
    const Word &word = hdl->words[hdl->last];
    const char *name = which == 1 ? word.name : word.text;
    const std::size_t len = std::strlen(name);
    if (len >= static_cast<std::size_t>(size)) return kFailed;
    std::memcpy(buf, name, len + 1);
    return 0;
}

}  // extern "C"
