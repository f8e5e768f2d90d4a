#pragma once

#include "base/AppSettings.h"

#include <QString>

class CDevice;
class RecordIndex;
class RecordIndexer;
class TemplateStore;

// What a channel's run controller and the setup sheet see of the application:
// the analyzer slots, both stores, the settings, and the run flags that every
// channel shares. The application implements it; the run code never reaches
// the shell itself.
class RunHost {
public:
    static constexpr int kSlots = 4;
    static constexpr int kChannels = 4;

    virtual ~RunHost();

    // The application's, where one exists (the GUI program and the command
    // line make one); nullptr otherwise.
    static RunHost* Current();

    // The device in slot 1..4, or nullptr.
    virtual CDevice* Device(int slot) const = 0;
    virtual RecordIndex& Records() = 0;
    virtual TemplateStore& Templates() = 0;
    // Adds the rows of saved records off this thread; nullptr: they are
    // added in place.
    virtual RecordIndexer* Indexer() { return nullptr; }
    virtual AppSettings& Settings() = 0;
    // The selected analyzer or the run flags changed: menus and bars refresh.
    virtual void NotifyAnalyzersChanged() = 0;
    // Where live tests keep their journals (local disk beside the settings);
    // empty: tests run without one.
    virtual QString JournalFolder() const { return {}; }

    // Start-up copies of the report headers.
    QString ReportHeader[3];

    int ConnectedCount = 0;
    int CurrentAnalyzer = -1; // -1 none, else 1..4
    bool ViewAll = false;

    // Per (slot, channel), 0-based: set up and started.
    bool SetUpFlags[kSlots][kChannels] = {};
    bool StartedFlags[kSlots][kChannels] = {};
    int SetUpTests = 0;
    bool CancelInProgress = false;
    bool EndingInProgress = false;
    // Tests ended on each analyzer, counted in order: a test's record is the
    // analyzer's newest only while no later one has ended.
    int TestsEnded[kSlots] = {};

protected:
    RunHost();
};
