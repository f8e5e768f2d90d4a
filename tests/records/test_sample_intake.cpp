// Live sample lines from the analyzer becoming samples.
#include "records/RivuletrixDoc.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Channel digit, code, 8 hex digits time, 8 volume, 4 pressure.
QByteArray Line(char code, uint32_t time, uint32_t volume, int16_t pressure) {
    return QByteArray("1") + code + QByteArray::number(time, 16).rightJustified(8, '0') +
           QByteArray::number(volume, 16).rightJustified(8, '0') +
           QByteArray::number(uint16_t(pressure), 16).rightJustified(4, '0');
}

} // namespace

class TestSampleIntake : public QObject {
    Q_OBJECT

    qint64 m_now = 1'000'000;
    int m_stopChecks = 0;

    void Prepare(CRivuletrixDoc& doc) {
        doc.Clock = [this] { return m_now; };
        doc.StopCheck = [this] { ++m_stopChecks; };
        doc.Run.running = true;
    }

private Q_SLOTS:
    void init() {
        m_now = 1'000'000;
        m_stopChecks = 0;
    }

    void storesFromSlotOne() {
        CRivuletrixDoc doc;
        Prepare(doc);
        doc.Run.waitingForData = true;
        doc.AddSample(Line('b', 100, 25, -3));
        doc.AddSample(Line(' ', 200, 50, 7));
        QCOMPARE(doc.StoredCount(), 3);
        QCOMPARE(doc.StatusAt(0), ' ');
        QCOMPARE(doc.ElapsedTicks(0), 0u);
        QCOMPARE(doc.StatusAt(1), 'b');
        QCOMPARE(doc.PressureAt(1), -3);
        QCOMPARE(doc.VolumeAt(2), 50u);
        QCOMPARE(doc.ElapsedTimeMs(), 200u);
        QVERIFY(doc.Run.dataReceived);
        QVERIFY(!doc.Run.waitingForData);
        QVERIFY(doc.Modified);
        QCOMPARE(m_stopChecks, 2);
        QVERIFY(doc.FormatSection().endsWith("D1,:,0,0,0\r\nD2,b,100,25,-3\r\nD3, ,200,50,7\r\n"));
    }

    void lineRules_data() {
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("stored");
        QList<QByteArray> l;
        QTest::newRow("21 characters are too few")
            << QList<QByteArray>{Line(' ', 100, 1, 0).left(21)} << 0;
        QTest::newRow("zero time dropped") << QList<QByteArray>{Line(' ', 0, 1, 0)} << 1;
        QTest::newRow("50 ms step dropped")
            << QList<QByteArray>{Line(' ', 100, 1, 0), Line(' ', 150, 2, 0)} << 2;
        QTest::newRow("100 ms step kept")
            << QList<QByteArray>{Line(' ', 100, 1, 0), Line(' ', 200, 2, 0)} << 3;
        QTest::newRow("50 ms kept after over-pressure")
            << QList<QByteArray>{Line('o', 100, 1, 0), Line(' ', 150, 2, 0)} << 3;
        QTest::newRow("upper-case over-pressure too")
            << QList<QByteArray>{Line(' ', 100, 1, 0), Line('O', 200, 1, 0), Line(' ', 210, 2, 0)}
            << 4;
        QTest::newRow("time going back dropped")
            << QList<QByteArray>{Line('o', 500, 1, 0), Line(' ', 400, 2, 0)} << 2;
        QTest::newRow("volume going back dropped")
            << QList<QByteArray>{Line(' ', 100, 9, 0), Line(' ', 300, 8, 0)} << 2;
        QTest::newRow("lower-case hex accepted")
            << QList<QByteArray>{QByteArray("1 000000ff0000000a00ff")} << 2;
        QTest::newRow("garbage hex dropped")
            << QList<QByteArray>{QByteArray("1 0000G0ff0000000a00ff")} << 0;
    }
    void lineRules() {
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, stored);
        CRivuletrixDoc doc;
        Prepare(doc);
        for (const QByteArray& line : lines) doc.AddSample(line);
        QCOMPARE(doc.StoredCount(), stored);
        // A dropped line leaves nothing behind in the array.
        QCOMPARE(int(doc.Samples().size()), stored <= 1 ? 0 : stored);
    }

    void hexFieldsAndSignedPressure() {
        CRivuletrixDoc doc;
        Prepare(doc);
        doc.AddSample("1R0001E2400ABCDEFFFFF6");
        QCOMPARE(doc.StoredCount(), 2);
        QCOMPARE(doc.StatusAt(1), 'R');
        QCOMPARE(doc.ElapsedTicks(1), 0x0001E240u);
        QCOMPARE(doc.VolumeAt(1), 0x0ABCDEFFu);
        QCOMPARE(doc.PressureAt(1), -10);
    }

    void nothingWhileEndingOrCancelled_data() {
        QTest::addColumn<bool>("ending");
        QTest::newRow("ending") << true;
        QTest::newRow("cancelled") << false;
    }
    void nothingWhileEndingOrCancelled() {
        QFETCH(bool, ending);
        CRivuletrixDoc doc;
        Prepare(doc);
        (ending ? doc.Run.ending : doc.Run.cancelled) = true;
        doc.Run.waitingForData = true;
        doc.AddSample(Line(' ', 100, 1, 0));
        QCOMPARE(doc.StoredCount(), 0);
        QVERIFY(doc.Run.waitingForData);
        QCOMPARE(m_stopChecks, 0);
    }

    void pcaSampleClearsFlowOrOcclusion() {
        CRivuletrixDoc doc;
        Prepare(doc);
        doc.TestType = 'P';
        doc.AddSample(Line(' ', 100, 1, 0));
        QVERIFY(!doc.FlowOrOcclusion);
        CRivuletrixDoc notRunning;
        Prepare(notRunning);
        notRunning.Run.running = false;
        notRunning.TestType = 'P';
        notRunning.AddSample(Line(' ', 100, 1, 0));
        QVERIFY(notRunning.FlowOrOcclusion);
        QVERIFY(!notRunning.Run.dataReceived);
    }

    void refreshEverySampleForAnHourThenEveryMinute() {
        CRivuletrixDoc doc;
        Prepare(doc);
        QSignalSpy spy(&doc, &CRivuletrixDoc::UpdateAllViews);
        uint32_t t = 0;
        const auto add = [&] {
            t += 100;
            doc.AddSample(Line(' ', t, t, 0));
        };
        add(); // acquisition starts now
        m_now += 3599;
        add();
        QCOMPARE(spy.count(), 2);
        m_now += 1; // one hour: the first sample after it refreshes
        add();
        QCOMPARE(spy.count(), 3);
        m_now += 59;
        add();
        QCOMPARE(spy.count(), 3);
        m_now += 1;
        add();
        add();
        QCOMPARE(spy.count(), 4);
        QCOMPARE(m_stopChecks, 6); // the stop check runs for every stored sample
    }
};

QTEST_GUILESS_MAIN(TestSampleIntake)
#include "test_sample_intake.moc"
