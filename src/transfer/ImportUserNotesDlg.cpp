#include "ImportUserNotesDlg.h"

#include "base/Prompter.h"
#include "transfer/ImportProgressDlg.h"
#include "transfer/NotesFileName.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

CImportUserNotesDlg::CImportUserNotesDlg(const ImportContext& context, QWidget* parent)
    : QWidget(parent), m_context(context),
      m_import(new QPushButton(QStringLiteral("Import"), this)),
      m_close(new QPushButton(QStringLiteral("Close"), this)) {
    setObjectName(QStringLiteral("ImportUserNotes"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_import);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(buttons);
    connect(m_import, &QPushButton::clicked, this, &CImportUserNotesDlg::OnImport);
    connect(m_close, &QPushButton::clicked, this, &CImportUserNotesDlg::CloseRequested);
}

void CImportUserNotesDlg::OnImport() {
    QFileDialog dialog(this, QStringLiteral("Save User Notes"), QDir::currentPath(),
                       QStringLiteral("User Notes (*.p8u)"));
    dialog.setObjectName(QStringLiteral("UserNotesSave"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The dialog adds ".p8u" itself, so its overwrite question is about the
    // file really written.
    dialog.setDefaultSuffix(QStringLiteral("p8u"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    QString path, error;
    if (!notesfile::Resolve(dialog.selectedFiles().first(), path, &error)) {
        ThePrompter().Message(error, Prompter::Icon::Warning);
        return;
    }
    CDevice* device = m_context.Device();
    if (!device) return;
    CImportProgressDlg progress(*device, CImportProgressDlg::Mode::Notes, path, this);
    progress.exec();
    const ImportDownload::Result r = progress.Result();
    if (!r.ok) {
        ThePrompter().Message(r.error, Prompter::Icon::Warning);
        return;
    }
    ThePrompter().Message(QStringLiteral("Importing UserNotes Completed."),
                          Prompter::Icon::Information);
}
