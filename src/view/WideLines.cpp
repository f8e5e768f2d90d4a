#include "WideLines.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

namespace widelines {
namespace {

// Segments larger than this are left to drawLines: few, and their strokes
// would take large scratch images.
constexpr int kMaxStampWidth = 64;
constexpr int kMaxStampHeight = 4096;
constexpr int kMaxPenWidth = 64;
// Shapes kept per thread before the cache starts again.
constexpr size_t kMaxStamps = 16384;

// Rows top..bottom of one pixel column, relative to the segment's start.
struct Run {
    int col;
    int top;
    int bottom;
};

using Stamp = std::vector<Run>;

bool Applies(const QPainter& p, const QPen& pen) {
    const qreal w = pen.widthF();
    if (w <= 1 || w > kMaxPenWidth || w != std::floor(w)) return false;
    if (pen.style() != Qt::SolidLine || pen.brush().style() != Qt::SolidPattern) return false;
    if (pen.color().alpha() != 255) return false;
    const QPaintEngine* engine = p.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster) return false;
    if (p.testRenderHint(QPainter::Antialiasing)) return false;
    if (p.compositionMode() != QPainter::CompositionMode_SourceOver || p.opacity() != 1)
        return false;
    const QTransform t = p.deviceTransform();
    return t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) &&
           t.dy() == std::floor(t.dy());
}

uint64_t KeyOf(const QPen& pen, int dx, int dy) {
    return uint64_t(pen.widthF()) << 48 | uint64_t(pen.capStyle()) << 40 |
           uint64_t(pen.joinStyle()) << 32 | uint64_t(uint16_t(dx)) << 16 | uint16_t(dy);
}

// Strokes the segment (0,0)-(dx,dy) with the pen in a scratch image and
// reads back the rows each pixel column got.
Stamp Measure(const QPen& pen, int dx, int dy) {
    const int margin = int(pen.widthF()) + 2;
    const int ox = margin + std::max(0, -dx), oy = margin + std::max(0, -dy);
    QImage image(std::abs(dx) + 2 * margin + 1, std::abs(dy) + 2 * margin + 1,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter q(&image);
        QPen black = pen;
        black.setColor(Qt::black);
        q.setPen(black);
        const QLine line(ox, oy, ox + dx, oy + dy);
        q.drawLines(&line, 1);
    }
    Stamp stamp;
    for (int x = 0; x < image.width(); ++x) {
        int top = -1;
        for (int y = 0; y <= image.height(); ++y) {
            const bool on =
                y < image.height() && qAlpha(reinterpret_cast<const QRgb*>(image.scanLine(y))[x]);
            if (on && top < 0) top = y;
            if (!on && top >= 0) {
                stamp.push_back({x - ox, top - oy, y - 1 - oy});
                top = -1;
            }
        }
    }
    return stamp;
}

const Stamp& StampFor(const QPen& pen, int dx, int dy) {
    thread_local std::unordered_map<uint64_t, Stamp> cache;
    const uint64_t key = KeyOf(pen, dx, dy);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    if (cache.size() >= kMaxStamps) cache.clear();
    return cache.emplace(key, Measure(pen, dx, dy)).first->second;
}

} // namespace

void Draw(QPainter& p, const std::vector<QLine>& lines) {
    if (lines.empty()) return;
    const QPen pen = p.pen();
    if (!Applies(p, pen)) {
        p.drawLines(lines.data(), int(lines.size()));
        return;
    }
    std::vector<Run> runs; // absolute columns and rows
    std::vector<QLine> large;
    runs.reserve(lines.size() * size_t(pen.widthF() + 2));
    for (const QLine& l : lines) {
        if (std::abs(l.dx()) > kMaxStampWidth || std::abs(l.dy()) > kMaxStampHeight) {
            large.push_back(l);
            continue;
        }
        for (const Run& r : StampFor(pen, l.dx(), l.dy()))
            runs.push_back({l.x1() + r.col, l.y1() + r.top, l.y1() + r.bottom});
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        return a.col != b.col ? a.col < b.col : a.top < b.top;
    });
    // Overlapping or touching runs of a column become one rectangle.
    std::vector<QRect> rects;
    for (size_t i = 0; i < runs.size();) {
        Run merged = runs[i++];
        while (i < runs.size() && runs[i].col == merged.col && runs[i].top <= merged.bottom + 1)
            merged.bottom = std::max(merged.bottom, runs[i++].bottom);
        rects.emplace_back(merged.col, merged.top, 1, merged.bottom - merged.top + 1);
    }
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(pen.brush());
    p.drawRects(rects.data(), int(rects.size()));
    p.restore();
    if (!large.empty()) p.drawLines(large.data(), int(large.size()));
}

} // namespace widelines
