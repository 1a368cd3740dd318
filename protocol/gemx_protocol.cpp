// Tag extraction and decimal conversion shared by both ends of the pipe.
#include "gemx_protocol.h"

#include <cstddef>

bool extract_tagged(std::string text, std::string start_tag, std::string end_tag, std::string &out) {
    out.clear();
    const std::size_t s = text.find(start_tag);
    // The end tag is searched from the beginning as well, not from after the
    // start tag: the first end tag anywhere ends the field.
    const std::size_t e = text.find(end_tag);
    if (s == std::string::npos || e == std::string::npos) {
        return true;
    }
    const std::size_t b = s + start_tag.size();
    if (e >= b) {
        out = text.substr(b, e - b);
    } else {
        out = text.substr(b);
    }
    return false;
}

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int convert_decimal(const std::string &text, std::int32_t *value) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The magnitude is kept in 64 bits and capped just above the largest
    // one allowed, so any number of digits neither overflows nor wraps.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    bool any_digit = false;
    bool too_large = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        any_digit = true;
        if (!too_large) {
            magnitude = magnitude * 10 + (text[i] - '0');
            too_large = magnitude > limit;
        }
    }
    if (!any_digit || too_large) {
        return 1;
    }
    *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return 0;
}

std::string service_pipe_name(const std::string &base_name, const std::string &login_name) {
    return base_name + login_name;
}

std::string service_pipe_name(const std::string &login_name) {
    return service_pipe_name(pipe_base_name, login_name);
}
