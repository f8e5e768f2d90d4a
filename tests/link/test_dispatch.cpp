// Reply dispatch: frames in, reply fields, signals, files and measurement
// lines out.
#include "link/FrameAssembler.h"
#include "link/ReplyDispatcher.h"

#include <QBuffer>
#include <QTest>

using namespace std::chrono_literals;

namespace {
struct Lines : LineSink {
    QList<QPair<int, QByteArray>> got;
    void DeliverLine(int ch, const char* line, size_t size) override {
        got.append({ch, QByteArray(line, qsizetype(size))});
    }
};

struct Rig {
    FrameAssembler frames;
    ReplyDispatcher d;
    Lines lines;
    Rig() { d.SetLineSink(&lines); }
    void Feed(const QByteArray& bytes) {
        frames.FeedBytes(bytes.constData(), size_t(bytes.size()), d);
    }
    bool Raised(AutoResetEvent& e) { return e.Wait(0ms) == AutoResetEvent::Result::Signalled; }
};
} // namespace

class TestDispatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordCount_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::newRow("042") << QByteArray("[RECS,042]\r\n") << 42;
        QTest::newRow("999") << QByteArray("[RECS,999]\r\n") << 999;
        QTest::newRow("short reply") << QByteArray("[RECS,4]\r\n") << 400 + (']' % 48) * 10;
        QTest::newRow("non-digit counts mod 48") << QByteArray("[RECS,0A1]\r\n") << 171;
    }
    void recordCount() {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        Rig r;
        r.Feed(reply);
        QVERIFY(r.Raised(r.d.RecordCountSignal));
        QCOMPARE(r.d.recordCount, count);
    }

    void status() {
        Rig r;
        r.Feed("[STAT,vvFFPPFFffFF]\r\n");
        QVERIFY(r.Raised(r.d.StatusSignal));
        QCOMPARE(r.d.ChannelStatus(0), QStringLiteral("vPf"));
        QCOMPARE(r.d.ChannelStatus(1), QStringLiteral("vPf"));
        QCOMPARE(r.d.ChannelStatus(2), QStringLiteral("FFF"));
        r.Feed("[STATUS,            ]\r\n"); // "[STAT" prefix, idle analyzer
        QCOMPARE(r.d.ChannelStatus(3), QStringLiteral("   "));
        r.Feed("[STAT,FF]\r\n"); // short: the texts end where the reply ended
        QCOMPARE(r.d.ChannelStatus(0), QStringLiteral("F"));
    }

    void battery() {
        Rig r;
        r.Feed("[BATSTATUS,L]\r\n");
        QVERIFY(r.Raised(r.d.BatterySignal));
        QCOMPARE(r.d.battery, 'L');
        r.Feed("[BATSTATUS,S]\r\n");
        QCOMPARE(r.d.battery, 'S');
    }

    // The fifth reply raises the signal however long ago the others came; a
    // sixth starts a new count.
    void parameters() {
        Rig r;
        r.Feed("[P1,Rivuletrix Labs]\r\n[P2,PXR-8]\r\n[P3,Infusion Analyzer]\r\n"
               "[P4,m,125%,Standard,07,T,S]\r\n");
        QVERIFY(!r.Raised(r.d.ParamsSignal));
        r.Feed("[P5,Bench 1]\r\n");
        QVERIFY(r.Raised(r.d.ParamsSignal));
        QCOMPARE(r.d.params.p1, QStringLiteral("Rivuletrix Labs"));
        QCOMPARE(r.d.params.p2, QStringLiteral("PXR-8"));
        QCOMPARE(r.d.params.p3, QStringLiteral("Infusion Analyzer"));
        QCOMPARE(r.d.params.pressureUnit, 2);
        QCOMPARE(r.d.params.percent, 125);
        QCOMPARE(r.d.params.p4, QStringLiteral("Standard"));
        QCOMPARE(r.d.params.twoDigit, 7);
        QCOMPARE(r.d.params.modeA, 1);
        QCOMPARE(r.d.params.modeB, 2);
        QCOMPARE(r.d.params.p5, QStringLiteral("Bench 1"));
        r.Feed("[P5,Bench 2]\r\n");
        QVERIFY(!r.Raised(r.d.ParamsSignal));
        QCOMPARE(r.d.paramCount, 1);
        // A P4 with a letter it does not know keeps the earlier unit.
        r.Feed("[P4,x,9%,T,12,B,V]\r\n");
        QCOMPARE(r.d.params.pressureUnit, 2);
        QCOMPARE(r.d.params.modeA, 3);
        QCOMPARE(r.d.params.modeB, 3);
        QCOMPARE(r.d.params.twoDigit, 12);
    }

    void serialNumbers_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("fields"); // serial, firmware, third, td1 serial, td1 fw
        QTest::newRow("analyzer") << QByteArray("[SN0,80001234,V2.10-0042,12345CAL]\r\n")
                                  << QStringList{"80001234", "V2.10-0042", "CAL", "", ""};
        QTest::newRow("limits 10/12/10")
            << QByteArray("[SN0,ABCDEFGHIJKLMN,123456789012345,xxxxx0123456789XYZ]\r\n")
            << QStringList{"ABCDEFGHIJ", "123456789012", "0123456789", "", ""};
        QTest::newRow("no fields after the serial")
            << QByteArray("[SN0,8000]\r\n") << QStringList{"8000]", "", "", "", ""};
        QTest::newRow("transducer of channel 1")
            << QByteArray("[SN1,T123,1.05]\r\n") << QStringList{"", "", "", "T123", "1.05"};
    }
    void serialNumbers() {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, fields);
        Rig r;
        r.Feed(reply);
        QVERIFY(r.Raised(r.d.SerialSignal));
        QCOMPARE(r.d.snSerial, fields[0]);
        QCOMPARE(r.d.snFirmware, fields[1]);
        QCOMPARE(r.d.snThird, fields[2]);
        QCOMPARE(r.d.tdSerial[0], fields[3]);
        QCOMPARE(r.d.tdFirmware[0], fields[4]);
    }

    void templateLines() {
        Rig r;
        r.Feed("[TMPLTCOUNT,012]\r\n");
        QVERIFY(r.Raised(r.d.TemplateCountSignal));
        QCOMPARE(r.d.templateCount, 12);

        r.d.templateBuffer.steps[5].type = 1; // left from an earlier download
        r.Feed("[TMPLT,0,Ward 4 check,Pump A]\r\n"
               "[TMPLT,1,FLOW,12.50,100.00,ML,1,30,5%]\r\n"
               "[TMPLT,2,OCCL,25.00,300,mmHg,0,10,0%]\r\n"
               "[TMPLT,3,PCA,2.00,10.00,ML,0,45,10%]\r\n"
               "[TMPLT,4,BOLUS,0.00,1.50,ML,0,0,0%]\r\n"
               "[TMPLT,5,FLOW,5.00,3.00,ml/hr,0, 5, 3%]\r\n");
        QVERIFY(!r.Raised(r.d.TemplateEndSignal));
        r.Feed("[TMPLTEND]\r\n");
        QVERIFY(r.Raised(r.d.TemplateEndSignal));
        const Template& t = r.d.templateBuffer;
        QCOMPARE(t.name, QStringLiteral("Ward 4 check"));
        QCOMPARE(t.deviceComments, QStringLiteral("Pump A"));
        QCOMPARE(t.stepCount, 5);
        QCOMPARE(t.steps[0], (TemplateStep{1, 100.0, 5, 12.5, 5, 1, 30}));
        QCOMPARE(t.steps[1], (TemplateStep{2, 300.0, 2, 25.0, 0, 0, 10}));
        QCOMPARE(t.steps[2], (TemplateStep{3, 10.0, 5, 2.0, 10, 0, 45}));
        QCOMPARE(t.steps[3], (TemplateStep{5, 1.5, 5, 0.0, 0, 0, 0}));
        QCOMPARE(t.steps[4], (TemplateStep{1, 3.0, 1, 5.0, 3, 0, 5}));
        QCOMPARE(t.steps[5], TemplateStep{}); // cleared by the header
    }

    // Three sections: N3, section 1, E1, section 2, E2, section 3, E0.
    void recordDownload() {
        Rig r;
        QBuffer file;
        file.open(QIODevice::ReadWrite);
        r.d.BeginRecordDownload(&file);
        r.Feed("H1,80001234,2.10\r\nH2,1,T123,1.05\r\nD1,:,0,0,0\r\nD2, ,1000,35,-2\r\n"
               "H1,80001234,2.10\r\nD1,:,0,0,0\r\n"
               "H1,80001234,2.10\r\nD1,:,0,0,0\r\nD2,o,500,10,700\r\n[END]\r\n");
        QVERIFY(r.Raised(r.d.RecordEndSignal));
        r.d.EndRecordDownload();
        QCOMPARE(file.data(),
                 QByteArray("N3\r\nH1,80001234,2.10\r\nH2,1,T123,1.05\r\nD1,:,0,0,0\r\n"
                            "D2, ,1000,35,-2\r\nE1\r\nH1,80001234,2.10\r\nD1,:,0,0,0\r\n"
                            "E2\r\nH1,80001234,2.10\r\nD1,:,0,0,0\r\nD2,o,500,10,700\r\n"
                            "E0"));
        QCOMPARE(r.d.RecordLinesTotal(), 9);

        // One section keeps N0; lines after the download are dropped.
        QBuffer one;
        one.open(QIODevice::ReadWrite);
        r.d.BeginRecordDownload(&one);
        r.Feed("D1,:,0,0,0\r\nH1,1,2\r\nD1,:,0,0,0\r\n[END]\r\n");
        r.d.EndRecordDownload();
        r.Feed("H1,late\r\n");
        QCOMPARE(one.data(), QByteArray("N0\r\nD1,:,0,0,0\r\nH1,1,2\r\nD1,:,0,0,0\r\nE0"));
    }

    void userNotes() {
        Rig r;
        QBuffer notes;
        notes.open(QIODevice::ReadWrite);
        r.Feed("[UN,dropped: no file]\r\n");
        r.d.BeginNotes(&notes);
        r.Feed("[UN,Check the inlet filter]\r\n[UN,]\r\n[UN,Calibrated 2026]\r\n[UNEND]\r\n");
        QVERIFY(r.Raised(r.d.NotesEndSignal));
        r.d.EndNotes();
        QCOMPARE(notes.data(), QByteArray("Check the inlet filter\n\nCalibrated 2026\n"));
    }

    void measurementLines() {
        Rig r;
        r.Feed("1 000003E800000064FFF6\r\n2o0000044c0000007a02bc\r\n"
               "4 0000\r\n5 000003E800000064FFF6\r\n");
        QCOMPARE(r.lines.got.size(), 3);
        QCOMPARE(r.lines.got[0], (QPair<int, QByteArray>{0, "1 000003E800000064FFF6"}));
        QCOMPARE(r.lines.got[1], (QPair<int, QByteArray>{1, "2o0000044c0000007a02bc"}));
        // A short line goes without CR and LF, so the document sees it short.
        QCOMPARE(r.lines.got[2], (QPair<int, QByteArray>{3, "4 0000"}));
        // Longer lines are cut to 22 characters.
        r.Feed("3 000003E800000064FFF6EXTRA\r\n");
        QCOMPARE(r.lines.got[3].second, QByteArray("3 000003E800000064FFF6"));
    }

    void otherReplies() {
        Rig r;
        r.Feed("[OK]\r\n[POLL,1,1,0,1]\r\n[LOG]\r\n[ERASED]\r\n[HEAD,a,bb,ccc]\r\n[XYZ]\r\n");
        QVERIFY(r.Raised(r.d.OkSignal));
        QVERIFY(r.Raised(r.d.PollSignal));
        QVERIFY(r.Raised(r.d.LogSignal));
        QVERIFY(r.Raised(r.d.ErasedSignal));
        QVERIFY(r.Raised(r.d.HeadSignal));
        QCOMPARE(r.d.head[0], QStringLiteral("a"));
        QCOMPARE(r.d.head[1], QStringLiteral("bb"));
        QCOMPARE(r.d.head[2], QStringLiteral("ccc"));
        QCOMPARE(r.d.framesIgnored.load(), 1u);
        // "[END" without a download still raises its signal.
        r.Feed("[END]\r\n");
        QVERIFY(r.Raised(r.d.RecordEndSignal));
    }
};

QTEST_APPLESS_MAIN(TestDispatch)
#include "test_dispatch.moc"
