#include "ImportAndMergeSheet.h"

#include "transfer/ImportRecordDlg.h"
#include "transfer/ImportTemplateDlg.h"
#include "transfer/ImportUserNotesDlg.h"

#include <QTabWidget>
#include <QVBoxLayout>

CImportAndMergeSheet::CImportAndMergeSheet(const QString& title, const ImportContext& context,
                                           bool allPages, QWidget* parent)
    : QDialog(parent), m_context(context), m_tabs(new QTabWidget(this)),
      m_records(new CImportRecordDlg(m_context, this)) {
    setWindowTitle(title);
    setObjectName(QStringLiteral("ImportSheet"));
    m_tabs->addTab(m_records, QStringLiteral("Records"));
    connect(m_records, &ImportListPage::CloseRequested, this, &QDialog::reject);
    if (allPages) {
        m_templates = new CImportTemplateDlg(m_context, this);
        m_notes = new CImportUserNotesDlg(m_context, this);
        m_tabs->addTab(m_templates, QStringLiteral("Template"));
        m_tabs->addTab(m_notes, QStringLiteral("Import User Notes"));
        connect(m_templates, &ImportListPage::CloseRequested, this, &QDialog::reject);
        connect(m_notes, &CImportUserNotesDlg::CloseRequested, this, &QDialog::reject);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    resize(720, 420);
}
