// Opening records and templates from the main window as a user does: the
// File menu's Records, Templates and Build Index entries, the plain file
// dialog before start-up has finished, the recent-file entries and records
// dropped on the window.
#include "../testing/RunFixture.h"

#include "app/ChannelWindow.h"
#include "app/MainFrame.h"
#include "base/CommandIds.h"
#include "store/BuildIndexDlg.h"
#include "store/IndexBuildJob.h"
#include "store/RecordIndex.h"
#include "store/RecordListModel.h"
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

class TestOpenPaths : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<CMainFrame> m_frame;
    QString m_data;

    void Start(bool initialised = true) {
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_app->StartingUp = true;
        m_frame = std::make_unique<CMainFrame>(*m_app);
        if (initialised) {
            m_app->StartupSettings();
            m_app->Initialised = true;
            m_app->Records().SetStartupFinished(true);
        }
        m_app->StartingUp = false;
        m_frame->resize(1200, 800);
        m_frame->show();
    }
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
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(MakeWorkingFolder(m_dir->path()));
        m_data = m_dir->filePath(QStringLiteral("data"));
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() {
        m_frame.reset();
        m_app.reset();
        SetPrompter(nullptr);
    }

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
};

QTEST_MAIN(TestOpenPaths)
#include "test_open_paths.moc"
