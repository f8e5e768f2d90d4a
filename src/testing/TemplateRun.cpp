// Template runs: one step after the other on the same channel, each section
// appended to one template record file.
#include "RunController.h"

#include "base/Prompter.h"
#include "base/Trace.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "store/TemplateStore.h"
#include "testing/RunHost.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <cmath>

namespace {
bool RealStep(int type) {
    return type != TemplateStep::Empty && type != TemplateStep::Bolus;
}

// The step number the user knows a slot by: bolus slots are not steps.
int StepNumber(const Template& t, int slot) {
    int number = 0;
    for (int i = 0; i <= slot && i < Template::kSlots; ++i)
        number += RealStep(t.steps[size_t(i)].type);
    return number;
}
} // namespace

bool RunController::StartTemplateRun() {
    CDevice* device = Device();
    const ChannelSetup& setup = device->Setup[m_channel - 1];
    TemplateStore& store = m_app.Templates();
    if (!store.IsOpen()) store.Open();
    Template t;
    // The file of the row the user ticked; by name only when the block
    // does not say (two rows may carry the same name).
    bool found = false;
    if (!setup.templateFileName.isEmpty()) {
        found = store.ReadTemplateFile(setup.templateFileName, t);
    } else {
        QList<TemplateRow> rows;
        store.ListRows(rows);
        for (const TemplateRow& row : rows)
            if (row.name == setup.templateName && store.ReadTemplateFile(row.fileName, t)) {
                found = true;
                break;
            }
    }
    if (!found) {
        ThePrompter().Message(QStringLiteral("File Not Found"));
        return false;
    }
    AbandonTemplateRun();
    m_tpl.active = true;
    m_tpl.tmpl = t;
    for (const TemplateStep& s : t.steps) m_tpl.steps += RealStep(s.type);
    m_doc.Run.templatePending = true;
    m_doc.TemplateName = t.name;
    m_doc.TemplateSteps = m_tpl.steps;
    SetupTemplateStep(0);
    return true;
}

void RunController::SetupTemplateStep(int index) {
    if (index < 0 || index >= Template::kSlots) return;
    m_tpl.stepContinues = true;
    const TemplateStep& step = m_tpl.tmpl.steps[size_t(index)];
    Stop = StopConditions{};
    switch (step.type) {
    case TemplateStep::Flow:
    case TemplateStep::Pca:
        m_doc.TestType = step.type == TemplateStep::Flow ? 'F' : 'P';
        m_doc.SetFlowRate = step.rate;
        // Only a PCA step has a basal rate; a step after one must not keep it.
        m_doc.SetBasalFlowRate = step.type == TemplateStep::Pca ? step.rate : 0;
        Stop.onVolume = true;
        Stop.volume = uint32_t(std::trunc(step.volume * 10000.0));
        Stop.onTime = true;
        m_doc.SetVolume = step.volume;
        // A PCA step's bolus volume is in the slot after it.
        m_doc.SetPcaVolume = step.type == TemplateStep::Pca && index + 1 < Template::kSlots &&
                                     m_tpl.tmpl.steps[size_t(index + 1)].type == TemplateStep::Bolus
                                 ? m_tpl.tmpl.steps[size_t(index + 1)].volume
                                 : 0;
        if (m_tpl.dialogShown) AutoStart = m_tpl.autoStartChoice;
        break;
    case TemplateStep::Occlusion:
        m_doc.TestType = 'O';
        m_doc.SetFlowRate = step.rate;
        m_doc.SetBasalFlowRate = 0;
        // An occlusion step has no volume; a step before it must not lend its own.
        m_doc.SetVolume = 0;
        m_doc.SetPcaVolume = 0;
        Stop.onTime = true;
        break;
    default:
        return;
    }
    Stop.time = uint32_t(step.hours) * 3600000u + uint32_t(step.minutes) * 60000u;
    Tolerance = step.tolerance;
    m_doc.DefaultTolerance = step.tolerance;
    m_doc.SetRateIsZero = m_doc.SetFlowRate == 0;
    m_doc.TemplateCurrentStep = index + 1;
}

namespace {

// How far the analyzer's clock may stand from the PC's.
constexpr qint64 kClockSlackSeconds = 120;

QDateTime StartOf(const CRivuletrixDoc& doc) {
    return QDateTime::fromString(doc.StartDate + QLatin1Char(' ') + doc.StartTime,
                                 QStringLiteral("dd-MMM-yyyy hh:mm:ss"));
}

// The analyzer's record is this test's when it is of the same channel and
// control number and began while the test ran: a record begun before the
// test started (another day's, or one of an earlier test on the channel)
// is not.
bool IsTestsRecord(const CRivuletrixDoc& record, const CRivuletrixDoc& test, int channel) {
    if (record.ChannelNo != channel - 1 || record.ControlNumber != test.ControlNumber) return false;
    const QDateTime began = StartOf(record), testStart = StartOf(test);
    if (!began.isValid() || !testStart.isValid()) return false;
    const QDateTime now = QDateTime::currentDateTime();
    return began >= testStart.addSecs(-kClockSlackSeconds) &&
           began <= now.addSecs(kClockSlackSeconds);
}

} // namespace

void RunController::DeleteAnalyzersLastRecord() {
    const auto kept = [&](const QString& why) {
        qCDebug(lcTrace) << "CRivuletrixDoc::DeleteRecord - kept:" << why;
        ThePrompter().Message(
            QStringLiteral("The analyzer still holds the record of the test on channel %1 "
                           "(control number %2): %3. Delete it on the analyzer once it is "
                           "no longer needed.")
                .arg(m_channel)
                .arg(m_doc.ControlNumber, why),
            Prompter::Icon::Information);
    };
    CDevice* device = Device();
    if (!device || device->DeviceModel == QLatin1String("PXR2K")) return;
    // Another channel's test that ended after this one made the newest
    // record: deleting "the newest" would take that one.
    if (m_endOrder != 0 && m_endOrder != m_app.TestsEnded[m_slot - 1]) {
        kept(QStringLiteral("another channel's test ended after it, so it is not the "
                            "analyzer's newest record"));
        return;
    }
    if (device->IsLost()) {
        kept(QStringLiteral("the connection to the analyzer was lost"));
        return;
    }
    int count = 0;
    if (device->GetRecordCount(count) != 0) {
        kept(QStringLiteral("the analyzer did not say how many records it holds"));
        return;
    }
    if (count <= 0) return;
    // The newest record is deleted only once its header shows it is this
    // test's: an analyzer that restarted mid-test holds no record of it,
    // and its newest is then a test that may never have reached the PC.
    QBuffer newestBytes;
    newestBytes.open(QIODevice::WriteOnly);
    CRivuletrixDoc newest;
    if (device->GetRecord(count, newestBytes) != 0) {
        kept(QStringLiteral("its newest record could not be read to check it"));
        return;
    }
    newest.ReadRecordBytes(newestBytes.data().constData(), size_t(newestBytes.data().size()),
                           false);
    if (!IsTestsRecord(newest, m_doc, m_channel)) {
        qCDebug(lcTrace) << "newest record" << count << "is channel" << newest.ChannelNo + 1
                         << newest.ControlNumber << newest.StartDate << newest.StartTime;
        ThePrompter().Message(
            QStringLiteral("The analyzer's newest record (channel %1, control number %2, "
                           "started %3 %4) is not the record of the test on channel %5, so the "
                           "analyzer's records were left as they are.")
                .arg(newest.ChannelNo + 1)
                .arg(newest.ControlNumber, newest.StartDate, newest.StartTime)
                .arg(m_channel),
            Prompter::Icon::Information);
        return;
    }
    device->SendDELREC(count);
}

void RunController::TemplateEndStep() {
    const int ranIndex = m_tpl.stepIndex;
    ++m_tpl.stepsEnded;
    int next = ranIndex + 1;
    if (next < Template::kSlots && m_tpl.tmpl.steps[size_t(next)].type == TemplateStep::Bolus)
        ++next;
    m_tpl.stepIndex = next;
    m_doc.Run.autoStopped = true;
    CDevice* device = Device();

    if (device) device->SendEND(m_channel - 1);
    MarkEnded();
    if (next + 1 > Template::kSlots) {
        // The six slots are used up: this step, then the closing section.
        if (!FinishTest()) {
            KeepFailedStep(ranIndex);
            return;
        }
        m_doc.ClearSamples();
        EndJournal();
        // The analyzer's copy goes only once the PC's is safe.
        DeleteAnalyzersLastRecord();
        m_tpl.lastStep = true;
        FinishTest();
        m_tpl.stepContinues = false;
        IndexTemplateRecord();
        return;
    }
    m_doc.Run.autoStopped = false;

    NextStepInfo info;
    info.templateName = m_tpl.tmpl.name;
    info.channel = m_channel;
    info.nextEnabled = RealStep(m_tpl.tmpl.steps[size_t(next)].type);
    // Steps are numbered as the template has them; past its last step the
    // dialog names the step that ended, the one Repeat Step runs again.
    const int shown = info.nextEnabled ? next : ranIndex;
    info.step = StepNumber(m_tpl.tmpl, shown);
    info.type = m_tpl.tmpl.steps[size_t(shown)].type;
    info.rate = m_tpl.tmpl.steps[size_t(shown)].rate;
    bool autoStart =
        info.type == TemplateStep::Flow || (info.type == TemplateStep::Pca && info.rate > 0);
    NextChoice choice = info.nextEnabled ? NextChoice::NextStep : NextChoice::SaveAndExit;
    if (ChooseNextStep) choice = ChooseNextStep(info, autoStart);
    if (choice == NextChoice::NextStep && !info.nextEnabled) choice = NextChoice::SaveAndExit;
    m_tpl.dialogShown = true;
    m_tpl.autoStartChoice = autoStart;

    if (choice != NextChoice::RepeatStep && !FinishTest()) {
        KeepFailedStep(ranIndex);
        return;
    }
    m_doc.ClearSamples();
    EndJournal();
    // The analyzer's copy goes only once the PC's is safe (or the attempt
    // is repeated and not kept).
    DeleteAnalyzersLastRecord();
    if (choice == NextChoice::SaveAndExit) {
        m_tpl.lastStep = false;
        m_tpl.stepContinues = false;
        m_doc.Run.autoStopped = true;
        m_tpl.closeRun = true;
    } else {
        m_tpl.stepContinues = true;
        Q_EMIT GraphReset();
        m_doc.TestType = 'N';
        // The step just run again (not the slot before a skipped bolus).
        if (choice == NextChoice::RepeatStep) m_tpl.stepIndex = ranIndex;
    }
    Q_EMIT ViewsChanged();
}

void RunController::KeepFailedStep(int ranIndex) {
    // The step exists only here and on the analyzer now: neither copy goes.
    // The run ends; the steps saved before are closed as by "Save and Exit".
    ThePrompter().Message(
        QStringLiteral("Template step %1 could not be saved. Its results stay in this window "
                       "and on the analyzer; the template run ends here.")
            .arg(ranIndex + 1));
    m_keepResults = true;
    m_doc.Modified = true;
    m_tpl.stepIndex = ranIndex;
    m_tpl.lastStep = false;
    m_tpl.stepContinues = false;
    m_tpl.closeRun = !m_tpl.firstStep;
    m_doc.Run.autoStopped = true;
    Q_EMIT ViewsChanged();
}

bool RunController::TemplateAfterEnd() {
    if (m_tpl.closeRun) {
        QFile file(m_tpl.filePath);
        // Only the file the steps were saved in: a missing one is not made.
        if (m_tpl.filePath.isEmpty() ||
            !file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
            ThePrompter().Message(QStringLiteral("Error in Open Template File"));
            AbandonTemplateRun();
            return false;
        }
        // The N line states the steps actually run.
        const char head[3] = {'N', char('0' + std::min(m_tpl.stepIndex, 9)), ' '};
        file.write(head, 3);
        file.close();
        IndexTemplateRecord();
        AbandonTemplateRun();
        if (!m_keepResults) ResetDocument();
        return false;
    }
    const int index = m_tpl.stepIndex;
    if (m_tpl.stepContinues && index < Template::kSlots &&
        m_tpl.tmpl.steps[size_t(index)].type != TemplateStep::Empty) {
        Q_EMIT ViewsChanged();
        SetupTemplateStep(index);
        m_doc.Run.setUp = true;
        SetupHandOver();
        return true;
    }
    AbandonTemplateRun();
    if (!m_keepResults) ResetDocument();
    return false;
}

void RunController::AbandonTemplateRun() {
    m_tpl = TemplateRunState{};
    m_doc.Run.templatePending = false;
}

void RunController::IndexTemplateRecord() {
    if (m_tpl.fileName.isEmpty()) return;
    CRivuletrixDoc record;
    record.ReadRecordFile(m_tpl.filePath, nullptr, false);
    record.DefaultTolerance = m_doc.DefaultTolerance;
    IndexSavedRecord(record, m_tpl.fileName);
}

bool RunController::SaveTemplateSection() {
    const QString folder = m_app.Settings().GetDataPath();
    if (m_tpl.firstStep) {
        m_tpl.fileName = m_doc.MakeRecordFileName(true);
        if (m_tpl.fileName.isEmpty()) {
            ThePrompter().Message(
                QStringLiteral("The test results could not be saved: the test has no start "
                               "time to name the record file by."));
            return false;
        }
        m_tpl.filePath = QDir(folder).filePath(m_tpl.fileName);
    }
    const QString title = WindowTitle();
    Q_EMIT TitleChanged(QStringLiteral("Saving ") + m_tpl.fileName);
    QByteArray bytes;
    QFile old(m_tpl.filePath);
    if (!m_tpl.firstStep && old.open(QIODevice::ReadOnly)) bytes = old.readAll();
    old.close();
    // The first section carries the N line, so that "Save and Exit" can
    // state the steps run in its first bytes.
    bytes += m_doc.FormatSection(m_tpl.firstStep, m_tpl.stepIndex);
    QSaveFile out(m_tpl.filePath);
    const bool ok =
        out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
    Q_EMIT TitleChanged(title);
    if (!ok) {
        ThePrompter().Message(QStringLiteral("Error in Open Template File"));
        return false;
    }
    m_tpl.firstStep = false;
    m_savedPath = m_tpl.filePath;
    m_doc.Modified = false;
    EndJournal();
    return true;
}
