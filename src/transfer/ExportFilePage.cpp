#include "ExportFilePage.h"

#include "ExportJob.h"
#include "ExportProgress.h"

#include "base/Prompter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

void ShowOutcome(const ExportOutcome& out, const QString& completed) {
    switch (out.status) {
    case ExportOutcome::Status::PortGone:
        ThePrompter().Message(out.error, Prompter::Icon::Error);
        break;
    case ExportOutcome::Status::Cancelled:
        ThePrompter().Message(QStringLiteral("Export cancelled after %1 bytes; the analyzer keeps "
                                             "what was sent.")
                                  .arg(out.bytes));
        break;
    case ExportOutcome::Status::Done:
        ThePrompter().Message(completed);
        break;
    }
}

} // namespace

CExportFilePage::CExportFilePage(CDevice* device, const QString& filter, QWidget* parent)
    : QWidget(parent), m_device(device), m_filter(filter) {
    m_pathField = new QLineEdit(this);
    m_pathField->setReadOnly(true);
    m_browse = new QPushButton(QStringLiteral("Browse"), this);
    m_load = new QPushButton(QStringLiteral("Load"), this);
    connect(m_browse, &QPushButton::clicked, this, &CExportFilePage::OnBrowse);
    connect(m_load, &QPushButton::clicked, this, &CExportFilePage::OnLoad);
    auto* row = new QHBoxLayout;
    row->addWidget(m_pathField, 1);
    row->addWidget(m_browse);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_load);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

void CExportFilePage::ChooseFile(const QString& path) {
    m_path = path;
    m_chosen = !path.isEmpty();
    m_pathField->setText(path);
}

void CExportFilePage::OnBrowse() {
    const QString path =
        QFileDialog::getOpenFileName(this, QString(), QDir::currentPath(), m_filter);
    if (path.isEmpty()) {
        m_chosen = false;
        return;
    }
    ChooseFile(path);
}

void CExportFilePage::OnLoad() {
    if (!m_chosen) {
        ThePrompter().Message(QStringLiteral("Please select an Instruction manual file"));
        return;
    }
    if (!m_device) return;
    Send(*m_device, m_path);
}

CExportInstManualDlg::CExportInstManualDlg(CDevice* device, QWidget* parent)
    : CExportFilePage(device, QStringLiteral("Instruction Manual (*.p8i)"), parent) {}

void CExportInstManualDlg::Send(CDevice& device, const QString& path) {
    QByteArray bytes;
    QString error;
    if (!ReadManualFile(path, bytes, error)) {
        ThePrompter().Message(error, Prompter::Icon::Error);
        return;
    }
    ExportJob job(device);
    const ExportOutcome out =
        RunExportWithProgress(this, QStringLiteral("Sending the instruction manual..."), job,
                              [&] { return job.SendManual(bytes); });
    ShowOutcome(out, QStringLiteral("Instruction Manual Sent"));
}

CExportUserNotesDlg::CExportUserNotesDlg(CDevice* device, QWidget* parent)
    : CExportFilePage(device, QStringLiteral("Usernotes (*.p8u)"), parent) {}

void CExportUserNotesDlg::Send(CDevice& device, const QString& path) {
    QByteArray bytes;
    QString error, notice;
    if (!ReadNotesFile(path, bytes, error, notice)) {
        ThePrompter().Message(error, Prompter::Icon::Error);
        return;
    }
    if (!notice.isEmpty()) ThePrompter().Message(notice, Prompter::Icon::Warning);
    ExportJob job(device);
    const ExportOutcome out =
        RunExportWithProgress(this, QStringLiteral("Sending the user notes..."), job,
                              [&] { return job.SendNotes(bytes); });
    ShowOutcome(out, QStringLiteral("Exporting UserNotes Completed."));
}
