// pxr-sim: plays a PXR infusion-pump analyzer on a pseudo-terminal so that the
// program's serial code can be tested without the instrument.

#include "Analyzer.h"
#include "Options.h"
#include "Scenario.h"
#include "Text.h"
#include "TrafficLog.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace pxrsim;

static volatile std::sig_atomic_t g_stop = 0;

static void onSignal(int) {
    g_stop = 1;
}

int main(int argc, char** argv) {
    Options options;
    int exitCode = 0;
    if (!parseOptions(argc, argv, options, exitCode)) return exitCode;

    TrafficLog log;
    if (!log.open(options.logFile)) {
        std::fprintf(stderr, "pxr-sim: cannot write the log %s\n", options.logFile.c_str());
        return 2;
    }
    Scenario scenario;
    if (std::string error = scenario.parse(options.scriptLines, options.scriptOrigins);
        !error.empty()) {
        std::fprintf(stderr, "pxr-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.manufacturer.size() != 10 && options.manufacturer.size() != 16)
        std::fprintf(stderr,
                     "pxr-sim: warning: a P1 text of %zu characters hides the model reply from "
                     "the PC's port probe\n",
                     options.manufacturer.size());

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Analyzer analyzer(options, log);
    if (std::string error = analyzer.plugIn(); !error.empty()) {
        std::fprintf(stderr, "pxr-sim: %s\n", error.c_str());
        return 1;
    }
    log.event(format("%s \"%s\" serial %s ready", options.model.c_str(), options.name.c_str(),
                     options.serial.c_str()));
    std::printf("%s\n", options.link.c_str());
    std::fflush(stdout);

    scenario.attach(analyzer);
    while (!g_stop && !scenario.exitRequested()) {
        // Sleep until something is due, but wake regularly for signals.
        double wait = std::min({200.0, analyzer.msUntilDue(), scenario.msUntilDue()});
        analyzer.step(static_cast<int>(wait));
        scenario.run();
    }
    analyzer.step(0); // what is already queued still goes out
    analyzer.unplug();
    log.event("stopped");
    log.flush();
    return 0;
}
