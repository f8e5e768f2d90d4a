// The main window's ways of opening records and templates: the two browsers,
// the index build, the plain file dialog, the recent-file list and drops.
#include "MainFrame.h"

#include "RecentFiles.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "store/BuildIndexDlg.h"
#include "store/RecordIndex.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateStore.h"
#include "store/ViewRecordDlg.h"
#include "store/ViewTemplateDlg.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace {

bool IsRecordFile(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("p8d") || suffix == QLatin1String("p7d");
}

} // namespace

void CMainFrame::OpenRecords() {
    RecordIndex& index = m_app.Records();
    if (!m_app.Initialised || (!index.IsOpen() && !index.Open())) {
        // A server that does not answer is said, not taken for a missing index.
        if (m_app.Initialised && index.OnServer())
            ThePrompter().Message(QStringLiteral("The records index could not be opened, so a "
                                                 "record is opened from its file: %1")
                                      .arg(index.ErrorDescription()),
                                  Prompter::Icon::Warning);
        OpenWithFileDialog();
        return;
    }
    CViewRecordDlg dlg(
        index, m_app, [this](const QString& path) { return OpenRecordFile(path); }, this);
    dlg.exec();
}

void CMainFrame::OpenTemplates() {
    TemplateStore& store = m_app.Templates();
    if (!m_app.Initialised || (!store.IsOpen() && !store.Open())) {
        OpenWithFileDialog();
        return;
    }
    CViewTemplateDlg dlg(store, m_app, this);
    dlg.exec();
}

void CMainFrame::BuildIndex() {
    CBuildIndexDlg dlg(m_app.Records(), m_app.Templates(), m_app, this);
    dlg.exec();
}

void CMainFrame::OpenWithFileDialog() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Open"), m_app.GetDataPath(),
        QStringLiteral("Test records (*.p8d *.p7d);;Templates (*.p8t);;All files (*)"));
    for (const QString& path : paths) OpenDocumentFile(path);
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
    if (QFileInfo(path).suffix().compare(QLatin1String("p8t"), Qt::CaseInsensitive) != 0)
        return OpenRecordFile(path);
    CTemplateCreateDlg view(m_app.Templates(), TemplateEditor::Mode::View, path, this);
    view.exec();
    return true;
}

void CMainFrame::OpenRecentFile(int index) {
    const QString path = recentfiles::Read(m_app).value(index);
    if (path.isEmpty()) return;
    if (!QFileInfo::exists(path)) {
        ThePrompter().Message(
            QStringLiteral("%1 no longer exists; it is taken off the list of recent files.")
                .arg(QDir::toNativeSeparators(path)),
            Prompter::Icon::Warning);
        recentfiles::Remove(m_app, path);
        RefreshRecentFiles();
        return;
    }
    OpenRecordFile(path);
}

void CMainFrame::RefreshRecentFiles() {
    const QStringList files = recentfiles::Read(m_app);
    for (int i = 0; i < recentfiles::kMaxFiles; ++i) {
        QAction* a = m_actions.value(cmd::RecentFile1 + i);
        if (!a) continue;
        const QString path = files.value(i);
        a->setVisible(!path.isEmpty());
        a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
    }
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && IsRecordFile(url.toLocalFile())) {
            event->acceptProposedAction();
            return;
        }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile() && IsRecordFile(url.toLocalFile())) OpenRecordFile(url.toLocalFile());
    event->acceptProposedAction();
}
