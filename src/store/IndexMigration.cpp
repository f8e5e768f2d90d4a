#include "IndexMigration.h"

#include "AdoDatabase.h"
#include "AdoRecordset.h"
#include "StoreTable.h"

#include "base/AppSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace store {

namespace {
// Copies every row of the file's table into the server's; returns the rows
// copied, or -1 with error set.
int CopyTable(const QString& file, StoreTable& target, DbKind kind, bool append, QString* error) {
    CADODatabase source;
    if (!source.Open(CADODatabase::ConnectionStringFor(file))) {
        *error = QStringLiteral("cannot open %1: %2").arg(file, source.GetLastErrorString());
        return -1;
    }
    CADORecordset from(&source);
    if (!from.Open(TableName(kind), CADORecordset::openTable)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file, from.GetLastErrorString());
        return -1;
    }
    CADORecordset* to = target.Recordset();
    QSqlQuery count(target.Database().Connection());
    if (!count.exec(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(TableName(kind))) ||
        !count.next()) {
        *error = count.lastError().text();
        return -1;
    }
    const qint64 held = count.value(0).toLongLong();
    count.finish();
    if (!append && held > 0) {
        *error = QStringLiteral("the server's table %1 holds %2 rows already; nothing was copied "
                                "(use --append to add the rows after them)")
                     .arg(TableName(kind))
                     .arg(held);
        return -1;
    }
    const QList<ColumnDef>& columns = Columns(kind);
    CADODatabase& db = target.Database();
    if (!db.BeginTrans()) {
        *error = db.GetLastErrorString();
        return -1;
    }
    int copied = 0;
    bool ok = true;
    // The source cursor reads every stored form of a date and gives it as
    // one text; the target takes texts for every column.
    for (from.MoveFirst(); ok && !from.IsEof(); from.MoveNext()) {
        ok = to->AddNew();
        for (const ColumnDef& c : columns) {
            if (!ok) break;
            const QString name = QLatin1String(c.name);
            QString value;
            if (!from.Columns().contains(name)) continue; // an older file without the column
            from.GetFieldValue(name, value);
            ok = to->PutFieldValue(name, value);
        }
        if (ok) ok = to->Update();
        if (ok) ++copied;
    }
    if (!ok) {
        *error = QStringLiteral("row %1 of %2 could not be copied: %3")
                     .arg(copied + 1)
                     .arg(file, to->GetLastErrorString());
        to->CancelUpdate();
        db.RollbackTrans();
        return -1;
    }
    if (!db.CommitTrans()) {
        *error = db.GetLastErrorString();
        return -1;
    }
    return copied;
}
} // namespace

MigrationResult MigrateToServer(const AppSettings& settings, const QString& dataFolder,
                                bool append) {
    MigrationResult r;
    const QString server = settings.IndexServer();
    if (server.isEmpty()) {
        r.error = QStringLiteral("the settings name no index server (IndexServer= in "
                                 "[Default Parameters])");
        return r;
    }
    for (DbKind kind : {DbKind::Records, DbKind::Templates}) {
        const QString file = QDir(dataFolder).filePath(DatabaseFileName(kind));
        if (!QFileInfo(file).isFile()) continue; // nothing to copy of this one
        StoreTable target(kind);
        target.SetServer(server);
        if (!target.Open({}, {})) {
            r.error = target.LastError();
            return r;
        }
        const int n = CopyTable(file, target, kind, append, &r.error);
        if (n < 0) return r;
        (kind == DbKind::Records ? r.records : r.templates) = n;
    }
    r.ok = true;
    return r;
}

} // namespace store
