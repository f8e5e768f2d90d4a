// The device object over a real pseudo-terminal, against a scripted analyzer
// whose bytes and timing the test controls exactly.
#include "PtyPeer.h"
#include "TestMain.h"

#include "base/Prompter.h"
#include "link/Device.h"
#include "link/TrafficLog.h"
#include "records/RivuletrixDoc.h"

#include <QBuffer>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <future>
#include <thread>

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {
FoundAnalyzer Found(const QString& port) {
    FoundAnalyzer f;
    f.portName = port;
    f.name = QStringLiteral("Bench");
    f.serialNumber = QStringLiteral("80001234");
    f.kind = FoundAnalyzer::KindUsbSerial;
    f.model = QStringLiteral("PXR-8");
    for (int& c : f.channels) c = 1;
    return f;
}

QByteArray Line(int channel, char code, uint32_t time, uint32_t volume, int16_t pressure) {
    return QByteArray::number(channel) + code +
           QByteArray::number(time, 16).rightJustified(8, '0') +
           QByteArray::number(volume, 16).rightJustified(8, '0') +
           QByteArray::number(uint16_t(pressure), 16).rightJustified(4, '0') + "\r\n";
}

QList<QByteArray> Lines(const PtyPeer& peer) {
    QList<QByteArray> out;
    for (const auto& c : peer.Commands()) out << c.bytes;
    return out;
}
} // namespace

class TestDevice : public QObject {
    Q_OBJECT
    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void init() {
        m_prompter.messages.clear();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    // A new connection sends POLL then LOG, each after the write pause.
    void connectSendsPollThenLog() {
        PtyPeer peer;
        QVERIFY(peer.Ok());
        CDevice dev(Found(peer.SlavePath()));
        const auto start = steady_clock::now();
        QVERIFY(dev.StartConnection());
        QVERIFY(peer.WaitFor("[LOG]\r\n"));
        QCOMPARE(peer.All(), QByteArray("[POLL]\r\n[LOG]\r\n"));
        const auto cmds = peer.Commands();
        // Arrival times at the peer: a late read of the first command must not
        // look like a short pause, so the second is measured from the start.
        QVERIFY(cmds[0].at - start >= 45ms);
        QVERIFY(cmds[1].at - start >= 95ms);
        dev.DisconnectDevice();
        QVERIFY(peer.WaitFor("[BYE]\r\n"));
        QVERIFY(!dev.IsConnected());
        // After a disconnect nothing more is dispatched, nothing more is sent.
        peer.Send("[STAT,vvvvFFFFffff]\r\n");
        QTest::qWait(200);
        QCOMPARE(dev.GetChannelStatus(0), QString());
        dev.SendPOLL();
        QTest::qWait(100);
        // (The closed terminal is back in its cooked mode and echoes what the
        // peer wrote; what matters is that no second POLL came.)
        QVERIFY(peer.All().startsWith("[POLL]\r\n[LOG]\r\n[BYE]\r\n"));
        QCOMPARE(peer.All().count("[POLL]"), 1);
    }

    // The raw traffic log: every byte, with direction and time.
    void trafficLog() {
        QTemporaryDir dir;
        const QString path = dir.filePath("traffic.log");
        TrafficLog::Instance().SetPath(path);
        PtyPeer peer;
        peer.On("[POLL]", QByteArray("[POLL,1,0,0,0]\r\n"));
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        QVERIFY(peer.WaitFor("[LOG]\r\n"));
        QThread::msleep(100);
        dev.SendStartTest(0, 1, false, "C", "O", 1.0);
        QVERIFY(peer.WaitFor("O,100]"));
        dev.DisconnectDevice();
        TrafficLog::Instance().SetPath(QString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        const QString port = peer.SlavePath();
        QVERIFY(lines[0].endsWith(" " + port.toUtf8() + " > [POLL]\\r\\n"));
        QVERIFY(QDateTime::fromString(QString::fromUtf8(lines[0].left(23)), Qt::ISODateWithMs)
                    .isValid());
        QByteArray all;
        for (const QByteArray& l : lines) all += l + '\n';
        QVERIFY(all.contains(" < [POLL,1,0,0,0]\\r\\n"));
        QVERIFY(all.contains(" > [C1F,C,O,100]\\r\\n\\x00"));
        QVERIFY(all.contains(" > [BYE]\\r\\n"));
    }

    void openFailureShowsComError() {
        CDevice dev(Found(QStringLiteral("/nonexistent/tty")));
        QVERIFY(!dev.StartConnection());
        QCOMPARE(m_prompter.messages, QStringList{"Com Error"});
        AnalyzerParameters p;
        QCOMPARE(dev.GetParameters(p), 1);
    }

    // Guards over the wire: GETREC 1234 sends 999, DELREC 1000 nothing.
    void guardsOnTheWire() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        dev.SendGETREC(1234);
        dev.SendDELREC(1000);
        dev.SendDELREC(12);
        dev.SendStartTest(3, 1, true, "A,1", "JS", 12.5);
        QVERIFY(peer.WaitFor(QByteArray("JS,1250]\r\n\0", 11)));
        QCOMPARE(Lines(peer), (QList<QByteArray>{"[POLL]", "[LOG]", "[GETREC,999]", "[DELREC,12]",
                                                 "[C4FA,A-1,JS,1250]"}));
        QCOMPARE(m_prompter.messages, QStringList{"Record Number is greater than 999"});
        QVERIFY(peer.All().endsWith(QByteArray("]\r\n\0", 4)));
    }

    // Parameters: four replies are not enough; the late fifth one serves the
    // next request at once.
    void parametersFourThenLateFifth() {
        PtyPeer peer;
        peer.On("[GETPARAMS,0]",
                QByteArray("[P1,Rivuletrix Labs]\r\n[P2,PXR-8]\r\n"
                           "[P3,Infusion Analyzer]\r\n[P4,m,100%,Std,07,V,N]\r\n"));
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        AnalyzerParameters p;
        p.p1 = QStringLiteral("unchanged");
        QCOMPARE(dev.GetParameters(p), 1);
        QCOMPARE(p.p1, QStringLiteral("unchanged"));
        QVERIFY(dev.LastError().contains(QLatin1String("no reply")));

        peer.Send("[P5,Bench 1]\r\n");
        QTRY_VERIFY(dev.Dispatcher().ParamsSignal.IsSet());
        peer.On("[GETPARAMS,0]", QByteArray()); // the analyzer stays silent now
        QCOMPARE(dev.GetParameters(p), 0);
        QCOMPARE(p.p2, QStringLiteral("PXR-8"));
        QCOMPARE(p.p5, QStringLiteral("Bench 1"));
        dev.DisconnectDevice();
    }

    // Status cycle: a silent analyzer makes each poll wait its full second;
    // after a reply the next request goes at once, and the status is read.
    void statusCycle() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        auto t0 = steady_clock::now();
        dev.SendSTATUS();
        QVERIFY(steady_clock::now() - t0 >= 950ms);
        QVERIFY(peer.WaitFor("[STATUS]\r\n"));

        peer.On("[STATUS]", QByteArray("[STAT,vvFFPPFFffFF]\r\n"));
        t0 = steady_clock::now();
        dev.SendSTATUS(); // still no reply to the first request: waits again
        QVERIFY(steady_clock::now() - t0 >= 950ms);
        QTRY_COMPARE(dev.GetChannelStatus(0), QStringLiteral("vPf"));
        t0 = steady_clock::now();
        dev.SendSTATUS(); // the reply came: no wait
        QVERIFY(steady_clock::now() - t0 < 900ms);
        QCOMPARE(dev.GetChannelStatus(2), QStringLiteral("FFF"));

        peer.On("[GETBATSTATUS]", QByteArray("[BATSTATUS,S]\r\n"));
        dev.PollBattery(); // waits, sends; the reply arrives afterwards
        QTRY_COMPARE(dev.LastBatteryReply(), 'S');
        QCOMPARE(dev.PollBattery(), 'S');
        dev.DisconnectDevice();
    }

    // A PXR2K is polled for status and battery until it reports 'S'; then
    // the cycle sends nothing more for it.
    void statusCycleStopsAfterShutdown() {
        PtyPeer peer;
        peer.On("[STATUS]", QByteArray("[STAT,            ]\r\n"));
        peer.On("[GETBATSTATUS]", QByteArray("[BATSTATUS,S]\r\n"));
        FoundAnalyzer f = Found(peer.SlavePath());
        f.model = QStringLiteral("PXR2K");
        CDevice dev(f);
        QVERIFY(dev.StartConnection());
        // The battery reply usually lands after the cycle has looked, so the
        // change shows on the next cycle; on a busy machine it may be in time.
        const bool changedAtOnce = dev.PollStatusCycle();
        QVERIFY(peer.WaitFor("[GETBATSTATUS]\r\n"));
        QTRY_COMPARE(dev.LastBatteryReply(), 'S');
        if (!changedAtOnce) QVERIFY(dev.PollStatusCycle()); // H -> S
        QCOMPARE(dev.BatteryState.load(), 'S');
        // Everything sent before a POLL has arrived once the POLL has.
        const auto flushed = [&] {
            const qsizetype polls = peer.All().count("[POLL]\r\n");
            dev.SendPOLL();
            return peer.WaitForCount("[POLL]\r\n", polls + 1);
        };
        QVERIFY(flushed());
        const qsizetype before = peer.Commands().size();
        QVERIFY(!dev.PollStatusCycle());
        QVERIFY(flushed());
        QCOMPARE(peer.Commands().size(), before + 1); // the POLL alone
        dev.DisconnectDevice();
    }

    // Measurement lines reach AddSample on the document's thread, per channel;
    // a channel without a document drops them.
    void measurementLinesReachTheDocument() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        CRivuletrixDoc doc1, doc3;
        const QThread* docThread = nullptr;
        int wrongThread = 0;
        connect(&doc1, &CRivuletrixDoc::UpdateAllViews, this, [&] {
            docThread = QThread::currentThread();
            if (docThread != thread()) ++wrongThread;
        });
        dev.SetChannelDoc(0, &doc1);
        dev.SetChannelDoc(2, &doc3);
        QVERIFY(dev.StartConnection());
        QByteArray burst;
        for (uint32_t i = 1; i <= 20; ++i) {
            burst += Line(1, ' ', i * 100, i * 35, int16_t(-3));
            burst += Line(2, ' ', i * 100, i * 35, 0);
            burst += Line(3, i == 5 ? 'o' : ' ', i * 100, i * 10, 700);
        }
        // Split across writes, with garbage and NULs between lines.
        peer.Send(burst.left(37));
        peer.Send(QByteArray("zz\x01\x02", 4) + burst.mid(37, 500));
        peer.Send(QByteArray("\r\n", 2) + burst.mid(537));
        QTRY_COMPARE(doc1.StoredCount(), 21);
        QTRY_COMPARE(doc3.StoredCount(), 21);
        QCOMPARE(wrongThread, 0);
        QCOMPARE(doc1.Samples()[20].time, 2000u);
        QCOMPARE(doc1.Samples()[20].pressure, int16_t(-3));
        QCOMPARE(doc3.Samples()[5].code, 'o');
        QVERIFY(doc3.KeepEverySample);

        // Removing the document stops delivery.
        dev.SetChannelDoc(0, nullptr);
        peer.Send(Line(1, ' ', 9000, 9000, 0) + Line(3, ' ', 9000, 9000, 0));
        QTRY_COMPARE(doc3.StoredCount(), 22);
        QCOMPARE(doc1.StoredCount(), 21);
        dev.DisconnectDevice();
    }

    void recordDownload() {
        PtyPeer peer;
        const QByteArray section = "H1,80001234,2.10\r\nH2,1,T123,1.05\r\nD1,:,0,0,0\r\n"
                                   "D2, ,1000,350,-2\r\n";
        peer.On("[GETREC,",
                [section](const QByteArray&) { return section + section + section + "[END]\r\n"; });
        peer.On("[RECS]", QByteArray("[RECS,003]\r\n"));
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        int lastProgress = 0; // queued to this thread
        connect(&dev, &CDevice::RecordLinesReceived, this, [&](int n) { lastProgress = n; });
        int count = 0;
        QCOMPARE(dev.GetRecordCount(count), 0);
        QCOMPARE(count, 3);
        QTemporaryDir dir;
        QFile file(dir.filePath("rec.p8d"));
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        QCOMPARE(dev.GetRecord(2, file), 0);
        QVERIFY(!file.isOpen());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(),
                 "N3\r\n" + section + "E1\r\n" + section + "E2\r\n" + section + "E0");
        QVERIFY(Lines(peer).contains("[GETREC,002]"));
        QTRY_COMPARE(lastProgress, 12);
        dev.DisconnectDevice();
    }

    // A silent analyzer: downloads fail after their idle limit, requests
    // after theirs, and nothing hangs.
    void silentAnalyzer() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        dev.SetDownloadIdleLimit(600ms);
        QBuffer buf;
        buf.open(QIODevice::ReadWrite);
        auto t0 = steady_clock::now();
        QCOMPARE(dev.GetRecord(1, buf), 1);
        QVERIFY(steady_clock::now() - t0 >= 550ms);
        QVERIFY(dev.LastError().contains(QLatin1String("no line")));
        Template t;
        QCOMPARE(dev.GetTemplate(1, t), 1);
        int n = -1;
        QCOMPARE(dev.GetRecordCount(n), 1);
        QCOMPARE(n, -1);
        dev.DisconnectDevice();
    }

    // A download that gave up is answered late: the next download of its
    // kind still comes out complete and right, whether the late reply came
    // before it was asked for or while it waits, and so does the one after.
    void lateEndReplyIsNotTheNextDownloads_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("whileWaiting");
        for (const char* kind : {"record", "template", "notes"}) {
            QTest::addRow("%s, late reply before the next", kind)
                << QString::fromLatin1(kind) << false;
            QTest::addRow("%s, late reply during the next", kind)
                << QString::fromLatin1(kind) << true;
        }
    }
    void lateEndReplyIsNotTheNextDownloads() {
        QFETCH(QString, kind);
        QFETCH(bool, whileWaiting);
        const auto reply = [kind](int n) -> QByteArray {
            const QByteArray k = QByteArray::number(n);
            if (kind == QLatin1String("record"))
                return "H1,80001234,2.10\r\nD1,:,0,0,0\r\nD2, ,1000," + k + ",0\r\n[END]\r\n";
            if (kind == QLatin1String("template"))
                return "[TMPLT,0,Name" + k + ",C]\r\n[TMPLT,1,FLOW,10.00,5.00,ML,1,0,5%]\r\n" +
                       (n > 1 ? "[TMPLT,2,FLOW,10.00,5.00,ML,1,0,5%]\r\n" : "") + "[TMPLTEND]\r\n";
            return "[UN,Notes " + k + "]\r\n[UNEND]\r\n";
        };
        const auto expected = [kind](int n) -> QByteArray {
            const QByteArray k = QByteArray::number(n);
            if (kind == QLatin1String("record"))
                return "N0\r\nH1,80001234,2.10\r\nD1,:,0,0,0\r\nD2, ,1000," + k + ",0\r\nE0";
            if (kind == QLatin1String("template"))
                return "Name" + k + " steps " + QByteArray::number(n > 1 ? 2 : 1);
            return "Notes " + k + "\n";
        };
        PtyPeer peer;
        std::atomic<int> asked{0};
        const QByteArray command = kind == QLatin1String("record")     ? "[GETREC,"
                                   : kind == QLatin1String("template") ? "[GETTMPLT,"
                                                                       : "[GETUSERNOTES]";
        // The first request goes unanswered; later ones are answered at once.
        peer.On(command, [&asked, reply](const QByteArray&) {
            const int n = ++asked;
            return n == 1 ? QByteArray() : reply(n);
        });
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        // Gaps of a quarter of the limit, the whole download well past it: a
        // busy machine may stretch a gap, but not fourfold.
        dev.SetDownloadIdleLimit(2000ms);
        dev.SetLateReplyQuiet(800ms);
        const auto download = [&](int n) -> std::pair<int, QByteArray> {
            if (kind == QLatin1String("template")) {
                Template t;
                const int r = dev.GetTemplate(n, t);
                return {r, t.name.toUtf8() + " steps " + QByteArray::number(t.stepCount)};
            }
            QBuffer buf;
            buf.open(QIODevice::ReadWrite);
            const int r =
                kind == QLatin1String("record") ? dev.GetRecord(n, buf) : dev.GetUserNotes(buf);
            return {r, buf.data()};
        };
        QCOMPARE(download(1).first, 1);
        std::pair<int, QByteArray> second;
        if (whileWaiting) {
            auto next = std::async(std::launch::async, [&] { return download(2); });
            QThread::msleep(300);
            peer.Send(reply(1));
            second = next.get();
        } else {
            peer.Send(reply(1));
            QThread::msleep(300);
            second = download(2);
        }
        QCOMPARE(second.first, 0);
        QCOMPARE(second.second, expected(2));
        const auto third = download(3);
        QCOMPARE(third.first, 0);
        QCOMPARE(third.second, expected(3));
        dev.DisconnectDevice();
    }

    // Lines keep a slow download alive past its idle limit.
    void slowDownloadKeepsGoing() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        // Gaps of a quarter of the limit, the whole download well past it: a
        // busy machine may stretch a gap, but not fourfold.
        dev.SetDownloadIdleLimit(2000ms);
        auto result = std::async(std::launch::async, [&] {
            QBuffer buf;
            buf.open(QIODevice::ReadWrite);
            const int r = dev.GetRecord(1, buf);
            return std::make_pair(r, buf.data());
        });
        QVERIFY(peer.WaitFor("[GETREC,001]\r\n"));
        for (int i = 1; i <= 6; ++i) {
            QThread::msleep(500);
            peer.Send("D" + QByteArray::number(i) + ",:,0,0,0\r\n");
        }
        peer.Send("[END]\r\n");
        const auto [r, data] = result.get();
        QCOMPARE(r, 0);
        QVERIFY(data.endsWith("D6,:,0,0,0\r\nE0"));
        dev.DisconnectDevice();
    }

    // Unplugging during a download: the request fails at once, the device
    // reports itself lost, later requests fail at once, nothing crashes.
    void unplugDuringDownload() {
        PtyPeer peer;
        CDevice dev(Found(peer.SlavePath()));
        int lost = 0; // queued to this thread
        connect(&dev, &CDevice::AnalyzerLost, this, [&] { ++lost; });
        QVERIFY(dev.StartConnection());
        auto result = std::async(std::launch::async, [&] {
            QBuffer buf;
            buf.open(QIODevice::ReadWrite);
            const auto t0 = steady_clock::now();
            const int r = dev.GetRecord(1, buf);
            return std::make_pair(r, steady_clock::now() - t0);
        });
        QVERIFY(peer.WaitFor("[GETREC,001]\r\n"));
        peer.Send("H1,80001234,2.10\r\nD1,:,0,0,0\r\n");
        QThread::msleep(100);
        peer.Unplug();
        const auto [r, took] = result.get();
        QCOMPARE(r, 1);
        QVERIFY2(took < 10s, "the download waited out its limit");
        QTRY_COMPARE(lost, 1);
        QVERIFY(dev.IsLost());
        QVERIFY(dev.LastError().contains(QLatin1String("unplugged")));
        AnalyzerParameters p;
        const auto t0 = steady_clock::now();
        QCOMPARE(dev.GetParameters(p), 1);
        dev.SendSTATUS();
        QVERIFY(steady_clock::now() - t0 < 500ms);
        dev.DisconnectDevice();
    }

    // An analyzer that never stops answering a download: the download is
    // cut at its byte limit with a clear error and bounded memory and disk;
    // the next download of the kind first waits the stream out, and fails
    // clearly when it never ends; once the line is quiet it succeeds.
    void endlessReplyIsCutAtItsLimit_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("streamStops");
        for (const char* kind : {"record", "template", "notes"}) {
            QTest::addRow("%s, stream stops later", kind) << QString::fromLatin1(kind) << true;
            QTest::addRow("%s, stream never stops", kind) << QString::fromLatin1(kind) << false;
        }
    }
    void endlessReplyIsCutAtItsLimit() {
        QFETCH(QString, kind);
        QFETCH(bool, streamStops);
        const bool record = kind == QLatin1String("record");
        const bool tmplt = kind == QLatin1String("template");
        const QByteArray command = record ? "[GETREC," : tmplt ? "[GETTMPLT," : "[GETUSERNOTES]";
        const QByteArray line = record  ? "D1,:,1000,2000,30\r\n"
                                : tmplt ? "[TMPLT,1,FLOW,10.00,5.00,ML,1,0,5%]\r\n"
                                        : "[UN,again and again]\r\n";
        const QByteArray good = record  ? "H1,80001234,2.10\r\nD1,:,0,0,0\r\n[END]\r\n"
                                : tmplt ? "[TMPLT,0,Good,C]\r\n[TMPLTEND]\r\n"
                                        : "[UN,Good]\r\n[UNEND]\r\n";
        constexpr qint64 kLimit = 4096;
        PtyPeer peer;
        std::atomic<int> asked{0};
        std::atomic<bool> streaming{false};
        peer.On(command, [&](const QByteArray&) {
            if (++asked == 1) streaming = true;
            return streaming ? QByteArray() : good;
        });
        std::atomic<bool> stop{false};
        std::thread stream([&] {
            while (!stop) {
                if (streaming) peer.Send(line.repeated(8));
                QThread::msleep(5);
            }
        });
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        dev.SetDownloadIdleLimit(2s);
        dev.SetLateReplyQuiet(300ms);
        // Without an end reply the line counts as quiet only after a whole idle
        // limit of silence.
        dev.SetSettleLimit(5s);
        for (auto k :
             {CDevice::Download::Record, CDevice::Download::Template, CDevice::Download::Notes})
            dev.SetDownloadByteLimit(k, kLimit);
        const auto download = [&](int n) -> std::pair<int, QByteArray> {
            if (tmplt) {
                Template t;
                const int r = dev.GetTemplate(n, t);
                return {r, t.name.toUtf8()};
            }
            QBuffer buf;
            buf.open(QIODevice::ReadWrite);
            const int r = record ? dev.GetRecord(n, buf) : dev.GetUserNotes(buf);
            return {r, buf.data()};
        };

        const auto first = download(1);
        QCOMPARE(first.first, 1);
        QVERIFY2(dev.LastError().contains(QLatin1String("passed 4096 bytes")),
                 qPrintable(dev.LastError()));
        QVERIFY(first.second.size() <= kLimit + 8);

        if (streamStops) {
            auto quiet = std::async(std::launch::async, [&] {
                QThread::msleep(500);
                streaming = false;
            });
            const auto second = download(2);
            QCOMPARE(second.first, 0);
            QVERIFY(record  ? second.second.contains("H1,80001234")
                    : tmplt ? second.second == "Good"
                            : second.second == "Good\n");
        } else {
            const auto second = download(2);
            QCOMPARE(second.first, 1);
            QVERIFY2(dev.LastError().contains(QLatin1String("still sending")),
                     qPrintable(dev.LastError()));
            QCOMPARE(asked.load(), 1); // the second request never went out
            streaming = false;
            QThread::msleep(400);
            QCOMPARE(download(3).first, 0);
        }
        stop = true;
        stream.join();
        dev.DisconnectDevice();
    }

    void notesDownloadAndUpload() {
        PtyPeer peer;
        peer.On("[GETUSERNOTES]", QByteArray("[UN,First line]\r\n[UN,Second]\r\n[UNEND]\r\n"));
        CDevice dev(Found(peer.SlavePath()));
        QVERIFY(dev.StartConnection());
        QBuffer notes;
        notes.open(QIODevice::ReadWrite);
        QCOMPARE(dev.GetUserNotes(notes), 0);
        QCOMPARE(notes.data(), QByteArray("First line\nSecond\n"));

        QByteArray text(230, 'n');
        QBuffer out(&text);
        out.open(QIODevice::ReadOnly);
        dev.SetUserNotesFile(&out);
        dev.SendSETUSERNOTES();
        QVERIFY(peer.WaitFor(text + "]"));
        QVERIFY(peer.All().endsWith("[SETUSERNOTES]\r\n[" + text + "]"));
        dev.DisconnectDevice();
    }
};

RX_LINK_TEST_MAIN(TestDevice)
#include "test_device.moc"
