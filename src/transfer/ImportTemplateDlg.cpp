#include "ImportTemplateDlg.h"

#include "base/Prompter.h"
#include "store/TemplateCreateDlg.h"
#include "transfer/ImportMerge.h"
#include "transfer/ImportProgressDlg.h"
#include "transfer/ImportStaging.h"

#include <QPushButton>
#include <QTreeWidget>

CImportTemplateDlg::CImportTemplateDlg(const ImportContext& context, QWidget* parent)
    : ImportListPage({QStringLiteral("TemplateName"), QStringLiteral("Device Comments")},
                     {250, 280}, parent),
      m_context(context) {
    setObjectName(QStringLiteral("ImportTemplates"));
    connect(List(), &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ShowTemplate(List()->indexOfTopLevelItem(item)); });
}

void CImportTemplateDlg::OnGetList() {
    CDevice* device = m_context.Device();
    if (!device) return;
    const QString folder = NewStagingFolder(m_context.settings);
    if (folder.isEmpty()) return;
    m_entries.clear();
    Refill();
    CImportProgressDlg dlg(*device, CImportProgressDlg::Mode::Templates, folder, this);
    dlg.exec();
    const ImportDownload::Result r = dlg.Result();
    if (r.ok) {
        m_entries = r.templates;
        Refill();
    } else if (!r.error.isEmpty()) {
        ThePrompter().Message(r.error, Prompter::Icon::Warning);
    }
    EnableForRows(!m_entries.isEmpty());
    // A list that came is not asked for twice; one that failed may be.
    GetListButton()->setEnabled(!r.ok);
    if (!r.failures.isEmpty()) {
        QStringList lines{QStringLiteral("Some templates were not imported:")};
        for (const ImportFailure& f : r.failures) lines << f.message;
        ThePrompter().Message(lines.join(QLatin1Char('\n')), Prompter::Icon::Warning);
    }
}

void CImportTemplateDlg::OnImport() {
    ImportMerge merge(m_context.settings, m_context.records, m_context.templates);
    if (!merge.CheckDataFolder()) return;
    const QList<bool> checked = CheckedRows();
    for (int i = 0; i < m_entries.size(); ++i) m_entries[i].checked = checked.value(i);
    const MergeReport m = merge.MergeTemplates(m_entries);
    Refill();
    QStringList text = m.problems;
    if (m.rebuild.ran && !m.rebuild.stored)
        text << QStringLiteral("The template index could not be rebuilt: %1").arg(m.rebuild.error);
    if (!text.isEmpty())
        ThePrompter().Message(text.join(QLatin1Char('\n')), Prompter::Icon::Warning);
}

void CImportTemplateDlg::Refill() {
    QList<QStringList> rows;
    QList<bool> checked;
    for (const ImportedTemplate& e : m_entries) {
        rows << QStringList{e.name, e.deviceComments};
        checked << e.checked;
    }
    FillRows(rows, checked);
}

void CImportTemplateDlg::ShowTemplate(int row) {
    if (row < 0 || row >= m_entries.size()) return;
    CTemplateCreateDlg view(m_context.templates, TemplateEditor::Mode::View,
                            m_entries[row].stagedPath, this);
    view.exec();
}
