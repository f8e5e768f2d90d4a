#include "TrumpetCurve.h"

#include "view/GraphLayout.h"

#include "records/RivuletrixDoc.h"

#include <cmath>
#include <cstdlib>

namespace {

// Widens the window ending at end backwards while that brings its length
// nearer to the target; returns its start. Times never go back here, so the
// crossing is found by bisection.
int WindowStart(const CRivuletrixDoc& d, int end, uint32_t target, bool monotone) {
    const uint32_t te = d.ElapsedTicks(end);
    int start = end - 1;
    uint32_t span = te - d.ElapsedTicks(start);
    if (span >= target) return start;
    if (monotone) {
        // Largest s < start with te - t(s) >= target; none: the start stays
        // at the first sample.
        int lo = 0, hi = start; // t-span(hi) < target
        if (te - d.ElapsedTicks(0) < target) return 0;
        while (hi - lo > 1) {
            const int mid = lo + (hi - lo) / 2;
            if (te - d.ElapsedTicks(mid) >= target)
                lo = mid;
            else
                hi = mid;
        }
        const uint32_t before = te - d.ElapsedTicks(hi);
        const uint32_t after = te - d.ElapsedTicks(lo);
        return (target - before) < (after - target) ? hi : lo;
    }
    while (span < target && start > 0) {
        const uint32_t next = te - d.ElapsedTicks(start - 1);
        const int64_t over = std::llabs(int64_t(next) - int64_t(target));
        if (int64_t(target - span) < over) break;
        --start;
        span = next;
    }
    return start;
}

} // namespace

TrumpetCurve TrumpetCurve::Compute(const CRivuletrixDoc& d) {
    TrumpetCurve c;
    const bool cur = d.NewModel;
    // Times as the record reads them back (older records: 1/1024 s).
    const uint32_t tps = uint32_t(layout::ViewTicksPerSecond(d.NewModel, d.TicksPerSecond));
    const uint32_t minute = 60 * tps;
    const uint32_t half = 30 * tps;
    const uint32_t hour = 3600 * tps;
    const uint32_t twoHours = 7200 * tps;
    const uint32_t largestStep = 960000;

    // After a live test has ended the slot past the samples is empty, and a
    // stopped test may leave a last sample with no time: neither shortens
    // the record.
    int last = d.LastSampleIndex();
    while (last > 0 && d.ElapsedTicks(last) == 0) --last;
    if (last < 1 || d.ElapsedTicks(last) < twoHours || d.SetFlowRate == 0) return c;

    bool monotone = true;
    for (int i = 1; i <= last && monotone; ++i)
        monotone = d.ElapsedTicks(i) >= d.ElapsedTicks(i - 1);

    // Analysis points from one hour on, one step apart.
    uint32_t s = minute;
    int n = kMaxPoints;
    uint32_t target = hour;
    int i = 0;
    uint32_t prev = 0, now = d.ElapsedTicks(0);
    for (int k = 0; k < n; ++k) {
        while (i <= last) {
            prev = now;
            now = d.ElapsedTicks(i);
            if (now > target) break;
            ++i;
        }
        if (k == 0) {
            // A sparse record analyses with a longer step.
            uint32_t largest = 0;
            uint32_t lastTime = d.ElapsedTicks(i);
            for (int j = i + 1; j <= last - 1; ++j) {
                if (d.StatusAt(j) == 'C') continue;
                const uint32_t t = d.ElapsedTicks(j);
                largest = std::max(largest, t - lastTime);
                lastTime = t;
            }
            while (s + half < largest) {
                s += minute;
                if (cur && s > largestStep) return c;
            }
            if (s != minute) target = prev;
        }
        if (i > last) {
            // The record ends at or before the target: its last sample.
            i = last;
        } else if (uint32_t(target - prev) <= uint32_t(now - target) && i > 0) {
            --i;
            prev = d.ElapsedTicks(i - 1);
        }
        c.points[k] = i;
        if (k > 0 && c.points[k] <= c.points[k - 1]) return c;
        target += s;
        if (i == last && s > minute) {
            n = k;
            if (k < 25) return c;
            break;
        }
    }
    c.n = n;
    c.stepMinutes = int(s / minute);

    const uint32_t volumeStep = cur ? 0 : d.VolumeStep();
    const auto volumeOk = [&](int j) {
        if (cur) return true;
        if (volumeStep == 0) return true;
        const uint32_t m = d.VolumeAt(j) % volumeStep;
        return m == 0 || m >= 1000;
    };
    const double rate = d.SetFlowRate;
    for (int p = c.stepMinutes; p <= kMaxWindow; ++p) {
        uint32_t mn = kNoMinimum, mx = 0;
        for (int j = p; j < n; ++j) {
            const int end = c.points[j];
            if (end < 1) continue;
            const int start = WindowStart(d, end, uint32_t(p) * minute, monotone);
            if (!volumeOk(end) || !volumeOk(start)) continue;
            const double f = std::trunc(d.FlowOver(end, end - start));
            const uint32_t flow = f <= 0 ? 0 : (f >= 4294967295.0 ? 4294967295u : uint32_t(f));
            mn = std::min(mn, flow);
            mx = std::max(mx, flow);
        }
        c.minFlow[p] = mn;
        c.maxFlow[p] = mx;
        if (mn != kNoMinimum) c.minError[p] = ((mn / 100.0 - rate) / rate) * 100.0;
        if (mx != 0) c.maxError[p] = ((mx / 100.0 - rate) / rate) * 100.0;
    }
    for (int p = 0; p < c.stepMinutes; ++p) c.minFlow[p] = kNoMinimum;
    const int a = c.points[0], b = c.points[n - 1];
    c.overallError = ((d.FlowOver(b, b - a) / 100.0 - rate) / rate) * 100.0;
    c.ok = true;
    return c;
}

namespace {
QString Percent(bool has, double e) {
    if (!has) return QStringLiteral("n/a");
    // No "-0.00" for an error that rounds to nothing.
    return QString::number(std::abs(e) < 0.005 ? 0.0 : e, 'f', 2);
}
} // namespace

QList<TrumpetCurve::Row> TrumpetCurve::TableRows() const {
    QList<Row> rows;
    rows.append(
        {QStringLiteral("Window (min)"), QStringLiteral("Emin %"), QStringLiteral("Emax %")});
    for (int p : kLabelled)
        rows.append(
            {QString::number(p), Percent(HasMin(p), minError[p]), Percent(HasMax(p), maxError[p])});
    return rows;
}

TrumpetCurve::Row TrumpetCurve::OverallRow() const {
    return {QStringLiteral("Ep"), Percent(true, overallError), QString()};
}
