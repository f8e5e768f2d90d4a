// The printed report rendered to real PDF files and read back as text
// (pdftotext): page header, portrait text blocks and landscape boxes of the
// graph page, the data-table report's pagination (every row once, never
// split, "Page i of n" on every page), and every step of a template record.
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/DataTable.h"
#include "view/GraphRenderer.h"
#include "view/RecordReport.h"

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
};

QTEST_MAIN(TestReport)
#include "test_report.moc"
