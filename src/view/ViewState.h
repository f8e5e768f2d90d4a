#pragma once

#include "base/CommandIds.h"

#include <QRect>

#include <cstdint>
#include <vector>

class CRivuletrixDoc;

// The channel view's commands are those of the menus and toolbars.
namespace viewcmd {
using Id = cmd::Id;
using namespace cmd;
} // namespace viewcmd

// Which items the last redraw drew; the key box lists exactly these.
struct KeyFlags {
    bool overPressure = false;
    bool airLock = false;
    bool bubble = false;
    bool volume = false;
    bool instFlow = false;
    bool avgFlow = false;
    bool pressure = false;
    bool bolusMarkers = false;
    bool pcaFlow = false;
};

// One floating box over the plot (key, test details, measured values).
struct FloatingBox {
    int x = 0, y = 0, width = 0, height = 0;
    bool pickedUp = false;
    bool firstPlacement = true;
    bool drawn = false; // drawn by the last redraw, so it can be picked up
    bool moved = false; // put down by the user: it stays where it was put
    QRect Rect() const { return QRect(x, y, width, height); }
    bool Contains(int px, int py) const {
        return px >= x && px <= x + width && py >= y && py <= y + height;
    }
};

// Scaling state of the Y axes.
struct YScale {
    bool manual = false;
    bool limitReached = false;
    double flowRange = 0;     // 0.01 ml/h
    double volumeRange = 0;   // 0.0001 ml
    double pressureRange = 0; // mmHg
};

// Everything one channel window remembers between redraws. Plain data so
// that the renderer can run without a widget (command line, tests, paper).
struct ViewState {
    // ---- Options ----
    bool grid = true;
    int pressureUnit = 0; // 0 mmHg, 1 psi, 2 kPa
    char rememberedType = 0;
    bool showPressure = false;
    bool showInstFlow = false;
    bool showAvgFlow = false;
    bool showVolume = false;
    bool showPca = false;
    bool showBolusLabels = true;
    bool showTrumpet = false;
    bool showDataTable = false;
    // Switched off by a landscape print until a portrait one.
    bool keyAllowed = true;
    bool measuredAllowed = true;

    // ---- Scaling ----
    YScale y;
    double flowMax = 0; // only grows; reset by the instantaneous-flow toggle
    uint32_t timeMax = 0;
    uint32_t volumeMax = 0;
    int pressureMax = 0, pressureMin = 0;
    int pressureMaxIndex = 0, pressureMinIndex = 0;
    double timeScale = 0, flowScale = 0, pressureScale = 0, volumeScale = 0;

    // ---- Layout of the last redraw ----
    int left = 0, bottom = 0, width = 0, height = 0, savedBottom = 0;
    int topLimit = 0;
    int leftMargin = 0, rightMargin = 0, vertMargin = 0;
    // For moving boxes, set by the key box at its first placement; 0 until
    // then, when the plot of the last redraw bounds the boxes instead.
    int rightLimit = 0, bottomLimit = 0;
    // Tick spacing (screen and paper) to carry boxes onto a page.
    int screenTickW = 0, screenTickH = 0, screenLeft = 0, screenBottom = 0;
    int paperTickW = 0, paperTickH = 0;

    KeyFlags key;
    FloatingBox keyBox, detailsBox, measuredBox;

    // ---- Bolus labels of the last redraw ----
    int bolusCount = 0;
    std::vector<QRect> bolusLabels; // label rectangles drawn by the last redraw
    double bolusVolumeTotal = 0, bolusDurationTotal = 0, bolusRateTotal = 0;
    double lastPcaFlow = 0;

    // Resets the series flags to the defaults of a record type.
    void SetTypeDefaults(char type);
    // Called on every resize: the boxes are placed again at the next redraw.
    void FlagFirstPlacement() {
        keyBox.firstPlacement = detailsBox.firstPlacement = measuredBox.firstPlacement = true;
        // The old limits may lie outside the new size.
        rightLimit = bottomLimit = 0;
    }

    // ---- Y-axis commands; true when the view must redraw ----
    bool Shrink(double autoFlow, double autoVolume, double autoPressure);
    bool Expand(double autoFlow, double autoVolume, double autoPressure);
    bool ResetScale();
    // A new test or template step: scales from scratch, no manual ranges.
    void ResetGraphScaling() {
        ResetScale();
        flowMax = 0;
    }

    // Show / hide toggles.
    void ToggleInstFlow() {
        showInstFlow = !showInstFlow;
        flowMax = 0;
    }

    // Picks a box up or puts the picked one down at a left-button press;
    // only boxes the last redraw drew take part. Returns true when the
    // window is to be redrawn.
    bool MousePress(int x, int y);
};

// Pressure unit index of a unit name: "mmHg" 0, "psi" 1, "kPa" 2, else -1.
int PressureUnitFromName(const QString& name);
