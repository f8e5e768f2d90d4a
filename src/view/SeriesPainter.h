#pragma once

#include "view/RenderContext.h"

// The series of the graph, their markers and the bolus labels.
namespace series {

void DrawPressure(RenderContext& c);
void DrawSetRate(RenderContext& c);
void DrawInstFlow(RenderContext& c);
void DrawAvgFlow(RenderContext& c);
void DrawVolume(RenderContext& c);
void DrawPca(RenderContext& c);

// Markers at a point; each sets its key flag.
void Bubble(RenderContext& c, int x, int y);
void AirLock(RenderContext& c, int x, int y, bool first, bool caption);
void OverPressure(RenderContext& c, int x, int y, bool caption);
void BolusStart(RenderContext& c, int x, int y);
void BolusEnd(RenderContext& c, int x, int y);

// Pens of the series (monochrome variants on monochrome devices).
QPen PressurePen(const RenderContext& c);
QPen InstFlowPen(const RenderContext& c);
QPen AvgFlowPen(const RenderContext& c);
QPen VolumePen(const RenderContext& c);
QPen PcaPen(const RenderContext& c);
QPen SetRatePen();
QPen TolerancePen();

// Fills the time and flow scales when no axis has yet.
void EnsureScales(RenderContext& c);

} // namespace series
