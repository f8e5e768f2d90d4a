// Export to a simulated analyzer over a pseudo-terminal: templates in list
// order, unreadable template files, the scrambled manual, notes in pieces,
// cancel, and the port going away in the middle.
#include "../link/SimProcess.h"
#include "../link/TestMain.h"
#include "../store/StoreTestEnv.h"

#include "base/Prompter.h"
#include "link/Device.h"
#include "link/TrafficLog.h"
#include "store/TemplateStore.h"
#include "transfer/ExportJob.h"

#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace std::chrono_literals;

namespace {

const char kKey[] = "QKTZeoimdrcfhjgwxnyb pqsUvkaltwhyzjc";

FoundAnalyzer Found(const QString& port) {
    FoundAnalyzer f;
    f.portName = port;
    f.kind = FoundAnalyzer::KindUsbSerial;
    return f;
}

// The simulator's log escapes \r \n \0 \\ and \xHH.
QByteArray Unescape(const QString& text) {
    const QByteArray in = text.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == '0')
            out += '\0';
        else if (c == 'x') {
            out += char(in.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

// The raw bytes the simulator received after the first entry equal to start.
QList<QByteArray> After(const SimProcess& sim, const QString& start) {
    const QStringList rx = sim.Received();
    const qsizetype at = rx.indexOf(start);
    QList<QByteArray> out;
    if (at < 0) return out;
    for (qsizetype i = at + 1; i < rx.size(); ++i) out << Unescape(rx[i]);
    return out;
}

// What the program wrote, one entry per write, after the write equal to
// start (the program's traffic log; plain text only).
QStringList SentAfter(const QString& logPath, const QString& start) {
    QFile f(logPath);
    QStringList sent;
    if (!f.open(QIODevice::ReadOnly)) return sent;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype at = line.indexOf(" > ");
        if (at > 0) sent << QString::fromLatin1(line.mid(at + 3));
    }
    const qsizetype from = sent.indexOf(start);
    return from < 0 ? QStringList{} : sent.mid(from + 1);
}

Template Make(const QString& name, int steps) {
    Template t;
    t.name = name;
    t.deviceComments = QStringLiteral("pump ") + name;
    t.stepCount = steps;
    for (int i = 0; i < steps; ++i) t.steps[i] = {1, 10.0 + i, 5, 100.0, 5, 0, 30};
    return t;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
    }
    void init() { SetPrompter(&m_prompter); }
    void cleanup() { SetPrompter(nullptr); }

    // Three templates go out in list order, each group closed by its end
    // line; a row whose file cannot be read is skipped and named, not sent
    // as an empty template.
    void templatesInListOrder() {
        StoreTestEnv env;
        env.CopySeeds();
        TemplateStore store(*env.settings);
        store.SetSeedFolder(env.work);
        QVERIFY(store.Open());
        QList<TemplateRow> rows;
        for (const char* name : {"Gamma", "Alpha", "Broken", "Beta"}) {
            TemplateRow row;
            row.name = QLatin1String(name);
            row.fileName = QStringLiteral("RXt_%1.p8t").arg(row.name);
            if (row.name != QLatin1String("Broken"))
                QVERIFY(store.WriteTemplateFile(row.fileName, Make(row.name, 2)));
            else
                StoreTestEnv::Write(env.dataDir + "/" + row.fileName, QByteArray("xx"));
            rows << row;
        }
        const TemplateLoad load = LoadTemplates(store, rows);
        QCOMPARE(load.items.size(), 3);
        QCOMPARE(load.skipped.size(), 1);
        QVERIFY(load.skipped[0].contains("RXt_Broken.p8t"));

        SimProcess sim("s", {"--serial", "EXP1"});
        QVERIFY(sim.Ok());
        CDevice dev(Found(sim.Link()));
        QVERIFY(dev.StartConnection());
        ExportJob job(dev);
        const ExportOutcome out = job.SendTemplates(load.items);
        QCOMPARE(int(out.status), int(ExportOutcome::Status::Done));
        QCOMPARE(out.sent, (QStringList{"Gamma", "Alpha", "Beta"}));
        QCOMPARE(job.Done(), 3);

        QTRY_COMPARE(sim.Received().filter("SETTMPLT,END").size(), 3);
        QStringList groups;
        QString current;
        for (const QString& line : sim.Received().filter("SETTMPLT")) {
            if (line.startsWith("[SETTMPLT,0,"))
                current = line.section(',', 2, 2);
            else if (line.startsWith("[SETTMPLT,END]"))
                groups << current + "/END";
            else
                QVERIFY(line.startsWith("[SETTMPLT,1,") || line.startsWith("[SETTMPLT,2,"));
        }
        QCOMPARE(groups, (QStringList{"Gamma/END", "Alpha/END", "Beta/END"}));
        QVERIFY(sim.Received().filter("SETTMPLT,0,,").isEmpty());
        dev.DisconnectDevice();
    }

    void manualScrambled_data() {
        QTest::addColumn<QByteArray>("manual");
        QByteArray forty;
        for (int i = 0; i < 40; ++i) forty += char('0' + i);
        QTest::newRow("40 bytes: key 0..35 then 0..3") << forty;
        // Byte 3 is the key's own character: it scrambles to 0, which goes out
        // as a 0 byte, and the bytes after it are not disturbed.
        QTest::newRow("byte equal to its key character") << QByteArray("abcZefgh");
        QByteArray high;
        for (int i = 0; i < 256; ++i) high += char(i);
        QTest::newRow("every byte value") << high;
    }
    void manualScrambled() {
        QFETCH(QByteArray, manual);
        QTemporaryDir dir;
        SimProcess sim("s", {"--manual-out", dir.filePath("manual.out")});
        QVERIFY(sim.Ok());
        CDevice dev(Found(sim.Link()));
        QVERIFY(dev.StartConnection());
        ExportJob job(dev);
        const ExportOutcome out = job.SendManual(manual);
        QCOMPARE(int(out.status), int(ExportOutcome::Status::Done));
        QCOMPARE(out.bytes, manual.size());

        QByteArray expected;
        for (qsizetype i = 0; i < manual.size(); ++i)
            expected += char(uchar(kKey[i % 36]) ^ uchar(manual[i]));
        QTRY_COMPARE(After(sim, "[UMSETINSTRUCT]\\r\\n").join(), expected);
        // The simulator unscrambles with its own copy of the key.
        QFile back(dir.filePath("manual.out"));
        QTRY_VERIFY_WITH_TIMEOUT(back.exists() && back.size() == manual.size(), 5000);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), manual);
        dev.DisconnectDevice();
    }

    // Notes go out as "[", pieces of at most 100 bytes, "]".
    void notesInPieces() {
        QTemporaryDir dir;
        SimProcess sim("s", {"--notes-out", dir.filePath("notes.out")});
        QVERIFY(sim.Ok());
        TrafficLog::Instance().SetPath(dir.filePath("traffic.log"));
        CDevice dev(Found(sim.Link()));
        QVERIFY(dev.StartConnection());
        QByteArray notes;
        for (int i = 0; i < 250; ++i) notes += char('a' + i % 26);
        ExportJob job(dev);
        const ExportOutcome out = job.SendNotes(notes);
        QCOMPARE(int(out.status), int(ExportOutcome::Status::Done));
        QCOMPARE(out.bytes, 250);
        QFile back(dir.filePath("notes.out"));
        QTRY_VERIFY_WITH_TIMEOUT(back.exists() && back.size() == notes.size(), 5000);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), notes);
        const QString n = QString::fromLatin1(notes);
        QCOMPARE(SentAfter(dir.filePath("traffic.log"), "[SETUSERNOTES]\\r\\n"),
                 (QStringList{"[", n.left(100), n.mid(100, 100), n.mid(200), "]"}));
        TrafficLog::Instance().SetPath({});
        dev.DisconnectDevice();
    }

    // Cancel stops between pieces and still closes the notes.
    void notesCancelled() {
        QTemporaryDir dir;
        SimProcess sim("s", {"--notes-out", dir.filePath("notes.out")});
        QVERIFY(sim.Ok());
        CDevice dev(Found(sim.Link()));
        QVERIFY(dev.StartConnection());
        ExportJob job(dev);
        std::thread canceller([&] {
            std::this_thread::sleep_for(400ms);
            job.Cancel();
        });
        const ExportOutcome out = job.SendNotes(QByteArray(10000, 'n'));
        canceller.join();
        QCOMPARE(int(out.status), int(ExportOutcome::Status::Cancelled));
        QVERIFY(out.bytes > 0 && out.bytes < 10000);
        // The analyzer got the notes closed, with what went out before Cancel.
        QFile back(dir.filePath("notes.out"));
        QTRY_VERIFY_WITH_TIMEOUT(back.exists() && back.size() == out.bytes, 5000);
        dev.DisconnectDevice();
    }

    // The analyzer unplugged in the middle: the export stops and says so.
    void unplugDuringExport_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("notes") << "notes";
        QTest::newRow("templates") << "templates";
    }
    void unplugDuringExport() {
        QFETCH(QString, what);
        const QString trigger = what == "notes" ? "SETUSERNOTES" : "SETTMPLT";
        SimProcess sim("s", {"--do", QStringLiteral("after %1 wait 300ms; unplug").arg(trigger)});
        QVERIFY(sim.Ok());
        CDevice dev(Found(sim.Link()));
        QVERIFY(dev.StartConnection());
        ExportJob job(dev);
        ExportOutcome out;
        if (what == "notes") {
            out = job.SendNotes(QByteArray(10000, 'n'));
            QVERIFY(out.bytes < 10000);
        } else {
            QList<ExportItem> items;
            for (int i = 0; i < 20; ++i) items.push_back({QString::number(i), Make("T", 6)});
            out = job.SendTemplates(items);
            QVERIFY(out.sent.size() < 20);
        }
        QCOMPARE(int(out.status), int(ExportOutcome::Status::PortGone));
        QVERIFY2(out.error.contains(sim.Link()), qPrintable(out.error));
    }

    // A file that cannot be read is an error, not an empty body.
    void unreadableFile() {
        QByteArray bytes;
        QString error;
        QVERIFY(!ReadTransferFile(QStringLiteral("/nonexistent/manual.p8i"), 100, bytes, error));
        QVERIFY(error.contains("/nonexistent/manual.p8i"));
    }

    // Size limits: a manual too large is refused whole; notes too long are
    // cut to what the analyzer keeps, and the cut is said.
    void sizeLimits_data() {
        QTest::addColumn<bool>("manual");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("read");
        QTest::addColumn<qint64>("kept");
        QTest::addColumn<bool>("told");
        const qint64 m = ExportJob::kManualLimit, n = ExportJob::kNotesLimit;
        QTest::newRow("manual at the limit") << true << m << true << m << false;
        QTest::newRow("manual one byte over") << true << m + 1 << false << qint64(0) << true;
        QTest::newRow("notes at the limit") << false << n << true << n << false;
        QTest::newRow("notes one byte over") << false << n + 1 << true << n << true;
    }
    void sizeLimits() {
        QFETCH(bool, manual);
        QFETCH(qint64, size);
        QFETCH(bool, read);
        QFETCH(qint64, kept);
        QFETCH(bool, told);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("file"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
        f.close();
        QByteArray bytes;
        QString error, notice;
        QCOMPARE(manual ? ReadManualFile(path, bytes, error)
                        : ReadNotesFile(path, bytes, error, notice),
                 read);
        QCOMPARE(bytes.size(), kept);
        QCOMPARE(!(manual ? error : notice).isEmpty(), told);
        QVERIFY((manual ? error : notice).isEmpty() || (manual ? error : notice).contains(path));
    }
};

RX_LINK_TEST_MAIN(TestExport)
#include "test_export.moc"
