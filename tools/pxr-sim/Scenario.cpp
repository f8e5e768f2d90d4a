#include "Scenario.h"

#include "Analyzer.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace pxrsim {

namespace {

struct Token {
    std::string text;
    size_t start;
};

std::vector<Token> tokenize(const std::string& line) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        size_t start = i;
        std::string t;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') t += line[i++];
            if (i < line.size()) ++i;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                t += line[i++];
        }
        out.push_back({t, start});
    }
    return out;
}

// "500ms", "2s", "1.5s" or a bare number of milliseconds.
bool parseDuration(const std::string& text, double& ms) {
    std::string t = text;
    double factor = 1;
    if (t.size() > 2 && t.compare(t.size() - 2, 2, "ms") == 0) {
        t.resize(t.size() - 2);
    } else if (t.size() > 1 && t.back() == 's') {
        t.pop_back();
        factor = 1000;
    }
    double v = 0;
    if (!parseDouble(t, v) || v < 0) return false;
    ms = v * factor;
    return true;
}

bool looksLikeDuration(const std::string& text) {
    return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) &&
           (text.back() == 's');
}

const std::set<std::string> kEvents = {
    "POLL",          "LOG",      "STATUS",       "GETBATSTATUS", "END",           "RECS",
    "GETREC",        "DELREC",   "GETSN",        "GETPARAMS",    "START",         "SETTMPLT",
    "GETTMPLTCOUNT", "GETTMPLT", "SETUSERNOTES", "GETUSERNOTES", "UMSETINSTRUCT", "BYE",
    "RUN",           "ENDED",    "TEMPLATE",     "NOTES",        "MANUAL",        "UNPLUG"};

} // namespace

std::string Scenario::parse(const std::vector<std::string>& lines,
                            const std::vector<std::string>& origins) {
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        const std::string origin = n < origins.size() ? origins[n] : format("line %zu", n + 1);
        if (size_t hash = line.find('#'); hash != std::string::npos) {
            // A '#' inside quotes (send "...") is text, not a comment.
            size_t quotes = static_cast<size_t>(
                std::count(line.begin(), line.begin() + static_cast<long>(hash), '"'));
            if (quotes % 2 == 0) line.resize(hash);
        }
        std::vector<Token> tok = tokenize(line);
        if (tok.empty()) continue;
        auto fail = [&](const std::string& why) { return origin + ": " + why + ": " + trim(line); };

        Step s;
        s.origin = origin;
        size_t i = 0;
        if (tok[0].text == "after") {
            if (tok.size() < 2) return fail("'after' needs a trigger");
            if (looksLikeDuration(tok[1].text)) {
                if (!parseDuration(tok[1].text, s.waitMs)) return fail("bad duration");
                s.wait = Step::Wait::Time;
                i = 2;
            } else {
                long count = 1;
                i = 1;
                if (parseInt(tok[1].text, count)) {
                    if (tok.size() < 3 || count < 1) return fail("'after N' needs a word after N");
                    i = 2;
                }
                s.count = count;
                std::string word = upper(tok[i].text);
                if (word == "SAMPLES" || word == "SAMPLE") {
                    s.wait = Step::Wait::Samples;
                } else {
                    if (!kEvents.count(word)) return fail("unknown trigger '" + tok[i].text + "'");
                    s.wait = Step::Wait::Event;
                    s.event = word;
                }
                ++i;
            }
        }
        if (i < tok.size()) {
            s.action = tok[i].text;
            if (i + 1 < tok.size()) s.text = trim(line.substr(tok[i + 1].start));
            for (size_t k = i + 1; k < tok.size(); ++k) s.args.push_back(tok[k].text);
        }
        // "on CH" at the end names the channel.
        if (s.args.size() >= 2 && s.args[s.args.size() - 2] == "on" && s.action != "send" &&
            s.action != "log") {
            long ch = 0;
            if (!parseInt(s.args.back(), ch) || ch < 1 || ch > 4) return fail("bad channel");
            s.channel = static_cast<int>(ch);
            s.args.resize(s.args.size() - 2);
        }

        const std::string& a = s.action;
        const size_t argc = s.args.size();
        double d = 0;
        long v = 0;
        bool ok = true;
        if (a.empty()) {
            ok = s.wait != Step::Wait::None;
        } else if (a == "wait") {
            ok = argc == 1 && parseDuration(s.args[0], d);
        } else if (a == "stream") {
            // stream N [at RATE]
            ok = (argc == 1 || (argc == 3 && s.args[1] == "at" && parseDouble(s.args[2], d))) &&
                 parseInt(s.args[0], v) && v >= 0;
        } else if (a == "run") {
            // run F|O|P [at RATE]
            ok = (argc == 1 || (argc == 3 && s.args[1] == "at" && parseDouble(s.args[2], d))) &&
                 (s.args[0] == "F" || s.args[0] == "O" || s.args[0] == "P");
        } else if (a == "hold" || a == "resume" || a == "end" || a == "bolus" || a == "bubble" ||
                   a == "airlock" || a == "exit" || a == "restart") {
            ok = argc == 0;
        } else if (a == "replug") {
            ok = argc <= 1; // replug [LINK]
        } else if (a == "rate") {
            ok = argc == 1 && parseDouble(s.args[0], d);
        } else if (a == "profile") {
            Profile p;
            ok = argc == 1 && parseProfile(s.args[0], p).empty();
        } else if (a == "code") {
            ok = argc == 1 && s.args[0].size() == 1;
        } else if (a == "wrong-inlet" || a == "busy" || a == "split") {
            ok = argc == 1 && (s.args[0] == "on" || s.args[0] == "off");
        } else if (a == "status") {
            ok = argc == 1 && (s.args[0].size() == 3 || s.args[0] == "auto");
        } else if (a == "battery") {
            ok = argc == 1 && (s.args[0] == "H" || s.args[0] == "L" || s.args[0] == "S");
        } else if (a == "silence") {
            ok = argc == 1 &&
                 (s.args[0] == "on" || s.args[0] == "off" || parseDuration(s.args[0], d));
        } else if (a == "garbage") {
            ok = (argc == 1 && parseInt(s.args[0], v) && v >= 0) ||
                 (argc == 2 && s.args[0] == "each" && parseInt(s.args[1], v) && v >= 0);
        } else if (a == "drop") {
            ok = argc == 1 || (argc == 2 && (s.args[1] == "all" || s.args[1] == "off" ||
                                             (parseInt(s.args[1], v) && v > 0)));
        } else if (a == "unplug") {
            // unplug | unplug after N [GETREC] lines
            ok = argc == 0 ||
                 (argc >= 3 && argc <= 4 && s.args[0] == "after" && parseInt(s.args[1], v) &&
                  v >= 0 && s.args.back() == "lines" && (argc == 3 || s.args[2] == "GETREC"));
        } else if (a == "stall") {
            // stall after N [GETREC] lines [for DURATION]
            size_t n = argc;
            double d = 0;
            if (n >= 2 && s.args[n - 2] == "for") {
                ok = parseDuration(s.args[n - 1], d) && d > 0;
                n -= 2;
            } else {
                ok = true;
            }
            ok = ok && n >= 3 && n <= 4 && s.args[0] == "after" && parseInt(s.args[1], v) &&
                 v >= 0 && s.args[n - 1] == "lines" && (n == 3 || s.args[2] == "GETREC");
        } else if (a == "send" || a == "log") {
            ok = !s.text.empty();
        } else {
            return fail("unknown action '" + a + "'");
        }
        if (!ok) return fail("bad arguments for '" + (a.empty() ? std::string("after") : a) + "'");
        steps_.push_back(std::move(s));
    }
    return {};
}

void Scenario::attach(Analyzer& analyzer) {
    analyzer_ = &analyzer;
    analyzer.onEvent = [this](const std::string& e, int ch) { onEvent(e, ch); };
    analyzer.onSample = [this](int ch) { onSample(ch); };
    index_ = 0;
    if (!steps_.empty()) begin();
    run();
}

void Scenario::begin() {
    triggered_ = steps_[index_].wait == Step::Wait::None;
    acting_ = false;
    since_ = nowMs();
    counted_ = 0;
}

void Scenario::onEvent(const std::string& event, int) {
    if (index_ >= steps_.size() || triggered_) return;
    const Step& s = steps_[index_];
    if (s.wait == Step::Wait::Event && s.event == event && ++counted_ >= s.count) {
        triggered_ = true;
        run();
    }
}

void Scenario::onSample(int) {
    if (index_ >= steps_.size() || triggered_) return;
    const Step& s = steps_[index_];
    if (s.wait == Step::Wait::Samples && ++counted_ >= s.count) {
        triggered_ = true;
        run();
    }
}

int Scenario::channelOf(const Step& step) const {
    return step.channel ? step.channel : analyzer_->currentChannel();
}

double Scenario::msUntilDue() const {
    if (index_ >= steps_.size()) return 1e9;
    const Step& s = steps_[index_];
    if (!triggered_ && s.wait == Step::Wait::Time)
        return std::max(0.0, since_ + s.waitMs - nowMs());
    if (acting_ && actionUntil_ > 0) return std::max(0.0, actionUntil_ - nowMs());
    if (acting_) return 10;
    return 1e9;
}

void Scenario::run() {
    while (index_ < steps_.size() && !exit_) {
        Step& s = steps_[index_];
        if (!triggered_) {
            if (s.wait == Step::Wait::Time && nowMs() >= since_ + s.waitMs)
                triggered_ = true;
            else
                return;
        }
        if (!acting_) {
            analyzer_->log().event("script " + s.origin + ": " +
                                   (s.action.empty() ? std::string("(trigger)") : s.action) +
                                   (s.text.empty() ? "" : " " + s.text));
            acting_ = true;
            actionUntil_ = 0;
            if (!execute(s)) return;
        } else if (!actionDone(s)) {
            return;
        }
        ++index_;
        if (index_ < steps_.size()) begin();
    }
}

bool Scenario::execute(Step& s) {
    Analyzer& an = *analyzer_;
    const std::string& a = s.action;
    ChannelModel* ch = an.channel(channelOf(s));
    auto needChannel = [&]() {
        if (!ch)
            an.log().warn("script " + s.origin + ": channel " + std::to_string(channelOf(s)) +
                          " is not present");
        return ch != nullptr;
    };
    double d = 0;
    long v = 0;
    if (a.empty()) return true;
    if (a == "wait") {
        parseDuration(s.args[0], d);
        actionUntil_ = nowMs() + d;
        return false;
    }
    if (a == "stream") {
        if (!needChannel()) return true;
        parseInt(s.args[0], v);
        if (s.args.size() == 3) {
            parseDouble(s.args[2], d);
            ch->setRate(d);
        }
        ch->setQuota(std::max(0L, ch->quota()) + v);
        streamChannel_ = ch->channel();
        streamSawRunning_ = ch->state() == ChannelModel::State::Running;
        return v == 0;
    }
    if (a == "run") {
        if (!needChannel()) return true;
        StartRequest req;
        req.type = s.args[0][0];
        req.control = "LEFT-RUNNING";
        req.op = "SIM";
        if (s.args.size() == 3) parseDouble(s.args[2], req.setRate);
        ch->runNow(req, nowMs());
        return true;
    }
    if (a == "hold" || a == "resume") {
        if (needChannel()) ch->setQuota(a == "hold" ? 0 : -1);
    } else if (a == "rate") {
        parseDouble(s.args[0], d);
        if (needChannel()) ch->setRate(d);
    } else if (a == "profile") {
        Profile p;
        parseProfile(s.args[0], p);
        if (needChannel()) ch->setProfile(p);
    } else if (a == "end") {
        if (needChannel()) ch->analyzerEnd("script");
    } else if (a == "bolus") {
        if (needChannel()) ch->requestBolus();
    } else if (a == "bubble" || a == "airlock" || a == "code") {
        char c = a == "bubble" ? 'b' : a == "airlock" ? 'a' : s.args[0][0];
        if (needChannel()) ch->markNextSample(c);
    } else if (a == "wrong-inlet") {
        if (needChannel()) ch->setWrongInlet(s.args[0] == "on");
    } else if (a == "status") {
        if (needChannel()) ch->forceStatus(s.args[0] == "auto" ? std::string() : s.args[0]);
    } else if (a == "battery") {
        an.setBattery(s.args[0][0]);
    } else if (a == "busy") {
        an.setBusy(s.args[0] == "on");
    } else if (a == "split") {
        an.setSplit(s.args[0] == "on");
    } else if (a == "silence") {
        if (s.args[0] == "on") {
            an.setSilentUntil(1e300);
        } else if (s.args[0] == "off") {
            an.setSilentUntil(-1);
        } else {
            parseDuration(s.args[0], d);
            actionUntil_ = nowMs() + d;
            an.setSilentUntil(actionUntil_);
            return false;
        }
    } else if (a == "garbage") {
        if (s.args[0] == "each") {
            parseInt(s.args[1], v);
            an.setGarbageEach(static_cast<int>(v));
        } else {
            parseInt(s.args[0], v);
            an.sendGarbage(static_cast<int>(v));
        }
    } else if (a == "drop") {
        int count = 1;
        if (s.args.size() == 2) {
            if (s.args[1] == "all")
                count = -1;
            else if (s.args[1] == "off")
                count = 0;
            else
                count = std::stoi(s.args[1]);
        }
        an.dropReplies(s.args[0], count);
    } else if (a == "unplug") {
        if (s.args.empty()) {
            an.unplugAfterOutput();
            return false; // done once the terminal is gone
        }
        parseInt(s.args[1], v);
        an.armUnplugAfterLines(static_cast<int>(v));
    } else if (a == "stall") {
        parseInt(s.args[1], v);
        double pause = -1;
        if (s.args.size() >= 2 && s.args[s.args.size() - 2] == "for")
            parseDuration(s.args.back(), pause);
        an.armStallAfterLines(static_cast<int>(v), pause);
    } else if (a == "replug") {
        if (!an.pluggedIn()) {
            std::string error = an.plugIn(s.args.empty() ? std::string() : s.args[0]);
            if (!error.empty()) an.log().warn("replug failed: " + error);
        }
    } else if (a == "send") {
        std::string t = s.text;
        if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
        an.sendRaw(unescapeBytes(t));
    } else if (a == "log") {
        an.log().event("script says: " + s.text);
    } else if (a == "restart") {
        an.restart();
    } else if (a == "exit") {
        exit_ = true;
    }
    return true;
}

bool Scenario::actionDone(const Step& s) {
    if (s.action == "wait" || s.action == "silence") return nowMs() >= actionUntil_;
    if (s.action == "unplug") return !analyzer_->pluggedIn();
    if (s.action == "stream") {
        ChannelModel* ch = analyzer_->channel(streamChannel_);
        if (!ch) return true;
        const bool running = ch->state() == ChannelModel::State::Running;
        if (running) streamSawRunning_ = true;
        if (running && ch->quota() == 0) return true;
        return streamSawRunning_ && !running; // the test ended before all were sent
    }
    return true;
}

} // namespace pxrsim
