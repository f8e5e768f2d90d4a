// File > Export through the main window against a simulated analyzer: the
// sheet with only its Cancel button, templates out and their check boxes
// cleared, the messages of the pages, notes cancelled from the progress
// window.
#include "../app/ConnectThroughManager.h"
#include "../link/SimProcess.h"

#include "app/DevicePane.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "link/PortScanner.h"
#include "store/TemplateStore.h"
#include "transfer/ExportFilePage.h"
#include "transfer/ExportSheet.h"
#include "transfer/ExportTemplatesDlg.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <memory>

class TestExportGui : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }

    void exportThroughTheMenu() {
        const QString settingsDir = m_dir.filePath("settings");
        const QString dataDir = m_dir.filePath("data");
        QDir().mkpath(settingsDir);
        QDir().mkpath(dataDir);
        QFile loc(m_dir.filePath("RivuletrixIniFilePath.ini"));
        QVERIFY(loc.open(QIODevice::WriteOnly));
        loc.write("[INIFilePath]\r\nINIFilePathWin7=" + settingsDir.toUtf8() + "\r\n");
        loc.close();
        QFile ini(settingsDir + "/RivuletrixApp.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Default Parameters]\r\nPathType=2\r\nCustomPath=" + dataDir.toUtf8() + "\r\n");
        ini.close();
        for (const char* seed : {"RX_Records.bak", "RX_Templates.bak"})
            QVERIFY(QFile::copy(QStringLiteral(RX_BINARY_DIR "/") + seed,
                                m_dir.filePath(QLatin1String(seed))));
        SetPrompter(&m_prompter);

        SimProcess sim("a", {"--model", "PXR-8", "--name", "Bench A", "--serial", "80000001",
                             "--notes-out", m_dir.filePath("notes.out")});
        QVERIFY(sim.Ok());
        qputenv("RIVULETRIX_PORTS", sim.Link().toLocal8Bit());
        CRivuletrixApp app(m_dir.path());
        CMainFrame frame(app);
        frame.show();

        TemplateStore& store = app.Templates();
        if (!store.IsOpen()) store.Open();
        for (const char* name : {"Gamma", "Alpha", "Beta"}) {
            Template t;
            t.name = QLatin1String(name);
            t.stepCount = 1;
            t.steps[0] = {TemplateStep::Flow, 0.5, TemplateStep::Ml, 300, 5, 0, 30};
            TemplateRow row;
            row.name = t.name;
            row.fileName = QStringLiteral("RXt_%1.p8t").arg(t.name);
            row.stepCount = 1;
            QVERIFY(store.WriteTemplateFile(row.fileName, t));
            QVERIFY(store.AddRow(row));
        }

        // Nothing selected: nothing to export to.
        frame.UpdateCommands();
        QVERIFY(!frame.Action(cmd::Export)->isEnabled());

        auto dlg = SearchAnalyzers(app, frame);
        ConnectAllFound(*dlg);
        dlg->reject();
        frame.DevicePane()->AnalyzerButton(1)->click();
        QTRY_COMPARE(app.CurrentAnalyzer, 1);
        frame.UpdateCommands();
        QAction* action = frame.Action(cmd::Export);
        QVERIFY(action->isEnabled());

        QFile notes(m_dir.filePath("notes.p8u"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write(QByteArray(10000, 'n'));
        notes.close();

        struct Seen {
            bool sheet = false, onlyCancel = false;
            QStringList tabs, firstExport, secondExport, manualLoad, notesLoad, notesSend;
            int rows = -1, checkedAfter = -1;
            bool progressShown = false, pollStopped = false;
        } seen;
        QTimer::singleShot(0, this, [&] {
            auto* sheet = qobject_cast<CExportSheet*>(QApplication::activeModalWidget());
            if (!sheet) return;
            seen.sheet = true;
            seen.pollStopped = !frame.PollRunning();
            seen.onlyCancel = sheet->CancelButton()->isVisibleTo(sheet) &&
                              !sheet->OkButton()->isVisibleTo(sheet) &&
                              !sheet->ApplyButton()->isVisibleTo(sheet) &&
                              !sheet->HelpButton()->isVisibleTo(sheet);
            for (int i = 0; i < sheet->Tabs()->count(); ++i) seen.tabs << sheet->Tabs()->tabText(i);

            CExportTemplatesDlg* page = sheet->TemplatesPage();
            seen.rows = page->List()->topLevelItemCount();
            page->SelectAllButton()->click();
            m_prompter.messages.clear();
            page->ExportButton()->click();
            seen.firstExport = m_prompter.messages;
            int checked = 0;
            for (int i = 0; i < page->List()->topLevelItemCount(); ++i)
                checked += page->List()->topLevelItem(i)->checkState(0) == Qt::Checked;
            seen.checkedAfter = checked;
            m_prompter.messages.clear();
            page->ExportButton()->click();
            seen.secondExport = m_prompter.messages;

            m_prompter.messages.clear();
            sheet->Tabs()->setCurrentIndex(1);
            sheet->ManualPage()->LoadButton()->click();
            seen.manualLoad = m_prompter.messages;
            m_prompter.messages.clear();
            sheet->Tabs()->setCurrentIndex(2);
            sheet->NotesPage()->LoadButton()->click();
            seen.notesLoad = m_prompter.messages;

            // 10,000 bytes take about five seconds: Cancel in the progress
            // window stops it.
            QTimer::singleShot(600, this, [&] {
                QWidget* progress = QApplication::activeModalWidget();
                if (!progress || progress->objectName() != QLatin1String("ExportProgress")) return;
                seen.progressShown = true;
                progress->findChild<QPushButton*>()->click();
            });
            m_prompter.messages.clear();
            sheet->NotesPage()->ChooseFile(notes.fileName());
            sheet->NotesPage()->LoadButton()->click();
            seen.notesSend = m_prompter.messages;
            sheet->CancelButton()->click();
        });
        action->trigger();

        QVERIFY(seen.sheet);
        QVERIFY(seen.onlyCancel);
        QVERIFY(seen.pollStopped);
        QCOMPARE(seen.tabs, (QStringList{"Template Selection", "Export Instruction Manual",
                                         "Export User Notes"}));
        QCOMPARE(seen.rows, 3);
        QCOMPARE(seen.firstExport, QStringList{"Exporting Template Completed."});
        QCOMPARE(seen.checkedAfter, 0);
        QCOMPARE(seen.secondExport, QStringList{"Select Templates to Export."});
        QCOMPARE(seen.manualLoad, QStringList{"Please select an Instruction manual file"});
        QCOMPARE(seen.notesLoad, QStringList{"Please select an Instruction manual file"});
        QVERIFY(seen.progressShown);
        QCOMPARE(seen.notesSend.size(), 1);
        QVERIFY2(seen.notesSend[0].startsWith("Export cancelled after "),
                 qPrintable(seen.notesSend[0]));

        QStringList names;
        for (const QString& line : sim.Received().filter("[SETTMPLT,"))
            if (line.startsWith("[SETTMPLT,0,"))
                names << line.section(',', 2, 2);
            else if (line.startsWith("[SETTMPLT,END]"))
                names << "END";
        QCOMPARE(names, (QStringList{"Gamma", "END", "Alpha", "END", "Beta", "END"}));
        QFile back(m_dir.filePath("notes.out"));
        QTRY_VERIFY_WITH_TIMEOUT(back.exists() && back.size() > 0 && back.size() < 10000, 5000);
        QVERIFY(frame.PollRunning()); // the status poll is back
        for (FoundAnalyzer r : app.Scanner().Ready())
            if (r.connected) app.DisconnectAnalyzer(r.slot, r);
        SetPrompter(nullptr);
    }
};

QTEST_MAIN(TestExportGui)
#include "test_export_gui.moc"
