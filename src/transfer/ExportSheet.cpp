#include "ExportSheet.h"

#include "ExportFilePage.h"
#include "ExportTemplatesDlg.h"

CExportSheet::CExportSheet(const QString& title, CDevice* device, TemplateStore& store,
                           QWidget* parent)
    : CTransferSheet(title, parent) {
    setObjectName(QStringLiteral("ExportSheet"));
    m_templates = new CExportTemplatesDlg(device, store, this);
    m_manual = new CExportInstManualDlg(device, this);
    m_notes = new CExportUserNotesDlg(device, this);
    AddPage(m_templates, QStringLiteral("Template Selection"));
    AddPage(m_manual, QStringLiteral("Export Instruction Manual"));
    AddPage(m_notes, QStringLiteral("Export User Notes"));
}
