#pragma once
// One measuring channel: its test state, the status characters it reports
// and the measurement lines it streams while a test runs.

#include "Profile.h"
#include "RecordStore.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace pxrsim {

struct Options;

struct StartRequest {
    char type = 'F'; // 'F', 'O', 'P'
    bool autoStart = false;
    std::string control, op;
    double setRate = 0; // ml/h
};

class ChannelModel {
public:
    enum class State { Idle, Priming, Primed, Armed, Running, Ended };

    struct Events {
        std::function<void(int channel, const std::string& what)> note; // for the log
        std::function<void(int channel)> runStarted;
        std::function<void(int channel)> testEnded;
        std::function<void(int channel, RecordHeader, std::vector<Sample>)> testFinished;
    };

    ChannelModel(int channel, const Options& options, std::mt19937& rng, Events events);

    int channel() const { return channel_; }
    State state() const { return state_; }
    std::string status() const;
    int runId() const { return runId_; }
    long samplesSent() const { return samplesSent_; }

    // A start-test command for this channel: sets a test up, or starts a primed one.
    void start(const StartRequest& request, double now);
    // The test runs at once, as if a PC had set it up and started it (a
    // test left running by a program that ended); ignored while one runs.
    void runNow(const StartRequest& request, double now);
    // The PC's end command.
    void end();
    // The analyzer restarted: back to idle, the test forgotten without a record.
    void forget();
    // The analyzer ends the running test itself (limit, script, shut-down).
    void analyzerEnd(const std::string& why);

    // Advances time; appends due measurement lines (with CR LF) to `out`.
    void tick(double now, std::vector<std::string>& out);
    // Real milliseconds until the channel needs its next tick (large when idle).
    double msUntilDue(double now) const;

    // Script controls.
    void setQuota(long samples) { quota_ = samples; } // -1 unlimited, 0 hold
    long quota() const { return quota_; }
    void setRate(double mlPerHour) { profile_.rate = mlPerHour; }
    void setProfile(const Profile& p) { profile_ = p; }
    void markNextSample(char code) { pendingCode_ = code; }
    void requestBolus() { bolusRequested_ = true; }
    void setWrongInlet(bool on) { wrongInlet_ = on; }
    void forceStatus(const std::string& status) { forced_ = status; }

private:
    void setState(State s);
    void beginRun(double now);
    Sample nextSample();
    void finishRecord();
    char modelType() const;
    double pumpRate() const;

    int channel_;
    const Options& options_;
    std::mt19937& rng_;
    Events events_;
    Profile profile_;

    State state_ = State::Idle;
    StartRequest test_;
    double primedAt_ = 0, flowAt_ = 0, lastTick_ = 0;
    int runId_ = 0;
    bool wrongInlet_ = false;
    std::string forced_;

    // Running test
    RecordHeader header_;
    std::vector<Sample> samples_;
    double analyzerMs_ = 0;
    double nextSampleMs_ = 0;
    double volume_ = 0, pressure_ = 0;
    long quota_ = -1;
    long samplesSent_ = 0;
    char pendingCode_ = 0;
    bool bolusRequested_ = false;
    double bolusLeft_ = 0, nextBolusMs_ = 0;
    bool bolusEndPending_ = false, peakSeen_ = false;
};

} // namespace pxrsim
