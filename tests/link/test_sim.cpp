// The link against the analyzer simulator over real pseudo-terminals: probe,
// connection, status cycle, requests, downloads and uploads, faults.
#include "SimProcess.h"
#include "TestMain.h"

#include "base/Prompter.h"
#include "link/Commands.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "link/SerialTransport.h"
#include "records/RivuletrixDoc.h"

#include <QBuffer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {
FoundAnalyzer Probe(const QString& port) {
    PortScanner scanner;
    scanner.ScanPorts({port});
    const auto found = scanner.Found();
    return found.isEmpty() ? FoundAnalyzer{} : found.first();
}
} // namespace

class TestSim : public QObject {
    Q_OBJECT
    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
    }
    void init() {
        m_prompter.messages.clear();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    // Probe: model, name, serial and channels; duplicates by serial number,
    // a busy and a silent analyzer are not listed; a second scan adds nothing.
    void probe() {
        SimProcess a("a", {"--model", "PXR-8", "--name", "Bench A", "--serial", "80001234",
                           "--channels", "1,2,4"});
        SimProcess b("b", {"--model", "PXR2K", "--name", "Bench B", "--serial", "20005678"});
        SimProcess dup("dup", {"--serial", "80001234", "--name", "Twin"});
        SimProcess busy("busy", {"--serial", "777", "--busy"});
        SimProcess silent("silent", {"--serial", "888", "--silent"});
        // The model reply is looked for at byte 17 or 23 only: behind a P1 text
        // of 10 or 16 characters.
        SimProcess shortP1("shortp1", {"--serial", "999", "--manufacturer", "Acme"});
        SimProcess p1of10("p1of10", {"--serial", "1010", "--manufacturer", "Acme Pumps"});
        QVERIFY(a.Ok() && b.Ok() && dup.Ok() && busy.Ok() && silent.Ok() && shortP1.Ok() &&
                p1of10.Ok());

        qputenv("RIVULETRIX_PORTS",
                QStringList{a.Link(), silent.Link(), b.Link(), dup.Link(), busy.Link(),
                            shortP1.Link(), p1of10.Link(), "/nonexistent/tty"}
                    .join(':')
                    .toLocal8Bit());
        PortScanner scanner;
        QCOMPARE(scanner.EnumerateAnalyzerPorts(), 8);
        scanner.ScanUsbPorts();
        qunsetenv("RIVULETRIX_PORTS");
        const QList<FoundAnalyzer> found = scanner.Found();
        QCOMPARE(found.size(), 3);
        QCOMPARE(found[0].portName, a.Link());
        QCOMPARE(found[0].name, QStringLiteral("Bench A"));
        QCOMPARE(found[0].serialNumber, QStringLiteral("80001234"));
        QCOMPARE(found[0].model, QStringLiteral("PXR-8"));
        QCOMPARE(QList<int>(found[0].channels, found[0].channels + 4), (QList<int>{1, 1, 0, 1}));
        QCOMPARE(found[0].kind, int(FoundAnalyzer::KindUsbSerial));
        QCOMPARE(found[0].battery, 'H');
        QCOMPARE(found[1].model, QStringLiteral("PXR2K"));
        QCOMPARE(QList<int>(found[1].channels, found[1].channels + 4), (QList<int>{1, 0, 0, 0}));
        QCOMPARE(found[2].serialNumber, QStringLiteral("1010"));
        // The probe's bytes, exactly.
        QCOMPARE(a.Received(), (QStringList{"[GETPARAMS,0]\\r\\n", "[GETSN,0]\\r\\n",
                                            "[POLL]\\r\\n", "[BYE]\\r\\n"}));

        // Added analyzers stay; a new search lists each present one once.
        QVERIFY(scanner.Add(QStringLiteral("20005678")));
        scanner.PurgeKind(FoundAnalyzer::KindUsbSerial);
        scanner.ScanPorts({a.Link(), b.Link()});
        QCOMPARE(scanner.Found().size(), 1);
        QCOMPARE(scanner.Found()[0].serialNumber, QStringLiteral("80001234"));
        QCOMPARE(scanner.Ready().size(), 1);
        QCOMPARE(scanner.Ready()[0].serialNumber, QStringLiteral("20005678"));
    }

    // An analyzer in the middle of tests (left running when the program
    // ended) streams measurement lines among its replies, after a backlog of
    // them from while nobody listened: the probe finds it all the same, with
    // the tests left running, and the model reply still counts only behind a
    // P1 text of 10 or 16 characters.
    void probeFindsStreamingAnalyzer_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("model"); // empty: not listed
        QTest::addColumn<QList<int>>("channels");
        // Split frames go out a few milliseconds a piece: a slower stream.
        QTest::addColumn<QString>("accel");
        QTest::addColumn<int>("backlog"); // channel 1 lines before the probe
        QTest::newRow("PXR-8, four tests")
            << QStringList{"--do", "run F at 60 on 1; run O at 20 on 2; run P at 10 on 3; run F "
                                   "at 100 on 4"}
            << "PXR-8" << QList<int>{1, 1, 1, 1} << "720" << 500;
        QTest::newRow("PXR2K") << QStringList{"--model", "PXR2K", "--do", "run F at 60"} << "PXR2K"
                               << QList<int>{1, 0, 0, 0} << "720" << 500;
        QTest::newRow("split frames and noise") << QStringList{"--channels",
                                                               "1,3",
                                                               "--split",
                                                               "--garbage",
                                                               "7",
                                                               "--do",
                                                               "run F at 60 on 1; run P at 10 on 3"}
                                                << "PXR-8" << QList<int>{1, 0, 1, 0} << "5" << 10;
        QTest::newRow("P1 of 4 characters")
            << QStringList{"--manufacturer", "Acme", "--do", "run F at 60 on 1"} << QString()
            << QList<int>{} << "720" << 500;
    }
    void probeFindsStreamingAnalyzer() {
        QFETCH(QStringList, args);
        QFETCH(QString, model);
        QFETCH(QList<int>, channels);
        QFETCH(QString, accel);
        QFETCH(int, backlog);
        SimProcess sim(
            "s", args + QStringList{"--serial", "S123", "--name", "Bench S", "--accel", accel});
        QVERIFY(sim.Ok());
        // Lines pile up while nobody has the port open.
        QTRY_VERIFY_WITH_TIMEOUT(sim.SamplesSent(1) > backlog, 10000);
        PortScanner scanner;
        scanner.ScanPorts({sim.Link()});
        const QList<FoundAnalyzer> found = scanner.Found();
        if (model.isEmpty()) {
            QVERIFY(found.isEmpty());
            return;
        }
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].model, model);
        QCOMPARE(found[0].name, QStringLiteral("Bench S"));
        QCOMPARE(found[0].serialNumber, QStringLiteral("S123"));
        QCOMPARE(QList<int>(found[0].channels, found[0].channels + 4), channels);
        QCOMPARE(sim.Received(), (QStringList{"[GETPARAMS,0]\\r\\n", "[GETSN,0]\\r\\n",
                                              "[POLL]\\r\\n", "[BYE]\\r\\n"}));
        // Found again by its serial number, as a replugged analyzer is.
        QSerialPort port;
        QCOMPARE(OpenPort(port, sim.Link(), LineProfile::Probe), 0);
        QCOMPARE(scanner.ProbeSerialNumber(port), QStringLiteral("S123"));
    }

    // A new connection's first bytes, then the status cycle through a test:
    // set up, primed, started with AutoStart, streaming, ended.
    void connectAndStatusCycle() {
        SimProcess sim("s", {"--channels", "1,2", "--accel", "20", "--prime-delay", "200",
                             "--autostart-delay", "200", "--sample-period", "500"});
        QVERIFY(sim.Ok());
        const FoundAnalyzer found = Probe(sim.Link());
        QCOMPARE(found.model, QStringLiteral("PXR-8"));
        CDevice dev(found);
        CRivuletrixDoc doc1, doc2;
        dev.SetChannelDoc(0, &doc1);
        dev.SetChannelDoc(1, &doc2);
        QVERIFY(dev.StartConnection());
        QTRY_VERIFY(sim.Received().size() >= 6);
        QCOMPARE(sim.Received().mid(4, 2), (QStringList{"[POLL]\\r\\n", "[LOG]\\r\\n"}));

        auto pollUntil = [&](int ch, auto accept) {
            QDeadlineTimer deadline(20000);
            while (!deadline.hasExpired()) {
                dev.SendSTATUS();
                QTest::qWait(100);
                if (accept(dev.GetChannelStatus(ch))) return true;
            }
            return false;
        };
        QVERIFY(pollUntil(0, [](const QString& s) { return s == "   "; }));
        dev.SendStartTest(0, commands::TestFlow, false, "CN-1", "JS", 60.0);
        QVERIFY(pollUntil(0, [](const QString& s) { return s == "FFF"; }));
        dev.SendStartTest(0, commands::TestFlow, true, "CN-1", "JS", 60.0);
        QVERIFY(pollUntil(0, [](const QString& s) { return s == "vFf"; }));
        QTRY_VERIFY_WITH_TIMEOUT(doc1.StoredCount() > 5, 10000);
        QCOMPARE(doc2.StoredCount(), 0);
        QVERIFY(doc1.Samples()[2].time > doc1.Samples()[1].time);
        dev.SendEND(0);
        QVERIFY(pollUntil(0, [](const QString& s) { return s == "   "; }));
        const int stored = doc1.StoredCount();
        QTest::qWait(300);
        QCOMPARE(doc1.StoredCount(), stored);
        QVERIFY(sim.Received().contains("[C1FA,CN-1,JS,6000]\\r\\n\\0"));
        dev.DisconnectDevice();
    }

    // A silent analyzer: requests fail after their limits, nothing hangs.
    void silentAnalyzer() {
        SimProcess sim("s", {"--silent"});
        QVERIFY(sim.Ok());
        QCOMPARE(Probe(sim.Link()).model, QString());
        FoundAnalyzer f;
        f.portName = sim.Link();
        f.kind = FoundAnalyzer::KindUsbSerial;
        CDevice dev(f);
        QVERIFY(dev.StartConnection());
        dev.SetDownloadIdleLimit(500ms);
        AnalyzerParameters p;
        QCOMPARE(dev.GetParameters(p), 1);
        int n = 0;
        QCOMPARE(dev.GetTemplateCount(n), 1);
        QBuffer buf;
        buf.open(QIODevice::ReadWrite);
        QCOMPARE(dev.GetRecord(1, buf), 1);
        QVERIFY(dev.LastError().contains(QLatin1String("GetRecord")));
        dev.DisconnectDevice();
    }

    // Four parameter replies, then the fifth late: the first request fails,
    // the late reply serves the next one at once. The second request's own
    // fifth reply is dropped too, so that it cannot overwrite the late one
    // before the fields are copied.
    void parametersFifthLate() {
        SimProcess sim("s", {"--name", "Bench 9", "--drop", "P5:2", "--do",
                             "after GETPARAMS wait 1500ms; send \"[P5,Late]\\r\\n\""});
        QVERIFY(sim.Ok());
        FoundAnalyzer f;
        f.portName = sim.Link();
        f.kind = FoundAnalyzer::KindUsbSerial;
        CDevice dev(f);
        QVERIFY(dev.StartConnection());
        AnalyzerParameters p;
        QCOMPARE(dev.GetParameters(p), 1);
        QTRY_VERIFY_WITH_TIMEOUT(dev.Dispatcher().ParamsSignal.IsSet(), 5000);
        QCOMPARE(dev.GetParameters(p), 0);
        QCOMPARE(p.p1, QStringLiteral("Fluidmetrics Inc"));
        QCOMPARE(p.p2, QStringLiteral("PXR-8"));
        QCOMPARE(p.p5, QStringLiteral("Late"));
        dev.DisconnectDevice();
    }

    void serialNumbers() {
        SimProcess sim("s", {"--serial", "80001234", "--firmware", "3.02", "--channels", "1,3"});
        QVERIFY(sim.Ok());
        CDevice dev(Probe(sim.Link()));
        QVERIFY(dev.StartConnection());
        SerialNumbers sn;
        QCOMPARE(dev.GetSerialNumbers(0, sn), 0);
        QCOMPARE(sn.serial, QStringLiteral("80001234"));
        QCOMPARE(sn.firmware, QStringLiteral("3.02"));
        QCOMPARE(dev.GetSerialNumbers(3, sn), 0);
        QVERIFY(!sn.tdSerial.isEmpty());
        QCOMPARE(sn.serial, QStringLiteral("80001234"));
        QCOMPARE(dev.GetSerialNumbers(5, sn), 1);
        QCOMPARE(m_prompter.messages, QStringList{"Channel Number greater than 4"});
        dev.DisconnectDevice();
    }

    // Record count and downloads, a three-section record among them; guards
    // on the wire: GETREC 1234 asks for 999, DELREC 1000 sends nothing.
    void records() {
        SimProcess sim("s", {"--preset-records", "4"});
        QVERIFY(sim.Ok());
        CDevice dev(Probe(sim.Link()));
        QVERIFY(dev.StartConnection());
        int count = 0;
        QCOMPARE(dev.GetRecordCount(count), 0);
        QCOMPARE(count, 4);
        QTemporaryDir dir;
        for (int n = 1; n <= 4; ++n) {
            QFile file(dir.filePath(QString::number(n)));
            QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
            QCOMPARE(dev.GetRecord(n, file), 0);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray data = file.readAll();
            const QList<QByteArray> lines = data.split('\n');
            const int sections = int(data.count("\nH1,") + data.startsWith("H1,"));
            QCOMPARE(lines.first(),
                     QByteArray("N") + QByteArray::number(sections > 1 ? sections : 0) + "\r");
            QVERIFY(data.endsWith("\r\nE0"));
            QCOMPARE(int(data.count("\r\nE")), sections); // E1..E(n-1) and E0
            if (n == 4) {
                QCOMPARE(sections, 3);
                QVERIFY(data.contains("\r\nE1\r\nH1,") && data.contains("\r\nE2\r\nH1,"));
                CRivuletrixDoc doc;
                doc.StepToShow = 3;
                doc.ReadRecordBytes(data.constData(), size_t(data.size()));
                QCOMPARE(doc.TemplateSteps, 3);
                QVERIFY(doc.StoredCount() > 1);
            }
        }
        QBuffer buf;
        buf.open(QIODevice::ReadWrite);
        dev.SetDownloadIdleLimit(1500ms);
        dev.GetRecord(1234, buf);
        dev.SendDELREC(1000);
        dev.SendDELREC(4);
        QTRY_VERIFY(sim.Received().contains("[DELREC,4]\\r\\n"));
        QVERIFY(sim.Received().contains("[GETREC,999]\\r\\n"));
        QCOMPARE(int(sim.Received().filter("DELREC").size()), 1);
        QCOMPARE(dev.GetRecordCount(count), 0);
        QCOMPARE(count, 3);
        dev.DisconnectDevice();
    }

    void templatesBothWays() {
        SimProcess sim("s", {"--serial", "TPL1", "--preset-templates", "2"});
        QVERIFY(sim.Ok());
        CDevice dev(Probe(sim.Link()));
        QVERIFY(dev.StartConnection());
        int count = 0;
        QCOMPARE(dev.GetTemplateCount(count), 0);
        QCOMPARE(count, 2);
        Template t;
        QCOMPARE(dev.GetTemplate(1, t), 0);
        QVERIFY(t.stepCount > 0);
        QVERIFY(!t.name.isEmpty());
        QCOMPARE(t.instSerialNumber, QStringLiteral("TPL1"));

        Template up;
        up.name = QStringLiteral("Ward 4 check");
        up.deviceComments = QStringLiteral("Pump A");
        up.stepCount = 4;
        up.steps[0] = {1, 100.0, 5, 12.5, 5, 1, 30};
        up.steps[1] = {2, 300.0, 2, 25.0, 0, 0, 10};
        up.steps[2] = {3, 10.0, 5, 2.0, 10, 0, 45};
        up.steps[3] = {5, 1.5, 5, 0.0, 0, 0, 0};
        dev.SendSETTMPLT(up);
        QTRY_VERIFY(sim.Received().contains("[SETTMPLT,END]\\r\\n"));
        QTRY_VERIFY(dev.GetTemplateCount(count) == 0 && count == 3);
        Template back;
        QCOMPARE(dev.GetTemplate(3, back), 0);
        up.instSerialNumber = QStringLiteral("TPL1");
        QCOMPARE(back.name, up.name);
        QCOMPARE(back.deviceComments, up.deviceComments);
        QCOMPARE(back.stepCount, up.stepCount);
        for (int i = 0; i < 6; ++i) QCOMPARE(back.steps[i], up.steps[i]);
        QCOMPARE(dev.GetTemplate(201, back), 1);
        QCOMPARE(m_prompter.messages, QStringList{"Template Number is greater than 200"});
        dev.DisconnectDevice();
    }

    void notesAndManual() {
        QTemporaryDir dir;
        QFile notesIn(dir.filePath("in.txt"));
        QVERIFY(notesIn.open(QIODevice::WriteOnly));
        notesIn.write("Check the inlet filter\nCalibrated 2026\n");
        notesIn.close();
        SimProcess sim("s", {"--notes", notesIn.fileName(), "--notes-out", dir.filePath("out.p8u"),
                             "--manual-out", dir.filePath("manual.out")});
        QVERIFY(sim.Ok());
        CDevice dev(Probe(sim.Link()));
        QVERIFY(dev.StartConnection());

        QBuffer notes;
        notes.open(QIODevice::ReadWrite);
        QCOMPARE(dev.GetUserNotes(notes), 0);
        QCOMPARE(notes.data(), QByteArray("Check the inlet filter\nCalibrated 2026\n"));

        QByteArray upload;
        for (int i = 0; i < 260; ++i) upload += char('A' + i % 26);
        upload += "\r\nend";
        QBuffer out(&upload);
        out.open(QIODevice::ReadOnly);
        dev.SetUserNotesFile(&out);
        dev.SendSETUSERNOTES();
        QFile received(dir.filePath("out.p8u"));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), qint64(upload.size()), 15000);
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), upload);

        // Every byte value, so that zeros and 0x80..0x9F are scrambled too.
        QByteArray manual;
        for (int i = 0; i < 600; ++i) manual += char(i * 37 % 256);
        dev.SendUMSETINSTRUCT(commands::ScrambleManual(manual));
        QCOMPARE(m_prompter.messages, QStringList{"Instruction Manual Sent"});
        QFile man(dir.filePath("manual.out"));
        QTRY_VERIFY_WITH_TIMEOUT(man.exists() && man.size() == manual.size(), 5000);
        QVERIFY(man.open(QIODevice::ReadOnly));
        QCOMPARE(man.readAll(), manual);
        dev.DisconnectDevice();
    }

    // Garbage before every frame and frames in pieces give the same results.
    void garbageAndSplitFrames() {
        SimProcess sim("s",
                       {"--serial", "G1", "--garbage", "9", "--split", "--preset-records", "1"});
        QVERIFY(sim.Ok());
        FoundAnalyzer f;
        f.portName = sim.Link();
        f.kind = FoundAnalyzer::KindUsbSerial;
        CDevice dev(f);
        QVERIFY(dev.StartConnection());
        AnalyzerParameters p;
        QCOMPARE(dev.GetParameters(p), 0);
        QCOMPARE(p.p2, QStringLiteral("PXR-8"));
        SerialNumbers sn;
        QCOMPARE(dev.GetSerialNumbers(0, sn), 0);
        QCOMPARE(sn.serial, QStringLiteral("G1"));
        QBuffer rec;
        rec.open(QIODevice::ReadWrite);
        QCOMPARE(dev.GetRecord(1, rec), 0);
        QVERIFY(rec.data().startsWith("N0\r\nH1,G1,"));
        QVERIFY(rec.data().endsWith("\r\nE0"));
        dev.DisconnectDevice();
    }

    // Unplugged during a download: the request fails at once, the device
    // says it is lost, nothing hangs.
    void unplugDuringDownload() {
        SimProcess sim("s", {"--preset-records", "2", "--unplug-after-lines", "30"});
        QVERIFY(sim.Ok());
        CDevice dev(Probe(sim.Link()));
        int lost = 0;
        connect(&dev, &CDevice::AnalyzerLost, this, [&] { ++lost; });
        QVERIFY(dev.StartConnection());
        QBuffer rec;
        rec.open(QIODevice::ReadWrite);
        const auto t0 = steady_clock::now();
        QCOMPARE(dev.GetRecord(1, rec), 1);
        QVERIFY2(steady_clock::now() - t0 < 10s, "the download waited out its limit");
        QVERIFY(dev.IsLost());
        QTRY_COMPARE(lost, 1);
        AnalyzerParameters p;
        QCOMPARE(dev.GetParameters(p), 1);
        dev.DisconnectDevice();
    }
};

RX_LINK_TEST_MAIN(TestSim)
#include "test_sim.moc"
