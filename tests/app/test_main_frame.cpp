// The main window with simulated analyzers: search, connect, channel
// windows, operating mode, battery notices, arrangement, reconnection at
// start-up, the information dialog and the close guard.
#include "../link/SimProcess.h"
#include "ConnectThroughManager.h"
#include "MainWindowTest.h"

#include "app/AnalyzerPoll.h"
#include "app/ChannelWindow.h"
#include "app/DeviceInfoDlg.h"
#include "app/DevicePane.h"
#include "app/MainFrame.h"
#include "app/ManageConnectionDlg.h"
#include "app/RivuletrixApp.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "store/RecordIndex.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <algorithm>
#include <future>
#include <memory>
#include <thread>

namespace {

QStringList Titles(const CMainFrame& frame) {
    QStringList titles;
    for (QMdiSubWindow* w : frame.MdiArea()->subWindowList()) titles << w->windowTitle();
    titles.sort();
    return titles;
}

QStringList Args(const char* model, const char* name, const char* serial,
                 const char* channels = nullptr) {
    QStringList a{"--model", model, "--name", name, "--serial", serial, "--prime-delay", "200"};
    if (channels) a << "--channels" << channels;
    return a;
}

} // namespace

class TestMainFrame : public MainWindowTest {
    Q_OBJECT

    std::vector<std::unique_ptr<SimProcess>> m_sims;

    void Sim(const QString& name, const QStringList& args) {
        m_sims.push_back(std::make_unique<SimProcess>(name, args));
        QVERIFY(m_sims.back()->Ok());
    }
    QString Ports() const {
        QStringList links;
        for (const auto& s : m_sims) links << s->Link();
        return links.join(QLatin1Char(':'));
    }
    void Start() {
        qputenv("RIVULETRIX_PORTS", Ports().toLocal8Bit());
        MainWindowTest::Start({1400, 900});
    }
    std::unique_ptr<CManageConnectionDlg> Search() { return SearchAnalyzers(*m_app, *m_frame); }
    // Started, with every analyzer found connected; the manager stays open.
    std::unique_ptr<CManageConnectionDlg> StartConnected() {
        Start();
        auto dlg = Search();
        ConnectAll(*dlg);
        return dlg;
    }
    void ConnectAll(CManageConnectionDlg& dlg) { ConnectAllFound(dlg); }
    QString Setting(const QString& section, const QString& key) {
        QString value;
        m_app->GetSetting(section, key, value);
        return value;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }
    void init() { QVERIFY(NewWorkingFolder("GraphLineWidth=1\r\n")); }
    void cleanup() {
        Close();
        m_sims.clear();
    }

    void searchListsEachAnalyzerOnce() {
        Sim("a", Args("PXR-8", "Bench A", "80000001"));
        Sim("b", Args("PXR2K", "Bench K", "20000002"));
        Sim("twin", Args("PXR-8", "Bench A twin", "80000001")); // same serial number
        Start();
        auto dlg = Search();
        QCOMPARE(dlg->UsbList()->topLevelItemCount(), 2);
        dlg->Search(); // a second search lists them once again
        QSignalSpy done(dlg.get(), &CManageConnectionDlg::SearchFinished);
        QVERIFY(done.wait(20000));
        QCOMPARE(dlg->UsbList()->topLevelItemCount(), 2);
        QStringList serials;
        for (int k = 0; k < 2; ++k) serials << dlg->UsbList()->topLevelItem(k)->text(1);
        serials.sort();
        QCOMPARE(serials, (QStringList{"20000002", "80000001"}));
    }

    void connectOpensChannelWindowsAndSavesSerials() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,2,4"));
        Sim("k", Args("PXR2K", "Bench K", "20000002"));
        auto dlg = StartConnected();
        QCOMPARE(m_app->ConnectedCount, 2);
        QCOMPARE(Titles(*m_frame), (QStringList{"Channel 1 Bench A", "Channel 1 Bench K",
                                                "Channel 2 Bench A", "Channel 4 Bench A"}));
        QCOMPARE(dlg->ReadyList()->topLevelItem(0)->text(0),
                 QStringLiteral(" Bench A   3 Channels"));
        // After the probe's goodbye, a connection starts with POLL then LOG
        // (written by the link's own thread, so they may still be on the way).
        const auto firstCommands = [this] {
            const QStringList sent = m_sims[0]->Received();
            return sent.mid(sent.lastIndexOf(QStringLiteral("[BYE]\\r\\n")) + 1, 2);
        };
        QTRY_COMPARE_WITH_TIMEOUT(firstCommands(), (QStringList{"[POLL]\\r\\n", "[LOG]\\r\\n"}),
                                  3000);
        dlg->reject();
        dlg.reset(); // saves the serial numbers
        const QString section = QStringLiteral("Connection Details");
        QStringList saved;
        for (int n = 1; n <= 4; ++n)
            saved << Setting(section, QStringLiteral("%1DeviceSerialNumber").arg(n));
        QCOMPARE(saved, (QStringList{"80000001", "20000002", "", ""}));
        QCOMPARE(m_app->CurrentAnalyzer, 1);
    }

    void defaultModeFollowsTheModels_data() {
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("one PXR-8") << QStringList{"PXR-8"} << true;
        QTest::newRow("two PXR-8") << QStringList{"PXR-8", "PXR-8"} << false;
        QTest::newRow("PXR-8 and PXR2K") << QStringList{"PXR-8", "PXR2K"} << true;
    }
    void defaultModeFollowsTheModels() {
        QFETCH(QStringList, models);
        QFETCH(bool, ticked);
        for (int k = 0; k < models.size(); ++k)
            Sim(QStringLiteral("s%1").arg(k),
                Args(models[k].toLatin1(), QStringLiteral("Dev%1").arg(k).toLatin1(),
                     QStringLiteral("9000000%1").arg(k).toLatin1()));
        Start();
        QVERIFY(!m_frame->Action(cmd::DefaultMode)->isChecked());
        auto dlg = Search();
        ConnectAll(*dlg);
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->Action(cmd::DefaultMode)->isChecked(), ticked);
        QVERIFY(m_frame->Action(cmd::DefaultMode)->isEnabled());
    }

    void batteryLowShowsItsNotice() {
        Sim("k", Args("PXR2K", "Bench K", "20000002") << "--battery"
                                                      << "L");
        auto dlg = StartConnected();
        CDevice* device = m_app->Device(1);
        QVERIFY(device);
        QVERIFY(m_frame->PollRunning());
        QTRY_COMPARE_WITH_TIMEOUT((m_app->Poll().Poll(), char(device->BatteryState)), 'L', 8000);
        QTRY_COMPARE_WITH_TIMEOUT(m_frame->DevicePane()->BatteryIndicator(1), 'L', 3000);
        QCOMPARE(m_frame->RefreshBatteryNotice(true), 'L');
        QCOMPARE(m_frame->LastNotice().title, QStringLiteral("Battery Low"));
        QCOMPARE(m_frame->LastNotice().message, QStringLiteral("Battery low in Device: 1"));
    }

    void emptyBatteryIsNoLongerPolled() {
        Sim("k", Args("PXR2K", "Bench K", "20000002") << "--battery"
                                                      << "S");
        auto dlg = StartConnected();
        CDevice* device = m_app->Device(1);
        QVERIFY(device);
        QTRY_COMPARE_WITH_TIMEOUT((m_app->Poll().Poll(), char(device->BatteryState)), 'S', 8000);
        QCOMPARE(m_frame->RefreshBatteryNotice(true), 'S');
        QCOMPARE(m_frame->LastNotice().title, QStringLiteral("Battery Empty"));
        QCOMPARE(m_frame->LastNotice().message, QStringLiteral("Battery empty in Device: 1"));
        // Everything sent before a POLL has arrived once the POLL has.
        const auto flushed = [&] {
            const QString poll = QStringLiteral("[POLL]\\r\\n");
            const qsizetype polls = m_sims[0]->Received().count(poll);
            device->SendPOLL();
            return QTest::qWaitFor([&] { return m_sims[0]->Received().count(poll) > polls; },
                                   15000);
        };
        m_app->Poll().WaitIdle(1); // the cycle that saw the empty battery
        QVERIFY(flushed());
        const int before = m_sims[0]->Received().size();
        for (int k = 0; k < 3; ++k) m_app->Poll().Poll();
        QVERIFY(flushed());
        QCOMPARE(m_sims[0]->Received().size(), before + 1); // the POLL alone
        QCOMPARE(m_app->Poll().Indicator(1), 'N'); // a shut-down PXR2K has its indicator cleared
        // Import needs a battery that is not empty.
        m_app->CurrentAnalyzer = 1;
        m_frame->UpdateCommands();
        QVERIFY(!m_frame->Action(cmd::Import)->isEnabled());
        QVERIFY(!m_frame->Action(cmd::Export)->isEnabled()); // and nothing is exported to a PXR2K
    }

    void selectorArrangesWindows() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,2"));
        Sim("b", Args("PXR-8", "Bench B", "80000002", "1,3"));
        auto dlg = StartConnected();
        dlg->reject();
        m_frame->UpdateCommands();
        CDialogTopDevicePane* pane = m_frame->DevicePane();
        QCOMPARE(pane->AnalyzerButton(1)->text(), QStringLiteral("Bench A - Dev 1"));
        QCOMPARE(pane->AnalyzerButton(2)->text(), QStringLiteral("Bench B - Dev 2"));
        QVERIFY(!pane->AnalyzerButton(3)->isEnabled());
        QCOMPARE(pane->AnalyzerButton(3)->text(), QStringLiteral(" "));
        QVERIFY(pane->ViewAllButton()->isEnabled());

        pane->AnalyzerButton(2)->click();
        QTRY_VERIFY(m_frame->ChannelWindowAt(1, 1)->isMinimized());
        QVERIFY(m_frame->ChannelWindowAt(1, 2)->isMinimized());
        QVERIFY(!m_frame->ChannelWindowAt(2, 1)->isMinimized());
        QVERIFY(!m_frame->ChannelWindowAt(2, 3)->isMinimized());
        QCOMPARE(m_app->CurrentAnalyzer, 2);

        pane->ViewAllButton()->click();
        QTRY_VERIFY(!m_frame->ChannelWindowAt(1, 1)->isMinimized());
        QVERIFY(!m_frame->ChannelWindowAt(1, 2)->isMinimized());
        QVERIFY(m_app->ViewAll);
        // Analyzer commands are off while all are viewed.
        m_frame->UpdateCommands();
        QVERIFY(!m_frame->Action(cmd::InstrumentSettings)->isEnabled());
    }

    // A record window left maximised: one click on an analyzer's button
    // shows that analyzer's windows, tiled, and puts the record aside.
    void selectorArrangesAfterAMaximisedRecord() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,2"));
        Sim("b", Args("PXR-8", "Bench B", "80000002", "1,3"));
        auto dlg = StartConnected();
        dlg->reject();
        m_frame->UpdateCommands();
        const QString record = m_dir->filePath(QStringLiteral("data/flow_small.p8d"));
        QVERIFY(QFile::copy(QStringLiteral(RX_TEST_DATA "/records/flow_small.p8d"), record));
        QVERIFY(m_frame->OpenRecordFile(record));
        auto* w = qobject_cast<ChannelWindow*>(m_frame->MdiArea()->activeSubWindow());
        QVERIFY(w && w->Slot() == 0);
        w->showMaximized();
        QTRY_VERIFY(w->isMaximized());
        // Opening it again brings the same window up.
        const qsizetype windows = m_frame->MdiArea()->subWindowList().size();
        QVERIFY(m_frame->OpenRecordFile(record));
        QCOMPARE(m_frame->MdiArea()->subWindowList().size(), windows);
        QCOMPARE(m_frame->MdiArea()->activeSubWindow(), w);

        m_frame->DevicePane()->AnalyzerButton(2)->click();
        QTRY_VERIFY(w->isMinimized());
        QTRY_VERIFY(m_frame->ChannelWindowAt(1, 1)->isMinimized());
        QVERIFY(m_frame->ChannelWindowAt(1, 2)->isMinimized());
        ChannelWindow* b1 = m_frame->ChannelWindowAt(2, 1);
        ChannelWindow* b3 = m_frame->ChannelWindowAt(2, 3);
        QTRY_VERIFY(!b1->isMinimized() && !b1->isMaximized());
        QVERIFY(!b3->isMinimized() && !b3->isMaximized());
        // Tiled: side by side or one above the other, not on top of each other.
        QTRY_VERIFY(!b1->geometry().intersects(b3->geometry()));
    }

    // Tiled channel windows read like a page: channel 1 of the lowest
    // analyzer at the top left, then on in channel and analyzer order.
    void tilingPutsChannelOneFirst_data() {
        QTest::addColumn<bool>("viewAll");
        QTest::addColumn<QList<int>>("expected"); // slot * 10 + channel, in reading order
        QTest::newRow("one analyzer selected") << false << QList<int>{11, 12, 13, 14};
        QTest::newRow("all analyzers") << true << QList<int>{11, 12, 13, 14, 21, 23};
    }
    void tilingPutsChannelOneFirst() {
        QFETCH(bool, viewAll);
        QFETCH(QList<int>, expected);
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,2,3,4"));
        Sim("b", Args("PXR-8", "Bench B", "80000002", "1,3"));
        auto dlg = StartConnected();
        dlg->reject();
        m_frame->UpdateCommands();
        CDialogTopDevicePane* pane = m_frame->DevicePane();
        if (viewAll)
            pane->ViewAllButton()->click();
        else
            pane->AnalyzerButton(1)->click();
        const auto order = [&] {
            QList<std::pair<QPoint, int>> shown;
            for (int slot = 1; slot <= 2; ++slot)
                for (int c = 1; c <= 4; ++c)
                    if (ChannelWindow* w = m_frame->ChannelWindowAt(slot, c))
                        if (!w->isMinimized())
                            shown.append({w->geometry().topLeft(), slot * 10 + c});
            std::sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
                return a.first.y() != b.first.y() ? a.first.y() < b.first.y()
                                                  : a.first.x() < b.first.x();
            });
            QList<int> ids;
            for (const auto& s : shown) ids << s.second;
            return ids;
        };
        QTRY_COMPARE(order(), expected);
        QCOMPARE(m_frame->ChannelWindowAt(1, 1)->geometry().topLeft(), QPoint(0, 0));
    }

    void savedSerialNumbersReconnectAtStartUp() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,2,3,4"));
        Start();
        // Saved without the trailing blank some analyzers pad their number with.
        QVERIFY(m_app->WriteSetting(QStringLiteral("Connection Details"),
                                    QStringLiteral("1DeviceSerialNumber"),
                                    QStringLiteral("80000001")));
        auto dlg = Search();
        QCOMPARE(m_app->ConnectedCount, 1);
        QVERIFY(m_app->Device(1));
        QCOMPARE(m_frame->MdiArea()->subWindowList().size(), 4);
        QCOMPARE(dlg->ReadyList()->topLevelItemCount(), 1);
        QCOMPARE(dlg->UsbList()->topLevelItemCount(), 0);
    }

    void informationDialog() {
        Sim("k", Args("PXR2K", "Bench K", "20000002"));
        auto dlg = StartConnected();
        CDeviceInfoDlg info(*m_app->Device(1));
        QSignalSpy filled(&info, &CDeviceInfoDlg::Filled);
        QVERIFY(filled.wait(20000));
        QCOMPARE(info.windowTitle(), QStringLiteral("Bench K"));
        QCOMPARE(info.Field(QStringLiteral("Model")), QStringLiteral("PXR2K"));
        QVERIFY(!info.Field(QStringLiteral("Manufacturer")).isEmpty());
        QCOMPARE(info.Field(QStringLiteral("Serial Number")), QStringLiteral("20000002"));
        QVERIFY(!info.Field(QStringLiteral("Channel 1 S/N ")).isEmpty());
        for (int c = 2; c <= 4; ++c)
            QCOMPARE(info.Field(QStringLiteral("Channel %1 S/N ").arg(c)),
                     QStringLiteral("Not Connected"));
        QVERIFY(m_prompter.messages.isEmpty());
    }

    void silentAnalyzerGivesCommunicationError() {
        Sim("k", Args("PXR2K", "Bench K", "20000002"));
        auto dlg = StartConnected();
        // Unplugged after connecting: every request fails at once.
        m_sims.clear();
        CDeviceInfoDlg info(*m_app->Device(1));
        QSignalSpy filled(&info, &CDeviceInfoDlg::Filled);
        QVERIFY(filled.wait(15000));
        QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("Communication Error")});
        QCOMPARE(info.Field(QStringLiteral("Channel 2 S/N ")), QStringLiteral("Not Connected"));
    }

    // A silent (not unplugged) analyzer: "Communication Error" comes as soon
    // as the parameters fail, and Ok closes the dialog at once while the
    // serial-number requests are still waiting.
    void informationDialogLetsGoOfASilentAnalyzer() {
        Sim("k", Args("PXR2K", "Bench K", "20000002") << "--do"
                                                      << "after LOG silence on");
        auto dlg = StartConnected();
        QVERIFY(m_app->Device(1));
        auto info = std::make_unique<CDeviceInfoDlg>(*m_app->Device(1));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_prompter.messages.contains(QStringLiteral("Communication Error")), 4000);
        QVERIFY(!info->Finished());
        QElapsedTimer t;
        t.start();
        info->accept();
        info.reset();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(m_prompter.messages.count(QStringLiteral("Communication Error")), 1);
    }

    // Another workstation holding the shared index for longer than one busy
    // wait: start-up waits for it and keeps the data folder as chosen.
    void startUpWaitsForABusyIndex() {
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        QVERIFY(m_app->Records().Open());
        const QString db = m_app->Records().Table().DatabasePath();
        m_app->Records().Close();
        std::promise<bool> locked;
        std::thread other([db, &locked] {
            {
                QSqlDatabase c =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
                c.setDatabaseName(db);
                QSqlQuery q(c);
                const bool ok = c.open() && q.exec(QStringLiteral("BEGIN EXCLUSIVE"));
                locked.set_value(ok);
                QThread::msleep(12000); // longer than two busy waits
                q.exec(QStringLiteral("ROLLBACK"));
                q.finish();
                c.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("other"));
        });
        const bool ok = locked.get_future().get();
        m_app->StartupSettings();
        other.join();
        QVERIFY(ok);
        QCOMPARE(Setting(QStringLiteral("Default Parameters"), QStringLiteral("PathType")),
                 QStringLiteral("2"));
        QVERIFY(m_app->Records().IsOpen());
    }

    void closingWithATestIsRefused() {
        Start();
        m_app->SetUpFlags[3][1] = true; // channel 2 of analyzer 4
        QVERIFY(!m_frame->close());
        QCOMPARE(m_prompter.messages,
                 QStringList{QStringLiteral("Stop All Tests before closing.\nDisconnect Devices "
                                            "using Manage Connection Screen.")});
        m_app->SetUpFlags[3][1] = false;
    }

    void disconnectDuringATestIsRefused() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1"));
        auto dlg = StartConnected();
        m_app->StartedFlags[0][0] = true;
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        dlg->DisconnectSelected();
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(m_app->Device(1));
        m_app->StartedFlags[0][0] = false;
        dlg->DisconnectSelected();
        QVERIFY(!m_app->Device(1));
        QCOMPARE(m_frame->MdiArea()->subWindowList().size(), 0);
        QCOMPARE(m_app->ConnectedCount, 0);
        QCOMPARE(m_app->CurrentAnalyzer, -1);
    }

    // Unplugged (the simulator killed) and plugged in again on another port
    // (a new simulator with the same serial number): the manager shows it
    // lost, and Connect finds it by serial number and puts it back in its
    // slot under the same channel windows, without Remove and Add.
    void unpluggedAnalyzerIsShownLostAndReconnects() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1,3"));
        Sim("b", Args("PXR2K", "Bench K", "20000002"));
        auto dlg = StartConnected();
        QCOMPARE(m_app->ConnectedCount, 2);
        ChannelWindow* window1 = m_frame->ChannelWindowAt(1, 1);
        ChannelWindow* window3 = m_frame->ChannelWindowAt(1, 3);
        QVERIFY(window1 && window3);
        const QString oldLink = m_sims[0]->Link();
        m_sims.erase(m_sims.begin()); // unplugged
        QTRY_VERIFY_WITH_TIMEOUT(m_app->Device(1)->IsLost(), 5000);
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->DevicePane()->AnalyzerButton(1)->text(),
                 QStringLiteral("Bench A - lost"));
        // The open manager shows it lost, not connected; Connect is offered.
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ReadyList()->topLevelItem(0)->text(0),
                                  QStringLiteral(" Bench A   2 Channels - lost"), 2000);
        QCOMPARE(dlg->ReadyList()->topLevelItem(1)->text(0),
                 QStringLiteral(" Bench K   1 Channels"));
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        QVERIFY(dlg->Button(QStringLiteral("Connect"))->isEnabled());
        QVERIFY(!dlg->Button(QStringLiteral("<< Remove"))->isEnabled());

        // Not plugged in yet: Connect says so and it stays lost.
        QTest::mouseClick(dlg->Button(QStringLiteral("Connect")), Qt::LeftButton);
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(m_prompter.messages[0].contains(QStringLiteral("80000001")));
        QVERIFY(m_app->Device(1)->IsLost());

        // Plugged in again, on another port.
        Sim("a2", Args("PXR-8", "Bench A", "80000001", "1,3"));
        const QString newLink = m_sims.back()->Link();
        QVERIFY(newLink != oldLink);
        qputenv("RIVULETRIX_PORTS", Ports().toLocal8Bit());
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        QTest::mouseClick(dlg->Button(QStringLiteral("Connect")), Qt::LeftButton);
        QCOMPARE(m_prompter.messages.size(), 1);
        CDevice* device = m_app->Device(1);
        QVERIFY(device && !device->IsLost());
        QCOMPARE(device->PortName, newLink);
        QCOMPARE(m_frame->ChannelWindowAt(1, 1), window1);
        QCOMPARE(m_frame->ChannelWindowAt(1, 3), window3);
        QCOMPARE(device->ChannelDoc(0), m_app->ChannelDocs[0][0]);
        QCOMPARE(device->ChannelDoc(2), m_app->ChannelDocs[0][2]);
        QCOMPARE(m_app->ConnectedCount, 2);
        QCOMPARE(m_app->ChannelCount, 5);
        QCOMPARE(m_frame->MdiArea()->subWindowList().size(), 3);
        QCOMPARE(dlg->ReadyList()->topLevelItem(0)->text(0),
                 QStringLiteral(" Bench A   2 Channels"));
        QVERIFY(dlg->Button(QStringLiteral("Disconnect"))->isEnabled());
        QVERIFY(!dlg->Button(QStringLiteral("Connect"))->isEnabled());
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->DevicePane()->AnalyzerButton(1)->text(),
                 QStringLiteral("Bench A - Dev 1"));
        // It answers on the new port: the poll's status replies come.
        const uint64_t replies = device->StatusReplies();
        QTRY_VERIFY_WITH_TIMEOUT(device->StatusReplies() > replies, 5000);
        // The connected serial numbers are saved as before.
        dlg.reset();
        QCOMPARE(Setting("Connection Details", "1DeviceSerialNumber"), QStringLiteral("80000001"));
    }

    // A lost analyzer can also be let go: Disconnect, then Remove, and a
    // search finds it as new.
    void lostAnalyzerDisconnectsAndIsFoundAgain() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1"));
        auto dlg = StartConnected();
        m_sims.clear(); // unplugged
        QTRY_VERIFY_WITH_TIMEOUT(m_app->Device(1)->IsLost(), 5000);
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1"));
        qputenv("RIVULETRIX_PORTS", Ports().toLocal8Bit());
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        QElapsedTimer timer;
        timer.start();
        dlg->DisconnectSelected();
        QVERIFY(timer.elapsed() < 900); // no pause for a port that is gone
        QVERIFY(!m_app->Device(1));
        QCOMPARE(m_app->Scanner().Ready().value(0).lost, 0);
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        dlg->RemoveSelected();
        dlg->Search();
        QSignalSpy done(dlg.get(), &CManageConnectionDlg::SearchFinished);
        QVERIFY(done.wait(20000));
        ConnectAll(*dlg);
        QVERIFY(m_app->Device(1));
        QVERIFY(!m_app->Device(1)->IsLost());
        m_frame->UpdateCommands();
        QCOMPARE(m_frame->DevicePane()->AnalyzerButton(1)->text(),
                 QStringLiteral("Bench A - Dev 1"));
    }

    // A search after the analyzer came back on another port moves its ready
    // entry there; a connected analyzer keeps its port.
    void searchFollowsAReadyAnalyzerToItsNewPort() {
        Sim("a", Args("PXR-8", "Bench A", "80000001", "1"));
        Sim("b", Args("PXR2K", "Bench K", "20000002"));
        Start();
        auto dlg = Search();
        while (dlg->UsbList()->topLevelItemCount() > 0) {
            dlg->UsbList()->setCurrentItem(dlg->UsbList()->topLevelItem(0));
            dlg->AddSelected();
        }
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(1));
        dlg->ConnectSelected(); // Bench K only
        QVERIFY(m_app->Device(1));
        const QString kPort = m_app->Device(1)->PortName;
        m_sims.erase(m_sims.begin());
        Sim("a2", Args("PXR-8", "Bench A", "80000001", "1"));
        qputenv("RIVULETRIX_PORTS", Ports().toLocal8Bit());
        dlg->Search();
        QSignalSpy done(dlg.get(), &CManageConnectionDlg::SearchFinished);
        QVERIFY(done.wait(20000));
        QCOMPARE(dlg->UsbList()->topLevelItemCount(), 0);
        const QList<FoundAnalyzer> ready = m_app->Scanner().Ready();
        QCOMPARE(ready.size(), 2);
        QCOMPARE(ready[0].portName, m_sims.back()->Link());
        QCOMPARE(ready[1].portName, kPort);
        dlg->ReadyList()->setCurrentItem(dlg->ReadyList()->topLevelItem(0));
        dlg->ConnectSelected();
        QVERIFY(m_app->Device(2));
        QCOMPARE(m_app->Device(2)->PortName, m_sims.back()->Link());
        QVERIFY(m_prompter.messages.isEmpty());
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_main_frame.moc"
