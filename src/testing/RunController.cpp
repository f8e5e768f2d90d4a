#include "RunController.h"

#include "SetupSheetRunner.h"
#include "base/DataFolder.h"
#include "base/Prompter.h"
#include "base/Trace.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"
#include "store/RecordIndexer.h"
#include "testing/RunHost.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const QString kCancelOcclusion = QStringLiteral("Do you want the Cancel the Test?");
const QString kCancelTest = QStringLiteral("The test on this channel has not started.\nAre you "
                                           "sure you want to cancel it?\n\nNOTE: If the cancel "
                                           "process does not complete\nyou should infuse some "
                                           "water into the channel\nyou are cancelling.");
const QString kSaveQuestion =
    QStringLiteral("Do you want to save the test results for %1?\n(NO will discard the results)");
const QString kPrintQuestion = QStringLiteral("Do you want to print the results?");
const QString kNotSaved = QStringLiteral(
    "The Test results for %1 have not been saved.\nDo you want to save the results ?");
const QString kWaitForStop =
    QStringLiteral("Wait for all Tests to STOP !!!, or CANCEL before closing Rivuletrix.");
const QString kStopAll = QStringLiteral(
    "Stop All Tests before closing.\nDisconnect Devices using Manage Connection Screen.");
const QString kShutDown =
    QStringLiteral("PXR-2K has shutdown. Please remove the device from Manage Connection window.");

constexpr int kStatusMs = 200;
constexpr int kEndWaitPasses = 25; // 5 s of status updates

bool IsPrimed(const QString& s) {
    static const QStringList primed = {"FFF", "FPF", "vFF", "vPF", "oOT", "TOT"};
    return primed.contains(s);
}

int TypeIndex(char type) {
    switch (type) {
    case 'F':
        return 1;
    case 'O':
        return 2;
    case 'P':
        return 3;
    default:
        return 0;
    }
}

QChar At(const QString& s, int i) {
    return i < s.size() ? s[i] : QLatin1Char(' ');
}

} // namespace

RunController::RunController(RunHost& app, CRivuletrixDoc& doc, int slot, int channel,
                             QObject* parent)
    : QObject(parent), m_app(app), m_doc(doc), m_slot(slot), m_channel(channel),
      m_statusTimer(new QTimer(this)) {
    m_doc.StopCheck = [this] { NeedToStop(); };
    m_doc.TestType = 'E'; // a new window
    connect(m_statusTimer, &QTimer::timeout, this, &RunController::CheckStatus);
    m_statusTimer->start(kStatusMs);
}

RunController::~RunController() {
    m_doc.StopCheck = nullptr;
    m_doc.SampleStored = nullptr;
    // Results neither saved nor discarded stay recoverable.
    if (m_journal && !m_doc.Modified) m_journal->Remove();
}

void RunController::StartJournal() {
    EndJournal();
    m_journalProblemSaid = false;
    const QString folder = m_app.JournalFolder();
    if (folder.isEmpty()) return;
    auto journal = std::make_unique<TestJournal>();
    const QString stem = QDir(folder).filePath(
        QStringLiteral("%1-%2-%3")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")))
            .arg(m_slot)
            .arg(m_channel));
    // Another program (a command-line run) may have started a test on the
    // same slot and channel in the same second: its journal is not touched.
    QString path = stem + QLatin1String(journal::kSuffix);
    for (int n = 2; QFileInfo::exists(path) && n < 100; ++n)
        path = stem + QStringLiteral("-%1").arg(n) + QLatin1String(journal::kSuffix);
    // Called on the journal's writer thread; said on this one, as the journal
    // stands by then (it may have recovered or ended meanwhile).
    journal->SetProblemHandler([this](const QString&) {
        QMetaObject::invokeMethod(
            this, [this] { ReportJournalProblem(m_journal ? m_journal->Problem() : QString()); },
            Qt::QueuedConnection);
    });
    QString error;
    // The test runs on when the journal cannot be written; the journal keeps
    // trying and its handler has said why.
    if (!journal->Open(path, m_doc.FormatSection(), &error))
        qCDebug(lcTrace) << "RunController::StartJournal -" << error;
    TestJournal* raw = journal.get();
    m_doc.SampleStored = [raw](int slot, const Sample& s) { raw->Append(slot, s); };
    m_journal = std::move(journal);
}

void RunController::EndJournal() {
    m_doc.SampleStored = nullptr;
    if (m_journal) m_journal->Remove();
    m_journal.reset();
    if (!m_journalProblem.isEmpty()) ReportJournalProblem({});
}

void RunController::ReportJournalProblem(const QString& problem) {
    if (problem == m_journalProblem) return;
    m_journalProblem = problem;
    NoteChanged();
    // Once a test: a disk that fills again, or a reason that changes, is
    // said on the title and the status line only.
    if (problem.isEmpty() || m_journalProblemSaid) return;
    m_journalProblemSaid = true;
    ThePrompter().Message(problem + QStringLiteral("\n\nThe test goes on, but a crash now would "
                                                   "lose what the journal is missing. It is "
                                                   "written again as soon as it can be."),
                          Prompter::Icon::Warning);
}

CDevice* RunController::Device() const {
    return m_app.Device(m_slot);
}

QString RunController::ChannelStatus() const {
    CDevice* d = Device();
    return d ? d->GetChannelStatus(m_channel - 1) : QStringLiteral("   ");
}

QString RunController::WindowTitle() const {
    CDevice* d = Device();
    const QString title = QStringLiteral("Channel %1 ").arg(m_channel) + (d ? d->Name : QString());
    if (!m_journalProblem.isEmpty()) return title + QStringLiteral(" - journal not written");
    if (m_state == State::OnAnalyzer)
        return title + QStringLiteral(" - test running on the analyzer");
    return title;
}

QString RunController::StatusNote() const {
    if (!m_journalProblem.isEmpty())
        return m_journalProblem +
               QStringLiteral(
                   " The test goes on; the journal is written again as soon as it can be.");
    if (m_state == State::OnAnalyzer)
        return QStringLiteral("The analyzer runs a test on channel %1 that this program did not "
                              "start (the program ended while it ran). End Test ends it; the "
                              "analyzer keeps its record, to be imported.")
            .arg(m_channel);
    return {};
}

void RunController::NoteChanged() {
    Q_EMIT TitleChanged(WindowTitle());
    Q_EMIT StatusNoteChanged(StatusNote());
}

QString RunController::ElapsedTimeText() const {
    return CRivuletrixDoc::FormatHms(m_doc.ElapsedTimeMs());
}

void RunController::SetState(State s) {
    if (m_state == s) return;
    const bool noteChanges = (s == State::OnAnalyzer) != (m_state == State::OnAnalyzer);
    m_state = s;
    // The status read so far may predate this program's last command.
    m_idleDevice = nullptr;
    m_endNotOursReplies = 0;
    Q_EMIT StateChanged(s);
    if (noteChanges) NoteChanged();
}

void RunController::SetSetUpFlag(bool on) {
    m_app.SetUpFlags[m_slot - 1][m_channel - 1] = on;
}

void RunController::SetStartedFlag(bool on) {
    m_app.StartedFlags[m_slot - 1][m_channel - 1] = on;
}

bool RunController::StartedFlag() const {
    return m_app.StartedFlags[m_slot - 1][m_channel - 1];
}

// ---- Setup ----

void RunController::OnSetupTest() {
    Q_EMIT GraphReset();
    // Checked before anything is made: a data folder on an unmounted share
    // must not quietly become a local one.
    if (!DataFolderProblem(m_app.Settings()).isEmpty()) {
        ThePrompter().Message(QStringLiteral(
            "Please provide a valid path in the Control Menu\\Rivuletrix parameters box."));
        return;
    }
    if (m_doc.Run.setUp || m_app.CancelInProgress) return;
    CDevice* device = Device();
    if (!device) {
        ThePrompter().Message(QStringLiteral("Error, Unable to select the device."));
        return;
    }
    m_app.CurrentAnalyzer = m_slot;
    const bool allPages = device->DeviceModel != QLatin1String("PXR2K");
    const bool ok =
        m_sheet &&
        m_sheet->RunSetupSheet(
            *device, m_channel - 1,
            QStringLiteral("Channel %1 Test Setup - ").arg(m_channel) + device->Name, allPages);
    // Results kept after a failed save are not dropped by a new setup: a
    // cancelled sheet leaves them, an accepted one asks about them first.
    const bool kept = m_keepResults && m_doc.Modified;
    if (kept && !ok) return;
    if (!kept) m_doc.Modified = false;
    if (!ResetDocument() || !ok) return;

    m_doc.Run.setUp = true;
    CopyParameters();
    if (device->Setup[m_channel - 1].equipment.typeIndex == 4 && !StartTemplateRun()) {
        m_doc.Run.setUp = false;
        ResetDocument();
        return;
    }
    SerialNumbers sn;
    if (device->Kind == FoundAnalyzer::KindUsbSerial && device->GetSerialNumbers(0, sn) != 0) {
        ThePrompter().Message(QStringLiteral("Please check for Device Connection."));
        m_doc.Run.setUp = false;
        AbandonTemplateRun();
        ResetDocument();
        return;
    }
    if (device->Kind == FoundAnalyzer::KindUsbSerial) {
        // The identity is read now too: a record whose analyzer is lost or
        // shuts down before it is saved keeps it.
        m_doc.InstSerialNum = sn.serial;
        m_doc.InstVersion = sn.firmware;
        ReadAnalyzerIdentity();
    }
    Q_EMIT ViewsChanged();
    SetupHandOver();
}

void RunController::CopyParameters() {
    CDevice* device = Device();
    const ChannelSetup& setup = device->Setup[m_channel - 1];
    const EquipmentRecord& eq = setup.equipment;
    static const char kTypes[] = "EFOP";
    m_doc.TestType = eq.typeIndex >= 0 && eq.typeIndex <= 3 ? kTypes[eq.typeIndex] : '\0';
    m_doc.ControlNumber = eq.controlNumber;
    m_doc.Operator = eq.operatorName;
    m_doc.Manufacture = eq.manufacturer;
    m_doc.Model = eq.deviceType;
    m_doc.SerialNumber = eq.serialNumber;
    m_doc.Location = eq.location;
    m_doc.Comments = eq.comments;
    const QString& model = device->DeviceModel;
    const auto ms = [](int h, int m) { return uint32_t(h) * 3600000u + uint32_t(m) * 60000u; };
    // Flow and PCA tests stop alike: on volume, time, either or both.
    const auto volumeOrTimeStop = [&ms](const auto& block) {
        StopConditions stop;
        stop.onVolume = block.stopOnVolume;
        stop.volume = uint32_t(std::trunc(block.stopVolume * 10000.0));
        stop.onTime = block.stopOnTime;
        stop.time = ms(block.stopHours, block.stopMinutes);
        stop.first = block.firstCondition;
        stop.both = block.bothConditions;
        return stop;
    };
    Stop = StopConditions{};
    // Only a Flow test takes a tolerance of its own; the others have the
    // default, whatever an earlier test in this window overrode.
    ToleranceOverride = 0;
    Tolerance = m_app.Settings().IntSetting(QStringLiteral("FlowTolerance"));
    m_doc.DefaultTolerance = Tolerance;
    switch (m_doc.TestType) {
    case 'F': {
        const FlowBlock& f = setup.flow;
        m_doc.SetFlowRate = f.setFlowRate;
        m_doc.SetVolume = f.totalVolume;
        Stop = volumeOrTimeStop(f);
        ToleranceOverride = f.toleranceOverride;
        Tolerance = f.tolerance;
        // The test's tolerance is what its lines, key and index row show.
        m_doc.DefaultTolerance = f.tolerance;
        AutoStart = f.autoStart;
        if (model == QLatin1String("PXR2K") && Stop.volume == 0) Stop.volume = 10000000u;
        if ((model == QLatin1String("PXR2K") || model == QLatin1String("PXR8")) && Stop.time == 0) {
            Stop.time = 360000000u;
            Stop.onTime = true;
        }
        break;
    }
    case 'O': {
        const OcclusionBlock& o = setup.occlusion;
        m_doc.SetFlowRate = o.setFlowRate;
        Stop.onTime = o.stopOnTime;
        Stop.time = ms(o.stopHours, o.stopMinutes);
        if (Stop.time == 0) {
            if (model == QLatin1String("PXR2K")) {
                Stop.time = 1800000u;
                Stop.onTime = true;
            } else if (model == QLatin1String("PXR-8") || model == QLatin1String("PXR8")) {
                Stop.time = 3600000u;
                Stop.onTime = true;
            }
        }
        break;
    }
    case 'P': {
        const PcaBlock& p = setup.pca;
        m_doc.SetBasalFlowRate = p.basalRate;
        m_doc.SetFlowRate = p.basalRate;
        m_doc.SetVolume = p.totalVolume;
        m_doc.SetPcaVolume = p.bolusVolume;
        Stop = volumeOrTimeStop(p);
        AutoStart = p.autoStart;
        break;
    }
    default:
        break;
    }
    m_doc.SetRateIsZero = m_doc.SetFlowRate == 0;
}

void RunController::SetupHandOver() {
    SetSetUpFlag(true);
    m_doc.Run.notOurs = false;
    m_sinceReply.invalidate();
    m_silentReported = false;
    // A new test or template step: the previous one's stop is not its own.
    m_doc.Run.stopDetected = false;
    m_doc.Run.autoStopped = false;
    m_doc.TicksPerSecond = 1000;
    m_doc.NewModel = true;
    const char type = m_doc.TestType;
    const int index = TypeIndex(type);
    if (index) {
        m_doc.FlowOrOcclusion = type != 'P';
        if (CDevice* d = Device())
            d->SendStartTest(m_channel - 1, index, false, m_doc.ControlNumber, m_doc.Operator,
                             m_doc.SetFlowRate);
        m_doc.Run.testActive = true;
    }
    SetState(State::WaitingForPrimed);
}

void RunController::FinishSetupWait(const QString& status) {
    if (At(status, 2) == QLatin1Char('f') || At(status, 1) == QLatin1Char('O')) {
        m_doc.Run.running = true;
        Q_EMIT ViewsChanged();
    }
    m_startDeadline = QDateTime::currentDateTime().addSecs(10);
    m_app.SetUpTests = std::min(16, m_app.SetUpTests + 1);
    m_doc.Run.startAllowed = true;
    SetState(m_doc.Run.running ? State::Running : State::Armed);
}

// ---- Start ----

void RunController::OnStartTest() {
    m_doc.Run.starting = true;
    CDevice* device = Device();
    if (m_app.CurrentAnalyzer == -1 || !device) {
        m_doc.Run.starting = false;
        return;
    }
    SetStartedFlag(true);
    SetSetUpFlag(false);
    const char type = m_doc.TestType;
    if (const int index = TypeIndex(type)) {
        m_doc.FlowOrOcclusion = type != 'P';
        device->SendStartTest(m_channel - 1, index, AutoStart && type != 'O', m_doc.ControlNumber,
                              m_doc.Operator, m_doc.SetFlowRate);
        m_doc.StampStart(QDateTime::currentDateTime());
        StartJournal();
        m_doc.Run.waitingForData = true;
    }
    m_doc.Run.running = true;
    m_doc.ShowKey = true;
    m_doc.Run.starting = false;
    m_doc.Run.startAllowed = false;
    m_lastStop = StopReason::None;
    m_stopSlot = -1;
    m_keepResults = false;
    m_endOrder = 0;
    SetState(State::Running);
    Q_EMIT ViewsChanged();
}

// ---- Automatic stop ----

bool RunController::NeedToStop() {
    if (!m_doc.Run.running) return false;
    CDevice* device = Device();
    const int last = m_doc.StoredCount() - 1;
    const uint32_t v = m_doc.VolumeAt(last);
    const uint32_t t = m_doc.ElapsedTicks(last);
    StopReason reason = StopReason::None;
    if (Stop.onVolume && Stop.volume != 0 && v > Stop.volume)
        reason = StopReason::Volume;
    else if (Stop.onTime && Stop.time != 0 && t >= Stop.time)
        reason = StopReason::Time;
    else if (Stop.first && Stop.volume != 0 && Stop.time != 0 && (v > Stop.volume || t > Stop.time))
        reason = v > Stop.volume ? StopReason::Volume : StopReason::Time;
    else if (Stop.both && Stop.volume != 0 && Stop.time != 0 && v > Stop.volume && t > Stop.time)
        reason = StopReason::Volume;
    if (device && device->DeviceModel.contains(QLatin1String("PXR2K")) &&
        device->BatteryState == 'S') {
        m_doc.Run.analyzerShutDown = true;
        reason = StopReason::Shutdown;
    }

    if (reason != StopReason::None) {
        m_app.CurrentAnalyzer = m_slot;
        m_doc.Run.autoStopped = true;
        m_lastStop = reason;
        m_stopSlot = last;
        if (reason == StopReason::Shutdown) {
            // The analyzer is gone: End Test saves without asking.
            qCDebug(lcTrace) << "CRivuletrixDoc::NeedToStop Send command to stop PXR2K.";
            QTimer::singleShot(0, this, &RunController::OnEndTest);
        } else if (device) {
            qCDebug(lcTrace) << "CRivuletrixDoc::NeedToStop PXR8 Initiated Stop operation.";
            device->SendEND(m_channel - 1);
            MarkEnded();
        }
        // Cleared so that later samples do not send the end again.
        Stop = StopConditions{};
        m_doc.Run.stopDetected = true;
        Q_EMIT ViewsChanged();
        return true;
    }
    const QChar first = At(ChannelStatus(), 0);
    qCDebug(lcTrace) << "CRivuletrixDoc::NeedToStop() Status-:" << first;
    const bool ended =
        first == QLatin1Char('O') || first == QLatin1Char('V') || first == QLatin1Char(' ');
    m_doc.Run.stopDetected = ended;
    if (ended) MarkEnded();
    if (ended && m_lastStop == StopReason::None) m_lastStop = StopReason::Analyzer;
    return ended;
}

// ---- End ----

void RunController::OnEndTest() {
    if (m_state == State::OnAnalyzer) {
        EndTestNotOurs();
        return;
    }
    // Before the start: the way out of a channel that never became ready.
    if (m_state == State::WaitingForPrimed || (m_state == State::Armed && !m_doc.Run.running)) {
        CancelSetup(true);
        return;
    }
    if (m_tpl.active && m_state == State::Running) {
        // A step not started yet is asked about before its end is handled,
        // so that No leaves it exactly as it was.
        if (NotStarted() && !m_doc.Run.ending && !m_doc.Run.starting && !m_app.CancelInProgress) {
            if (!AskCancel()) return;
            m_cancelConfirmed = true;
        }
        TemplateEndStep();
    }
    const bool ended = EndPreStep();
    m_cancelConfirmed = false;
    if (!ended) return;
    SetState(State::EndWait);
    m_endWaitPasses = 0;
}

void RunController::CancelSetup(bool ask) {
    if (m_doc.Run.ending || m_app.CancelInProgress || m_app.EndingInProgress) return;
    if (ask && !AskCancel()) return;
    if (CDevice* d = Device()) d->SendEND(m_channel - 1);
    if (m_state == State::Armed) m_app.SetUpTests = std::max(0, m_app.SetUpTests - 1);
    SetSetUpFlag(false);
    m_doc.Run.setUp = false;
    m_doc.Run.startAllowed = false;
    m_doc.Run.running = false;
    m_doc.Run.testActive = false;
    m_lastStop = StopReason::Cancelled;
    // The steps of a template run saved before stay a record of their own.
    if (m_tpl.active && !m_tpl.firstStep) {
        m_tpl.closeRun = true;
        m_tpl.stepContinues = false;
        TemplateAfterEnd();
    }
    m_tpl.stepContinues = false;
    ReturnToIdle();
}

void RunController::ReturnToIdle() {
    AbandonTemplateRun();
    AutoStart = false;
    if (!m_keepResults) ResetDocument();
    SetState(State::Idle);
    Q_EMIT ViewsChanged();
    Q_EMIT TestFinished();
}

bool RunController::EndPreStep() {
    CDevice* device = Device();
    if (m_app.CurrentAnalyzer == -1 || !device) return false;
    m_doc.Run.startAllowed = false;
    if (m_doc.Run.ending || m_doc.Run.starting || m_app.CancelInProgress) return false;
    m_app.EndingInProgress = true;
    m_doc.Run.ending = true;
    m_doc.Run.setUp = false;
    m_doc.ScreenImageRequested = true; // the view writes it with its next frame
    Q_EMIT ViewsChanged();
    const char type = m_doc.TestType;
    bool cancelled = false;
    if (m_cancelConfirmed || NotStarted()) {
        const bool yes = m_cancelConfirmed || AskCancel();
        if (!yes) {
            m_doc.Run.ending = false;
            m_app.EndingInProgress = false;
            m_doc.Run.startAllowed = true;
            return false;
        }
        cancelled = true;
        m_app.CancelInProgress = true;
        m_doc.Modified = false;
    }
    if (cancelled) {
        m_app.CancelInProgress = false;
        ResetDocument();
        if (type == 'O') m_doc.TestType = 'O';
        m_doc.Modified = false;
        m_doc.Run.cancelled = true;
        m_lastStop = StopReason::Cancelled;
    } else if (m_lastStop == StopReason::None) {
        m_lastStop = StopReason::User;
    }
    device->SendEND(m_channel - 1);
    if (!cancelled) MarkEnded();
    return true;
}

void RunController::MarkEnded() {
    if (m_endOrder == 0) m_endOrder = ++m_app.TestsEnded[m_slot - 1];
}

bool RunController::NotStarted() const {
    const char type = m_doc.TestType;
    return type && At(ChannelStatus(), 1) == QLatin1Char(QChar::toUpper(uint(type))) &&
           !m_doc.Run.dataReceived && !m_doc.Run.analyzerShutDown;
}

bool RunController::AskCancel() {
    return ThePrompter().Question(m_doc.TestType == 'O' ? kCancelOcclusion : kCancelTest,
                                  Prompter::Icon::Question);
}

void RunController::EndWaitDone() {
    m_doc.Run.running = m_doc.Run.cancelled;
    ContinueEndTest();
}

void RunController::ContinueEndTest() {
    m_doc.ShowKey = false;
    Q_EMIT ViewsChanged();
    SetSetUpFlag(false);
    const bool byAnalyzer = m_doc.Run.stopDetected && !m_doc.Run.autoStopped;
    if (m_doc.Run.autoStopped) m_doc.Run.stopDetected = false;
    if (m_doc.Run.analyzerShutDown) {
        SetStartedFlag(false);
        FinishTest();
        if (CDevice* d = Device()) {
            d->SendEND(0);
            d->SendBYE();
        }
        m_app.EndingInProgress = false;
        m_app.SetUpTests = std::max(0, m_app.SetUpTests - 1);
        ThePrompter().Message(kShutDown);
        SetState(State::Idle);
        Q_EMIT TestFinished();
        return;
    }
    // A test the analyzer ended by itself keeps its results too: they are
    // offered for saving like any other.
    const bool cancelled = m_lastStop == StopReason::Cancelled;
    if (!cancelled && (!m_doc.Run.stopDetected || (byAnalyzer && m_doc.Run.dataReceived)) &&
        StartedFlag()) {
        SetStartedFlag(false);
        // Template steps were kept when they ended.
        if (!m_tpl.active) FinishTest();
    }
    SetStartedFlag(false);
    m_doc.Run.dataReceived = false;
    m_doc.Run.primed = false;
    m_app.SetUpTests = std::max(0, m_app.SetUpTests - 1);
    m_doc.Run.ending = false;
    m_app.EndingInProgress = false;
    // "Save and Exit" closes the record even when the step was cancelled.
    if (m_tpl.active && (!cancelled || m_tpl.closeRun) && TemplateAfterEnd())
        return; // the next step is set up
    ReturnToIdle();
}

void RunController::ReadAnalyzerIdentity() {
    CDevice* device = Device();
    if (!device) return;
    AnalyzerParameters params;
    if (device->GetParameters(params) == 0) {
        m_doc.InstModel = params.p2;
        m_doc.InstManuf = params.p1;
        m_doc.InstDesc = params.p3;
    }
    SerialNumbers sn;
    if (device->GetSerialNumbers(0, sn) == 0) {
        m_doc.InstSerialNum = sn.serial;
        m_doc.InstVersion = sn.firmware;
    }
    if (device->GetSerialNumbers(m_channel, sn) == 0) {
        m_doc.TdSerialNum = sn.tdSerial;
        m_doc.TdVersion = sn.tdFirmware;
    }
}

bool RunController::FinishTest() {
    SetState(State::Finishing);
    const bool shutDown = m_doc.Run.analyzerShutDown;
    const bool betweenSteps = m_tpl.active && !m_tpl.lastStep;
    // Template steps are kept without asking; the question comes after the
    // last one.
    const bool save =
        shutDown || betweenSteps ||
        ThePrompter().Question(kSaveQuestion.arg(WindowTitle()), Prompter::Icon::Question);
    bool saved = false;
    if (save) {
        // A shut-down analyzer answers nothing: waiting for it would hold
        // the window for half a minute.
        if (!shutDown) ReadAnalyzerIdentity();
        saved = SaveRecord();
        if (!saved) {
            // The results stay in memory, unsaved, until they are saved or
            // the window is closed.
            m_doc.Run.testActive = false;
            m_keepResults = !m_tpl.active;
            return false;
        }
    } else {
        if (m_tpl.active && !m_tpl.filePath.isEmpty()) {
            QFile::remove(m_tpl.filePath);
            m_tpl.fileName.clear();
            m_tpl.filePath.clear();
        }
        m_doc.Modified = false;
        EndJournal();
    }
    if (betweenSteps) {
        m_doc.Run.testActive = false;
        return true;
    }
    if (!shutDown && Print && ThePrompter().Question(kPrintQuestion, Prompter::Icon::Question))
        Print();
    // The analyzer keeps its copy when nothing else holds the results. A
    // template run deleted each step's copy when the step ended.
    if ((saved || !save) && !m_tpl.active) DeleteAnalyzersLastRecord();
    m_doc.Run.testActive = false;
    if (!m_tpl.active) ResetDocument();
    m_doc.Run.templatePending = m_tpl.active && m_tpl.stepContinues;
    m_doc.Modified = false;
    return true;
}

bool RunController::SaveRecord() {
    const QString folder = m_app.Settings().GetDataPath();
    // Never made here: a missing folder may be a share that came unmounted
    // during the test. The results stay to be saved again.
    if (const QString problem = DataFolderProblem(m_app.Settings()); !problem.isEmpty()) {
        ThePrompter().Message(
            QStringLiteral("The test results could not be saved: %1\nThe results are kept; "
                           "save them again when the data folder is back, or choose another "
                           "one in Control > Rivuletrix Parameters.")
                .arg(problem));
        return false;
    }
    const QString temp =
        m_app.Settings().Setting(QStringLiteral("CustomPath  ")) + QStringLiteral("/Temp/");
    for (const char* db : {"RX_Records.accdb", "RX_Templates.accdb"}) {
        const QString target = QDir(folder).filePath(QLatin1String(db));
        if (!QFileInfo::exists(target) && QFileInfo::exists(temp + QLatin1String(db)))
            QFile::copy(temp + QLatin1String(db), target);
    }
    if (m_tpl.active) return SaveTemplateSection();
    const QString name = m_doc.MakeRecordFileName();
    if (name.isEmpty()) {
        ThePrompter().Message(
            QStringLiteral("The test results could not be saved: the test has no start "
                           "time to name the record file by."));
        return false;
    }
    const QString title = WindowTitle();
    Q_EMIT TitleChanged(QStringLiteral("Saving ") + name);
    const QString path = QDir(folder).filePath(name);
    QString error;
    if (!m_doc.WriteRecordFile(path, &error)) {
        Q_EMIT TitleChanged(title);
        ThePrompter().Message(QStringLiteral("The test results could not be saved to %1:\n%2")
                                  .arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    m_savedPath = path;
    // The journal goes only once the row is in or noted: a crash between
    // the two leaves recovery (which knows the saved file) or the note.
    IndexSavedRecord(m_doc, name);
    EndJournal();
    m_doc.Modified = false;
    // As it stands now: the journal's trouble ended with the journal.
    Q_EMIT TitleChanged(WindowTitle());
    return true;
}

void RunController::IndexSavedRecord(CRivuletrixDoc& record, const QString& name) {
    RecordIndex& index = m_app.Records();
    const QString deviceType =
        Device() ? Device()->Setup[m_channel - 1].equipment.deviceType : QString();
    // A server may take seconds to answer, or not answer at all: meanwhile
    // the other channels' tests and this thread's screen go on.
    RecordIndexer* indexer =
        index.OnServer() && index.StartupFinished() ? m_app.Indexer() : nullptr;
    if (!indexer) {
        if (index.IndexRecord(record, name, deviceType)) return;
        qCDebug(lcTrace) << "RunController - not indexed:" << index.LastError();
        ReportNotIndexed(name, index.LastError(), index.LastRowQueued());
        return;
    }
    if (!m_indexerWatched) {
        m_indexerWatched = true;
        connect(indexer, &RecordIndexer::Indexed, this,
                [this](const QString& file, bool added, bool queued, const QString& error) {
                    if (!m_indexing.removeOne(file) || added) return;
                    qCDebug(lcTrace) << "RunController - not indexed:" << error;
                    ReportNotIndexed(file, error, queued);
                });
    }
    m_indexing << name;
    index.NoteForLater(name, deviceType);
    indexer->Add(index.MakeRow(record, name, deviceType), index.DataFolder());
}

void RunController::ReportNotIndexed(const QString& name, const QString& error, bool queued) {
    if (queued) {
        ThePrompter().Message(
            QStringLiteral("The record %1 was saved, but the records index could not be "
                           "reached: %2")
                .arg(name, error));
        return;
    }
    ThePrompter().Message(
        QStringLiteral("The record %1 was saved, but it could not be entered in the records "
                       "index (%2). It will be missing from the record browser until the index "
                       "is rebuilt.")
            .arg(name, error));
}

bool RunController::ResultsKept() const {
    return m_keepResults && m_doc.Modified;
}

bool RunController::ResetDocument() {
    if (m_tpl.stepContinues) return true;
    if (m_doc.Modified && m_doc.Run.live) {
        CanClose();
        if (m_doc.Modified) return false; // the unsaved results stay
    }
    m_keepResults = false;
    const bool live = m_doc.Run.live;
    const int channel = m_doc.ChannelNo;
    m_doc.ResetRecord();
    EndJournal();
    m_doc.TestType = '\0';
    m_doc.ChannelNo = channel;
    Stop = StopConditions{};
    if (live) {
        m_doc.RepHeader1 = m_app.ReportHeader[0];
        m_doc.RepHeader2 = m_app.ReportHeader[1];
        m_doc.RepHeader3 = m_app.ReportHeader[2];
    } else {
        m_doc.DefaultTolerance = m_app.Settings().IntSetting(QStringLiteral("FlowTolerance "));
        m_doc.GraphLineWidth = m_app.Settings().IntSetting(QStringLiteral("GraphLineWidth"));
        m_doc.DefaultPressureUnit = m_app.Settings().Setting(QStringLiteral("DefaultPressureUnit"));
    }
    return true;
}

bool RunController::CanClose() {
    if (!m_doc.Run.templatePending) {
        if (m_doc.Run.ending) {
            ThePrompter().Message(kWaitForStop);
            return false;
        }
        if (m_doc.Run.testActive) {
            ThePrompter().Message(kStopAll);
            return false;
        }
        if (!m_doc.Modified || !m_doc.Run.live) return true;
        if (ThePrompter().Question(kNotSaved.arg(WindowTitle()), Prompter::Icon::Question)) {
            if (!SaveRecord()) return false;
            m_keepResults = false;
        } else {
            m_doc.Modified = false;
        }
        if (Print && ThePrompter().Question(kPrintQuestion, Prompter::Icon::Question)) Print();
        return true;
    }
    if (!m_doc.Run.testActive) return true;
    ThePrompter().Message(kStopAll);
    return false;
}

// ---- Enabling and status ----

bool RunController::SetupEnabled() const {
    CDevice* d = Device();
    return !m_app.ViewAll && m_doc.Run.live && d && m_app.ConnectedCount <= 4 &&
           !m_doc.Run.running && !m_app.CancelInProgress && !m_doc.Run.setUp &&
           d->BatteryState != 'S' && m_state == State::Idle;
}

bool RunController::StartEnabled() {
    if (m_app.ViewAll) return false;
    if (m_app.ConnectedCount == 0) return SetupEnabled();
    CDevice* d = Device();
    if (!m_doc.Run.live || !d) return false;
    const QString status = ChannelStatus();
    ApplyStatusEffects(status);
    return IsPrimed(status) && m_doc.Run.startAllowed && !m_doc.Run.ending &&
           !m_doc.Run.cancelled && d->BatteryState != 'S';
}

bool RunController::EndEnabled() const {
    if (m_app.ViewAll) return false;
    if (m_state == State::OnAnalyzer) {
        // Once sent, End waits for the analyzer: a few status replies that
        // still show the test mean it did not take the command.
        const CDevice* d = Device();
        return d && (m_endNotOursReplies == 0 || d->StatusReplies() >= m_endNotOursReplies + 3);
    }
    // Also before the start, to cancel a setup the analyzer never confirmed.
    const bool beforeStart =
        m_state == State::WaitingForPrimed || (m_state == State::Armed && !m_doc.Run.running);
    return (m_doc.Run.running && !m_doc.Run.ending && !m_doc.Run.starting &&
            !m_app.EndingInProgress && m_state == State::Running) ||
           (m_doc.Run.autoStopped && m_state == State::Running) ||
           (beforeStart && !m_app.EndingInProgress && !m_app.CancelInProgress);
}

void RunController::ApplyStatusEffects(const QString& status) {
    if (IsPrimed(status)) {
        m_doc.Run.primed = true;
        m_startDeadline = QDateTime();
        m_doc.Run.wrongInlet = false;
        m_inWrongInlet = false;
    } else if (status == QLatin1String("vFf") || status == QLatin1String("vPf")) {
        m_doc.Run.primed = true;
        if (!m_refreshedRunning) Q_EMIT ViewsChanged();
        m_refreshedRunning = true;
    } else if (At(status, 2) == QLatin1Char('W')) {
        m_doc.Run.wrongInlet = true;
        if (!m_inWrongInlet) {
            // Once each time the status turns to the wrong inlet.
            m_inWrongInlet = true;
            ThePrompter().Message(QStringLiteral("Pump connected to wrong inlet in Device") +
                                      QStringLiteral(" %1 !!").arg(m_app.CurrentAnalyzer),
                                  Prompter::Icon::Error);
        }
    } else {
        m_doc.Run.primed = false;
    }
    if (At(status, 2) != QLatin1Char('W')) m_inWrongInlet = false;
    if (status != QLatin1String("vFf") && status != QLatin1String("vPf"))
        m_refreshedRunning = false;
    if (m_wasPrimed != m_doc.Run.primed) Q_EMIT ViewsChanged();
    m_wasPrimed = m_doc.Run.primed;

    if (m_state == State::Armed && !m_doc.Run.running && At(status, 2) == QLatin1Char('T') &&
        (m_doc.TestType == 'O' ||
         (m_startDeadline.isValid() && QDateTime::currentDateTime() > m_startDeadline))) {
        m_doc.Run.running = true;
        SetState(State::Running);
    }
    if (m_state == State::Running && m_doc.Run.running && !m_doc.Run.autoStopped) {
        const QChar first = At(status, 0);
        if (first == QLatin1Char('O') || first == QLatin1Char('V') || first == QLatin1Char(' ')) {
            if (!m_doc.Run.stopDetected && first == QLatin1Char(' ')) OfferEndOfLostTest();
            if (!m_doc.Run.stopDetected) Q_EMIT ViewsChanged();
            m_doc.Run.stopDetected = true;
            MarkEnded();
            if (m_lastStop == StopReason::None) m_lastStop = StopReason::Analyzer;
        }
    }
}

void RunController::OfferEndOfLostTest() {
    // An idle channel while its test ran: the analyzer was reset or
    // restarted (an unplug, a flat battery) and the test is gone from it.
    // Nothing more will arrive, so the technician is told and offered the
    // end, which saves what did. Asked after the status pass, not inside it.
    QTimer::singleShot(0, this, [this] {
        if (m_state != State::Running || !m_doc.Run.stopDetected) return;
        const CDevice* device = Device();
        const QString text =
            QStringLiteral("%1 no longer runs the test on channel %2: the analyzer was reset or "
                           "restarted, and no more samples will arrive. End the test now and "
                           "save the %3 samples that arrived?")
                .arg(device ? device->Name : QStringLiteral("The analyzer"))
                .arg(m_channel)
                .arg(std::max(0, m_doc.StoredCount() - 1));
        if (ThePrompter().Question(text, Prompter::Icon::Warning) && m_state == State::Running)
            OnEndTest();
    });
}

bool RunController::FreshStatus(const CDevice& device) {
    const uint64_t replies = device.StatusReplies();
    if (&device != m_idleDevice || replies < m_idleReplies) {
        m_idleDevice = &device;
        m_idleReplies = replies;
    }
    // The reply to a status request sent before this program's last command
    // may still come in; the second one after it cannot.
    return replies >= m_idleReplies + 2;
}

void RunController::DropIgnoredSetup() {
    SetSetUpFlag(false);
    m_doc.Run.setUp = false;
    m_doc.Run.testActive = false;
    AbandonTemplateRun();
    m_doc.Modified = false;
    ResetDocument();
    m_doc.Run.notOurs = true;
    SetState(State::OnAnalyzer);
    Q_EMIT ViewsChanged();
    Q_EMIT TestFinished();
    const CDevice* device = Device();
    ThePrompter().Message(
        QStringLiteral("%1 did not take the test set up on channel %2: a test that this program "
                       "did not start runs there. End it with End Test, then set up again.")
            .arg(device ? device->Name : QStringLiteral("The analyzer"))
            .arg(m_channel),
        Prompter::Icon::Warning);
}

void RunController::WatchTestNotOurs(const CDevice& device) {
    if (!FreshStatus(device)) return;
    const QChar first = At(ChannelStatus(), 0);
    // Set up, primed or running; an idle channel or one the analyzer
    // ended waits for nothing.
    const bool busy =
        first != QLatin1Char(' ') && first != QLatin1Char('V') && first != QLatin1Char('O');
    if (m_state == State::Idle && busy) {
        // The program ended during the test, or another one set it up: its
        // lines are not this window's test. Stray lines taken while the
        // status was not yet trusted go too, unless results wait for a save.
        if (!ResultsKept()) {
            m_doc.Modified = false;
            ResetDocument();
        }
        m_doc.Run.notOurs = true;
        SetState(State::OnAnalyzer);
        Q_EMIT ViewsChanged();
    } else if (m_state == State::OnAnalyzer && !busy) {
        // Ended (here or at the analyzer). Its lines stay out until this
        // window sets up a test of its own: the last ones may still come.
        SetState(State::Idle);
        Q_EMIT ViewsChanged();
    }
}

void RunController::EndTestNotOurs() {
    CDevice* device = Device();
    if (!device || !EndEnabled()) return;
    const QString text =
        QStringLiteral("End the test that runs on channel %1 of %2?\n\nThis program did not "
                       "start it: it ran on when the program ended. The analyzer keeps the "
                       "test's record; import it from the analyzer to have it here.")
            .arg(m_channel)
            .arg(device->Name);
    if (!ThePrompter().Question(text, Prompter::Icon::Question) || m_state != State::OnAnalyzer)
        return;
    if ((device = Device()) == nullptr) return;
    device->SendEND(m_channel - 1);
    m_endNotOursReplies = std::max<uint64_t>(1, device->StatusReplies());
}

void RunController::CheckStatus() {
    CDevice* device = Device();
    if (!m_doc.Run.live) return;
    if (!device || device->IsLost()) {
        if (m_state == State::WaitingForPrimed) {
            ThePrompter().Message(QStringLiteral("Please check for Device Connection."));
            SetSetUpFlag(false);
            m_doc.Run.setUp = false;
            m_doc.Run.testActive = false;
            AbandonTemplateRun();
            ResetDocument();
            SetState(State::Idle);
        } else if (m_state == State::EndWait) {
            EndWaitDone();
        }
        return;
    }
    if (m_state == State::Idle || m_state == State::OnAnalyzer) {
        WatchTestNotOurs(*device);
        return;
    }
    if (m_state == State::WaitingForPrimed || (m_state == State::Armed && !m_doc.Run.running)) {
        // A PXR2K that shut down before the start has nothing to save.
        if (device->BatteryState == 'S' && device->DeviceModel.contains(QLatin1String("PXR2K"))) {
            // Ended before the message, which must not come twice.
            CancelSetup(false);
            ThePrompter().Message(kShutDown);
            return;
        }
        const uint64_t replies = device->StatusReplies();
        if (replies != m_waitReplies || !m_sinceReply.isValid()) {
            m_waitReplies = replies;
            m_sinceReply.start();
        } else if (!m_silentReported && m_sinceReply.elapsed() > SilentLimitMs) {
            m_silentReported = true;
            ThePrompter().Message(
                QStringLiteral("%1 does not answer. End Test cancels the test set up on "
                               "channel %2.")
                    .arg(device->Name)
                    .arg(m_channel));
            Q_EMIT AnalyzerSilent();
        }
    }
    // A PXR2K that shut down sends no more samples to stop on.
    if (m_state == State::Running && !m_doc.Run.analyzerShutDown && device->BatteryState == 'S' &&
        device->DeviceModel.contains(QLatin1String("PXR2K")))
        NeedToStop();
    const QString status = ChannelStatus();
    switch (m_state) {
    case State::WaitingForPrimed: {
        const QChar first = At(status, 0);
        if (first == QLatin1Char('v') || first == QLatin1Char('o')) {
            if (FreshStatus(*device)) {
                // A running channel does not take the setup: a test this
                // program did not start runs there.
                DropIgnoredSetup();
                return;
            }
            break;
        }
        if (first == QLatin1Char('F') || (m_doc.TestType == 'O' && first == QLatin1Char('T')))
            FinishSetupWait(status);
        break;
    }
    case State::EndWait:
        if (At(status, 1) == QLatin1Char(' ') || ++m_endWaitPasses >= kEndWaitPasses) EndWaitDone();
        return;
    default:
        break;
    }
    if (m_state != State::Idle && m_state != State::Finishing) ApplyStatusEffects(status);
}
