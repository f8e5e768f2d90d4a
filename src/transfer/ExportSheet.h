#pragma once

#include "TransferSheet.h"

class CDevice;
class CExportInstManualDlg;
class CExportTemplatesDlg;
class CExportUserNotesDlg;
class TemplateStore;

// "Export Items": templates, the instruction manual and the user notes,
// each sent to the analyzer from its own page. device may be null (no
// analyzer selected): the pages then send nothing.
class CExportSheet : public CTransferSheet {
    Q_OBJECT
public:
    CExportSheet(const QString& title, CDevice* device, TemplateStore& store,
                 QWidget* parent = nullptr);

    CExportTemplatesDlg* TemplatesPage() const { return m_templates; }
    CExportInstManualDlg* ManualPage() const { return m_manual; }
    CExportUserNotesDlg* NotesPage() const { return m_notes; }

private:
    CExportTemplatesDlg* m_templates = nullptr;
    CExportInstManualDlg* m_manual = nullptr;
    CExportUserNotesDlg* m_notes = nullptr;
};
