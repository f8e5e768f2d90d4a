#pragma once

#include "view/RenderContext.h"

// The test-details box, the measured-values box and the auto-stop banner.
namespace boxes {
void DrawDetails(RenderContext& c);
void DrawMeasured(RenderContext& c);
void DrawAutoStopBanner(RenderContext& c);
// Frame of a floating box: fill (grey while picked up), edge and frame.
void Frame(RenderContext& c, const QRect& r, bool pickedUp);
// Lines of the two boxes for the document as it stands.
QStringList DetailsLines(const CRivuletrixDoc& doc);
QStringList MeasuredLines(const RenderContext& c);
} // namespace boxes
