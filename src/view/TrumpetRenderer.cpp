#include "TrumpetRenderer.h"

#include "view/GraphLayout.h"
#include "view/TrumpetCurve.h"

#include <cmath>

namespace trumpet {

void Draw(RenderContext& c, const TrumpetCurve& curve) {
    QPainter& p = c.p;
    const int w = c.charW, h = c.charH, hv = c.vertCharH;
    const int leftMargin = 5 * w + hv, rightMargin = 2 * w, vm = 3 * h;
    int width, height, left, base;
    if (!c.t.paper) {
        width = c.t.width - 20 - leftMargin - rightMargin;
        height = c.t.height - 2 * vm;
        left = leftMargin;
        base = c.t.height - vm;
    } else {
        // Printable area: the page less half an inch on each side.
        const int pw = c.t.width - c.t.dpiX, ph = c.t.height - c.t.dpiY;
        width = pw - leftMargin - rightMargin;
        height = ph - 2 * vm;
        if (ph >= pw) height /= 2;
        left = leftMargin + c.t.dpiX / 2;
        base = height + c.t.dpiY / 2;
        height -= h;
    }
    c.st.leftMargin = leftMargin;
    c.st.rightMargin = 5 * w; // the boxes keep their usual margin
    c.st.vertMargin = vm;
    if (width < 2 || height < 2) return;
    c.st.left = left;
    c.st.width = width;
    c.st.height = height;
    c.st.bottom = c.st.savedBottom = base;
    const int zero = base - height / 2;
    const int percent = height / 30;
    const int minute = width / 32;
    const auto yOf = [&](double e) {
        return layout::Clamp16(int64_t(zero) - int64_t(e * percent));
    };
    const auto xOf = [&](int windowMinutes) { return left + windowMinutes * minute; };

    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(left, base, left, base - height);
    p.drawLine(left, base, left + width, base);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawLine(left, zero, left + width, zero);
    p.setPen(QPen(Qt::black, 1));
    for (int e = -15; e <= 15; e += 5) {
        const int y = yOf(e);
        p.drawLine(left, y, left - w / 2, y);
        c.TextOutRight(left - w, y - h / 2, QString::number(e));
    }
    const QString yTitle = QStringLiteral("Percentage error of flow");
    c.p.save();
    c.p.setFont(c.vertFont);
    const int tw = c.p.fontMetrics().horizontalAdvance(yTitle);
    c.p.restore();
    c.VerticalText(0, zero + tw / 2, yTitle);
    for (int P : {2, 5, 11, 19, 31}) {
        const int x = xOf(P);
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(x, base, x, base + h / 2);
        p.setPen(QPen(Qt::black, 1, Qt::DashDotLine));
        p.drawLine(x, base, x, base - height);
        const QString label = QString::number(P);
        c.TextOut(x - c.TextWidth(label) / 2, base + h, label);
    }
    const QString xTitle = QStringLiteral("Observation Window (min)");
    c.TextOut(left + (width - c.TextWidth(xTitle)) / 2, base + 2 * h, xTitle);
    const QString title = QStringLiteral("Trumpet Curve");
    c.TextOut(left + (width - c.TextWidth(title)) / 2, base - height - h, title);

    p.setPen(QPen(Qt::black, 1));
    const int ye = yOf(curve.overallError);
    p.drawLine(left, ye, left + width, ye);

    const int first = std::max(curve.stepMinutes, 2);
    for (int which = 0; which < 2; ++which) {
        QPolygon poly;
        for (int P = first; P <= TrumpetCurve::kMaxWindow; ++P) {
            if (which == 0 ? !curve.HasMin(P) : !curve.HasMax(P)) continue;
            poly << QPoint(xOf(P), yOf(which == 0 ? curve.minError[P] : curve.maxError[P]));
        }
        if (poly.size() >= 2) p.drawPolyline(poly);
    }
    p.restore();
}

} // namespace trumpet
