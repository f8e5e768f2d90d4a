#include "KeyBox.h"

#include "view/SeriesPainter.h"

#include "records/RivuletrixDoc.h"

#include "view/DetailsBoxes.h"

namespace keybox {
namespace {

enum Kind {
    AirLockK,
    AvgK,
    BubbleK,
    VolumeK,
    LineK,
    OverPressureK,
    PressureK,
    BolusStartK,
    BolusEndK,
    SetRateK,
    ToleranceK
};

struct Entry {
    QString text;
    Kind kind;
    QPen pen;
};

std::vector<Entry> Build(const RenderContext& c) {
    const KeyFlags& k = c.st.key;
    const CRivuletrixDoc& d = c.doc;
    std::vector<Entry> e;
    if (k.airLock) e.push_back({QStringLiteral("(Air Lock)"), AirLockK, QPen()});
    if (k.avgFlow) e.push_back({QStringLiteral("Average Flow"), AvgK, series::AvgFlowPen(c)});
    if (k.bubble) e.push_back({QStringLiteral("(Bubble)"), BubbleK, QPen()});
    if (k.volume) e.push_back({QStringLiteral("Delivered Volume"), VolumeK, series::VolumePen(c)});
    if (k.instFlow)
        e.push_back({QStringLiteral("Instantaneous Flow"), LineK, series::InstFlowPen(c)});
    if (k.pcaFlow) {
        QPen pen = c.t.monochrome ? QPen(QColor(127, 127, 127)) : series::PcaPen(c);
        e.push_back({QStringLiteral("PCA /Dual Flow"), LineK, pen});
    }
    if (k.overPressure) e.push_back({QStringLiteral("(Over Pressure)"), OverPressureK, QPen()});
    if (k.pressure) e.push_back({QStringLiteral("Pressure"), PressureK, series::PressurePen(c)});
    if (k.bolusMarkers) {
        e.push_back({QStringLiteral("Bolus / Secondary Start"), BolusStartK, QPen()});
        e.push_back({QStringLiteral("Bolus / Secondary End"), BolusEndK, QPen()});
    }
    if (d.SetFlowRate != 0 && d.TestType != 'O')
        e.push_back({QStringLiteral("Set Flow Rate"), SetRateK, series::SetRatePen()});
    if (d.DefaultTolerance != 0 && d.SetFlowRate != 0 && d.TestType != 'O')
        e.push_back({QString::asprintf("%i%% Tolerance", d.DefaultTolerance), ToleranceK,
                     QPen(Qt::black, 1, Qt::DashDotLine)});
    return e;
}

} // namespace

QStringList Entries(const RenderContext& c) {
    QStringList out;
    for (const Entry& e : Build(c)) out << e.text;
    return out;
}

void Draw(RenderContext& c) {
    ViewState& st = c.st;
    FloatingBox& box = st.keyBox;
    if (!c.t.paper) box.drawn = false;
    if (!c.doc.ShowKey || !st.keyAllowed || !c.plotOk) return;
    const std::vector<Entry> entries = Build(c);
    if (entries.empty()) {
        // Nothing to list: the key stays off until switched on again.
        c.doc.ShowKey = false;
        return;
    }
    c.p.save();
    c.p.setFont(c.PointFont(8));
    const QFontMetrics fm = c.p.fontMetrics();
    const int w = fm.averageCharWidth(), h = fm.height();
    int widest = 0;
    for (const Entry& e : entries) widest = std::max(widest, fm.horizontalAdvance(e.text));
    int lines = int(entries.size());
    // The set-rate line is counted for Occlusion records too.
    if (c.doc.SetFlowRate != 0 && c.doc.TestType == 'O') ++lines;
    // The widest text and ten characters: the box fits beside the plot of a
    // tiled window. Samples that would reach past it are drawn inside it.
    const int bw = widest + 10 * w;
    const int bh = lines * h + (3 * h) / 2;
    if (bh > st.height / 2 || bw > st.width / 2) {
        c.p.restore();
        return;
    }
    if (box.firstPlacement && !c.t.paper) {
        st.rightLimit = st.left + st.width;
        st.bottomLimit = st.savedBottom;
        box.x = st.left + st.width - bw - 1;
        box.y = st.savedBottom - st.height / 2;
        box.firstPlacement = false;
    }
    if (!c.t.paper) {
        box.width = bw;
        box.height = bh;
    }
    FloatingBox paperBox = box;
    paperBox.width = bw;
    paperBox.height = bh;
    // On paper: under the graph on a portrait page, else where the screen
    // had it relative to the axes; the window keeps its own position.
    QPoint at(box.x, box.y);
    if (c.t.paper)
        at = c.t.Portrait() ? QPoint(st.left, st.savedBottom + 3 * h)
                            : boxes::PaperPosition(c, paperBox, c.t.height / 3);
    const int x = at.x(), y = at.y();
    boxes::Frame(c, QRect(x, y, bw, bh), box.pickedUp && !c.t.paper);
    c.p.setPen(Qt::black);
    c.TextOut(x + w, y + h / 4, QStringLiteral("Key"));
    const bool paper = c.t.paper, portrait = c.t.Portrait();
    int top = y + h / 4;
    for (const Entry& e : entries) {
        top += h;
        c.p.setPen(Qt::black);
        c.p.setFont(c.PointFont(8));
        c.TextOut(x + w, top, e.text);
        const int L = int(e.text.size());
        const int cy = top + h / 2;
        // Proportional text can be narrower than its length in average
        // characters: a sample keeps at least three of them inside the box.
        const int inside = x + bw - w;
        const auto at = [&](int n) { return std::min(x + n * w, inside - w); };
        const auto line = [&](int from, int to) {
            c.p.setPen(e.pen);
            const int x1 = std::min(x + (L + to) * w, inside);
            const int x0 = std::min(x + (L + from) * w, x1 - 3 * w);
            c.p.drawLine(x0, cy, x1, cy);
        };
        // Marker samples draw with the key's own metrics.
        const int saveW = c.charW, saveH = c.charH;
        c.charW = w;
        c.charH = h;
        switch (e.kind) {
        case AirLockK:
            series::AirLock(c, at(L + 4), cy, true, false);
            series::AirLock(c, at(L + 4), cy, false, false);
            break;
        case AvgK:
            line(6, 12);
            break;
        case BubbleK:
            series::Bubble(c, at(L + 14), cy);
            break;
        case VolumeK:
            if (!paper)
                line(7, 14);
            else if (portrait)
                line(3, 8);
            else
                line(4, 8);
            break;
        case LineK:
        case SetRateK:
        case ToleranceK:
            if (!paper)
                line(6, 12);
            else if (portrait)
                line(3, 8);
            break;
        case OverPressureK:
            series::OverPressure(c, at(L + 6), top + h, false);
            break;
        case PressureK:
            line(4, 10);
            break;
        case BolusStartK:
        case BolusEndK: {
            const int n = !paper ? 8 : (portrait ? 4 : -1);
            if (n >= 0) {
                if (e.kind == BolusStartK)
                    series::BolusStart(c, at(L + n), cy);
                else
                    series::BolusEnd(c, at(L + n), cy + h / 2);
            }
            break;
        }
        }
        c.charW = saveW;
        c.charH = saveH;
    }
    c.p.restore();
    if (!c.t.paper) box.drawn = true;
}

} // namespace keybox
