#pragma once

#include "store/StoreRebuild.h"
#include "transfer/ImportItems.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class AppSettings;
class CDevice;
class RecordIndex;
class TemplateStore;

// What one merge did.
struct MergeReport {
    QStringList files;    // file names written into the data folder, in order
    QList<int> deleted;   // record numbers sent with DELREC, in order
    QStringList problems; // copies that failed and items skipped, one line each
    QStringList notices;  // records stored under the fallback name
    // The analyzer went away (or is no longer the selected one): the rest
    // was still copied, but nothing more was deleted from it.
    bool stopped = false;
    RebuildResult rebuild; // the index rebuild after the merge
};

// Copies from into to: written beside to and renamed over it, then read back
// and compared. False with the reason when to is not an exact copy.
bool SafeCopyFile(const QString& from, const QString& to, QString* error);

// Step of a merge, for a progress display: done of total items.
using MergeProgress = std::function<void(int done, int total)>;

// The data folder name of an imported record: the naming rule of new records
// from its type, start stamp and transducer serial number. When the header
// cannot make such a name, "RXr_Unnamed_" with the serial number and a digest
// of the record's bytes (the same record always gets the same name, two
// different ones never share it), and fallback is set. A record without a
// start date and time takes the fallback too.
QString ImportedRecordFileName(const ImportedRecord& entry, const QByteArray& bytes,
                               bool* fallback = nullptr);

// Brings staged downloads into the data folder and the two stores. Runs on
// the thread that owns the stores; asks through the prompter.
class ImportMerge {
public:
    ImportMerge(const AppSettings& settings, RecordIndex& index, TemplateStore& templates);

    // Shows "Please provide a valid path ..." and returns false when the data
    // folder is not an existing folder.
    bool CheckDataFolder();

    // Merges the checked entries in list order and takes them off the list.
    // A staged record is taken only while it is still exactly what was
    // downloaded and checked, and its header agrees with its entry. With
    // deleteOnAnalyzer, each record whose copy is safe in the data folder is
    // deleted on the analyzer; the numbers of the records still listed
    // follow the deletions. A record whose copy failed stays listed and on
    // the analyzer. analyzerPresent, asked before each deletion, ends the
    // deletions (not the copies) when it says false. Then "BuildIndex" = "1"
    // and the index is rebuilt: CopyRecords and then FinishRecords.
    MergeReport MergeRecords(QList<ImportedRecord>& entries, CDevice* device, bool deleteOnAnalyzer,
                             const std::function<bool()>& analyzerPresent = {});
    // The file work and the deletions of MergeRecords, without the stores:
    // may run on a worker thread (progress is called there).
    MergeReport CopyRecords(QList<ImportedRecord>& entries, CDevice* device, bool deleteOnAnalyzer,
                            const std::function<bool()>& analyzerPresent = {},
                            const MergeProgress& progress = {});
    // The rest, on the stores' thread.
    void FinishRecords(MergeReport& report);
    // Records are copied but none is deleted from the analyzer, for this
    // reason (a download of the import failed on its time limit).
    void KeepRecordsOnAnalyzer(const QString& why) { m_keepOnAnalyzer = why; }

    // Merges the checked templates under "RXt_" + name + ".p8t" (a name that
    // is no plain file name is made one), asking before one is overwritten,
    // takes them off the list and rebuilds the template index.
    MergeReport MergeTemplates(QList<ImportedTemplate>& entries);

private:
    const AppSettings& m_settings;
    RecordIndex& m_index;
    TemplateStore& m_templates;
    QString m_keepOnAnalyzer;
};
