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
    out.ticksPerSecond = doc.TicksPerSecond;
    out.controlNumber = doc.ControlNumber;
    out.testType = doc.TestType;
    out.channel = doc.ChannelNo + 1;
    out.analyzer = (doc.InstModel + QLatin1Char(' ') + doc.InstSerialNum).trimmed();
    out.started = (doc.StartDate + QLatin1Char(' ') + doc.StartTime).trimmed();
    return true;
}

// The record's own name, or the same with "_<n>" before the extension when a
// file of that name is already there: a recovery never overwrites a record.
QString FreeName(const QDir& folder, const QString& name) {
    if (!QFileInfo::exists(folder.filePath(name))) return name;
    const QString stem = name.left(name.size() - 4);
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = stem + QStringLiteral("_%1.p8d").arg(n);
        if (!QFileInfo::exists(folder.filePath(candidate))) return candidate;
    }
    return {};
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
    const QString free = FreeName(folder, name);
    QString error;
    if (free.isEmpty() || !doc.WriteRecordFile(folder.filePath(free), &error)) {
        out.error = QStringLiteral("The record could not be written to %1: %2")
                        .arg(QDir::toNativeSeparators(folder.filePath(name)), error);
        return out;
    }
    out.record = folder.filePath(free);
    if (index) {
        if (!index->IsOpen()) index->Open();
        out.indexed = index->IsOpen() && index->IndexRecord(doc, free);
        if (!out.indexed)
            qCDebug(lcTrace) << "RecoverJournal - not indexed:" << free << index->LastError();
    }
    QFile::remove(journalPath);
    return out;
}
