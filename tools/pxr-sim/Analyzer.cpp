#include "Analyzer.h"

#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace pxrsim {

// The instruction manual travels XOR-ed with this key, byte by byte.
static const char kManualKey[] = "QKTZeoimdrcfhjgwxnyb pqsUvkaltwhyzjc";

Analyzer::Analyzer(Options& options, TrafficLog& log)
    : options_(options), log_(log), parser_(options.manualGapMs, options.notesGapMs),
      rng_(options.seed), records_(options), channels_(4) {
    ChannelModel::Events events;
    events.note = [this](int ch, const std::string& what) {
        log_.event(format("ch%d ", ch) + what);
    };
    events.runStarted = [this](int ch) { emit("RUN", ch); };
    events.testEnded = [this](int ch) { emit("ENDED", ch); };
    events.testFinished = [this](int ch, RecordHeader h, std::vector<Sample> s) {
        finished(ch, std::move(h), std::move(s));
    };
    for (int c = 0; c < 4; ++c)
        if (options_.channels[static_cast<size_t>(c)])
            channels_[static_cast<size_t>(c)] =
                std::make_unique<ChannelModel>(c + 1, options_, rng_, events);
    for (int c = 0; c < 4; ++c) {
        if (channels_[static_cast<size_t>(c)]) {
            currentChannel_ = c + 1;
            break;
        }
    }
    for (const std::string& file : options_.recordFiles) {
        const std::string error = records_.addFile(file);
        if (!error.empty()) log_.warn(error);
    }
    records_.addPresets(options_.presetRecords, rng_);
    templates_.addPresets(options_.presetTemplates);
    for (const std::string& p : options_.dropAll) {
        // WORD or WORD:N
        size_t colon = p.find(':');
        long n = -1;
        if (colon != std::string::npos && parseInt(p.substr(colon + 1), n) && n > 0)
            drops_[p.substr(0, colon)] = static_cast<int>(n);
        else
            drops_[p.substr(0, colon)] = -1;
    }
    unplugAfterLines_ = options_.unplugAfterLines;
    stallAfterLines_ = options_.stallAfterLines;
    if (options_.silent) silentUntil_ = 1e300;
    if (!options_.notesFile.empty()) {
        std::ifstream f(options_.notesFile, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        notes_ = ss.str();
    } else {
        notes_ = "Simulated analyzer notes\nCheck the tubing before each test\n";
    }
}

std::string Analyzer::plugIn(const std::string& link) {
    if (!link.empty()) options_.link = link;
    std::string error = pty_.open(options_.link);
    if (error.empty()) {
        parser_.reset();
        log_.event("plugged in: " + options_.link + " -> " + pty_.slaveName());
    }
    return error;
}

void Analyzer::unplug() {
    if (!pty_.isOpen()) return;
    pty_.close();
    // Frames logged as sent that never left: a count of what the PC got
    // must be able to tell them apart.
    for (const Out& o : out_)
        if (!o.bytes.empty()) log_.event("unsent, unplugged: " + escapeBytes(o.bytes));
    out_.clear();
    parser_.reset();
    log_.event("unplugged");
}

void Analyzer::restart() {
    log_.event("restart: the stored records stay, the tests are gone");
    for (auto& ch : channels_)
        if (ch) ch->forget();
}

void Analyzer::unplugAfterOutput() {
    if (!pty_.isOpen()) return;
    // A hang-up discards what the PC has not read yet, so give it a moment to
    // take the last bytes first.
    const double lastOut = out_.empty() ? nowMs() : std::max(nowMs(), out_.back().due);
    out_.push_back({{}, lastOut + 100, true});
}

ChannelModel* Analyzer::channel(int number) {
    if (number < 1 || number > 4) return nullptr;
    return channels_[static_cast<size_t>(number - 1)].get();
}

void Analyzer::emit(const std::string& event, int channel) {
    if (onEvent) onEvent(event, channel);
}

bool Analyzer::silent() const {
    return silentUntil_ > nowMs();
}

void Analyzer::setBattery(char state) {
    options_.battery = state;
    log_.event(format("battery %c", state));
    if (state == 'S') {
        // The analyzer has shut down: its tests stop.
        for (auto& ch : channels_)
            if (ch) ch->analyzerEnd("the battery is empty, the analyzer shuts down");
    }
}

void Analyzer::dropReplies(const std::string& prefix, int count) {
    if (count == 0)
        drops_.erase(prefix);
    else
        drops_[prefix] = count;
}

void Analyzer::sendGarbage(int bytes) {
    // Noise that can never be taken for a frame the PC acts on: no '[', no line
    // end inside, no NUL, and no character that begins a measurement or
    // record line. It ends with CR LF, so it closes as a frame of its own.
    static const std::string pool = "!\"#$%&'()*+-./056789:;<=>?@ABCEFGIJKLMNOPQRSTUVWXYZ"
                                    "\\^_`abcdefghijklmnopqrstuvwxyz{|}~\x80\xA5\xC3\xFE\xFF";
    if (bytes <= 0) return;
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    std::string noise;
    for (int i = 0; i < bytes; ++i) noise += pool[pick(rng_)];
    noise += "\r\n";
    if (silent() || !pty_.isOpen()) return;
    log_.event(format("garbage %d bytes", bytes));
    log_.tx(noise);
    queue(noise);
}

void Analyzer::sendRaw(const std::string& bytes) {
    if (silent() || !pty_.isOpen()) return;
    log_.tx(bytes);
    queue(bytes);
}

void Analyzer::reply(const std::string& frame) {
    if (!pty_.isOpen()) return;
    for (auto it = drops_.begin(); it != drops_.end(); ++it) {
        if (frame.compare(0, it->first.size() + 1, "[" + it->first) == 0) {
            log_.event("dropped reply: " + escapeBytes(frame));
            if (it->second > 0 && --it->second == 0) drops_.erase(it);
            return;
        }
    }
    if (silent()) {
        log_.event("silent, not sent: " + escapeBytes(frame));
        return;
    }
    if (options_.garbage > 0) sendGarbage(options_.garbage);
    log_.tx(frame);
    queue(frame);
}

void Analyzer::queue(const std::string& bytes) {
    const double now = nowMs();
    double due = out_.empty() ? now : std::max(now, out_.back().due);
    if (!options_.split || bytes.size() < 2) {
        out_.push_back({bytes, due, false});
        return;
    }
    // A split frame: two to four pieces a few milliseconds apart.
    std::uniform_int_distribution<int> pieces(2, 4);
    std::uniform_int_distribution<int> gap(3, 15);
    int n = std::min<int>(pieces(rng_), static_cast<int>(bytes.size()));
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
        size_t len =
            i == n - 1 ? bytes.size() - at : (bytes.size() - at) / static_cast<size_t>(n - i);
        out_.push_back({bytes.substr(at, len), due, false});
        at += len;
        due += gap(rng_);
    }
}

void Analyzer::flush() {
    const double now = nowMs();
    while (!out_.empty() && out_.front().due <= now) {
        if (out_.front().bytes.empty() && !out_.front().unplug) {
            out_.pop_front(); // the end of a pause
            continue;
        }
        if (out_.front().unplug) {
            out_.pop_front();
            unplug();
            emit("UNPLUG");
            return;
        }
        if (!pty_.isOpen()) {
            out_.clear();
            return;
        }
        // Everything due goes out in one write.
        std::string chunk;
        for (const Out& o : out_) {
            if (o.unplug || o.due > now || o.bytes.empty() || chunk.size() >= 65536) break;
            chunk += o.bytes;
        }
        ssize_t n = ::write(pty_.fd(), chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                // Nobody reads the port; keep a bounded backlog.
                size_t total = 0;
                for (const Out& x : out_) total += x.bytes.size();
                if (total > (1u << 20)) {
                    log_.event("output backlog over 1 MB dropped: no reader on the port");
                    out_.clear();
                }
                return;
            }
            log_.event(std::string("write failed: ") + strerror(errno));
            out_.clear();
            return;
        }
        size_t written = static_cast<size_t>(n);
        while (written > 0 && !out_.empty()) {
            Out& o = out_.front();
            if (written >= o.bytes.size()) {
                written -= o.bytes.size();
                out_.pop_front();
            } else {
                o.bytes.erase(0, written);
                written = 0;
            }
        }
        if (static_cast<size_t>(n) < chunk.size()) return; // the reader is slow
    }
}

double Analyzer::msUntilDue() const {
    const double now = nowMs();
    double wait = 1e9;
    if (!out_.empty()) wait = std::max(0.0, out_.front().due - now);
    wait = std::min(wait, parser_.msUntilDue(now));
    // Samples are produced in batches at most every 10 ms, which keeps a highly
    // accelerated test cheap; a sample is at most that late.
    for (const auto& ch : channels_)
        if (ch) wait = std::min(wait, std::max(ch->msUntilDue(now), 10.0 - (now - lastTick_)));
    return wait;
}

void Analyzer::step(int maxWaitMs) {
    double wait = std::min<double>(maxWaitMs, msUntilDue());
    // Output waiting for a slow reader is retried every few milliseconds.
    if (!out_.empty()) wait = std::min(wait, 5.0);
    int timeout = static_cast<int>(std::ceil(std::max(0.0, wait)));
    if (pty_.isOpen()) {
        pollfd p{pty_.fd(), POLLIN, 0};
        int r = ::poll(&p, 1, timeout);
        if (r > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            ssize_t n = ::read(pty_.fd(), buf, sizeof buf);
            if (n > 0) {
                for (const Incoming& in : parser_.feed(buf, static_cast<size_t>(n), nowMs()))
                    handle(in);
            }
        }
    } else if (timeout > 0) {
        ::usleep(static_cast<useconds_t>(timeout) * 1000);
    }
    for (const Incoming& in : parser_.poll(nowMs())) handle(in);

    std::vector<std::string> lines;
    const double now = nowMs();
    lastTick_ = now;
    for (auto& ch : channels_) {
        if (!ch) continue;
        lines.clear();
        long before = ch->samplesSent();
        ch->tick(now, lines);
        for (const std::string& l : lines) reply(l);
        for (long i = before; i < ch->samplesSent(); ++i)
            if (onSample) onSample(ch->channel());
    }
    flush();
    log_.flush();
}

void Analyzer::handle(const Incoming& in) {
    log_.rx(in.raw);
    if (silent() && in.kind == Incoming::Kind::Command) {
        // A silent analyzer hears nothing at all.
        log_.event("silent, ignored");
        return;
    }
    switch (in.kind) {
    case Incoming::Kind::Stray:
        if (!trim(in.body).empty()) log_.event("not a command, ignored");
        return;
    case Incoming::Kind::Command:
        handleCommand(in.body);
        return;
    case Incoming::Kind::Notes: {
        notes_ = in.body;
        log_.event(format("user notes received, %zu bytes", notes_.size()));
        if (!options_.notesOut.empty()) {
            std::ofstream f(options_.notesOut, std::ios::binary | std::ios::trunc);
            f << notes_;
        }
        reply("[OK]\r\n");
        emit("NOTES");
        return;
    }
    case Incoming::Kind::Manual: {
        manual_.clear();
        for (size_t i = 0; i < in.body.size(); ++i)
            manual_ += static_cast<char>(in.body[i] ^ kManualKey[i % 36]);
        log_.event(format("instruction manual received, %zu bytes", manual_.size()));
        if (!options_.manualOut.empty()) {
            std::ofstream f(options_.manualOut, std::ios::binary | std::ios::trunc);
            f << manual_;
        }
        reply("[OK]\r\n");
        emit("MANUAL");
        return;
    }
    }
}

std::string Analyzer::statusFrame() const {
    std::string s(12, ' ');
    for (int c = 0; c < 4; ++c) {
        const auto& ch = channels_[static_cast<size_t>(c)];
        std::string st = ch ? ch->status() : "   ";
        for (int k = 0; k < 3; ++k) s[static_cast<size_t>(4 * k + c)] = st[static_cast<size_t>(k)];
    }
    return "[STAT," + s + "]\r\n";
}

static int batteryPercent(char state) {
    return state == 'H' ? 85 : state == 'L' ? 15 : 0;
}

void Analyzer::handleCommand(const std::string& body) {
    const std::vector<std::string> f = split(body, ',');
    const std::string keyword = f[0];
    long arg = -1;
    if (f.size() > 1) parseInt(f[1], arg);

    if (keyword == "POLL") {
        if (options_.busy) {
            reply("[BUSY]\r\n");
        } else {
            std::string r = "[POLL";
            for (int c = 0; c < 4; ++c) r += channels_[static_cast<size_t>(c)] ? ",1" : ",0";
            reply(r + "]\r\n");
        }
    } else if (keyword == "LOG") {
        reply("[LOG]\r\n");
    } else if (keyword == "STATUS") {
        reply(statusFrame());
    } else if (keyword == "GETBATSTATUS") {
        reply(format("[BATSTATUS,%c]\r\n", options_.battery));
    } else if (keyword == "END") {
        ChannelModel* ch = channel(static_cast<int>(arg));
        if (ch) {
            ch->end();
            currentChannel_ = ch->channel();
        } else {
            log_.event("end command for a channel that is not present");
        }
        reply("[OK]\r\n");
    } else if (keyword == "RECS") {
        reply(format("[RECS,%03d]\r\n", std::min(records_.count(), 999)));
    } else if (keyword == "GETREC") {
        const Record* r = records_.get(static_cast<int>(arg));
        if (!r) log_.event(format("record %ld does not exist", arg));
        int sent = 0;
        if (r) {
            for (const auto& section : r->sections) {
                for (const std::string& line : section) {
                    if (unplugAfterLines_ >= 0 && sent >= unplugAfterLines_) {
                        log_.event(format("unplugging after %d record lines", sent));
                        unplugAfterOutput();
                        unplugAfterLines_ = -1;
                        emit("GETREC");
                        return;
                    }
                    if (stallAfterLines_ >= 0 && sent >= stallAfterLines_) {
                        stallAfterLines_ = -1;
                        if (stallPauseMs_ >= 0) {
                            log_.event(format("paused after %d record lines for %.0f ms", sent,
                                              stallPauseMs_));
                            // Nothing more goes out until the pause is over.
                            const double now = nowMs();
                            const double last = out_.empty() ? now : std::max(now, out_.back().due);
                            out_.push_back({std::string(), last + stallPauseMs_, false});
                            stallPauseMs_ = -1;
                        } else {
                            log_.event(format("stalled after %d record lines", sent));
                            emit("GETREC");
                            return;
                        }
                    }
                    reply(line + "\r\n");
                    ++sent;
                }
            }
        }
        reply("[END]\r\n");
    } else if (keyword == "DELREC") {
        if (records_.remove(static_cast<int>(arg)))
            log_.event(format("record %ld deleted, %d left", arg, records_.count()));
        else
            log_.event(format("record %ld does not exist, nothing deleted", arg));
        reply("[ERASED]\r\n");
    } else if (keyword == "GETSN") {
        if (arg == 0) {
            reply("[SN0," + options_.serial + "," + options_.firmware + ",CAL: 2026-01-15]\r\n");
        } else if (arg >= 1 && arg <= 4) {
            if (channel(static_cast<int>(arg)))
                reply(format("[SN%ld,", arg) + records_.transducerSerial(static_cast<int>(arg)) +
                      "," + options_.firmware + "]\r\n");
            else
                reply(format("[SN%ld,,]\r\n", arg));
        }
    } else if (keyword == "GETPARAMS") {
        reply("[P1," + options_.manufacturer + "]\r\n");
        reply("[P2," + options_.model + "]\r\n");
        reply("[P3," + options_.modelName + "]\r\n");
        reply(format("[P4,%c,%d%%,ENG,12,V,N]\r\n", options_.pressureUnit,
                     batteryPercent(options_.battery)));
        reply("[P5," + options_.name + "]\r\n");
    } else if (keyword == "SETTMPLT") {
        std::string error;
        auto t = templates_.receiveLine(body, error);
        if (!error.empty()) log_.event("template line not used: " + error);
        reply("[OK]\r\n");
        if (t) {
            log_.event(format("template \"%s\" stored, %d steps, %d templates", t->name.c_str(),
                              t->stepCount, templates_.count()));
            emit("TEMPLATE");
        }
    } else if (keyword == "GETTMPLTCOUNT") {
        reply(format("[TMPLTCOUNT,%d]\r\n", templates_.count()));
    } else if (keyword == "GETTMPLT") {
        const Template* t = templates_.get(static_cast<int>(arg));
        if (!t) log_.event(format("template %ld does not exist", arg));
        for (const std::string& line : TemplateStore::replyLines(t)) reply(line);
    } else if (keyword == "SETUSERNOTES" || keyword == "UMSETINSTRUCT") {
        // Their data follows; the parser delivers it.
    } else if (keyword == "GETUSERNOTES") {
        std::string line;
        std::istringstream in(notes_);
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            reply("[UN," + frameSafe(line) + "]\r\n");
        }
        reply("[UNEND]\r\n");
    } else if (keyword == "BYE") {
        // The PC lets go of the port; nothing to answer.
    } else if (keyword.size() >= 3 && keyword[0] == 'C' && keyword[1] >= '1' && keyword[1] <= '4') {
        handleStart(keyword, body);
        emit("START", keyword[1] - '0');
        return;
    } else {
        log_.event("unknown command, no reply");
        return;
    }
    emit(keyword, keyword == "END" ? static_cast<int>(arg) : 0);
}

void Analyzer::handleStart(const std::string& keyword, const std::string& body) {
    const int number = keyword[1] - '0';
    const std::string kind = keyword.substr(2);
    StartRequest req;
    if (kind == "F")
        req.type = 'F';
    else if (kind == "FA")
        req = {'F', true, {}, {}, 0};
    else if (kind == "O")
        req.type = 'O';
    else if (kind == "PCA")
        req.type = 'P';
    else if (kind == "PCAA")
        req = {'P', true, {}, {}, 0};
    else {
        log_.event("unknown test type in start command, ignored");
        return;
    }
    std::vector<std::string> f = split(body, ',');
    // keyword, control number, operator, rate x 100
    if (f.size() >= 4) {
        req.control = f[1];
        req.op = f[2];
        for (size_t i = 3; i + 1 < f.size(); ++i) req.op += "," + f[i];
        long rate = 0;
        if (!parseInt(f.back(), rate)) log_.event("start command rate is not a number");
        req.setRate = rate / 100.0;
    } else {
        log_.event("start command with fewer than three fields");
    }
    ChannelModel* ch = channel(number);
    if (!ch) {
        log_.event(format("start command for channel %d, which is not present: ignored", number));
        return;
    }
    currentChannel_ = number;
    log_.event(format("ch%d start %c%s control \"%s\" operator \"%s\" rate %.2f ml/h", number,
                      req.type, req.autoStart ? " AutoStart" : "", req.control.c_str(),
                      req.op.c_str(), req.setRate));
    ch->start(req, nowMs());
    reply("[OK]\r\n");
}

void Analyzer::finished(int channel, RecordHeader header, std::vector<Sample> samples) {
    Record r;
    r.sections.push_back(records_.sectionLines(header, samples));
    records_.add(std::move(r));
    log_.event(format("ch%d test stored as record %d (%zu samples)", channel, records_.count(),
                      samples.size()));
}

} // namespace pxrsim
