// rivuletrix-cli run against the simulator: a whole test from a script.
#include "../link/SimProcess.h"
#include "../store/PgTestServer.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestCliRun : public QObject {
    Q_OBJECT

    struct Result {
        int code = -1;
        QJsonObject json;
        QJsonArray array; // several channels
        QByteArray err;
    };
    Result Run(const QStringList& args, const QString& workingDir = {}) {
        QProcess p;
        p.setWorkingDirectory(workingDir.isEmpty() ? m_dir.path() : workingDir);
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
        Result r;
        if (!p.waitForFinished(120000)) return r;
        r.code = p.exitCode();
        const QJsonDocument out = QJsonDocument::fromJson(p.readAllStandardOutput());
        r.json = out.object();
        r.array = out.array();
        r.err = p.readAllStandardError();
        return r;
    }
    static int Starts(const SimProcess& sim) {
        return int(sim.Received().filter(QRegularExpression(QStringLiteral("^\\[C\\d"))).size());
    }
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }

    void flowStopsOnVolumeAndSaves() {
        SimProcess sim(QStringLiteral("a"),
                       {"--model", "PXR-8", "--serial", "81112222", "--sample-period", "100",
                        "--accel", "20", "--prime-delay", "300", "--profile", "2:noise=0"});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("data"));
        const Result r = Run({"run", sim.Link(), "--channel", "2", "--type", "flow", "--rate",
                              "300", "--stop-volume", "2", "--control", "PUMP-9", "--operator",
                              "AB", "--data-folder", data});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.json.value("type").toString(), QStringLiteral("F"));
        QCOMPARE(r.json.value("stop").toString(), QStringLiteral("volume"));
        const QString path = r.json.value("path").toString();
        QVERIFY(path.startsWith(data + QStringLiteral("/RXr_F")));
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QCOMPARE(saved.ControlNumber, QStringLiteral("PUMP-9"));
        QCOMPARE(saved.ChannelNo, 1);
        QCOMPARE(r.json.value("samples").toInt(), saved.StoredCount() - 1);
        QVERIFY(saved.VolumeAt(saved.StoredCount()) > 20000u); // stopped above 2 ml
    }

    // The channel runs a test this program did not start (a program that
    // ended left it running): run says so and fails at once, and leaves the
    // analyzer's test alone.
    void channelRunningATestNotOurs() {
        SimProcess sim(QStringLiteral("n"), {"--model", "PXR-8", "--name", "Bench N", "--serial",
                                             "81114444", "--sample-period", "100", "--accel", "20",
                                             "--prime-delay", "300", "--do", "run F at 60 on 2"});
        QVERIFY(sim.Ok());
        const Result r =
            Run({"run", sim.Link(), "--channel", "2", "--type", "flow", "--rate", "300",
                 "--stop-volume", "2", "--data-folder", m_dir.filePath(QStringLiteral("dn"))});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("Bench N did not take the test set up on channel 2"),
                 r.err.constData());
        QVERIFY2(!r.err.contains("not saved"), r.err.constData());
        QCOMPARE(Starts(sim), 1);
        QVERIFY(!sim.Received().join(' ').contains(QLatin1String("[END")));
    }

    // Two analyzers in one run, every channel each has: one record per
    // channel, each of its own analyzer and channel.
    void severalAnalyzersAndChannels() {
        SimProcess a(QStringLiteral("m8"),
                     {"--model", "PXR-8", "--serial", "81113333", "--channels", "1,3",
                      "--sample-period", "100", "--accel", "20", "--prime-delay", "300"});
        SimProcess k(QStringLiteral("m2"),
                     {"--model", "PXR2K", "--serial", "21113333", "--sample-period", "100",
                      "--accel", "20", "--prime-delay", "300"});
        QVERIFY(a.Ok() && k.Ok());
        const QString data = m_dir.filePath(QStringLiteral("multi"));
        const Result r =
            Run({"run", a.Link(), k.Link(), "--channel", "all", "--type", "flow", "--rate", "300",
                 "--stop-volume", "0.5", "--control", "MULTI", "--data-folder", data});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.array.size(), 3);
        const QList<std::pair<QString, int>> expected = {
            {a.Link(), 1}, {a.Link(), 3}, {k.Link(), 1}};
        QSet<QString> paths;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject o = r.array[i].toObject();
            QCOMPARE(o.value("port").toString(), expected[i].first);
            QCOMPARE(o.value("channel").toInt(), expected[i].second);
            QCOMPARE(o.value("stop").toString(), QStringLiteral("volume"));
            CRivuletrixDoc saved;
            QVERIFY(saved.ReadRecordFile(o.value("path").toString()));
            QCOMPARE(saved.ChannelNo + 1, expected[i].second);
            QCOMPARE(saved.InstSerialNum, expected[i].first == a.Link()
                                              ? QStringLiteral("81113333")
                                              : QStringLiteral("21113333"));
            QCOMPARE(o.value("samples").toInt(), saved.StoredCount() - 1);
            paths << o.value("path").toString();
        }
        QCOMPARE(paths.size(), 3);
        // Each PXR-8 channel's copy on the analyzer was either deleted or,
        // when the other channel ended after it, kept and said to be kept.
        const int deleted = int(a.Received().filter(QStringLiteral("[DELREC")).size());
        const int keptSaid = int(r.err.count("The analyzer still holds the record of the test"));
        QVERIFY2(deleted + keptSaid == 2, r.err.constData());
    }

    // The index server freezes (SIGSTOP: connections stay open, nothing
    // answers) while two channels run: both tests end and are saved, each
    // record is noted for later and said on standard error, the run ends
    // within the limits; once the server answers each file has one row.
    void frozenIndexServer_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("waits for the limit") << false;
        QTest::newRow("killed while its row is with the worker") << true;
    }
    void frozenIndexServer() {
        QFETCH(bool, killed);
        if (!PgTestServer::Missing().isEmpty()) QSKIP(qPrintable(PgTestServer::Missing()));
        PgTestServer server;
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        auto thaw = qScopeGuard([&server] { server.Freeze(false); });
        QTemporaryDir work;
        const QString data = work.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(work.filePath(QStringLiteral("settings"))));
        const auto write = [](const QString& path, const QString& text) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) > 0;
        };
        QVERIFY(write(work.filePath(QStringLiteral("RivuletrixIniFilePath.ini")),
                      QStringLiteral("[INIFilePath]\r\nINIFilePathWin7=%1\r\n")
                          .arg(work.filePath(QStringLiteral("settings")))));
        QVERIFY(write(work.filePath(QStringLiteral("settings/RivuletrixApp.ini")),
                      QStringLiteral("[Default Parameters]\r\nPathType=2\r\nCustomPath=%1\r\n"
                                     "IndexServer=%2\r\n")
                          .arg(data, server.Uri())));
        SimProcess sim(QStringLiteral("frozen"),
                       {"--model", "PXR-8", "--serial", "81114444", "--channels", "1,3",
                        "--sample-period", "100", "--accel", "10", "--prime-delay", "300"});
        QVERIFY(sim.Ok());
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                {"run", sim.Link(), "--channel", "all", "--type", "flow", "--rate", "300",
                 "--stop-volume", "1", "--control", "FROZEN", "--data-folder", data});
        QVERIFY(p.waitForStarted());
        // Frozen once the run has its index open.
        QTRY_VERIFY_WITH_TIMEOUT(
            server.Value(QStringLiteral("SELECT to_regclass('\"RivuletrixRecords\"') IS NOT NULL"))
                    .toBool() ||
                p.state() == QProcess::NotRunning,
            60000);
        QVERIFY(server.Freeze(true));
        if (killed) {
            // Killed as soon as a record is saved: its row cannot have
            // reached the frozen server, yet the file must not be lost to the
            // index. The other channel's test is left to its journal.
            const auto saved = [&data] {
                return QDir(data).entryList({QStringLiteral("*.p8d")}, QDir::Files);
            };
            QTRY_VERIFY_WITH_TIMEOUT(!saved().isEmpty() || p.state() == QProcess::NotRunning,
                                     120000);
            p.kill();
            QVERIFY(p.waitForFinished(60000));
            QVERIFY(server.Freeze(false));
            thaw.dismiss();
            QProcess recover;
            recover.setWorkingDirectory(work.path());
            recover.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                          {"recover", "--data-folder", data});
            QVERIFY(recover.waitForFinished(120000));
            AppSettings settings(work.path());
            RecordIndex index(settings);
            index.SetDataFolder(data);
            index.SetStartupFinished(true);
            QVERIFY2(index.Open(), qPrintable(index.LastError()));
            const QStringList files = saved();
            QVERIFY(!files.isEmpty());
            for (const QString& f : files)
                QVERIFY2(server.Value(QStringLiteral("SELECT count(*) FROM \"RivuletrixRecords\" "
                                                     "WHERE \"Filename\" = '%1'")
                                          .arg(f))
                                 .toInt() == 1,
                         qPrintable(f));
            return;
        }
        QVERIFY(p.waitForFinished(180000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(p.exitCode() == 0, err.constData());
        const QJsonArray results = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
        QCOMPARE(results.size(), 2);
        QStringList files;
        for (const QJsonValue& v : results) {
            const QString path = v.toObject().value("path").toString();
            QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
            files << QFileInfo(path).fileName();
            QVERIFY2(err.contains(files.last().toUtf8() + " was saved, but the records index "
                                                          "could not be reached"),
                     err.constData());
        }
        QFile noted(data + QStringLiteral("/RX_Records.unindexed"));
        QVERIFY(noted.open(QIODevice::ReadOnly));
        const QByteArray list = noted.readAll();
        for (const QString& f : files) QVERIFY2(list.contains(f.toUtf8()), list.constData());
        QVERIFY(server.Freeze(false));
        thaw.dismiss();
        // The next program to open the index adds the noted rows.
        AppSettings settings(work.path());
        RecordIndex index(settings);
        index.SetDataFolder(data);
        index.SetStartupFinished(true);
        QVERIFY2(index.Open(), qPrintable(index.LastError()));
        for (const QString& f : files)
            QCOMPARE(server
                         .Value(QStringLiteral("SELECT count(*) FROM \"RivuletrixRecords\" "
                                               "WHERE \"Filename\" = '%1'")
                                    .arg(f))
                         .toInt(),
                     1);
        QVERIFY(!QFile::exists(data + QStringLiteral("/RX_Records.unindexed")));
    }

    // A transducer serial number with path characters: the record is saved in
    // the data folder under a plain name, and its header keeps the number as
    // the analyzer sent it.
    void serialNumberNeverLeavesTheDataFolder() {
        SimProcess sim(QStringLiteral("slash"),
                       {"--model", "PXR-8", "--serial", "a/../../x", "--sample-period", "100",
                        "--accel", "20", "--prime-delay", "300", "--profile", "2:noise=0"});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("nested/data"));
        const Result r = Run({"run", sim.Link(), "--channel", "2", "--type", "flow", "--rate",
                              "300", "--stop-volume", "0.5", "--data-folder", data});
        QCOMPARE(r.code, 0);
        const QFileInfo saved(r.json.value("path").toString());
        QCOMPARE(saved.absolutePath(), QDir(data).absolutePath());
        QVERIFY2(saved.fileName().endsWith(QLatin1String("_T2_.._.._x.p8d")),
                 qPrintable(saved.fileName()));
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(saved.filePath()));
        QCOMPARE(doc.TdSerialNum, QStringLiteral("T2/../../x"));
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("nested"))).entryList(QDir::Files),
                 QStringList());
    }

    void notSavedWhenTold() {
        SimProcess sim(QStringLiteral("b"),
                       {"--model", "PXR2K", "--serial", "21112222", "--sample-period", "1000",
                        "--accel", "600", "--prime-delay", "300"});
        QVERIFY(sim.Ok());
        const Result r =
            Run({"run", sim.Link(), "--type", "occlusion", "--rate", "5", "--stop-time", "00:05",
                 "--save", "no", "--data-folder", m_dir.filePath(QStringLiteral("d2"))});
        QCOMPARE(r.code, 0);
        QVERIFY(r.json.value("path").isNull());
        QCOMPARE(r.json.value("type").toString(), QStringLiteral("O"));
        QCOMPARE(r.json.value("stop").toString(), QStringLiteral("time"));
    }

    // A template from a script: written, indexed, then run through all its
    // steps; one record file holds every section.
    void templateRunsEveryStep() {
        SimProcess sim(QStringLiteral("c"),
                       {"--model", "PXR-8", "--serial", "83334444", "--sample-period", "500",
                        "--accel", "60", "--prime-delay", "300", "--profile", "1:noise=0"});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("d3"));
        QVERIFY(QDir().mkpath(data));
        QProcess write;
        write.setWorkingDirectory(m_dir.path());
        write.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                    {"template", "write", data + QStringLiteral("/RXt_Ward.p8t")});
        QVERIFY(write.waitForStarted());
        // A Flow step after another step: each step records its own samples.
        write.write(R"({"Name": "Ward", "StepCount": 3, "Steps": [
            {"Type": 1, "Volume": 0.5, "Unit": 5, "Rate": 300, "Tolerance": 5, "Hours": 0, "Minutes": 30},
            {"Type": 2, "Volume": 600, "Unit": 2, "Rate": 5, "Tolerance": 0, "Hours": 0, "Minutes": 1},
            {"Type": 1, "Volume": 0.5, "Unit": 5, "Rate": 300, "Tolerance": 5, "Hours": 0, "Minutes": 30}]})");
        write.closeWriteChannel();
        QVERIFY(write.waitForFinished(10000));
        QCOMPARE(write.exitCode(), 0);
        QCOMPARE(Run({"index", "rebuild", "--templates", "--data-folder", data}).code, 0);

        const Result r = Run({"run", sim.Link(), "--type", "template", "--template", "Ward",
                              "--control", "TPL-7", "--data-folder", data});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.json.value("type").toString(), QStringLiteral("T"));
        const QString path = r.json.value("path").toString();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_TF")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("N3 Ward\r\nH1,"));
        QCOMPARE(bytes.count("H12,Occlusion"), 1);
        QVERIFY(bytes.endsWith("\r\nE3\r\n"));
        int samples = 0;
        for (int step = 1; step <= 3; ++step) {
            CRivuletrixDoc section;
            section.StepToShow = step;
            QVERIFY(section.ReadRecordFile(path));
            // Every step ran to its own stop: 0.5 ml is 6 s at 300 ml/h.
            QVERIFY2(section.StoredCount() > 8, qPrintable(QString::number(step)));
            samples += section.StoredCount() - 1;
        }
        QCOMPARE(r.json.value("samples").toInt(), samples);
        QCOMPARE(r.json.value("stop").toString(), QStringLiteral("volume"));
    }

    // The setup sheet's checks hold for scripts too: a failed one is an
    // error with the sheet's message, and nothing is set up.
    void sheetChecksAreErrors_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("rate out of range")
            << "PXR-8" << QStringList{"--type", "flow", "--rate", "2500", "--stop-volume", "1"}
            << "Enter a number between 0 and 2000.";
        QTest::newRow("occlusion over an hour")
            << "PXR-8" << QStringList{"--type", "occlusion", "--rate", "5", "--stop-time", "01:30"}
            << "Maximum allowed time for Occlusion test is 1 hour, Please reset the test timings.";
        QTest::newRow("unknown template")
            << "PXR-8" << QStringList{"--type", "template", "--template", "Nowhere"}
            << "File Not Found";
        QTest::newRow("PCA on a PXR2K") << "PXR2K" << QStringList{"--type", "pca", "--rate", "2"}
                                        << "runs Flow and Occlusion tests only";
        QTest::newRow("template on a PXR2K")
            << "PXR2K" << QStringList{"--type", "template", "--template", "Ward"}
            << "runs Flow and Occlusion tests only";
        // The sheet's edits take 20 characters (comments 30): a longer text
        // is refused, never cut or saved.
        QTest::newRow("manufacturer of 118")
            << "PXR-8" << QStringList{"--type",         "flow",
                                      "--rate",         "5",
                                      "--stop-volume",  "1",
                                      "--manufacturer", QString(116, QLatin1Char('m')) + "E1"}
            << "--manufacturer takes at most 20 characters (118 given)";
        QTest::newRow("control number of 37")
            << "PXR-8"
            << QStringList{"--type", "flow", "--rate", "5", "--control", QString(37, 'c')}
            << "--control takes at most 20 characters (37 given)";
        QTest::newRow("comments of 31")
            << "PXR-8"
            << QStringList{"--type", "flow", "--rate", "5", "--comments", QString(31, 'k')}
            << "--comments takes at most 30 characters (31 given)";
    }
    void sheetChecksAreErrors() {
        QFETCH(QString, model);
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        SimProcess sim(QStringLiteral("e"), {"--model", model, "--serial", "84445555"});
        QVERIFY(sim.Ok());
        const Result r = Run(
            QStringList{"run", sim.Link(), "--data-folder", m_dir.filePath(QStringLiteral("d4"))} +
            args);
        QCOMPARE(r.code, 1);
        QVERIFY(r.json.isEmpty());
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        // No test was set up on the analyzer.
        QVERIFY(sim.Received().filter(QRegularExpression(QStringLiteral("^\\[C\\d"))).isEmpty());
    }

    // Told to save, a record that cannot be written is an error with its
    // reason, not a result without a path.
    void failedSaveIsAnError() {
        SimProcess sim(QStringLiteral("f"),
                       {"--model", "PXR-8", "--serial", "85556666", "--sample-period", "100",
                        "--accel", "4", "--prime-delay", "300", "--profile", "1:noise=0"});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("d5"));
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                {"run", sim.Link(), "--type", "flow", "--rate", "300", "--stop-volume", "1",
                 "--data-folder", data});
        // Once the test runs, the data folder becomes a file.
        QTRY_VERIFY_WITH_TIMEOUT(Starts(sim) >= 2, 20000);
        QVERIFY(QDir(data).removeRecursively());
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY2(err.contains("could not be saved"), err.constData());
        QVERIFY2(err.contains("the test results were not saved"), err.constData());
        QVERIFY(!sim.Received().contains(QStringLiteral("[DELREC,1]\\r\\n")));
    }

    // Ctrl+C or SIGTERM during a test, or while the next template step
    // waits for its channel: the test ends on the analyzer and the program
    // exits with the signal's status.
    void interruptEndsTheTest_data() {
        QTest::addColumn<int>("sig");
        QTest::addColumn<bool>("templateRun");
        QTest::newRow("SIGINT during a test") << int(SIGINT) << false;
        QTest::newRow("SIGTERM while the next step waits") << int(SIGTERM) << true;
    }
    void interruptEndsTheTest() {
        QFETCH(int, sig);
        QFETCH(bool, templateRun);
        // The third start command (the second step's setup) is never primed.
        SimProcess sim(QStringLiteral("g"),
                       {"--model", "PXR-8", "--serial", "86667777", "--sample-period", "500",
                        "--accel", "60", "--prime-delay", "300", "--profile", "1:noise=0", "--do",
                        "after 3 START status \"   \""});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("d6"));
        QVERIFY(QDir().mkpath(data));
        QStringList args = {"run", sim.Link(), "--data-folder", data};
        if (templateRun) {
            QProcess write;
            write.setWorkingDirectory(m_dir.path());
            write.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                        {"template", "write", data + QStringLiteral("/RXt_Two.p8t")});
            QVERIFY(write.waitForStarted());
            write.write(R"({"Name": "Two", "StepCount": 2, "Steps": [
            {"Type": 1, "Volume": 0.2, "Unit": 5, "Rate": 300, "Tolerance": 5, "Hours": 0, "Minutes": 30},
            {"Type": 1, "Volume": 0.2, "Unit": 5, "Rate": 300, "Tolerance": 5, "Hours": 0, "Minutes": 30}]})");
            write.closeWriteChannel();
            QVERIFY(write.waitForFinished(10000));
            QCOMPARE(Run({"index", "rebuild", "--templates", "--data-folder", data}).code, 0);
            args << QStringList{"--type", "template", "--template", "Two"};
        } else {
            args << QStringList{"--type", "flow", "--rate", "10"};
        }
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
        QTRY_VERIFY_WITH_TIMEOUT(Starts(sim) >= (templateRun ? 3 : 2), 30000);
        QTest::qWait(500);
        const int ends = int(sim.Received().filter(QStringLiteral("[END,1]")).size());
        ::kill(pid_t(p.processId()), sig);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 128 + sig);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains("interrupted by"), err.constData());
        QTRY_VERIFY_WITH_TIMEOUT(sim.Received().filter(QStringLiteral("[END,1]")).size() > ends,
                                 5000);
    }

    // At the end of a test the analyzer's newest record goes only when it
    // is this test's. An analyzer that restarted mid-test holds no record of
    // it: its newest (another day's, never imported) stays, and that is said.
    void newestRecordDeletedOnlyWhenItIsTheTests_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("the analyzer ends the test") << "end" << true;
        QTest::newRow("the analyzer restarted") << "restart" << false;
    }
    void newestRecordDeletedOnlyWhenItIsTheTests() {
        QFETCH(QString, fault);
        QFETCH(bool, deleted);
        SimProcess sim(QStringLiteral("n"),
                       {"--model", "PXR-8", "--serial", "88889999", "--sample-period", "100",
                        "--accel", "4", "--prime-delay", "300", "--preset-records", "4",
                        "--profile", "1:noise=0", "--do", "after RUN; after 20 samples " + fault});
        QVERIFY(sim.Ok());
        const QString data = m_dir.filePath(QStringLiteral("dn_") + fault);
        const Result r = Run({"run", sim.Link(), "--type", "flow", "--rate", "10", "--control",
                              "NEW-7", "--data-folder", data});
        QCOMPARE(r.code, 0);
        const QString path = r.json.value("path").toString();
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QCOMPARE(saved.ControlNumber, QStringLiteral("NEW-7"));
        QVERIFY(saved.StoredCount() - 1 >= 20);
        const QStringList delrec = sim.Received().filter(QStringLiteral("[DELREC"));
        if (deleted) {
            QCOMPARE(delrec, QStringList{QStringLiteral("[DELREC,5]\\r\\n")});
            return;
        }
        QVERIFY2(delrec.isEmpty(), qPrintable(delrec.join(' ')));
        QVERIFY2(r.err.contains("is not the record of the test on channel 1"), r.err.constData());
        // The analyzer still holds its four earlier records.
        QProcess count;
        count.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                    {"records", sim.Link()});
        QVERIFY(count.waitForFinished(30000));
        QCOMPARE(count.readAllStandardOutput().trimmed(), QByteArray("4"));
    }

    // The analyzer unplugged during the test and never back: after the
    // lost limit the run saves what arrived, says the analyzer was lost and
    // fails; a signal then does not claim to end the test on the analyzer.
    void lostAnalyzerEndsTheRun_data() {
        QTest::addColumn<bool>("signalAfterLoss");
        QTest::newRow("waits out the limit") << false;
        QTest::newRow("SIGTERM after the loss") << true;
    }
    void lostAnalyzerEndsTheRun() {
        QFETCH(bool, signalAfterLoss);
        SimProcess sim(QStringLiteral("l"),
                       {"--model", "PXR-8", "--serial", "87778888", "--sample-period", "100",
                        "--accel", "4", "--prime-delay", "300", "--profile", "1:noise=0", "--do",
                        "after RUN; after 30 samples unplug"});
        QVERIFY(sim.Ok());
        const QString data =
            m_dir.filePath(signalAfterLoss ? QStringLiteral("dl2") : QStringLiteral("dl1"));
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                {"run", sim.Link(), "--type", "flow", "--rate", "10", "--control", "LOST-1",
                 "--data-folder", data, "--lost-limit", signalAfterLoss ? "600" : "3"});
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sim.Link()), 30000);
        if (signalAfterLoss) {
            QTest::qWait(300);
            ::kill(pid_t(p.processId()), SIGTERM);
        }
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(!err.contains("was ended on the analyzer"), err.constData());
        const QStringList saved = QDir(data).entryList({"RXr_*.p8d"}, QDir::Files);
        if (signalAfterLoss) {
            QCOMPARE(p.exitCode(), 128 + SIGTERM);
            QVERIFY2(err.contains("was lost; the test could not be ended on it"), err.constData());
            return;
        }
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY2(err.contains("was lost during the test on channel 1; what arrived was saved"),
                 err.constData());
        // Every sample that left the analyzer is in the one saved record.
        QCOMPARE(saved.size(), 1);
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(QDir(data).filePath(saved.first())));
        QCOMPARE(doc.ControlNumber, QStringLiteral("LOST-1"));
        QCOMPARE(doc.StoredCount() - 1, sim.SamplesSent(1));
        QVERIFY(sim.SamplesSent(1) >= 30);
    }

    // PathType 1 names a network path; a data folder named on the command
    // line wins over it for the setup's check too.
    void dataFolderWinsOverTheNetworkPath() {
        SimProcess sim(QStringLiteral("h"),
                       {"--model", "PXR-8", "--serial", "87778888", "--sample-period", "100",
                        "--accel", "20", "--prime-delay", "300", "--profile", "1:noise=0"});
        QVERIFY(sim.Ok());
        const QString work = m_dir.filePath(QStringLiteral("w7"));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/settings")));
        QFile loc(work + QStringLiteral("/RivuletrixIniFilePath.ini"));
        QVERIFY(loc.open(QIODevice::WriteOnly));
        loc.write("[INIFilePath]\r\nINIFilePathWin7=" + work.toUtf8() + "/settings\r\n");
        loc.close();
        QFile ini(work + QStringLiteral("/settings/RivuletrixApp.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Default Parameters]\r\nPathType=1\r\nNetworkPath=/nonexistent/share\r\n"
                  "FlowTolerance=5\r\n");
        ini.close();
        const QString data = m_dir.filePath(QStringLiteral("d7"));
        const Result r = Run({"run", sim.Link(), "--type", "flow", "--rate", "300", "--stop-volume",
                              "0.5", "--data-folder", data},
                             work);
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY(r.json.value("path").toString().startsWith(data));
    }

    void errors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no analyzer") << QStringList{"run", "/nonexistent/port", "--type", "flow"};
        QTest::newRow("bad type") << QStringList{"run", "/dev/null", "--type", "bolus"};
        QTest::newRow("bad channel") << QStringList{"run", "/dev/null", "--channel", "5"};
        QTest::newRow("channel listed twice")
            << QStringList{"run", "/dev/null", "--channel", "1,1"};
        QTest::newRow("port named twice") << QStringList{"run", "/dev/null", "/dev/null"};
        QTest::newRow("five ports")
            << QStringList{"run", "/dev/null", "/a", "/b", "/c", "/d", "--type", "flow"};
        QTest::newRow("template without name")
            << QStringList{"run", "/dev/null", "--type", "template"};
        QTest::newRow("bad time") << QStringList{"run", "/dev/null", "--stop-time", "90"};
    }
    void errors() {
        QFETCH(QStringList, args);
        const Result r = Run(args);
        QCOMPARE(r.code, 1);
        QVERIFY(r.json.isEmpty());
        QVERIFY(r.err.contains("rivuletrix-cli: "));
    }
};

QTEST_GUILESS_MAIN(TestCliRun)
#include "test_cli_run.moc"
