// Escaping and splitting of the helper's request and journal lines.
#include "line_codec.h"

namespace gemxapis_line {

std::string escape_field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape_field(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\t' || c == '\n' || c == '\r') return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == field.size()) return std::nullopt;
        switch (field[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::string build_line(std::string_view name, const std::vector<std::string> &args) {
    std::string line(name);
    for (const std::string &arg : args) {
        line += '\t';
        line += escape_field(arg);
    }
    return line;
}

std::optional<std::vector<std::string>> parse_line(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        std::string_view raw = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        std::optional<std::string> field = unescape_field(raw);
        if (!field) return std::nullopt;
        fields.push_back(std::move(*field));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

}  // namespace gemxapis_line
