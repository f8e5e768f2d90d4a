#include "Options.h"

#include "Text.h"

#include <cstdio>
#include <fstream>

namespace pxrsim {

const char* helpText() {
    return R"(pxr-sim - plays one PXR infusion-pump analyzer on a pseudo-terminal

Usage: pxr-sim --link PATH [options]

Creates a pseudo-terminal in raw mode, makes PATH a symbolic link to the side
the PC opens (a stale link is replaced), prints PATH on stdout once ready and
answers the PC until SIGTERM or SIGINT; the link is removed on exit.

Identity
  --model PXR-8|PXR2K     analyzer model (default PXR-8)
  --name N                analyzer name, the P5 parameter (default PXR-Sim)
  --serial S              analyzer serial number, at most 10 characters (default SIM00001)
  --firmware V            firmware version (default 2.10)
  --manufacturer T        P1 text (default "Fluidmetrics Inc"). The PC's port probe finds
                          the model reply only behind a P1 text of 10 or 16 characters
  --model-name T          P3 text (default "Infusion Device Analyzer")
  --pressure-unit m|k|p   pressure unit letter of the P4 reply (default m)
  --channels 1,2,3,4      channels present (default 1,2,3,4; PXR2K: 1)

Timing
  --sample-period MS      analyzer time between measurement lines (default 1000)
  --accel F               time acceleration: analyzer time runs F times real time
                          (default 1; a two-hour test at 720 takes 10 s)
  --prime-delay MS        real time from a set-up start command to primed (default 1500)
  --autostart-delay MS    real time from an AutoStart start to flow detected (default 1000)
  --manual-gap MS         quiet time that ends an incoming instruction manual once its
                          data has begun (default 40; no data within 1 s: an empty manual)
  --notes-gap MS          quiet time after ']' that ends incoming user notes (default 300)

Measurement profiles
  --profile CH:SPEC       pump behaviour on channel CH (repeatable), SPEC a comma list of
                          an optional kind (flow, pca, occlusion, auto = by test type) and
                          key=value items:
                            rate=ML_H      delivered rate (default: the set rate of the
                                           start command)
                            error=PCT      systematic rate error (default 0)
                            noise=PCT      noise of each volume step, std. dev. (default 1)
                            pressure=MMHG  line pressure while flowing (default 5)
                            pnoise=MMHG    pressure noise (default 1.5)
                            bubble=N       every Nth sample carries 'b' (default never)
                            airlock=N      every Nth sample carries 'a' (default never)
                            bolus=ML       PCA bolus volume (default 0.5)
                            bolus-rate=ML_H  rate during a bolus (default 100)
                            every=S        analyzer seconds between boluses (default 300,
                                           0 = only on request)
                            first=S        time of the first bolus (default 60)
                            ramp=MMHG_S    occlusion pressure rise (default 2)
                            peak=MMHG      occlusion alarm pressure: the sample reaching
                                           it carries 'O' (default 450)
                            over=MMHG      samples at or above it carry 'o' (default 300)
                            stop=S         the analyzer ends the test at this analyzer
                                           time (default never)
                            samples=N      ... or after N samples (default never)
                          e.g. --profile 2:pca,bolus=1,every=120 --profile 3:ramp=10,peak=600

Stored contents
  --preset-records N      N stored records before any test (Flow, Occlusion, PCA and a
                          three-section template record in turn); finished tests are added
  --preset-samples N      samples per section of each preset record (default 120, 150
                          for occlusion)
  --record-file FILE      a record file (.p8d) stored as a record, before the presets
                          (repeatable); its N and E lines are dropped, its sections kept
  --preset-templates N    N stored templates
  --notes FILE            the analyzer's user notes (default two short lines)
  --notes-out FILE        write user notes received from the PC to FILE
  --manual-out FILE       write a received instruction manual, unscrambled, to FILE

State and faults
  --battery H|L|S         battery state reply (default H); S: shut down, tests end
  --busy                  answer the poll with [BUSY]
  --silent                answer nothing at all
  --garbage N             N noise bytes (and CR LF) before every reply frame
  --split                 write every frame in 2-4 pieces, 3-15 ms apart
  --drop WORD[:N]         drop replies beginning "[WORD" (all of them, or the next N);
                          --drop END loses every end-of-record reply
  --drop-end              the same as --drop END
  --unplug-after-lines N  unplug during the next record download after N lines
  --stall-after-lines N   the next record download stops after N lines: the rest of
                          the record and its [END] are never sent (the record stays)

Scenario
  --script FILE           run the scenario in FILE (see below)
  --do 'STEP; STEP'       scenario steps on the command line (repeatable, after --script;
                          ';' separates steps)
  --seed N                random seed for noise (default 1)
  --log FILE              traffic log ("-" = stderr): one line per event,
                            <seconds> RX <bytes>   what the PC sent, exactly
                            <seconds> TX <bytes>   a frame the analyzer sent
                            <seconds> EV <text>    what the analyzer did
                          bytes are escaped: \r \n \0 \\ and \xHH for other non-printables

Scenario language: one step per line, '#' starts a comment. Steps run in order;
each may wait for a trigger first, then does one action.
  after DURATION ...        wait DURATION (500ms, 2s, 1.5s) from the previous step
  after [N] WORD ...        wait for the Nth PC command WORD from now on: POLL LOG STATUS
                            GETBATSTATUS END RECS GETREC DELREC GETSN GETPARAMS START
                            (any start-test command) SETTMPLT GETTMPLTCOUNT GETTMPLT
                            SETUSERNOTES GETUSERNOTES UMSETINSTRUCT BYE; or analyzer event
                            RUN (a test starts running) ENDED (a running test ended)
                            TEMPLATE NOTES MANUAL (received) UNPLUG
  after N samples ...       wait for N more measurement lines
Actions ("on CH" picks the channel; default: that of the last start or end command):
  wait DURATION             pause the scenario
  stream N [at RATE]        send N more measurement lines (at RATE ml/h), then hold;
                            the step ends when they are out or the test ends
  hold | resume             stop / restart streaming (analyzer time stands still on hold)
  rate RATE                 change the delivered rate
  profile SPEC              replace the channel's profile
  end                       the analyzer ends the test itself (status V / O)
  run F|O|P [at RATE]       a Flow, Occlusion or PCA test runs at once, as if a PC had set
                            it up and started it: a test left running by a program that
                            ended (e.g. --do 'run F at 60 on 2' when the simulator starts)
  bolus | bubble | airlock  a PCA bolus now; the next sample carries 'b' / 'a'
  code C                    the next sample carries the code character C
  wrong-inlet on|off        third status character 'W'
  status "XYZ" | auto       force the channel's three status characters
  battery H|L|S             battery state (S: the analyzer shuts down)
  busy on|off               poll answered with [BUSY]
  silence DURATION|on|off   answer nothing (the step lasts DURATION)
  garbage N                 send N noise bytes and CR LF now
  garbage each N            ... before every reply frame (0: stop)
  split on|off              write frames in pieces
  drop WORD [N|all|off]     drop the next N (default 1) replies beginning "[WORD"
  unplug                    close the terminal and remove the link (after queued output)
  unplug after N [GETREC] lines   ... during the next record download, after N lines
  stall after N [GETREC] lines    the next record download stops after N lines
  stall after N [GETREC] lines for DURATION   ... and sends the rest after DURATION
  replug [LINK]             a new terminal behind the same link (or behind LINK)
  send TEXT                 send raw bytes (escapes \r \n \0 \xHH; quotes optional)
  log TEXT                  write TEXT to the traffic log
  exit                      stop the simulator

Example:
  pxr-sim --link /tmp/pxr1 --accel 60 --prime-delay 200 \
          --do 'after 2 START stream 200 at 12.5; battery S'
)";
}

static bool parseChannels(const std::string& text, std::array<bool, 4>& channels) {
    channels = {false, false, false, false};
    for (const std::string& item : split(text, ',')) {
        long c = 0;
        if (!parseInt(trim(item), c) || c < 1 || c > 4) return false;
        channels[static_cast<size_t>(c - 1)] = true;
    }
    return true;
}

bool parseOptions(int argc, char** argv, Options& o, int& exitCode) {
    exitCode = 2;
    std::vector<std::string> doLines;
    std::string scriptFile;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "pxr-sim: %s (see --help)\n", why.c_str());
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(helpText(), stdout);
            exitCode = 0;
            return false;
        }
        // Options without a value.
        if (opt == "--busy") {
            o.busy = true;
            continue;
        }
        if (opt == "--silent") {
            o.silent = true;
            continue;
        }
        if (opt == "--split") {
            o.split = true;
            continue;
        }
        if (opt == "--drop-end") {
            o.dropAll.push_back("END");
            continue;
        }

        if (i + 1 >= argc) return fail("option " + opt + " needs a value");
        std::string val = argv[++i];
        long n = 0;
        double d = 0;
        auto needInt = [&](long min) { return parseInt(val, n) && n >= min; };
        if (opt == "--model") {
            if (val != "PXR-8" && val != "PXR2K") return fail("--model is PXR-8 or PXR2K");
            o.model = val;
        } else if (opt == "--name")
            o.name = val;
        else if (opt == "--serial")
            o.serial = val;
        else if (opt == "--firmware")
            o.firmware = val;
        else if (opt == "--manufacturer")
            o.manufacturer = val;
        else if (opt == "--model-name")
            o.modelName = val;
        else if (opt == "--pressure-unit") {
            if (val.size() != 1) return fail("--pressure-unit is one letter");
            o.pressureUnit = val[0];
        } else if (opt == "--channels") {
            if (!parseChannels(val, o.channels)) return fail("--channels is a list of 1..4");
            o.channelsGiven = true;
        } else if (opt == "--link")
            o.link = val;
        else if (opt == "--sample-period") {
            if (!needInt(1)) return fail("--sample-period needs milliseconds above 0");
            o.samplePeriodMs = static_cast<int>(n);
        } else if (opt == "--accel") {
            if (!parseDouble(val, d) || d <= 0) return fail("--accel needs a factor above 0");
            o.accel = d;
        } else if (opt == "--prime-delay") {
            if (!needInt(0)) return fail("--prime-delay needs milliseconds");
            o.primeDelayMs = static_cast<int>(n);
        } else if (opt == "--autostart-delay") {
            if (!needInt(0)) return fail("--autostart-delay needs milliseconds");
            o.autoStartDelayMs = static_cast<int>(n);
        } else if (opt == "--manual-gap") {
            if (!needInt(1)) return fail("--manual-gap needs milliseconds");
            o.manualGapMs = static_cast<int>(n);
        } else if (opt == "--notes-gap") {
            if (!needInt(1)) return fail("--notes-gap needs milliseconds");
            o.notesGapMs = static_cast<int>(n);
        } else if (opt == "--profile") {
            size_t colon = val.find(':');
            long ch = 0;
            if (colon == std::string::npos || !parseInt(val.substr(0, colon), ch) || ch < 1 ||
                ch > 4)
                return fail("--profile needs CH:SPEC");
            std::string error =
                parseProfile(val.substr(colon + 1), o.profiles[static_cast<size_t>(ch - 1)]);
            if (!error.empty()) return fail("--profile: " + error);
        } else if (opt == "--preset-records") {
            if (!needInt(0) || n > 999) return fail("--preset-records needs 0..999");
            o.presetRecords = static_cast<int>(n);
        } else if (opt == "--preset-samples") {
            if (!needInt(1) || n > 1000000) return fail("--preset-samples needs 1..1000000");
            o.presetSamples = static_cast<int>(n);
        } else if (opt == "--record-file") {
            o.recordFiles.push_back(val);
        } else if (opt == "--preset-templates") {
            if (!needInt(0) || n > 200) return fail("--preset-templates needs 0..200");
            o.presetTemplates = static_cast<int>(n);
        } else if (opt == "--notes")
            o.notesFile = val;
        else if (opt == "--notes-out")
            o.notesOut = val;
        else if (opt == "--manual-out")
            o.manualOut = val;
        else if (opt == "--battery") {
            if (val != "H" && val != "L" && val != "S") return fail("--battery is H, L or S");
            o.battery = val[0];
        } else if (opt == "--garbage") {
            if (!needInt(0)) return fail("--garbage needs a byte count");
            o.garbage = static_cast<int>(n);
        } else if (opt == "--drop") {
            // WORD or WORD:N; N is handled by the scenario form, here all or N.
            o.dropAll.push_back(val);
        } else if (opt == "--unplug-after-lines") {
            if (!needInt(0)) return fail("--unplug-after-lines needs a line count");
            o.unplugAfterLines = static_cast<int>(n);
        } else if (opt == "--stall-after-lines") {
            if (!needInt(0)) return fail("--stall-after-lines needs a line count");
            o.stallAfterLines = static_cast<int>(n);
        } else if (opt == "--script")
            scriptFile = val;
        else if (opt == "--do")
            doLines.push_back(val);
        else if (opt == "--seed") {
            if (!needInt(0)) return fail("--seed needs a number");
            o.seed = static_cast<unsigned>(n);
        } else if (opt == "--log")
            o.logFile = val;
        else
            return fail("unknown option " + opt);
    }
    if (o.link.empty()) return fail("--link PATH is required");
    if (o.model == "PXR2K" && !o.channelsGiven) o.channels = {true, false, false, false};
    if (!scriptFile.empty()) {
        std::ifstream f(scriptFile);
        if (!f) return fail("cannot read the script " + scriptFile);
        std::string line;
        int n = 0;
        while (std::getline(f, line)) {
            ++n;
            o.scriptLines.push_back(line);
            o.scriptOrigins.push_back(scriptFile + ":" + std::to_string(n));
        }
    }
    int k = 0;
    for (const std::string& d : doLines) {
        ++k;
        for (const std::string& step : split(d, ';')) {
            o.scriptLines.push_back(step);
            o.scriptOrigins.push_back("--do " + std::to_string(k));
        }
    }
    return true;
}

} // namespace pxrsim
