// The import from the main window, as a user does it against a simulated
// analyzer: Import from the Control menu, GetList and Import on the records
// page with deletion, the templates page with a look at one template, the
// user notes saved to a file, and Close.
#include "../app/BenchWindowTest.h"
#include "../testing/RunFixture.h"

#include "app/MainFrame.h"
#include "base/CommandIds.h"
#include "store/RecordIndex.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateStore.h"
#include "transfer/ImportAndMergeSheet.h"
#include "transfer/ImportProgressDlg.h"
#include "transfer/ImportRecordDlg.h"
#include "transfer/ImportTemplateDlg.h"
#include "transfer/ImportUserNotesDlg.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <memory>

namespace {

template <class T> T* Visible() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
    return nullptr;
}

// A click as the user makes it, posted so that a dialog it opens runs its
// own loop outside the hand's step.
void Click(QPushButton* b) {
    QTimer::singleShot(0, b, [b] {
        if (b->isEnabled()) QTest::mouseClick(b, Qt::LeftButton);
    });
}

// Works through the sheet one step at a time, each when the screen shows
// what it needs, from inside the sheet's modal loops.
class Hand : public QObject {
public:
    QList<std::function<bool()>> steps;
    int at = 0;
    QStringList seen; // texts read off the screen on the way

    Hand() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (at < steps.size() && steps[at]()) ++at;
        });
        m_timer.start(30);
    }
    bool Done() const { return at == steps.size(); }

private:
    QTimer m_timer;
};

} // namespace

class TestImportGui : public BenchWindowTest {
    Q_OBJECT

    // Import from the Control menu, as the user picks it.
    void TriggerImport() {
        QAction* action = m_frame->Action(cmd::Import);
        QVERIFY(action);
        QTRY_VERIFY_WITH_TIMEOUT((m_frame->UpdateCommands(), action->isEnabled()), 10000);
        QTimer::singleShot(0, action, &QAction::trigger);
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
    }
    void init() { QVERIFY(NewRunFolder()); }
    void cleanup() { CloseBench(); }

    void importEverything() {
        const QString analyzerNotes = m_dir->filePath("analyzer-notes.txt");
        {
            QFile f(analyzerNotes);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Calibrate monthly\nCall 555-0100\n");
        }
        Bench({"--model", "PXR-8", "--serial", "80001234", "--channels", "1", "--preset-records",
               "3", "--preset-samples", "3000", "--preset-templates", "2", "--notes",
               analyzerNotes});
        m_prompter.QueueAnswer(true); // delete the imported records from the analyzer
        const QString notesOut = m_dir->filePath("bench-notes");

        Hand hand;
        CImportAndMergeSheet* sheet = nullptr;
        auto records = [&] { return sheet->RecordsPage(); };
        auto templates = [&] { return sheet->TemplatesPage(); };
        auto idle = [] { return !Visible<CImportProgressDlg>(); };
        hand.steps = {
            [&] {
                sheet = Visible<CImportAndMergeSheet>();
                if (!sheet) return false;
                hand.seen << sheet->windowTitle() << QString::number(sheet->Tabs()->count());
                Click(records()->GetListButton());
                return true;
            },
            [&] {
                // The counters while the records come in.
                if (auto* p = Visible<CImportProgressDlg>()) {
                    hand.seen << p->SummaryText()->text() << p->CurrentText()->text()
                              << p->LineText()->text();
                    return false;
                }
                return records()->List()->topLevelItemCount() == 3;
            },
            [&] {
                if (!idle() || records()->List()->topLevelItemCount() != 3) return false;
                QTreeWidget* list = records()->List();
                hand.seen << list->topLevelItem(1)->text(1) << list->topLevelItem(1)->text(3);
                list->topLevelItem(1)->setCheckState(0, Qt::Checked);
                list->topLevelItem(2)->setCheckState(0, Qt::Checked);
                Click(records()->ImportButton());
                return true;
            },
            [&] {
                if (records()->List()->topLevelItemCount() != 1) return false;
                sheet->Tabs()->setCurrentIndex(1);
                Click(templates()->GetListButton());
                return true;
            },
            [&] {
                if (!idle() || templates()->List()->topLevelItemCount() != 2) return false;
                QTreeWidget* list = templates()->List();
                const QRect r = list->visualItemRect(list->topLevelItem(1));
                QTimer::singleShot(0, list, [list, r] {
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
                    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
                });
                return true;
            },
            [&] {
                auto* view = Visible<CTemplateCreateDlg>();
                if (!view) return false;
                hand.seen << QStringLiteral("viewed");
                view->reject();
                return true;
            },
            [&] {
                if (Visible<CTemplateCreateDlg>()) return false;
                Click(templates()->SelectAllButton());
                Click(templates()->ImportButton());
                return true;
            },
            [&] {
                if (templates()->List()->topLevelItemCount() != 0) return false;
                sheet->Tabs()->setCurrentIndex(2);
                Click(sheet->NotesPage()->ImportButton());
                return true;
            },
            [&] {
                auto* save = Visible<QFileDialog>();
                if (!save) return false;
                auto* name = save->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                if (!name) return false;
                // The user types the name and presses Enter.
                QTimer::singleShot(0, name, [name, notesOut] {
                    name->setFocus();
                    name->selectAll();
                    QTest::keyClicks(name, notesOut);
                    QTest::keyClick(name, Qt::Key_Return);
                });
                return true;
            },
            [&] {
                if (m_prompter.messages.isEmpty() || Visible<CImportProgressDlg>()) return false;
                Click(sheet->NotesPage()->CloseButton());
                return true;
            },
            [&] { return !Visible<CImportAndMergeSheet>(); },
        };
        TriggerImport();
        QTRY_VERIFY_WITH_TIMEOUT(hand.Done(), 90000);
        QVERIFY2(m_prompter.messages == QStringList{"Importing UserNotes Completed."},
                 qPrintable(m_prompter.messages.join('|')));
        QCOMPARE(hand.seen.value(0), QStringLiteral("Import Items"));
        QCOMPARE(hand.seen.value(1), QStringLiteral("3"));
        QVERIFY2(hand.seen.contains("Total number of Records : 3"),
                 qPrintable(hand.seen.join('|')));
        const QRegularExpression counter("^Retrieving Record :  00[123] / 003$");
        QVERIFY2(hand.seen.indexOf(counter) >= 0, qPrintable(hand.seen.join('|')));
        QVERIFY2(hand.seen.indexOf(QRegularExpression("^LineCount :  \\d{5}$")) >= 0,
                 qPrintable(hand.seen.join('|')));
        QVERIFY(hand.seen.contains("PRESET-002"));
        QVERIFY(hand.seen.contains("viewed"));

        // Records 2 and 3 are in the data folder and the index, and gone from
        // the analyzer (deleted as 2, then 2 again).
        const QStringList files = QDir(DataFolder()).entryList({"RXr_*.p8d"}, QDir::Files);
        QCOMPARE(files.size(), 2);
        QStringList deletes;
        for (const QString& line : m_sim->Received())
            if (line.startsWith("[DELREC")) deletes << line;
        QCOMPARE(deletes, (QStringList{"[DELREC,2]\\r\\n", "[DELREC,2]\\r\\n"}));
        // Enter on the question keeps the records on the analyzer.
        QCOMPARE(m_prompter.defaultNo,
                 QStringList{"Do you want to delete the Imported Records from the PXR ?"});
        QCOMPARE(m_app->Records().GetCount(), 2);
        QCOMPARE(QDir(DataFolder()).entryList({"RXt_*.p8t"}, QDir::Files),
                 (QStringList{"RXt_SimTemplate1.p8t", "RXt_SimTemplate2.p8t"}));
        QList<TemplateRow> rows;
        QVERIFY(m_app->Templates().ListRows(rows));
        QCOMPARE(rows.size(), 2);
        QFile notes(notesOut + ".p8u");
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QCOMPARE(notes.readAll(), QByteArray("Calibrate monthly\nCall 555-0100\n"));
    }

    // A template list that could not be counted is reported, and GetList
    // may be pressed again: the second time the list comes.
    void templateGetListAfterAFailure() {
        Bench({"--model", "PXR-8", "--serial", "80001234", "--preset-templates", "2", "--drop",
               "TMPLTCOUNT:1"});
        Hand hand;
        CImportAndMergeSheet* sheet = nullptr;
        bool retryEnabled = false, importEnabled = true;
        auto idle = [] { return !Visible<CImportProgressDlg>(); };
        hand.steps = {
            [&] {
                sheet = Visible<CImportAndMergeSheet>();
                if (!sheet) return false;
                sheet->Tabs()->setCurrentIndex(1);
                Click(sheet->TemplatesPage()->GetListButton());
                return true;
            },
            [&] {
                if (!idle() || m_prompter.messages.isEmpty()) return false;
                retryEnabled = sheet->TemplatesPage()->GetListButton()->isEnabled();
                importEnabled = sheet->TemplatesPage()->ImportButton()->isEnabled();
                Click(sheet->TemplatesPage()->GetListButton());
                return true;
            },
            [&] {
                if (!idle() || sheet->TemplatesPage()->List()->topLevelItemCount() != 2)
                    return false;
                Click(sheet->TemplatesPage()->CloseButton());
                return true;
            },
            [&] { return !Visible<CImportAndMergeSheet>(); },
        };
        TriggerImport();
        QTRY_VERIFY_WITH_TIMEOUT(hand.Done(), 60000);
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(retryEnabled);
        QVERIFY(!importEnabled);
        QVERIFY(!sheet || !sheet->isVisible());
    }

    // GetList on an analyzer that holds no records: nothing to tick or
    // import, so Unselect All and Import stay disabled.
    void emptyListDisablesImport() {
        Bench({"--model", "PXR2K", "--serial", "20001234"});
        Hand hand;
        bool importEnabled = true, unselectEnabled = true;
        int rows = -1;
        CImportAndMergeSheet* sheet = nullptr;
        hand.steps = {
            [&] {
                sheet = Visible<CImportAndMergeSheet>();
                if (!sheet) return false;
                Click(sheet->RecordsPage()->GetListButton());
                return true;
            },
            [&] {
                if (Visible<CImportProgressDlg>()) return false;
                rows = sheet->RecordsPage()->List()->topLevelItemCount();
                importEnabled = sheet->RecordsPage()->ImportButton()->isEnabled();
                unselectEnabled = sheet->RecordsPage()->UnselectAllButton()->isEnabled();
                Click(sheet->RecordsPage()->CloseButton());
                return true;
            },
            [&] { return !Visible<CImportAndMergeSheet>(); },
        };
        TriggerImport();
        QTRY_VERIFY_WITH_TIMEOUT(hand.Done(), 30000);
        QCOMPARE(rows, 0);
        QVERIFY(!importEnabled);
        QVERIFY(!unselectEnabled);
    }

    // A "PXR2K" gets the records page alone; Close ends the sheet.
    void pxr2kRecordsOnly() {
        Bench({"--model", "PXR2K", "--serial", "20001234"});
        Hand hand;
        int tabs = -1;
        hand.steps = {
            [&] {
                auto* sheet = Visible<CImportAndMergeSheet>();
                if (!sheet) return false;
                tabs = sheet->Tabs()->count();
                Click(sheet->RecordsPage()->CloseButton());
                return true;
            },
            [&] { return !Visible<CImportAndMergeSheet>(); },
        };
        TriggerImport();
        QTRY_VERIFY_WITH_TIMEOUT(hand.Done(), 30000);
        QCOMPARE(tabs, 1);
    }
};

QTEST_MAIN(TestImportGui)
#include "test_import_gui.moc"
