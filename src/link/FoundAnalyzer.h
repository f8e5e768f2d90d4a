#pragma once

#include <QString>

// An analyzer found by the probe exchange; also the identity a device object
// keeps. Serial numbers are the key of every list operation.
struct FoundAnalyzer {
    enum Kind { KindNone = 1, KindUsbSerial = 2, KindBluetooth = 3 };

    QString portName;
    QString name;         // its P5 text
    QString serialNumber; // from its "[SN0" reply
    int channels[4] = {0, 0, 0, 0};
    int added = 0;
    int connected = 0;
    int lost = 0; // connected, but its port went away (unplugged)
    int kind = KindNone;
    int slot = 0;
    QString model; // "PXR-8" or "PXR2K"
    char battery = 'H';

    int ChannelCount() const {
        int n = 0;
        for (int c : channels) n += c != 0;
        return n;
    }
};
