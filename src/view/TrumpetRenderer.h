#pragma once

#include "view/RenderContext.h"

struct TrumpetCurve;

// Draws a computed trumpet curve: error axis, window axis, the overall error
// line, the minimum and maximum curves and the table of the labelled windows
// (right of the plot on screen, under it on paper).
namespace trumpet {
void Draw(RenderContext& c, const TrumpetCurve& curve);
} // namespace trumpet
