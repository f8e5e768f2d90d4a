// rivuletrix-cli run against the simulator: a whole test from a script.
#include "../link/SimProcess.h"

#include "records/RivuletrixDoc.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCliRun : public QObject {
    Q_OBJECT

    struct Result {
        int code = -1;
        QJsonObject json;
        QByteArray err;
    };
    Result Run(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
        Result r;
        if (!p.waitForFinished(120000)) return r;
        r.code = p.exitCode();
        r.json = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        r.err = p.readAllStandardError();
        return r;
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

    void errors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no analyzer") << QStringList{"run", "/nonexistent/port", "--type", "flow"};
        QTest::newRow("bad type") << QStringList{"run", "/dev/null", "--type", "bolus"};
        QTest::newRow("bad channel") << QStringList{"run", "/dev/null", "--channel", "5"};
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
