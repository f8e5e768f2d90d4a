// Opening records and templates from the main window as a user does: the
// File menu's Records, Templates and Build Index entries, the plain file
// dialog before start-up has finished, the recent-file entries and records
// dropped on the window.
#include "../WorkingFolder.h"
#include "MainWindowTest.h"

#include "app/ChannelWindow.h"
#include "app/DefaultParametersDlg.h"
#include "app/MainFrame.h"
#include "app/RecentFiles.h"
#include "app/Startup.h"
#include "app/WorkingFolder.h"
#include "base/Prompter.h"
#include "base/CommandIds.h"
#include "records/Template.h"
#include "store/BuildIndexDlg.h"
#include "store/IndexBuildJob.h"
#include "store/RecordIndex.h"
#include "store/RecordListModel.h"
#include "store/TemplateCreateDlg.h"
#include "store/ViewRecordDlg.h"
#include "store/ViewTemplateDlg.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// Acts once on the first visible top-level widget of type D (a modal dialog
// blocks the caller until it closes).
template <class D> void WhenShown(std::function<void(D*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<D*>(w); d && d->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(d);
                return;
            }
    });
    timer->start(20);
}

// The entry of a menu of the menu bar (File, or File > Open).
QAction* MenuEntry(QMainWindow& frame, int id) {
    std::function<QAction*(QMenu*)> find = [&](QMenu* menu) -> QAction* {
        for (QAction* a : menu->actions()) {
            if (a->menu())
                if (QAction* inner = find(a->menu())) return inner;
            if (!a->menu() && a->data().toInt() == id) return a;
        }
        return nullptr;
    };
    for (QAction* top : frame.menuBar()->actions())
        if (top->menu())
            if (QAction* a = find(top->menu())) return a;
    return nullptr;
}

} // namespace

class TestOpenPaths : public MainWindowTest {
    Q_OBJECT

    QString m_data;

    void Start(bool initialised = true) { StartAsMain({1200, 800}, initialised); }
    QString CopyRecord(const QString& name) {
        const QString path = m_data + QLatin1Char('/') + name;
        QFile::copy(QStringLiteral(RX_TEST_DATA "/records/flow_small.p8d"), path);
        return path;
    }
    QList<ChannelWindow*> RecordWindows() const {
        QList<ChannelWindow*> out;
        for (QMdiSubWindow* w : m_frame->MdiArea()->subWindowList())
            if (auto* c = qobject_cast<ChannelWindow*>(w); c && c->Slot() == 0) out << c;
        return out;
    }
    void Trigger(int id) {
        QAction* a = MenuEntry(*m_frame, id);
        QVERIFY(a);
        m_frame->UpdateCommands();
        QVERIFY(a->isEnabled());
        a->trigger();
    }

private Q_SLOTS:
    void init() {
        QVERIFY(NewRunFolder());
        m_data = DataFolder();
    }
    void cleanup() { Close(); }

    // Build Index from the File menu, then the records it indexed are
    // listed under File > Open > Records.
    void buildIndexThenBrowse() {
        CopyRecord(QStringLiteral("RXr_one.p8d"));
        CopyRecord(QStringLiteral("RXr_two.p8d"));
        Start();
        QString status;
        WhenShown<CBuildIndexDlg>([&status](CBuildIndexDlg* dlg) {
            dlg->YesButton()->click();
            QTRY_VERIFY(dlg->OkButton()->isEnabled());
            status = dlg->StatusLine()->text();
            dlg->OkButton()->click();
        });
        Trigger(cmd::BuildIndex);
        QCOMPARE(status, QStringLiteral("Index Operation Complete\n\n2 Files Processed."));
        int listed = 0;
        WhenShown<CViewRecordDlg>([&listed](CViewRecordDlg* dlg) {
            listed = dlg->Model()->RowCount();
            dlg->CancelButton()->click();
        });
        Trigger(cmd::OpenRecords);
        QCOMPARE(listed, 2);
        bool shown = false;
        WhenShown<CViewTemplateDlg>([&shown](CViewTemplateDlg* dlg) {
            shown = true;
            dlg->OkButton()->click();
        });
        Trigger(cmd::OpenTemplates);
        QVERIFY(shown);
    }

    // Before start-up has finished the plain file dialog stands in for the
    // browser.
    void fileDialogBeforeStartUp() {
        const QString path = CopyRecord(QStringLiteral("RXr_plain.p8d"));
        Start(false);
        WhenShown<QFileDialog>([path](QFileDialog* dlg) {
            // Typed into the file name field, as a user would.
            auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(path);
            static_cast<QDialog*>(dlg)->accept();
        });
        Trigger(cmd::OpenRecords);
        QCOMPARE(RecordWindows().size(), 1);
        QCOMPARE(RecordWindows()[0]->windowTitle(), QStringLiteral("RXr_plain.p8d"));
    }

    // Dropped records open; the recent-file entries open them again and a
    // file gone since is taken off the list.
    void dropAndRecentFiles() {
        const QString a = CopyRecord(QStringLiteral("RXr_a.p8d"));
        const QString b = CopyRecord(QStringLiteral("RXr_b.p8d"));
        Start();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b),
                      QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("notes.txt")))});
        const QPoint at = m_frame->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(m_frame.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(m_frame.get(), &drop);
        QCOMPARE(RecordWindows().size(), 2);

        QAction* first = MenuEntry(*m_frame, cmd::RecentFile1);
        QVERIFY(first && first->isVisible());
        QVERIFY(first->text().endsWith(QStringLiteral("RXr_b.p8d"))); // the last opened
        QVERIFY(MenuEntry(*m_frame, cmd::RecentFile1 + 1)
                    ->text()
                    .endsWith(QStringLiteral("RXr_a.p8d")));
        QVERIFY(!MenuEntry(*m_frame, cmd::RecentFile1 + 2)->isVisible());
        // A record already open is brought to the front, not opened twice.
        Trigger(cmd::RecentFile1 + 1);
        QCOMPARE(RecordWindows().size(), 2);
        QVERIFY(first->text().endsWith(QStringLiteral("RXr_a.p8d")));

        // Kept in the settings: a new main window lists them too.
        m_frame.reset();
        m_app.reset();
        QVERIFY(QFile::remove(b));
        Start();
        QAction* second = MenuEntry(*m_frame, cmd::RecentFile1 + 1);
        QVERIFY(second->text().endsWith(QStringLiteral("RXr_b.p8d")));
        Trigger(cmd::RecentFile1 + 1);
        QVERIFY(RecordWindows().isEmpty());
        QVERIFY(m_prompter.messages.value(0).contains(QStringLiteral("no longer exists")));
        QVERIFY(!second->isVisible());
    }

    // Files named on the command line: a record opens and joins the recent
    // files; a template opens in the template view; anything else is
    // refused with a message naming it and never listed.
    void commandLineFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("windows");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("templateView");
        QTest::newRow("record") << "RXr_a.p8d" << 1 << true << false;
        QTest::newRow("template") << "RXt_Six.p8t" << 0 << false << true;
        QTest::newRow("junk") << "junk.p8d" << 0 << false << false;
    }
    void commandLineFiles() {
        QFETCH(QString, name);
        QFETCH(int, windows);
        QFETCH(bool, listed);
        QFETCH(bool, templateView);
        const QString path = m_data + QLatin1Char('/') + name;
        if (name.startsWith(QLatin1String("RXr_"))) {
            CopyRecord(name);
        } else if (templateView) {
            Template t;
            t.name = QStringLiteral("Six");
            QVERIFY(templatefile::WriteFile(path, t));
        } else {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a record\r\nat all\r\n");
        }
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_frame = std::make_unique<CMainFrame>(*m_app);
        bool viewShown = false;
        if (templateView)
            WhenShown<CTemplateCreateDlg>([&](CTemplateCreateDlg* d) {
                viewShown = true;
                d->reject();
            });
        StartMainWindow(*m_app, *m_frame, WorkingFolder{m_dir->path()}, {path});
        QCOMPARE(viewShown, templateView);
        QCOMPARE(RecordWindows().size(), windows);
        QCOMPARE(recentfiles::Read(*m_app).contains(path), listed);
        const QStringList refused = m_prompter.messages.filter(QStringLiteral("Cannot open"));
        QCOMPARE(refused.size(), windows == 0 && !templateView ? 1 : 0);
        if (!refused.isEmpty()) QVERIFY(refused[0].contains(name));
    }
    // Start-up with a data folder or index that cannot be used asks what to
    // do, and whatever the answer the setting stays: the dialog offered for
    // a missing folder is the settings dialog, for a damaged index Build
    // Index; nothing is made in place of the missing folder.
    void startupOffersRepairAndKeepsSetting_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<QString>("question");
        QTest::newRow("custom folder missing") << "gone" << false << "data folder cannot be used";
        QTest::newRow("damaged index") << "bad" << true << "records index in the data folder";
    }
    void startupOffersRepairAndKeepsSetting() {
        QFETCH(QString, folder);
        QFETCH(bool, damaged);
        QFETCH(QString, question);
        const QString path = m_dir->filePath(folder);
        if (damaged) {
            QVERIFY(QDir().mkpath(path));
            QFile junk(path + QStringLiteral("/RX_Records.accdb"));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(4096, 'x'));
        }
        const QString ini = m_dir->filePath(QStringLiteral("settings/RivuletrixApp.ini"));
        {
            QFile f(ini);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray text = f.readAll().replace(m_data.toUtf8(), path.toUtf8());
            QVERIFY(f.resize(0));
            f.write(text);
        }
        QFile before(ini);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray bytes = before.readAll();
        before.close();
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_frame = std::make_unique<CMainFrame>(*m_app);
        bool settingsShown = false;
        bool buildShown = false;
        WhenShown<CDefaultParameters>([&](CDefaultParameters* d) {
            settingsShown = true;
            d->reject();
        });
        WhenShown<CBuildIndexDlg>([&](CBuildIndexDlg* d) {
            buildShown = true;
            d->close();
        });
        m_prompter.QueueAnswer(true);
        StartMainWindow(*m_app, *m_frame, WorkingFolder{m_dir->path()}, {});
        QCOMPARE(m_prompter.questions.filter(question).size(), 1);
        QCOMPARE(settingsShown, !damaged);
        QCOMPARE(buildShown, damaged);
        QFile after(ini);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), bytes);
        QCOMPARE(QFileInfo::exists(path), damaged);
        if (damaged) QCOMPARE(QFileInfo(path + QStringLiteral("/RX_Records.accdb")).size(), 4096);
    }
};

QTEST_MAIN(TestOpenPaths)
#include "test_open_paths.moc"
