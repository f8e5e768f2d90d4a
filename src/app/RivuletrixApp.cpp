#include "RivuletrixApp.h"

#include "AnalyzerPoll.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"
#include "store/RecordIndexer.h"
#include "store/TemplateStore.h"

#include "base/DataFolder.h"
#include "base/Trace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {
CRivuletrixApp* g_app = nullptr;
}

CRivuletrixApp::CRivuletrixApp(const QString& workingDir, QObject* parent)
    : QObject(parent), AppSettings(workingDir), m_records(std::make_unique<RecordIndex>(*this)),
      m_templates(std::make_unique<TemplateStore>(*this)),
      m_scanner(std::make_unique<PortScanner>()), m_poll(std::make_unique<AnalyzerPoll>(*this)) {
    g_app = this;
    // The seed databases are installed beside the location file.
    m_records->SetSeedFolder(WorkingDir());
    m_templates->SetSeedFolder(WorkingDir());
}

CRivuletrixApp::~CRivuletrixApp() {
    for (auto& d : m_devices)
        if (d) d->DisconnectDevice();
    m_poll.reset();
    if (g_app == this) g_app = nullptr;
}

RecordIndexer* CRivuletrixApp::Indexer() {
    if (!m_indexer) m_indexer = std::make_unique<RecordIndexer>(*this);
    return m_indexer.get();
}

bool CRivuletrixApp::FinishIndexing(int ms) {
    if (!m_indexer) return true;
    const bool finished = m_indexer->WaitIdle(ms);
    QCoreApplication::sendPostedEvents();
    return finished;
}

CRivuletrixApp* CRivuletrixApp::Instance() {
    return g_app;
}

CRivuletrixApp::StartupProblem CRivuletrixApp::StartupSettings() {
    const QString section = settings::kSection;
    QString value;
    // Where records go is the technician's choice: a folder or index that
    // does not open is reported, never swapped for another folder.
    StartupProblem problem;
    // No kind was ever chosen: the default folder, as the first start has it.
    if (!GetSetting(section, QStringLiteral("PathType"), value) || value.trimmed().isEmpty())
        WriteSetting(section, QStringLiteral("PathType"), QStringLiteral("0"));
    if (!m_records->IsOpen() && OpenRecordsAtStartup() == IndexOpen::Failed) {
        problem.folder = DataFolderProblem(*this);
        if (problem.folder.isEmpty()) problem.index = m_records->LastError();
        if (problem.index.isEmpty() && problem.folder.isEmpty())
            problem.index = QStringLiteral("The records index could not be opened.");
    }
    if (!GetSetting(section, QStringLiteral("DefaultPath  "), value))
        WriteSetting(section, QStringLiteral("DefaultPath  "), PublicFolder());
    if (!GetSetting(section, QStringLiteral("CustomPath  "), value))
        WriteSetting(section, QStringLiteral("CustomPath  "), PublicFolder());
    if (!m_templates->IsOpen()) m_templates->Open();
    LoadSettingsCopies();
    return problem;
}

CRivuletrixApp::IndexOpen CRivuletrixApp::OpenRecordsAtStartup() {
    // Another workstation writing the shared index holds it for a moment:
    // that is no reason to give up the data folder. Only an index that cannot
    // be opened at all sends this workstation back to the local folder.
    for (int attempt = 1;; ++attempt) {
        if (m_records->Open()) return IndexOpen::Open;
        if (!m_records->LastOpenWasBusy()) return IndexOpen::Failed;
        if (attempt >= kBusyOpenAttempts) {
            // The folder stays as chosen; indexing opens the index again.
            qCWarning(lcTrace) << "The records index stayed busy; the data folder is kept";
            return IndexOpen::Busy;
        }
        QThread::msleep(200);
    }
}

void CRivuletrixApp::LoadSettingsCopies() {
    for (int k = 0; k < 3; ++k)
        ReportHeader[k] = Setting(QStringLiteral("ReportHeader%1").arg(k + 1));
    FlowTolerance = IntSetting(QStringLiteral("FlowTolerance "));
    GraphLineWidth = IntSetting(QStringLiteral("GraphLineWidth"));
    DefaultPressureUnit = Setting(QStringLiteral("DefaultPressureUnit"));
}

void CRivuletrixApp::SettingsSaved() {
    SettingsChanged = true;
    LoadSettingsCopies();
    NoteSettingsChanged();
}

void CRivuletrixApp::ExitInstance() {
    for (FoundAnalyzer record : m_scanner->Ready()) DisconnectAnalyzer(record.slot, record);
    Initialised = false;
    m_records->SetStartupFinished(false);
    if (m_records->IsOpen()) m_records->Close();
    if (m_templates->IsOpen()) m_templates->Close();
}

CDevice* CRivuletrixApp::Device(int slot) const {
    return (slot >= 1 && slot <= kSlots) ? m_devices[slot - 1].get() : nullptr;
}

int CRivuletrixApp::FreeSlot() const {
    // A slot is free when it holds no analyzer. (Looking only at the channel-1
    // window would hand out the slot of an analyzer without channel 1.)
    for (int s = 1; s <= kSlots; ++s)
        if (!m_devices[s - 1]) return s;
    return 0;
}

bool CRivuletrixApp::TestInProgress(int slot) const {
    for (int s = 0; s < kSlots; ++s) {
        if (slot != 0 && s != slot - 1) continue;
        for (int c = 0; c < kChannels; ++c)
            if (SetUpFlags[s][c] || StartedFlags[s][c]) return true;
    }
    return false;
}

int CRivuletrixApp::ConnectAnalyzer(int slot, FoundAnalyzer& record) {
    if (slot < 1 || slot > kSlots) return 0;
    auto& entry = m_devices[slot - 1];
    entry.reset();
    record.slot = slot;
    entry = std::make_unique<CDevice>(record);
    entry->Slot = slot;
    if (!entry->StartConnection()) {
        entry.reset();
        record.slot = 0;
        return 0;
    }
    WatchLost(slot);
    const bool pxr8 = record.model == QLatin1String("PXR-8");
    if (ConnectedCount < 4) {
        ++ConnectedCount;
        ChannelCount += pxr8 ? 4 : 1;
    }
    for (int c = 1; c <= kChannels; ++c) {
        if (!record.channels[c - 1]) continue;
        ChannelPresent[slot - 1][c - 1] = true;
        CurrentAnalyzer = slot;
        CurrentChannel = c;
        if (m_host) m_host->OpenChannelWindow(slot, c);
    }
    if (pxr8)
        ++Pxr8Count;
    else if (record.model == QLatin1String("PXR2K"))
        ++Pxr2kCount;
    Q_EMIT AnalyzersChanged();
    return slot;
}

void CRivuletrixApp::WatchLost(int slot) {
    CDevice* device = Device(slot);
    connect(
        device, &CDevice::AnalyzerLost, this,
        [this, slot, device](const QString&) {
            // A device replaced in the meantime is no longer this slot's.
            CDevice* d = Device(slot);
            if (d != device) return;
            m_scanner->MarkLost(d->SerialNumber);
            Q_EMIT AnalyzerLost(slot, d->Name);
        },
        Qt::QueuedConnection);
}

int CRivuletrixApp::ReconnectAnalyzer(int slot, FoundAnalyzer& record) {
    CDevice* old = Device(slot);
    if (!old) return 0;
    // The old port is closed first (the analyzer may come back under the
    // same name), and what it received reaches the documents before any
    // line of the new connection.
    old->DisconnectDevice();
    m_poll->WaitIdle(slot);
    old->DrainChannels();
    auto device = std::make_unique<CDevice>(record);
    device->Slot = slot;
    // A running test reads the set-up at its end, and goes by the last
    // status until the analyzer answers again.
    device->TakeOver(*old);
    if (!device->StartConnection()) return 0; // the lost device stays
    CRivuletrixDoc* docs[kChannels];
    for (int c = 0; c < kChannels; ++c) {
        docs[c] = old->ChannelDoc(c);
        if (docs[c]) device->SetChannelDoc(c, docs[c]);
    }
    m_devices[slot - 1] = std::move(device);
    WatchLost(slot);
    record.slot = slot;
    record.connected = 1;
    record.lost = 0;
    Q_EMIT AnalyzerReconnected(slot);
    Q_EMIT AnalyzersChanged();
    return slot;
}

int CRivuletrixApp::DisconnectAnalyzer(int slot, FoundAnalyzer& record) {
    if (CDevice* d = Device(slot)) {
        d->DisconnectDevice();
        m_poll->WaitIdle(slot);
        m_devices[slot - 1].reset();
    }
    const bool pxr8 = record.model == QLatin1String("PXR-8");
    if (ConnectedCount > 0) {
        --ConnectedCount;
        ChannelCount = std::max(0, ChannelCount - (pxr8 ? 4 : 1));
    }
    if (slot >= 1 && slot <= kSlots) {
        for (int c = 1; c <= kChannels; ++c) {
            if (!record.channels[c - 1]) continue;
            ChannelPresent[slot - 1][c - 1] = false;
            if (m_host) m_host->CloseChannelWindow(slot, c);
            ChannelDocs[slot - 1][c - 1] = nullptr;
        }
    }
    CurrentAnalyzer = -1;
    for (int s = 1; s <= kSlots; ++s)
        if (m_devices[s - 1]) {
            CurrentAnalyzer = s;
            break;
        }
    if (pxr8)
        Pxr8Count = std::max(0, Pxr8Count - 1);
    else if (record.model == QLatin1String("PXR2K"))
        Pxr2kCount = std::max(0, Pxr2kCount - 1);
    record.slot = 0;
    record.connected = 0;
    record.lost = 0;
    Q_EMIT AnalyzersChanged();
    return slot;
}

QString CRivuletrixApp::JournalFolder() const {
    if (!m_journalFolder.isEmpty()) return m_journalFolder;
    // Without the location file there is no settings folder to journal
    // beside (asking would show a message in the middle of a test).
    if (!QFileInfo::exists(QDir(WorkingDir()).filePath(settings::kLocationFile))) return {};
    const QString ini = GetIniFolder();
    return ini.isEmpty() ? QString() : journal::Folder(ini);
}
