#include "ChannelModel.h"

#include "Options.h"
#include "Text.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace pxrsim {

ChannelModel::ChannelModel(int channel, const Options& options, std::mt19937& rng, Events events)
    : channel_(channel), options_(options), rng_(rng), events_(std::move(events)),
      profile_(options.profiles[static_cast<size_t>(channel - 1)]) {}

static const char* stateName(ChannelModel::State s) {
    switch (s) {
    case ChannelModel::State::Idle:
        return "idle";
    case ChannelModel::State::Priming:
        return "set up, priming";
    case ChannelModel::State::Primed:
        return "primed";
    case ChannelModel::State::Armed:
        return "AutoStart, waiting for flow";
    case ChannelModel::State::Running:
        return "running";
    case ChannelModel::State::Ended:
        return "ended by the analyzer";
    }
    return "?";
}

void ChannelModel::setState(State s) {
    if (s == state_) return;
    state_ = s;
    if (events_.note)
        events_.note(channel_, std::string(stateName(s)) + ", status \"" + status() + "\"");
}

std::string ChannelModel::status() const {
    if (forced_.size() == 3) return forced_;
    const char t = test_.type;
    const bool occl = t == 'O';
    std::string s = "   ";
    switch (state_) {
    case State::Idle:
        break;
    case State::Priming:
        s = {occl ? 'T' : 'F', t, ' '};
        break;
    case State::Primed:
        s = {occl ? 'T' : 'F', t, occl ? 'T' : 'F'};
        break;
    case State::Armed:
        s = {'v', t, 'F'};
        break;
    case State::Running:
        s = {occl ? 'o' : 'v', t, occl ? 'T' : 'f'};
        break;
    case State::Ended:
        s = {occl ? 'O' : 'V', t, ' '};
        break;
    }
    if (wrongInlet_) s[2] = 'W';
    return s;
}

void ChannelModel::start(const StartRequest& request, double now) {
    const bool sameTest = request.type == test_.type;
    switch (state_) {
    case State::Running:
    case State::Armed:
        if (events_.note) events_.note(channel_, "start command ignored: a test is running");
        return;
    case State::Priming:
    case State::Primed:
        if (sameTest) {
            test_.autoStart = request.autoStart;
            if (request.autoStart && request.type != 'O') {
                flowAt_ = now + options_.autoStartDelayMs;
                setState(State::Armed);
            } else {
                beginRun(now);
            }
            return;
        }
        [[fallthrough]];
    case State::Idle:
    case State::Ended:
        test_ = request;
        primedAt_ = now + options_.primeDelayMs;
        setState(State::Priming);
        return;
    }
}

void ChannelModel::beginRun(double now) {
    lastTick_ = now;
    analyzerMs_ = 0;
    nextSampleMs_ = options_.samplePeriodMs;
    volume_ = 0;
    pressure_ = 0;
    samples_.clear();
    bolusLeft_ = 0;
    bolusRequested_ = false;
    bolusEndPending_ = false;
    peakSeen_ = false;
    nextBolusMs_ = profile_.firstBolusS > 0   ? profile_.firstBolusS * 1000.0
                   : profile_.bolusEveryS > 0 ? profile_.bolusEveryS * 1000.0
                                              : 0;
    header_.start = std::time(nullptr);
    ++runId_;
    setState(State::Running);
    if (events_.runStarted) events_.runStarted(channel_);
}

void ChannelModel::runNow(const StartRequest& request, double now) {
    if (state_ == State::Running || state_ == State::Armed) {
        if (events_.note) events_.note(channel_, "run ignored: a test is running");
        return;
    }
    test_ = request;
    beginRun(now);
}

void ChannelModel::end() {
    if (state_ == State::Running) finishRecord();
    const bool wasRunning = state_ == State::Running;
    setState(State::Idle);
    if (wasRunning && events_.testEnded) events_.testEnded(channel_);
}

void ChannelModel::forget() {
    if (state_ != State::Idle && events_.note) events_.note(channel_, "restart: test forgotten");
    setState(State::Idle);
}

void ChannelModel::analyzerEnd(const std::string& why) {
    if (state_ != State::Running && state_ != State::Armed) return;
    if (events_.note) events_.note(channel_, "the analyzer ends the test: " + why);
    const bool wasRunning = state_ == State::Running;
    if (wasRunning) finishRecord();
    setState(State::Ended);
    if (wasRunning && events_.testEnded) events_.testEnded(channel_);
}

void ChannelModel::finishRecord() {
    header_.channel = channel_;
    header_.type = test_.type;
    header_.control = test_.control;
    header_.op = test_.op;
    header_.setRate = test_.setRate;
    header_.basalRate = test_.type == 'P' ? test_.setRate : 0;
    header_.pcaVolume = test_.type == 'P' ? profile_.bolusMl : 0;
    if (events_.testFinished) events_.testFinished(channel_, header_, samples_);
    samples_.clear();
    quota_ = -1;
}

char ChannelModel::modelType() const {
    switch (profile_.kind) {
    case Profile::Kind::Flow:
        return 'F';
    case Profile::Kind::Pca:
        return 'P';
    case Profile::Kind::Occlusion:
        return 'O';
    case Profile::Kind::Auto:
        break;
    }
    return test_.type;
}

double ChannelModel::pumpRate() const {
    double r = profile_.rate >= 0 ? profile_.rate : test_.setRate;
    return std::max(0.0, r * (1.0 + profile_.errorPct / 100.0));
}

double ChannelModel::msUntilDue(double now) const {
    switch (state_) {
    case State::Priming:
        return std::max(0.0, primedAt_ - now);
    case State::Armed:
        return std::max(0.0, flowAt_ - now);
    case State::Running: {
        if (quota_ == 0) return 1e9;
        double analyzerAhead = nextSampleMs_ - analyzerMs_;
        return std::max(0.0, analyzerAhead / options_.accel);
    }
    default:
        return 1e9;
    }
}

void ChannelModel::tick(double now, std::vector<std::string>& out) {
    if (state_ == State::Priming && now >= primedAt_) setState(State::Primed);
    if (state_ == State::Armed && now >= flowAt_) beginRun(now);
    if (state_ != State::Running) return;
    double dt = now - lastTick_;
    lastTick_ = now;
    if (quota_ == 0) return; // held: analyzer time stands still
    analyzerMs_ += dt * options_.accel;
    while (nextSampleMs_ <= analyzerMs_ && state_ == State::Running && quota_ != 0) {
        Sample s = nextSample();
        samples_.push_back(s);
        ++samplesSent_;
        if (quota_ > 0) --quota_;
        out.push_back(format("%d%c%08X%08X%04X\r\n", channel_, s.code, s.timeMs, s.volume,
                             static_cast<unsigned>(static_cast<uint16_t>(s.pressure))));
        nextSampleMs_ += options_.samplePeriodMs;
        if (profile_.stopS > 0 && s.timeMs >= profile_.stopS * 1000.0)
            analyzerEnd("time limit of the profile");
        else if (profile_.stopSamples > 0 &&
                 static_cast<long>(samples_.size()) >= profile_.stopSamples)
            analyzerEnd("sample limit of the profile");
    }
    if (quota_ == 0) analyzerMs_ = nextSampleMs_ - options_.samplePeriodMs;
}

Sample ChannelModel::nextSample() {
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double period = options_.samplePeriodMs;
    const double unitsPerMsPerMlH = 10000.0 / 3600000.0; // 0.1 ul per ms at 1 ml/h
    Sample s;
    s.timeMs = static_cast<uint32_t>(nextSampleMs_);
    char code = ' ';

    double step = pumpRate() * unitsPerMsPerMlH * period;
    const char model = modelType();
    if (model == 'O') {
        const double peak = std::max(1.0, profile_.peakMmHg);
        pressure_ = std::min(peak, pressure_ + profile_.rampMmHgPerS * period / 1000.0);
        double shown = pressure_ + (pressure_ < peak ? gauss(rng_) * profile_.pressureNoise : 0);
        step *= std::max(0.0, 1.0 - pressure_ / peak);
        if (pressure_ >= peak && !peakSeen_) {
            peakSeen_ = true;
            code = 'O';
        } else if (shown >= profile_.overMmHg) {
            code = 'o';
        }
        s.pressure = static_cast<int16_t>(std::clamp(std::lround(shown), -32768L, 32767L));
    } else {
        s.pressure = static_cast<int16_t>(
            std::clamp(std::lround(profile_.basePressure + gauss(rng_) * profile_.pressureNoise),
                       -32768L, 32767L));
    }
    step = std::max(0.0, step * (1.0 + gauss(rng_) * profile_.noisePct / 100.0));

    if (model == 'P') {
        if (bolusEndPending_) {
            code = 'T';
            bolusEndPending_ = false;
        } else {
            const bool scheduled = nextBolusMs_ > 0 && nextSampleMs_ >= nextBolusMs_;
            if (bolusLeft_ <= 0 && (bolusRequested_ || scheduled)) {
                bolusRequested_ = false;
                bolusLeft_ = profile_.bolusMl * 10000.0;
                code = 'R';
                if (scheduled)
                    nextBolusMs_ =
                        profile_.bolusEveryS > 0 ? nextBolusMs_ + profile_.bolusEveryS * 1000.0 : 0;
            }
        }
        if (bolusLeft_ > 0) {
            double b = std::min(bolusLeft_, profile_.bolusRate * unitsPerMsPerMlH * period);
            bolusLeft_ -= b;
            step += b;
            if (bolusLeft_ <= 0) {
                if (code == 'R')
                    bolusEndPending_ = true;
                else
                    code = 'T';
            }
        }
    }

    const long n = static_cast<long>(samples_.size()) + 1;
    if (code == ' ' && profile_.bubbleEvery > 0 && n % profile_.bubbleEvery == 0) code = 'b';
    if (code == ' ' && profile_.airlockEvery > 0 && n % profile_.airlockEvery == 0) code = 'a';
    if (pendingCode_) {
        code = pendingCode_;
        pendingCode_ = 0;
    }
    volume_ += step;
    s.volume = static_cast<uint32_t>(std::min(volume_, 4294967295.0));
    s.code = code;
    return s;
}

} // namespace pxrsim
