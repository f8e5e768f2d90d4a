// A command-line test killed with SIGKILL at a random moment, then
// recovered: the record reads back, holds only samples the analyzer sent, in
// the order they came, and misses at most the last second of them.
// RX_KILL_REPEAT sets the number of kills (a few here; 50 by hand).
#include "../link/SimProcess.h"

#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Received {
    uint32_t time = 0, volume = 0;
    int pressure = 0;
    char code = ' ';
};

// Measurement lines of channel 1 as the traffic log holds what was received.
std::vector<Received> ReceivedLines(const QString& log) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const int mark = line.indexOf(" < ");
        if (mark < 0) continue;
        const QByteArray escaped = line.mid(mark + 3);
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            if (escaped[i] != '\\' || i + 1 >= escaped.size()) {
                bytes += escaped[i];
                continue;
            }
            const char e = escaped[++i];
            if (e == 'r')
                bytes += '\r';
            else if (e == 'n')
                bytes += '\n';
            else if (e == 'x' && i + 2 < escaped.size()) {
                bytes += char(escaped.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else
                bytes += e;
        }
    }
    static const QRegularExpression re(
        QStringLiteral("1(.)([0-9A-Fa-f]{8})([0-9A-Fa-f]{8})([0-9A-Fa-f]{4})\\r"));
    std::vector<Received> out;
    auto it = re.globalMatch(QString::fromLatin1(bytes));
    while (it.hasNext()) {
        const auto m = it.next();
        Received r;
        r.code = m.captured(1).at(0).toLatin1();
        r.time = m.captured(2).toUInt(nullptr, 16);
        r.volume = m.captured(3).toUInt(nullptr, 16);
        r.pressure = int16_t(m.captured(4).toUShort(nullptr, 16));
        out.push_back(r);
    }
    return out;
}

} // namespace

class TestKillRecover : public QObject {
    Q_OBJECT

    QByteArray Cli(const QStringList& args, int* code) {
        QProcess p;
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
        p.waitForFinished(60000);
        *code = p.exitCode();
        return p.readAllStandardOutput();
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }

    void killedTestIsRecovered() {
        const int repeat = qEnvironmentVariableIsSet("RX_KILL_REPEAT")
                               ? qEnvironmentVariableIntValue("RX_KILL_REPEAT")
                               : 3;
        for (int rep = 0; rep < repeat; ++rep) {
            QTemporaryDir dir;
            const QString journals = dir.filePath(QStringLiteral("journal"));
            const QString data = dir.filePath(QStringLiteral("data"));
            const QString traffic = dir.filePath(QStringLiteral("traffic.log"));
            SimProcess sim(QStringLiteral("k%1").arg(rep),
                           {"--model", "PXR-8", "--serial", "81119999", "--sample-period", "100",
                            "--prime-delay", "200", "--profile", "1:noise=5"});
            QVERIFY(sim.Ok());

            QProcess run;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("RIVULETRIX_TRAFFIC_LOG"), traffic);
            run.setProcessEnvironment(env);
            run.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                      {"run", sim.Link(), "--channel", "1", "--type", "flow", "--rate", "100",
                       "--stop-time", "01:00", "--journal-folder", journals, "--data-folder",
                       data});
            QVERIFY(run.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(!journal::List(journals).isEmpty(), 20000);
            QTest::qWait(300 + int(QRandomGenerator::global()->bounded(2700)));
            ::kill(pid_t(run.processId()), SIGKILL);
            QVERIFY(run.waitForFinished(5000));
            QCOMPARE(run.exitStatus(), QProcess::CrashExit);

            int code = -1;
            const QJsonArray done =
                QJsonDocument::fromJson(
                    Cli({"recover", "--journal-folder", journals, "--data-folder", data}, &code))
                    .array();
            QCOMPARE(done.size(), 1);
            const std::vector<Received> sent = ReceivedLines(traffic);
            if (code != 0) {
                // Killed before the journal's first second was written: all
                // the test had was its last second.
                QCOMPARE(done.at(0).toObject()[QStringLiteral("error")].toString(),
                         QStringLiteral("The journal holds no samples."));
                QVERIFY(sent.empty() || sent.back().time - sent.front().time <= 1200);
                continue;
            }
            const QString record = done.at(0).toObject()[QStringLiteral("record")].toString();
            CRivuletrixDoc doc;
            QVERIFY(doc.ReadRecordFile(record));
            QCOMPARE(doc.TestType, 'F');

            // The record's samples are the analyzer's lines in the order they
            // came (the program keeps a subset: it drops repeats and lines
            // closer than 100 ms), and at most the last second is missing.
            QVERIFY(!sent.empty());
            size_t next = 0;
            const int stored = doc.StoredCount();
            QVERIFY2(stored >= 2, "no sample recovered");
            for (int slot = 2; slot <= stored; ++slot) {
                while (next < sent.size() && (sent[next].time != doc.ElapsedTicks(slot) ||
                                              sent[next].volume != doc.VolumeAt(slot)))
                    ++next;
                QVERIFY2(next < sent.size(),
                         qPrintable(QStringLiteral("sample %1 was never sent").arg(slot)));
                QCOMPARE(doc.PressureAt(slot), sent[next].pressure);
                QCOMPARE(doc.StatusAt(slot), sent[next].code);
            }
            const uint32_t lastSent = sent.back().time;
            const uint32_t lastKept = doc.ElapsedTicks(stored);
            QVERIFY2(lastSent - lastKept <= 1200,
                     qPrintable(QStringLiteral("%1 ms missing").arg(lastSent - lastKept)));
        }
    }
};

QTEST_GUILESS_MAIN(TestKillRecover)
#include "test_kill_recover.moc"
