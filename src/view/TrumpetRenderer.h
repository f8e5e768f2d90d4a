#pragma once

#include "view/RenderContext.h"

struct TrumpetCurve;

// Draws a computed trumpet curve: error axis, window axis, the overall error
// line and the minimum and maximum curves.
namespace trumpet {
void Draw(RenderContext& c, const TrumpetCurve& curve);
} // namespace trumpet
