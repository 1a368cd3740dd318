// Fuzzes extract_tagged and convert_decimal against plain restatements of
// their rules: any text with one of the protocol's tag pairs, or with tags
// taken from the input itself, and the decimal conversion of every field
// found. A difference from the rule is reported as a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gemx_protocol.h"

namespace {

const char *const kTagPairs[][2] = {
    {request_start_tag, request_end_tag}, {op_id_start_tag, op_id_end_tag},
    {args_start_tag, args_end_tag},       {cwd_start_tag, cwd_end_tag},
    {response_start_tag, response_end_tag},
    {request_end_tag, request_start_tag},  // the end tag before the start tag
};

// The field rule: first occurrences from the beginning; an end tag before
// the end of the start tag gives everything after the start tag.
bool expected_extract(const std::string &text, const std::string &start, const std::string &end, std::string &out) {
    out.clear();
    const std::size_t s = text.find(start);
    const std::size_t e = text.find(end);
    if (s == std::string::npos || e == std::string::npos) return true;
    const std::size_t from = s + start.size();
    out = e >= from ? text.substr(from, e - from) : text.substr(from);
    return false;
}

// The conversion rule: blanks, a sign, digits up to the first non-digit,
// within the signed 32-bit range.
int expected_decimal(const std::string &text, std::int32_t *value) {
    std::size_t i = 0;
    while (i < text.size() && std::string_view(" \t\n\v\f\r").find(text[i]) != std::string_view::npos) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t magnitude = 0;
    bool digit = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digit = true;
        if (magnitude <= 2147483648LL) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (!digit) return 1;
    const std::int64_t number = negative ? -magnitude : magnitude;
    if (number < INT32_MIN || number > INT32_MAX) return 1;
    *value = static_cast<std::int32_t>(number);
    return 0;
}

void check_decimal(const std::string &text) {
    std::int32_t got = 0x5a5a5a5a, want = 0x5a5a5a5a;
    const int result = convert_decimal(text, &got);
    if (result != expected_decimal(text, &want) || got != want) std::abort();
}

}  // namespace

// Input: a selector byte, then either the text (with a tag pair chosen by
// the selector) or "start\nend\ntext" (odd selector above the pairs).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const unsigned selector = data[0];
    std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string start, end, text;
    constexpr unsigned pairs = sizeof kTagPairs / sizeof kTagPairs[0];
    if (selector % 16 < pairs) {
        start = kTagPairs[selector % 16][0];
        end = kTagPairs[selector % 16][1];
        text = rest;
    } else {
        const std::size_t a = rest.find('\n');
        const std::size_t b = a == std::string::npos ? std::string::npos : rest.find('\n', a + 1);
        if (b == std::string::npos) {
            check_decimal(rest);
            return 0;
        }
        start = rest.substr(0, a);
        end = rest.substr(a + 1, b - a - 1);
        text = rest.substr(b + 1);
    }
    std::string want;
    const bool want_missing = expected_extract(text, start, end, want);
    std::string got = "not cleared";
    if (extract_tagged(text, start, end, got) != want_missing || got != want) std::abort();
    // The text variable itself as the output, as the service uses it.
    std::string same = text;
    if (extract_tagged(same, start, end, same) != want_missing || same != want) std::abort();
    check_decimal(got);
    check_decimal(text);
    return 0;
}
