#pragma once

#include "transfer/ImportContext.h"
#include "transfer/TransferSheet.h"

class CImportRecordDlg;
class CImportTemplateDlg;
class CImportUserNotesDlg;

// "Import Items": the records page, and unless allPages is false the
// template and user notes pages, for one analyzer.
class CImportAndMergeSheet : public CTransferSheet {
    Q_OBJECT
public:
    CImportAndMergeSheet(const QString& title, const ImportContext& context, bool allPages,
                         QWidget* parent = nullptr);

    CImportRecordDlg* RecordsPage() const { return m_records; }
    CImportTemplateDlg* TemplatesPage() const { return m_templates; }
    CImportUserNotesDlg* NotesPage() const { return m_notes; }

private:
    ImportContext m_context;
    CImportRecordDlg* m_records;
    CImportTemplateDlg* m_templates = nullptr;
    CImportUserNotesDlg* m_notes = nullptr;
};
