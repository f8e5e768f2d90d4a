#include "StoreTable.h"

#include "StoreRebuild.h"

#include "StoreTrace.h"
#include "base/AppSettings.h"
#include "base/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

namespace {
// SQLITE_BUSY and SQLITE_LOCKED, also in their extended forms.
bool IsBusyCode(uint32_t code) {
    if ((code & 0xFFFF0000u) != adoerr::kEngineBase) return false;
    const uint32_t primary = code & 0xFF;
    return primary == 5 || primary == 6;
}
} // namespace

bool StoreTable::Open(const QString& dataFolder, const QString& seedFolder) {
    m_busy = false;
    m_openError.clear();
    const bool ok = OpenTable(dataFolder, seedFolder);
    if (!ok)
        m_busy =
            IsBusyCode(m_rs && m_rs->GetLastError() ? m_rs->GetLastError() : m_db.GetLastError());
    return ok;
}

QString StoreTable::DataFolderOf(const AppSettings& settings, const QString& dataFolder) {
    return dataFolder.isEmpty() ? settings.GetDataPath() : dataFolder;
}

QString StoreTable::SeedFolderOf(const AppSettings& settings, const QString& seedFolder) {
    return seedFolder.isEmpty() ? settings.WorkingDir() : seedFolder;
}

bool StoreTable::OpenFor(const AppSettings& settings, const QString& dataFolder,
                         const QString& seedFolder) {
    SetServer(settings.IndexServer());
    if (!OnServer()) {
        const QString problem = DataFolderProblem(settings, dataFolder);
        if (!problem.isEmpty()) {
            RefuseOpen(problem);
            return false;
        }
    }
    return Open(DataFolderOf(settings, dataFolder), SeedFolderOf(settings, seedFolder));
}

bool StoreTable::DeleteFirst(const QString& column, const QString& value) {
    if (!HoldsRows()) return false;
    m_rs->MoveFirst();
    if (!m_rs->Find(CADORecordset::Criterion(column, value), CADORecordset::searchForward))
        return false;
    return m_rs->Delete();
}

bool StoreTable::OpenTable(const QString& dataFolder, const QString& seedFolder) {
    if (m_rs) m_rs->Close();
    if (OnServer()) return OpenServerTable();
    if (dataFolder.trimmed().isEmpty()) {
        qCDebug(lcStore) << "\nStoreTable::Open - no data folder";
        m_db.Close();
        return false;
    }
    // The data folder is the user's to make: a missing one may be a share
    // that is not mounted, and an index made here would hide it.
    if (const QString problem = FolderProblem(dataFolder); !problem.isEmpty()) {
        qCDebug(lcStore) << "\nStoreTable::Open -" << problem;
        m_db.Close();
        m_openError = problem;
        return false;
    }
    m_path = QDir(dataFolder).filePath(store::DatabaseFileName(m_kind));
    const QString connection = CADODatabase::ConnectionStringFor(m_path);
    bool restored = false;
    if (!m_db.CanOpen(connection) && !QFile::exists(m_path)) {
        const QString seed = QDir(seedFolder).filePath(store::SeedFileName(m_kind));
        if (QFile::exists(seed) && QFile::copy(seed, m_path)) {
            // An installed seed may be read-only; its copy must not be.
            QFile::setPermissions(m_path, QFile::permissions(m_path) | QFile::ReadOwner |
                                              QFile::WriteOwner);
            restored = true;
        } else {
            qCDebug(lcStore) << "\nStoreTable::Open - no seed at" << seed << ", creating the table";
            restored = store::CreateEmptyDatabase(m_path, m_kind);
        }
    }
    Q_UNUSED(restored);
    if (!m_db.Open(connection)) return false;

    // A database without any table (an empty file, a seed that lacked it) is
    // given the table; a database with other tables is left alone.
    {
        QSqlQuery q(m_db.Connection());
        if (q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table'")) &&
            q.next() && q.value(0).toInt() == 0) {
            q.finish();
            store::CreateTables(m_db, m_kind);
        }
    }
    store::EnsureLookupIndex(m_db, m_kind);
    return OpenCursor();
}

bool StoreTable::OpenCursor() {
    m_rs.reset();
    m_rs = std::make_unique<CADORecordset>(&m_db);
    // A server's records index is asked directly; its cursor only adds rows.
    m_rs->SetAppendOnly(OnServer() && m_kind == store::DbKind::Records);
    return m_rs->Open(store::TableName(m_kind), CADORecordset::openTable);
}

bool StoreTable::OpenServerTable() {
    m_path = CADODatabase::DisplayUri(m_server);
    m_rs.reset(); // its statements belong to the connection about to close
    if (!m_db.Open(m_server)) return false;
    const ServerCallLimit limit(m_db);
    auto exists = [this](const QString& name) {
        QSqlQuery q(m_db.Connection());
        q.prepare(QStringLiteral("SELECT to_regclass(?) IS NOT NULL"));
        q.addBindValue(name);
        return q.exec() && q.next() && q.value(0).toBool();
    };
    const QString table = QLatin1Char('"') + store::TableName(m_kind) + QLatin1Char('"');
    // Created on first use. Two programs starting together may both try;
    // the one that loses finds the table made by the other.
    if (!exists(table) && !store::CreateTables(m_db, m_kind) && !exists(table)) return false;
    // Only created when missing: creating takes a lock that waits for writers.
    if (m_kind == store::DbKind::Records &&
        !exists(QStringLiteral("\"IX_RivuletrixRecords_ControlNumber\"")))
        store::EnsureLookupIndex(m_db, m_kind);
    return OpenCursor();
}

void StoreTable::Close() {
    if (m_rs) m_rs->Close();
    m_db.Close();
}

QString StoreTable::LastError() const {
    if (!m_openError.isEmpty()) return m_openError;
    if (m_rs && !m_rs->GetLastErrorString().isEmpty()) return m_rs->GetLastErrorString();
    return m_db.GetLastErrorString();
}

QStringList store::ListDataFiles(const QDir& dir, const QString& pattern) {
    QStringList out;
    const QFileInfoList entries =
        dir.entryInfoList({pattern}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& fi : entries)
        if ((fi.isSymLink() && !fi.exists()) || (fi.isFile() && !fi.isSymLink()) ||
            (fi.isSymLink() && QFileInfo(fi.symLinkTarget()).isFile()))
            out << fi.fileName();
    return out;
}

QString store::UnreadableSummary(const QStringList& files) {
    if (files.isEmpty()) return {};
    QString names = files.mid(0, 5).join(QStringLiteral(", "));
    if (files.size() > 5) names += QStringLiteral(", ...");
    return QStringLiteral("%1 could not be read: %2").arg(files.size()).arg(names);
}
