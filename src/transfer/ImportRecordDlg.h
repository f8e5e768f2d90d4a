#pragma once

#include "transfer/ImportContext.h"
#include "transfer/ImportItems.h"
#include "transfer/ImportListPage.h"

// "Records": the analyzer's records, fetched with GetList, ticked and
// imported into the data folder and the records index, optionally deleted
// from the analyzer.
class CImportRecordDlg : public ImportListPage {
    Q_OBJECT
public:
    explicit CImportRecordDlg(const ImportContext& context, QWidget* parent = nullptr);

    const QList<ImportedRecord>& Entries() const { return m_entries; }

protected:
    void OnGetList() override;
    void OnImport() override;

private:
    void Refill();

    const ImportContext& m_context;
    QList<ImportedRecord> m_entries;
    // Why nothing of the listed records may be deleted from the analyzer
    // (a download of the list failed on its time limit); empty otherwise.
    QString m_keepOnAnalyzer;
};
