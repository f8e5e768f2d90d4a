// The data table as lines of text over the record's samples: header block,
// columns and row formats by record type, skipped samples, the bolus table
// from the graph's detector, growth while a test runs, and the CSV form.
#include "../CsvReader.h"
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/DataTable.h"
#include "view/GraphRenderer.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>

namespace {

// 36 ml/h: 0.01 ml a second; pressure 40 mmHg; codes by sample.
QByteArray SteadyFlow(int count, const std::function<char(int)>& code = {}) {
    return synth::Record(synth::Header('F', 36.0), count, [&](int i) {
        return synth::S{uint32_t(i) * 1000, uint32_t(i) * 100, 40, code ? code(i) : ' '};
    });
}

QStringList Trimmed(const QStringList& l) {
    QStringList out;
    for (const QString& s : l) out << s.trimmed();
    return out;
}

} // namespace

class TestDataTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void headerBlock() {
        CRivuletrixDoc doc;
        synth::Load(doc, SteadyFlow(10));
        DataTable t(doc);
        t.Sync();
        const QStringList h = t.HeaderLines();
        QCOMPARE(h.size(), DataTable::kHeaderLines);
        QCOMPARE(h[0], QStringLiteral("Biomedical Engineering  "));
        QCOMPARE(h[3], QStringLiteral("Control Number PUMP-0042"));
        QCOMPARE(h[4], QStringLiteral("Manuf: Acme   Model: Infusor 500    S/N: SN998877"));
        QCOMPARE(h[5], QStringLiteral("Location  Ward 7"));
        QCOMPARE(h[7], QStringLiteral("Date Tested 08-Dec-2026   Start Time 14:05:09"));
        QCOMPARE(h[8], QStringLiteral("Tested by     JS"));
        QCOMPARE(h[9], QStringLiteral("Tested using PXR-8  S/N 80001234"));
        QCOMPARE(h[10], QStringLiteral("Channel 1   S/N T123"));
        for (int k : {1, 2, 6, 11, 14}) QVERIFY2(h[k].isEmpty(), qPrintable(QString::number(k)));
        // Slot 0 is not listed; the file's first sample (slot 1) is.
        QCOMPARE(t.LineCount(), DataTable::kHeaderLines + 11);
    }

    // An old analyzer's record names the channel its file names, as current
    // records do: channel 1 is never shown as channel 0.
    void oldModelRecordNamesItsChannel() {
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(QStringLiteral(RX_TEST_DATA "/records/old_model.p7d")));
        QVERIFY(!doc.NewModel);
        DataTable t(doc);
        t.Sync();
        QVERIFY2(t.HeaderLines()[10].startsWith(QLatin1String("Channel 1 ")),
                 qPrintable(t.HeaderLines()[10]));
    }

    // Columns and row fields by record type.
    void rows_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("sample");
        QTest::addColumn<QStringList>("heads");
        QTest::addColumn<QStringList>("fields");
        const QStringList flowHeads = {"Time", "Volume", "Flow", "Flow", "mmHg", "psi", "kPa"};
        QTest::newRow("flow first listed sample")
            << SteadyFlow(10) << 2 << flowHeads
            << QStringList{"2", "00:00:01", "0.01", "36.00", "36.00", "40", "0.77", "5.33"};
        QTest::newRow("flow bubble B")
            << SteadyFlow(10, [](int i) { return i == 4 ? 'B' : ' '; }) << 5 << flowHeads
            << QStringList{"5",  "00:00:04", "0.04", "36.00",   "36.00",
                           "40", "0.77",     "5.33", "(Bubble)"};
        QTest::newRow("flow air lock a")
            << SteadyFlow(10, [](int i) { return i == 5 ? 'a' : ' '; }) << 6 << flowHeads
            << QStringList{"6",  "00:00:05", "0.05", "36.00",     "36.00",
                           "40", "0.77",     "5.33", "(Air Lock)"};
        QTest::newRow("occlusion over pressure")
            << synth::Record(synth::Header('O', 5.0), 10,
                             [](int i) {
                                 return synth::S{uint32_t(i) * 2000, uint32_t(i), int16_t(50 * i),
                                                 i == 9 ? 'O' : ' '};
                             })
            << 10 << QStringList{"Time", "mmHg", "psi", "kPa"}
            << QStringList{"10", "00:00:18", "450", "8.70", "60.01", "(Over Pressure)"};
    }
    void rows() {
        QFETCH(QByteArray, record);
        QFETCH(int, sample);
        QFETCH(QStringList, heads);
        QFETCH(QStringList, fields);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        DataTable t(doc);
        t.Sync();
        QStringList h2;
        for (const DataTable::Column& c : t.Columns()) h2 << c.head2;
        QCOMPARE(h2, heads);
        QCOMPARE(Trimmed(t.RowFields(sample)), fields);
        // Every field keeps the table's padding: a blank either side.
        const QStringList raw = t.RowFields(sample);
        QCOMPARE(raw[0], QString::asprintf(" %5d ", sample));
        QCOMPARE(raw[1].size(), 10);
        if (doc.TestType == 'O')
            QCOMPARE(t.Columns()[1].head1, QStringLiteral("------ Pressure ------"));
        else
            QCOMPARE(t.Columns()[4].head1, QStringLiteral("--- Back Pressure ----"));
    }

    // Sample 0 and 'C' samples are not listed; every other sample is, once,
    // in order.
    void skippedSamples() {
        CRivuletrixDoc doc;
        synth::Load(doc,
                    SteadyFlow(20, [](int i) { return i == 3 || i == 4 || i == 20 ? 'C' : ' '; }));
        DataTable t(doc);
        t.Sync();
        // Samples 1..21 (the file's 'D2'..'D22' are 2..21); 4, 5 and 21 skipped.
        QCOMPARE(t.RowCount(), 21 - 3);
        QList<int> listed;
        for (int r = 0; r < t.RowCount(); ++r) listed << t.SampleOfRow(r);
        QList<int> expected;
        for (int i = 1; i <= 20; ++i)
            if (i != 4 && i != 5) expected << i;
        QCOMPARE(listed, expected);
        for (int r = 0; r < t.RowCount(); ++r) QCOMPARE(t.RowOfSample(t.SampleOfRow(r)), r);
        QVERIFY(t.LineText(DataTable::kHeaderLines + 3).trimmed().startsWith(QLatin1String("6 ")));
    }

    // Samples arriving while the table is shown are listed; a re-read record
    // is taken from scratch.
    void growsWhileLiveAndRestartsOnReread() {
        CRivuletrixDoc doc;
        doc.Clock = [] { return qint64(0); };
        doc.TestType = 'F';
        doc.Run.live = doc.Run.running = true;
        DataTable t(doc);
        doc.AddSample(synth::Line(':', 0, 0, 0));
        for (int i = 1; i <= 5; ++i)
            doc.AddSample(synth::Line(i == 2 ? 'C' : ' ', i * 1000, i * 100, 3));
        t.Sync();
        QCOMPARE(t.RowCount(), 4); // samples 1 to 5 less the 'C' one
        doc.AddSample(synth::Line(' ', 6000, 600, 3));
        t.Sync();
        QCOMPARE(t.RowCount(), 5);
        QCOMPARE(t.SampleOfRow(4), 6);
        // A stopped test leaves an empty slot at the end; printing drops it.
        doc.Run.running = false;
        t.Sync();
        QCOMPARE(doc.ElapsedTicks(doc.SampleCount() - 1), 0u);
        doc.DropEmptyLastSample();
        t.Sync();
        QCOMPARE(doc.ElapsedTicks(doc.SampleCount() - 1), 6000u);
        QCOMPARE(t.RowCount(), 5);
        synth::Load(doc, SteadyFlow(3));
        t.Sync();
        QCOMPARE(t.RowCount(), 4);
        QCOMPARE(t.SampleOfRow(1), 2);
    }

    // The bolus table lists the boluses the graph finds, with their figures.
    void bolusTableMatchesGraph() {
        CRivuletrixDoc doc;
        // 2 ml/h basal, 3 boluses of 1 ml over 5 samples every 50 samples.
        synth::Load(doc, synth::Pca(2.0, 3, 50, 5, 1.0));
        DataTable t(doc);
        t.Sync();
        QVERIFY(t.BolusTable());
        QImage image(1200, 700, QImage::Format_RGB32);
        ViewState st;
        QPainter p(&image);
        RenderTarget target;
        target.width = image.width();
        target.height = image.height();
        GraphRenderer::Render(p, doc, st, target);
        p.end();
        QCOMPARE(int(t.Boluses().size()), st.bolusCount);
        QCOMPARE(t.RowCount(), 3);
        QCOMPARE(t.LineCount(), DataTable::kBolusHeaderLines + 3 * DataTable::kLinesPerBolus);
        const BolusRow& b = t.Boluses()[1];
        QCOMPARE(b.number, 2);
        QCOMPARE(b.startSeconds, 100u);
        const QStringList lines = DataTable::BolusLines(b);
        QCOMPARE(lines[0], QStringLiteral("Bolus Number 2"));
        QCOMPARE(lines[2], QStringLiteral("Start Time 00:01:40"));
        // The code that starts a bolus comes with its first part already
        // delivered, which the volume from that sample on leaves out.
        QVERIFY2(b.volumeMl > 0.79 && b.volumeMl < 0.82, qPrintable(lines[1]));
        QVERIFY(std::abs(t.BolusVolumeTotal() - st.bolusVolumeTotal) < 0.01);
        QCOMPARE(t.BolusHeaderLines()[2],
                 QStringLiteral("PCA/Dual Flow Test  08-Dec-2026  14:05:09"));
    }

    void csv() {
        CRivuletrixDoc doc;
        synth::Load(doc, SteadyFlow(4, [](int i) { return i == 2 ? 'b' : ' '; }));
        DataTable t(doc);
        t.Sync();
        const QList<QByteArray> lines = t.Csv().replace("\r\n", "\n").split('\n');
        QVERIFY(lines[0].startsWith("# Biomedical Engineering"));
        // A record's text stays in its comment line, which starts with "#".
        doc.ControlNumber = QStringLiteral("A,=1+1");
        QVERIFY(t.Csv().contains("\r\n# Control Number A,=1+1\r\n"));
        int header = 0;
        while (lines[header].startsWith('#')) ++header;
        QVERIFY(lines[header].startsWith("Sample,Elapsed Time,Delivered Volume (ml)"));
        QCOMPARE(lines[header + 1], QByteArray("1,00:00:00,0.00,0.00,0.00,0,0.00,0.00,"));
        QCOMPARE(lines[header + 2], QByteArray("2,00:00:01,0.01,36.00,36.00,40,0.77,5.33,"));
        QCOMPARE(lines[header + 3],
                 QByteArray("3,00:00:02,0.02,36.00,36.00,40,0.77,5.33,(Bubble)"));
        QCOMPARE(lines.size(), header + 1 + 5 + 1); // samples 1..5, then the final newline
    }

    // Texts typed by users or sent by analyzers, read back by a CSV reader:
    // each stays one field, as written, and nothing reaches a spreadsheet as
    // a formula.
    void csvKeepsRecordTextsInert() {
        CRivuletrixDoc doc;
        synth::Load(doc, SteadyFlow(4));
        doc.ControlNumber = QStringLiteral("=HYPERLINK(\"x\")");
        doc.Operator = QStringLiteral("Smith, \"J\"\nnight shift");
        doc.RepHeader1 = QStringLiteral("@SUM(A1)");
        DataTable t(doc);
        t.Sync();
        // Header-block lines stay comment lines, one line each, whatever
        // the texts hold: readers that skip "#" lines skip all of them.
        const QList<QByteArray> lines = t.Csv().split('\n');
        QVERIFY(lines.contains("# Control Number =HYPERLINK(\"x\")\r"));
        QVERIFY(lines.contains("# Tested by     Smith, \"J\" night shift\r"));
        QByteArray data;
        for (const QByteArray& line : lines)
            if (!line.startsWith('#')) data += line + '\n';
        int dataRows = 0;
        for (const QStringList& row : csvreader::Read(data)) {
            if (row.size() == 1 && row.first().isEmpty()) continue;
            for (const QString& cell : row)
                QVERIFY2(cell.isEmpty() || !QStringLiteral("=+@\t\r").contains(cell[0]),
                         qPrintable(cell));
            QCOMPARE(row.size(), 9);
            ++dataRows;
        }
        QCOMPARE(dataRows, 1 + 5); // the column titles, then samples 1..5
    }

    // Every table's CSV has the same header block: the PCA one names the
    // control number, the operator and the analyzer too.
    void csvHeaderBlock_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("flow") << SteadyFlow(4);
        QTest::newRow("occlusion") << synth::Occlusion(20, 1000, 300, 250);
        QTest::newRow("pca") << synth::Pca(2.0, 3, 50, 5, 1.0);
    }
    void csvHeaderBlock() {
        QFETCH(QByteArray, record);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        doc.Operator = QStringLiteral("Jones, K");
        DataTable t(doc);
        t.Sync();
        QList<QByteArray> head;
        for (const QByteArray& line : t.Csv().split('\n'))
            if (line.startsWith('#')) head << line.trimmed();
        for (const char* s :
             {"# Biomedical Engineering", "# Control Number PUMP-0042",
              "# Manuf: Acme   Model: Infusor 500    S/N: SN998877", "# Tested by     Jones, K",
              "# Tested using PXR-8  S/N 80001234", "# Channel 1   S/N T123"})
            QVERIFY2(head.contains(QByteArray(s)), s);
    }
};

QTEST_MAIN(TestDataTable)
#include "test_data_table.moc"
