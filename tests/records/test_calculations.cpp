// Flows, averages, bolus edges and counts, volume steps, pressure units and
// elapsed-time text.
#include "records/RivuletrixDoc.h"

#include <QTest>

namespace {

struct Row {
    uint32_t time;
    uint32_t volume;
    char code = ' ';
};

// A loaded record: rows fill slots 1..n.
void Fill(CRivuletrixDoc& doc, const QList<Row>& rows, bool oldModel = false) {
    QByteArray file = oldModel ? "H19,PXR-7\n" : "H19,PXR-8\n";
    file += "D1,:,0,0,0\n";
    for (qsizetype k = 0; k < rows.size(); ++k)
        file += "D" + QByteArray::number(k + 2) + "," + rows[k].code + "," +
                QByteArray::number(rows[k].time) + "," + QByteArray::number(rows[k].volume) +
                ",0\n";
    doc.ReadRecordBytes(file.constData(), size_t(file.size()));
}

} // namespace

class TestCalculations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void flowFromDelta_data() {
        QTest::addColumn<bool>("oldModel");
        QTest::addColumn<uint>("dt");
        QTest::addColumn<uint>("dv");
        QTest::addColumn<double>("flow");
        QTest::newRow("100 ms, 2.5 ul: 90 ml/h") << false << 100u << 25u << 9000.0;
        QTest::newRow("no volume") << false << 100u << 0u << 0.0;
        QTest::newRow("no time step gives no flow") << false << 0u << 25u << 0.0;
        QTest::newRow("dv x 10 wraps in 32 bits")
            << false << 1000u << 500000000u << double(uint32_t(5000000000ull)) * 3.6;
        QTest::newRow("old: 2 s, 100 units") << true << 512u << 100u << 1800.0;
        QTest::newRow("old: large volume")
            << true << 1024u << 120000000u << double(120000000u / 4u * 36u);
        QTest::newRow("old: long window") << true << 76800u << 1000u << double(1000u * 36u / 300u);
        QTest::newRow("old: mid volume") << true << 256u << 450001u << double(450001u * 36u);
        QTest::newRow("old: no time") << true << 0u << 5u << 4294967295.0;
    }
    void flowFromDelta() {
        QFETCH(bool, oldModel);
        QFETCH(uint, dt);
        QFETCH(uint, dv);
        QFETCH(double, flow);
        CRivuletrixDoc doc;
        doc.NewModel = !oldModel;
        QCOMPARE(doc.FlowFromDelta(dt, dv), flow);
    }

    void flowOver_data() {
        QTest::addColumn<QList<Row>>("rows"); // slots 2..
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("n");
        QTest::addColumn<double>("flow");
        const QList<Row> even = {{100, 25}, {200, 50}, {300, 75}, {400, 100}};
        QTest::newRow("one sample back") << even << 3 << 1 << 9000.0;
        QTest::newRow("slot 0 is out") << even << 0 << 1 << 0.0;
        QTest::newRow("beyond the array") << even << 9 << 1 << 0.0;
        QTest::newRow("n above i is cut to i")
            << QList<Row>{{100, 10}, {200, 50}, {300, 60}} << 4 << 99 << 60.0 * 10 / 300 * 3600;
        QTest::newRow("60 ms apart widens to 100 ms")
            << QList<Row>{{100, 10}, {160, 16}, {220, 22}} << 4 << 1 << 12.0 * 10 / 120 * 3600;
        QTest::newRow("C slot passed over")
            << QList<Row>{{100, 10}, {200, 20, 'C'}, {300, 30}} << 4 << 1 << 20.0 * 10 / 200 * 3600;
        QTest::newRow("decreasing volume") << QList<Row>{{100, 50}, {200, 40}} << 3 << 1 << 0.0;
        QTest::newRow("volume window of 50 units")
            << QList<Row>{{100, 20}, {200, 40}, {300, 60}, {400, 80}} << 5 << -50
            << 60.0 * 10 / 300 * 3600;
        QTest::newRow("volume window longer than the record")
            << QList<Row>{{100, 20}, {200, 40}} << 3 << -5000 << 40.0 * 10 / 200 * 3600;
    }
    void flowOver() {
        QFETCH(QList<Row>, rows);
        QFETCH(int, i);
        QFETCH(int, n);
        QFETCH(double, flow);
        CRivuletrixDoc doc;
        Fill(doc, rows);
        QCOMPARE(doc.FlowOver(i, n), flow);
    }

    void volumeWindowCoversHalfAMillilitre() {
        CRivuletrixDoc doc;
        QList<Row> rows;
        for (uint32_t k = 1; k <= 400; ++k) rows.append({k * 100, k * 30});
        Fill(doc, rows);
        const int last = doc.StoredCount();
        // 0.5 ml = 5000 units at 30 units a slot: 167 slots back.
        const double expected = 167.0 * 30 * 10 / (167 * 100) * 3600;
        QCOMPARE(doc.FlowOver(last, -5000), expected);
    }

    void averageFlow() {
        CRivuletrixDoc doc;
        Fill(doc, {{100, 25}, {200, 50}});
        QCOMPARE(doc.AverageFlowAt(0), 0.0);
        QCOMPARE(doc.AverageFlowAt(3), 9000.0);
        QCOMPARE(doc.AverageFlowAt(-1), 0.0);
        QCOMPARE(doc.AverageFlowAt(4), 0.0);
    }

    void oldModelTimes() {
        CRivuletrixDoc doc;
        Fill(doc, {{512, 100}, {1024, 200}}, true);
        QCOMPARE(doc.TicksPerSecond, 256);
        QCOMPARE(doc.ElapsedTicks(3), 4096u);
        QCOMPARE(doc.FlowOver(3, 1), 1800.0); // 512 ticks, 100 units
    }

    void bolusEdgesFromCodes_data() {
        QTest::addColumn<QList<Row>>("rows");
        QTest::addColumn<int>("i");
        QTest::addColumn<int>("edge");
        QTest::newRow("R starts") << QList<Row>{{100, 1}, {200, 2, 'R'}} << 3 << 1;
        QTest::newRow("r starts") << QList<Row>{{100, 1}, {200, 2, 'r'}} << 3 << 1;
        QTest::newRow("T ends") << QList<Row>{{100, 1}, {200, 2, 'T'}} << 3 << -1;
        QTest::newRow("t is nothing") << QList<Row>{{100, 1}, {200, 2, 't'}} << 3 << 0;
        QTest::newRow("bubble two before")
            << QList<Row>{{100, 1, 'b'}, {200, 2}, {300, 3, 'R'}} << 4 << 0;
        QTest::newRow("bubble just after")
            << QList<Row>{{100, 1}, {200, 2, 'R'}, {300, 3, 'b'}} << 3 << 0;
        QTest::newRow("bubble three before is far")
            << QList<Row>{{100, 1, 'b'}, {200, 2}, {300, 3}, {400, 4, 'R'}} << 5 << 1;
        QTest::newRow("B does not suppress") << QList<Row>{{100, 1, 'B'}, {200, 2, 'R'}} << 3 << 1;
    }
    void bolusEdgesFromCodes() {
        QFETCH(QList<Row>, rows);
        QFETCH(int, i);
        QFETCH(int, edge);
        CRivuletrixDoc doc;
        Fill(doc, rows);
        QCOMPARE(doc.BolusEdgeAt(i), edge);
    }

    void oldModelBolusDetector() {
        // 1 ml/h basal, then a burst, then basal again: k = 2 thresholds.
        CRivuletrixDoc doc;
        QList<Row> rows;
        uint32_t t = 0, v = 0;
        const auto step = [&](uint32_t dv) {
            t += 256; // one second
            v += dv;
            rows.append({t, v});
        };
        for (int k = 0; k < 5; ++k) step(3);   // 3 units/s ~ 1.08 ml/h
        for (int k = 0; k < 3; ++k) step(300); // a bolus
        for (int k = 0; k < 5; ++k) step(3);
        Fill(doc, rows, true);
        doc.SetFlowRate = 1.0;
        doc.TestType = 'P';
        QCOMPARE(doc.BolusEdgeAt(5), -1); // basal: below 2 x rate
        QCOMPARE(doc.BolusEdgeAt(7), 1);  // first burst sample
        QCOMPARE(doc.BolusEdgeAt(8), 0);  // still in the burst
        QCOMPARE(doc.BolusEdgeAt(10), -1);
        QCOMPARE(doc.BolusCount(), 1);
    }

    void bolusCount_data() {
        QTest::addColumn<QByteArray>("codes"); // one sample per character, 1 s apart
        QTest::addColumn<int>("count");
        QTest::newRow("two boluses") << QByteArray("  R  T  R T  ") << 2;
        QTest::newRow("start then end directly is not counted") << QByteArray("  RT  ") << 0;
        QTest::newRow("unfinished bolus") << QByteArray("  R    ") << 0;
        QTest::newRow("end in the last slot is not examined") << QByteArray("  R  T") << 0;
    }
    void bolusCount() {
        QFETCH(QByteArray, codes);
        QFETCH(int, count);
        CRivuletrixDoc doc;
        QList<Row> rows;
        uint32_t v = 0;
        for (qsizetype k = 0; k < codes.size(); ++k) {
            // Basal 1 ml/h = 2.78 units/s, a bolus 100 ml/h.
            const bool inBolus = codes.left(k + 1).count('R') > codes.left(k + 1).count('T');
            v += inBolus ? 278 : 3;
            rows.append({uint32_t(1000 * (k + 1)), v, codes[k]});
        }
        Fill(doc, rows);
        doc.SetFlowRate = 1.0;
        doc.TestType = 'P';
        QCOMPARE(doc.BolusCount(), count);
        QCOMPARE(doc.PcaTableRows(), count * 6);
    }

    void volumeStep_data() {
        QTest::addColumn<char>("type");
        QTest::addColumn<QList<uint>>("volumes");
        QTest::addColumn<uint>("step");
        QTest::newRow("doubling found")
            << 'F' << QList<uint>{5000, 10000, 15000, 20000, 25000, 30000} << 10000u;
        QTest::newRow("later start")
            << 'P' << QList<uint>{10001, 15000, 20001, 22000, 30000, 44000, 50000} << 15000u;
        QTest::newRow("never doubles") << 'F' << QList<uint>{10000, 12000, 14000} << 0u;
        QTest::newRow("below 1 ml") << 'F' << QList<uint>{100, 200, 400} << 0u;
        QTest::newRow("occlusion has none") << 'O' << QList<uint>{10000, 20000, 30000} << 0u;
        QTest::newRow("falling volumes")
            << 'F' << QList<uint>{12000, 10000, 20000, 30000, 1} << 10000u;
    }
    void volumeStep() {
        QFETCH(char, type);
        QFETCH(QList<uint>, volumes);
        QFETCH(uint, step);
        CRivuletrixDoc doc;
        QList<Row> rows;
        for (qsizetype k = 0; k < volumes.size(); ++k)
            rows.append({uint32_t(100 * (k + 1)), volumes[k]});
        Fill(doc, rows);
        doc.TestType = type;
        QCOMPARE(doc.VolumeStep(), step);
    }

    void pressureUnits() {
        CRivuletrixDoc doc;
        doc.SetSample(1, Sample{100, 0, 750, ' '});
        QCOMPARE(QString::number(doc.PressureKpa(1), 'f', 2), QStringLiteral("100.01"));
        QCOMPARE(QString::number(doc.PressurePsi(1), 'f', 2), QStringLiteral("14.50"));
        QCOMPARE(doc.PressureKpa(1), 750 / 7.499);
        QCOMPARE(doc.PressurePsi(7), 0.0);
    }

    void formatHms_data() {
        QTest::addColumn<qulonglong>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0ull << "00:00:00";
        QTest::newRow("25 h 1 min 1 s") << 90061000ull << "25:01:01";
        QTest::newRow("under a second") << 999ull << "00:00:00";
        QTest::newRow("100 h") << 360000000ull << "100:00:00";
    }
    void formatHms() {
        QFETCH(qulonglong, ms);
        QFETCH(QString, text);
        QCOMPARE(CRivuletrixDoc::FormatHms(ms), text);
    }

    void sampleCountWhileRunning() {
        CRivuletrixDoc doc;
        doc.Run.running = true;
        doc.Clock = [] { return qint64(0); };
        doc.AddSample("1 00000064000000010000");
        QCOMPARE(doc.SampleCount(), 2);
        doc.Run.running = false; // ended: the extra slot reads as empty
        QCOMPARE(doc.SampleCount(), 3);
        QCOMPARE(doc.StatusAt(2), ' ');
    }
};

QTEST_GUILESS_MAIN(TestCalculations)
#include "test_calculations.moc"
