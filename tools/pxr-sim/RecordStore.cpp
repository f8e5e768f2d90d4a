#include "RecordStore.h"

#include <fstream>

#include "Options.h"
#include "Text.h"

#include <algorithm>
#include <cmath>

namespace pxrsim {

static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string recordDate(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return format("%02d-%s-%d", tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900);
}

std::string recordTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return format("%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

size_t Record::lineCount() const {
    size_t n = 0;
    for (const auto& s : sections) n += s.size();
    return n;
}

RecordStore::RecordStore(const Options& options) : options_(options) {}

std::string RecordStore::transducerSerial(int channel) const {
    // A transducer serial of at most 10 characters, derived from the analyzer's.
    std::string tail = options_.serial.size() > 8
                           ? options_.serial.substr(options_.serial.size() - 8)
                           : options_.serial;
    return format("T%d", channel) + tail;
}

static const char* typeName(char type) {
    switch (type) {
    case 'F':
        return "Flow";
    case 'O':
        return "Occlusion";
    case 'P':
        return "PCA/Dual Flow";
    default:
        return "";
    }
}

std::vector<std::string> RecordStore::sectionLines(const RecordHeader& h,
                                                   const std::vector<Sample>& samples) const {
    std::vector<std::string> lines;
    lines.push_back("H1," + options_.serial + "," + options_.firmware);
    lines.push_back(format("H2,%1.1i,", h.channel) + transducerSerial(h.channel) + "," +
                    options_.firmware);
    lines.push_back("H3,");
    lines.push_back("H4,");
    lines.push_back("H5,");
    lines.push_back("H6," + h.control);
    lines.push_back("H7," + h.op);
    lines.push_back("H8," + h.manufacturer);
    lines.push_back("H9," + h.deviceType);
    lines.push_back("H10," + h.pumpSerial);
    lines.push_back("H11," + h.location);
    lines.push_back(std::string("H12,") + typeName(h.type));
    lines.push_back(format("H13,%-7.2f", h.setRate));
    lines.push_back(format("H14,%-7.2f", h.setVolume));
    lines.push_back(format("H15,%-7.2f", h.basalRate));
    lines.push_back(format("H16,%-7.2f", h.pcaVolume));
    lines.push_back("H17,");
    lines.push_back("H18," + recordDate(h.start) + "," + recordTime(h.start));
    lines.push_back("H19," + options_.model);
    lines.push_back("H20," + options_.modelName);
    lines.push_back("H21," + options_.manufacturer);
    lines.push_back("H22," + h.comments);
    // The first data line marks the start of the section.
    for (std::string& l : lines) l = frameSafe(l);
    lines.push_back("D1,:,0,0,0");
    int n = 2;
    for (const Sample& s : samples)
        lines.push_back(format("D%d,%c,%ld,%ld,%ld", n++, s.code, static_cast<long>(s.timeMs),
                               static_cast<long>(s.volume), static_cast<long>(s.pressure)));
    return lines;
}

bool RecordStore::remove(int number) {
    if (number < 1 || number > count()) return false;
    records_.erase(records_.begin() + (number - 1));
    return true;
}

const Record* RecordStore::get(int number) const {
    if (number < 1 || number > count()) return nullptr;
    return &records_[static_cast<size_t>(number - 1)];
}

// Samples of a finished preset test, one per second.
static std::vector<Sample> presetSamples(char type, double rate, int count, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<Sample> out;
    double volume = 0;
    double pressure = 0;
    for (int i = 1; i <= count; ++i) {
        Sample s;
        s.timeMs = static_cast<uint32_t>(i * 1000);
        if (type == 'O') {
            pressure = std::min(450.0, pressure + 4.0);
            volume += rate * 10000.0 / 3600.0 * std::max(0.0, 1.0 - pressure / 450.0);
            if (pressure >= 450.0 && out.back().pressure < 450)
                s.code = 'O';
            else if (pressure >= 300.0)
                s.code = 'o';
        } else {
            double step = rate * 10000.0 / 3600.0;
            if (type == 'P' && i % 60 >= 30 && i % 60 < 36) {
                step += 100.0 * 10000.0 / 3600.0; // a bolus of about 0.17 ml
                if (i % 60 == 30) s.code = 'R';
                if (i % 60 == 35) s.code = 'T';
            }
            volume += std::max(0.0, step * (1.0 + 0.01 * noise(rng)));
            pressure = 5.0 + noise(rng);
        }
        s.volume = static_cast<uint32_t>(volume);
        s.pressure = static_cast<int16_t>(std::lround(pressure));
        out.push_back(s);
    }
    return out;
}

void RecordStore::addPresets(int n, std::mt19937& rng) {
    std::vector<int> present;
    for (int c = 0; c < 4; ++c)
        if (options_.channels[static_cast<size_t>(c)]) present.push_back(c + 1);
    if (present.empty()) present.push_back(1);

    // 1 December 2026, 09:00 local time, one record per hour after it.
    std::tm base{};
    base.tm_year = 2026 - 1900;
    base.tm_mon = 11;
    base.tm_mday = 1;
    base.tm_hour = 9;
    base.tm_isdst = -1;
    std::time_t t0 = std::mktime(&base);

    for (int k = 1; k <= n; ++k) {
        RecordHeader h;
        h.channel = present[static_cast<size_t>(k - 1) % present.size()];
        h.control = format("PRESET-%03d", k);
        h.op = "SIM";
        h.manufacturer = "Acme Infusion";
        h.deviceType = "AP-100";
        h.pumpSerial = format("P%05d", 1000 + k);
        h.location = "Bench";
        h.start = t0 + (k - 1) * 3600 + k * 7;
        Record r;
        const char* types = (k % 4 == 0) ? "FOF" : (k % 4 == 1 ? "F" : (k % 4 == 2 ? "O" : "P"));
        for (const char* t = types; *t; ++t) {
            h.type = *t;
            h.setRate = (*t == 'O') ? 25.0 : 10.0 + k % 5 * 2.5;
            h.setVolume = (*t == 'O') ? 0 : 5.0;
            h.basalRate = (*t == 'P') ? h.setRate : 0;
            h.pcaVolume = (*t == 'P') ? 0.5 : 0;
            int count = options_.presetSamples > 0 ? options_.presetSamples
                        : (*t == 'O')              ? 150
                                                   : 120;
            r.sections.push_back(sectionLines(h, presetSamples(*t, h.setRate, count, rng)));
            h.start += 600;
        }
        add(std::move(r));
    }
}

std::string RecordStore::addFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return "cannot read the record file " + path;
    Record r;
    std::vector<std::string> section;
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == 'N') continue;
        if (line[0] == 'E') {
            if (!section.empty()) r.sections.push_back(std::move(section));
            section.clear();
            continue;
        }
        // Only header and data lines travel; '[' and ']' would break frames.
        if (line[0] == 'H' || line[0] == 'D') section.push_back(frameSafe(line));
    }
    if (!section.empty()) r.sections.push_back(std::move(section));
    if (r.sections.empty()) return "no record lines in " + path;
    add(std::move(r));
    return {};
}

} // namespace pxrsim
