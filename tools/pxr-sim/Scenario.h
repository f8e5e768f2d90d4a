#pragma once
// The scenario: a short list of steps, run in order. Each step may first wait
// for a trigger ("after 2 START", "after 500ms", "after 10 samples") and then
// does one thing to the analyzer. See README.md for the language.

#include <string>
#include <vector>

namespace pxrsim {

class Analyzer;

class Scenario {
public:
    // Parses the lines; origins name them in error messages ("file:3").
    // Returns an error text, empty on success.
    std::string parse(const std::vector<std::string>& lines,
                      const std::vector<std::string>& origins);

    void attach(Analyzer& analyzer);
    // Runs what is due; call after every pass of the main loop.
    void run();
    bool exitRequested() const { return exit_; }
    double msUntilDue() const;

private:
    struct Step {
        std::string origin;
        // Trigger
        enum class Wait { None, Time, Event, Samples } wait = Wait::None;
        double waitMs = 0;
        std::string event;
        long count = 1;
        // Action
        std::string action;
        std::vector<std::string> args;
        int channel = 0;  // "on CH"; 0 = the channel of the last start command
        std::string text; // the rest of the line for "send" and "log"
    };

    void onEvent(const std::string& event, int channel);
    void onSample(int channel);
    void begin();             // the current step starts waiting for its trigger
    bool execute(Step& step); // false: the step blocks until its action is done
    bool actionDone(const Step& step);
    int channelOf(const Step& step) const;

    std::vector<Step> steps_;
    Analyzer* analyzer_ = nullptr;
    size_t index_ = 0;
    bool triggered_ = false, acting_ = false;
    double since_ = 0;
    long counted_ = 0;
    double actionUntil_ = 0;
    int streamChannel_ = 0;
    bool streamSawRunning_ = false;
    bool exit_ = false;
};

} // namespace pxrsim
