#pragma once
// Small text helpers shared by the simulator's parts.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace pxrsim {

using Clock = std::chrono::steady_clock;

// Milliseconds since the simulator started (monotonic).
double nowMs();

// Bytes as one readable line: printable ASCII as is, "\\" doubled, CR LF NUL as
// \r \n \0 and everything else as \xHH. The traffic log uses this form.
std::string escapeBytes(std::string_view bytes);

// The reverse of escapeBytes, also used for the script's "send" action.
std::string unescapeBytes(std::string_view text);

std::vector<std::string> split(std::string_view text, char separator);
std::string trim(std::string_view text);
std::string upper(std::string_view text);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Strict number parsing; false when the text is not entirely a number.
bool parseInt(std::string_view text, long& out);
bool parseDouble(std::string_view text, double& out);

// Brackets inside a line would cut the PC's frame ('[' starts a new frame) or
// its field (']' ends it), so text sent inside a line uses parentheses, and
// line ends become blanks.
std::string frameSafe(std::string text);

} // namespace pxrsim
