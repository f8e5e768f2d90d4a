#pragma once

#include <QLine>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <vector>

// Collects one series as a pen path and draws it. Points arrive in drawing
// order; per pixel column only the first, lowest, highest and last point
// matter to a 1-pixel aliased line, so a column collapses to one vertical
// segment and the segments between columns are kept as they are. The result
// is drawn as separate segments, never as one long wide polyline. With
// everyPoint set it keeps every point and draws polylines instead (the
// reference the reduction is compared with).
class PathSink {
public:
    explicit PathSink(bool everyPoint = false) : m_every(everyPoint) {}

    void MoveTo(int x, int y) {
        if (m_every) {
            FlushPoly();
            m_poly.append(QPoint(x, y));
            return;
        }
        FlushColumn();
        m_cx = x;
        m_mn = m_mx = m_lastY = y;
        m_have = true;
        m_single = true;
    }

    void LineTo(int x, int y) {
        if (m_every) {
            if (m_poly.isEmpty()) m_poly.append(QPoint(x, y));
            m_poly.append(QPoint(x, y));
            return;
        }
        if (m_have && x == m_cx) {
            m_mn = std::min(m_mn, y);
            m_mx = std::max(m_mx, y);
            m_lastY = y;
            m_single = false;
            return;
        }
        const bool had = m_have;
        const int px = m_cx, py = m_lastY;
        FlushColumn();
        if (had) m_lines.emplace_back(px, py, x, y);
        m_cx = x;
        m_mn = m_mx = m_lastY = y;
        m_have = true;
        m_single = !had;
    }

    // Draws what was collected with the pen.
    void Finish(QPainter& p) {
        if (m_every) {
            FlushPoly();
            for (const QPolygon& poly : m_polys) p.drawPolyline(poly);
            m_polys.clear();
            return;
        }
        FlushColumn();
        if (!m_lines.empty()) p.drawLines(m_lines.data(), int(m_lines.size()));
        m_lines.clear();
    }

    size_t SegmentCount() const { return m_lines.size(); }

private:
    void FlushColumn() {
        if (!m_have) return;
        // A lone point that no segment touches draws nothing, as a path of
        // one point does.
        if (m_mn != m_mx || !m_single) m_lines.emplace_back(m_cx, m_mn, m_cx, m_mx);
        m_have = false;
    }
    void FlushPoly() {
        if (m_poly.size() >= 2) m_polys.push_back(m_poly);
        m_poly.clear();
    }

    bool m_every;
    bool m_have = false, m_single = true;
    int m_cx = 0, m_mn = 0, m_mx = 0, m_lastY = 0;
    std::vector<QLine> m_lines;
    QPolygon m_poly;
    std::vector<QPolygon> m_polys;
};
