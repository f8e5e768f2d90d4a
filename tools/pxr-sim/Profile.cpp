#include "Profile.h"

#include "Text.h"

namespace pxrsim {

std::string parseProfile(const std::string& spec, Profile& p) {
    for (const std::string& rawItem : split(spec, ',')) {
        std::string item = trim(rawItem);
        if (item.empty()) continue;
        size_t eq = item.find('=');
        if (eq == std::string::npos) {
            if (item == "flow")
                p.kind = Profile::Kind::Flow;
            else if (item == "pca")
                p.kind = Profile::Kind::Pca;
            else if (item == "occlusion")
                p.kind = Profile::Kind::Occlusion;
            else if (item == "auto")
                p.kind = Profile::Kind::Auto;
            else
                return "unknown profile kind '" + item + "'";
            continue;
        }
        std::string key = trim(item.substr(0, eq));
        double v = 0;
        if (!parseDouble(trim(item.substr(eq + 1)), v))
            return "profile value of '" + key + "' is not a number";
        if (key == "rate")
            p.rate = v;
        else if (key == "error")
            p.errorPct = v;
        else if (key == "noise")
            p.noisePct = v;
        else if (key == "pressure")
            p.basePressure = v;
        else if (key == "pnoise")
            p.pressureNoise = v;
        else if (key == "bubble")
            p.bubbleEvery = static_cast<int>(v);
        else if (key == "airlock")
            p.airlockEvery = static_cast<int>(v);
        else if (key == "bolus")
            p.bolusMl = v;
        else if (key == "bolus-rate")
            p.bolusRate = v;
        else if (key == "every")
            p.bolusEveryS = v;
        else if (key == "first")
            p.firstBolusS = v;
        else if (key == "ramp")
            p.rampMmHgPerS = v;
        else if (key == "peak")
            p.peakMmHg = v;
        else if (key == "over")
            p.overMmHg = v;
        else if (key == "stop")
            p.stopS = v;
        else if (key == "samples")
            p.stopSamples = static_cast<long>(v);
        else
            return "unknown profile key '" + key + "'";
    }
    if (p.bolusRate <= 0) return "bolus-rate must be above 0";
    return {};
}

} // namespace pxrsim
