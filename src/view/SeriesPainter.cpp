#include "SeriesPainter.h"

#include "view/GraphLayout.h"
#include "view/PathSink.h"
#include "view/PcaDetector.h"
#include "view/SeriesCache.h"

#include "records/RivuletrixDoc.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace series {
namespace {

using layout::Clamp16;

QPen LinePen(const QColor& color, int width, Qt::PenStyle style = Qt::SolidLine) {
    // Round caps: the separate segments of a wide line meet as one stroke.
    return QPen(color, width <= 1 ? 1 : width, style, Qt::RoundCap, Qt::RoundJoin);
}

int64_t Trunc(double v) {
    if (v > 9e18) return INT64_MAX / 2;
    if (v < -9e18) return INT64_MIN / 2;
    return int64_t(v);
}

// y of a value on an axis of the given scale.
int YOf(const RenderContext& c, double value, double scale) {
    return Clamp16(int64_t(c.st.bottom) - Trunc(value / scale));
}

bool InMarkerRange(int x, int y) {
    return x >= -32767 && x <= 32766 && y >= -32767 && y <= 32766;
}

// "Drawing forward": a point left of the last one only moves the pen.
struct Forward {
    PathSink& sink;
    int lastX;
    bool Draw(int x, int y) {
        if (x < lastX) {
            sink.MoveTo(lastX, y);
            return false;
        }
        sink.LineTo(x, y);
        lastX = x;
        return true;
    }
};

int64_t Column(const RenderContext& c, int i) {
    return Trunc(c.cache.Ticks(i) / c.st.timeScale);
}

template <typename YFn>
void DrawColumns(RenderContext& c, int s, Forward& fwd, YFn yOf, int64_t maxCol = -1) {
    const SeriesCache::Columns& m = c.cache.ColumnsFor(c.st.timeScale, s);
    const std::vector<SeriesCache::Range>& ranges = m.ranges[s];
    for (size_t k = 0; k < m.start.size(); ++k) {
        int64_t col = m.col[k];
        SeriesCache::Range r = ranges[k];
        if (maxCol >= 0 && col >= maxCol) {
            // Everything right of the plot joins its last column.
            col = maxCol;
            for (size_t j = k + 1; j < m.start.size(); ++j) {
                const SeriesCache::Range& o = ranges[j];
                if (o.first < 0) continue;
                if (r.first < 0) {
                    r.first = o.first;
                    r.firstValue = o.firstValue;
                }
                r.last = o.last;
                r.lastValue = o.lastValue;
                r.mn = std::min(r.mn, o.mn);
                r.mx = std::max(r.mx, o.mx);
            }
            k = m.start.size();
        }
        if (r.first < 0) continue;
        const int x = Clamp16(int64_t(c.st.left) + col);
        fwd.Draw(x, yOf(r.firstValue));
        fwd.Draw(x, yOf(r.mn));
        fwd.Draw(x, yOf(r.mx));
        fwd.Draw(x, yOf(r.lastValue));
    }
}

bool FastPath(const RenderContext& c) {
    return !c.o.everyPoint && c.cache.Monotone() && c.st.timeScale > 0;
}

void DrawCaption(RenderContext& c, int x, int y, const QString& text, bool rightAligned) {
    c.p.save();
    c.p.setFont(c.PointFont(8));
    c.p.setPen(viewcolor::kRed);
    const QFontMetrics fm = c.p.fontMetrics();
    const int w = fm.horizontalAdvance(text);
    // Lower corner at the point.
    c.p.drawText(QPoint(rightAligned ? x - w : x, y - fm.descent()), text);
    c.p.restore();
}

} // namespace

QPen PressurePen(const RenderContext& c) {
    return LinePen(viewcolor::kPressure, c.o.lineWidth);
}
QPen InstFlowPen(const RenderContext& c) {
    return c.t.monochrome ? LinePen(viewcolor::kBlack, 1)
                          : LinePen(viewcolor::kInstFlow, c.o.lineWidth);
}
QPen AvgFlowPen(const RenderContext& c) {
    return c.t.monochrome ? LinePen(viewcolor::kBlack, 1, Qt::DashDotLine)
                          : LinePen(viewcolor::kAvgFlow, c.o.lineWidth);
}
QPen VolumePen(const RenderContext& c) {
    return c.t.monochrome ? LinePen(viewcolor::kBlack, 1, Qt::DotLine)
                          : LinePen(viewcolor::kVolume, c.o.lineWidth);
}
QPen PcaPen(const RenderContext& c) {
    return c.t.monochrome ? LinePen(viewcolor::kBlack, 1) : LinePen(viewcolor::kPca, c.o.lineWidth);
}
QPen SetRatePen() {
    return LinePen(viewcolor::kBlack, 1, Qt::DashLine);
}
QPen TolerancePen() {
    return LinePen(viewcolor::kBlack, 1, Qt::DashDotDotLine);
}

void EnsureScales(RenderContext& c) {
    ViewState& st = c.st;
    if (st.timeScale == 0) {
        st.timeScale = double(st.timeMax) / double(st.width);
        if (st.timeScale == 0) st.timeScale = 1.0;
    }
    if (st.flowScale == 0) st.flowScale = layout::AxisScale(st.flowMax, st.height, 5);
}

// ---------------------------------------------------------------- markers

void Bubble(RenderContext& c, int x, int y) {
    if (!InMarkerRange(x, y)) return;
    c.st.key.bubble = true;
    c.p.save();
    c.p.setPen(LinePen(viewcolor::kBlue, 1));
    c.p.setBrush(Qt::NoBrush);
    const int rx = c.t.dpiX / 30, ry = c.t.dpiY / 30;
    const int sx = c.t.dpiX / 40, sy = c.t.dpiY / 40;
    // A rising string of bubbles while the point is low in the plot.
    const int limit = (y > c.st.bottom ? y + c.charH : c.st.bottom) - 3 * c.charH;
    int yy = y;
    for (int group = 0; group < 64; ++group) {
        c.p.drawEllipse(QPoint(x, yy), rx, ry);
        c.p.drawEllipse(QPoint(x, yy + 2 * ry), sx, sy);
        c.p.drawEllipse(QPoint(x, yy + 2 * ry - 6 * sy), sx, sy);
        yy -= 8 * sy;
        if (yy <= limit || sy <= 0) break;
    }
    c.p.restore();
}

void AirLock(RenderContext& c, int x, int y, bool first, bool caption) {
    if (!InMarkerRange(x, y)) return;
    c.st.key.airLock = true;
    const int w = c.charW, h = c.charH;
    c.p.save();
    c.p.setPen(LinePen(viewcolor::kRed, 1));
    if (first) {
        c.p.drawLine(x - w, y - h / 2, x + w, y + h / 2);
        c.p.drawLine(x - w, y + h / 2, x + w, y - h / 2);
    } else {
        c.p.drawLine(x, y - h / 2, x - w, y - h / 2);
        c.p.drawLine(x, y + h / 2, x - w, y + h / 2);
    }
    c.p.restore();
    if (caption) DrawCaption(c, x, y, QStringLiteral("(Air Lock)"), false);
}

void OverPressure(RenderContext& c, int x, int y, bool caption) {
    c.st.key.overPressure = true;
    const int w = c.charW, h = c.charH;
    c.p.save();
    c.p.setPen(LinePen(viewcolor::kBlue, 1));
    c.p.setBrush(Qt::NoBrush);
    c.p.drawLine(x, y, x, y - (3 * h) / 4);
    c.p.drawEllipse(QRect(x - w / 2, y - h / 2, w, h));
    c.p.restore();
    if (caption) DrawCaption(c, x, y, QStringLiteral("Over Pressure"), true);
}

void BolusStart(RenderContext& c, int x, int y) {
    if (!InMarkerRange(x, y)) return;
    c.st.key.bolusMarkers = true;
    const int w = c.charW, h = c.charH;
    c.p.save();
    c.p.setPen(LinePen(viewcolor::kRed, 1));
    c.p.drawLine(x, y + h / 2, x, y - h / 2);
    c.p.drawLine(x, y - h / 2, x - w, y + h / 2 - h / 4);
    c.p.drawLine(x, y - h / 2, x + w, y + h / 2 - h / 4);
    c.p.restore();
}

void BolusEnd(RenderContext& c, int x, int y) {
    if (!InMarkerRange(x, y)) return;
    c.st.key.bolusMarkers = true;
    const int w = c.charW, h = c.charH;
    c.p.save();
    c.p.setPen(LinePen(viewcolor::kRed, 1));
    c.p.drawLine(x, y - h, x, y);
    c.p.drawLine(x, y, x - w, y - h + h / 4);
    c.p.drawLine(x, y, x + w, y - h + h / 4);
    c.p.restore();
}

// ---------------------------------------------------------------- series

void DrawPressure(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    if (!c.plotOk) return;
    if (d.TestType == 'O') st.key.pressure = true;
    EnsureScales(c);
    if (st.pressureScale == 0) st.pressureScale = layout::AxisScale(st.pressureMax, st.height, 5);
    const double scale = st.pressureScale;
    const auto yOf = [&](int32_t v) { return YOf(c, v, scale); };
    const int n = d.SampleCount();
    PathSink sink(c.o.everyPoint);
    c.p.setPen(PressurePen(c));
    const int x0 = Clamp16(int64_t(st.left) + Column(c, 0));
    sink.MoveTo(x0, yOf(d.PressureAt(0)));
    Forward fwd{sink, x0};
    if (FastPath(c)) {
        DrawColumns(c, SeriesCache::Pressure, fwd, yOf);
    } else {
        for (int i = 0; i < n; ++i) {
            if (!c.cache.Included(SeriesCache::Pressure, i)) continue;
            fwd.Draw(Clamp16(int64_t(st.left) + Column(c, i)), yOf(d.PressureAt(i)));
        }
    }
    sink.Finish(c.p);
    // Over-pressure markers, captioned at the first of a run; a marker on
    // the very spot of the previous one adds nothing.
    QPoint lastMark(INT_MIN, INT_MIN);
    for (const SeriesCache::EventRun& run : c.cache.events) {
        for (int i = run.first; i <= run.last; ++i) {
            const char code = d.StatusAt(i);
            if (code != 'o' && code != 'O') continue;
            if (!c.cache.Included(SeriesCache::Pressure, i)) continue;
            const char prev = d.StatusAt(i - 1);
            const bool caption = prev != 'o' && prev != 'O';
            const QPoint at(Clamp16(int64_t(st.left) + Column(c, i)), yOf(d.PressureAt(i)));
            if (!caption && at == lastMark) continue;
            OverPressure(c, at.x(), at.y(), caption);
            lastMark = at;
        }
    }
}

void DrawSetRate(RenderContext& c) {
    ViewState& st = c.st;
    if (!c.plotOk || c.doc.TestType == 'O') return;
    const double rate = c.doc.SetFlowRate * 100.0;
    if (!(rate > 0)) return;
    EnsureScales(c);
    const double tol = c.doc.DefaultTolerance;
    const double upper = (tol / 100.0 + 1.0) * rate;
    const double lower = (1.0 - tol / 100.0) * rate;
    const int x1 = st.left, x2 = st.left + st.width;
    c.p.setPen(SetRatePen());
    int y = YOf(c, rate, st.flowScale);
    c.p.drawLine(x1, y, x2, y);
    c.p.setPen(TolerancePen());
    y = YOf(c, upper, st.flowScale);
    c.p.drawLine(x1, y, x2, y);
    y = YOf(c, lower, st.flowScale);
    c.p.drawLine(x1, y, x2, y);
}

void DrawInstFlow(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    if (!c.plotOk) return;
    st.key.instFlow = true;
    EnsureScales(c);
    const double scale = st.flowScale;
    // A line drawn here ends one pixel lower.
    const auto yOf = [&](int32_t v) { return Clamp16(int64_t(YOf(c, v, scale)) + 1); };
    PathSink sink(c.o.everyPoint);
    c.p.setPen(InstFlowPen(c));
    const int x0 = Clamp16(int64_t(st.left) + Column(c, 0));
    sink.MoveTo(x0, YOf(c, std::trunc(d.FlowOver(0, 1)), scale));
    Forward fwd{sink, x0};
    if (FastPath(c) && c.cache.Monotone()) {
        DrawColumns(c, SeriesCache::Inst, fwd, yOf);
    } else {
        const int n = d.SampleCount();
        for (int i = 0; i < n; ++i) {
            if (!c.cache.Included(SeriesCache::Inst, i)) continue;
            fwd.Draw(Clamp16(int64_t(st.left) + Column(c, i)),
                     yOf(c.cache.Value(SeriesCache::Inst, i)));
        }
    }
    sink.Finish(c.p);
}

namespace {
// Bubble and air-lock markers at the average flow (or PCA) points.
void FlowMarkers(RenderContext& c, int i, int x, int y) {
    const char code = c.doc.StatusAt(i);
    if (code == 'b' || code == 'B') {
        Bubble(c, x, y);
    } else if (code == 'a' || code == 'A') {
        const char prev = c.doc.StatusAt(i - 1);
        const bool first = prev != 'a' && prev != 'A';
        AirLock(c, x, y, first, first);
    }
}
} // namespace

void DrawAvgFlow(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    if (!c.plotOk) return;
    st.key.avgFlow = true;
    EnsureScales(c);
    const double scale = st.flowScale;
    const auto yOf = [&](int32_t v) { return YOf(c, v, scale); };
    const int right = st.left + st.width;
    const auto xOf = [&](int i) {
        return Clamp16(std::min<int64_t>(int64_t(st.left) + Column(c, i), right));
    };
    PathSink sink(c.o.everyPoint);
    c.p.setPen(AvgFlowPen(c));
    const int x0 = xOf(0);
    sink.MoveTo(x0, yOf(c.cache.Value(SeriesCache::Avg, 0)));
    Forward fwd{sink, x0};
    // Samples where a line was drawn carry the markers.
    std::vector<char> drawnAt;
    const bool fast = FastPath(c);
    if (fast) {
        DrawColumns(c, SeriesCache::Avg, fwd, yOf, int64_t(st.width));
    } else {
        const int n = d.SampleCount();
        drawnAt.assign(size_t(std::max(n, 0)), 0);
        for (int i = 0; i < n; ++i) {
            if (!c.cache.Included(SeriesCache::Avg, i)) continue;
            if (fwd.Draw(xOf(i), yOf(c.cache.Value(SeriesCache::Avg, i)))) drawnAt[size_t(i)] = 1;
        }
    }
    sink.Finish(c.p);
    for (const SeriesCache::EventRun& run : c.cache.events) {
        for (int i = run.first; i <= run.last; ++i) {
            if (!c.cache.Included(SeriesCache::Avg, i)) continue;
            if (!fast && (size_t(i) >= drawnAt.size() || !drawnAt[size_t(i)])) continue;
            FlowMarkers(c, i, xOf(i), yOf(c.cache.Value(SeriesCache::Avg, i)));
        }
    }
}

void DrawVolume(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    if (!c.plotOk) return;
    st.key.volume = true;
    EnsureScales(c);
    if (st.volumeScale == 0) st.volumeScale = layout::AxisScale(st.volumeMax, st.height, 10);
    const double scale = st.volumeScale;
    const auto yOf = [&](int64_t v) { return YOf(c, double(v), scale); };
    PathSink sink(c.o.everyPoint);
    c.p.setPen(VolumePen(c));
    const int x0 = Clamp16(int64_t(st.left) + Column(c, 0));
    sink.MoveTo(x0, yOf(d.VolumeAt(0)));
    Forward fwd{sink, x0};
    const int n = d.SampleCount();
    if (FastPath(c)) {
        DrawColumns(c, SeriesCache::Volume, fwd, yOf);
        // A PCA record's last sample is drawn even when it repeats a volume.
        const int last = n - 1;
        if (d.TestType == 'P' && last > 0 && d.StatusAt(last) != 'C' &&
            (last >= c.cache.Processed() || c.cache.FlatPca(last)))
            fwd.Draw(Clamp16(int64_t(st.left) + Column(c, last)), yOf(d.VolumeAt(last)));
    } else {
        // PCA records leave out flat stretches except the last sample.
        bool any = false;
        uint32_t lastDrawn = 0;
        for (int i = 0; i < n; ++i) {
            if (d.StatusAt(i) == 'C') continue;
            const uint32_t v = d.VolumeAt(i);
            if (d.TestType == 'P' && any && v == lastDrawn && i != n - 1) continue;
            fwd.Draw(Clamp16(int64_t(st.left) + Column(c, i)), yOf(v));
            lastDrawn = v;
            any = true;
        }
    }
    sink.Finish(c.p);
}

// ---------------------------------------------------------------- PCA

namespace {

struct BolusLabeller {
    RenderContext& c;
    QRect lastRect;
    bool lastRaised = false;

    // Label of bolus n with its statistics, placed right of the start point.
    void Draw(int preStart, int end, int start, int lastIn, int n, int startX, int topY) {
        const CRivuletrixDoc& d = c.doc;
        ViewState& st = c.st;
        int r = lastIn;
        while (r >= 0 && d.FlowOver(r, 1) == 0) --r;
        if (r < 0) r = lastIn;
        const double duration = (double(d.ElapsedTicks(r)) - double(d.ElapsedTicks(start))) /
                                layout::ViewTicksPerSecond(d.NewModel, d.TicksPerSecond);
        const double volume = (double(d.VolumeAt(end)) - double(d.VolumeAt(preStart))) / 10000.0;
        const double rate = d.FlowOver(r, r - start) / 100.0;
        if (n <= 1) {
            lastRect = QRect();
            lastRaised = false;
        }
        if (!st.showBolusLabels) return;

        const QString texts[3] = {QString::asprintf("Bolus/Sec Volume  %0.2f ml", volume).trimmed(),
                                  QString::asprintf("Duration %0.2f secs", duration).trimmed(),
                                  QString::asprintf("Av. Rate  %7.2f ml/h", rate).trimmed()};
        c.p.save();
        const QFont font = c.PointFont(8);
        c.p.setFont(font);
        const QFontMetrics fm = c.p.fontMetrics();
        // Line pitch: character height less internal leading.
        const int pitch = std::max(1, font.pixelSize());
        int longest = 0;
        for (const QString& t : texts) longest = std::max(longest, fm.horizontalAdvance(t));
        const int across = 3 * pitch + pitch / 4;
        const int along = longest + 2 * fm.averageCharWidth();
        if (across > st.width / 2 || along > st.height / 2) {
            c.p.restore();
            return;
        }
        int left = startX + pitch;
        int bottom = topY;
        bool raised = false;
        if (!lastRect.isNull() && !lastRaised && left < lastRect.right() &&
            bottom - along < lastRect.bottom() + fm.averageCharWidth()) {
            bottom = lastRect.top();
            raised = true;
        }
        if (raised) {
            c.p.setPen(LinePen(viewcolor::kRed, 1));
            c.p.drawLine(startX + pitch / 2, bottom, startX + pitch / 2,
                         topY + 2 * fm.averageCharWidth());
        }
        // Keep the label inside the plot.
        const int right = st.left + st.width;
        if (left + across > right) left = right - across;
        if (bottom - along < c.Top()) bottom = c.Top() + along;
        const QRect rect(left, bottom - along, across, along);
        c.p.setPen(LinePen(viewcolor::kRed, 1));
        if (!c.t.paper)
            c.p.setBrush(viewcolor::kLabelFill);
        else
            c.p.setBrush(Qt::NoBrush);
        c.p.drawRect(rect);
        c.p.setPen(viewcolor::kBlack);
        // Three texts reading upwards, side by side.
        for (int j = 0; j < 3; ++j) {
            c.p.save();
            c.p.translate(left + pitch / 8 + j * pitch, bottom - fm.averageCharWidth());
            c.p.rotate(-90);
            c.p.drawText(QPoint(0, fm.ascent()), texts[j]);
            c.p.restore();
        }
        c.p.restore();
        lastRect = rect;
        st.bolusLabels.push_back(rect);
        lastRaised = raised;
    }
};

} // namespace

namespace {

// Detector output straight to the picture (every frame from the start).
struct DirectSink : PcaSink {
    std::function<void(int, double)> point;
    std::vector<PcaMark> marks;
    std::vector<PcaLabel> labels;
    void Point(int i, double v) override { point(i, v); }
    void Mark(const PcaMark& m) override { marks.push_back(m); }
    void Label(const PcaLabel& l) override { labels.push_back(l); }
};

// Detector output reduced per pixel column in value space.
struct ColumnSink : PcaSink {
    std::vector<PcaMemo::Column>& columns;
    std::vector<PcaMark>& marks;
    std::vector<PcaLabel>& labels;
    const SeriesCache& cache;
    double timeScale;
    ColumnSink(std::vector<PcaMemo::Column>& c, std::vector<PcaMark>& m, std::vector<PcaLabel>& l,
               const SeriesCache& sc, double ts)
        : columns(c), marks(m), labels(l), cache(sc), timeScale(ts) {}
    void Point(int i, double v) override {
        const int64_t col = Trunc(cache.Ticks(i) / timeScale);
        if (!columns.empty() && columns.back().col == col) {
            PcaMemo::Column& k = columns.back();
            k.mn = std::min(k.mn, v);
            k.mx = std::max(k.mx, v);
            k.last = v;
            ++k.count;
            return;
        }
        columns.push_back({col, v, v, v, v, 1});
    }
    void Mark(const PcaMark& m) override { marks.push_back(m); }
    void Label(const PcaLabel& l) override { labels.push_back(l); }
};

} // namespace

void DrawPca(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    if (!c.plotOk) return;
    st.key.pcaFlow = true;
    EnsureScales(c);
    const int last = d.SampleCount() - 1;
    const auto xOf = [&](int i) { return Clamp16(int64_t(st.left) + Column(c, i)); };
    const auto yOf = [&](double v) { return YOf(c, v, st.flowScale); };
    PathSink sink(c.o.everyPoint);
    c.p.setPen(PcaPen(c));

    std::vector<PcaMark> marks;
    std::vector<PcaLabel> labels;
    PcaDetector result(d);
    if (FastPath(c)) {
        // Samples before the last one are taken once and kept per column;
        // the last one (whose rules may change as samples arrive) each frame.
        PcaMemo& m = c.cache.Pca();
        if (m.timeScale != st.timeScale || m.committed > last + 1) {
            m = PcaMemo(d);
            m.timeScale = st.timeScale;
            m.committed = m.detector.First();
        }
        ColumnSink keep(m.columns, m.marks, m.labels, c.cache, st.timeScale);
        for (; m.committed < last; ++m.committed) m.detector.Step(m.committed, last, keep);
        std::vector<PcaMemo::Column> tail;
        if (!m.columns.empty()) tail.push_back(m.columns.back());
        marks = m.marks;
        labels = m.labels;
        result = m.detector;
        ColumnSink now(tail, marks, labels, c.cache, st.timeScale);
        for (int i = m.committed; i <= last; ++i) result.Step(i, last, now);
        const int x0 = xOf(0);
        sink.MoveTo(x0, yOf(result.StartValue()));
        Forward fwd{sink, x0};
        const auto emit = [&](const PcaMemo::Column& k) {
            const int x = Clamp16(int64_t(st.left) + k.col);
            fwd.Draw(x, yOf(k.first));
            if (k.count > 1) {
                fwd.Draw(x, yOf(k.mn));
                fwd.Draw(x, yOf(k.mx));
                fwd.Draw(x, yOf(k.last));
            }
        };
        const size_t kept = m.columns.empty() ? 0 : m.columns.size() - 1;
        for (size_t k = 0; k < kept; ++k) emit(m.columns[k]);
        for (const PcaMemo::Column& k : tail) emit(k);
    } else {
        const int x0 = xOf(0);
        sink.MoveTo(x0, yOf(result.StartValue()));
        Forward fwd{sink, x0};
        DirectSink direct;
        direct.point = [&](int i, double v) { fwd.Draw(xOf(i), yOf(v)); };
        for (int i = result.First(); i <= last; ++i) result.Step(i, last, direct);
        marks = std::move(direct.marks);
        labels = std::move(direct.labels);
    }
    sink.Finish(c.p);
    st.lastPcaFlow = result.lastFlow;
    for (const PcaMark& m : marks) {
        const int x = xOf(m.index), y = yOf(m.value);
        if (m.kind == PcaMark::Start)
            BolusStart(c, x, y);
        else if (m.kind == PcaMark::End)
            BolusEnd(c, x, y);
        else if (!st.showAvgFlow)
            FlowMarkers(c, m.index, x, y);
    }
    st.bolusLabels.clear();
    BolusLabeller labeller{c, QRect(), false};
    for (const PcaLabel& l : labels)
        labeller.Draw(l.preStart, l.end, l.start, l.lastIn, l.n, xOf(l.startIndex),
                      yOf(l.highestValue) - c.charH / 2);
    if (result.maxF2 > st.flowMax) {
        // A bolus outgrew the scale: the next redraw takes the larger maximum
        // for every series at once.
        st.flowMax = result.maxF2 * 100.0 / 80.0;
        c.needsRedraw = true;
    }
}

} // namespace series
