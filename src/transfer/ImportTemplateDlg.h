#pragma once

#include "transfer/ImportContext.h"
#include "transfer/ImportItems.h"
#include "transfer/ImportListPage.h"

// "Template": the analyzer's templates, fetched with GetList, ticked and
// imported into the template store; a double-click shows one read-only.
class CImportTemplateDlg : public ImportListPage {
    Q_OBJECT
public:
    explicit CImportTemplateDlg(const ImportContext& context, QWidget* parent = nullptr);

    const QList<ImportedTemplate>& Entries() const { return m_entries; }

protected:
    void OnGetList() override;
    void OnImport() override;

private:
    void Refill();
    void ShowTemplate(int row);

    const ImportContext& m_context;
    QList<ImportedTemplate> m_entries;
};
