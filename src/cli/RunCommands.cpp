// rivuletrix-cli run: a whole test on one channel without a screen, driven by
// the same run controller as the channel windows.
#include "CliCommand.h"

#include "app/AnalyzerPoll.h"
#include "app/Prompter.h"
#include "app/RivuletrixApp.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "testing/HeadlessChannelHost.h"
#include "testing/RunController.h"
#include "testing/SetupSheetRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

namespace {

std::atomic<bool> g_interrupted{false};

const QStringList kValueOptions = {
    "--channel",   "--type",     "--rate",         "--volume",       "--stop-volume",
    "--stop-time", "--bolus",    "--lockout",      "--loading-dose", "--template",
    "--control",   "--operator", "--manufacturer", "--device-type",  "--serial-number",
    "--location",  "--comments", "--save",         "--data-folder",  "--tolerance"};

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

// The parameter block from the command line.
class CliSheet : public SetupSheetRunner {
public:
    ChannelSetup setup;
    bool RunSetupSheet(CDevice& device, int channelIndex, const QString&, bool) override {
        device.Setup[channelIndex] = setup;
        return true;
    }
};

bool Number(const QStringList& args, const char* name, double& out) {
    const QString text = cli::Option(args, QLatin1String(name));
    if (text.isEmpty()) return true;
    bool ok = false;
    out = text.toDouble(&ok);
    return ok;
}

// "HH:MM" or "MM:SS" into two numbers.
bool Pair(const QString& text, int& a, int& b) {
    if (text.isEmpty()) return true;
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok1 = false, ok2 = false;
    if (parts.size() != 2) return false;
    a = parts[0].toInt(&ok1);
    b = parts[1].toInt(&ok2);
    return ok1 && ok2;
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

    CliSheet sheet;
    ChannelSetup& s = sheet.setup;
    EquipmentRecord& eq = s.equipment;
    eq.controlNumber = cli::Option(args, QStringLiteral("--control"), QStringLiteral("CLI"));
    eq.operatorName = cli::Option(args, QStringLiteral("--operator"), QStringLiteral("CLI"));
    eq.manufacturer = cli::Option(args, QStringLiteral("--manufacturer"));
    eq.deviceType = cli::Option(args, QStringLiteral("--device-type"));
    eq.serialNumber = cli::Option(args, QStringLiteral("--serial-number"));
    eq.location = cli::Option(args, QStringLiteral("--location"));
    eq.comments = cli::Option(args, QStringLiteral("--comments"));
    double rate = 0, volume = 0, stopVolume = 0, bolus = 0, loading = 0;
    int hours = 0, minutes = 0, lockMin = 0, lockSec = 0;
    if (!Number(args, "--rate", rate) || !Number(args, "--volume", volume) ||
        !Number(args, "--stop-volume", stopVolume) || !Number(args, "--bolus", bolus) ||
        !Number(args, "--loading-dose", loading))
        return cli::Fail(QStringLiteral("a number option does not hold a number"));
    if (!Pair(cli::Option(args, QStringLiteral("--stop-time")), hours, minutes))
        return cli::Fail(QStringLiteral("--stop-time takes HH:MM"));
    if (!Pair(cli::Option(args, QStringLiteral("--lockout")), lockMin, lockSec))
        return cli::Fail(QStringLiteral("--lockout takes MM:SS"));
    const bool onVolume = args.contains(QStringLiteral("--stop-volume"));
    const bool onTime = args.contains(QStringLiteral("--stop-time"));
    const bool first = cli::Flag(args, QStringLiteral("--first"));
    const bool both = cli::Flag(args, QStringLiteral("--both"));
    const bool autoStart = cli::Flag(args, QStringLiteral("--autostart"));
    if (type == QLatin1String("flow")) {
        eq.typeIndex = 1;
        FlowBlock& f = s.flow;
        f.setFlowRate = rate;
        f.totalVolume = volume;
        f.stopVolume = stopVolume;
        f.stopOnVolume = onVolume && !first && !both;
        f.stopOnTime = onTime && !first && !both;
        f.firstCondition = first;
        f.bothConditions = both;
        f.stopHours = hours;
        f.stopMinutes = minutes;
        f.autoStart = autoStart;
    } else if (type == QLatin1String("occlusion")) {
        eq.typeIndex = 2;
        s.occlusion.setFlowRate = rate;
        s.occlusion.stopOnTime = onTime;
        s.occlusion.stopHours = hours;
        s.occlusion.stopMinutes = minutes;
    } else if (type == QLatin1String("pca")) {
        eq.typeIndex = 3;
        PcaBlock& p = s.pca;
        p.basalRate = rate;
        p.totalVolume = volume;
        p.bolusVolume = bolus;
        p.lockoutMinutes = lockMin;
        p.lockoutSeconds = lockSec;
        p.loadingDose = loading;
        p.stopVolume = stopVolume;
        p.stopOnVolume = onVolume && !first && !both;
        p.stopOnTime = onTime && !first && !both;
        p.firstCondition = first;
        p.bothConditions = both;
        p.stopHours = hours;
        p.stopMinutes = minutes;
        p.autoStart = autoStart;
    } else if (type == QLatin1String("template")) {
        eq.typeIndex = 4;
        s.templateName = cli::Option(args, QStringLiteral("--template"));
        if (s.templateName.isEmpty())
            return cli::Fail(QStringLiteral("--type template needs --template NAME"));
    } else {
        return cli::Fail(QStringLiteral("--type takes flow, occlusion, pca or template"));
    }

    CliPrompter prompter;
    prompter.save = save == QLatin1String("yes");
    SetPrompter(&prompter);
    CRivuletrixApp app(QDir::currentPath());
    const QString dataFolder = cli::Option(args, QStringLiteral("--data-folder"));
    if (!dataFolder.isEmpty()) {
        app.OverrideDataPath(QDir(dataFolder).absolutePath());
        app.Records().SetDataFolder(QDir(dataFolder).absolutePath());
        app.Templates().SetDataFolder(QDir(dataFolder).absolutePath());
    }
    app.Records().Open();
    app.Templates().Open();
    app.LoadSettingsCopies();
    app.Initialised = true;
    app.Records().SetStartupFinished(true);
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

    std::signal(SIGINT, [](int) { g_interrupted = true; });
    std::signal(SIGTERM, [](int) { g_interrupted = true; });
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
            if (g_interrupted) {
                exitCode = 1;
                QCoreApplication::exit(1);
            } else if (run.StartEnabled()) {
                run.OnStartTest();
                phase = Phase::Running;
            }
            break;
        case Phase::Running:
            samples = std::max(0, doc.StoredCount() - 1);
            if (g_interrupted || doc.Run.autoStopped || doc.Run.stopDetected) {
                phase = Phase::Ending;
                if (!doc.Run.analyzerShutDown) run.OnEndTest();
            }
            break;
        case Phase::Ending:
            // A template run sets up its next step after the end of one.
            if (run.TemplateRun().active && !g_interrupted) {
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

    const QString path = run.LastSavedPath();
    char typeChar = "EFOP"[eq.typeIndex];
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
    if (exitCode != 0 || phase != Phase::Done) return exitCode ? exitCode : 1;
    QJsonObject o;
    o[QStringLiteral("path")] = path.isEmpty() ? QJsonValue() : QJsonValue(path);
    o[QStringLiteral("type")] = QString(QLatin1Char(typeChar));
    o[QStringLiteral("samples")] = samples;
    o[QStringLiteral("stop")] = StopName(run.LastStop());
    cli::Print(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    return 0;
}

const CliCommand
    kRun("run",
         "run PORT --channel N --type flow|occlusion|pca|template [--rate R] [--volume V] "
         "[--stop-volume X] "
         "[--stop-time HH:MM] [--first|--both] [--autostart] [--bolus B --lockout MM:SS "
         "--loading-dose D] "
         "[--template NAME] [--control C --operator O ...] [--save yes|no] [--data-folder DIR]",
         RunTest);

} // namespace
