#pragma once
// Cuts the bytes the PC sends into commands. Most commands are one bracketed
// line; two are followed by raw data: user notes ("[" data "]") and the
// instruction manual (data with no terminator, ended by a quiet gap).

#include <string>
#include <vector>

namespace pxrsim {

struct Incoming {
    enum class Kind { Command, Stray, Notes, Manual } kind = Kind::Command;
    std::string raw; // the exact bytes, for the traffic log
    std::string
        body; // Command: between '[' and the last ']'; Stray: the line; Notes/Manual: the data
};

class CommandParser {
public:
    CommandParser(int manualGapMs, int notesGapMs)
        : manualGap_(manualGapMs), notesGap_(notesGapMs) {}

    // Bytes as they arrived at time `now` (ms).
    std::vector<Incoming> feed(const char* data, size_t size, double now);
    // Ends data transfers whose quiet gap has passed.
    std::vector<Incoming> poll(double now);
    // Milliseconds until poll() may have something to do (large when nothing waits).
    double msUntilDue(double now) const;
    void reset();

private:
    enum class Mode { Line, NotesOpen, NotesBody, Manual };
    void finishLine(std::vector<Incoming>& out);
    void finishData(Incoming::Kind kind, std::vector<Incoming>& out);

    int manualGap_, notesGap_;
    Mode mode_ = Mode::Line;
    std::string line_;
    std::string data_, dataRaw_;
    bool notesCloseSeen_ = false; // the last data byte was ']'
    double lastByte_ = 0;
    bool lfBelongsToLast_ = false;  // an LF right after a CR belongs to that command
    bool nulBelongsToLast_ = false; // so do NULs right after it (the start command sends one)
};

} // namespace pxrsim
