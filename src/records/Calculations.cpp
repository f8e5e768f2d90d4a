// Values computed from the samples: times, volumes, pressures, flows, bolus
// edges and counts.
#include "RivuletrixDoc.h"

#include <QString>

#include <algorithm>
#include <cmath>

int CRivuletrixDoc::SampleCount() const {
    return Run.running ? m_storedCount : m_storedCount + 1;
}

int CRivuletrixDoc::LastSampleIndex() const {
    return std::max(0, std::min(SampleCount(), int(m_samples.size())) - 1);
}

uint32_t CRivuletrixDoc::ElapsedTicks(int i) const {
    const Sample* s = At(i);
    if (!s) return 0;
    return NewModel ? s->time : s->time * 4u;
}

uint64_t CRivuletrixDoc::ElapsedMs(int i) const {
    const Sample* s = At(i);
    if (!s) return 0;
    return NewModel ? s->time : uint64_t(s->time) * 1000u / 256u;
}

uint32_t CRivuletrixDoc::VolumeAt(int i) const {
    const Sample* s = At(i);
    return s ? s->volume : 0;
}

char CRivuletrixDoc::StatusAt(int i) const {
    const Sample* s = At(i);
    return s ? s->code : ' ';
}

int CRivuletrixDoc::PressureAt(int i) const {
    const Sample* s = At(i);
    return s ? s->pressure : 0;
}

double CRivuletrixDoc::PressureKpa(int i) const {
    return PressureAt(i) / 7.499;
}

double CRivuletrixDoc::PressurePsi(int i) const {
    return PressureAt(i) / 51.71;
}

double CRivuletrixDoc::FlowFromDelta(uint32_t dt, uint32_t dv) const {
    if (dv == 0) return 0;
    if (NewModel) {
        // Two samples with the same time: no flow can be measured.
        if (dt == 0) return 0;
        return double(uint32_t(dv * 10u)) / double(dt) * 3600.0;
    }
    // 1/256 s ticks; three forms keep the products inside 32 bits.
    if (dv > 110000000u && dt >= 256u) return double(dv / (dt >> 8) * 36u);
    if (dt > 76799u || (dt >= 256u && dv > 450000u)) return double(dv * 36u / (dt >> 8));
    if (dt != 0) return double(dv * 9216u / dt);
    return 4294967295.0;
}

double CRivuletrixDoc::FlowOver(int i, int n) const {
    if (i < 1 || size_t(i) >= m_samples.size()) return 0;
    if (n > i) n = i;
    const SampleArray& s = m_samples;
    const uint32_t ti = s[i].time;
    const uint32_t vi = s[i].volume;
    if (n < 0) {
        // Volume window of -n units. The 'C' test looks at slot n itself.
        const uint32_t w = uint32_t(-int64_t(n));
        n = 1;
        while (n <= i && (s[n].code == 'C' || vi - s[i - n].volume < w)) ++n;
    }
    const uint32_t minDt = uint32_t(TicksPerSecond / 10);
    uint32_t t0 = 0, v0 = 0, dt = 0;
    for (;;) {
        if (i - n < 0) break;
        const Sample& w = s[i - n];
        if (w.code != 'C') {
            t0 = w.time;
            v0 = w.volume;
            dt = ti - t0;
        }
        if (dt < minDt) {
            ++n;
            continue;
        }
        break;
    }
    if (vi < v0) return 0;
    return FlowFromDelta(ti - t0, vi - v0);
}

double CRivuletrixDoc::AverageFlowAt(int i) const {
    const Sample* s = At(i);
    if (!s) return 0;
    return FlowFromDelta(s->time, s->volume);
}

int CRivuletrixDoc::BolusEdgeAt(int i) const {
    for (int k = i - 2; k <= i + 1; ++k)
        if (StatusAt(k) == 'b') return 0;
    double r = SetFlowRate;
    if (TestType == 'D') r = std::min(SetFlowRate, SetBasalFlowRate);
    if (r == 0) r = 0.0001;

    if (NewModel) {
        const char code = StatusAt(i);
        if (code == 'R' || code == 'r') return 1;
        if (code == 'T') return -1;
        return 0;
    }
    const auto whole = [this](int j) {
        const int64_t f = int64_t(std::trunc(FlowOver(j, 1)));
        return f == 0 ? int64_t(1) : f;
    };
    const int64_t f0 = whole(i), f1 = whole(i - 1), f2 = whole(i - 2);
    const int64_t k = BolusThresholdK;
    const double threshold = double(k) * r * 100.0;
    if (double(f0) > threshold && (f0 / f1 >= k || (f0 / f2 >= k && f1 < f0))) return 1;
    if (VolumeAt(i - 1) == 0 && double(f0) >= threshold) return 1;
    if (r > 0.0001) return double(f0) < threshold ? -1 : 0;
    return (f1 / f0 > k || f2 / f0 > k || f2 / f1 > k) ? -1 : 0;
}

int CRivuletrixDoc::BolusCount() const {
    int n = 0, state = 0;
    for (int i = 0; i < m_storedCount; ++i) {
        const int64_t f = int64_t(std::trunc(FlowOver(i, 1)));
        const int e = BolusEdgeAt(i);
        if (state == 0 && e >= 1 && double(f) > SetFlowRate * 200.0) {
            state = 1;
        } else if (state > 0) {
            if (e < 0 && (SetFlowRate != 0 || f == 0))
                state = state >= 2 ? -1 : 0;
            else
                ++state;
        }
        if (state == -1) {
            ++n;
            state = 0;
        }
    }
    return n;
}

int CRivuletrixDoc::PcaTableRows() const {
    return TestType == 'P' ? BolusCount() * 6 : m_storedCount;
}

uint32_t CRivuletrixDoc::VolumeStep() const {
    if (TestType != 'F' && TestType != 'P') return 0;
    const int end = std::min<int>(m_storedCount, int(m_samples.size()));
    const SampleArray& s = m_samples;
    int first = 0;
    while (first < end && s[first].volume < 10000u) ++first;
    if (first >= end) return 0;

    bool rising = true;
    for (int k = first + 1; k < end && rising; ++k) rising = s[k].volume >= s[k - 1].volume;
    // The first slot from x on that reaches twice x's volume. With rising
    // volumes it never moves back, so one pass finds every answer.
    int j = first;
    for (int x = first; x < end; ++x) {
        const uint64_t twice = uint64_t(s[x].volume) * 2u;
        if (!rising || j < x) j = x;
        while (j < end && s[j].volume < twice) ++j;
        if (j >= end) return 0;
        if (s[j].volume == twice) return s[x].volume;
    }
    return 0;
}

QString CRivuletrixDoc::FormatHms(uint64_t ms) {
    const uint64_t s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
