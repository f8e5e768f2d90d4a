#pragma once

#include <QLine>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <vector>

// Collects one series as a pen path and draws it as separate segments
// (drawLines): long polylines with a pen wider than one pixel are very slow
// in the raster engine. Points arrive in drawing order; within one pixel
// column only the first, lowest, highest and last point matter, because the
// segments between them cover the same pixels as every segment of the
// column does (at any pen width, antialiasing off), so a column collapses to
// at most four points. With everyPoint set every point is kept: the
// reference the reduction is compared with.
class PathSink {
public:
    explicit PathSink(bool everyPoint = false) : m_every(everyPoint) {}

    void MoveTo(int x, int y) {
        FlushColumn();
        FlushPath();
        m_path.append(QPoint(x, y));
        if (!m_every) {
            m_path.clear();
            Open(x, y);
        }
    }

    void LineTo(int x, int y) {
        if (m_every) {
            if (m_path.isEmpty()) m_path.append(QPoint(x, y));
            m_path.append(QPoint(x, y));
            return;
        }
        if (m_have && x == m_cx) {
            m_mn = std::min(m_mn, y);
            m_mx = std::max(m_mx, y);
            m_last = y;
            ++m_count;
            return;
        }
        FlushColumn();
        Open(x, y);
    }

    // Draws what was collected with the painter's pen.
    void Finish(QPainter& p) {
        FlushColumn();
        FlushPath();
        std::vector<QLine> lines;
        for (const QPolygon& path : m_paths) {
            lines.clear();
            lines.reserve(size_t(path.size()));
            for (qsizetype k = 1; k < path.size(); ++k) lines.emplace_back(path[k - 1], path[k]);
            p.drawLines(lines.data(), int(lines.size()));
        }
        m_paths.clear();
    }

    size_t PointCount() const {
        size_t n = size_t(m_path.size());
        for (const QPolygon& path : m_paths) n += size_t(path.size());
        return n;
    }

private:
    void Open(int x, int y) {
        m_cx = x;
        m_first = m_mn = m_mx = m_last = y;
        m_count = 1;
        m_have = true;
    }
    void Add(int x, int y) {
        if (m_path.isEmpty() || m_path.last() != QPoint(x, y)) m_path.append(QPoint(x, y));
    }
    void FlushColumn() {
        if (m_every || !m_have) return;
        Add(m_cx, m_first);
        if (m_count > 1) {
            // Towards the nearer extreme first.
            if (m_first - m_mn <= m_mx - m_first) {
                Add(m_cx, m_mn);
                Add(m_cx, m_mx);
            } else {
                Add(m_cx, m_mx);
                Add(m_cx, m_mn);
            }
            Add(m_cx, m_last);
        }
        m_have = false;
    }
    void FlushPath() {
        if (m_path.size() >= 2) m_paths.push_back(m_path);
        m_path.clear();
    }

    bool m_every;
    bool m_have = false;
    int m_cx = 0, m_first = 0, m_mn = 0, m_mx = 0, m_last = 0, m_count = 0;
    QPolygon m_path;
    std::vector<QPolygon> m_paths;
};
