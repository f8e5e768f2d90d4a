#include "CommandParser.h"

#include <algorithm>
#include <cctype>

namespace pxrsim {

void CommandParser::reset() {
    mode_ = Mode::Line;
    line_.clear();
    data_.clear();
    dataRaw_.clear();
    notesCloseSeen_ = false;
    lfBelongsToLast_ = false;
    nulBelongsToLast_ = false;
}

void CommandParser::finishLine(std::vector<Incoming>& out) {
    Incoming in;
    in.raw = line_;
    std::string text = line_;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    size_t open = text.find('[');
    if (open == std::string::npos) {
        in.kind = Incoming::Kind::Stray;
        in.body = text;
    } else {
        size_t close = text.rfind(']');
        in.body = close != std::string::npos && close > open
                      ? text.substr(open + 1, close - open - 1)
                      : text.substr(open + 1);
    }
    line_.clear();
    if (in.kind == Incoming::Kind::Command) {
        if (in.body == "SETUSERNOTES") mode_ = Mode::NotesOpen;
        if (in.body == "UMSETINSTRUCT") mode_ = Mode::Manual;
        if (mode_ != Mode::Line) {
            data_.clear();
            dataRaw_.clear();
            notesCloseSeen_ = false;
        }
    }
    out.push_back(std::move(in));
}

void CommandParser::finishData(Incoming::Kind kind, std::vector<Incoming>& out) {
    Incoming in;
    in.kind = kind;
    in.raw = dataRaw_;
    in.body = data_;
    if (kind == Incoming::Kind::Notes && !in.body.empty() && in.body.back() == ']')
        in.body.pop_back();
    out.push_back(std::move(in));
    data_.clear();
    dataRaw_.clear();
    notesCloseSeen_ = false;
    mode_ = Mode::Line;
}

std::vector<Incoming> CommandParser::feed(const char* data, size_t size, double now) {
    std::vector<Incoming> out;
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        // Bytes that close the previous command.
        if (lfBelongsToLast_ && c == '\n') {
            lfBelongsToLast_ = false;
            if (!out.empty())
                out.back().raw += c;
            else
                out.push_back({Incoming::Kind::Stray, std::string(1, c), {}});
            continue;
        }
        lfBelongsToLast_ = false;
        if (nulBelongsToLast_ && c == '\0' && mode_ == Mode::Line) {
            if (!out.empty())
                out.back().raw += c;
            else
                out.push_back({Incoming::Kind::Stray, std::string(1, c), {}});
            continue;
        }
        nulBelongsToLast_ = false;

        switch (mode_) {
        case Mode::Line:
            if (c == '\0' && line_.empty()) {
                out.push_back({Incoming::Kind::Stray, std::string(1, c), {}});
                break;
            }
            if (c == '[' && !line_.empty()) {
                // A new command begins: what came before is noise.
                out.push_back({Incoming::Kind::Stray, line_, line_});
                line_.clear();
            }
            if ((c == '\n') && line_.empty()) {
                out.push_back({Incoming::Kind::Stray, std::string(1, c), {}});
                break;
            }
            line_ += c;
            if (c == '\r' || c == '\n') {
                finishLine(out);
                lfBelongsToLast_ = c == '\r';
                nulBelongsToLast_ = true;
            } else if (line_.size() > 4096) {
                out.push_back({Incoming::Kind::Stray, line_, line_});
                line_.clear();
            }
            break;
        case Mode::NotesOpen:
            dataRaw_ += c;
            if (c == '[') mode_ = Mode::NotesBody;
            break;
        case Mode::NotesBody:
            if (notesCloseSeen_ && c == '[') {
                // The notes ended at the ']' and a command follows.
                finishData(Incoming::Kind::Notes, out);
                --i;
                break;
            }
            data_ += c;
            dataRaw_ += c;
            notesCloseSeen_ = c == ']';
            break;
        case Mode::Manual:
            data_ += c;
            dataRaw_ += c;
            break;
        }
    }
    if (size > 0) lastByte_ = now;
    return out;
}

// The PC writes the manual's bytes separately from its command line, at least
// 50 ms later, so the quiet gap only ends a manual once its data has begun; an
// empty manual (only the command line went out) ends after a second.
static constexpr double kManualFirstByteMs = 1000;

// Bytes that are nothing but well-formed command lines.
static bool onlyCommandLines(const std::string& data) {
    if (data.empty() || data[0] != '[') return false;
    size_t i = 0;
    while (i < data.size()) {
        if (data[i] != '[') return false;
        size_t close = data.find("]\r\n", i);
        if (close == std::string::npos) return false;
        for (size_t k = i + 1; k < close; ++k) {
            const char c = data[k];
            if (!(std::isupper(static_cast<unsigned char>(c)) ||
                  std::isdigit(static_cast<unsigned char>(c)) || c == ','))
                return false;
        }
        i = close + 3;
        while (i < data.size() && data[i] == '\0') ++i;
    }
    return true;
}

std::vector<Incoming> CommandParser::poll(double now) {
    std::vector<Incoming> out;
    if (mode_ == Mode::Manual &&
        now - lastByte_ >=
            (data_.empty() ? std::max<double>(kManualFirstByteMs, manualGap_) : manualGap_)) {
        if (onlyCommandLines(data_)) {
            // No manual came, only the PC's next commands: take them as such.
            std::string commands = data_;
            data_.clear();
            dataRaw_.clear();
            finishData(Incoming::Kind::Manual, out);
            for (Incoming& in : feed(commands.data(), commands.size(), now))
                out.push_back(std::move(in));
        } else {
            finishData(Incoming::Kind::Manual, out);
        }
    } else if (mode_ == Mode::NotesBody && notesCloseSeen_ && now - lastByte_ >= notesGap_)
        finishData(Incoming::Kind::Notes, out);
    return out;
}

double CommandParser::msUntilDue(double now) const {
    if (mode_ == Mode::Manual)
        return std::max(0.0, lastByte_ +
                                 (data_.empty() ? std::max<double>(kManualFirstByteMs, manualGap_)
                                                : manualGap_) -
                                 now);
    if (mode_ == Mode::NotesBody && notesCloseSeen_)
        return std::max(0.0, lastByte_ + notesGap_ - now);
    return 1e9;
}

} // namespace pxrsim
