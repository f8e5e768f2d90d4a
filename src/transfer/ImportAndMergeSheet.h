#pragma once

#include "transfer/ImportContext.h"

#include <QDialog>

class CImportRecordDlg;
class CImportTemplateDlg;
class CImportUserNotesDlg;
class QTabWidget;

// "Import Items": the records page, and unless allPages is false the
// template and user notes pages, for one analyzer.
class CImportAndMergeSheet : public QDialog {
    Q_OBJECT
public:
    CImportAndMergeSheet(const QString& title, const ImportContext& context, bool allPages,
                         QWidget* parent = nullptr);

    QTabWidget* Tabs() const { return m_tabs; }
    CImportRecordDlg* RecordsPage() const { return m_records; }
    CImportTemplateDlg* TemplatesPage() const { return m_templates; }
    CImportUserNotesDlg* NotesPage() const { return m_notes; }

private:
    ImportContext m_context;
    QTabWidget* m_tabs;
    CImportRecordDlg* m_records;
    CImportTemplateDlg* m_templates = nullptr;
    CImportUserNotesDlg* m_notes = nullptr;
};
