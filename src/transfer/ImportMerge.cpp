#include "ImportMerge.h"

#include "base/AppSettings.h"
#include "base/CheckedSaveFile.h"
#include "base/Prompter.h"
#include "base/SafeFileName.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "records/Template.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "transfer/ImportStaging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kInvalidPath =
    QStringLiteral("Please provide a valid path in the Control Menu\\Rivuletrix parameters box.");

// How long the analyzer may take to confirm a deletion.
constexpr std::chrono::milliseconds kEraseLimit{3000};

// An identical copy already in place is left untouched; a file of the name
// with other bytes (another import wrote it meanwhile) is never replaced.
bool WriteCopy(const QByteArray& bytes, const QString& to, QString* error) {
    return checkedfile::Write(to, bytes, error, false);
}

// Why a staged record is not what its entry showed, or empty.
QString Mismatch(const ImportedRecord& e, const QByteArray& bytes) {
    if (!e.digest.isEmpty() && staging::Digest(bytes) != e.digest)
        return QStringLiteral("its staged copy has changed since it was downloaded");
    QString why;
    if (!staging::CheckRecord(bytes, &why))
        return QStringLiteral("its staged copy is not a whole record (%1)").arg(why);
    ImportedRecord now;
    staging::ParseHeader(bytes, now);
    if (now.testType != e.testType || now.startDate != e.startDate ||
        now.startTime != e.startTime || now.controlNumber != e.controlNumber)
        return QStringLiteral("its staged copy is another record than the list shows");
    return {};
}

QString Digest(const QByteArray& bytes) {
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(12));
}

// A record file already in the data folder under this name with other
// contents is kept: the new one gets the name with its digest added.
QString FreeRecordName(const QString& folder, const QString& name, const QByteArray& bytes) {
    const QString path = folder + QLatin1Char('/') + name;
    if (!QFileInfo(path).isFile()) return name;
    QByteArray existing;
    if (checkedfile::Read(path, existing, nullptr) && existing == bytes) return name;
    return name.chopped(4) + QLatin1Char('_') + Digest(bytes) + QStringLiteral(".p8d");
}

} // namespace

bool SafeCopyFile(const QString& from, const QString& to, QString* error) {
    QByteArray bytes;
    return checkedfile::Read(from, bytes, error) && checkedfile::Write(to, bytes, error);
}

QString ImportedRecordFileName(const ImportedRecord& e, const QByteArray& bytes, bool* fallback) {
    CRivuletrixDoc doc;
    doc.TestType = e.testType;
    doc.StartDate = e.startDate;
    doc.StartTime = e.startTime;
    doc.TdSerialNum = e.tdSerial;
    // Without a start stamp every such record of the channel would get the
    // same name and replace the one before.
    const QString year = e.startDate.mid(7, 4);
    const bool stamped = year.size() == 4 && year.toInt() > 0 && !e.startTime.isEmpty();
    QString name = stamped ? doc.MakeRecordFileName() : QString();
    if (fallback) *fallback = name.isEmpty();
    if (!name.isEmpty()) return name;
    return safename::Name(QStringLiteral("RXr_Unnamed_"),
                          (e.tdSerial.isEmpty() ? QString() : e.tdSerial + QLatin1Char('_')) +
                              Digest(bytes),
                          QStringLiteral(".p8d"));
}

ImportMerge::ImportMerge(const AppSettings& settings, RecordIndex& index, TemplateStore& templates)
    : m_settings(settings), m_index(index), m_templates(templates) {}

bool ImportMerge::CheckDataFolder() {
    const QString folder = m_index.DataFolder();
    QString drive;
    if (m_settings.Setting(QStringLiteral("PathType")) == QLatin1String("1"))
        drive = m_settings.Setting(QStringLiteral("NetworkPathDrive"));
    // An empty folder (a network path kind without its path) would put the
    // files at the root of the file system.
    if (!folder.isEmpty() &&
        (QFileInfo(folder).isDir() || (!drive.isEmpty() && QFileInfo(drive).isDir())))
        return true;
    ThePrompter().Message(kInvalidPath, Prompter::Icon::Warning);
    return false;
}

MergeReport ImportMerge::MergeRecords(QList<ImportedRecord>& entries, CDevice* device,
                                      bool deleteOnAnalyzer,
                                      const std::function<bool()>& analyzerPresent) {
    MergeReport report = CopyRecords(entries, device, deleteOnAnalyzer, analyzerPresent);
    FinishRecords(report);
    return report;
}

MergeReport ImportMerge::CopyRecords(QList<ImportedRecord>& entries, CDevice* device,
                                     bool deleteOnAnalyzer,
                                     const std::function<bool()>& analyzerPresent,
                                     const MergeProgress& progress) {
    MergeReport report;
    const QString folder = m_index.DataFolder();
    if (folder.isEmpty()) {
        report.problems << kInvalidPath;
        return report;
    }
    if (deleteOnAnalyzer && !m_keepOnAnalyzer.isEmpty()) {
        report.problems << m_keepOnAnalyzer;
        deleteOnAnalyzer = false;
    }
    MakeFolderChain(folder);
    int total = 0, done = 0;
    for (const ImportedRecord& e : entries) total += e.checked ? 1 : 0;
    for (int i = 0; i < entries.size();) {
        ImportedRecord& e = entries[i];
        if (!e.checked) {
            ++i;
            continue;
        }
        if (progress) progress(done++, total);
        QByteArray bytes;
        QString error;
        if (!checkedfile::Read(e.stagedPath, bytes, &error) ||
            !(error = Mismatch(e, bytes)).isEmpty()) {
            report.problems << QStringLiteral(
                                   "Record %1 was not copied and stays on the analyzer: %2")
                                   .arg(e.number)
                                   .arg(error);
            ++i;
            continue;
        }
        bool fallback = false;
        const QString named = ImportedRecordFileName(e, bytes, &fallback);
        // Replacing a different record of the same name would lose it once
        // it is gone from the analyzer too.
        const QString name = FreeRecordName(folder, named, bytes);
        if (name != named)
            report.notices << QStringLiteral(
                                  "Record %1 has the name of %2, which is already in the "
                                  "data folder with other contents; both are kept, the "
                                  "new one as %3.")
                                  .arg(e.number)
                                  .arg(named, name);
        if (!WriteCopy(bytes, folder + QLatin1Char('/') + name, &error)) {
            // The analyzer keeps the record: its only copy is there.
            report.problems << QStringLiteral("Record %1 was not copied to the data folder and "
                                              "stays on the analyzer: %2")
                                   .arg(e.number)
                                   .arg(error);
            ++i;
            continue;
        }
        report.files << name;
        if (fallback)
            report.notices << QStringLiteral("Record %1 has no type or start time that makes a "
                                             "record name; it is stored as %2.")
                                  .arg(e.number)
                                  .arg(name);
        const int number = e.number;
        entries.removeAt(i);
        if (!deleteOnAnalyzer || !device) continue;
        if ((analyzerPresent && !analyzerPresent()) || device->IsLost()) {
            // The records still to come are copied all the same: each may
            // be the only copy once the analyzer is gone.
            report.stopped = true;
            deleteOnAnalyzer = false;
            continue;
        }
        if (!device->DeleteRecord(number, kEraseLimit)) {
            // Whether it went is unknown, so the numbers of the later
            // records are too: deleting on could hit one never imported.
            report.problems << QStringLiteral("Record %1 was copied, but the analyzer did not "
                                              "confirm its deletion; no further records were "
                                              "deleted from the analyzer.")
                                   .arg(number);
            deleteOnAnalyzer = false;
            continue;
        }
        report.deleted << number;
        // The analyzer moves its later records down by one.
        for (ImportedRecord& other : entries)
            if (other.number > number) --other.number;
    }
    if (progress) progress(total, total);
    return report;
}

void ImportMerge::FinishRecords(MergeReport& report) {
    if (m_index.DataFolder().isEmpty()) return;
    m_settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"), QStringLiteral("1"));
    report.rebuild = m_index.Rebuild(RecordIndex::RebuildKind::Import);
}

MergeReport ImportMerge::MergeTemplates(QList<ImportedTemplate>& entries) {
    MergeReport report;
    const QString folder = m_templates.DataFolder();
    if (folder.isEmpty()) {
        report.problems << kInvalidPath;
        return report;
    }
    MakeFolderChain(folder);
    for (int i = 0; i < entries.size();) {
        const ImportedTemplate& e = entries[i];
        if (!e.checked) {
            ++i;
            continue;
        }
        // A name the analyzer sent may hold anything; the file name keeps
        // only what a file name may hold.
        QString fileName;
        QString safe = e.name.isEmpty()
                           ? QString()
                           : safename::Name(QStringLiteral("RXt_"), e.name, QStringLiteral(".p8t"))
                                 .chopped(4)
                                 .mid(4);
        // "." and ".." are names like any other to the analyzer, only not as
        // a file name of their own.
        if (safe == QLatin1String(".") || safe == QLatin1String(".."))
            safe = safename::Name({}, e.name, {});
        if (!m_templates.MakeTemplateFileName(safe, fileName)) {
            report.problems
                << QStringLiteral("Template %1 (\"%2\") was skipped.").arg(e.number).arg(e.name);
            entries.removeAt(i);
            continue;
        }
        QByteArray bytes;
        QString error;
        Template t;
        if (!checkedfile::Read(e.stagedPath, bytes, &error) ||
            !templatefile::Decode(bytes, t, &error) ||
            !checkedfile::Write(m_templates.TemplateFilePath(fileName), bytes, &error)) {
            report.problems
                << QStringLiteral("Template %1 was not copied: %2").arg(e.number).arg(error);
            ++i;
            continue;
        }
        report.files << fileName;
        entries.removeAt(i);
    }
    m_settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"), QStringLiteral("1"));
    report.rebuild = m_templates.RebuildTemplateIndex(TemplateStore::RebuildKind::Import);
    return report;
}
