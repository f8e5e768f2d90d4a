#pragma once

#include "view/RenderContext.h"

// The test-details box, the measured-values box and the auto-stop banner.
namespace boxes {
void DrawDetails(RenderContext& c);
void DrawMeasured(RenderContext& c);
void DrawAutoStopBanner(RenderContext& c);
// Where a box placed on screen goes on a page: the same place relative to
// the axes, by the tick spacings of screen and page; a box that would leave
// the page goes to the plot's left edge (at fallbackY, or where it was).
QPoint PaperPosition(const RenderContext& c, const FloatingBox& box, int fallbackY = -1);
// Frame of a floating box: fill (grey while picked up), edge and frame.
void Frame(RenderContext& c, const QRect& r, bool pickedUp);
// Lines of the two boxes for the document as it stands.
QStringList DetailsLines(const CRivuletrixDoc& doc);
QStringList MeasuredLines(const RenderContext& c);
// Average basal / primary rate in ml/h: the flow over the time and volume
// outside the boluses; 0 when the set rate is zero or nothing is left.
double BasalRate(const CRivuletrixDoc& doc, const ViewState& st, double bolusVolumeMl,
                 double bolusSeconds);
} // namespace boxes
