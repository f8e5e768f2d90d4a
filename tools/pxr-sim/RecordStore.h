#pragma once
// The analyzer's stored test records, kept as the lines it sends on download.

#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace pxrsim {

struct Options;

struct Sample {
    char code = ' ';
    uint32_t timeMs = 0;
    uint32_t volume = 0;  // 0.1 ul, cumulative
    int16_t pressure = 0; // mmHg
};

// What the header of one record section says.
struct RecordHeader {
    int channel = 1; // 1-based
    char type = 'F'; // 'F', 'O' or 'P'
    std::string control, op, manufacturer, deviceType, pumpSerial, location, comments;
    double setRate = 0, setVolume = 0, basalRate = 0, pcaVolume = 0;
    std::time_t start = 0;
};

// One record: one or more sections (several for a record of a template run),
// each the H1..H22 lines followed by the D lines, without line ends.
struct Record {
    std::vector<std::vector<std::string>> sections;
    size_t lineCount() const;
};

class RecordStore {
public:
    explicit RecordStore(const Options& options);

    // Builds the section lines of a test from its header and samples.
    std::vector<std::string> sectionLines(const RecordHeader& header,
                                          const std::vector<Sample>& samples) const;

    void add(Record record) { records_.push_back(std::move(record)); }
    // 1-based; false when there is no such record.
    bool remove(int number);
    const Record* get(int number) const;
    int count() const { return static_cast<int>(records_.size()); }

    // Fills the store with n believable records: Flow, Occlusion, PCA and
    // three-step template records in turn.
    void addPresets(int n, std::mt19937& rng);
    // Stores the record of a record file (its N and E lines mark the
    // sections). Empty on success, else why the file was not taken.
    std::string addFile(const std::string& path);

    std::string transducerSerial(int channel) const;

private:
    const Options& options_;
    std::vector<Record> records_;
};

// "08-Dec-2026" and "14:05:09" in local time.
std::string recordDate(std::time_t t);
std::string recordTime(std::time_t t);

} // namespace pxrsim
