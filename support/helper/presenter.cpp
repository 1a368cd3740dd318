// The six operations as the helper presents them.
#include "presenter.h"

#include <optional>
#include <string_view>
#include <vector>

#include "line_codec.h"

namespace gemx_helper {

namespace {

// The decimal text of a count of at least 1, without sign or leading zero.
std::optional<std::size_t> parse_count(const std::string &text) {
    if (text.empty() || text.size() > 9 || text[0] == '0') return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

// A decimal int, as the library writes vtree's flag word.
bool is_decimal_int(const std::string &text) {
    std::size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (i == text.size() || text.size() - i > 10) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// The pathnames of a well-formed operation (name and arguments), or
// nullopt when it is not one.
std::optional<std::vector<std::string>> paths_of(const std::vector<std::string> &fields) {
    const std::string &name = fields[0];
    std::size_t args = fields.size() - 1;
    if (name == "find_merge") {
        if (args != 0) return std::nullopt;
        return std::vector<std::string>{};
    }
    if (name == "deliver" || name == "rebase" || name == "history") {
        if (args != 1) return std::nullopt;
        return std::vector<std::string>{fields[1]};
    }
    if (name == "vtree") {
        if (args != 2 || !is_decimal_int(fields[2])) return std::nullopt;
        return std::vector<std::string>{fields[1]};
    }
    if (name == "update") {
        if (args < 2) return std::nullopt;
        std::optional<std::size_t> count = parse_count(fields[1]);
        if (!count || *count != args - 1) return std::nullopt;
        return std::vector<std::string>(fields.begin() + 2, fields.end());
    }
    return std::nullopt;
}

}  // namespace

int present(const std::string &request, const HelperServices &services) {
    std::optional<std::vector<std::string>> fields = gemxapis_line::parse_line(request);
    if (!fields) return kMalformed;
    std::optional<std::vector<std::string>> paths = paths_of(*fields);
    if (!paths) return kMalformed;

    // The journal line is the request in its canonical form, written before
    // the answer so that the journal is complete whenever an answer is out.
    std::vector<std::string> args(fields->begin() + 1, fields->end());
    if (!services.append_journal(gemxapis_line::build_line((*fields)[0], args) + "\n")) return kNotJournaled;

    for (const std::string &path : *paths)
        if (path.empty() || !services.path_exists(path)) return kMissingPath;
    return kDone;
}

}  // namespace gemx_helper
