// The printed report rendered to real PDF files and read back as text
// (pdftotext): page header, portrait text blocks and landscape boxes of the
// graph page, the data-table report's pagination (every row once, never
// split, "Page i of n" on every page), and every step of a template record.
#include "../SmallTmpfs.h"
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/DataTable.h"
#include "view/GraphRenderer.h"
#include "view/RecordReport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The text of each page of a PDF, in reading layout.
QStringList PdfPages(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

// Words of the first page with their boxes (pdftotext -bbox), in points.
struct Word {
    QString text;
    QRectF box;
};
QList<Word> PdfWords(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-l"),
                                          QStringLiteral("1"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    QList<Word> words;
    auto it = word.globalMatch(QString::fromUtf8(p.readAllStandardOutput()));
    while (it.hasNext()) {
        const auto m = it.next();
        words.append(
            {m.captured(5), QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                   QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))});
    }
    return words;
}

Word Find(const QList<Word>& words, const QString& text) {
    for (const Word& w : words)
        if (w.text.startsWith(text)) return w;
    return {};
}

// The screen picture first, as the window shows it before printing.
void DrawScreen(CRivuletrixDoc& doc, ViewState& st) {
    QImage image(1280, 800, QImage::Format_RGB32);
    QPainter p(&image);
    RenderTarget t;
    t.width = image.width();
    t.height = image.height();
    GraphRenderer::Render(p, doc, st, t);
}

QPageLayout Layout(QPageLayout::Orientation o) {
    return QPageLayout(QPageSize(QPageSize::A4), o, QMarginsF(0, 0, 0, 0));
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString Write(CRivuletrixDoc& doc, ViewState& st, bool table, QPageLayout::Orientation o,
                  const QString& name) {
        ReportSetup setup;
        setup.table = table;
        const QString path = m_dir.filePath(name);
        QString error;
        if (!RecordReport::WritePdf(path, doc, st, setup, Layout(o), &error)) {
            qWarning() << error;
            return {};
        }
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }

    // Portrait: the graph above, the parameters and results below, the
    // values as the record computes them.
    void graphPagePortrait() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Record(synth::Header('F', 36.0), 600, [](int i) {
                        return synth::S{uint32_t(i) * 1000, uint32_t(i) * 100, 40, ' '};
                    }));
        ViewState st;
        DrawScreen(doc, st);
        const QString pdf = Write(doc, st, false, QPageLayout::Portrait, "portrait.pdf");
        QVERIFY(!pdf.isEmpty());
        const QStringList pages = PdfPages(pdf);
        QCOMPARE(pages.size(), 1);
        const QString& text = pages[0];
        for (const char* s :
             {"Rivuletrix Version 3.50", "Page 1 of 1", "Test Parameters", "Test Instrument",
              "Pump Details", "Set Values", "Measured Values", "PUMP-0042", "Infusor 500", "Ward 7",
              "Rivulet Instruments", "Channel 1", "Key"})
            QVERIFY2(text.contains(QLatin1String(s)), s);
        // Measured over the last sample: 6.00 ml in 00:10:00 at 36 ml/h.
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("Flow Rate\\s+36.00 ml/h"))));
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("Total Volume\\s+6.00 ml"))));
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("Total Test Time\\s+00:10:00"))));
        QVERIFY(st.keyAllowed && st.measuredAllowed);
    }

    // Landscape: the graph fills the page; no key, no text blocks; the
    // details box stays; the switch persists for the screen.
    void graphPageLandscape() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(25.0, 1000, 600));
        ViewState st;
        DrawScreen(doc, st);
        const QString pdf = Write(doc, st, false, QPageLayout::Landscape, "landscape.pdf");
        const QStringList pages = PdfPages(pdf);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QLatin1String("Page 1 of 1")));
        QVERIFY(pages[0].contains(QLatin1String("Control Number"))); // the details box
        for (const char* s : {"Test Parameters", "Pump Details", "Measured Values", "Key"})
            QVERIFY2(!pages[0].contains(QLatin1String(s)), s);
        QVERIFY(!st.keyAllowed && !st.measuredAllowed);
    }

    // The data-table report of a 5,000-sample record: the header block on
    // the first page only, every sample listed once in order, the page line
    // on every page, the page count the pagination gave.
    void tableReportPagination() {
        CRivuletrixDoc doc;
        synth::Load(doc,
                    synth::Flow(25.0, 1000, 4999, 0.1, [](int i) { return i == 77 ? 'C' : ' '; }));
        ViewState st;
        DrawScreen(doc, st);
        ReportSetup setup;
        setup.table = true;
        const QString pdf = Write(doc, st, true, QPageLayout::Portrait, "table.pdf");
        const QStringList pages = PdfPages(pdf);
        QVERIFY(pages.size() > 50);
        const QRegularExpression row(QStringLiteral("^\\s*(\\d+)\\s+(\\d\\d:\\d\\d:\\d\\d)\\s"));
        int next = 1;
        for (int k = 0; k < pages.size(); ++k) {
            const QString& page = pages[k];
            QVERIFY2(page.contains(QStringLiteral("Page %1 of %2").arg(k + 1).arg(pages.size())),
                     qPrintable(QString::number(k + 1)));
            QCOMPARE(page.contains(QLatin1String("Test Parameters")), k == 0);
            int rows = 0;
            for (const QString& line : page.split(QLatin1Char('\n'))) {
                const QRegularExpressionMatch m = row.match(line);
                if (!m.hasMatch()) continue;
                if (next == 78) ++next; // the 'C' sample is not listed
                QCOMPARE(m.captured(1).toInt(), next);
                QCOMPARE(m.captured(2), CRivuletrixDoc::FormatHms(doc.ElapsedTicks(next)));
                ++next;
                ++rows;
            }
            QVERIFY2(rows > 0, qPrintable(QString::number(k + 1)));
        }
        // Samples 1..5000 (the file's first line is sample 1) less the 'C' one.
        QCOMPARE(next, 5000 + 1);
        // The pagination of the same device agrees.
        RecordReport again(doc, st, setup);
        QImage a4(2480, 3508, QImage::Format_Mono);
        a4.setDotsPerMeterX(11811);
        a4.setDotsPerMeterY(11811);
        QCOMPARE(again.Begin(a4), pages.size());
        int listed = 0;
        for (int k = 1; k <= again.PageCount(); ++k) {
            QCOMPARE(again.FirstRowOfPage(k), listed);
            listed += again.RowsOnPage(k);
        }
        QCOMPARE(listed, 5000 - 1);
    }

    // A long record prints every row, however many pages that takes.
    void longTableHasEveryRow() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(25.0, 1000, 20000));
        ViewState st;
        ReportSetup setup;
        setup.table = true;
        RecordReport report(doc, st, setup);
        QImage a4(2480, 3508, QImage::Format_Mono);
        a4.setDotsPerMeterX(11811);
        a4.setDotsPerMeterY(11811);
        const int pages = report.Begin(a4);
        QVERIFY(pages > 200);
        int listed = 0;
        for (int k = 1; k <= pages; ++k) {
            QCOMPARE(report.FirstRowOfPage(k), listed);
            QVERIFY(report.RowsOnPage(k) > 0);
            listed += report.RowsOnPage(k);
        }
        QCOMPARE(listed, 20001);
    }

    // A PCA report lists the boluses of the bolus table.
    void pcaReport() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Pca(2.0, 4, 60, 5, 1.0));
        ViewState st;
        DrawScreen(doc, st);
        const QStringList pages = PdfPages(Write(doc, st, true, QPageLayout::Portrait, "pca.pdf"));
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QRegularExpression(QStringLiteral("Bolus Number\\s+4"))));
        for (int n = 1; n <= 4; ++n)
            QVERIFY(pages[0].contains(
                QRegularExpression(QStringLiteral("\\n\\s*%1\\s+0\\.8\\d\\s+\\d\\d:").arg(n))));
    }

    // A template record prints every step from the current one.
    void templateStepsFromCurrent_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("from 1") << 1 << QStringList{"Step 1 of 3", "Step 2 of 3", "Step 3 of 3"};
        QTest::newRow("from 2") << 2 << QStringList{"Step 2 of 3", "Step 3 of 3"};
    }
    void templateStepsFromCurrent() {
        QFETCH(int, from);
        QFETCH(QStringList, steps);
        CRivuletrixDoc doc;
        doc.StepToShow = from;
        QVERIFY(doc.ReadRecordFile(QStringLiteral(RX_TEST_DATA "/records/template_3step.p8d")));
        ViewState st;
        DrawScreen(doc, st);
        const QStringList pages =
            PdfPages(Write(doc, st, false, QPageLayout::Portrait, "template.pdf"));
        QCOMPARE(pages.size(), steps.size());
        for (int k = 0; k < steps.size(); ++k) {
            QVERIFY2(pages[k].contains(steps[k]), qPrintable(steps[k]));
            QVERIFY(pages[k].contains(QLatin1String("Template Night Check")));
        }
    }

    // The PCA results come from the record: drawing the report with the
    // curve shown or hidden prints the same values.
    void pcaResultsWhateverIsShown_data() {
        QTest::addColumn<bool>("table");
        QTest::newRow("graph page") << false;
        QTest::newRow("data-table report") << true;
    }
    void pcaResultsWhateverIsShown() {
        QFETCH(bool, table);
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Pca(2.0, 5, 60, 5, 1.0));
        QString texts[2];
        for (int shown = 0; shown < 2; ++shown) {
            ViewState st;
            st.SetTypeDefaults(doc.TestType);
            st.showPca = shown == 1;
            DrawScreen(doc, st);
            QCOMPARE(st.bolusCount, 5); // the measured-values box's figures too
            const QStringList pages = PdfPages(Write(doc, st, table, QPageLayout::Portrait,
                                                     QStringLiteral("pca%1.pdf").arg(shown)));
            QVERIFY(!pages.isEmpty());
            const QString page = pages[0];
            texts[shown] = page.mid(page.indexOf(QLatin1String("Set Values")));
            texts[shown].truncate(texts[shown].indexOf(QLatin1String("Total Test Time")));
        }
        QCOMPARE(texts[0].simplified(), texts[1].simplified());
        QVERIFY(texts[0].contains(QRegularExpression(QStringLiteral("Bolus Number\\s+5"))));
        QVERIFY(texts[0].contains(
            QRegularExpression(QStringLiteral("Ave. Bolus/Sec Volume\\s+0\\.8\\d ml"))));
    }

    // Older records: Dual Flow records give their bolus values and table;
    // PXR-7 records print the version they store.
    void olderRecords() {
        CRivuletrixDoc dual;
        QByteArray text = synth::Pca(2.0, 4, 60, 5, 1.0);
        text.replace("H12,PCA", "H12,Dual Flow");
        synth::Load(dual, text);
        QCOMPARE(dual.TestType, 'D');
        ViewState st;
        DrawScreen(dual, st);
        const QStringList pages =
            PdfPages(Write(dual, st, true, QPageLayout::Portrait, "dual.pdf"));
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QRegularExpression(QStringLiteral("Bolus Number\\s+4"))));
        QVERIFY(pages[0].contains(
            QRegularExpression(QStringLiteral("Basal/Primary Rate\\s+2.00\\s+ml/h"))));
        for (int n = 1; n <= 4; ++n)
            QVERIFY(pages[0].contains(
                QRegularExpression(QStringLiteral("\\n\\s*%1\\s+0\\.8\\d\\s+\\d\\d:").arg(n))));

        CRivuletrixDoc old;
        QVERIFY(old.ReadRecordFile(QStringLiteral(RX_TEST_DATA "/records/old_model.p7d")));
        QVERIFY(!old.NewModel);
        ViewState so;
        DrawScreen(old, so);
        const QStringList oldPages =
            PdfPages(Write(old, so, false, QPageLayout::Portrait, "old.pdf"));
        QVERIFY(
            oldPages[0].contains(QRegularExpression(QStringLiteral("Serial Number\\s+80001234"))));
        QVERIFY(oldPages[0].contains(QRegularExpression(QStringLiteral("Version\\s+3\\.10"))));
        // The instrument's second row is its version field.
        QVERIFY(oldPages[0].contains(
            QRegularExpression(QStringLiteral("Type of Test\\s+Flow\\s+3\\.10"))));
    }

    // The Occlusion table's pressure title as the report prints it.
    void occlusionTableTitle() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Occlusion(40, 1000, 300, 250));
        ViewState st;
        DrawScreen(doc, st);
        const QStringList pages = PdfPages(Write(doc, st, true, QPageLayout::Portrait, "occ.pdf"));
        QVERIFY(pages[0].contains(QLatin1String("------Pressure -------")));
    }

    // Texts never overprint: the template's step line and the header
    // lines, and long values and the next column.
    void nothingOverprints_data() {
        QTest::addColumn<bool>("tpl");
        QTest::addColumn<bool>("table");
        QTest::newRow("template graph page") << true << false;
        QTest::newRow("graph page") << false << false;
        QTest::newRow("data-table report") << false << true;
    }
    void nothingOverprints() {
        QFETCH(bool, tpl);
        QFETCH(bool, table);
        CRivuletrixDoc doc;
        if (tpl)
            QVERIFY(doc.ReadRecordFile(QStringLiteral(RX_TEST_DATA "/records/template_3step.p8d")));
        else
            synth::Load(doc, synth::Flow(25.0, 1000, 100));
        doc.ControlNumber = QString(20, QLatin1Char('W'));
        doc.Operator = QString(20, QLatin1Char('M'));
        ViewState st;
        DrawScreen(doc, st);
        ReportSetup setup;
        setup.table = table;
        setup.reportHeaders = QStringList{"Clinical Engineering", "Pump Workshop Two", "Third"};
        const QString path = m_dir.filePath("overprint.pdf");
        QVERIFY(RecordReport::WritePdf(path, doc, st, setup, Layout(QPageLayout::Portrait)));
        // On a graph page, the text blocks of the lower half.
        QList<Word> words;
        for (const Word& w : PdfWords(path))
            if (table || w.box.top() > 842 / 2) words << w;
        QVERIFY(!words.isEmpty());
        QList<QRectF> boxes;
        for (const Word& w : words) {
            for (const QRectF& b : boxes)
                QVERIFY2(!b.adjusted(0.5, 0.5, -0.5, -0.5).intersects(w.box), qPrintable(w.text));
            boxes << w.box;
        }
        // The graph page prints the header lines (the report does not).
        if (!table)
            for (const char* s : {"Clinical", "Workshop", "Third"})
                QVERIFY2(!Find(PdfWords(path), QLatin1String(s)).text.isEmpty(), s);
        // The long values end before the next column's text.
        const Word control = Find(words, QStringLiteral("WWW"));
        const Word operatorName = Find(words, QStringLiteral("MMM"));
        QVERIFY(!control.text.isEmpty() && !operatorName.text.isEmpty());
        QVERIFY(control.text.size() < 20 && operatorName.text.size() < 20);
        QVERIFY(control.box.right() < Find(words, QStringLiteral("Instruments")).box.left());
        QVERIFY(operatorName.box.right() < Find(words, QStringLiteral("Channel")).box.left());
    }

    // Print preview (at the printer's resolution) and a PDF file (at its
    // own) split the rows of the data-table report alike.
    void samePagesAtEveryResolution_data() {
        QTest::addColumn<int>("dpi");
        QTest::newRow("96") << 96;
        QTest::newRow("300") << 300;
        QTest::newRow("600") << 600;
        QTest::newRow("1200") << 1200;
    }
    void samePagesAtEveryResolution() {
        QFETCH(int, dpi);
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(25.0, 1000, 2400));
        ViewState st;
        ReportSetup setup;
        setup.table = true;
        const auto pagination = [&](int res) {
            RecordReport report(doc, st, setup);
            // A4 paintable area less the printer's usual 1/6 inch margins.
            QImage page(int(8.27 * res) - res / 3, int(11.69 * res) - res / 3, QImage::Format_Mono);
            page.setDotsPerMeterX(int(std::lround(res / 0.0254)));
            page.setDotsPerMeterY(int(std::lround(res / 0.0254)));
            QList<int> firsts;
            for (int k = 1; k <= report.Begin(page); ++k) firsts << report.FirstRowOfPage(k);
            return firsts;
        };
        QCOMPARE(pagination(dpi), pagination(300));
    }

    // An unwritable file is an error, not a crash or a silent success.
    void unwritableFile() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(25.0, 1000, 10));
        ViewState st;
        ReportSetup setup;
        QString error;
        QVERIFY(!RecordReport::WritePdf(m_dir.filePath("missing/folder/x.pdf"), doc, st, setup,
                                        Layout(QPageLayout::Portrait), &error));
        QVERIFY(!error.isEmpty());
    }

    // A failed write says why and leaves an earlier report as it was.
    void failedWriteKeepsEarlierFile_data() {
        QTest::addColumn<bool>("device");
        QTest::newRow("full device") << true;
        QTest::newRow("full file system") << false;
    }
    void failedWriteKeepsEarlierFile() {
        QFETCH(bool, device);
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(25.0, 1000, 3000));
        ViewState st;
        ReportSetup setup;
        setup.table = true;
        QString error;
        if (device) {
            QVERIFY(!RecordReport::WritePdf(QStringLiteral("/dev/full"), doc, st, setup,
                                            Layout(QPageLayout::Portrait), &error));
            QVERIFY2(error.contains(QLatin1String("No space left on device")), qPrintable(error));
            return;
        }
        RX_SMALL_TMPFS(fs, 512 * 1024);
        const QString path = fs.Path() + QStringLiteral("/report.pdf");
        CRivuletrixDoc small;
        synth::Load(small, synth::Flow(25.0, 1000, 10));
        ViewState ss;
        QVERIFY(
            RecordReport::WritePdf(path, small, ss, ReportSetup{}, Layout(QPageLayout::Portrait)));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray before = f.readAll();
        f.close();
        fs.Fill();
        QVERIFY(
            !RecordReport::WritePdf(path, doc, st, setup, Layout(QPageLayout::Portrait), &error));
        QVERIFY2(error.contains(QLatin1String("No space left on device")), qPrintable(error));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(QDir(fs.Path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{".filler", "report.pdf"}));
        fs.Free();
    }
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
