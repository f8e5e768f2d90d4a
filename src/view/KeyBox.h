#pragma once

#include "view/RenderContext.h"

// The key box: one line per item the redraw drew, each with a sample.
namespace keybox {
void Draw(RenderContext& c);
// Entry texts the key would list for the current key flags (tests, reports).
QStringList Entries(const RenderContext& c);
} // namespace keybox
