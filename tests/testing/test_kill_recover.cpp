// A command-line test killed with SIGKILL at a random moment, then
// recovered: the record reads back, holds only samples the analyzer sent, in
// the order they came, and misses at most the last second of them. Once with
// one channel, once with four analyzers and sixteen channels.
// RX_KILL_REPEAT sets the number of kills (a few here; 50 by hand, with
// QTEST_FUNCTION_TIMEOUT=3600000 for the sixteen-channel case).
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

#include <QMap>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

struct Received {
    uint32_t time = 0, volume = 0;
    int pressure = 0;
    char code = ' ';
};

// Measurement lines of one channel as the traffic log holds what was
// received from the port (every port when none is named).
std::vector<Received> ReceivedLines(const QString& log, const QString& port = {}, int channel = 1) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes;
    const QByteArray from = ' ' + port.toUtf8() + " < ";
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!port.isEmpty() && !line.contains(from)) continue;
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
    const QRegularExpression re(
        QStringLiteral("%1(.)([0-9A-Fa-f]{8})([0-9A-Fa-f]{8})([0-9A-Fa-f]{4})\\r").arg(channel));
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

int Repeat(int byDefault) {
    return qEnvironmentVariableIsSet("RX_KILL_REPEAT")
               ? qEnvironmentVariableIntValue("RX_KILL_REPEAT")
               : byDefault;
}

// The recovered record against what the program received: only samples the
// analyzer sent, in the order they came (the program keeps a subset: it drops
// repeats and lines closer than 100 ms), and at most the last second missing.
// Returns the milliseconds missing at the end.
uint32_t CheckRecord(const CRivuletrixDoc& doc, const std::vector<Received>& sent) {
    uint32_t missing = 0;
    [&] {
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
        missing = sent.back().time - doc.ElapsedTicks(stored);
        QVERIFY2(missing <= 1200, qPrintable(QStringLiteral("%1 ms missing").arg(missing)));
    }();
    return missing;
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
        const int repeat = Repeat(3);
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
            CheckRecord(doc, sent);
            if (QTest::currentTestFailed()) return;
        }
    }

    // Four analyzers, sixteen channels at 10 Hz in one process, killed at a
    // random moment: all sixteen tests are recovered.
    void sixteenChannelsKilledAreRecovered() {
        const int repeat = Repeat(2);
        int records = 0, empty = 0;
        uint32_t worst = 0;
        std::vector<uint32_t> missingAll;
        for (int rep = 0; rep < repeat; ++rep) {
            QTemporaryDir dir;
            const QString journals = dir.filePath(QStringLiteral("journal"));
            const QString data = dir.filePath(QStringLiteral("data"));
            const QString traffic = dir.filePath(QStringLiteral("traffic.log"));
            std::vector<std::unique_ptr<SimProcess>> sims;
            QStringList ports;
            QMap<QString, QString> portOf; // serial number -> port
            for (int a = 0; a < 4; ++a) {
                const QString serial = QStringLiteral("8111%1").arg(1000 + rep * 10 + a);
                QStringList args{"--model",         "PXR-8", "--serial",      serial,
                                 "--sample-period", "100",   "--prime-delay", "200"};
                for (int c = 1; c <= 4; ++c)
                    args << "--profile" << QStringLiteral("%1:noise=5").arg(c);
                sims.push_back(
                    std::make_unique<SimProcess>(QStringLiteral("k%1a%2").arg(rep).arg(a), args));
                QVERIFY(sims.back()->Ok());
                ports << sims.back()->Link();
                portOf[serial] = sims.back()->Link();
            }

            QProcess run;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("RIVULETRIX_TRAFFIC_LOG"), traffic);
            run.setProcessEnvironment(env);
            run.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                      QStringList{"run"} + ports +
                          QStringList{"--channel", "all", "--type", "flow", "--rate", "100",
                                      "--stop-time", "01:00", "--journal-folder", journals,
                                      "--data-folder", data});
            QVERIFY(run.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(journal::List(journals).size() == 16, 60000);
            QTest::qWait(300 + int(QRandomGenerator::global()->bounded(4700)));
            ::kill(pid_t(run.processId()), SIGKILL);
            QVERIFY(run.waitForFinished(5000));
            QCOMPARE(run.exitStatus(), QProcess::CrashExit);

            int code = -1;
            const QJsonArray done =
                QJsonDocument::fromJson(
                    Cli({"recover", "--journal-folder", journals, "--data-folder", data}, &code))
                    .array();
            QCOMPARE(done.size(), 16);
            QSet<QString> seen;
            for (const QJsonValue& v : done) {
                const QJsonObject o = v.toObject();
                const QString record = o[QStringLiteral("record")].toString();
                if (record.isEmpty()) {
                    // Killed before this journal's first second was written.
                    QCOMPARE(o[QStringLiteral("error")].toString(),
                             QStringLiteral("The journal holds no samples."));
                    ++empty;
                    continue;
                }
                CRivuletrixDoc doc;
                QVERIFY(doc.ReadRecordFile(record));
                QCOMPARE(doc.TestType, 'F');
                const QString port = portOf.value(doc.InstSerialNum);
                QVERIFY2(!port.isEmpty(), qPrintable(doc.InstSerialNum));
                const QString key = QStringLiteral("%1/%2").arg(port).arg(doc.ChannelNo + 1);
                QVERIFY2(!seen.contains(key), qPrintable(key));
                seen << key;
                const uint32_t missing =
                    CheckRecord(doc, ReceivedLines(traffic, port, doc.ChannelNo + 1));
                if (QTest::currentTestFailed()) {
                    qWarning() << "kill" << rep << "record" << record << "of" << key;
                    return;
                }
                worst = std::max(worst, missing);
                missingAll.push_back(missing);
                ++records;
            }
            qInfo("kill %d: %d records so far, worst %u ms missing", rep + 1, records, worst);
        }
        std::sort(missingAll.begin(), missingAll.end());
        qInfo("%d kills: %d records recovered, %d journals without samples; ms missing at the "
              "end: median %u, worst %u",
              repeat, records, empty, missingAll.empty() ? 0u : missingAll[missingAll.size() / 2],
              worst);
    }
};

QTEST_GUILESS_MAIN(TestKillRecover)
#include "test_kill_recover.moc"
