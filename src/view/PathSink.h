#pragma once

#include "view/WideLines.h"

#include <QLine>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <vector>

// Collects one series as a pen path and draws it as separate segments
// (widelines::Draw): long polylines with a pen wider than one pixel are very
// slow in the raster engine. Points arrive in drawing order. Within one pixel
// column every segment is vertical, and together they cover exactly what one
// vertical segment from the column's lowest to its highest point covers (at
// any pen width, antialiasing off: a pixel is drawn when its centre lies in
// any of the shapes). So a column becomes at most two segments: the one
// arriving from the previous column's last point and that vertical one.
// With everyPoint set every segment is drawn: the reference the reduction is
// compared with.
class PathSink {
public:
    explicit PathSink(bool everyPoint = false) : m_every(everyPoint) {}

    void MoveTo(int x, int y) {
        FlushColumn();
        Open(x, y);
    }

    void LineTo(int x, int y) {
        if (m_every) {
            if (m_have) m_lines.emplace_back(m_cx, m_last, x, y);
            Open(x, y);
            return;
        }
        if (m_have && x == m_cx) {
            m_mn = std::min(m_mn, y);
            m_mx = std::max(m_mx, y);
            m_last = y;
            ++m_count;
            return;
        }
        const bool had = m_have;
        const int px = m_cx, py = m_last;
        FlushColumn();
        if (had) m_lines.emplace_back(px, py, x, y);
        Open(x, y);
    }

    // Draws what was collected with the painter's pen.
    void Finish(QPainter& p) {
        FlushColumn();
        if (m_every)
            p.drawLines(m_lines.data(), int(m_lines.size()));
        else
            widelines::Draw(p, m_lines);
        m_lines.clear();
        m_have = false;
    }

    size_t SegmentCount() const { return m_lines.size(); }

private:
    void Open(int x, int y) {
        m_cx = x;
        m_mn = m_mx = m_last = y;
        m_count = 1;
        m_have = true;
    }
    // Closes the column of the reduced path (every-point paths keep going).
    void FlushColumn() {
        if (m_every) return;
        if (m_have && m_count > 1) m_lines.emplace_back(m_cx, m_mn, m_cx, m_mx);
        m_have = false;
    }

    bool m_every;
    bool m_have = false;
    int m_cx = 0, m_mn = 0, m_mx = 0, m_last = 0, m_count = 0;
    std::vector<QLine> m_lines;
};
