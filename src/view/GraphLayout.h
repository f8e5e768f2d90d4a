#pragma once

#include <QString>

#include <cstdint>

// The arithmetic of the graph axes: scales, tick steps, label formats and the
// live time window. Pure functions, so that the tables can be tested alone.
namespace layout {

// Scale in units per pixel of a range over a height, with headroom:
// range / height (a height below 1 counts as 1), 0 becomes 1.0, then
// + scale / headroomDivisor.
double AxisScale(double range, int height, int headroomDivisor);

// Flow axis (0.01 ml/h).
int FlowBaseStep(double span);
QString FlowLabel(int64_t value, int64_t step);

// Steps grow by their base until two character heights of pixels apart.
int64_t GrowStep(int64_t base, double scale, int charHeight);

// Pressure units: factor f and label divisor d, so that a value in
// mmHg / f is the value in the unit times d.
struct UnitFactor {
    double f;
    int d;
};
UnitFactor PressureFactor(int unit);
int PressureBaseStep(double span);
QString PressureLabel(double value, int64_t step, int divisor);
// First pressure tick: the lowest step multiple not below the minimum (in
// display units); 0 when the minimum is 0.
int64_t PressureFirstTick(int minimumMmHg, double f, int64_t step);

// Volume axis (0.0001 ml).
int VolumeBaseStep(int64_t span);
QString VolumeLabel(int64_t value, int64_t step);

// Time axis: the unit (ticks) and its title for a span of ticks.
struct TimeUnit {
    uint32_t unit;
    QString title;
};
TimeUnit TimeAxisUnit(double span, int ticksPerSecond);
int64_t TimeStep(uint32_t unit, double scale, int charHeight);

// Ticks per second of the times the view reads (ElapsedTicks): 1000 for
// current records; older records store 1/256 s and read back four times
// that, so 1024.
int ViewTicksPerSecond(bool newModel, int recordTicksPerSecond);

// One step of the live time window (minutes) for the largest elapsed time
// (ms). Called once per redraw, so a long jump catches up over redraws.
int NextLiveWindow(int windowMinutes, uint32_t elapsedMaxMs);

// Clamps a coordinate to the signed 16-bit range the drawing calls accept.
inline int Clamp16(int64_t v) {
    return v < -32768 ? -32768 : (v > 32767 ? 32767 : int(v));
}
inline int Clamp16(double v) {
    return v < -32768.0 ? -32768 : (v > 32767.0 ? 32767 : int(v));
}

} // namespace layout
