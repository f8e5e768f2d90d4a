#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

// Number and field parsing on raw bytes, as the C runtime's atol/atof read
// record fields: leading blanks skipped, an optional sign, digits up to the
// first other character; no digits give 0.
namespace bytes {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// 32-bit atol: out-of-range values saturate, as the runtime does.
inline int32_t AtoL(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    int64_t value = 0;
    bool saturated = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + (s[i] - '0');
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1) {
            saturated = true;
            break;
        }
    }
    if (saturated)
        return negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return int32_t(value);
}

inline double AtoF(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i < s.size() && s[i] == '+') ++i;
    double value = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + s.size(), value);
    return r.ec == std::errc() ? value : 0.0;
}

// Fields separated by runs of commas: an empty field is skipped and the
// following fields move up, as strtok does.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view line) : m_rest(line) {}
    bool Next(std::string_view& token) {
        size_t i = 0;
        while (i < m_rest.size() && m_rest[i] == ',') ++i;
        if (i == m_rest.size()) return false;
        size_t j = i;
        while (j < m_rest.size() && m_rest[j] != ',') ++j;
        token = m_rest.substr(i, j - i);
        m_rest = m_rest.substr(j);
        return true;
    }
    // What follows the last token taken, commas included.
    std::string_view Rest() const { return m_rest; }

private:
    std::string_view m_rest;
};

} // namespace bytes
