#include "JournalRecovery.h"

#include "base/Trace.h"
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool Load(const QString& journalPath, CRivuletrixDoc& doc, JournalRecovery& out) {
    out.journal = journalPath;
    journal::Recovered info;
    QString error;
    if (!journal::ReadJournal(journalPath, doc, info, &error)) {
        out.error = error;
        return false;
    }
    out.samples = info.samples;
    out.lastTime = info.lastTime;
    out.tornTail = info.tornTail;
    out.missingSamples = info.missingSamples;
    out.damagedBytes = info.damagedBytes;
    out.ticksPerSecond = doc.TicksPerSecond;
    out.controlNumber = doc.ControlNumber;
    out.testType = doc.TestType;
    out.channel = doc.ChannelNo + 1;
    out.analyzer = (doc.InstModel + QLatin1Char(' ') + doc.InstSerialNum).trimmed();
    out.started = (doc.StartDate + QLatin1Char(' ') + doc.StartTime).trimmed();
    return true;
}

bool Empty(const Sample& s) {
    return s.time == 0 && s.volume == 0 && s.pressure == 0 && s.code == ' ';
}

// True when the record file at path is the journal's test with every sample
// the journal holds.
bool HoldsJournal(const QString& path, const CRivuletrixDoc& journalled) {
    CRivuletrixDoc saved;
    if (!saved.ReadRecordFile(path)) return false;
    if (saved.TestType != journalled.TestType || saved.ChannelNo != journalled.ChannelNo ||
        saved.ControlNumber != journalled.ControlNumber ||
        saved.TdSerialNum != journalled.TdSerialNum ||
        saved.InstSerialNum != journalled.InstSerialNum ||
        saved.StartDate != journalled.StartDate || saved.StartTime != journalled.StartTime)
        return false;
    const SampleArray& mine = journalled.Samples();
    const SampleArray& theirs = saved.Samples();
    // A record file numbers its lines from 1 with the live slot 0 first: live
    // slot i reads back at i + 1.
    for (size_t i = 1; i < mine.size(); ++i) {
        if (Empty(mine[i])) continue; // a slot lost to damage
        if (i + 1 >= theirs.size()) return false;
        const Sample& a = mine[i];
        const Sample& b = theirs[i + 1];
        if (a.time != b.time || a.volume != b.volume || a.pressure != b.pressure ||
            a.code != b.code)
            return false;
    }
    return true;
}

// The record's own name, or the same with "_<n>" before the extension when a
// file of that name is already there: a recovery never overwrites a record.
// A file of those names that already holds the journal's test is returned
// instead, with saved set.
QString RecordName(const QDir& folder, const QString& name, const CRivuletrixDoc& doc,
                   bool& saved) {
    const QString stem = name.left(name.size() - 4);
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? name : stem + QStringLiteral("_%1.p8d").arg(n);
        const QString path = folder.filePath(candidate);
        if (!QFileInfo::exists(path)) return candidate;
        if (HoldsJournal(path, doc)) {
            saved = true;
            return candidate;
        }
    }
    return {};
}

bool Indexed(RecordIndex& index, const QString& name) {
    QList<RecordListRow> rows;
    if (!index.ListRows(rows)) return false;
    for (const RecordListRow& row : rows)
        if (row.fileName.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

} // namespace

JournalRecovery InspectJournal(const QString& journalPath) {
    JournalRecovery out;
    CRivuletrixDoc doc;
    Load(journalPath, doc, out);
    out.inUse = journal::InUse(journalPath);
    return out;
}

bool DiscardJournal(const QString& journalPath, QString* error) {
    const journal::Claim claim(journalPath);
    if (!claim.Held()) {
        if (error)
            *error = journal::InUse(journalPath)
                         ? QStringLiteral("A running test still writes the journal.")
                         : QStringLiteral("The journal cannot be opened.");
        return false;
    }
    QFile file(journalPath);
    if (!file.remove()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

JournalRecovery RecoverJournal(const QString& journalPath, const QString& dataFolder,
                               RecordIndex* index) {
    JournalRecovery out;
    out.journal = journalPath;
    const journal::Claim claim(journalPath);
    // Another recovery that took the journal first leaves nothing to do.
    if (!QFileInfo::exists(journalPath)) {
        out.gone = true;
        return out;
    }
    if (!claim.Held()) {
        out.inUse = journal::InUse(journalPath);
        out.error = out.inUse ? QStringLiteral("A running test still writes the journal.")
                              : QStringLiteral("The journal cannot be opened.");
        return out;
    }
    CRivuletrixDoc doc;
    if (!Load(journalPath, doc, out)) return out;
    if (out.samples == 0) {
        out.error = QStringLiteral("The journal holds no samples.");
        return out;
    }
    const QString name = doc.MakeRecordFileName();
    if (name.isEmpty()) {
        out.error = QStringLiteral("The journal's test has no start time to name a record by.");
        return out;
    }
    const QDir folder(dataFolder);
    if (dataFolder.isEmpty() || !QDir().mkpath(dataFolder)) {
        out.error = QStringLiteral("The data folder \"%1\" cannot be created.")
                        .arg(QDir::toNativeSeparators(dataFolder));
        return out;
    }
    const QString chosen = RecordName(folder, name, doc, out.alreadySaved);
    QString error;
    if (chosen.isEmpty() ||
        (!out.alreadySaved && !doc.WriteRecordFile(folder.filePath(chosen), &error))) {
        out.error = QStringLiteral("The record could not be written to %1: %2")
                        .arg(QDir::toNativeSeparators(folder.filePath(name)), error);
        return out;
    }
    out.record = folder.filePath(chosen);
    if (index) {
        if (!index->IsOpen()) index->Open();
        if (index->IsOpen() && out.alreadySaved && Indexed(*index, chosen)) {
            out.indexed = true;
        } else {
            if (out.alreadySaved) doc.ReadRecordFile(out.record); // index what is on disk
            out.indexed = index->IsOpen() && index->IndexRecord(doc, chosen);
        }
        if (!out.indexed)
            qCDebug(lcTrace) << "RecoverJournal - not indexed:" << chosen << index->LastError();
    }
    if (out.missingSamples > 0 || out.damagedBytes > 0) {
        out.kept = QStringLiteral("The journal is kept: %1 damaged bytes of it could not be "
                                  "read (%2 samples missing before the last one).")
                       .arg(out.damagedBytes)
                       .arg(out.missingSamples);
        return out;
    }
    QFile file(journalPath);
    if (!file.remove())
        out.kept = QStringLiteral("The journal could not be removed: %1").arg(file.errorString());
    return out;
}
