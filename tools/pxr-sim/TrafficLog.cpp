#include "TrafficLog.h"

#include "Text.h"

namespace pxrsim {

TrafficLog::~TrafficLog() {
    if (own_ && file_) std::fclose(file_);
}

bool TrafficLog::open(const std::string& path) {
    if (path.empty()) return true;
    if (path == "-") {
        file_ = stderr;
        return true;
    }
    file_ = std::fopen(path.c_str(), "w");
    own_ = file_ != nullptr;
    return file_ != nullptr;
}

void TrafficLog::line(const char* tag, std::string_view text, bool escape) {
    if (!file_) return;
    std::string body = escape ? escapeBytes(text) : std::string(text);
    std::fprintf(file_, "%10.3f %s %s\n", nowMs() / 1000.0, tag, body.c_str());
}

void TrafficLog::warn(std::string_view text) {
    event(text);
    flush();
    if (file_ != stderr) std::fprintf(stderr, "pxr-sim: %.*s\n", int(text.size()), text.data());
}

} // namespace pxrsim
