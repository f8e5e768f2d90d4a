#include "ViewState.h"

#include <QString>

#include <algorithm>

void ViewState::SetTypeDefaults(char type) {
    rememberedType = type;
    showPressure = type == 'O';
    showInstFlow = false;
    showAvgFlow = type == 'F';
    showVolume = type == 'F' || type == 'P';
    showPca = type == 'P';
}

bool ViewState::Shrink(double autoFlow, double autoVolume, double autoPressure) {
    y.manual = true;
    if (y.limitReached) return false;
    // Each range grows by a tenth of its automatic value up to a cap; the
    // first one at its cap returns to automatic scaling.
    const auto grow = [this](double& range, double automatic, double cap) {
        if (range < cap) {
            range += automatic / 10.0;
            return true;
        }
        range = automatic;
        y.manual = false;
        y.limitReached = true;
        return false;
    };
    if (!grow(y.pressureRange, autoPressure, 2560)) return false;
    if (!grow(y.volumeRange, autoVolume, 100000000)) return false;
    if (!grow(y.flowRange, autoFlow, 10000000)) return false;
    return true;
}

bool ViewState::Expand(double autoFlow, double autoVolume, double autoPressure) {
    y.manual = true;
    y.limitReached = false;
    const auto shrink = [](double& range, double automatic) {
        const double a = automatic / 10.0;
        if (a <= range) range -= a;
    };
    shrink(y.pressureRange, autoPressure);
    shrink(y.volumeRange, autoVolume);
    shrink(y.flowRange, autoFlow);
    return true;
}

bool ViewState::ResetScale() {
    y.limitReached = false;
    y.manual = false;
    y.pressureRange = 0;
    return true;
}

bool ViewState::MousePress(int px, int py) {
    FloatingBox* boxes[3] = {&keyBox, &detailsBox, &measuredBox};
    for (FloatingBox* b : boxes) {
        if (b->drawn && !b->pickedUp && b->Contains(px, py)) {
            b->pickedUp = true;
            return true;
        }
    }
    // Until the key box has been placed, the plot's right edge and bottom
    // keep the boxes inside the window.
    const int right = rightLimit > 0 ? rightLimit : left + width;
    const int bottom = bottomLimit > 0 ? bottomLimit : savedBottom;
    for (int k = 0; k < 3; ++k) {
        FloatingBox* b = boxes[k];
        // A box held while it went out of sight stays held until it shows.
        if (!b->pickedUp || !b->drawn) continue;
        const int leftLimit = leftMargin;
        int nx, ny;
        if (px > leftLimit && px + b->width > right)
            nx = right - b->width;
        else if (px > leftLimit)
            nx = std::max(leftLimit, px - b->width / 2);
        else
            nx = leftLimit;
        if (py > topLimit && py + b->height > bottom)
            ny = bottom - b->height;
        else if (py > topLimit)
            ny = std::max(topLimit + 1, py - b->height / 2);
        else
            ny = topLimit + 1;
        b->x = nx;
        b->y = ny;
        b->pickedUp = false;
        b->moved = true;
        // The details and measured-values boxes put outside the window wait
        // for the next redraw.
        if (k > 0 && (nx < 1 || ny < 1)) return false;
        return true;
    }
    return false;
}

int PressureUnitFromName(const QString& name) {
    if (name == QLatin1String("mmHg")) return 0;
    if (name == QLatin1String("psi")) return 1;
    if (name == QLatin1String("kPa")) return 2;
    return -1;
}
