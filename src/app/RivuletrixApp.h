#pragma once

#include "base/AppSettings.h"
#include "link/FoundAnalyzer.h"
#include "testing/RunHost.h"

#include <QObject>
#include <QString>

#include <memory>

class AnalyzerPoll;
class CDevice;
class CRivuletrixDoc;
class PortScanner;
class RecordIndex;
class RecordIndexer;
class TemplateStore;

// Where channel windows come from: the main window opens and closes them. The
// application's slot operations call it, so they run without a screen too.
class ChannelWindowHost {
public:
    virtual ~ChannelWindowHost() = default;
    // Opens the channel window of (slot 1..4, channel 1..4); its document is
    // entered in the application's channel document table.
    virtual void OpenChannelWindow(int slot, int channel) = 0;
    virtual void CloseChannelWindow(int slot, int channel) = 0;
    // The channel windows are arranged again (the selected analyzer changed).
    virtual void ArrangeChannelWindows() = 0;
    // Before the analyzer in slot goes: its windows offer results that are
    // still unsaved; false when one of them must stay.
    virtual bool MayCloseChannelWindows(int /*slot*/) { return true; }
};

// The application: settings, the two stores, the four analyzer slots with
// their counts, the channel document table and the run flags every window
// reads.
class CRivuletrixApp : public QObject, public AppSettings, public RunHost {
    Q_OBJECT
public:
    explicit CRivuletrixApp(const QString& workingDir = {}, QObject* parent = nullptr);
    ~CRivuletrixApp() override;

    static CRivuletrixApp* Instance();

    // ---- Start-up and exit ----
    // Settings steps of start-up: data folders, both stores, settings copies.
    // What kept the records index closed at start-up: the data folder
    // (missing, not mounted) or the index in it (damaged). Both empty when
    // it opened or was only busy.
    struct StartupProblem {
        QString folder;
        QString index;
        bool Any() const { return !folder.isEmpty() || !index.isEmpty(); }
    };
    StartupProblem StartupSettings();
    // Re-reads the report headers, tolerance, line width and pressure unit.
    void LoadSettingsCopies();
    // The settings dialog saved: the flag is raised, the copies taken again
    // (the next test gets the new headers) and open windows told.
    void SettingsSaved();
    // Disconnects every analyzer of the ready list and closes both stores.
    void ExitInstance();

    bool StartingUp = false;
    bool Initialised = false;
    bool SettingsChanged = false;

    // Start-up copies of the settings, defaults of new tests and live windows
    // (the report headers are the run host's).
    int FlowTolerance = 0;
    int GraphLineWidth = 1;
    QString DefaultPressureUnit;

    RecordIndex& Records() override { return *m_records; }
    RecordIndexer* Indexer() override;
    // Waits for the rows handed to the indexer and delivers their outcomes
    // (messages about them included); false when ms ran out first.
    bool FinishIndexing(int ms);
    TemplateStore& Templates() override { return *m_templates; }
    AppSettings& Settings() override { return *this; }
    void NotifyAnalyzersChanged() override { Q_EMIT AnalyzersChanged(); }
    PortScanner& Scanner() { return *m_scanner; }
    AnalyzerPoll& Poll() { return *m_poll; }

    // ---- Analyzer slots ----
    // The device in slot 1..4, or nullptr.
    CDevice* Device(int slot) const override;
    // Creates the device, connects it and opens its channel windows. Returns
    // the slot, or 0 when it could not connect.
    int ConnectAnalyzer(int slot, FoundAnalyzer& record);
    // Disconnects the device of the slot (none for slot 0), closes its channel
    // windows and selects the lowest slot still connected. Returns the slot.
    int DisconnectAnalyzer(int slot, FoundAnalyzer& record);
    // The lost analyzer of the slot is back (record names its port now): a
    // new device takes the old one's place and its channel windows, their
    // documents and tests stay as they are. Returns the slot, or 0 when it
    // could not connect (the lost device stays).
    int ReconnectAnalyzer(int slot, FoundAnalyzer& record);
    // The lowest slot that holds no analyzer, or 0.
    int FreeSlot() const;
    // The "Default mode" tick: one PXR-8, or any PXR2K.
    bool DefaultMode() const { return Pxr8Count == 1 || Pxr2kCount > 0; }

    void SetWindowHost(ChannelWindowHost* host) { m_host = host; }
    // Journals go beside the settings unless a folder is named here.
    void SetJournalFolder(const QString& folder) { m_journalFolder = folder; }
    QString JournalFolder() const override;
    ChannelWindowHost* WindowHost() const { return m_host; }

    // ConnectedCount, CurrentAnalyzer, ViewAll and the run flags are the run
    // host's.
    int ChannelCount = 0;
    int Pxr8Count = 0;
    int Pxr2kCount = 0;
    int CurrentChannel = 0; // channel of the window being created

    // Per (slot, channel), 0-based: present and document.
    bool ChannelPresent[kSlots][kChannels] = {};
    CRivuletrixDoc* ChannelDocs[kSlots][kChannels] = {};

    // A test is set up or started on some channel (of one slot, or of any).
    bool TestInProgress(int slot = 0) const;

Q_SIGNALS:
    // Slots, counts or the selection changed: menus and bars refresh.
    void AnalyzersChanged();
    // An analyzer's port went away while connected.
    void AnalyzerLost(int slot, const QString& name);
    // The lost analyzer of the slot was connected again.
    void AnalyzerReconnected(int slot);

private:
    // The device's lost signal reaches the application, marked in the ready
    // list, on the window's thread.
    void WatchLost(int slot);

    enum class IndexOpen { Open, Busy, Failed };
    // Opens the records index at start-up, trying again while another
    // program holds it busy.
    IndexOpen OpenRecordsAtStartup();
    static constexpr int kBusyOpenAttempts = 6;

    std::unique_ptr<CDevice> m_devices[kSlots];
    std::unique_ptr<RecordIndex> m_records;
    std::unique_ptr<TemplateStore> m_templates;
    std::unique_ptr<RecordIndexer> m_indexer; // started at the first row for a server
    std::unique_ptr<PortScanner> m_scanner;
    std::unique_ptr<AnalyzerPoll> m_poll; // goes before the devices, after its workers end
    ChannelWindowHost* m_host = nullptr;
    QString m_journalFolder;
};

inline CRivuletrixApp* RxApp() {
    return CRivuletrixApp::Instance();
}
