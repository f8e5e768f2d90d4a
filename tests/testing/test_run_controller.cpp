// Whole tests on a simulated analyzer at accelerated time: setup, start,
// automatic stops, cancel, end, save, index and the analyzer's copy.
#include "../SmallTmpfs.h"
#include "../link/TestMain.h"
#include "../store/PgTestServer.h"
#include "RunFixture.h"

#include "records/TestJournal.h"
#include "store/TemplateStore.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

class TestRunController : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;
    ScriptedSheet m_sheet;
    HeadlessChannelHost m_host;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<SimProcess> m_sim;
    QTimer m_poll;

    // Starts the simulator and connects it into slot 1.
    void Connect(const QStringList& args) {
        m_sim = std::make_unique<SimProcess>(QStringLiteral("an"),
                                             args + QStringList{"--prime-delay", "200"});
        QVERIFY(m_sim->Ok());
        m_app->Scanner().ScanPorts({m_sim->Link()});
        QList<FoundAnalyzer> found = m_app->Scanner().Found();
        QCOMPARE(found.size(), 1);
        FoundAnalyzer record = found[0];
        QCOMPARE(m_app->ConnectAnalyzer(1, record), 1);
        m_poll.start(200);
    }
    // Bench A, a PXR-8 of one channel, with more simulator arguments.
    static QStringList BenchA(const QStringList& more = {}) {
        return QStringList{"--model",  "PXR-8",    "--name",     "Bench A",
                           "--serial", "80000001", "--channels", "1"} +
               more;
    }
    RunController& Run(int channel = 1) { return *m_host.channels.at(10 + channel).run; }
    CRivuletrixDoc& Doc(int channel = 1) { return *m_host.channels.at(10 + channel).doc; }

    // Setup and wait for the primed channel, then Start Test.
    void SetupAndStart(int channel = 1) {
        Run(channel).OnSetupTest();
        QTRY_VERIFY_WITH_TIMEOUT(Run(channel).StartEnabled(), 10000);
        Run(channel).OnStartTest();
        QCOMPARE(Run(channel).CurrentState(), RunController::State::Running);
    }
    void EndAndWait(int channel = 1) {
        QSignalSpy finished(&Run(channel), &RunController::TestFinished);
        Run(channel).OnEndTest();
        QVERIFY(finished.count() > 0 || finished.wait(15000));
    }
    QStringList Sent() const { return m_sim->Received(); }
    // The Template page ticked on the named template.
    static ChannelSetup TemplateSetup(const QString& name, const QString& control) {
        ChannelSetup s;
        s.equipment.typeIndex = 4;
        s.equipment.controlNumber = control;
        s.equipment.operatorName = QStringLiteral("JS");
        s.templateName = name;
        return s;
    }
    // A template file in the data folder and its row in the store.
    void AddTemplate(const Template& t, const QString& fileName) {
        TemplateStore& store = m_app->Templates();
        QVERIFY(store.WriteTemplateFile(fileName, t));
        TemplateRow row;
        row.name = t.name;
        row.deviceComments = t.deviceComments;
        row.fileName = fileName;
        row.stepCount = t.stepCount;
        QVERIFY(store.AddRow(row));
    }

    // A template of two like Flow steps of ml at rate ml/h, ticked on the
    // Template page for control; the next-step question is answered choice.
    void OfferTwoFlowSteps(const QString& name, double ml, double rate, const QString& control,
                           RunController::NextChoice choice) {
        Template t;
        t.name = name;
        t.steps[0] = t.steps[1] = {TemplateStep::Flow, ml, TemplateStep::Ml, rate, 5, 0, 30};
        t.stepCount = 2;
        AddTemplate(t, name.toLower() + QStringLiteral(".p8t"));
        m_sheet.setup = TemplateSetup(name, control);
        Run().ChooseNextStep = [choice](const RunController::NextStepInfo&, bool&) {
            return choice;
        };
    }

    static ChannelSetup Flow(double rate, double stopMl, int hours, int minutes, bool onVolume,
                             bool onTime, bool both = false) {
        ChannelSetup s;
        s.equipment.typeIndex = 1;
        s.equipment.controlNumber = QStringLiteral("O'Brien-7");
        s.equipment.operatorName = QStringLiteral("JS");
        s.equipment.deviceType = QStringLiteral("Infusor");
        s.flow.setFlowRate = rate;
        s.flow.totalVolume = stopMl;
        s.flow.stopVolume = stopMl;
        s.flow.stopOnVolume = onVolume;
        s.flow.stopOnTime = onTime;
        s.flow.bothConditions = both;
        s.flow.stopHours = hours;
        s.flow.stopMinutes = minutes;
        return s;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(MakeWorkingFolder(m_dir->path()));
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_app->StartupSettings();
        m_app->Initialised = true;
        m_app->Records().SetStartupFinished(true);
        m_host.app = m_app.get();
        m_host.sheet = &m_sheet;
        m_host.channels.clear();
        m_app->SetWindowHost(&m_host);
        m_sheet = ScriptedSheet();
        connect(&m_poll, &QTimer::timeout, &m_app->Poll(), &AnalyzerPoll::Poll,
                Qt::UniqueConnection);
    }
    void cleanup() {
        m_poll.stop();
        for (FoundAnalyzer r : m_app->Scanner().Found())
            if (m_app->Device(1)) {
                r.slot = 1;
                m_app->DisconnectAnalyzer(1, r);
            }
        m_host.channels.clear();
        m_app.reset();
        m_sim.reset();
        SetPrompter(nullptr);
    }

    // Unplugged during a test and back on another port: found there by its
    // serial number, the new device takes the slot and the documents, and
    // the test goes on to the analyzer's end. Every line that got out is
    // stored once, in the window and in the saved record. (The analyzer holds
    // its test from the unplug until the program has its port open again:
    // lines sent while nobody listens are lost, as on the real cable.)
    void runGoesOnAcrossAReplug() {
        const QString moved = m_dir->filePath(QStringLiteral("moved"));
        qputenv("RIVULETRIX_PORTS", moved.toLocal8Bit());
        Connect(BenchA(
            {"--sample-period", "100", "--accel", "5", "--profile",
             "1:flow,noise=0.5,rate=300,samples=600", "--do",
             QStringLiteral("after RUN; after 100 samples hold; unplug; after 500ms replug %1; "
                            "after LOG resume")
                 .arg(moved)}));
        m_sheet.setup = Flow(300, 0, 0, 0, false, false);
        m_prompter.SetDefaultAnswer(true); // save
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(m_app->Device(1)->IsLost(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(Doc().StoredCount() - 1, m_sim->SamplesSent(1), 5000);
        const int before = Doc().StoredCount() - 1;
        QVERIFY(before >= 95);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(moved), 5000);

        FoundAnalyzer record = m_app->Device(1)->Identity();
        record.portName = m_app->Scanner().Locate(record.serialNumber);
        QCOMPARE(record.portName, moved);
        QCOMPARE(m_app->ReconnectAnalyzer(1, record), 1);
        QVERIFY(!m_app->Device(1)->IsLost());
        QCOMPARE(m_app->Device(1)->ChannelDoc(0), &Doc());
        QCOMPARE(m_app->Device(1)->Setup[0].flow.setFlowRate, 300.0);
        QCOMPARE(m_app->ConnectedCount, 1);

        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.stopDetected, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Doc().StoredCount() - 1, m_sim->SamplesSent(1), 5000);
        const int samples = Doc().StoredCount() - 1;
        QVERIFY(samples > before + 20);
        EndAndWait();
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(Run().LastSavedPath()));
        QCOMPARE(saved.StoredCount() - 1, samples);
    }

    void flowStopsOnTheFirstSampleAboveTheVolume() {
        // 600 ml/h in 100 ms samples: 1.67 ml a second, 10 ml after 6 s of
        // analyzer time.
        Connect(BenchA(
            {"--sample-period", "100", "--accel", "10", "--profile", "1:flow,noise=0,rate=600"}));
        m_sheet.setup = Flow(600, 10, 0, 0, true, false);
        m_prompter.SetDefaultAnswer(true); // save; there is no print to ask about
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        const int last = Run().StopSlot();
        QVERIFY(Doc().VolumeAt(last) > 100000u);
        QVERIFY(Doc().VolumeAt(last - 1) <= 100000u);
        QCOMPARE(Run().LastStop(), RunController::StopReason::Volume);
        QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[END,1]\\r\\n")), 3000);
        const int samples = Doc().StoredCount();
        EndAndWait();

        // Saved, named, indexed, and the analyzer's copy deleted.
        const QString path = Run().LastSavedPath();
        QVERIFY(QFile::exists(path));
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_F")));
        QVERIFY(QFileInfo(path).fileName().endsWith(QStringLiteral(".p8d")));
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QCOMPARE(saved.StoredCount(), samples);
        QCOMPARE(saved.InstSerialNum, QStringLiteral("80000001"));
        QCOMPARE(saved.InstModel, QStringLiteral("PXR-8"));
        QVERIFY(!saved.TdSerialNum.isEmpty());
        QCOMPARE(saved.ControlNumber, QStringLiteral("O'Brien-7"));
        QCOMPARE(saved.RepHeader1, QStringLiteral("Clinical Engineering"));
        QCOMPARE(saved.TestType, 'F');
        QVERIFY(QFileInfo(path).fileName().endsWith(QLatin1Char('_') + saved.TdSerialNum +
                                                    QStringLiteral(".p8d")));
        EquipmentDetails details;
        QVERIFY(m_app->Records().FindEquipment(QStringLiteral("O'Brien-7"), details));
        QCOMPARE(details.operatorName, QStringLiteral("JS"));
        QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[DELREC,1]\\r\\n")), 3000);
        QCOMPARE(m_prompter.questions.size(), 1); // the save question only
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
        QCOMPARE(m_app->SetUpTests, 0);
        QVERIFY(!m_app->TestInProgress());
    }

    void timeStopAtSixtyMinutes() {
        Connect(BenchA(
            {"--sample-period", "7000", "--accel", "3600", "--profile", "1:flow,noise=0,rate=5"}));
        m_sheet.setup = Flow(5, 0, 1, 0, false, true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        const int last = Run().StopSlot();
        QVERIFY(Doc().ElapsedTicks(last) >= 3600000u);
        QVERIFY(Doc().ElapsedTicks(last - 1) < 3600000u);
        QCOMPARE(Run().LastStop(), RunController::StopReason::Time);
    }

    void bothConditionsNeedBoth() {
        // 180 ml/h: 12 ml at 4 minutes; the stop waits for 5 minutes.
        Connect(BenchA(
            {"--sample-period", "1000", "--accel", "120", "--profile", "1:flow,noise=0,rate=180"}));
        m_sheet.setup = Flow(180, 10, 0, 5, false, false, true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        const int last = Run().StopSlot();
        QVERIFY(Doc().ElapsedTicks(last) > 300000u);
        QVERIFY(Doc().ElapsedTicks(last - 1) <= 300000u);
        QVERIFY(Doc().VolumeAt(last - 1) > 100000u); // above the volume well before
    }

    void cancelBeforeAnyData() {
        // Priming never ends: the test is set up and started, but no data.
        Connect(BenchA({"--autostart-delay", "60000"}));
        ChannelSetup s = Flow(10, 0, 0, 0, false, false);
        s.flow.autoStart = 1;
        m_sheet.setup = s;
        SetupAndStart();
        QTRY_COMPARE_WITH_TIMEOUT(Run().ChannelStatus(), QStringLiteral("vFF"), 5000);
        m_prompter.QueueAnswer(false);
        Run().OnEndTest();
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY(m_prompter.questions[0].startsWith(
            QStringLiteral("The test on this channel has not started.")));
        QVERIFY(Doc().Run.startAllowed);
        QVERIFY(!Doc().Run.setUp);
        QVERIFY(!Doc().Run.ending);
        QCOMPARE(Run().CurrentState(), RunController::State::Running);

        m_prompter.QueueAnswer(true);
        EndAndWait();
        QCOMPARE(Run().LastStop(), RunController::StopReason::Cancelled);
        QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[END,1]\\r\\n")), 3000);
        QCOMPARE(m_prompter.questions.size(), 2); // no save question after a cancel
        QVERIFY(Run().LastSavedPath().isEmpty());
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
        QVERIFY(!m_app->TestInProgress());
    }

    // The wait for the primed channel always has a way out: End Test
    // cancels the setup on the analyzer; a silent analyzer is reported, a
    // PXR2K that shut down ends the wait itself.
    void waitForPrimedHasAWayOut_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("message"); // shown while waiting
        QTest::addColumn<bool>("endsItself");
        QTest::newRow("start command ignored")
            << "PXR-8"
            << "after 1 START status \"   \"" << QString() << false;
        QTest::newRow("silent analyzer") << "PXR-8"
                                         << "after 1 START silence on"
                                         << "Bench A does not answer." << false;
        QTest::newRow("PXR2K shut down before the start")
            << "PXR2K"
            << "after 1 START battery S"
            << "PXR-2K has shutdown. Please remove the device from Manage Connection window."
            << true;
    }
    void waitForPrimedHasAWayOut() {
        QFETCH(QString, model);
        QFETCH(QString, scenario);
        QFETCH(QString, message);
        QFETCH(bool, endsItself);
        Connect({"--model", model, "--name", "Bench A", "--serial", "80000001", "--channels", "1",
                 "--do", scenario});
        m_sheet.setup = Flow(10, 0, 0, 0, false, false);
        Run().SilentLimitMs = 1500;
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        Run().OnSetupTest();
        QCOMPARE(Run().CurrentState(), RunController::State::WaitingForPrimed);
        QVERIFY(m_app->TestInProgress());
        if (!message.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!m_prompter.messages.filter(message).isEmpty(), 10000);
        if (!endsItself) {
            QTest::qWait(500);
            QVERIFY(!Doc().Run.running);
            QVERIFY(Run().EndEnabled());
            m_prompter.QueueAnswer(true); // cancel: Yes
            Run().OnEndTest();
            QVERIFY(m_prompter.questions.value(0).startsWith(
                QStringLiteral("The test on this channel has not started.")));
        }
        QVERIFY(finished.count() > 0 || finished.wait(10000));
        QCOMPARE(m_prompter.messages.filter(message).size(), message.isEmpty() ? 0 : 1);
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
        QCOMPARE(Run().LastStop(), RunController::StopReason::Cancelled);
        QVERIFY(!m_app->TestInProgress());
        QVERIFY(!Doc().Run.testActive);
        QVERIFY(Run().CanClose());
        if (scenario.contains(QStringLiteral("status")))
            QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[END,1]\\r\\n")), 3000);
    }

    // Two channels stop in one order and are ended in the other: the
    // analyzer's newest record is the second channel's, so ending the first
    // deletes nothing, and ending the second deletes its own.
    void analyzersCopyOfAnotherChannelStays() {
        Connect({"--model", "PXR-8", "--name", "Bench A", "--serial", "80000001", "--channels",
                 "1,2", "--sample-period", "100", "--accel", "10", "--profile",
                 "1:flow,noise=0,rate=600", "--profile", "2:flow,noise=0,rate=600"});
        m_prompter.SetDefaultAnswer(true);
        m_sheet.setup = Flow(600, 1, 0, 0, true, false);
        SetupAndStart(1);
        QTRY_VERIFY_WITH_TIMEOUT(Doc(1).Run.autoStopped, 20000);
        m_sheet.setup = Flow(600, 1, 0, 0, true, false);
        SetupAndStart(2);
        QTRY_VERIFY_WITH_TIMEOUT(Doc(2).Run.autoStopped, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[END,2]\\r\\n")), 3000);
        EndAndWait(1);
        QVERIFY(QFile::exists(Run(1).LastSavedPath()));
        QTest::qWait(300);
        QVERIFY(Sent().filter(QStringLiteral("DELREC")).isEmpty());
        // The technician learns that the analyzer still holds it.
        QCOMPARE(m_prompter.messages
                     .filter(QStringLiteral("The analyzer still holds the record of the test on "
                                            "channel 1"))
                     .size(),
                 1);
        EndAndWait(2);
        QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(QStringLiteral("[DELREC,2]\\r\\n")), 3000);
        QCOMPARE(Sent().filter(QStringLiteral("DELREC")).size(), 1);
    }

    // The analyzer's newest record is deleted at the end only when its
    // header is this test's. An analyzer that restarted mid-test (its
    // stored records kept, the test gone) holds another day's test there,
    // never imported: it stays, and the technician is told.
    void newestRecordDeletedOnlyWhenItIsTheTests_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("delrec");
        QTest::newRow("the analyzer ends the test") << "end"
                                                    << "[DELREC,4]\\r\\n";
        QTest::newRow("the analyzer restarted") << "restart" << QString();
    }
    void newestRecordDeletedOnlyWhenItIsTheTests() {
        QFETCH(QString, fault);
        QFETCH(QString, delrec);
        Connect(
            BenchA({"--sample-period", "100", "--accel", "10", "--preset-records", "3", "--profile",
                    "1:flow,noise=0", "--do", "after RUN; after 20 samples " + fault}));
        m_prompter.SetDefaultAnswer(true);
        m_sheet.setup = Flow(60, 0, 0, 0, false, false);
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        SetupAndStart();
        if (delrec.isEmpty()) {
            // The idle channel is said at once, with the offer to end and
            // save: Yes ends the test without End Test.
            QVERIFY(finished.wait(20000));
            QCOMPARE(m_prompter.questions
                         .filter(QStringLiteral("no longer runs the test on "
                                                "channel 1"))
                         .size(),
                     1);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.stopDetected, 20000);
            QVERIFY(m_prompter.questions.filter(QStringLiteral("no longer runs")).isEmpty());
            EndAndWait();
        }
        const QString path = Run().LastSavedPath();
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QVERIFY(saved.StoredCount() - 1 >= 20);
        // RECS and the newest record read to check it, before any delete.
        QTRY_VERIFY_WITH_TIMEOUT(
            Sent().contains(QStringLiteral("[GETREC,00%1]\\r\\n").arg(delrec.isEmpty() ? 3 : 4)),
            5000);
        if (!delrec.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(Sent().contains(delrec), 5000);
            QCOMPARE(Sent().filter(QStringLiteral("DELREC")).size(), 1);
            return;
        }
        QVERIFY(Sent().filter(QStringLiteral("DELREC")).isEmpty());
        QCOMPARE(m_prompter.messages
                     .filter(QStringLiteral("is not the record of the test on "
                                            "channel 1"))
                     .size(),
                 1);
        int count = 0;
        QCOMPARE(m_app->Device(1)->GetRecordCount(count), 0);
        QCOMPARE(count, 3);
    }

    // A record saved but not taken by the records index: the technician is
    // told that the browser will miss it until a rebuild.
    void indexFailureIsReported() {
        Connect(BenchA(
            {"--sample-period", "100", "--accel", "10", "--profile", "1:flow,noise=0,rate=600"}));
        m_sheet.setup = Flow(600, 1, 0, 0, true, false);
        m_prompter.SetDefaultAnswer(true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        m_app->Records().Close();
        QFile db(m_dir->filePath(QStringLiteral("data/RX_Records.accdb")));
        QVERIFY(db.open(QIODevice::WriteOnly | QIODevice::Truncate));
        db.write(QByteArray(4096, 'x'));
        db.close();
        EndAndWait();
        QVERIFY(QFile::exists(Run().LastSavedPath()));
        const QStringList told =
            m_prompter.messages.filter(QStringLiteral("could not be entered in the records index"));
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QFileInfo(Run().LastSavedPath()).fileName()));
    }

    // The records index on a server that stops, or freezes (SIGSTOP: the
    // connection stays open and nothing answers), while the test runs: the
    // record is saved, the technician is told the index could not be
    // reached, the file is noted for later, and once the server answers
    // again the file has exactly one row.
    void indexServerLostIsReported_data() {
        QTest::addColumn<bool>("frozen");
        QTest::newRow("stopped") << false;
        QTest::newRow("frozen") << true;
    }
    void indexServerLostIsReported() {
        QFETCH(bool, frozen);
        if (!PgTestServer::Missing().isEmpty()) QSKIP(qPrintable(PgTestServer::Missing()));
        PgTestServer server;
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        auto thaw = qScopeGuard([&server] { server.Freeze(false); });
        QVERIFY(
            m_app->WriteSetting(settings::kSection, QStringLiteral("IndexServer"), server.Uri()));
        m_app->Records().Close();
        QVERIFY(m_app->Records().Open());
        Connect(BenchA(
            {"--sample-period", "100", "--accel", "10", "--profile", "1:flow,noise=0,rate=600"}));
        m_sheet.setup = Flow(600, 1, 0, 0, true, false);
        m_prompter.SetDefaultAnswer(true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        if (frozen)
            QVERIFY(server.Freeze(true));
        else
            server.Stop();
        EndAndWait();
        QVERIFY(QFile::exists(Run().LastSavedPath()));
        const QString name = QFileInfo(Run().LastSavedPath()).fileName();
        // The row is added on the indexer's thread: the outcome comes later.
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_prompter.messages.filter(QStringLiteral("the records index could not be reached"))
                 .isEmpty(),
            60000);
        const QStringList told =
            m_prompter.messages.filter(QStringLiteral("the records index could not be reached"));
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(name));
        QVERIFY(told[0].contains(QStringLiteral("will be added when it answers again")));
        QCOMPARE(m_app->Records().QueuedFiles(), QStringList{name});
        if (frozen)
            QVERIFY(server.Freeze(false));
        else
            QVERIFY2(server.Start(&error), qPrintable(error));
        thaw.dismiss();
        QVERIFY(m_app->Records().Open()); // as the next save or start-up does
        QCOMPARE(server.Value(QStringLiteral("SELECT count(*) FROM \"RivuletrixRecords\"")).toInt(),
                 1);
        QCOMPARE(server.Value(QStringLiteral("SELECT \"Filename\" FROM \"RivuletrixRecords\"")),
                 QVariant(name));
        QVERIFY(m_app->Records().QueuedFiles().isEmpty());
    }

    void occlusionDefaultTimeByModel_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<uint>("stopTime");
        QTest::newRow("PXR2K: 30 minutes") << "PXR2K" << 1800000u;
        QTest::newRow("PXR-8: 1 hour") << "PXR-8" << 3600000u;
    }
    void occlusionDefaultTimeByModel() {
        QFETCH(QString, model);
        QFETCH(uint, stopTime);
        Connect({"--model", model, "--name", "Bench", "--serial", "80000001"});
        ChannelSetup s;
        s.equipment.typeIndex = 2;
        s.equipment.controlNumber = QStringLiteral("C1");
        s.equipment.operatorName = QStringLiteral("JS");
        m_sheet.setup = s;
        Run().OnSetupTest();
        QCOMPARE(Doc().TestType, 'O');
        QVERIFY(Run().Stop.onTime);
        QCOMPARE(Run().Stop.time, stopTime);
        // An occlusion set-up counts as running as soon as the channel shows it.
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.running, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(Run().StartEnabled(), 5000);
        Run().OnStartTest();
        m_prompter.SetDefaultAnswer(false);
        EndAndWait();
        QVERIFY(!m_app->TestInProgress());
    }

    void pcaWithBoluses() {
        Connect(BenchA({"--sample-period", "500", "--accel", "60", "--profile",
                        "1:pca,noise=0,rate=2,bolus=0.5,bolus-rate=100,every=60,first=20"}));
        ChannelSetup s;
        s.equipment.typeIndex = 3;
        s.equipment.controlNumber = QStringLiteral("PCA-1");
        s.equipment.operatorName = QStringLiteral("JS");
        s.pca.basalRate = 2;
        s.pca.bolusVolume = 0.5;
        s.pca.stopOnTime = 1;
        s.pca.stopMinutes = 4;
        m_sheet.setup = s;
        m_prompter.SetDefaultAnswer(true);
        SetupAndStart();
        QVERIFY(!Doc().FlowOrOcclusion);
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        EndAndWait();
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(Run().LastSavedPath()));
        QCOMPARE(saved.TestType, 'P');
        QCOMPARE(saved.BolusCount(), 4); // at 20, 80, 140 and 200 s
        QCOMPARE(saved.SetBasalFlowRate, 2.0);
        QCOMPARE(saved.SetPcaVolume, 0.5);
    }

    void pxr2kShutdownSavesWithoutAsking() {
        Connect({"--model", "PXR2K", "--name", "Bench K", "--serial", "20000002", "--sample-period",
                 "200", "--accel", "10", "--profile", "1:flow,noise=0,rate=50", "--do",
                 "after 30 samples battery S; after 1s silence on"});
        m_sheet.setup = Flow(50, 0, 0, 0, false, false);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.analyzerShutDown, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(Run().CurrentState(), RunController::State::Idle, 15000);
        QCOMPARE(Run().LastStop(), RunController::StopReason::Shutdown);
        QVERIFY(m_prompter.questions.isEmpty());
        QVERIFY(m_prompter.messages.contains(QStringLiteral(
            "PXR-2K has shutdown. Please remove the device from Manage Connection window.")));
        QVERIFY(QFile::exists(Run().LastSavedPath()));
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(Run().LastSavedPath()));
        QVERIFY(saved.StoredCount() >= 30);
        // A shut-down analyzer answers nothing more: its identity is the
        // one read at setup, and the save did not wait for it.
        QCOMPARE(saved.InstSerialNum, QStringLiteral("20000002"));
        QCOMPARE(saved.InstModel, QStringLiteral("PXR2K"));
        QVERIFY(!saved.InstManuf.isEmpty());
        QVERIFY(!saved.TdSerialNum.isEmpty());
        QVERIFY(QFileInfo(Run().LastSavedPath())
                    .fileName()
                    .endsWith(QLatin1Char('_') + saved.TdSerialNum + QStringLiteral(".p8d")));
    }

    void templateRunWithRepeatAndSaveAndExit() {
        Connect(BenchA({"--sample-period", "500", "--accel", "60", "--profile", "1:noise=0"}));
        // Four steps; the run stops with "Save and Exit" after the third.
        Template t;
        t.name = QStringLiteral("Night Check");
        t.deviceComments = QStringLiteral("ward pumps");
        t.steps[0] = {TemplateStep::Flow, 0.5, TemplateStep::Ml, 300, 5, 0, 30};
        t.steps[1] = {TemplateStep::Occlusion, 600, TemplateStep::MmHg, 5, 0, 0, 1};
        t.steps[2] = {TemplateStep::Flow, 0.5, TemplateStep::Ml, 600, 5, 0, 30};
        t.steps[3] = {TemplateStep::Flow, 1, TemplateStep::Ml, 100, 5, 0, 30};
        t.stepCount = 4;
        AddTemplate(t, QStringLiteral("night.p8t"));

        m_sheet.setup = TemplateSetup(QStringLiteral("Night Check"), QStringLiteral("TPL-1"));
        QList<RunController::NextChoice> choices = {
            RunController::NextChoice::NextStep, RunController::NextChoice::RepeatStep,
            RunController::NextChoice::NextStep, RunController::NextChoice::SaveAndExit};
        QList<RunController::NextStepInfo> shown;
        Run().ChooseNextStep = [&](const RunController::NextStepInfo& info, bool& autoStart) {
            shown << info;
            autoStart = false;
            return choices.takeFirst();
        };
        m_prompter.SetDefaultAnswer(true);
        QSignalSpy finished(&Run(), &RunController::TestFinished);

        Run().OnSetupTest();
        QCOMPARE(Doc().TestType, 'F');
        QCOMPARE(Run().TemplateRun().steps, 4);
        for (int attempt = 0; attempt < 4; ++attempt) {
            QTRY_VERIFY_WITH_TIMEOUT(Run().StartEnabled(), 10000);
            Run().OnStartTest();
            QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
            Run().OnEndTest();
            if (attempt < 3)
                QTRY_VERIFY_WITH_TIMEOUT(Run().CurrentState() ==
                                                 RunController::State::WaitingForPrimed ||
                                             Run().CurrentState() == RunController::State::Armed,
                                         15000);
        }
        QVERIFY(finished.wait(15000));
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown[0].step, 2);
        QCOMPARE(shown[0].type, int(TemplateStep::Occlusion));
        QCOMPARE(shown[1].step, 3); // after the first occlusion attempt
        QCOMPARE(shown[3].step, 4);

        // The file holds the three steps kept, and its N line the steps run.
        const QString path = Run().LastSavedPath();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_TF")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("N3 Night Check\r\nH1,"));
        QCOMPARE(bytes.count("\r\nE1\r\n"), 1);
        QCOMPARE(bytes.count("\r\nE2\r\n"), 1);
        QVERIFY(bytes.endsWith("\r\nE3\r\n"));
        QCOMPARE(bytes.count("H12,Occlusion"), 1); // the repeated attempt was not kept
        CRivuletrixDoc step2;
        step2.StepToShow = 2;
        QVERIFY(step2.ReadRecordFile(path));
        QCOMPARE(step2.TestType, 'O');
        QCOMPARE(step2.TemplateSteps, 3);
        EquipmentDetails details;
        QVERIFY(m_app->Records().FindEquipment(QStringLiteral("TPL-1"), details));
        QVERIFY(!m_app->TestInProgress());
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
    }

    // The analyzer is unplugged or dies mid-test: the samples that arrived
    // stay in the window and the journal, End Test saves them, and the
    // journal goes with the save.
    void lostAnalyzerTestIsSaved_data() {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("unplugged") << QStringLiteral("after RUN; after 30 samples unplug");
        QTest::newRow("simulator gone") << QStringLiteral("after RUN; after 30 samples exit");
    }
    void lostAnalyzerTestIsSaved() {
        QFETCH(QString, scenario);
        Connect(BenchA({"--sample-period", "100", "--do", scenario}));
        m_sheet.setup = Flow(100, 0, 1, 0, false, true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(m_app->Device(1)->IsLost(), 30000);
        QCOMPARE(Run().CurrentState(), RunController::State::Running);
        // Every sample that arrived reaches the journal with its next write
        // (slot 0 is not journalled). Lines read just before the loss may
        // reach the window a little after it on a busy machine, so the
        // window's count is taken once the journal has caught up with it.
        journal::Recovered info;
        const auto journalled = [&] {
            const QStringList journals = journal::List(m_app->JournalFolder());
            CRivuletrixDoc doc;
            info = {};
            return journals.size() == 1 && journal::ReadJournal(journals[0], doc, info)
                       ? info.samples
                       : -1;
        };
        QTRY_COMPARE_WITH_TIMEOUT(journalled(), Doc().StoredCount() - 1, 15000);
        const int samples = Doc().StoredCount();
        QVERIFY2(samples > 20, qPrintable(QString::number(samples)));
        const uint32_t last = info.lastTime;
        QVERIFY(last > 0);

        m_prompter.QueueAnswer(true); // save
        EndAndWait();
        const QString path = Run().LastSavedPath();
        QVERIFY2(QFile::exists(path), qPrintable(m_prompter.messages.join('\n')));
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QCOMPARE(saved.StoredCount(), samples);
        QCOMPARE(saved.ElapsedTicks(samples), last);
        QVERIFY(!Doc().Modified);
        QVERIFY(journal::List(m_app->JournalFolder()).isEmpty());
    }

    // The analyzer runs a test on channel 2 that this program did not start
    // (the program ended during it): the window says so and takes none of
    // its lines; End Test asks, ends it on the analyzer (which keeps its
    // record; nothing is deleted) and the window is free for a test of its
    // own.
    void testLeftRunningOnTheAnalyzerIsShownAndEnded() {
        Connect({"--model", "PXR-8", "--name", "Bench A", "--channels", "1,2", "--accel", "20",
                 "--sample-period", "500", "--preset-records", "2", "--do", "run F at 60 on 2"});
        // Set up at once, before the window knows: the analyzer ignores the
        // start command, the setup is dropped and the technician told.
        m_sheet.setup = Flow(60, 0, 0, 0, false, false);
        Run(2).OnSetupTest();
        QCOMPARE(Run(2).CurrentState(), RunController::State::WaitingForPrimed);
        QTRY_COMPARE_WITH_TIMEOUT(Run(2).CurrentState(), RunController::State::OnAnalyzer, 10000);
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY2(m_prompter.messages[0].contains(QLatin1String("did not take the test set up")),
                 qPrintable(m_prompter.messages[0]));
        QVERIFY(!m_app->TestInProgress());
        QCOMPARE(Run(1).CurrentState(), RunController::State::Idle);
        QCOMPARE(Run(2).WindowTitle(),
                 QStringLiteral("Channel 2 Bench A - test running on the analyzer"));
        QVERIFY(Run(2).StatusNote().contains(QLatin1String("did not start")));
        QVERIFY(Run(2).EndEnabled());
        QVERIFY(!Run(2).SetupEnabled());
        const int sent = m_sim->SamplesSent(2);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->SamplesSent(2) > sent + 20, 10000);
        QVERIFY(Doc(2).StoredCount() <= 1);
        QVERIFY(!Doc(2).Modified);

        // No: the test runs on.
        m_prompter.QueueAnswer(false);
        Run(2).OnEndTest();
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY(m_prompter.questions[0].contains(QLatin1String("channel 2 of Bench A")));
        QCOMPARE(Run(2).CurrentState(), RunController::State::OnAnalyzer);
        QVERIFY(!Sent().contains(QStringLiteral("[END,2]\\r\\n")));

        m_prompter.QueueAnswer(true);
        Run(2).OnEndTest();
        QVERIFY(!Run(2).EndEnabled()); // sent; waiting for the analyzer
        QTRY_COMPARE_WITH_TIMEOUT(Run(2).CurrentState(), RunController::State::Idle, 10000);
        QCOMPARE(Sent().count(QStringLiteral("[END,2]\\r\\n")), 1);
        QCOMPARE(Run(2).WindowTitle(), QStringLiteral("Channel 2 Bench A"));
        QVERIFY(Run(2).StatusNote().isEmpty());
        QVERIFY(!Doc(2).Modified);
        int records = 0;
        QCOMPARE(m_app->Device(1)->GetRecordCount(records), 0);
        QCOMPARE(records, 3); // the test's own record, stored by the analyzer
        QVERIFY(!Sent().join(' ').contains(QLatin1String("DELREC")));
        QCOMPARE(m_prompter.messages.size(), 1);

        // A test of the window's own takes its lines again.
        m_sheet.setup = Flow(60, 0, 0, 0, false, false);
        SetupAndStart(2);
        QTRY_VERIFY_WITH_TIMEOUT(Doc(2).StoredCount() > 10, 10000);
        m_prompter.SetDefaultAnswer(false); // not saved
        EndAndWait(2);
        QCOMPARE(Run(2).CurrentState(), RunController::State::Idle);
    }

    // The journal cannot be written: the test goes on, the trouble is said
    // at once (title, status line, and one message however long it lasts),
    // and the saved record has every sample. A full disk that is freed
    // resumes the journal with no gap.
    void journalTroubleIsSaidAndTheTestGoesOn_data() {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("a file in the folder's place") << false;
        QTest::newRow("a full disk, then freed") << true;
    }
    void journalTroubleIsSaidAndTheTestGoesOn() {
        QFETCH(bool, fullDisk);
        std::unique_ptr<SmallTmpfs> fs;
        QString folder = m_dir->filePath(QStringLiteral("journals"));
        if (fullDisk) {
            fs = std::make_unique<SmallTmpfs>(64 * 1024);
            if (!fs->Usable()) QSKIP(qPrintable(fs->WhyNot()));
            folder = fs->Path() + QStringLiteral("/journals");
            QVERIFY(QDir().mkpath(folder));
            fs->Fill();
        } else {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        m_app->SetJournalFolder(folder);
        const auto journalMessages = [this] {
            return m_prompter.messages.filter(QStringLiteral("journal")).size();
        };
        Connect(BenchA({"--sample-period", "100", "--accel", "10"}));
        m_sheet.setup = Flow(100, 0, 1, 0, false, true);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(!Run().JournalProblem().isEmpty(), 10000);
        QVERIFY2(Run().JournalProblem().contains(fullDisk ? QStringLiteral("No space left")
                                                          : QStringLiteral("cannot be created")),
                 qPrintable(Run().JournalProblem()));
        QCOMPARE(Run().WindowTitle(), QStringLiteral("Channel 1 Bench A - journal not written"));
        QVERIFY(Run().StatusNote().startsWith(Run().JournalProblem()));
        QTRY_COMPARE_WITH_TIMEOUT(journalMessages(), 1, 5000);
        // The test goes on.
        const int before = Doc().StoredCount();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().StoredCount() > before + 20, 10000);
        QCOMPARE(Run().CurrentState(), RunController::State::Running);

        if (fullDisk) {
            fs->Free();
            QTRY_VERIFY_WITH_TIMEOUT(Run().JournalProblem().isEmpty(), 10000);
            QCOMPARE(Run().WindowTitle(), QStringLiteral("Channel 1 Bench A"));
            QVERIFY(Run().StatusNote().isEmpty());
            // Nothing missing: the samples from while it was full are in.
            const int stored = Doc().StoredCount();
            const QStringList journals = journal::List(folder);
            QCOMPARE(journals.size(), 1);
            journal::Recovered info;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    CRivuletrixDoc journalled;
                    return journal::ReadJournal(journals[0], journalled, info) &&
                           info.samples >= stored - 1;
                }(),
                10000);
            QCOMPARE(info.missingSamples, 0);
            QCOMPARE(info.damagedBytes, 0);
            // Full again: the title and the status line say it, no second
            // message. (The file's last page of the disk takes a few writes
            // first.)
            fs->Fill();
            QTRY_VERIFY_WITH_TIMEOUT(!Run().JournalProblem().isEmpty(), 30000);
            QVERIFY(!Run().StatusNote().isEmpty());
            fs->Free();
        }
        QCOMPARE(journalMessages(), 1);
        m_prompter.QueueAnswer(true);           // save
        const int stored = Doc().StoredCount(); // End Test takes no more
        EndAndWait();
        CRivuletrixDoc saved;
        QVERIFY2(saved.ReadRecordFile(Run().LastSavedPath()),
                 qPrintable(m_prompter.messages.join('\n')));
        QCOMPARE(saved.StoredCount(), stored);
        QCOMPARE(Run().WindowTitle(), QStringLiteral("Channel 1 Bench A"));
        QVERIFY(Run().StatusNote().isEmpty());
        QCOMPARE(journalMessages(), 1);
    }

    void failedSaveKeepsTheResults() {
        Connect(BenchA(
            {"--sample-period", "100", "--accel", "10", "--profile", "1:flow,noise=0,rate=600"}));
        m_sheet.setup = Flow(600, 2, 0, 0, true, false);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        QTest::qWait(500); // the last samples before the end
        // The data folder becomes a file: nothing can be written there.
        const QString data = m_dir->filePath(QStringLiteral("data"));
        QVERIFY(QDir(data).removeRecursively());
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        m_prompter.QueueAnswer(true); // save
        EndAndWait();
        const int samples = Doc().StoredCount();
        QVERIFY(m_prompter.messages.last().startsWith(
            QStringLiteral("The test results could not be saved")));
        QVERIFY(samples > 10); // still in memory
        QVERIFY(Doc().Modified);
        QVERIFY(
            !Sent().contains(QStringLiteral("[DELREC,1]\\r\\n"))); // the analyzer keeps its copy
        QVERIFY(QFile::remove(data));
        QVERIFY(QDir().mkpath(data));
        // A setup sheet opened and cancelled leaves them as they are.
        const int questions = m_prompter.questions.size();
        m_sheet.accept = false;
        Run().OnSetupTest();
        QCOMPARE(m_prompter.questions.size(), questions);
        QVERIFY(Doc().Modified);
        QCOMPARE(Doc().StoredCount(), samples);
        // Saved once the folder is back.
        m_prompter.QueueAnswer(true);
        QVERIFY(Run().CanClose());
        QVERIFY(QFile::exists(Run().LastSavedPath()));
    }

    // Each test's tolerance is its own: an overridden Flow tolerance is the
    // record's (its lines and key, and its row in the records index); a PCA
    // or Occlusion test has the default, whatever came before in the window.
    void toleranceIsTheTests_data() {
        QTest::addColumn<bool>("overriddenFlowFirst");
        QTest::addColumn<char>("type");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("flow overridden") << false << 'F' << 12;
        QTest::newRow("PCA after an overridden flow") << true << 'P' << 5;
        QTest::newRow("occlusion in a new window") << false << 'O' << 5;
    }
    void toleranceIsTheTests() {
        QFETCH(bool, overriddenFlowFirst);
        QFETCH(char, type);
        QFETCH(int, tolerance);
        Connect(
            BenchA({"--sample-period", "100", "--accel", "30", "--profile", "1:noise=0,rate=600"}));
        m_prompter.SetDefaultAnswer(true);
        ChannelSetup flow = Flow(600, 1, 0, 0, true, false);
        flow.flow.toleranceOverride = true;
        flow.flow.tolerance = 12;
        if (overriddenFlowFirst) {
            m_sheet.setup = flow;
            SetupAndStart();
            QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
            EndAndWait();
        }
        ChannelSetup s = flow;
        if (type == 'P') {
            s.equipment.typeIndex = 3;
            s.pca.basalRate = 600;
            s.pca.stopOnTime = 1;
            s.pca.stopMinutes = 1;
        } else if (type == 'O') {
            s.equipment.typeIndex = 2;
            s.occlusion.setFlowRate = 5;
            s.occlusion.stopOnTime = 1;
            s.occlusion.stopMinutes = 1;
        }
        m_sheet.setup = s;
        SetupAndStart();
        QCOMPARE(Doc().DefaultTolerance, tolerance);
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        EndAndWait();
        const QString name = QFileInfo(Run().LastSavedPath()).fileName();
        QVERIFY(!name.isEmpty());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "tolerance");
        db.setDatabaseName(m_dir->filePath(QStringLiteral("data/RX_Records.accdb")));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.prepare(
            QStringLiteral("SELECT Tolerance FROM RivuletrixRecords WHERE Filename = ?")));
        q.addBindValue(name);
        QVERIFY(q.exec());
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), tolerance);
        q.finish();
        q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("tolerance");
    }

    // A template step that cannot be written stays in the window, the
    // analyzer keeps its copy, and the run ends; saved later on closing.
    void failedStepSaveKeepsTheStep() {
        Connect(BenchA({"--sample-period", "500", "--accel", "60", "--profile", "1:noise=0"}));
        OfferTwoFlowSteps(QStringLiteral("Kept"), 0.5, 300, QStringLiteral("TPL-6"),
                          RunController::NextChoice::NextStep);
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        QTest::qWait(300);
        const QString data = m_dir->filePath(QStringLiteral("data"));
        QVERIFY(QDir(data).removeRecursively());
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Run().OnEndTest();
        QVERIFY(finished.count() > 0 || finished.wait(15000));
        QVERIFY(!m_prompter.messages.filter(QStringLiteral("is not a folder")).isEmpty());
        QVERIFY(!m_prompter.messages.filter(QStringLiteral("Template step 1 could not be saved."))
                     .isEmpty());
        QVERIFY(Doc().StoredCount() > 10);
        QVERIFY(Doc().Modified);
        QVERIFY(!Sent().contains(QStringLiteral("[DELREC,1]\\r\\n")));
        QVERIFY(!Run().TemplateRun().active);
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
        // Saved once the folder is back.
        QVERIFY(QFile::remove(data));
        QVERIFY(QDir().mkpath(data));
        m_prompter.QueueAnswer(true);
        QVERIFY(Run().CanClose());
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(Run().LastSavedPath()));
        QVERIFY(saved.StoredCount() > 10);
    }

    // A data folder that is not there (an unplugged drive, a share whose
    // mount point is left empty) stops the setup and is not quietly made on
    // the local disk.
    void missingDataFolderStopsTheSetup_data() {
        QTest::addColumn<bool>("mountPoint");
        QTest::newRow("folder removed") << false;
        QTest::newRow("network mount point, nothing mounted") << true;
    }
    void missingDataFolderStopsTheSetup() {
        QFETCH(bool, mountPoint);
        std::unique_ptr<SmallTmpfs> fs;
        QString data = m_dir->filePath(QStringLiteral("data"));
        if (mountPoint) {
            fs = std::make_unique<SmallTmpfs>(256 * 1024);
            if (!fs->Usable()) QSKIP(qPrintable(fs->WhyNot()));
            data = fs->Path();
            for (const auto& [key, value] :
                 {std::pair{"PathType", QStringLiteral("1")}, std::pair{"NetworkPath", data},
                  std::pair{"NetworkPathDrive", data}})
                QVERIFY(m_app->WriteSetting(settings::kSection, QLatin1String(key), value));
        }
        Connect(BenchA());
        if (mountPoint)
            fs->Unmount();
        else
            QVERIFY(QDir(data).removeRecursively());
        m_sheet.setup = Flow(600, 1, 0, 0, true, false);
        Run().OnSetupTest();
        QCOMPARE(m_prompter.messages.value(0),
                 QStringLiteral("Please provide a valid path in the Control Menu\\Rivuletrix "
                                "parameters box."));
        QCOMPARE(QFileInfo::exists(data), mountPoint);
        QVERIFY(QDir(data).isEmpty());
        QCOMPARE(Run().CurrentState(), RunController::State::Idle);
        QVERIFY(!Doc().Run.setUp);
    }

    // Each template step's header is its own: a Flow step after a PCA step
    // has no basal rate.
    void templateStepHeaderIsItsOwn() {
        Connect(BenchA({"--sample-period", "500", "--accel", "60", "--profile", "1:noise=0"}));
        Template t;
        t.name = QStringLiteral("Mixed");
        t.steps[0] = {TemplateStep::Pca, 0.2, TemplateStep::Ml, 300, 5, 0, 30};
        t.steps[1] = {TemplateStep::Bolus, 0.5, TemplateStep::Ml, 0, 0, 0, 0};
        t.steps[2] = {TemplateStep::Flow, 0.2, TemplateStep::Ml, 300, 8, 0, 30};
        t.steps[3] = {TemplateStep::Occlusion, 600, TemplateStep::MmHg, 5, 0, 0, 1};
        t.stepCount = 4;
        AddTemplate(t, QStringLiteral("mixed.p8t"));
        m_sheet.setup = TemplateSetup(t.name, QStringLiteral("TPL-2"));
        m_prompter.SetDefaultAnswer(true);
        QList<RunController::NextStepInfo> shown;
        Run().ChooseNextStep = [&](const RunController::NextStepInfo& info, bool&) {
            shown << info;
            return info.nextEnabled ? RunController::NextChoice::NextStep
                                    : RunController::NextChoice::SaveAndExit;
        };
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        Run().OnSetupTest();
        for (int step = 0; step < 3; ++step) {
            QTRY_VERIFY_WITH_TIMEOUT(Run().StartEnabled(), 10000);
            Run().OnStartTest();
            QCOMPARE(Doc().DefaultTolerance, step == 0 ? 5 : step == 1 ? 8 : 0);
            QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
            Run().OnEndTest();
            if (step < 2)
                QTRY_VERIFY_WITH_TIMEOUT(Run().CurrentState() ==
                                                 RunController::State::WaitingForPrimed ||
                                             Run().CurrentState() == RunController::State::Armed,
                                         15000);
        }
        QVERIFY(finished.count() > 0 || finished.wait(15000));
        CRivuletrixDoc first, second;
        QVERIFY(first.ReadRecordFile(Run().LastSavedPath()));
        second.StepToShow = 2;
        QVERIFY(second.ReadRecordFile(Run().LastSavedPath()));
        QCOMPARE(first.TestType, 'P');
        QCOMPARE(first.SetBasalFlowRate, 300.0);
        QCOMPARE(first.SetPcaVolume, 0.5); // the bolus row's volume
        QCOMPARE(second.TestType, 'F');
        QCOMPARE(second.SetBasalFlowRate, 0.0);
        QCOMPARE(second.SetPcaVolume, 0.0);
        // The next-step dialog numbers and names the steps as the template
        // has them (the bolus row is not a step); after the last, the step
        // that ended.
        QCOMPARE(shown.size(), 3);
        const std::pair<int, int> expected[] = {
            {2, TemplateStep::Flow}, {3, TemplateStep::Occlusion}, {3, TemplateStep::Occlusion}};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(shown[i].step, expected[i].first);
            QCOMPARE(shown[i].type, expected[i].second);
            QCOMPARE(shown[i].nextEnabled, i < 2);
        }
        // An occlusion step has no volume of its own to show.
        CRivuletrixDoc third;
        third.StepToShow = 3;
        QVERIFY(third.ReadRecordFile(Run().LastSavedPath()));
        QCOMPARE(third.TestType, 'O');
        QCOMPARE(third.SetVolume, 0.0);
    }

    // Two templates of one name: the run takes the file of the row ticked.
    void templateRunTakesTheTickedFile() {
        Connect(BenchA());
        Template flow, occlusion;
        flow.name = occlusion.name = QStringLiteral("Same");
        flow.steps[0] = {TemplateStep::Flow, 1, TemplateStep::Ml, 100, 5, 0, 30};
        occlusion.steps[0] = {TemplateStep::Occlusion, 600, TemplateStep::MmHg, 5, 0, 0, 5};
        flow.stepCount = occlusion.stepCount = 1;
        AddTemplate(flow, QStringLiteral("a.p8t"));
        AddTemplate(occlusion, QStringLiteral("b.p8t"));
        m_sheet.setup = TemplateSetup(QStringLiteral("Same"), QStringLiteral("TPL-3"));
        m_sheet.setup.templateFileName = QStringLiteral("b.p8t");
        Run().OnSetupTest();
        QCOMPARE(Doc().TestType, 'O');
        QVERIFY(Run().TemplateRun().active);
    }

    // "Save and Exit" whose record file has gone meanwhile: the error, and
    // no new file made in its place.
    void saveAndExitWithoutItsFile() {
        Connect(BenchA({"--sample-period", "500", "--accel", "60", "--profile", "1:noise=0"}));
        OfferTwoFlowSteps(QStringLiteral("Gone"), 0.2, 300, QStringLiteral("TPL-4"),
                          RunController::NextChoice::SaveAndExit);
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 20000);
        Run().OnEndTest();
        const QString path = Run().LastSavedPath();
        QVERIFY(QFile::remove(path)); // during the end wait
        QVERIFY(finished.count() > 0 || finished.wait(15000));
        QVERIFY(m_prompter.messages.contains(QStringLiteral("Error in Open Template File")));
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(!Run().TemplateRun().active);
        QVERIFY(!Doc().Run.templatePending);
    }

    // End Test before any data, "Save and Exit", then Yes to the cancel
    // question: the record of the steps kept is still closed and indexed.
    void saveAndExitThenCancelClosesTheRecord() {
        Connect(BenchA({"--sample-period", "60000", "--profile", "1:noise=0"}));
        OfferTwoFlowSteps(QStringLiteral("Short"), 5, 100, QStringLiteral("TPL-5"),
                          RunController::NextChoice::SaveAndExit);
        m_prompter.SetDefaultAnswer(true); // cancel: Yes
        QSignalSpy finished(&Run(), &RunController::TestFinished);
        SetupAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Run().EndEnabled(), 5000);
        // No to the cancel question leaves the step running, End Test on.
        m_prompter.QueueAnswer(false);
        Run().OnEndTest(); // no sample has come yet
        QVERIFY(
            m_prompter.questions.value(0).startsWith(QStringLiteral("The test on this channel")));
        QCOMPARE(Run().CurrentState(), RunController::State::Running);
        QVERIFY(Run().EndEnabled());
        QVERIFY(Run().TemplateRun().active);
        QVERIFY(!Sent().contains(QStringLiteral("[END,1]\\r\\n")));
        Run().OnEndTest();
        QVERIFY(finished.count() > 0 || finished.wait(15000));
        QCOMPARE(m_prompter.questions.filter(QStringLiteral("The test on this channel")).size(), 2);
        QFile f(Run().LastSavedPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().startsWith("N1 Short\r\n"));
        EquipmentDetails details;
        QVERIFY(m_app->Records().FindEquipment(QStringLiteral("TPL-5"), details));
        QVERIFY(!Run().TemplateRun().active);
    }
};

RX_LINK_TEST_MAIN(TestRunController)
#include "test_run_controller.moc"
