#pragma once

#include <QString>

// The fields of the five parameter replies.
struct AnalyzerParameters {
    QString p1;           // manufacturer
    QString p2;           // model, "PXR-8" or "PXR2K"
    QString p3;           // model name
    int pressureUnit = 0; // 2 mmHg, 3 kPa, 4 psi
    int percent = 0;
    QString p4;
    int twoDigit = 0;
    int modeA = 0;
    int modeB = 0;
    QString p5; // the analyzer's name

    bool operator==(const AnalyzerParameters&) const = default;
};

// The five outputs of a serial-number request.
struct SerialNumbers {
    QString serial;     // analyzer serial number
    QString firmware;   // analyzer firmware version
    QString third;      // third field of the analyzer reply
    QString tdSerial;   // transducer serial number of the channel asked for
    QString tdFirmware; // its firmware version
};
