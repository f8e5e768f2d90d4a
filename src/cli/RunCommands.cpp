// rivuletrix-cli run: a whole test on one channel without a screen, driven by
// the same run controller as the channel windows.
#include "CliCommand.h"

#include "app/AnalyzerPoll.h"
#include "app/HeadlessChannelHost.h"
#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "testing/RunController.h"
#include "testing/SetupAccept.h"
#include "testing/SetupSheetRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only
// writes the signal number, which is all it may safely do.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

// Installs the handlers for the life of the object; the previous ones come back.
class SignalPipe {
public:
    SignalPipe() {
        if (::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
        struct sigaction sa = {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, &m_oldInt);
        sigaction(SIGTERM, &sa, &m_oldTerm);
        m_ok = true;
    }
    ~SignalPipe() {
        if (!m_ok) return;
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    int ReadFd() const { return m_ok ? g_signalPipe[0] : -1; }
    // The signal that arrived, 0 for none.
    static int Take() {
        char c = 0;
        return ::read(g_signalPipe[0], &c, 1) == 1 ? int(c) : 0;
    }

private:
    bool m_ok = false;
    struct sigaction m_oldInt = {}, m_oldTerm = {};
};

const QStringList kValueOptions = {
    "--channel",       "--type",     "--rate",         "--volume",       "--stop-volume",
    "--stop-time",     "--bolus",    "--lockout",      "--loading-dose", "--template",
    "--control",       "--operator", "--manufacturer", "--device-type",  "--serial-number",
    "--location",      "--comments", "--save",         "--data-folder",  "--tolerance",
    "--journal-folder"};

// Messages go to standard error; the save question is answered as told, the
// cancel question with Yes, anything else with No.
class CliPrompter : public Prompter {
public:
    bool save = true;
    void Message(const QString& text, Icon) override {
        // Said once: a run outside a working folder has no settings file.
        if (m_said.contains(text)) return;
        m_said << text;
        std::fprintf(stderr, "rivuletrix-cli: %s\n", text.toLocal8Bit().constData());
    }
    bool Question(const QString& text, Icon) override {
        if (text.startsWith(QLatin1String("Do you want to save")) ||
            text.startsWith(QLatin1String("The Test results")))
            return save;
        return text.contains(QLatin1String("cancel"), Qt::CaseInsensitive);
    }

private:
    QStringList m_said;
};

// "HH:MM" or "MM:SS" into two numbers.
bool Pair(const QString& text, QString& a, QString& b) {
    if (text.isEmpty()) return true;
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2 || parts[0].isEmpty() || parts[1].isEmpty()) return false;
    a = parts[0];
    b = parts[1];
    return true;
}

QString StopName(RunController::StopReason r) {
    switch (r) {
    case RunController::StopReason::Volume:
        return QStringLiteral("volume");
    case RunController::StopReason::Time:
        return QStringLiteral("time");
    case RunController::StopReason::Analyzer:
        return QStringLiteral("analyzer");
    case RunController::StopReason::Shutdown:
        return QStringLiteral("shutdown");
    case RunController::StopReason::Cancelled:
        return QStringLiteral("cancelled");
    default:
        return QStringLiteral("user");
    }
}

int RunTest(const QStringList& args) {
    const QStringList pos = cli::Positional(args, kValueOptions);
    if (pos.isEmpty()) return cli::Fail(QStringLiteral("missing PORT"));
    const QString port = pos[0];
    bool ok = false;
    const int channel =
        cli::Option(args, QStringLiteral("--channel"), QStringLiteral("1")).toInt(&ok);
    if (!ok || channel < 1 || channel > 4) return cli::Fail(QStringLiteral("--channel takes 1..4"));
    const QString type = cli::Option(args, QStringLiteral("--type"), QStringLiteral("flow"));
    const QString save = cli::Option(args, QStringLiteral("--save"), QStringLiteral("yes"));
    if (save != QLatin1String("yes") && save != QLatin1String("no"))
        return cli::Fail(QStringLiteral("--save takes yes or no"));

    using namespace setupsheet;
    SetupPage page;
    if (type == QLatin1String("flow"))
        page = SetupPage::Flow;
    else if (type == QLatin1String("occlusion"))
        page = SetupPage::Occlusion;
    else if (type == QLatin1String("pca"))
        page = SetupPage::Pca;
    else if (type == QLatin1String("template"))
        page = SetupPage::Template;
    else
        return cli::Fail(QStringLiteral("--type takes flow, occlusion, pca or template"));
    // "HH:MM" and "MM:SS" as the sheet's two fields; their ranges are the
    // sheet's checks.
    QString hours = QStringLiteral("0"), minutes = QStringLiteral("0");
    QString lockMin = QStringLiteral("0"), lockSec = QStringLiteral("0");
    if (!Pair(cli::Option(args, QStringLiteral("--stop-time")), hours, minutes))
        return cli::Fail(QStringLiteral("--stop-time takes HH:MM"));
    if (!Pair(cli::Option(args, QStringLiteral("--lockout")), lockMin, lockSec))
        return cli::Fail(QStringLiteral("--lockout takes MM:SS"));
    const QString templateName = cli::Option(args, QStringLiteral("--template"));
    if (page == SetupPage::Template && templateName.isEmpty())
        return cli::Fail(QStringLiteral("--type template needs --template NAME"));

    CliPrompter prompter;
    prompter.save = save == QLatin1String("yes");
    SetPrompter(&prompter);
    CRivuletrixApp app(QDir::currentPath());
    const QString dataFolder = cli::Option(args, QStringLiteral("--data-folder"));
    if (!dataFolder.isEmpty()) {
        // A folder named on the command line is made when it is missing.
        const QString folder = QDir(dataFolder).absolutePath();
        QDir().mkpath(folder);
        app.OverrideDataPath(folder);
        app.Records().SetDataFolder(folder);
        app.Templates().SetDataFolder(folder);
    }
    const QString journalFolder = cli::Option(args, QStringLiteral("--journal-folder"));
    if (!journalFolder.isEmpty()) app.SetJournalFolder(QDir(journalFolder).absolutePath());
    app.Records().Open();
    app.Templates().Open();
    app.LoadSettingsCopies();
    app.Initialised = true;
    app.Records().SetStartupFinished(true);

    // The sheet's form as the user would have typed it; OK runs the same
    // checks, and a failed one is an error.
    SetupForm form = SetupForm::Defaults(app.FlowTolerance);
    const auto text = [&](const char* option, QString& field) {
        const QString v = cli::Option(args, QLatin1String(option));
        if (!v.isEmpty()) field = v;
    };
    SetupEquipment& eq = form.equipment;
    eq.controlNumber = cli::Option(args, QStringLiteral("--control"), QStringLiteral("CLI"));
    eq.operatorName = cli::Option(args, QStringLiteral("--operator"), QStringLiteral("CLI"));
    text("--manufacturer", eq.manufacturer);
    text("--device-type", eq.deviceType);
    text("--serial-number", eq.serialNumber);
    text("--location", eq.location);
    text("--comments", eq.comments);
    const bool onVolume = args.contains(QStringLiteral("--stop-volume"));
    const bool onTime = args.contains(QStringLiteral("--stop-time"));
    const bool first = cli::Flag(args, QStringLiteral("--first"));
    const bool both = cli::Flag(args, QStringLiteral("--both"));
    const bool autoStart = cli::Flag(args, QStringLiteral("--autostart"));
    switch (page) {
    case SetupPage::Flow: {
        SetupFlowForm& f = form.flow;
        text("--rate", f.setFlowRate);
        text("--volume", f.totalVolume);
        text("--stop-volume", f.stopVolume);
        text("--tolerance", f.tolerance);
        f.stopOnVolume = onVolume && !first && !both;
        f.stopOnTime = onTime && !first && !both;
        f.firstCondition = first;
        f.bothConditions = both;
        f.stopHours = hours;
        f.stopMinutes = minutes;
        f.autoStart = autoStart;
        break;
    }
    case SetupPage::Occlusion:
        text("--rate", form.occlusion.setFlowRate);
        form.occlusion.stopOnTime = onTime;
        form.occlusion.stopHours = hours;
        form.occlusion.stopMinutes = minutes;
        break;
    case SetupPage::Pca: {
        SetupPcaForm& p = form.pca;
        text("--rate", p.basalRate);
        text("--volume", p.totalVolume);
        text("--bolus", p.bolusVolume);
        text("--loading-dose", p.loadingDose);
        text("--stop-volume", p.stopVolume);
        p.lockoutMinutes = lockMin;
        p.lockoutSeconds = lockSec;
        p.stopOnVolume = onVolume && !first && !both;
        p.stopOnTime = onTime && !first && !both;
        p.firstCondition = first;
        p.bothConditions = both;
        p.stopHours = hours;
        p.stopMinutes = minutes;
        p.autoStart = autoStart;
        break;
    }
    case SetupPage::Template: {
        form.templ.selected = true;
        form.templ.name = templateName;
        QList<TemplateRow> rows;
        app.Templates().ListRows(rows);
        for (const TemplateRow& row : rows)
            if (row.name == templateName) form.templ.fileName = row.fileName;
        break;
    }
    }
    PresetSetupSheetRunner sheet(page, form);
    HeadlessChannelHost host;
    host.app = &app;
    host.sheet = &sheet;
    app.SetWindowHost(&host);

    app.Scanner().ScanPorts({port});
    const QList<FoundAnalyzer> found = app.Scanner().Found();
    if (found.isEmpty()) {
        SetPrompter(nullptr);
        return cli::Fail(QStringLiteral("no analyzer answers on %1").arg(port));
    }
    FoundAnalyzer record = found[0];
    if (record.model == QLatin1String("PXR2K") &&
        (page == SetupPage::Pca || page == SetupPage::Template)) {
        SetPrompter(nullptr);
        return cli::Fail(
            QStringLiteral("the PXR2K on %1 runs Flow and Occlusion tests only").arg(port));
    }
    if (!record.channels[channel - 1]) {
        SetPrompter(nullptr);
        return cli::Fail(
            QStringLiteral("the analyzer on %1 has no channel %2").arg(port).arg(channel));
    }
    if (app.ConnectAnalyzer(1, record) != 1) {
        SetPrompter(nullptr);
        return cli::Fail(QStringLiteral("cannot connect to %1").arg(port));
    }
    RunController& run = *host.channels.at(10 + channel).run;
    CRivuletrixDoc& doc = *host.channels.at(10 + channel).doc;

    // Ctrl+C or SIGTERM at any point: the test ends on the analyzer, which
    // keeps the record of what ran.
    SignalPipe signals;
    int interruptedBy = 0;
    std::unique_ptr<QSocketNotifier> onSignal;
    if (signals.ReadFd() >= 0) {
        onSignal = std::make_unique<QSocketNotifier>(signals.ReadFd(), QSocketNotifier::Read);
        QObject::connect(onSignal.get(), &QSocketNotifier::activated, [&] {
            const int sig = SignalPipe::Take();
            if (sig == 0 || interruptedBy != 0) return;
            interruptedBy = sig;
            if (CDevice* d = app.Device(1)) d->SendEND(channel - 1);
            QCoreApplication::exit(128 + sig);
        });
    }
    // A silent analyzer while the setup waits: the setup is cancelled.
    bool silent = false;
    QObject::connect(&run, &RunController::AnalyzerSilent, &run, [&] {
        silent = true;
        run.OnEndTest();
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app.Poll(), &AnalyzerPoll::Poll);
    poll.start(500);

    int exitCode = 0;
    int samples = 0;
    enum class Phase { Setup, Armed, Running, Ending, Done } phase = Phase::Setup;
    QTimer step;
    QObject::connect(&run, &RunController::TestFinished, &step, [&] {
        phase = Phase::Done;
        QCoreApplication::exit(0);
    });
    QObject::connect(&step, &QTimer::timeout, &step, [&] {
        switch (phase) {
        case Phase::Setup:
            run.OnSetupTest();
            if (run.CurrentState() == RunController::State::Idle) {
                exitCode = 1;
                QCoreApplication::exit(1);
                return;
            }
            phase = Phase::Armed;
            break;
        case Phase::Armed:
            if (run.StartEnabled()) {
                run.OnStartTest();
                phase = Phase::Running;
            }
            break;
        case Phase::Running:
            samples = std::max(0, doc.StoredCount() - 1);
            if (doc.Run.autoStopped || doc.Run.stopDetected) {
                phase = Phase::Ending;
                if (!doc.Run.analyzerShutDown) run.OnEndTest();
            }
            break;
        case Phase::Ending:
            // A template run sets up its next step after the end of one.
            if (run.TemplateRun().active) {
                const RunController::State st = run.CurrentState();
                if (st == RunController::State::WaitingForPrimed ||
                    st == RunController::State::Armed)
                    phase = Phase::Armed;
                else if (st == RunController::State::Running && !doc.Run.autoStopped &&
                         !doc.Run.stopDetected)
                    phase = Phase::Running;
            }
            break;
        case Phase::Done:
            break;
        }
    });
    step.start(100);
    QCoreApplication::exec();
    step.stop();
    poll.stop();
    onSignal.reset();
    // Read before the disconnect below closes the channel and its controller.
    const RunController::StopReason lastStop = run.LastStop();
    const bool kept = run.ResultsKept();
    if (interruptedBy != 0) {
        for (FoundAnalyzer r : app.Scanner().Found())
            if (app.Device(1)) {
                r.slot = 1;
                app.DisconnectAnalyzer(1, r);
            }
        SetPrompter(nullptr);
        cli::Fail(
            QStringLiteral("interrupted by %1: the test on channel %2 was ended on the "
                           "analyzer, which keeps its record")
                .arg(interruptedBy == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"))
                .arg(channel));
        return 128 + interruptedBy;
    }

    const QString path = run.LastSavedPath();
    char typeChar = "EFOPT"[int(page)];
    if (!path.isEmpty()) {
        CRivuletrixDoc saved;
        if (saved.ReadRecordFile(path)) {
            samples = std::max(0, saved.StoredCount() - 1);
            typeChar = saved.TestType;
        }
        // A template record: the samples of every section kept.
        for (int step = 2; step <= saved.TemplateSteps; ++step) {
            CRivuletrixDoc section;
            section.StepToShow = step;
            if (section.ReadRecordFile(path)) samples += std::max(0, section.StoredCount() - 1);
        }
        if (saved.TemplateSteps > 0) typeChar = 'T';
    }
    for (FoundAnalyzer r : app.Scanner().Found())
        if (app.Device(1)) {
            r.slot = 1;
            app.DisconnectAnalyzer(1, r);
        }
    SetPrompter(nullptr);
    if (silent)
        return cli::Fail(QStringLiteral("the analyzer on %1 stopped answering; the test "
                                        "set up on channel %2 was cancelled")
                             .arg(port)
                             .arg(channel));
    if (exitCode != 0 || phase != Phase::Done) return exitCode ? exitCode : 1;
    // Told to save: results that stayed unsaved are a failure, not a result.
    if (prompter.save && lastStop != RunController::StopReason::Cancelled &&
        (path.isEmpty() || kept))
        return cli::Fail(QStringLiteral("the test results were not saved; the analyzer keeps its "
                                        "record"));
    QJsonObject o;
    o[QStringLiteral("path")] = path.isEmpty() ? QJsonValue() : QJsonValue(path);
    o[QStringLiteral("type")] = QString(QLatin1Char(typeChar));
    o[QStringLiteral("samples")] = samples;
    o[QStringLiteral("stop")] = StopName(lastStop);
    cli::Print(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    return 0;
}

const CliCommand
    kRun("run",
         "run PORT --channel N --type flow|occlusion|pca|template [--rate R] [--volume V] "
         "[--stop-volume X] "
         "[--stop-time HH:MM] [--first|--both] [--autostart] [--bolus B --lockout MM:SS "
         "--loading-dose D] "
         "[--template NAME] [--control C --operator O ...] [--save yes|no] [--data-folder DIR] "
         "[--journal-folder DIR]",
         RunTest);

} // namespace
