#include "GraphLayout.h"

#include <cmath>

namespace layout {

double AxisScale(double range, int height, int headroomDivisor) {
    double scale = range / double(height < 1 ? 1 : height);
    if (scale == 0) scale = 1.0;
    return scale + scale / headroomDivisor;
}

int FlowBaseStep(double span) {
    if (span > 450000) return 150000;
    if (span > 150000) return 50000;
    if (span > 15000) return 5000;
    if (span > 1500) return 500;
    if (span > 1000) return 100;
    return 10;
}

QString FlowLabel(int64_t value, int64_t step) {
    if (step < 100) return QString::asprintf("%03.1f", double(value) / 100.0);
    return QString::number(value / 100);
}

int64_t GrowStep(int64_t base, double scale, int charHeight) {
    int64_t step = base;
    if (base <= 0 || scale <= 0) return base;
    while (double(step) / scale < 2.0 * charHeight) step += base;
    return step;
}

UnitFactor PressureFactor(int unit) {
    UnitFactor u{unit == 1 ? 51.71 : (unit == 2 ? 7.499 : 1.0), 1};
    while (u.f > 1) {
        u.f /= 10;
        u.d *= 10;
    }
    return u;
}

int PressureBaseStep(double span) {
    if (span > 1500) return 500;
    if (span > 150) return 50;
    if (span > 15) return 5;
    return 1;
}

QString PressureLabel(double value, int64_t step, int divisor) {
    const char* format = "%1.0f";
    if (divisor != 1 && step * 10 < divisor)
        format = "%1.2f";
    else if (divisor != 1 && step <= divisor)
        format = "%1.1f";
    return QString::asprintf(format, value / divisor);
}

int64_t PressureFirstTick(int minimumMmHg, double f, int64_t step) {
    int64_t t = 0;
    if (minimumMmHg == 0 || step <= 0) return 0;
    const int64_t lowest = int64_t(std::trunc(minimumMmHg / f));
    while (lowest <= t - step) t -= step;
    return t;
}

int VolumeBaseStep(int64_t span) {
    if (span > 150000000) return 50000000;
    if (span > 15000000) return 1000000;
    if (span > 150000) return 100000;
    if (span > 15000) return 10000;
    return 1000;
}

QString VolumeLabel(int64_t value, int64_t step) {
    if (step < 10000) return QString::asprintf("%03.1f", double(value) / 10000.0);
    return QString::number(value / 10000);
}

TimeUnit TimeAxisUnit(double span, int ticksPerSecond) {
    const uint32_t t = uint32_t(ticksPerSecond);
    if (span >= 3600.0 * t) return {3600 * t, QStringLiteral("Hours")};
    if (span >= 60.0 * t) return {60 * t, QStringLiteral("Minutes")};
    return {t, QStringLiteral("Seconds")};
}

int64_t TimeStep(uint32_t unit, double scale, int charHeight) {
    int64_t step = unit;
    if (unit == 0 || scale <= 0) return step;
    while (double(step) / scale <= 2.0 * charHeight) step += unit;
    return step;
}

int ViewTicksPerSecond(bool newModel, int recordTicksPerSecond) {
    return newModel ? recordTicksPerSecond : recordTicksPerSecond * 4;
}

int NextLiveWindow(int window, uint32_t elapsedMax) {
    const uint64_t m = elapsedMax < 60000 ? 1 : elapsedMax;
    if (uint64_t(window) * 60000 < m && m < 1920000) window *= 2;
    if (m > 1920000 && m < 3600000)
        window = 60;
    else if (m > uint64_t(window) * 60000 && m > 3600000)
        window *= 2;
    return window;
}

} // namespace layout
