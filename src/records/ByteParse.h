#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Number and field parsing on raw bytes, as the C runtime's atol/atof read
// record fields: leading blanks skipped, an optional sign, digits up to the
// first other character; no digits give 0.
namespace bytes {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool IsDigit(char c) {
    return unsigned(c - '0') < 10;
}

// 32-bit atol from p, leaving p after the digits: out-of-range values
// saturate, as the runtime does.
inline int32_t ParseLong(const char*& p, const char* end) {
    while (p < end && IsBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    while (p < end && *p == '0') ++p;
    // Past the leading zeros ten digits fit in 64 bits and eleven exceed
    // every 32-bit value, so the digits are only counted here (a longer run
    // wraps the unsigned value, which the count then overrides).
    uint64_t value = 0;
    int digits = 0;
    for (; p < end && IsDigit(*p); ++p, ++digits) value = value * 10 + unsigned(*p - '0');
    const uint64_t limit = negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1;
    if (digits > 10 || value > limit) value = limit;
    return negative ? int32_t(-int64_t(value)) : int32_t(value);
}

inline int32_t AtoL(std::string_view s) {
    const char* p = s.data();
    return ParseLong(p, p + s.size());
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
// following fields move up, as strtok does. A field is taken whole (Next), or
// started and read in place (Start, Take, Number) without a second pass.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view line)
        : m_p(line.data()), m_end(line.data() + line.size()) {}

    // Moves to the next field; false when there is none.
    bool Start() {
        while (m_p < m_end && *m_p == ',') ++m_p;
        return m_p < m_end;
    }
    bool Next(std::string_view& token) {
        if (!Start()) return false;
        const char* begin = m_p;
        SkipField();
        token = std::string_view(begin, size_t(m_p - begin));
        return true;
    }
    // Takes the first character of a started field.
    char Take() { return *m_p++; }
    // Whether the started field has nothing left.
    bool FieldDone() const { return m_p == m_end || *m_p == ','; }
    // The rest of the started field read as atol reads it; the field is taken.
    int32_t Number() {
        const int32_t value = ParseLong(m_p, m_end);
        SkipField();
        return value;
    }
    // What follows the last field taken, commas included.
    std::string_view Rest() const { return std::string_view(m_p, size_t(m_end - m_p)); }

private:
    void SkipField() {
        while (m_p < m_end && *m_p != ',') ++m_p;
    }

    const char* m_p;
    const char* m_end;
};

} // namespace bytes
