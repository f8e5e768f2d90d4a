#pragma once

#include "view/ViewState.h"

#include <QFont>
#include <QPainter>
#include <QString>

#include <vector>

class CRivuletrixDoc;
class SeriesCache;

// What the picture is drawn on. Distances are device pixels; the dots per
// inch stand for the device's LOGPIXELSX/Y.
struct RenderTarget {
    int width = 0, height = 0; // client size on screen, page size on paper
    int dpiX = 96, dpiY = 96;
    bool paper = false;
    bool preview = false; // print preview drawn through the screen path
    bool monochrome = false;
    bool Portrait() const { return height >= width; }
};

struct RenderOptions {
    int lineWidth = 1;
    int templateStepIndex = -1; // zero-based step while a template runs, else -1
    // Draw every point instead of per-column extremes (for comparisons).
    bool everyPoint = false;
};

// Colours of the view.
namespace viewcolor {
inline const QColor kPressure(0, 0, 255);
inline const QColor kVolume(0, 223, 0);
inline const QColor kInstFlow(255, 0, 0);
inline const QColor kAvgFlow(0, 0, 255);
inline const QColor kPca(0, 0, 255);
inline const QColor kBlack(0, 0, 0);
inline const QColor kGrid(192, 192, 192);
inline const QColor kBoxFill(255, 255, 230);
inline const QColor kPickedFill(192, 192, 192);
inline const QColor kRed(255, 0, 0);
inline const QColor kBlue(0, 0, 255);
inline const QColor kLabelFill(220, 255, 255);
} // namespace viewcolor

// One redraw: the painter, the record, the window's state and the fonts.
struct RenderContext {
    RenderContext(QPainter& painter, CRivuletrixDoc& d, ViewState& state, SeriesCache& c,
                  const RenderTarget& target, const RenderOptions& options)
        : p(painter), doc(d), st(state), cache(c), t(target), o(options) {}

    QPainter& p;
    CRivuletrixDoc& doc;
    ViewState& st;
    SeriesCache& cache;
    RenderTarget t;
    RenderOptions o;

    QFont mainFont, vertFont;
    int charW = 0, charH = 0, maxCharW = 0, extLeading = 0;
    int vertCharW = 0, vertCharH = 0;
    int axisPen = 1;
    bool plotOk = false;
    QString timeTitle;
    // Raised when a bolus flow outgrew the flow maximum: draw again.
    bool needsRedraw = false;
    // On paper, a free area kept for the test-details box (its top right
    // corner goes to the area's); empty: the box's usual place.
    QRect detailsArea;

    int Top() const { return st.bottom - st.height; }
    // Sample position on the time axis.
    int XOf(uint32_t ticks) const;
    // Text with its top-left corner at (x, y), as the window's text output.
    void TextOut(int x, int y, const QString& s) const;
    void TextOutRight(int xRight, int y, const QString& s) const;
    void VerticalText(int x, int y, const QString& s) const;
    int TextWidth(const QString& s) const;
    // Font of a point size for this device.
    QFont PointFont(int points, int weight = QFont::Normal) const;
};
