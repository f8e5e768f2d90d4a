// rivuletrix-cli run: a whole test on one channel without a screen, driven by
// the same run controller as the channel windows.
#include "CliCommand.h"
#include "Interrupts.h"

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
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

namespace {

// Each server call has its own limit of seconds; this only bounds a long
// queue of them at the exit.
constexpr int kIndexingWaitMs = 120000;

const QStringList kValueOptions = {
    "--channel",        "--type",      "--rate",         "--volume",       "--stop-volume",
    "--stop-time",      "--bolus",     "--lockout",      "--loading-dose", "--template",
    "--control",        "--operator",  "--manufacturer", "--device-type",  "--serial-number",
    "--location",       "--comments",  "--save",         "--data-folder",  "--tolerance",
    "--journal-folder", "--lost-limit"};

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

enum class Phase { Setup, Armed, Running, Ending, Done };

// One channel's test as the command drives it.
struct ChannelRun {
    QString port;
    int slot = 0, channel = 0;
    RunController* run = nullptr;
    CRivuletrixDoc* doc = nullptr;
    Phase phase = Phase::Setup;
    bool silent = false;
    bool setupFailed = false;
    int samples = 0;
    RunController::StopReason lastStop = RunController::StopReason::User;
    bool kept = false;
    QString path;
    // The analyzer stopped answering while the test ran: after lostLimitMs
    // without a status reply the test is ended with what arrived.
    qint64 lostLimitMs = 30000;
    uint64_t replies = 0;
    QElapsedTimer quiet;
    bool lost = false;
};

// What the user would do next in the channel's window.
void Step(ChannelRun& r) {
    RunController& run = *r.run;
    CRivuletrixDoc& doc = *r.doc;
    switch (r.phase) {
    case Phase::Setup:
        run.OnSetupTest();
        if (run.CurrentState() == RunController::State::Idle) {
            r.setupFailed = true;
            r.phase = Phase::Done;
            return;
        }
        r.phase = Phase::Armed;
        break;
    case Phase::Armed:
        // The setup was dropped: the analyzer went away (said already).
        if (run.CurrentState() == RunController::State::Idle) {
            r.setupFailed = true;
            r.phase = Phase::Done;
            return;
        }
        if (run.StartEnabled()) {
            run.OnStartTest();
            r.phase = Phase::Running;
        }
        break;
    case Phase::Running: {
        r.samples = std::max(0, doc.StoredCount() - 1);
        if (doc.Run.autoStopped || doc.Run.stopDetected) {
            r.phase = Phase::Ending;
            if (!doc.Run.analyzerShutDown) run.OnEndTest();
            break;
        }
        const CDevice* device = run.Device();
        const bool lost = !device || device->IsLost();
        const uint64_t replies = device ? device->StatusReplies() : 0;
        if (!r.quiet.isValid() || (!lost && replies != r.replies)) {
            r.replies = replies;
            r.quiet.start();
        } else if (r.quiet.elapsed() > r.lostLimitMs) {
            // Nobody is there to end it on the analyzer: what arrived is
            // saved as the End button would.
            r.lost = true;
            r.phase = Phase::Ending;
            run.OnEndTest();
        }
        break;
    }
    case Phase::Ending:
        // A template run sets up its next step after the end of one.
        if (run.TemplateRun().active) {
            const RunController::State st = run.CurrentState();
            if (st == RunController::State::WaitingForPrimed || st == RunController::State::Armed)
                r.phase = Phase::Armed;
            else if (st == RunController::State::Running && !doc.Run.autoStopped &&
                     !doc.Run.stopDetected)
                r.phase = Phase::Running;
        }
        break;
    case Phase::Done:
        break;
    }
}

// The saved record's type and sample count (every section of a template
// record), or what the window held.
QJsonObject Result(const ChannelRun& r, char pageType) {
    int samples = r.samples;
    char typeChar = pageType;
    if (!r.path.isEmpty()) {
        CRivuletrixDoc saved;
        if (saved.ReadRecordFile(r.path)) {
            samples = std::max(0, saved.StoredCount() - 1);
            typeChar = saved.TestType;
        }
        for (int step = 2; step <= saved.TemplateSteps; ++step) {
            CRivuletrixDoc section;
            section.StepToShow = step;
            if (section.ReadRecordFile(r.path)) samples += std::max(0, section.StoredCount() - 1);
        }
        if (saved.TemplateSteps > 0) typeChar = 'T';
    }
    QJsonObject o;
    o[QStringLiteral("path")] = r.path.isEmpty() ? QJsonValue() : QJsonValue(r.path);
    o[QStringLiteral("type")] = QString(QLatin1Char(typeChar));
    o[QStringLiteral("samples")] = samples;
    o[QStringLiteral("stop")] = StopName(r.lastStop);
    return o;
}

void Disconnect(CRivuletrixApp& app) {
    for (FoundAnalyzer r : app.Scanner().Found())
        for (int slot = 1; slot <= CRivuletrixApp::kSlots; ++slot)
            if (CDevice* d = app.Device(slot); d && d->PortName == r.portName) {
                r.slot = slot;
                app.DisconnectAnalyzer(slot, r);
            }
}

int RunTest(const QStringList& args) {
    const QStringList ports = cli::Positional(args, kValueOptions);
    if (ports.isEmpty()) return cli::Fail(QStringLiteral("missing PORT"));
    if (ports.size() > CRivuletrixApp::kSlots)
        return cli::Fail(QStringLiteral("at most %1 ports").arg(CRivuletrixApp::kSlots));
    if (QSet<QString>(ports.begin(), ports.end()).size() != ports.size())
        return cli::Fail(QStringLiteral("a port is named twice"));
    // "1", "1,3" or "all" (every channel each analyzer has).
    const QString channelText = cli::Option(args, QStringLiteral("--channel"), QStringLiteral("1"));
    const bool allChannels = channelText == QLatin1String("all");
    QList<int> channels;
    if (!allChannels) {
        for (const QString& part : channelText.split(QLatin1Char(','))) {
            bool ok = false;
            const int c = part.toInt(&ok);
            if (!ok || c < 1 || c > 4 || channels.contains(c))
                return cli::Fail(
                    QStringLiteral("--channel takes 1..4, a list such as 1,3, or all"));
            channels << c;
        }
    }
    const QString type = cli::Option(args, QStringLiteral("--type"), QStringLiteral("flow"));
    const QString save = cli::Option(args, QStringLiteral("--save"), QStringLiteral("yes"));
    bool limitOk = false;
    const int lostLimitS =
        cli::Option(args, QStringLiteral("--lost-limit"), QStringLiteral("30")).toInt(&limitOk);
    if (!limitOk || lostLimitS < 1 || lostLimitS > 3600)
        return cli::Fail(QStringLiteral("--lost-limit takes 1 to 3600 seconds"));
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
    // The sheet's edits take no more than this; a longer text is refused
    // rather than cut, so that nothing is saved under a name not typed.
    const std::pair<const char*, const QString*> limited[] = {
        {"--control", &eq.controlNumber},      {"--operator", &eq.operatorName},
        {"--manufacturer", &eq.manufacturer},  {"--device-type", &eq.deviceType},
        {"--serial-number", &eq.serialNumber}, {"--location", &eq.location},
        {"--comments", &eq.comments}};
    for (const auto& [option, value] : limited) {
        const int limit = value == &eq.comments ? kCommentsLimit : kEquipmentTextLimit;
        if (value->size() > limit) {
            SetPrompter(nullptr);
            return cli::Fail(QStringLiteral("%1 takes at most %2 characters (%3 given)")
                                 .arg(QLatin1String(option))
                                 .arg(limit)
                                 .arg(value->size()));
        }
    }
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

    app.Scanner().ScanPorts(ports);
    const QList<FoundAnalyzer> found = app.Scanner().Found();
    // One test per channel asked for, on every port, in the order named.
    std::vector<std::unique_ptr<ChannelRun>> runs;
    int slot = 0;
    for (const QString& port : ports) {
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&](const FoundAnalyzer& f) { return f.portName == port; });
        if (it == found.end()) {
            Disconnect(app);
            SetPrompter(nullptr);
            return cli::Fail(QStringLiteral("no analyzer answers on %1").arg(port));
        }
        FoundAnalyzer record = *it;
        if (record.model == QLatin1String("PXR2K") &&
            (page == SetupPage::Pca || page == SetupPage::Template)) {
            Disconnect(app);
            SetPrompter(nullptr);
            return cli::Fail(
                QStringLiteral("the PXR2K on %1 runs Flow and Occlusion tests only").arg(port));
        }
        QList<int> here = channels;
        if (allChannels)
            for (int c = 1; c <= 4; ++c)
                if (record.channels[c - 1]) here << c;
        for (int c : here)
            if (!record.channels[c - 1]) {
                Disconnect(app);
                SetPrompter(nullptr);
                return cli::Fail(
                    QStringLiteral("the analyzer on %1 has no channel %2").arg(port).arg(c));
            }
        ++slot;
        if (app.ConnectAnalyzer(slot, record) != slot) {
            Disconnect(app);
            SetPrompter(nullptr);
            return cli::Fail(QStringLiteral("cannot connect to %1").arg(port));
        }
        for (int c : here) {
            auto r = std::make_unique<ChannelRun>();
            r->port = port;
            r->slot = slot;
            r->channel = c;
            r->lostLimitMs = qint64(lostLimitS) * 1000;
            r->run = host.channels.at(slot * 10 + c).run.get();
            r->doc = host.channels.at(slot * 10 + c).doc.get();
            runs.push_back(std::move(r));
        }
    }

    // Ctrl+C or SIGTERM at any point: the tests end on the analyzers, which
    // keep the records of what ran.
    Interrupts interrupts;
    int interruptedBy = 0;
    QObject::connect(&interrupts, &Interrupts::Arrived, [&](int sig) {
        if (interruptedBy != 0) return;
        interruptedBy = sig;
        for (const auto& r : runs)
            if (CDevice* d = app.Device(r->slot); d && !d->IsLost())
                d->SendEND(r->channel - 1);
            else
                r->lost = true;
        QCoreApplication::exit(128 + sig);
    });
    const auto allDone = [&] {
        return std::all_of(runs.begin(), runs.end(),
                           [](const auto& r) { return r->phase == Phase::Done; });
    };
    for (const auto& owned : runs) {
        ChannelRun* r = owned.get();
        // A silent analyzer while the setup waits: the setup is cancelled.
        QObject::connect(r->run, &RunController::AnalyzerSilent, r->run, [r] {
            r->silent = true;
            r->run->OnEndTest();
        });
        QObject::connect(r->run, &RunController::TestFinished, r->run, [r, &allDone] {
            // A setup the analyzer did not take (it runs a test of its own,
            // which was said) ends here too.
            if (r->run->CurrentState() == RunController::State::OnAnalyzer) r->setupFailed = true;
            r->phase = Phase::Done;
            if (allDone()) QCoreApplication::exit(0);
        });
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app.Poll(), &AnalyzerPoll::Poll);
    poll.start(500);

    QTimer step;
    QObject::connect(&step, &QTimer::timeout, &step, [&] {
        for (const auto& r : runs) Step(*r);
        if (allDone()) QCoreApplication::exit(0);
    });
    step.start(100);
    QCoreApplication::exec();
    // The saved records' rows are in the index or noted for later before
    // the exit, and a server that did not answer is said.
    if (!app.FinishIndexing(kIndexingWaitMs))
        cli::Fail(QStringLiteral("the records index did not finish within %1 seconds")
                      .arg(kIndexingWaitMs / 1000));
    step.stop();
    poll.stop();
    QObject::disconnect(&interrupts, nullptr, nullptr, nullptr);
    // Read before the disconnect below closes the channels and their
    // controllers.
    for (const auto& r : runs) {
        r->lastStop = r->run->LastStop();
        r->kept = r->run->ResultsKept();
        r->path = r->run->LastSavedPath();
    }
    if (interruptedBy != 0) {
        Disconnect(app);
        SetPrompter(nullptr);
        QStringList ended, lost;
        for (const auto& r : runs) (r->lost ? lost : ended) << QString::number(r->channel);
        const QString by =
            interruptedBy == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
        if (!ended.isEmpty())
            cli::Fail(QStringLiteral("interrupted by %1: the test on channel %2 was ended on the "
                                     "analyzer, which keeps its record")
                          .arg(by, ended.join(QLatin1Char(','))));
        if (!lost.isEmpty())
            cli::Fail(QStringLiteral("interrupted by %1: the analyzer of the test on channel %2 "
                                     "was lost; the test could not be ended on it")
                          .arg(by, lost.join(QLatin1Char(','))));
        return 128 + interruptedBy;
    }
    Disconnect(app);
    SetPrompter(nullptr);

    const char pageType = "EFOPT"[int(page)];
    QJsonArray results;
    int failures = 0;
    for (const auto& owned : runs) {
        ChannelRun& r = *owned;
        QString error;
        if (r.lost)
            error =
                QStringLiteral("the analyzer on %1 was lost during the test on channel %2; "
                               "%3")
                    .arg(r.port)
                    .arg(r.channel)
                    .arg(r.path.isEmpty() || r.kept ? QStringLiteral("what arrived was not saved")
                                                    : QStringLiteral("what arrived was saved to %1")
                                                          .arg(QDir::toNativeSeparators(r.path)));
        else if (r.silent)
            error = QStringLiteral("the analyzer on %1 stopped answering; the test set up on "
                                   "channel %2 was cancelled")
                        .arg(r.port)
                        .arg(r.channel);
        else if (r.setupFailed || r.phase != Phase::Done)
            error = QStringLiteral("the test on channel %1 of %2 did not finish")
                        .arg(r.channel)
                        .arg(r.port);
        // Told to save: results that stayed unsaved are a failure, not a
        // result.
        else if (prompter.save && r.lastStop != RunController::StopReason::Cancelled &&
                 (r.path.isEmpty() || r.kept))
            error = QStringLiteral("the test results were not saved; the analyzer keeps its "
                                   "record");
        QJsonObject o = Result(r, pageType);
        if (runs.size() == 1) {
            // A setup the sheet's checks refused has said why already.
            if (!r.silent && (r.setupFailed || r.phase != Phase::Done)) return 1;
            if (!error.isEmpty()) return cli::Fail(error);
            cli::Print(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
            return 0;
        }
        o[QStringLiteral("port")] = r.port;
        o[QStringLiteral("channel")] = r.channel;
        if (!error.isEmpty()) {
            o[QStringLiteral("error")] = error;
            ++failures;
        }
        results.append(o);
    }
    cli::Print(QJsonDocument(results).toJson(QJsonDocument::Compact) + '\n');
    return failures == 0 ? 0 : 1;
}

const CliCommand
    kRun("run",
         "run PORT [PORT...] --channel N|N,M|all --type flow|occlusion|pca|template [--rate R] "
         "[--volume V] "
         "[--stop-volume X] "
         "[--stop-time HH:MM] [--first|--both] [--autostart] [--bolus B --lockout MM:SS "
         "--loading-dose D] "
         "[--template NAME] [--control C --operator O ...] [--save yes|no] [--data-folder DIR] "
         "[--journal-folder DIR] [--lost-limit SECONDS]",
         RunTest);

} // namespace
