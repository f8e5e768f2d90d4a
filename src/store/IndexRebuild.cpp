// Indexing records and rebuilding the index from the record files.
#include "RecordIndex.h"

#include "AdoRecordset.h"
#include "RebuildAside.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"

#include "base/Trace.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QSet>

#include <memory>
#include <utility>

namespace {

// A record file starts with its header lines ("H1,..."), a template record
// with its "N" line first. A file with no header line near its start is not
// a record, whatever its name.
bool HoldsRecordHeader(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray head = file.read(8192);
    for (qsizetype at = 0; at < head.size();) {
        qsizetype end = head.indexOf('\n', at);
        if (end < 0) end = head.size();
        qsizetype i = at + 1;
        if (head[at] == 'H') {
            while (i < end && head[i] >= '0' && head[i] <= '9') ++i;
            if (i > at + 1 && i < end && head[i] == ',') return true;
        }
        at = end + 1;
    }
    *error = QStringLiteral("The file is not a test record.");
    return false;
}

} // namespace

RecordIndexRow RecordIndex::MakeRow(CRivuletrixDoc& doc, const QString& fileName,
                                    const QString& deviceType) const {
    if (doc.ControlNumber.trimmed().isEmpty()) doc.ControlNumber = QStringLiteral("zzUNKNOWN");
    if (doc.DefaultTolerance < 0 || doc.DefaultTolerance > 50)
        doc.DefaultTolerance = m_settings.IntSetting(QStringLiteral("FlowTolerance"));
    doc.SetFlowRateText = QString::asprintf("%lf", doc.SetFlowRate);
    if (doc.SetVolume >= 0) doc.SetVolumeText = QString::asprintf("%lf", doc.SetVolume);
    doc.SetBasalFlowRateText = QString::asprintf("%lf", doc.SetBasalFlowRate);

    RecordIndexRow r;
    r.controlNumber = doc.ControlNumber;
    if (doc.TemplateSteps != 0)
        r.typeOfTest = QStringLiteral("T");
    else if (doc.TestType != '\0')
        r.typeOfTest = QString(QLatin1Char(doc.TestType));
    r.startDate = NormaliseStartDate(doc.StartDate);
    r.startTime = doc.StartTime;
    r.dateTime = ParseStartDateTime(doc.StartDate, doc.StartTime);
    r.fileName = fileName;
    r.operatorName = doc.Operator;
    r.manufacture = doc.Manufacture;
    r.model = doc.Model;
    r.serialNumber = doc.SerialNumber;
    r.location = doc.Location;
    r.comments = doc.Comments;
    r.channelNo = doc.ChannelNo;
    r.tdSerialNum = doc.TdSerialNum;
    r.tdVersion = doc.TdVersion;
    r.instSerialNum = doc.InstSerialNum;
    r.instVersion = doc.InstVersion;
    r.instModel = doc.InstModel;
    r.instManuf = doc.InstManuf;
    r.instDesc = doc.InstDesc;
    r.setPcaTime = doc.SetPcaTime;
    r.repHeader1 = doc.RepHeader1;
    r.repHeader2 = doc.RepHeader2;
    r.repHeader3 = doc.RepHeader3;
    r.tolerance = doc.DefaultTolerance;
    r.deviceType = deviceType;
    r.setFlowRate = doc.SetFlowRateText;
    r.setVolume = doc.SetVolume >= 0 ? doc.SetVolumeText : QString();
    r.setBasalFlowRate = doc.SetBasalFlowRateText;
    return r;
}

bool RecordIndex::IndexRecord(CRivuletrixDoc& doc, const QString& fileName,
                              const QString& deviceType) {
    if (!m_startupFinished) {
        m_queued = false;
        m_error.clear();
        return false;
    }
    return IndexRow(MakeRow(doc, fileName, deviceType));
}

bool RecordIndex::IndexRow(const RecordIndexRow& row) {
    m_queued = false;
    m_error.clear();
    if (!m_startupFinished) return false;
    // An index that was busy (or a server that did not answer) when it was
    // last opened is opened now.
    const bool opened = !IsOpen();
    if (opened) Open();
    if (AddRow(row)) {
        if (OnServer() && QFile::exists(QueuePath())) {
            Unqueue({row.fileName});
            AddQueuedRows();
        }
        return true;
    }
    // A server that still answers refused the row itself.
    if (!OnServer() || m_table.Database().Ping()) return false;
    // The server may have restarted since the connection was made: once
    // more on a new connection (which also adds the rows noted meanwhile).
    // A server just opened, or one that let the call run out of time, is
    // not waited for twice.
    if (!opened && !m_table.Database().LastCallTimedOut() && Open() && AddRow(row)) return true;
    const QString reason = ErrorDescription();
    m_queued = Queue(row.fileName, row.deviceType);
    m_error = m_queued
                  ? QStringLiteral("the index server %1 did not answer; the row will be "
                                   "added when it answers again or the index is "
                                   "rebuilt. %2")
                        .arg(m_table.DatabasePath(), reason)
                  : QStringLiteral("the index server %1 did not answer (%2), and the "
                                   "record could not be noted in %3 for later")
                        .arg(m_table.DatabasePath(), reason, QDir::toNativeSeparators(QueuePath()));
    return false;
}

QString RecordIndex::QueuePath() const {
    return QDir(DataFolder()).filePath(QStringLiteral("RX_Records.unindexed"));
}

namespace {
// Several programs may share the data folder, and so the list.
std::unique_ptr<QLockFile> LockQueue(const QString& path) {
    auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    lock->setStaleLockTime(30000);
    if (!lock->tryLock(10000)) return nullptr;
    return lock;
}

QList<QStringList> ReadQueue(const QString& path) {
    QList<QStringList> entries;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return entries;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty()) entries << text.split(QLatin1Char('\t'));
    }
    return entries;
}

bool WriteQueue(const QString& path, const QList<QStringList>& entries) {
    if (entries.isEmpty()) return !QFile::exists(path) || QFile::remove(path);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    for (const QStringList& e : entries)
        f.write((e.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
    return f.commit();
}
} // namespace

bool RecordIndex::Queue(const QString& fileName, const QString& deviceType) {
    const QString path = QueuePath();
    const auto lock = LockQueue(path);
    // Noted once: a save notes its file before the worker tries the row.
    for (const QStringList& e : ReadQueue(path))
        if (e.value(0) == fileName) return true;
    QFile f(path);
    // Tabs and line ends cannot be in a record file name; a device type is
    // typed by the user.
    QString type = deviceType;
    type.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray line = (fileName + QLatin1Char('\t') + type + QLatin1Char('\n')).toUtf8();
    if (f.open(QIODevice::Append) && f.write(line) == line.size() && f.flush()) return true;
    qCDebug(lcTrace) << "RecordIndex - cannot note" << fileName << "in" << path << f.errorString();
    return false;
}

QStringList RecordIndex::QueuedFiles() const {
    QStringList names;
    for (const QStringList& e : ReadQueue(QueuePath())) names << e.value(0);
    return names;
}

int RecordIndex::AddQueuedRows() {
    const QString path = QueuePath();
    if (!QFile::exists(path)) return 0;
    // The list is read under the lock and let go: the rows take a while, and
    // saves meanwhile note their files in it. A file offered twice (by two
    // programs catching up at once, or again after a crash cut a catch-up
    // short) still gets one row.
    QList<QStringList> entries;
    {
        const auto lock = LockQueue(path);
        if (!lock) return 0;
        entries = ReadQueue(path);
    }
    const int tolerance = m_settings.IntSetting(QStringLiteral("FlowTolerance"));
    const QDir dir(DataFolder());
    int added = 0;
    QStringList done;
    for (const QStringList& entry : std::as_const(entries)) {
        const QString file = entry.value(0);
        auto doc = std::make_unique<CRivuletrixDoc>();
        doc->DefaultTolerance = tolerance;
        QString error;
        if (doc->ReadRecordFile(dir.filePath(file), &error, /*keepSamples=*/false)) {
            if (!AddRow(MakeRow(*doc, file, entry.value(1)))) break;
            ++added;
        } else {
            qCDebug(lcTrace) << "RecordIndex - noted file" << file << "unreadable:" << error;
        }
        done << file;
    }
    Unqueue(done);
    return added;
}

void RecordIndex::Unqueue(const QStringList& names) {
    const QString path = QueuePath();
    if (names.isEmpty() || !QFile::exists(path)) return;
    const auto lock = LockQueue(path);
    if (!lock) return;
    const QSet<QString> made(names.begin(), names.end());
    QList<QStringList> entries = ReadQueue(path);
    entries.removeIf([&made](const QStringList& e) { return made.contains(e.value(0)); });
    WriteQueue(path, entries);
}

RebuildResult RecordIndex::Rebuild(RebuildKind kind, const RebuildCallbacks& cb) {
    RebuildResult result;
    if (kind == RebuildKind::Import) {
        if (!Open()) return result;
    } else if (!IsOpen()) {
        return result;
    }
    result.ran = true;
    // The rows are built aside and swapped in at the end: other programs
    // keep reading and adding rows meanwhile, and a rebuild that cannot
    // store its rows leaves the old ones whole.
    RebuildAside aside(m_table, store::DbKind::Records);
    if (!aside.Begin()) {
        result.error = aside.LastError();
        return result;
    }
    // A record read for its window takes the tolerance setting; so does its row.
    const int tolerance = m_settings.IntSetting(QStringLiteral("FlowTolerance"));

    QStringList patterns{QStringLiteral("*.p8d")};
    if (kind != RebuildKind::Import) patterns << QStringLiteral("*.p7d");
    const QDir dir(DataFolder());
    int rows = 0;
    QStringList listed;
    for (const QString& pattern : patterns) {
        const QStringList files = store::ListDataFiles(dir, pattern);
        listed << files;
        for (const QString& file : files) {
            if (cb.cancelRequested && cb.cancelRequested()) {
                result.cancelled = true;
                break;
            }
            ++result.filesProcessed;
            if (cb.onFile) cb.onFile(result.filesProcessed, file);
            auto doc = std::make_unique<CRivuletrixDoc>();
            doc->DefaultTolerance = tolerance;
            QString error;
            if (!doc->ReadRecordFile(dir.filePath(file), &error, /*keepSamples=*/false)) {
                result.unreadable << file;
                if (cb.onUnreadable) cb.onUnreadable(file, error);
                if (kind != RebuildKind::IndexBuild) continue;
                doc = std::make_unique<CRivuletrixDoc>(); // indexed as an empty record
                doc->DefaultTolerance = tolerance;
            } else if (!HoldsRecordHeader(dir.filePath(file), &error)) {
                // What is not a record gets no row: it would be listed as a
                // test of type "N" with a broken date.
                result.unreadable << file;
                if (cb.onUnreadable) cb.onUnreadable(file, error);
                continue;
            }
            if (m_startupFinished && AddRowTo(aside.Rows(), MakeRow(*doc, file))) ++rows;
        }
        if (result.cancelled) break;
    }
    // A cancelled rebuild leaves its side rows to be dropped with the side table.
    if (result.cancelled) return result;
    if (!aside.SwapIn()) {
        result.error = aside.LastError();
        return result;
    }
    result.stored = true;
    result.rowsAdded = rows;
    if (OnServer()) Unqueue(listed);
    return result;
}
