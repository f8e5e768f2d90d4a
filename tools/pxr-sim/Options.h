#pragma once
// The simulator's command line.

#include "Profile.h"

#include <array>
#include <string>
#include <vector>

namespace pxrsim {

struct Options {
    // Identity
    std::string model = "PXR-8"; // or "PXR2K"
    std::string name = "PXR-Sim";
    std::string serial = "SIM00001";
    std::string firmware = "2.10";
    std::string manufacturer = "Fluidmetrics Inc"; // 10 or 16 characters, see --help
    std::string modelName = "Infusion Device Analyzer";
    char pressureUnit = 'm';
    std::array<bool, 4> channels{true, true, true, true};
    bool channelsGiven = false;
    std::string link;

    // Timing
    int samplePeriodMs = 1000;   // analyzer time between measurement lines
    double accel = 1.0;          // analyzer time per real time
    int primeDelayMs = 1500;     // real time from set-up to primed
    int autoStartDelayMs = 1000; // real time from an AutoStart start to flow detected
    int manualGapMs = 40;        // quiet time that ends an incoming instruction manual
    int notesGapMs = 300;        // quiet time after ']' that ends incoming user notes

    std::array<Profile, 4> profiles;

    // Contents
    int presetRecords = 0;
    int presetTemplates = 0;
    int presetSamples = 0;                // samples per preset section; 0: 120 or 150
    std::vector<std::string> recordFiles; // record files stored before the presets
    std::string notesFile;                // initial user notes
    std::string notesOut;                 // received user notes are written here
    std::string manualOut; // a received instruction manual is written here, unscrambled

    // State and faults
    char battery = 'H';
    bool busy = false;
    bool silent = false;
    int garbage = 0; // noise bytes before every reply frame
    bool split = false;
    std::vector<std::string> dropAll; // reply prefixes (without '[') always dropped
    int unplugAfterLines = -1;
    int stallAfterLines = -1;

    // Scenario
    std::vector<std::string> scriptLines; // with "file:line" origins in scriptOrigins
    std::vector<std::string> scriptOrigins;

    std::string logFile; // "-" is stderr
    unsigned seed = 1;
};

// Parses argv. On error prints a message and returns false with exitCode set;
// on --help prints the help and returns false with exitCode 0.
bool parseOptions(int argc, char** argv, Options& options, int& exitCode);

const char* helpText();

} // namespace pxrsim
