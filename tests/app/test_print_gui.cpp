// Data table, printing and exports as a user reaches them: the main
// window's menu items and the channel window's toolbar, over saved records.
// The platform's dialogs are replaced by scripted ones that choose a PDF
// file, so every page goes through the real printing path into a real PDF.
#include "../SmallTmpfs.h"
#include "../view/SyntheticRecords.h"
#include "MainWindowTest.h"

#include "app/ChannelWindow.h"
#include "app/MainFrame.h"
#include "app/RivuletrixApp.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "records/RivuletrixDoc.h"
#include "view/DataTableView.h"
#include "view/ReportPrinting.h"
#include "view/RivuletrixWinView.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPrinter>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

QStringList PdfPages(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) return {};
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

} // namespace

class TestPrintGui : public MainWindowTest {
    Q_OBJECT

    int m_printDialogs = 0;
    QString m_printTo;

    ChannelWindow* Open(const QString& path) {
        if (!m_frame->OpenRecordFile(path)) return nullptr;
        auto* w = qobject_cast<ChannelWindow*>(m_frame->MdiArea()->activeSubWindow());
        if (w) {
            w->resize(900, 600);
            QTest::qWait(50);
            m_frame->UpdateCommands();
        }
        return w;
    }
    QString WriteRecord(const QString& name, const QByteArray& text) {
        const QString path = m_dir->filePath(QStringLiteral("data/") + name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return {};
        f.write(text);
        return path;
    }
    void Trigger(int id) {
        m_frame->UpdateCommands();
        QAction* a = m_frame->Action(id);
        QVERIFY2(a->isEnabled(), qPrintable(QString::number(id)));
        a->trigger();
        QApplication::processEvents();
    }

private Q_SLOTS:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }
    void init() {
        QVERIFY(NewWorkingFolder("GraphLineWidth=1\r\nReportHeader1=Clinical Physics\r\n"));
        Start({1400, 900});
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        // The print dialog: the user picks "Print to File (PDF)".
        m_printDialogs = 0;
        m_printTo = m_dir->filePath(QStringLiteral("printed.pdf"));
        printing::Hooks().print = [this](QPrinter& printer, QWidget*) {
            ++m_printDialogs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(m_printTo);
            return true;
        };
        printing::SharedPrinter().setOutputFormat(QPrinter::PdfFormat);
        printing::SharedPrinter().setOutputFileName(QString());
        printing::SharedPrinter().setPageOrientation(QPageLayout::Portrait);
    }
    void cleanup() {
        printing::ResetHooks();
        Close();
    }

    // The table through the View menu: header first, the last row at once
    // with Ctrl+End, back to the graph through the channel's toolbar.
    void dataTableScrollsToLastRow() {
        const int samples = 200000; // lines far beyond a 16-bit range of pixels
        ChannelWindow* w =
            Open(WriteRecord(QStringLiteral("RXr_F_long.p8d"), synth::Flow(25.0, 100, samples)));
        QVERIFY(w);
        CRivuletrixWinView* view = w->View();
        Trigger(cmd::ShowDataTable);
        DataTableView* table = view->TableView();
        QVERIFY(table->isVisible());
        QVERIFY(m_frame->Action(cmd::ShowDataTable)->isChecked());
        QCOMPARE(table->FirstLine(), 0);
        table->setFocus();
        QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
        const int lines = table->Table().LineCount();
        // The file's lines are samples 1 to samples + 1.
        QCOMPARE(lines, DataTable::kHeaderLines + samples + 1);
        QCOMPARE(table->FirstLine() + table->VisibleLines(), lines);
        QCOMPARE(table->Table().LineText(lines - 1).trimmed().section(QLatin1Char(' '), 0, 0),
                 QString::number(samples + 1));
        QTRY_VERIFY(table->Frames() > 0);
        // The channel window's toolbar button goes back to the graph.
        auto* button = qobject_cast<QToolButton*>(
            view->ToolBar()->widgetForAction(view->Action(cmd::ShowDataTable)));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!view->State().showDataTable);
        QVERIFY(view->Canvas()->isVisible());
    }

    // File > Print of the graph page and of the report, through the print
    // dialog; the report prints from data-table mode.
    void printGraphAndReport() {
        ChannelWindow* w =
            Open(WriteRecord(QStringLiteral("RXr_F_print.p8d"), synth::Flow(25.0, 1000, 3000)));
        QVERIFY(w);
        Trigger(cmd::FilePrint);
        QCOMPARE(m_printDialogs, 1);
        QStringList pages = PdfPages(m_printTo);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QLatin1String("RXr_F_print.p8d")));
        QVERIFY(pages[0].contains(QLatin1String("Clinical Physics"))); // read again from settings
        QVERIFY(pages[0].contains(QLatin1String("Measured Values")));

        Trigger(cmd::ShowDataTable);
        Trigger(cmd::FilePrint);
        pages = PdfPages(m_printTo);
        QVERIFY(pages.size() > 20);
        QVERIFY(pages.last().contains(QStringLiteral("Page %1 of %1").arg(pages.size())));
        QVERIFY(pages.last().contains(QLatin1String("3001")));
    }

    // A Dual Flow record of an older analyzer (type 'D') prints like the
    // others.
    void olderDualFlowRecordPrints() {
        QFile flow(QStringLiteral(RX_TEST_DATA "/records/flow_small.p8d"));
        QVERIFY(flow.open(QIODevice::ReadOnly));
        const QByteArray text = flow.readAll().replace("H12,Flow", "H12,Dual Flow");
        ChannelWindow* w = Open(WriteRecord(QStringLiteral("RXr_D_old.p8d"), text));
        QVERIFY(w);
        QCOMPARE(w->Document()->TestType, 'D');
        Trigger(cmd::FilePrint);
        QCOMPARE(m_printDialogs, 1);
        const QStringList pages = PdfPages(m_printTo);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QLatin1String("RXr_D_old.p8d")));
        QVERIFY(pages[0].contains(QLatin1String("PUMP-0042")));
    }

    // Report headers cleared in the settings print blank, as set, not the
    // record's own ("Biomedical Engineering" in the file).
    void blankReportHeadersReplaceTheRecords() {
        const QString path = m_dir->filePath(QStringLiteral("data/RXr_F_headers.p8d"));
        QVERIFY(QFile::copy(QStringLiteral(RX_TEST_DATA "/records/flow_small.p8d"), path));
        QVERIFY(m_app->WriteSetting(settings::kSection, QStringLiteral("ReportHeader1"), {}));
        QVERIFY(Open(path));
        Trigger(cmd::FilePrint);
        const QStringList pages = PdfPages(m_printTo);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QLatin1String("PUMP-0042")));
        QVERIFY(!pages[0].contains(QLatin1String("Biomedical Engineering")));
        QVERIFY(!pages[0].contains(QLatin1String("Clinical Physics")));
    }

    // Print Preview draws the same pages into the preview's printer.
    void printPreview() {
        ChannelWindow* w = Open(WriteRecord(QStringLiteral("RXr_O_preview.p8d"),
                                            synth::Occlusion(400, 1000, 300, 250)));
        QVERIFY(w);
        const QString out = m_dir->filePath(QStringLiteral("preview.pdf"));
        int previews = 0;
        printing::Hooks().preview = [&](QPrinter& printer, QWidget*,
                                        const std::function<void(QPrinter*)>& render) {
            ++previews;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(out);
            render(&printer);
        };
        Trigger(cmd::FilePrintPreview);
        QCOMPARE(previews, 1);
        const QStringList pages = PdfPages(out);
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains(QLatin1String("Peak Pressure")));
    }

    // A three-step template record prints steps 1, 2 and 3 after one
    // dialog, and the window is left at the last step.
    void templatePrintsEveryStep() {
        const QString path = m_dir->filePath(QStringLiteral("data/RXr_T_three.p8d"));
        QVERIFY(QFile::copy(QStringLiteral(RX_TEST_DATA "/records/template_3step.p8d"), path));
        ChannelWindow* w = Open(path);
        QVERIFY(w);
        Trigger(cmd::FilePrint);
        QCOMPARE(m_printDialogs, 1);
        const QStringList pages = PdfPages(m_printTo);
        QCOMPARE(pages.size(), 3);
        for (int k = 0; k < 3; ++k)
            QVERIFY(pages[k].contains(QStringLiteral("Step %1 of 3").arg(k + 1)));
        QCOMPARE(w->Document()->StepToShow, 3);
    }

    // File > Export PDF and Export Data Table write their files.
    void exports() {
        ChannelWindow* w =
            Open(WriteRecord(QStringLiteral("RXr_F_export.p8d"), synth::Flow(25.0, 1000, 50)));
        QVERIFY(w);
        QString asked;
        printing::Hooks().savePath = [&](QWidget*, const QString&, const QString& suggested,
                                         const QString&) {
            asked = suggested;
            return m_dir->filePath(suggested);
        };
        Trigger(cmd::ExportPdf);
        QCOMPARE(asked, QStringLiteral("RXr_F_export.pdf"));
        QCOMPARE(PdfPages(m_dir->filePath(asked)).size(), 1);
        Trigger(cmd::ExportDataTable);
        QCOMPARE(asked, QStringLiteral("RXr_F_export.csv"));
        QFile csv(m_dir->filePath(asked));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().replace("\r\n", "\n").split('\n');
        QVERIFY(lines.contains(QByteArray("Sample,Elapsed Time,Delivered Volume (ml),Average Flow "
                                          "(ml/h),Inst. Flow (ml/h),Back Pressure (mmHg),Back "
                                          "Pressure (psi),Back Pressure (kPa),Status")));
        QVERIFY(lines[lines.size() - 2].startsWith("51,00:00:50,"));
        // A file that cannot be written is reported.
        printing::Hooks().savePath = [&](QWidget*, const QString&, const QString&, const QString&) {
            return m_dir->filePath(QStringLiteral("no/such/folder/x.csv"));
        };
        Trigger(cmd::ExportDataTable);
        QCOMPARE(m_prompter.messages.size(), 1);
    }

    // Export PDF and Export Data Table onto a full disk: a message with the
    // system's reason, and an earlier file of the name as it was.
    void exportsOntoFullDisk_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("device");
        QTest::newRow("pdf onto /dev/full") << int(cmd::ExportPdf) << true;
        QTest::newRow("csv onto /dev/full") << int(cmd::ExportDataTable) << true;
        QTest::newRow("pdf onto a full file system") << int(cmd::ExportPdf) << false;
        QTest::newRow("csv onto a full file system") << int(cmd::ExportDataTable) << false;
    }
    void exportsOntoFullDisk() {
        QFETCH(int, command);
        QFETCH(bool, device);
        QVERIFY(Open(WriteRecord(QStringLiteral("RXr_F_full.p8d"), synth::Flow(25.0, 1000, 3000))));
        Trigger(cmd::ShowDataTable);
        QString target = QStringLiteral("/dev/full");
        std::unique_ptr<SmallTmpfs> fs;
        QByteArray before;
        if (!device) {
            fs = std::make_unique<SmallTmpfs>(64 * 1024);
            if (!fs->Usable()) QSKIP(qPrintable(fs->WhyNot()));
            target = fs->Path() + QStringLiteral("/earlier");
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            before = "an earlier export";
            f.write(before);
            f.close();
            fs->Fill();
        }
        printing::Hooks().savePath = [&](QWidget*, const QString&, const QString&, const QString&) {
            return target;
        };
        Trigger(command);
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY2(m_prompter.messages[0].contains(QLatin1String("No space left on device")),
                 qPrintable(m_prompter.messages[0]));
        if (!device) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), before);
            fs->Free();
        }
    }

    // What is not a record is refused with the read failure's message and
    // opens no window to print from.
    void notARecordIsRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty file") << QByteArray();
        QByteArray noise(5000, 0);
        for (int i = 0; i < noise.size(); ++i) noise[i] = char(synth::Noise(uint32_t(i)) * 127);
        QTest::newRow("random bytes") << noise;
    }
    void notARecordIsRefused() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!Open(WriteRecord(QStringLiteral("RXr_F_bad.p8d"), bytes)));
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(m_prompter.messages[0].contains(QLatin1String("Failed to open document.")));
        QVERIFY(m_frame->MdiArea()->subWindowList().isEmpty());
    }

    // Print Preview and Export PDF lay the report out alike.
    void previewAndExportPdfAgree() {
        QVERIFY(
            Open(WriteRecord(QStringLiteral("RXr_F_pages.p8d"), synth::Flow(25.0, 1000, 2400))));
        Trigger(cmd::ShowDataTable);
        const QString preview = m_dir->filePath(QStringLiteral("preview.pdf"));
        printing::Hooks().preview = [&](QPrinter& printer, QWidget*,
                                        const std::function<void(QPrinter*)>& render) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(preview);
            render(&printer);
        };
        Trigger(cmd::FilePrintPreview);
        const QString exported = m_dir->filePath(QStringLiteral("exported.pdf"));
        printing::Hooks().savePath = [&](QWidget*, const QString&, const QString&, const QString&) {
            return exported;
        };
        Trigger(cmd::ExportPdf);
        const QStringList a = PdfPages(preview), b = PdfPages(exported);
        QVERIFY(a.size() > 30);
        QCOMPARE(a.size(), b.size());
        QVERIFY(b.last().contains(QStringLiteral("Page %1 of %1").arg(b.size())));
    }

    // Printing waits until the channel's test has stopped; Start leaves the
    // data table for the graph.
    void disabledWhileRunningAndStartShowsGraph() {
        CRivuletrixDoc doc;
        doc.Clock = [] { return qint64(0); };
        doc.TestType = 'F';
        doc.Run.live = doc.Run.running = true;
        CRivuletrixWinView view(&doc);
        view.SetRunCommandEnabler([](int) { return true; });
        view.resize(800, 500);
        view.show();
        view.UpdateActions();
        for (int id : {cmd::FilePrint, cmd::FilePrintPreview, cmd::ExportPdf, cmd::ExportDataTable})
            QVERIFY2(!view.Action(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(view.Action(cmd::ShowDataTable)->isEnabled());
        view.Action(cmd::ShowDataTable)->trigger();
        QVERIFY(view.State().showDataTable);
        for (int i = 0; i < 30; ++i) doc.AddSample(synth::Line(' ', i * 1000, i * 100, 3));
        QCOMPARE(view.TableView()->Table().LineCount(), DataTable::kHeaderLines + 29);
        view.Action(cmd::StartTest)->trigger();
        QVERIFY(!view.State().showDataTable);
        doc.Run.running = false;
        view.UpdateActions();
        QVERIFY(view.Action(cmd::FilePrint)->isEnabled());
    }
};

QTEST_MAIN(TestPrintGui)
#include "test_print_gui.moc"
