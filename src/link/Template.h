#pragma once

#include <QString>

// The template model as it crosses the wire: a step count, six slots in run
// order, a name, device comments, a third text (written empty) and the
// serial number of the analyzer it came from.
namespace pxr {

struct TemplateStep {
    int type = 0;      // 0 empty, 1 Flow, 2 Occlusion, 3 PCA, 5 bolus
    double volume = 0; // volume (ml) or pressure limit in the step's unit
    int unit = 1;      // 1 not set, 2 mmHg, 3 kPa, 4 psi, 5 ml
    double rate = 0;   // ml/h
    int tolerance = 0; // percent
    int hours = 0;
    int minutes = 0;

    bool operator==(const TemplateStep&) const = default;
};

struct Template {
    int stepCount = 0;
    TemplateStep steps[6];
    QString name;
    QString deviceComments;
    QString thirdText;
    QString instrumentSerial;

    bool operator==(const Template&) const = default;
};

} // namespace pxr
