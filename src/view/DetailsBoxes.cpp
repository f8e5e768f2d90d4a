#include "DetailsBoxes.h"

#include "view/GraphLayout.h"

#include "records/RivuletrixDoc.h"

#include <QTextOption>

#include <cmath>

namespace boxes {

namespace {

// Keeps a box of the window inside the plot: a box grown since it was
// placed (a longer control number, a longer value) would run past the edge.
// A box the user put down keeps to the limits it was dropped within.
void KeepInside(const ViewState& st, FloatingBox& box) {
    const bool dropped = box.moved && st.rightLimit > 0;
    const int right = dropped ? st.rightLimit : st.left + st.width;
    const int bottom = box.moved && st.bottomLimit > 0 ? st.bottomLimit : st.bottom;
    const int left = box.moved ? st.leftMargin : st.left + 1;
    box.x = std::max(std::min(box.x, right - box.width - 1), left);
    box.y = std::max(std::min(box.y, bottom - box.height - 1), st.topLimit);
}

// A box the user has not put anywhere yields to the bolus labels: it goes
// to the first corner of the plot where it hides none.
void AvoidBolusLabels(const ViewState& st, FloatingBox& box) {
    if (box.moved || st.bolusLabels.empty()) return;
    const auto free = [&st](const QRect& r) {
        for (const QRect& label : st.bolusLabels)
            if (r.intersects(label)) return false;
        return true;
    };
    if (free(box.Rect())) return;
    const int right = st.left + st.width - box.width - 1;
    const int bottom = st.bottom - box.height - 1;
    const QPoint corners[] = {
        {st.left + 1, st.topLimit + 1}, {st.left + 1, bottom}, {right, bottom}};
    for (const QPoint& at : corners)
        if (free(QRect(at, box.Rect().size()))) {
            box.x = at.x();
            box.y = at.y();
            return;
        }
}

} // namespace

void Frame(RenderContext& c, const QRect& r, bool pickedUp) {
    QPainter& p = c.p;
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(pickedUp ? viewcolor::kPickedFill : viewcolor::kBoxFill);
    p.drawRect(r);
    p.setBrush(Qt::NoBrush);
    // Bump edge inside a black frame.
    p.setPen(QColor(255, 255, 255));
    p.drawRect(r.adjusted(1, 1, -2, -2));
    p.setPen(QColor(128, 128, 128));
    p.drawRect(r.adjusted(2, 2, -1, -1));
    p.setPen(Qt::black);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.restore();
}

QPoint PaperPosition(const RenderContext& c, const FloatingBox& box, int fallbackY) {
    const ViewState& st = c.st;
    int x = box.x, y = box.y;
    if (st.screenTickW > 0 && st.screenTickH > 0 && st.paperTickW > 0 && st.paperTickH > 0) {
        y = st.savedBottom - int(int64_t(st.screenBottom - box.y) * st.paperTickH / st.screenTickH);
        x = int(int64_t(box.x - st.screenLeft) * st.paperTickW / st.screenTickW) + st.left;
    }
    const int printable = c.t.width - c.t.dpiX / 2;
    if (x + box.width > printable || x < 0) {
        x = st.left + 2;
        if (fallbackY >= 0) y = fallbackY;
    }
    return QPoint(x, std::max(y, st.topLimit));
}

QStringList DetailsLines(const CRivuletrixDoc& d) {
    QStringList l;
    l << QStringLiteral("Control Number   :  %1").arg(d.ControlNumber);
    l << QString::asprintf("%s Test @ %4.2f ml/h",
                           CRivuletrixDoc::TestTypeName(d.TestType).toUtf8().constData(),
                           d.SetFlowRate);
    l << QStringLiteral("Started : %1  %2").arg(d.StartDate, d.StartTime);
    l << QStringLiteral("Manuf : %1").arg(d.Manufacture);
    l << QStringLiteral("Device Type : %1").arg(d.Model);
    l << QStringLiteral("Serial No. : %1").arg(d.SerialNumber);
    l << QStringLiteral("Location : %1").arg(d.Location);
    l << QStringLiteral("Operator : %1").arg(d.Operator);
    l << QStringLiteral("Comments : %1").arg(d.Comments);
    for (QString& s : l) s = s.trimmed();
    return l;
}

void DrawDetails(RenderContext& c) {
    ViewState& st = c.st;
    FloatingBox& box = st.detailsBox;
    if (!c.t.paper) box.drawn = false;
    if (!c.doc.ShowTestDetails) return;
    const QStringList lines = DetailsLines(c.doc);
    c.p.save();
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, c.t.dpiY * 9 / 80));
    c.p.setFont(font);
    const QFontMetrics fm = c.p.fontMetrics();
    const int w = fm.averageCharWidth(), h = fm.height();
    int widest = 0;
    for (const QString& s : lines) widest = std::max(widest, fm.horizontalAdvance(s));
    const int bw = widest + 2 * w;
    const int bh = 9 * h + h / 2 - 2;
    if (bh > st.height / 2 + st.rightMargin || bw > st.width / 2) {
        c.p.restore();
        return;
    }
    QPoint at;
    if (c.t.paper) {
        // Carried over from the screen; the window keeps its own position.
        FloatingBox b = box;
        if (b.firstPlacement) {
            b.x = st.left + st.width - bw - 1;
            b.y = st.rightMargin;
        }
        b.width = bw;
        b.height = bh;
        if (c.detailsArea.isValid())
            at = QPoint(c.detailsArea.right() - bw, c.detailsArea.top());
        else
            at = PaperPosition(c, b);
    } else {
        if (box.firstPlacement) {
            box.x = st.left + st.width - bw - 1;
            box.y = st.rightMargin;
            box.firstPlacement = false;
        }
        box.width = bw;
        box.height = bh;
        if (box.y < st.topLimit) box.y = st.topLimit;
        if (c.t.preview) {
            box.x = st.left + 1;
            box.y = st.topLimit + 1;
        } else {
            KeepInside(st, box);
            AvoidBolusLabels(st, box);
        }
        at = QPoint(box.x, box.y);
    }
    Frame(c, QRect(at, QSize(bw, bh)), box.pickedUp && !c.t.paper);
    c.p.setPen(Qt::black);
    for (int j = 0; j < lines.size(); ++j)
        c.p.drawText(QPoint(at.x() + w, at.y() + h / 4 + j * h + fm.ascent()), lines[j]);
    c.p.restore();
    if (!c.t.paper) box.drawn = true;
}

QStringList MeasuredLines(const RenderContext& c) {
    const CRivuletrixDoc& d = c.doc;
    const ViewState& st = c.st;
    QStringList l = {QString(), QString(), QString(), QString()};
    // The record's values until it is reset, also while the save question
    // is open after the test ended.
    const int latest = d.LastSampleIndex();
    if (d.TestType == 'O') {
        const int unit = st.pressureUnit;
        if (d.Run.live) {
            const int p = d.PressureAt(latest);
            l[0] = unit == 1   ? QString::asprintf("Current Pressure %7.2f psi", p / 51.71)
                   : unit == 2 ? QString::asprintf("Current Pressure %7.2f kPa", p / 7.499)
                               : QString::asprintf("Current Pressure : %1.0f mmHg", double(p));
        }
        const int pm = st.pressureMax;
        l[1] = unit == 1   ? QString::asprintf("Peak Pressure : %7.2f psi", pm / 51.71)
               : unit == 2 ? QString::asprintf("Peak Pressure : %7.2f kPa", pm / 7.499)
                           : QString::asprintf("Peak Pressure : %1.0f mmHg", double(pm));
        l[2] = QStringLiteral("Occurred at : %1")
                   .arg(CRivuletrixDoc::FormatHms(d.ElapsedMs(st.pressureMaxIndex)));
        return l;
    }
    const uint32_t volume = d.VolumeAt(latest);
    if (volume > 3200) {
        if (d.TestType == 'F') {
            l[0] = QString::asprintf("Ave. Rate : %3.2f ml/hr", d.AverageFlowAt(latest) / 100.0);
        } else if (d.TestType == 'P') {
            const double basal = BasalRate(d, st, st.bolusVolumeTotal, st.bolusDurationTotal);
            l[0] = QString::asprintf("Ave. Basal/Primary Flow Rate %0.2f ml/h", basal);
        }
    }
    l[1] = QString::asprintf("Total Volume : %3.2f ml", volume / 10000.0);
    // In real milliseconds, as the time axis counts them.
    const uint64_t minSpan =
        d.NewModel ? uint64_t(d.MinTimeSpan) : uint64_t(d.MinTimeSpan) * 1000u / 1024u;
    const uint64_t shown = std::max<uint64_t>(d.ElapsedMs(latest), minSpan);
    l[2] = QStringLiteral("Elapsed Time : %1").arg(CRivuletrixDoc::FormatHms(shown));
    float deviation = 0;
    if (d.SetFlowRate != 0)
        deviation = float((float(d.AverageFlowAt(latest) / 100.0) - float(d.SetFlowRate)) /
                          float(d.SetFlowRate) * 100.0f);
    l[3] = QString::asprintf("Deviation: %5.2f", double(deviation));
    return l;
}

double BasalRate(const CRivuletrixDoc& d, const ViewState& st, double bolusVolumeMl,
                 double bolusSeconds) {
    if (d.SetRateIsZero) return 0;
    // Time and volume outside the boluses; never below zero. The time
    // maximum is in view ticks (1/1024 s for older records) and the flow
    // takes the record's own ticks.
    const int tps = layout::ViewTicksPerSecond(d.NewModel, d.TicksPerSecond);
    // A live test: the whole test so far, not the live window's span.
    const double span =
        d.Run.running ? double(d.ElapsedTicks(d.StoredCount() - 1)) : double(st.timeMax);
    double dt = span - bolusSeconds * tps;
    if (!d.NewModel) dt /= 4.0;
    const double dv = double(st.volumeMax) - bolusVolumeMl * 10000.0;
    if (dt > 0 && dv > 0) return d.FlowFromDelta(uint32_t(dt), uint32_t(dv)) / 100.0;
    return 0;
}

void DrawMeasured(RenderContext& c) {
    ViewState& st = c.st;
    FloatingBox& box = st.measuredBox;
    if (!c.t.paper) box.drawn = false;
    if (c.t.paper || !c.doc.ShowTestParameters || !st.measuredAllowed || !c.plotOk) return;
    c.p.save();
    c.p.setFont(c.PointFont(8));
    const QFontMetrics fm = c.p.fontMetrics();
    // The pitch of the font the lines are drawn in, so they stay inside the frame.
    const int pitch = std::max(c.charH + c.extLeading, fm.lineSpacing());
    if (6 * pitch > st.height) {
        c.p.restore();
        return;
    }
    const int w = std::max(c.maxCharW, fm.averageCharWidth());
    QStringList lines = MeasuredLines(c);
    int widest = 0;
    for (QString& s : lines) {
        s = s.trimmed();
        widest = std::max(widest, fm.horizontalAdvance(s));
    }
    const int bw = widest + 2 * w;
    const int bh = 4 * pitch + pitch / 2;
    if (bw <= 0 || bh <= 0 || bh > st.height / 2 || bw > st.width / 2) {
        c.p.restore();
        return;
    }
    if (box.firstPlacement) {
        box.x = st.left + st.width - bw - 1;
        box.y = st.bottom - bh - 1;
        box.firstPlacement = false;
    }
    box.width = bw;
    box.height = bh;
    KeepInside(st, box);
    Frame(c, box.Rect(), box.pickedUp);
    c.p.setPen(Qt::black);
    for (int j = 0; j < 4; ++j)
        c.p.drawText(QPoint(box.x + w, box.y + pitch / 4 + j * pitch + fm.ascent()), lines[j]);
    c.p.restore();
    box.drawn = true;
}

void DrawAutoStopBanner(RenderContext& c) {
    if (c.t.paper || !c.doc.Run.autoStopped) return;
    // A shut-down analyzer ends its test itself: no banner, and the
    // channel must not be made to look running again.
    if (c.doc.Run.analyzerShutDown) return;
    // The channel stays running until the user presses STOP.
    c.doc.Run.running = true;
    const int left = c.st.left;
    const QRect r(QPoint(left + 5, c.t.dpiY / 2 + 10), QPoint(left + 170, c.t.dpiY / 2 + 75));
    QPainter& p = c.p;
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(viewcolor::kBoxFill);
    p.drawRect(r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
    p.setPen(Qt::black);
    p.drawRect(r);
    p.setPen(viewcolor::kRed);
    p.setFont(c.PointFont(10, QFont::Bold));
    p.drawText(r.translated(0, 10), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("Test terminated by auto-stop settings.  Click STOP to save."));
    p.restore();
}

} // namespace boxes
