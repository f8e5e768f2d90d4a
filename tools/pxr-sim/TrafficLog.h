#pragma once
// The traffic log: every byte the PC sent (RX), every frame the analyzer sent
// (TX) and what the analyzer did (EV), one line each, flushed after every pass
// of the main loop so that tests can read it while the simulator runs.

#include <cstdio>
#include <string>
#include <string_view>

namespace pxrsim {

class TrafficLog {
public:
    ~TrafficLog();
    // "-" writes to stderr; an empty path logs nothing. False if the file cannot be opened.
    bool open(const std::string& path);
    void rx(std::string_view bytes) { line("RX", bytes, true); }
    void tx(std::string_view bytes) { line("TX", bytes, true); }
    void event(std::string_view text) { line("EV", text, false); }
    void flush() {
        if (file_) std::fflush(file_);
    }
    // Diagnostics that also go to stderr when the log is a file.
    void warn(std::string_view text);

private:
    void line(const char* tag, std::string_view text, bool escape);
    FILE* file_ = nullptr;
    bool own_ = false;
};

} // namespace pxrsim
