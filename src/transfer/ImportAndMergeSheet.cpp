#include "ImportAndMergeSheet.h"

#include "transfer/ImportRecordDlg.h"
#include "transfer/ImportTemplateDlg.h"
#include "transfer/ImportUserNotesDlg.h"

CImportAndMergeSheet::CImportAndMergeSheet(const QString& title, const ImportContext& context,
                                           bool allPages, QWidget* parent)
    : CTransferSheet(title, parent), m_context(context),
      m_records(new CImportRecordDlg(m_context, this)) {
    setObjectName(QStringLiteral("ImportSheet"));
    AddPage(m_records, QStringLiteral("Records"));
    connect(m_records, &ImportListPage::CloseRequested, this, &QDialog::reject);
    if (allPages) {
        m_templates = new CImportTemplateDlg(m_context, this);
        m_notes = new CImportUserNotesDlg(m_context, this);
        AddPage(m_templates, QStringLiteral("Template"));
        AddPage(m_notes, QStringLiteral("Import User Notes"));
        connect(m_templates, &ImportListPage::CloseRequested, this, &QDialog::reject);
        connect(m_notes, &CImportUserNotesDlg::CloseRequested, this, &QDialog::reject);
    }
}
