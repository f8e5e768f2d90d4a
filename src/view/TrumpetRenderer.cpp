#include "TrumpetRenderer.h"

#include "view/GraphLayout.h"
#include "view/TrumpetCurve.h"

#include <cmath>

namespace trumpet {

namespace {

// The table's columns: each as wide as its widest text and a gap.
QList<int> ColumnWidths(const RenderContext& c, const QList<TrumpetCurve::Row>& rows) {
    QList<int> widths(3, 0);
    for (const TrumpetCurve::Row& r : rows) {
        widths[0] = std::max(widths[0], c.TextWidth(r.window));
        widths[1] = std::max(widths[1], c.TextWidth(r.minError));
        widths[2] = std::max(widths[2], c.TextWidth(r.maxError));
    }
    for (int& wd : widths) wd += 2 * c.charW;
    return widths;
}

QList<TrumpetCurve::Row> AllRows(const TrumpetCurve& curve) {
    QList<TrumpetCurve::Row> rows = curve.TableRows();
    rows.append(curve.OverallRow());
    return rows;
}

QSize TableSize(const RenderContext& c, const TrumpetCurve& curve) {
    const QList<TrumpetCurve::Row> rows = AllRows(curve);
    const QList<int> widths = ColumnWidths(c, rows);
    // One line between the windows and Ep.
    return QSize(widths[0] + widths[1] + widths[2], (int(rows.size()) + 1) * c.charH);
}

void DrawTable(RenderContext& c, const TrumpetCurve& curve, QPoint at) {
    const QList<TrumpetCurve::Row> rows = AllRows(curve);
    const QList<int> widths = ColumnWidths(c, rows);
    c.p.save();
    c.p.setPen(Qt::black);
    int y = at.y();
    for (int i = 0; i < rows.size(); ++i) {
        const TrumpetCurve::Row& r = rows[i];
        if (i == rows.size() - 1) {
            y += c.charH; // Ep on a line of its own, under the windows
            c.TextOut(at.x(), y, r.window);
            c.TextOutRight(at.x() + widths[0] + widths[1] - c.charW, y, r.minError);
            break;
        }
        // Numbers right-aligned under their headers, the window's too.
        int x = at.x();
        const QString texts[3] = {r.window, r.minError, r.maxError};
        for (int col = 0; col < 3; ++col) {
            x += widths[col];
            c.TextOutRight(x - c.charW, y, texts[col]);
        }
        if (i == 0) {
            const int line = y + c.charH;
            c.p.drawLine(at.x(), line, x - c.charW, line);
        }
        y += c.charH;
    }
    c.p.restore();
}

} // namespace

void Draw(RenderContext& c, const TrumpetCurve& curve) {
    QPainter& p = c.p;
    const int w = c.charW, h = c.charH, hv = c.vertCharH;
    const int leftMargin = 5 * w + hv, rightMargin = 2 * w, vm = 3 * h;
    const QSize table = TableSize(c, curve);
    int width, height, left, base;
    QPoint tableAt;
    if (!c.t.paper) {
        width = c.t.width - 20 - leftMargin - rightMargin;
        height = c.t.height - 2 * vm;
        left = leftMargin;
        base = c.t.height - vm;
        // The table stands right of the plot, level with the zero line, when
        // the window leaves the plot at least twice the table's width.
        if (width - table.width() - 2 * w >= 2 * table.width()) {
            width -= table.width() + 2 * w;
            tableAt =
                QPoint(left + width + rightMargin + 2 * w, base - height / 2 - table.height() / 2);
        } else {
            tableAt = QPoint(-1, -1);
        }
    } else {
        // Printable area: the page less half an inch on each side.
        const int pw = c.t.width - c.t.dpiX, ph = c.t.height - c.t.dpiY;
        width = pw - leftMargin - rightMargin;
        height = ph - 2 * vm;
        if (ph >= pw) height /= 2;
        left = leftMargin + c.t.dpiX / 2;
        // Under the curve a band holds the table and, beside it, the
        // test-details box (nine and a half lines of a 9-point font), so
        // that the box covers neither the page header nor the curve.
        QFont details(QStringLiteral("Arial"));
        details.setPixelSize(std::max(1, c.t.dpiY * 9 / 80));
        const int detailsH = QFontMetrics(details).height() * 19 / 2;
        const int band = std::max(table.height(), detailsH);
        height -= band + h;
        base = height + c.t.dpiY / 2;
        height -= h;
        tableAt = QPoint(left, base + 3 * h + h / 2);
        c.detailsArea =
            QRect(left + table.width() + 2 * w, tableAt.y(), width - table.width() - 2 * w, band);
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
    if (tableAt.x() >= 0) DrawTable(c, curve, tableAt);
}

} // namespace trumpet
