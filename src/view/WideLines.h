#pragma once

#include <QLine>

#include <vector>

class QPainter;

// Draws separate segments with the painter's pen. A pen wider than one pixel
// on a plain raster painter (no antialiasing, no scaling) is drawn from the
// pixels each segment's stroke covers: the raster engine strokes one segment
// of each shape once, the pixel columns it covered are kept and placed at
// every segment of that shape, and the columns of one call are merged and
// filled. A pixel is drawn when its centre lies in any segment's stroke, so
// the picture is the one drawLines gives, at a fraction of the cost when
// many wide segments overlap. Anything else goes to drawLines.
namespace widelines {

void Draw(QPainter& p, const std::vector<QLine>& lines);

} // namespace widelines
