#include "Text.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace pxrsim {

double nowMs() {
    static const Clock::time_point start = Clock::now();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string escapeBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 8);
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\0':
            out += "\\0";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            }
        }
    }
    return out;
}

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string unescapeBytes(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        char n = text[++i];
        switch (n) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '0':
            out += '\0';
            break;
        case 't':
            out += '\t';
            break;
        case 's':
            out += ' ';
            break;
        case 'x':
            if (i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
                out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        default:
            out += n;
        }
    }
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return std::string(text.substr(b, e - b));
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

bool parseInt(std::string_view text, long& out) {
    std::string s(text);
    if (s.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0') return false;
    out = v;
    return true;
}

bool parseDouble(std::string_view text, double& out) {
    std::string s(text);
    if (s.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != '\0') return false;
    out = v;
    return true;
}

std::string frameSafe(std::string text) {
    for (char& c : text) {
        if (c == '[')
            c = '(';
        else if (c == ']')
            c = ')';
        else if (c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

} // namespace pxrsim
