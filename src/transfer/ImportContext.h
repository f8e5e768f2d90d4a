#pragma once

#include "link/Device.h"

#include <QPointer>

#include <functional>

class AppSettings;
class RecordIndex;
class TemplateStore;

// What the import pages work with: the settings, both stores and the
// analyzer the sheet was opened for.
struct ImportContext {
    const AppSettings& settings;
    RecordIndex& records;
    TemplateStore& templates;
    QPointer<CDevice> device;
    // True while the analyzer is still the selected one; the shell says.
    std::function<bool()> analyzerSelected;

    CDevice* Device() const {
        if (!device) return nullptr;
        if (analyzerSelected && !analyzerSelected()) return nullptr;
        return device.data();
    }
};
