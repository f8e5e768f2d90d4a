#pragma once
// One simulated analyzer: answers the PC's commands, streams measurement
// lines of its channels and plays the faults it is asked to.

#include "ChannelModel.h"
#include "CommandParser.h"
#include "Options.h"
#include "Pty.h"
#include "RecordStore.h"
#include "TemplateStore.h"
#include "TrafficLog.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

namespace pxrsim {

class Analyzer {
public:
    Analyzer(Options& options, TrafficLog& log);

    // Opens the terminal and the link (another link path when given: the
    // analyzer comes back on another port); error text or empty.
    std::string plugIn(const std::string& link = {});
    void unplug();
    bool pluggedIn() const { return pty_.isOpen(); }

    // One pass of the main loop: reads what the PC sent, advances time, writes
    // what is due. Waits at most `maxWaitMs` for input.
    void step(int maxWaitMs);
    // Real milliseconds until something is due.
    double msUntilDue() const;

    // Scenario hooks: called with the command keyword ("POLL", "START", ...) or
    // an analyzer event ("RUN", "ENDED", "TEMPLATE", "NOTES", "MANUAL").
    std::function<void(const std::string& event, int channel)> onEvent;
    std::function<void(int channel)> onSample;

    // Controls used by the scenario.
    ChannelModel* channel(int number); // 1-based, nullptr when absent
    int currentChannel() const { return currentChannel_; }
    void setBattery(char state);
    void setBusy(bool on) { options_.busy = on; }
    void setSilentUntil(double ms) { silentUntil_ = ms; }
    bool silent() const;
    void sendGarbage(int bytes);
    void setGarbageEach(int bytes) { options_.garbage = bytes; }
    void setSplit(bool on) { options_.split = on; }
    void dropReplies(const std::string& prefix, int count); // count < 0: always, 0: stop
    void armUnplugAfterLines(int lines) { unplugAfterLines_ = lines; }
    // The next record download stops after this many lines, without [END];
    // with pauseMs >= 0 it sends the rest and its [END] after that pause
    // (and answers later commands only after them, as an analyzer does).
    void armStallAfterLines(int lines, double pauseMs = -1) {
        stallAfterLines_ = lines;
        stallPauseMs_ = pauseMs;
    }
    // Unplugs once everything queued so far has gone out.
    void unplugAfterOutput();
    // Every channel back to idle, running tests lost; stored records kept.
    void restart();
    void sendRaw(const std::string& bytes);
    TrafficLog& log() { return log_; }

private:
    struct Out {
        std::string bytes;
        double due = 0;
        bool unplug = false;
    };

    void handle(const Incoming& in);
    void handleCommand(const std::string& body);
    void handleStart(const std::string& keyword, const std::string& body);
    void reply(const std::string& frame);
    void queue(const std::string& bytes);
    void flush();
    void finished(int channel, RecordHeader header, std::vector<Sample> samples);
    std::string statusFrame() const;
    void emit(const std::string& event, int channel = 0);

    Options& options_;
    TrafficLog& log_;
    Pty pty_;
    CommandParser parser_;
    std::mt19937 rng_;
    RecordStore records_;
    TemplateStore templates_;
    std::vector<std::unique_ptr<ChannelModel>> channels_; // index 0..3, null when absent
    std::string notes_;
    std::string manual_;
    std::deque<Out> out_;
    double silentUntil_ = -1;
    std::map<std::string, int> drops_;
    int unplugAfterLines_ = -1;
    int stallAfterLines_ = -1;
    double stallPauseMs_ = -1;
    int currentChannel_ = 1;
    double lastTick_ = 0;
};

} // namespace pxrsim
