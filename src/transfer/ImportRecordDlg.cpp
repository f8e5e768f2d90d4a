#include "ImportRecordDlg.h"

#include "base/Prompter.h"
#include "transfer/ImportMerge.h"
#include "transfer/ImportProgressDlg.h"
#include "transfer/ImportStaging.h"

#include <QPushButton>

namespace {
// Items that failed, named for the user.
QString FailureText(const QString& head, const QList<ImportFailure>& failures) {
    QStringList lines{head};
    for (const ImportFailure& f : failures) lines << f.message;
    return lines.join(QLatin1Char('\n'));
}
} // namespace

CImportRecordDlg::CImportRecordDlg(const ImportContext& context, QWidget* parent)
    : ImportListPage({QStringLiteral("Control Number"), QStringLiteral("Test Type"),
                      QStringLiteral("Date Time")},
                     {200, 80, 250}, parent),
      m_context(context) {
    setObjectName(QStringLiteral("ImportRecords"));
}

void CImportRecordDlg::OnGetList() {
    CDevice* device = m_context.Device();
    if (!device) return;
    const QString folder = NewStagingFolder(m_context.settings);
    if (folder.isEmpty()) return;
    m_entries.clear();
    Refill();
    EnableForRows(false);
    CImportProgressDlg dlg(*device, CImportProgressDlg::Mode::Records, folder, this);
    dlg.exec();
    const ImportDownload::Result r = dlg.Result();
    if (!r.ok) {
        if (!r.error.isEmpty()) ThePrompter().Message(r.error, Prompter::Icon::Warning);
        return;
    }
    m_entries = r.records;
    m_keepOnAnalyzer = r.keepOnAnalyzer;
    Refill();
    EnableForRows(!m_entries.isEmpty());
    if (!r.failures.isEmpty())
        ThePrompter().Message(
            FailureText(QStringLiteral("Some records were not imported; GetList tries them again."),
                        r.failures + (r.keepOnAnalyzer.isEmpty()
                                          ? QList<ImportFailure>{}
                                          : QList<ImportFailure>{{0, r.keepOnAnalyzer}})),
            Prompter::Icon::Warning);
}

void CImportRecordDlg::OnImport() {
    ImportMerge merge(m_context.settings, m_context.records, m_context.templates);
    if (!merge.CheckDataFolder()) return;
    const bool remove = ThePrompter().QuestionDefaultNo(
        QStringLiteral("Do you want to delete the Imported Records from the PXR ?"),
        Prompter::Icon::Question);
    const QList<bool> checked = CheckedRows();
    for (int i = 0; i < m_entries.size(); ++i) m_entries[i].checked = checked.value(i);
    if (!m_keepOnAnalyzer.isEmpty()) merge.KeepRecordsOnAnalyzer(m_keepOnAnalyzer);
    // The copies and the deletions run on a worker with the progress up;
    // the sheet is modal, so the analyzer cannot be disconnected meanwhile.
    CDevice* device = m_context.Device();
    MergeReport m;
    RunWithProgress(QStringLiteral("Importing records into the data folder..."),
                    [&](const MergeProgress& progress) {
                        m = merge.CopyRecords(m_entries, device, remove, {}, progress);
                    });
    merge.FinishRecords(m);
    Refill();
    EnableForRows(!m_entries.isEmpty());
    QStringList text = m.problems + m.notices;
    if (m.stopped)
        text << QStringLiteral("The analyzer was lost: the records were copied, but no more were "
                               "deleted from it.");
    if (m.rebuild.ran && !m.rebuild.stored)
        text << QStringLiteral("The records index could not be rebuilt: %1").arg(m.rebuild.error);
    if (!text.isEmpty())
        ThePrompter().Message(text.join(QLatin1Char('\n')), Prompter::Icon::Warning);
}

void CImportRecordDlg::Refill() {
    QList<QStringList> rows;
    QList<bool> checked;
    for (const ImportedRecord& e : m_entries) {
        rows << QStringList{e.controlNumber, QString(QLatin1Char(e.testType ? e.testType : ' ')),
                            e.startDate + QLatin1Char('/') + e.startTime};
        checked << e.checked; // a record that stayed behind keeps its tick
    }
    FillRows(rows, checked);
}
