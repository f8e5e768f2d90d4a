// rivuletrix-cli export against a simulated analyzer: JSON of what was sent,
// errors on standard error with a non-zero exit.
#include "../ProcessRun.h"
#include "../link/SimProcess.h"

#include "records/Template.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
using clitest::Cli;
using clitest::Result;
void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}
} // namespace

class TestExportCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
        for (const char* name : {"Alpha", "Beta"}) {
            Template t;
            t.name = QLatin1String(name);
            t.stepCount = 1;
            t.steps[0] = {TemplateStep::Flow, 2.0, TemplateStep::Ml, 60, 5, 0, 10};
            WriteFile(m_dir.filePath(QStringLiteral("RXt_%1.p8t").arg(t.name)),
                      templatefile::Encode(t));
        }
        WriteFile(m_dir.filePath("RXt_Broken.p8t"), "xx");
        WriteFile(m_dir.filePath("manual.p8i"), "Instruction manual, page 1\r\n");
    }

    void templates_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("two, in order")
            << QStringList{"Beta", "Alpha"} << QStringList{"Beta", "Alpha"} << true << QString();
        QTest::newRow("unreadable skipped")
            << QStringList{"Alpha", "Broken"} << QStringList{"Alpha"} << false << "RXt_Broken.p8t";
        QTest::newRow("outside the folder")
            << QStringList{"../Alpha", "Beta"} << QStringList{"Beta"} << false << "../Alpha";
    }
    void templates() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, sent);
        QFETCH(bool, ok);
        QFETCH(QString, stderrHas);
        SimProcess sim("s", {});
        QVERIFY(sim.Ok());
        const Result r = Cli(QStringList{"export", "templates", sim.Link()} + names +
                             QStringList{"--data-folder", m_dir.path()});
        QCOMPARE(r.exitCode == 0, ok);
        if (!stderrHas.isEmpty()) QVERIFY2(r.err.contains(stderrHas.toUtf8()), r.err);
        const QJsonObject json = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(json["templates"].toVariant().toStringList(), sent);
        QTRY_COMPARE(sim.Received().filter("[SETTMPLT,END]").size(), sent.size());
        QVERIFY(sim.Received().filter("[SETTMPLT,0,,").isEmpty());
    }

    void manual() {
        SimProcess sim("s", {"--manual-out", m_dir.filePath("manual.out")});
        QVERIFY(sim.Ok());
        const Result r = Cli({"export", "manual", sim.Link(), m_dir.filePath("manual.p8i")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out).object()["bytes"].toInt(), 28);
        QFile back(m_dir.filePath("manual.out"));
        QTRY_VERIFY_WITH_TIMEOUT(back.exists() && back.size() == 28, 5000);
    }

    // A notes file that cannot be opened sends nothing, not an empty body.
    void missingNotesFile() {
        SimProcess sim("s", {});
        QVERIFY(sim.Ok());
        const Result r = Cli({"export", "notes", sim.Link(), m_dir.filePath("nothere.p8u")});
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains("nothere.p8u"), r.err);
        QTest::qWait(300);
        QVERIFY(sim.Received().filter("SETUSERNOTES").isEmpty());
    }

    // Only an analyzer that answers, and not a PXR2K (it takes no exports):
    // otherwise nothing is written to the port.
    void refusedTargets_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("PXR2K") << QStringList{"--model", "PXR2K", "--serial", "20001234"}
                               << QStringLiteral("PXR2K");
        QTest::newRow("silent port")
            << QStringList{"--drop", "P2"} << QStringLiteral("no analyzer answered");
    }
    void refusedTargets() {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, stderrHas);
        SimProcess sim("s", simArgs);
        QVERIFY(sim.Ok());
        const Result r = Cli({"export", "manual", sim.Link(), m_dir.filePath("manual.p8i")});
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains(stderrHas.toUtf8()), r.err);
        QTest::qWait(300);
        QVERIFY(sim.Received().filter("UMSETINSTRUCT").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestExportCli)
#include "test_export_cli.moc"
