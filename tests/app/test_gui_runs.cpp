// A technician's test runs in the main window against a simulated analyzer:
// the setup sheet filled in and confirmed on screen, Start Test and End Test
// from the channel window's toolbar, the live graph drawn as samples arrive,
// and the saved, indexed record read back by rivuletrix-cli.
//
// RIVULETRIX_SCREENSHOTS=DIR keeps a picture of the main window in the middle
// of each run.
#include "../CountColour.h"
#include "../testing/RunFixture.h"
#include "BenchWindowTest.h"

#include "app/ChannelWindow.h"
#include "app/DevicePane.h"
#include "app/MainFrame.h"
#include "app/ManageConnectionDlg.h"
#include "app/Startup.h"
#include "app/WorkingFolder.h"
#include "base/CommandIds.h"
#include "link/Device.h"
#include "records/TestJournal.h"
#include "store/RecordListModel.h"
#include "store/TemplateStore.h"
#include "store/ViewRecordDlg.h"
#include "testing/SetupPages.h"
#include "testing/SetupSheet.h"
#include "testing/TemplateNextStepDlg.h"
#include "view/ReportPrinting.h"
#include "view/RivuletrixWinView.h"
#include "view/TrumpetCurve.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <csignal>
#include <functional>
#include <memory>

using setupsheet::SetupField;
using setupsheet::SetupPage;

namespace {

void Type(QLineEdit* edit, const QString& text) {
    QVERIFY(edit);
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, text);
}

// Answers the modal dialogs the way a user at the screen would: fills the
// setup sheet with the test's filler and presses OK, presses a button of the
// "Template Next Step" dialog. A sheet that refuses OK is cancelled and the
// refusal kept, so that a test fails instead of hanging.
class ModalHand : public QObject {
public:
    std::function<void(CSetupSheet&)> fill;
    QString nextStepButton = QStringLiteral("Next Step"); // when it is enabled
    int sheetsShown = 0;
    int nextStepShown = 0;
    QStringList nextStepTexts; // "step|test type" as each dialog showed them
    bool sheetRefused = false;

    ModalHand() {
        connect(&m_timer, &QTimer::timeout, this, &ModalHand::Look);
        m_timer.start(50);
    }

private:
    void Look() {
        if (m_busy) return;
        m_busy = true;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible()) continue;
            if (auto* sheet = qobject_cast<CSetupSheet*>(w)) {
                ++sheetsShown;
                if (fill) fill(*sheet);
                sheet->OkButton()->click();
                if (sheet->isVisible()) {
                    sheetRefused = true;
                    sheet->CancelButton()->click();
                }
            } else if (auto* dlg = qobject_cast<CTemplateNextStepDlg*>(w)) {
                ++nextStepShown;
                const auto text = [dlg](const char* name) {
                    auto* e = dlg->findChild<QLineEdit*>(QLatin1String(name));
                    return e ? e->text() : QStringLiteral("?");
                };
                nextStepTexts << text("Template Step") + QLatin1Char('|') + text("Test Type");
                // After the last step only "Save and Exit" is left.
                QPushButton* chosen = nullptr;
                for (QPushButton* b : dlg->findChildren<QPushButton*>())
                    if (b->isEnabled() &&
                        (b->text() == nextStepButton ||
                         (!chosen && b->text() == QLatin1String("Save and Exit"))))
                        chosen = b;
                if (chosen)
                    chosen->click();
                else
                    dlg->reject(); // nothing a user could press: fail, do not hang
            }
        }
        m_busy = false;
    }

    QTimer m_timer;
    bool m_busy = false;
};

} // namespace

class TestGuiRuns : public BenchWindowTest {
    Q_OBJECT

    std::unique_ptr<ModalHand> m_hand;
    // Print jobs the print question led to, each printed to a PDF file.
    int m_printJobs = 0;
    QString PrintedPdf() const { return m_dir->filePath(QStringLiteral("printed.pdf")); }

    // Bench A, a PXR-8 of one channel, with more simulator arguments.
    static QStringList BenchA(const QStringList& more = {}) {
        return QStringList{"--model",  "PXR-8",    "--name",     "Bench A",
                           "--serial", "80001234", "--channels", "1"} +
               more;
    }
    // A sample every period ms of analyzer time, that time running accel
    // times as fast, primed in 300 ms, the channel following profile.
    static QStringList Paced(const char* period, const char* accel, const char* profile) {
        return {"--sample-period", period, "--accel",   accel,
                "--prime-delay",   "300",  "--profile", profile};
    }
    // Started and connected with the first channel window maximized.
    void Bench(const QStringList& simArgs) {
        BenchWindowTest::Bench(simArgs);
        if (ChannelWindow* w = m_frame ? m_frame->ChannelWindowAt(1, 1) : nullptr)
            w->showMaximized();
    }
    ChannelWindow& Window(int channel = 1) { return *m_frame->ChannelWindowAt(1, channel); }
    CRivuletrixDoc& Doc() { return *Window().Document(); }
    // A click on the channel window's toolbar button of a command.
    void Press(int id, int channel = 1) {
        m_frame->MdiArea()->setActiveSubWindow(&Window(channel));
        CRivuletrixWinView* view = Window(channel).View();
        QAction* action = view->Action(id);
        QVERIFY(action);
        QTRY_VERIFY_WITH_TIMEOUT((view->UpdateActions(), action->isEnabled()), 15000);
        QWidget* button = view->ToolBar()->widgetForAction(action);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void KeepScreenshot(const char* name) {
        const QByteArray dir = qgetenv("RIVULETRIX_SCREENSHOTS");
        if (!dir.isEmpty())
            m_frame->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') +
                                 QLatin1String(name) + QStringLiteral(".png"));
    }
    // The live picture once the test has data: its key names the series
    // drawn, and each series' colour is inside the plot.
    void CheckLiveGraph(const QStringList& keyItems, const QList<QRgb>& colours) {
        CRivuletrixWinView* view = Window().View();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().StoredCount() > 30, 20000);
        const int frames = view->FrameCount();
        QTRY_VERIFY_WITH_TIMEOUT(view->FrameCount() > frames + 2, 5000); // redrawn as data arrive
        const GraphRenderer::Result& r = view->LastResult();
        QVERIFY(r.plotOk);
        for (const QString& item : keyItems)
            QVERIFY2(r.keyItems.contains(item), qPrintable(r.keyItems.join(QLatin1Char(','))));
        QVERIFY(!r.timeTitle.isEmpty());
        const QImage image = view->LastImage();
        for (QRgb c : colours)
            QVERIFY2(CountColour(image, r.plot, c) > 20,
                     qPrintable(QStringLiteral("colour %1").arg(c & 0xffffff, 6, 16)));
    }
    // End Test once the test stopped by itself; the save question is
    // answered Yes. Returns the saved record's path.
    QString EndAndSave() {
        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        if (!QTest::qWaitFor([&] { return Doc().Run.autoStopped; }, 60000)) return {};
        Press(cmd::EndTest);
        return finished.wait(20000) ? Window().Run()->LastSavedPath() : QString();
    }
    // rivuletrix-cli reads the record back.
    QByteArray Show(const QString& path) {
        QProcess p;
        p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), {"record", "show", path});
        if (!p.waitForFinished(20000) || p.exitCode() != 0) return {};
        return p.readAllStandardOutput();
    }

    // The main window's menu entry of a command.
    QAction* MenuAction(int id) {
        for (QAction* top : m_frame->menuBar()->actions())
            if (top->menu())
                for (QAction* a : top->menu()->actions())
                    if (a->data().toInt() == id) return a;
        return nullptr;
    }
    // A click on the main toolbar's button of a command.
    void ClickMainToolbar(int id) {
        auto* bar = m_frame->findChild<QToolBar*>(QStringLiteral("MainToolBar"));
        QVERIFY(bar);
        QAction* action = m_frame->Action(id);
        m_frame->UpdateCommands();
        QVERIFY(action && action->isEnabled());
        QWidget* button = bar->widgetForAction(action);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    // File > Open > Records, the record of a control number ticked in the
    // browser, OK pressed twice (the second only brings the window up), then
    // Cancel. Returns the file name the browser listed and how many rows.
    void OpenThroughRecordsBrowser(const QString& control, QString& shownFile, int& listed) {
        QAction* records = nullptr;
        for (QAction* top : m_frame->menuBar()->actions())
            if (top->text() == QLatin1String("&File"))
                for (QAction* a : top->menu()->actions())
                    if (a->menu() && a->text() == QLatin1String("Open"))
                        for (QAction* entry : a->menu()->actions())
                            if (entry->data().toInt() == cmd::OpenRecords) records = entry;
        QVERIFY(records);
        m_frame->UpdateCommands();
        QVERIFY(records->isEnabled());
        listed = -1;
        QTimer hand;
        connect(&hand, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dlg = qobject_cast<CViewRecordDlg*>(w);
                if (!dlg || !dlg->isVisible()) continue;
                hand.stop();
                RecordListModel* model = dlg->Model();
                listed = model->RowCount();
                for (int r = 0; r < model->RowCount(); ++r)
                    if (model->Text(r, RecordListModel::ControlNo) == control) {
                        shownFile = model->FileName(r);
                        QTableView* list = dlg->List();
                        const QModelIndex tick = model->index(r, RecordListModel::Tick);
                        list->scrollTo(tick);
                        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                          list->visualRect(tick).center());
                    }
                QTest::mouseClick(dlg->OkButton(), Qt::LeftButton);
                QTest::mouseClick(dlg->OkButton(), Qt::LeftButton);
                QTest::mouseClick(dlg->CancelButton(), Qt::LeftButton);
            }
        });
        hand.start(50);
        records->trigger();
    }
    // Once the main window is active again (the browser closed), the window
    // in front is the record just opened, not the channel window that had the
    // keyboard before.
    ChannelWindow* RecordInFront(const QString& path) {
        if (!QTest::qWaitFor([this] { return m_frame->isActiveWindow(); }, 10000)) return nullptr;
        QCoreApplication::processEvents();
        auto* w = qobject_cast<ChannelWindow*>(m_frame->MdiArea()->activeSubWindow());
        if (!w || w->Slot() != 0 || w->windowTitle() != QFileInfo(path).fileName()) return nullptr;
        const QList<QMdiSubWindow*> stack =
            m_frame->MdiArea()->subWindowList(QMdiArea::StackingOrder);
        return stack.last() == w ? w : nullptr;
    }

    // Samples stored in the window (slot 0 stays empty).
    int Samples() { return Doc().StoredCount() - 1; }
    // A Flow test at 300 ml/h that stops at stopMl, set up and started from
    // the toolbar.
    void StartFlow(const QString& control, const QString& stopMl, int channel = 1) {
        m_hand->fill = [control, stopMl](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(0);
            CSetupPage* page = sheet.Page(SetupPage::Flow);
            Type(page->EquipmentEdit(0), control);
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            Type(page->Edit(SetupField::FlowSetRate), QStringLiteral("300"));
            page->Check(SetupCheck::StopVolume)->click();
            Type(page->Edit(SetupField::FlowStopVolume), stopMl);
        };
        SetUpAndStart(channel);
    }
    // Setup Test, the sheet filled by m_hand, then Start Test, all from the
    // channel window's toolbar.
    void SetUpAndStart(int channel = 1) {
        Press(cmd::SetupTest, channel);
        QVERIFY2(!m_hand->sheetRefused, qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        Press(cmd::StartTest, channel);
    }
    // Connect in the connection manager opened from the menu, on its one
    // ready row; the row's text and whether Connect was enabled.
    void ConnectThroughMenu(QString& row, bool& connectEnabled) {
        QAction* manage = MenuAction(cmd::ManageConnection);
        QVERIFY(manage);
        m_frame->UpdateCommands();
        QVERIFY(manage->isEnabled());
        QTimer hand;
        connect(&hand, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dlg = qobject_cast<CManageConnectionDlg*>(w);
                if (!dlg || !dlg->isVisible() || dlg->Searching()) continue;
                hand.stop();
                QTreeWidget* ready = dlg->ReadyList();
                if (ready->topLevelItemCount() == 1) {
                    row = ready->topLevelItem(0)->text(0);
                    ready->setCurrentItem(ready->topLevelItem(0));
                    connectEnabled = dlg->Button(QStringLiteral("Connect"))->isEnabled();
                    QTest::mouseClick(dlg->Button(QStringLiteral("Connect")), Qt::LeftButton);
                }
                QTest::mouseClick(dlg->Button(QStringLiteral("E&xit")), Qt::LeftButton);
            }
        });
        hand.start(50);
        manage->trigger();
    }
    // The records the analyzer deleted, as its traffic log has them.
    int RecordsDeleted() const {
        QFile f(m_sim->Dir() + QStringLiteral("/gui.log"));
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count(" deleted, ")) : -1;
    }
    // Waits until the analyzer is lost and every line it got out before is
    // in the window.
    void WaitLostWithEverySample() {
        QTRY_VERIFY_WITH_TIMEOUT(m_app->Device(1)->IsLost(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Samples(), m_sim->SamplesSent(1), 5000);
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->DevicePane()->AnalyzerButton(1)->text(),
                 QStringLiteral("Bench A - lost"));
    }
    int RecordSamples(const QString& path) {
        CRivuletrixDoc record;
        QString error;
        if (!record.ReadRecordFile(path, &error)) return -1;
        return record.StoredCount() - 1;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }
    void init() {
        QVERIFY(NewRunFolder());
        m_prompter.SetDefaultAnswer(true); // save
        m_hand = std::make_unique<ModalHand>();
        // The print dialog: the user prints to a PDF file.
        m_printJobs = 0;
        printing::Hooks().print = [this](QPrinter& printer, QWidget*) {
            ++m_printJobs;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(PrintedPdf());
            return true;
        };
    }
    void cleanup() {
        CloseBench();
        printing::ResetHooks();
        m_hand.reset();
    }

    void flowTestStopsOnVolume() {
        Bench(BenchA(Paced("200", "30", "1:flow,noise=0.02")));
        StartFlow(QStringLiteral("GUI-F1"), QStringLiteral("2"));
        QCOMPARE(m_hand->sheetsShown, 1);
        CheckLiveGraph({"Average Flow", "Delivered Volume", "Set Flow Rate"},
                       {qRgb(0, 0, 255), qRgb(0, 223, 0)});
        KeepScreenshot("live-flow");
        const QString path = EndAndSave();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_F")));
        const QByteArray shown = Show(path);
        QVERIFY(shown.contains("GUI-F1"));
        QVERIFY(shown.contains("80001234")); // the analyzer's serial number
        EquipmentDetails details;
        QVERIFY(m_app->Records().FindEquipment(QStringLiteral("GUI-F1"), details));
        QVERIFY(Doc().StoredCount() <= 1); // the window is ready for the next test
        // Yes to the print question after the save prints the record.
        QVERIFY(m_prompter.questions.contains(QStringLiteral("Do you want to print the results?")));
        QCOMPARE(m_printJobs, 1);
        QVERIFY(QFileInfo(PrintedPdf()).size() > 1000);
    }

    // Unplugged in the middle of a Flow test, the analyzer comes back on
    // another port. The samples so far stay; Connect in the connection
    // manager (opened from the menu) finds it by its serial number and puts
    // it back in its slot under the same window; the test goes on to its
    // stop and is saved with the samples of both connections.
    void unpluggedRunReconnectsInItsSlot() {
        const QString moved = m_dir->filePath(QStringLiteral("moved-port"));
        Bench(BenchA(Paced("1000", "10", "1:flow,noise=0.02")
                     << "--do"
                     << QStringLiteral("after RUN; after 40 samples unplug; after 1500ms replug %1")
                            .arg(moved)));
        qputenv("RIVULETRIX_PORTS", (m_sim->Link() + QLatin1Char(':') + moved).toLocal8Bit());
        ChannelWindow* window = &Window();
        StartFlow(QStringLiteral("GUI-U1"), QStringLiteral("9"));
        WaitLostWithEverySample();
        const int before = Samples();
        QVERIFY2(before >= 38, qPrintable(QString::number(before)));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(moved), 10000); // plugged in again

        QString row;
        bool connectEnabled = false;
        ConnectThroughMenu(row, connectEnabled);
        QCOMPARE(row, QStringLiteral(" Bench A   1 Channels - lost"));
        QVERIFY(connectEnabled);
        QVERIFY2(m_prompter.messages.isEmpty(),
                 qPrintable(m_prompter.messages.join(QLatin1Char('|'))));

        CDevice* device = m_app->Device(1);
        QVERIFY(device && !device->IsLost());
        QCOMPARE(device->PortName, moved);
        QCOMPARE(m_frame->ChannelWindowAt(1, 1), window);
        QCOMPARE(m_app->ConnectedCount, 1);
        const FoundAnalyzer ready = m_app->Scanner().Ready().value(0);
        QVERIFY(ready.connected && !ready.lost);
        QCOMPARE(ready.slot, 1);
        QCOMPARE(ready.portName, moved);
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->DevicePane()->AnalyzerButton(1)->text(),
                 QStringLiteral("Bench A - Dev 1"));
        QVERIFY(Samples() >= before);
        QTRY_VERIFY_WITH_TIMEOUT(Samples() > before + 10, 20000); // new ones arrive

        const QString path = EndAndSave();
        QVERIFY(!path.isEmpty());
        QVERIFY(RecordSamples(path) > before + 10);
    }

    // A test whose analyzer is lost and stays away is saved with what
    // arrived: End Test from the toolbar, Yes to the save.
    void lostAnalyzersTestIsSavedWithWhatArrived() {
        Bench(BenchA(Paced("1000", "10", "1:flow,noise=0.02")
                     << "--do"
                     << "after RUN; after 25 samples unplug"));
        StartFlow(QStringLiteral("GUI-U2"), QStringLiteral("50"));
        WaitLostWithEverySample();
        const int arrived = Samples();
        QVERIFY(arrived >= 23);
        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        Press(cmd::EndTest);
        QVERIFY(finished.wait(20000));
        const QString path = Window().Run()->LastSavedPath();
        QVERIFY2(!path.isEmpty(), qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QCOMPARE(RecordSamples(path), arrived);
    }

    // Unplugged in the middle of a Flow test, the analyzer comes back
    // restarted: its test is gone, its stored records (another day's) kept.
    // Connected again through the manager, it reports the channel idle: the
    // technician is told once and offered the end, which saves what arrived;
    // the analyzer's newest record is not the test's, so nothing is deleted.
    void restartedAnalyzerNoLongerRunsTheTest() {
        const QString moved = m_dir->filePath(QStringLiteral("moved-port"));
        Bench(BenchA(
            Paced("1000", "10", "1:flow,noise=0.02")
            << "--preset-records"
            << "2"
            << "--do"
            << QStringLiteral("after RUN; after 30 samples unplug; restart; after 1500ms replug %1")
                   .arg(moved)));
        qputenv("RIVULETRIX_PORTS", (m_sim->Link() + QLatin1Char(':') + moved).toLocal8Bit());
        StartFlow(QStringLiteral("GUI-R1"), QStringLiteral("50"));
        WaitLostWithEverySample();
        const int arrived = Samples();
        QVERIFY(arrived >= 28);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(moved), 10000);

        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        QString row;
        bool connectEnabled = false;
        ConnectThroughMenu(row, connectEnabled); // Yes to the offer, the save and the print
        QVERIFY(connectEnabled);
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        const QStringList offers = m_prompter.questions.filter(QStringLiteral("no longer runs"));
        QCOMPARE(offers.size(), 1);
        QVERIFY2(offers[0].contains(QStringLiteral("Bench A no longer runs the test on channel 1")),
                 qPrintable(offers[0]));
        const QString path = Window().Run()->LastSavedPath();
        QVERIFY2(!path.isEmpty(), qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QCOMPARE(RecordSamples(path), arrived);
        QVERIFY(Show(path).contains("GUI-R1"));
        QCOMPARE(m_printJobs, 1);
        QVERIFY2(!m_prompter.messages
                      .filter(QStringLiteral("is not the record of the test on "
                                             "channel 1"))
                      .isEmpty(),
                 qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QCOMPARE(RecordsDeleted(), 0);
        QVERIFY(!m_sim->Received().join(' ').contains(QLatin1String("DELREC")));
        m_frame->UpdateCommands();
        Window().View()->UpdateActions();
        QVERIFY(!Window().View()->Action(cmd::EndTest)->isEnabled());
        QVERIFY(Window().View()->Action(cmd::SetupTest)->isEnabled());
    }

    // Two channels of one analyzer stop close together, and are ended and
    // saved after both stopped: the first one's record is no longer the
    // analyzer's newest, so it stays there and the technician is told; the
    // second one's copy is deleted.
    void closeEndingsSayTheAnalyzerKeepsTheRecord() {
        Bench({"--model",          "PXR-8",
               "--name",           "Bench A",
               "--serial",         "80001234",
               "--channels",       "1,2",
               "--sample-period",  "500",
               "--accel",          "10",
               "--prime-delay",    "300",
               "--preset-records", "1",
               "--profile",        "1:flow,noise=0.02",
               "--profile",        "2:flow,noise=0.02"});
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->ChannelWindowAt(1, 2), 10000);
        StartFlow(QStringLiteral("GUI-C1"), QStringLiteral("1"), 1);
        StartFlow(QStringLiteral("GUI-C2"), QStringLiteral("1"), 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            Window(1).Document()->Run.autoStopped && Window(2).Document()->Run.autoStopped, 60000);
        for (int channel : {1, 2}) {
            QSignalSpy finished(Window(channel).Run(), &RunController::TestFinished);
            Press(cmd::EndTest, channel);
            QVERIFY(finished.wait(20000));
            QVERIFY(!Window(channel).Run()->LastSavedPath().isEmpty());
        }
        const QStringList kept = m_prompter.messages.filter(QStringLiteral("still holds"));
        QVERIFY2(kept.size() == 1, qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QVERIFY2(kept[0].contains(QStringLiteral("channel 1 (control number GUI-C1)")),
                 qPrintable(kept[0]));
        QVERIFY(kept[0].contains(QStringLiteral("another channel's test ended after it")));
        // Channel 2's copy, the newest of three, went.
        QTRY_COMPARE_WITH_TIMEOUT(RecordsDeleted(), 1, 5000);
        QCOMPARE(m_sim->Received().filter(QStringLiteral("DELREC")),
                 QStringList{QStringLiteral("[DELREC,3]\\r\\n")});
    }

    // The program ended (killed) while a test ran on channel 2. Started
    // again it offers to recover what the journal holds, finds the analyzer
    // though it streams, and shows the channel's test as running on the
    // analyzer on the window's title and status line; End Test from the
    // toolbar ends it there, and the analyzer keeps its record for import.
    void restartFindsTheTestLeftRunning() {
        m_sim = std::make_unique<SimProcess>(
            QStringLiteral("gui"),
            QStringList{"--model", "PXR-8", "--name", "Bench A", "--serial", "80001234",
                        "--channels", "1,2", "--sample-period", "500", "--accel", "10",
                        "--prime-delay", "300", "--profile", "2:flow,noise=0.02"});
        QVERIFY(m_sim->Ok());
        const QString journals = journal::Folder(m_dir->filePath(QStringLiteral("settings")));
        const QString data = m_dir->filePath(QStringLiteral("data"));
        QProcess run;
        run.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"),
                  {"run", m_sim->Link(), "--channel", "2", "--type", "flow", "--rate", "100",
                   "--control", "GUI-K2", "--stop-time", "01:00", "--journal-folder", journals,
                   "--data-folder", data});
        QVERIFY(run.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->SamplesSent(2) > 40, 20000);
        ::kill(pid_t(run.processId()), SIGKILL);
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(journal::List(journals).size(), 1);

        // Started as main() does; Yes to the recovery, then the search.
        qputenv("RIVULETRIX_PORTS", m_sim->Link().toLocal8Bit());
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_frame = std::make_unique<CMainFrame>(*m_app);
        WorkingFolder work;
        work.folder = m_dir->path();
        StartMainWindow(*m_app, *m_frame, work, {});
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY2(m_prompter.questions[0].contains(QStringLiteral("channel 2")),
                 qPrintable(m_prompter.questions[0]));
        QCOMPARE(QDir(data).entryList({QStringLiteral("*.p8d")}).size(), 1);
        QVERIFY(journal::List(journals).isEmpty());
        auto dlg = SearchAnalyzers(*m_app, *m_frame);
        QCOMPARE(dlg->UsbList()->topLevelItemCount(), 1);
        ConnectAllFound(*dlg);
        dlg->close();
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->ChannelWindowAt(1, 2), 10000);

        ChannelWindow& w = Window(2);
        QTRY_COMPARE_WITH_TIMEOUT(w.Run()->CurrentState(), RunController::State::OnAnalyzer, 10000);
        QCOMPARE(w.windowTitle(),
                 QStringLiteral("Channel 2 Bench A - test running on the analyzer"));
        QVERIFY(w.StatusLine()->isVisible());
        QVERIFY2(w.StatusLine()->text().contains(QStringLiteral("did not start")),
                 qPrintable(w.StatusLine()->text()));
        QCOMPARE(Window(1).Run()->CurrentState(), RunController::State::Idle);
        QVERIFY(!Window(1).StatusLine()->isVisible());
        const int sent = m_sim->SamplesSent(2);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->SamplesSent(2) > sent + 10, 10000);
        QVERIFY(w.Document()->StoredCount() <= 1); // its lines are not this window's test

        Press(cmd::EndTest, 2); // Yes to the question
        QVERIFY(m_prompter.questions.last().contains(QStringLiteral("channel 2 of Bench A")));
        QTRY_COMPARE_WITH_TIMEOUT(w.Run()->CurrentState(), RunController::State::Idle, 10000);
        QCOMPARE(w.windowTitle(), QStringLiteral("Channel 2 Bench A"));
        QVERIFY(!w.StatusLine()->isVisible());
        QCOMPARE(m_sim->Received().filter(QStringLiteral("[END,2]")).size(), 1);
        QVERIFY(!m_sim->Received().join(' ').contains(QLatin1String("DELREC")));
        int records = 0;
        QCOMPARE(m_app->Device(1)->GetRecordCount(records), 0);
        QCOMPARE(records, 1); // the analyzer's own record of the test, to import
        QVERIFY(!w.Document()->Modified);
        w.View()->UpdateActions();
        QVERIFY(w.View()->Action(cmd::SetupTest)->isEnabled());
    }

    // A saved test found again as a user does: File > Open > Records, the
    // record ticked in the browser, OK; its window shows the record.
    void savedRecordOpensThroughFileOpenRecords() {
        Bench(BenchA(Paced("200", "30", "1:flow,noise=0.02")));
        StartFlow(QStringLiteral("GUI-R1"), QStringLiteral("1"));
        const QString path = EndAndSave();
        QVERIFY(!path.isEmpty());

        int listed = -1;
        QString shownFile;
        const int windows = int(m_frame->MdiArea()->subWindowList().size());
        OpenThroughRecordsBrowser(QStringLiteral("GUI-R1"), shownFile, listed);
        QCOMPARE(listed, 1);
        QCOMPARE(shownFile, QFileInfo(path).fileName());
        QCOMPARE(int(m_frame->MdiArea()->subWindowList().size()), windows + 1);
        ChannelWindow* record = RecordInFront(path);
        QVERIFY(record);
        QCOMPARE(record->Document()->ControlNumber, QStringLiteral("GUI-R1"));
        QVERIFY(record->Document()->StoredCount() > 2);
        record->showMaximized();
        CRivuletrixWinView* view = record->View();
        QTRY_VERIFY_WITH_TIMEOUT(view->FrameCount() > 0 && view->LastResult().plotOk, 5000);
        QVERIFY(view->LastResult().keyItems.contains(QStringLiteral("Delivered Volume")));
        QVERIFY(m_prompter.messages.isEmpty());
        // Opened once: it heads the recent files of the File menu.
        QAction* recent = m_frame->Action(cmd::RecentFile1);
        QVERIFY(recent->isVisible());
        QVERIFY(recent->text().endsWith(QFileInfo(path).fileName()));
    }

    // Two hours of flow at accelerated analyzer time. The trumpet curve is
    // shown on the live window from the main toolbar and stays drawn through
    // End and its save question; the saved record, opened through
    // File > Open > Records, comes up in front and shows its curve too.
    void trumpetCurveOfATwoHourRun() {
        Bench(BenchA(Paced("1000", "720", "1:flow,noise=20,error=-1.5")));
        m_hand->fill = [](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(0);
            CSetupPage* page = sheet.Page(SetupPage::Flow);
            Type(page->EquipmentEdit(0), QStringLiteral("GUI-TC"));
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            Type(page->Edit(SetupField::FlowSetRate), QStringLiteral("120"));
            page->Check(SetupCheck::StopTime)->click();
            Type(page->Edit(SetupField::FlowHours), QStringLiteral("2"));
            Type(page->Edit(SetupField::FlowMinutes), QStringLiteral("5"));
        };
        SetUpAndStart();
        QVERIFY(QTest::qWaitFor([&] { return Doc().Run.autoStopped; }, 60000));
        QCOMPARE(Window().Run()->LastStop(), RunController::StopReason::Time);

        CRivuletrixWinView* live = Window().View();
        int frames = live->FrameCount();
        ClickMainToolbar(cmd::ShowTrumpetCurve);
        QTRY_VERIFY_WITH_TIMEOUT(live->FrameCount() > frames, 5000);
        QVERIFY(live->State().showTrumpet);
        QVERIFY(!live->LastResult().trumpetFailed);

        // End: while the save question is up the window still shows the
        // curve it showed, drawn afresh.
        int questions = 0;
        bool drawnAtQuestion = false;
        m_prompter.onQuestion = [&](const QString&) {
            ++questions;
            live->repaint();
            drawnAtQuestion = live->State().showTrumpet && live->LastResult().plotOk &&
                              !live->LastResult().trumpetFailed;
        };
        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        Press(cmd::EndTest);
        QVERIFY(finished.wait(20000));
        m_prompter.onQuestion = nullptr;
        QVERIFY(questions >= 1);
        QVERIFY(drawnAtQuestion);
        QVERIFY2(!m_prompter.messages.contains(TrumpetCurve::FailureText()),
                 qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        const QString path = Window().Run()->LastSavedPath();
        QVERIFY(!path.isEmpty());
        // The window emptied for the next test drops the curve without a word
        // (no failure among the messages, checked below once the record has
        // been opened).
        QTRY_VERIFY_WITH_TIMEOUT(!live->State().showTrumpet, 5000);

        QString shownFile;
        int listed = -1;
        OpenThroughRecordsBrowser(QStringLiteral("GUI-TC"), shownFile, listed);
        QCOMPARE(shownFile, QFileInfo(path).fileName());
        ChannelWindow* record = RecordInFront(path);
        QVERIFY(record);
        record->showMaximized();
        CRivuletrixWinView* view = record->View();
        frames = view->FrameCount();
        ClickMainToolbar(cmd::ShowTrumpetCurve);
        QTRY_VERIFY_WITH_TIMEOUT(view->FrameCount() > frames, 5000);
        QVERIFY(!view->LastResult().trumpetFailed);
        QVERIFY(view->State().showTrumpet);
        QVERIFY(!m_prompter.messages.contains(TrumpetCurve::FailureText()));
        QCOMPARE(m_frame->MdiArea()->activeSubWindow(), record);
        KeepScreenshot("trumpet-curve-sim");
    }

    void occlusionTestStopsOnTime() {
        Bench(BenchA(Paced("500", "60", "1:occlusion,ramp=4,peak=450")));
        m_hand->fill = [](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(1);
            CSetupPage* page = sheet.Page(SetupPage::Occlusion);
            Type(page->EquipmentEdit(0), QStringLiteral("GUI-O1"));
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            Type(page->Edit(SetupField::OcclusionSetRate), QStringLiteral("25"));
            page->Check(SetupCheck::StopTime)->click();
            Type(page->Edit(SetupField::OcclusionHours), QStringLiteral("0"));
            Type(page->Edit(SetupField::OcclusionMinutes), QStringLiteral("3"));
        };
        SetUpAndStart();
        CheckLiveGraph({"Pressure"}, {});
        KeepScreenshot("live-occlusion");
        const QString path = EndAndSave();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_O")));
        QVERIFY(Show(path).contains("GUI-O1"));
        CRivuletrixDoc saved;
        QVERIFY(saved.ReadRecordFile(path));
        QCOMPARE(saved.TestType, 'O');
        // A read record's last sample is at StoredCount (the file's first
        // line is the empty slot).
        QVERIFY(saved.ElapsedTicks(saved.StoredCount()) >= 180000u); // 3 minutes
    }

    void pcaTestWithBoluses() {
        Bench(BenchA(Paced("500", "60",
                           "1:pca,rate=50,bolus=0.5,bolus-rate=300,every=120,first=30,noise=0")));
        m_hand->fill = [](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(2);
            CSetupPage* page = sheet.Page(SetupPage::Pca);
            Type(page->EquipmentEdit(0), QStringLiteral("GUI-P1"));
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            Type(page->Edit(SetupField::PcaBasalRate), QStringLiteral("50"));
            Type(page->Edit(SetupField::PcaBolusVolume), QStringLiteral("0.5"));
            Type(page->Edit(SetupField::PcaLockoutMinutes), QStringLiteral("2"));
            Type(page->Edit(SetupField::PcaLockoutSeconds), QStringLiteral("0"));
            page->Check(SetupCheck::StopTime)->click();
            Type(page->Edit(SetupField::PcaHours), QStringLiteral("0"));
            Type(page->Edit(SetupField::PcaMinutes), QStringLiteral("8"));
        };
        SetUpAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(Doc().ElapsedTicks(Doc().StoredCount() - 1) > 240000u, 30000);
        CheckLiveGraph({"PCA /Dual Flow", "Bolus / Secondary Start"}, {});
        KeepScreenshot("live-pca");
        const QString path = EndAndSave();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_P")));
        QVERIFY(Show(path).contains("GUI-P1"));
    }

    // Results still unsaved when the program is closed or their analyzer is
    // disconnected are offered for saving; when that fails the program, the
    // analyzer and the window stay with them.
    void closingOffersUnsavedResults_data() {
        QTest::addColumn<bool>("disconnect");
        QTest::newRow("closing the program") << false;
        QTest::newRow("disconnecting the analyzer") << true;
    }
    void closingOffersUnsavedResults() {
        QFETCH(bool, disconnect);
        Bench(BenchA());
        Doc().Modified = true; // as after a save that failed
        // The data folder becomes a file: the save fails again.
        const QString data = m_dir->filePath(QStringLiteral("data"));
        QVERIFY(QDir(data).removeRecursively());
        QFile blocker(data);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        m_prompter.QueueAnswer(true);
        if (disconnect) {
            auto dlg = SearchAnalyzers(*m_app, *m_frame);
            QVERIFY(dlg->ReadyList()->topLevelItemCount() > 0);
            dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
            dlg->Button(QStringLiteral("Disconnect"))->click();
            QVERIFY(m_app->Device(1));
            QVERIFY(m_frame->ChannelWindowAt(1, 1));
        } else {
            QVERIFY(!m_frame->close());
            QVERIFY(m_frame->isVisible());
        }
        QVERIFY(m_prompter.questions.value(0).startsWith(QStringLiteral("The Test results for")));
        QVERIFY(m_prompter.messages.value(0).startsWith(
            QStringLiteral("The test results could not be saved")));
        QVERIFY(Doc().Modified);
    }

    void templateRunThroughTheNextStepDialog() {
        Bench(BenchA(Paced("500", "60", "1:noise=0")));
        Template t;
        t.name = QStringLiteral("Ward Round");
        t.steps[0] = {TemplateStep::Flow, 0.5, TemplateStep::Ml, 300, 5, 0, 30};
        t.steps[1] = {TemplateStep::Occlusion, 600, TemplateStep::MmHg, 5, 0, 0, 1};
        t.stepCount = 2;
        TemplateStore& store = m_app->Templates();
        if (!store.IsOpen()) store.Open();
        QVERIFY(store.WriteTemplateFile(QStringLiteral("RXt_Ward Round.p8t"), t));
        TemplateRow row;
        row.name = t.name;
        row.fileName = QStringLiteral("RXt_Ward Round.p8t");
        row.stepCount = 2;
        QVERIFY(store.AddRow(row));

        m_hand->fill = [](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(3);
            auto* page = static_cast<CSetupTemplateDlg*>(sheet.Page(SetupPage::Template));
            Type(page->EquipmentEdit(0), QStringLiteral("GUI-T1"));
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            QTreeWidget* list = page->List();
            QVERIFY(list->topLevelItemCount() == 1);
            list->topLevelItem(0)->setCheckState(0, Qt::Checked);
        };
        Press(cmd::SetupTest);
        QVERIFY2(!m_hand->sheetRefused, qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        Press(cmd::StartTest);
        QTRY_VERIFY_WITH_TIMEOUT(Doc().StoredCount() > 10, 20000);
        QVERIFY(Window().View()->LastResult().plotOk);
        KeepScreenshot("live-template");
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 30000);
        Press(cmd::EndTest);
        QCOMPARE(m_hand->nextStepShown, 1);
        // The occlusion step: started by the user, stopped on its minute.
        Press(cmd::StartTest);
        QTRY_VERIFY_WITH_TIMEOUT(Doc().Run.autoStopped, 30000);
        Press(cmd::EndTest);
        QCOMPARE(m_hand->nextStepShown, 2); // the last one offers "Save and Exit" only
        // Named as the template has them: the step to come, then the one that ended.
        QCOMPARE(m_hand->nextStepTexts, (QStringList{"2|Occlusion", "2|Occlusion"}));
        QVERIFY(finished.wait(20000));
        const QString path = Window().Run()->LastSavedPath();
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("RXr_TF")));
        const QByteArray shown = Show(path);
        QVERIFY(shown.contains("GUI-T1"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("N2 Ward Round\r\n"));
        QVERIFY(bytes.endsWith("\r\nE2\r\n"));

        // The record opens on step 1 and steps through with the toolbar.
        QVERIFY(m_frame->OpenRecordFile(path));
        auto* record = qobject_cast<ChannelWindow*>(m_frame->MdiArea()->activeSubWindow());
        QVERIFY(record && record->Slot() == 0);
        CRivuletrixWinView* view = record->View();
        QAction* next = view->Action(cmd::TemplateNextStep);
        QAction* previous = view->Action(cmd::TemplatePreviousStep);
        view->UpdateActions();
        QCOMPARE(record->Document()->TestType, 'F');
        QVERIFY(next->isEnabled());
        QVERIFY(!previous->isEnabled());
        QTest::mouseClick(view->ToolBar()->widgetForAction(next), Qt::LeftButton);
        QCOMPARE(record->Document()->StepToShow, 2);
        QCOMPARE(record->Document()->TestType, 'O');
        QVERIFY(!next->isEnabled());
        QVERIFY(previous->isEnabled());
        const int frames = view->FrameCount();
        QTRY_VERIFY_WITH_TIMEOUT(view->FrameCount() > frames, 5000);
        QVERIFY(view->LastResult().keyItems.contains(QStringLiteral("Pressure")));
        QTest::mouseClick(view->ToolBar()->widgetForAction(previous), Qt::LeftButton);
        QCOMPARE(record->Document()->StepToShow, 1);
        QCOMPARE(record->Document()->TestType, 'F');
    }

    // An analyzer that goes silent after the setup: the technician is told,
    // End Test cancels the setup, and the program may close again.
    void silentAnalyzerSetupIsCancelled() {
        Bench(BenchA({"--do", "after 1 START silence on"}));
        m_hand->fill = [](CSetupSheet& sheet) {
            sheet.Tabs()->setCurrentIndex(0);
            CSetupPage* page = sheet.Page(SetupPage::Flow);
            Type(page->EquipmentEdit(0), QStringLiteral("GUI-S1"));
            Type(page->EquipmentEdit(1), QStringLiteral("AB"));
            Type(page->Edit(SetupField::FlowSetRate), QStringLiteral("10"));
        };
        Press(cmd::SetupTest);
        QVERIFY2(!m_hand->sheetRefused, qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_prompter.messages.filter(QStringLiteral("Bench A does not answer.")).isEmpty(),
            20000);
        QVERIFY(m_app->TestInProgress());
        QSignalSpy finished(Window().Run(), &RunController::TestFinished);
        Press(cmd::EndTest); // the cancel question is answered Yes
        QVERIFY(finished.count() > 0 || finished.wait(10000));
        QVERIFY(m_prompter.questions.value(0).startsWith(
            QStringLiteral("The test on this channel has not started.")));
        QVERIFY(!m_app->TestInProgress());
        Window().View()->UpdateActions();
        QVERIFY(Window().View()->Action(cmd::SetupTest)->isEnabled());
    }

    // The journal folder cannot be made (a file stands in its place): the
    // channel window says so on its title and its status line, one message
    // gives the reason, and the test runs to its stop and is saved.
    void journalTroubleShowsOnTheChannelWindow() {
        Bench(BenchA(Paced("200", "30", "1:flow,noise=0.02")));
        const QString folder = m_app->JournalFolder();
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!Window().StatusLine()->isVisible());
        StartFlow(QStringLiteral("GUI-J1"), QStringLiteral("20"));
        QTRY_VERIFY_WITH_TIMEOUT(Window().StatusLine()->isVisible(), 10000);
        QVERIFY2(Window().StatusLine()->text().contains(QStringLiteral("cannot be created")),
                 qPrintable(Window().StatusLine()->text()));
        QCOMPARE(Window().windowTitle(), QStringLiteral("Channel 1 Bench A - journal not written"));
        const QString path = EndAndSave();
        QVERIFY(!path.isEmpty());
        QVERIFY(RecordSamples(path) > 50);
        QCOMPARE(m_prompter.messages.filter(QStringLiteral("journal")).size(), 1);
        QVERIFY(!Window().StatusLine()->isVisible());
        QCOMPARE(Window().windowTitle(), QStringLiteral("Channel 1 Bench A"));
    }
};

QTEST_MAIN(TestGuiRuns)
#include "test_gui_runs.moc"
