// rivuletrix-cli record ... on the fixture records.
#include "../ProcessRun.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

using clitest::Cli;
using clitest::Result;

QString Fixture(const char* name) {
    return QStringLiteral(RX_TEST_DATA "/records/") + QLatin1String(name);
}

} // namespace

class TestRecordCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void show() {
        const Result r = Cli({"record", "show", Fixture("template_3step.p8d"), "--step", "2"});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o.value("TestType").toString(), QStringLiteral("O"));
        QCOMPARE(o.value("TemplateName").toString(), QStringLiteral("Night Check"));
        QCOMPARE(o.value("TemplateSteps").toInt(), 3);
        QCOMPARE(o.value("SampleCount").toInt(), 5);
        QCOMPARE(o.value("ControlNumber").toString(), QStringLiteral("PUMP-0042"));
        QCOMPARE(o.value("StartTime").toString(), QStringLiteral("14:05:09"));
        QCOMPARE(o.value("TicksPerSecond").toInt(), 1000);
        for (const char* key : {"InstSerialNum", "InstVersion", "ChannelNo",  "TdSerialNum",
                                "TdVersion",     "RepHeader1",  "RepHeader2", "RepHeader3",
                                "Operator",      "Manufacture", "Model",      "SerialNumber",
                                "Location",      "SetFlowRate", "SetVolume",  "SetBasalFlowRate",
                                "SetPcaVolume",  "StartDate",   "InstModel",  "InstDesc",
                                "InstManuf",     "Comments",    "BolusCount", "VolumeStep",
                                "PcaTableRows"})
            QVERIFY2(o.contains(QLatin1String(key)), key);
    }

    void samples() {
        const Result r = Cli({"record", "samples", Fixture("flow_small.p8d")});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + 42);
        QCOMPARE(lines[0],
                 QByteArray("index,code,ticks,volume,pressure,flow,average_flow,bolus_edge"));
        QCOMPARE(lines[1], QByteArray("0, ,0,0,0,0.00,0.00,0"));
        QCOMPARE(lines[2], QByteArray("1,:,0,0,0,0.00,0.00,0"));
        // 500 ms and 17 units after the start: 17 x 10 / 500 x 3600.
        QCOMPARE(lines[3], QByteArray("2, ,500,17,5,1224.00,1224.00,0"));
    }

    // Status codes of a damaged file never shift the columns nor reach a
    // spreadsheet as a formula.
    void samplesWithOddCodes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd.p8d"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("H12,Flow\r\nD1,=,100,2,3\r\nD2,\",200,4,5\r\nD3,@,300,6,7\r\n");
        f.close();
        const Result r = Cli({"record", "samples", path});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + 4);
        QVERIFY2(lines[2].startsWith("1,'=,100,2,3,"), lines[2].constData());
        QVERIFY2(lines[3].startsWith("2,\"\"\"\",200,4,5,"), lines[3].constData());
        QVERIFY2(lines[4].startsWith("3,'@,300,6,7,"), lines[4].constData());
    }

    void flow_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("one sample")
            << QStringList{"--index", "3", "--window", "1"} << QByteArray("1296.00\n");
        QTest::newRow("volume window") << QStringList{"--index", "41", "--window", "-100"}
                                       << QByteArray("1248.00\n"); // 104 units over 3 s
    }
    void flow() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, out);
        const Result r = Cli(QStringList{"record", "flow", Fixture("flow_small.p8d")} + args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, out);
    }

    // The transducer serial number is the analyzer's text: ordinary ones stay
    // as they are, anything else never leaves the data folder.
    void name_data() {
        QTest::addColumn<QString>("transducer");
        QTest::addColumn<bool>("templateRecord");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("ordinary") << "T123" << false << QByteArray("RXr_F2026kdp8d_T123.p8d");
        QTest::newRow("template") << "T123" << true << QByteArray("RXr_TF2026kdp8d_T123.p8d");
        QTest::newRow("blank and dash")
            << "T1-80 001" << false << QByteArray("RXr_F2026kdp8d_T1-80 001.p8d");
        QTest::newRow("empty") << "" << false << QByteArray("RXr_F2026kdp8d_.p8d");
        QTest::newRow("climbs out")
            << "../../etc/x" << false << QByteArray("RXr_F2026kdp8d_.._.._etc_x.p8d");
        QTest::newRow("slash") << "a/b" << false << QByteArray("RXr_F2026kdp8d_a_b.p8d");
        QTest::newRow("backslash") << "a\\b" << false << QByteArray("RXr_F2026kdp8d_a_b.p8d");
        QTest::newRow("dot dot") << ".." << false << QByteArray("RXr_F2026kdp8d_...p8d");
        QTest::newRow("control characters") << "a\tb\x01"
                                               "c"
                                            << false << QByteArray("RXr_F2026kdp8d_a_b_c.p8d");
        QTest::newRow("windows characters")
            << "a:b*c?d\"e<f>g|h" << false << QByteArray("RXr_F2026kdp8d_a_b_c_d_e_f_g_h.p8d");
        QTest::newRow("300 characters")
            << QString(300, QLatin1Char('x')) << false
            << QByteArray("RXr_F2026kdp8d_") + QByteArray(236, 'x') + QByteArray(".p8d");
    }
    void name() {
        QFETCH(QString, transducer);
        QFETCH(bool, templateRecord);
        QFETCH(QByteArray, out);
        QStringList args{"record", "name",     "--type",       "F",       "--date", "08-Dec-2026",
                         "--time", "14:05:09", "--transducer", transducer};
        if (templateRecord) args << QStringLiteral("--template");
        const Result r = Cli(args);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, out + '\n');
    }

    void errors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("missing file") << QStringList{"record", "show", "/nonexistent.p8d"};
        QTest::newRow("no file") << QStringList{"record", "samples"};
        QTest::newRow("bad step") << QStringList{"record", "show", Fixture("flow_small.p8d"),
                                                 "--step", "x"};
        QTest::newRow("bad window")
            << QStringList{"record", "flow", Fixture("flow_small.p8d"), "--index", "3"};
        QTest::newRow("no name possible") << QStringList{"record", "name", "--type", "-"};
        QTest::newRow("unknown verb") << QStringList{"record", "frobnicate"};
    }
    void errors() {
        QFETCH(QStringList, args);
        const Result r = Cli(args);
        QVERIFY(r.exitCode > 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("rivuletrix-cli: "));
    }
};

QTEST_GUILESS_MAIN(TestRecordCli)
#include "test_record_cli.moc"
