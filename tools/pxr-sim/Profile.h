#pragma once
// How the simulated pump on one channel behaves while a test runs.

#include <string>

namespace pxrsim {

struct Profile {
    // Which model to play; Auto follows the type of the started test.
    enum class Kind { Auto, Flow, Pca, Occlusion } kind = Kind::Auto;

    double rate = -1;        // ml/h delivered; < 0: the set rate of the start command
    double errorPct = 0;     // systematic deviation of the pump from that rate
    double noisePct = 1.0;   // random deviation of each volume step (standard deviation)
    double basePressure = 5; // mmHg while flowing freely
    double pressureNoise = 1.5;

    int bubbleEvery = 0;  // every Nth sample carries 'b' (0: never)
    int airlockEvery = 0; // every Nth sample carries 'a'

    // PCA: boluses on top of the basal rate.
    double bolusMl = 0.5;
    double bolusRate = 100;   // ml/h while a bolus is delivered
    double bolusEveryS = 300; // analyzer seconds between bolus starts (0: only on request)
    double firstBolusS = 60;

    // Occlusion: the pressure ramps up until the pump's alarm pressure.
    double rampMmHgPerS = 2;
    double peakMmHg = 450;
    double overMmHg = 300; // samples at or above it carry 'o'; the peak sample 'O'

    double stopS = 0;     // the analyzer ends the test itself at this analyzer time (0: never)
    long stopSamples = 0; // ... or after this many samples (0: never)
};

// Parses "[kind,]key=value,...", kind one of flow, pca, occlusion, auto.
// Keys: rate error noise pressure pnoise bubble airlock bolus bolus-rate every first
// ramp peak over stop samples. Returns an error text, empty on success.
std::string parseProfile(const std::string& spec, Profile& profile);

} // namespace pxrsim
