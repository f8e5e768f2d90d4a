#include "PcaDetector.h"

#include "view/GraphLayout.h"

#include "records/RivuletrixDoc.h"

#include <algorithm>
#include <cmath>

namespace {
bool IsFlowMarker(char code) {
    return code == 'b' || code == 'B' || code == 'a' || code == 'A';
}
} // namespace

PcaDetector::PcaDetector(const CRivuletrixDoc& doc, bool table)
    : d(&doc), setRate(doc.SetFlowRate != 0 || table ? doc.SetFlowRate : 0.0001), endAtCode(table),
      ticksPerSecond(uint32_t(layout::ViewTicksPerSecond(doc.NewModel, doc.TicksPerSecond))) {}

double PcaDetector::StartValue() const {
    return std::trunc(d->FlowOver(0, 1));
}

int PcaDetector::First() const {
    return d->NewModel ? 1 : 0;
}

void PcaDetector::Step(int i, int last, PcaSink& out) {
    if (d->NewModel)
        StepMarked(i, last, out);
    else
        StepOlder(i, last, out);
}

void PcaDetector::StepMarked(int i, int last, PcaSink& out) {
    const CRivuletrixDoc& doc = *d;
    const char code = doc.StatusAt(i);
    if (code == 'C') return;
    if (doc.ElapsedTicks(i) < doc.ElapsedTicks(i - 1)) return;
    if (doc.ElapsedTicks(i) == doc.ElapsedTicks(i - 1) && doc.StatusAt(i - 1) == 'T') return;
    // Inside a bolus the flow is per interval, outside it is the average
    // since the last bolus ended.
    const double flow = std::trunc(doc.FlowOver(i, i - anchor));
    if (inBolus) anchor = i;
    lastFlow = flow;
    const int edge = doc.BolusEdgeAt(i);
    double value = flow;
    if (inBolus && bolusLen > 1) {
        value = std::trunc(doc.FlowOver(i, i - bolusStart));
        maxF2 = std::max(maxF2, value);
    }
    if (IsFlowMarker(code)) out.Mark({PcaMark::Flow, i, value});
    if (!inBolus && edge > 0) {
        inBolus = true;
        bolusStart = std::max(i, 1);
        bolusLen = 1;
        startIndex = i;
        startValue = highest = value;
    } else if (inBolus) {
        if (edge == 1) {
            // A restart: marker and label move with the numbers.
            bolusStart = i;
            bolusLen = 1;
            startIndex = i;
            startValue = highest = value;
        } else if (edge < 0) {
            out.Mark({PcaMark::Start, startIndex, startValue});
            bolusEnd = i;
            lastIn = i;
            anchor = i;
            endPending = true;
            inBolus = false;
        } else {
            ++bolusLen;
        }
    }
    if (endPending && (endAtCode || doc.VolumeAt(i) != doc.VolumeAt(i - 1) || i == last)) {
        endPending = false;
        out.Mark({PcaMark::End, i, value});
        bolusEnd = i;
        ++bolusCount;
        int pre = bolusStart, start = bolusStart;
        if (doc.SetRateIsZero) {
            pre = std::max(0, pre - 1);
            start = std::max(0, start - 1);
        }
        out.Label({pre, bolusEnd, start, lastIn, bolusCount, startIndex, highest});
    }
    if (doc.SetFlowRate == 0 || doc.VolumeAt(i) != 0) Point(i, value, out);
    if (inBolus) highest = std::max(highest, value);
}

void PcaDetector::StepOlder(int i, int last, PcaSink& out) {
    const CRivuletrixDoc& doc = *d;
    const char code = doc.StatusAt(i);
    if (code == 'C') return;
    // At most one sample a second, but never one that carries a bolus start.
    if (prevKept >= 0 && doc.ElapsedTicks(i) < doc.ElapsedTicks(prevKept) + ticksPerSecond &&
        doc.BolusEdgeAt(i) < 1)
        return;
    if (i > 0 && doc.ElapsedTicks(i) == 0) return;
    double flow = std::trunc(doc.FlowOver(i, i - anchor));
    const int anchorBefore = anchor;
    if (flow != 0) anchor = i;
    if (state < 1 && bolusEnd >= 0) {
        if (state < -1 && flow == 0 && i != last) return;
        if (prevFlow == 0 && flow != 0)
            flow = std::trunc(doc.FlowOver(i, i - std::max(bolusEnd - 1, 0)));
        if (state == -1) {
            state = -2;
            bolusEnd = i;
        }
    }
    prevKept = i;
    lastFlow = flow;
    const int edge = doc.BolusEdgeAt(i);
    double value = flow;
    if (IsFlowMarker(code)) out.Mark({PcaMark::Flow, i, value});
    if (state == 0 && edge >= 1 && flow > 200.0 * setRate) {
        state = 1;
        preStart = std::max(i - 1, 1);
        bolusStart = std::max(i, 1);
        startIndex = i;
        startValue = highest = value;
    } else if (state > 0) {
        if (edge >= 1 && bolusStart == i - 1) {
            bolusStart = i;
        } else if (edge < 0) {
            bolusEnd = i;
            lastIn = i - 1;
            if (state == 1) {
                // A one-sample bolus: the flow here is taken over the run of
                // equal volumes before this sample, not from the anchor,
                // which may lie before samples the one-second rule skipped.
                state = 0;
                int j = i - 1;
                while (j > 0 && doc.VolumeAt(j - 1) == doc.VolumeAt(i - 1)) --j;
                flow = value = std::trunc(doc.FlowOver(i, i - j));
                lastFlow = flow;
            } else {
                state = -1;
            }
        } else {
            if (state == 1) out.Mark({PcaMark::Start, prevIndex, prevValue});
            ++state;
        }
    }
    if (state == -2 && (doc.VolumeAt(i) != doc.VolumeAt(i - 1) || i == last)) {
        state = 0;
        out.Mark({PcaMark::End, prevIndex, prevValue});
        bolusEnd = i;
        ++bolusCount;
        out.Label({preStart, bolusEnd, bolusStart, lastIn, bolusCount, startIndex, highest});
    }
    const bool drawIt = (i == anchor && i != last) ||
                        (i == anchorBefore + 1 && doc.VolumeAt(i) == doc.VolumeAt(anchorBefore)) ||
                        i == last;
    if (drawIt) Point(i, value, out);
    if (state > 0) highest = std::max(highest, value);
    prevFlow = flow;
}
