#pragma once

#include <cstdint>
#include <vector>

class CRivuletrixDoc;

// The PCA / dual-flow curve and its bolus detector, in sample and value
// space (values in 0.01 ml/h): which points the curve passes, where the
// bolus markers stand and which boluses get a label. Both variants: records
// with bolus start / end codes, and older records whose edges come from the
// flow. The state is plain data, so a run can stop at any sample and resume
// later as samples append.
struct PcaLabel {
    int preStart, end, start, lastIn, n;
    int startIndex;      // sample of the start point (the label's x)
    double highestValue; // highest point of the bolus (the label's y)
};
struct PcaMark {
    enum Kind { Start, End, Flow } kind;
    int index;
    double value;
};

class PcaSink {
public:
    virtual ~PcaSink() = default;
    virtual void Point(int index, double value) = 0; // the curve goes on to here
    virtual void Mark(const PcaMark& mark) = 0;
    virtual void Label(const PcaLabel& label) = 0;
};

class PcaDetector {
public:
    // The bolus table's variant (table = true) takes the set rate as it is
    // and, in records with codes, completes a bolus at its end code.
    explicit PcaDetector(const CRivuletrixDoc& doc, bool table = false);
    // The start point of the curve.
    double StartValue() const;
    // Takes sample i; last is the last sample of the record as it stands.
    void Step(int i, int last, PcaSink& out);
    int First() const; // first sample to step

    int bolusCount = 0;
    double lastFlow = 0;
    double maxF2 = 0; // largest in-bolus flow seen (raises the flow maximum)

private:
    void StepMarked(int i, int last, PcaSink& out);
    void StepOlder(int i, int last, PcaSink& out);
    void Point(int i, double v, PcaSink& out) {
        out.Point(i, v);
        prevIndex = i;
        prevValue = v;
    }

    const CRivuletrixDoc* d;
    double setRate;
    bool endAtCode = false;
    uint32_t ticksPerSecond;
    // Both variants.
    int anchor = 0, bolusStart = 0, bolusEnd = -1, lastIn = 0;
    int startIndex = 0;
    double startValue = 0, highest = 0;
    int prevIndex = 0;
    double prevValue = 0;
    // Records with codes.
    int bolusLen = 0;
    bool inBolus = false, endPending = false;
    // Older records.
    int state = 0, preStart = 0, prevKept = -1;
    double prevFlow = 0;
};

// The curve of one time scale reduced per pixel column in value space, with
// the detector stopped before the record's last sample; kept between frames.
struct PcaMemo {
    struct Column {
        int64_t col;
        double first, mn, mx, last;
        int count;
    };
    double timeScale = -1;
    int committed = 0; // samples stepped
    const CRivuletrixDoc* doc = nullptr;
    std::vector<Column> columns;
    std::vector<PcaMark> marks;
    std::vector<PcaLabel> labels;
    PcaDetector detector;
    explicit PcaMemo(const CRivuletrixDoc& d) : doc(&d), detector(d) {}
};
