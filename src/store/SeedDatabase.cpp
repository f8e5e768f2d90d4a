#include "AdoDatabase.h"
#include "StoreSchema.h"
#include "StoreTrace.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

namespace store {

namespace {
QString Quote(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

const char* const kLookupIndex = "IX_RivuletrixRecords_ControlNumber";

bool Exec(CADODatabase& db, const QString& sql) {
    QSqlQuery q(db.Connection());
    if (q.exec(sql)) return true;
    const QSqlError e = q.lastError();
    db.RecordError(adoerr::CodeOf(e), e.driverText(), QStringLiteral("QSQLITE"), e.databaseText());
    return false;
}
} // namespace

QString DatabaseFileName(DbKind kind) {
    return kind == DbKind::Records ? QStringLiteral("RX_Records.accdb")
                                   : QStringLiteral("RX_Templates.accdb");
}

QString SeedFileName(DbKind kind) {
    return kind == DbKind::Records ? QStringLiteral("RX_Records.bak")
                                   : QStringLiteral("RX_Templates.bak");
}

QString TableName(DbKind kind) {
    return kind == DbKind::Records ? QStringLiteral("RivuletrixRecords")
                                   : QStringLiteral("RXTemplates");
}

const QList<ColumnDef>& Columns(DbKind kind) {
    static const QList<ColumnDef> records = {
        {"ControlNumber", "TEXT"}, {"TypeofTest", "TEXT"},       {"StartDate", "TEXT"},
        {"StartTime", "TEXT"},     {"DateTime", "DATETIME"},     {"Filename", "TEXT"},
        {"Operator", "TEXT"},      {"Manufacture", "TEXT"},      {"Model", "TEXT"},
        {"SerialNumber", "TEXT"},  {"Location", "TEXT"},         {"Comments", "TEXT"},
        {"ChannelNo", "SMALLINT"}, {"TdSerialNum", "TEXT"},      {"TdVersion", "TEXT"},
        {"InstSerialNum", "TEXT"}, {"InstVersion", "TEXT"},      {"InstModel", "TEXT"},
        {"InstManuf", "TEXT"},     {"InstDesc", "TEXT"},         {"SetPcaTime", "TEXT"},
        {"RepHeader1", "TEXT"},    {"RepHeader2", "TEXT"},       {"RepHeader3", "TEXT"},
        {"Tolerance", "SMALLINT"}, {"DeviceType", "TEXT"},       {"SetFlowRate", "TEXT"},
        {"SetVolume", "TEXT"},     {"SetBasalFlowRate", "TEXT"}, {"SetPcaVolume", "TEXT"},
    };
    static const QList<ColumnDef> templates = {
        {"TemplateName", "TEXT"},    {"Inst SerialNumber", "TEXT"}, {"Device Comments", "TEXT"},
        {"No of Steps", "SMALLINT"}, {"Filename", "TEXT"},
    };
    return kind == DbKind::Records ? records : templates;
}

QStringList ColumnNames(DbKind kind) {
    QStringList names;
    for (const ColumnDef& c : Columns(kind)) names << QLatin1String(c.name);
    return names;
}

bool EnsureLookupIndex(CADODatabase& db, DbKind kind) {
    if (kind != DbKind::Records) return true;
    QSqlQuery q(db.Connection());
    q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='index' AND name=?"));
    q.addBindValue(QLatin1String(kLookupIndex));
    if (q.exec() && q.next() && q.value(0).toInt() > 0) return true;
    q.finish();
    // Only written when missing, so a read-only share still opens.
    return Exec(db, QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                        .arg(Quote(QLatin1String(kLookupIndex)), Quote(TableName(kind)),
                             Quote(QStringLiteral("ControlNumber"))));
}

bool CreateTables(CADODatabase& db, DbKind kind) {
    QStringList cols;
    for (const ColumnDef& c : Columns(kind))
        cols << Quote(QLatin1String(c.name)) + QLatin1Char(' ') + QLatin1String(c.type);
    if (!Exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                      .arg(Quote(TableName(kind)), cols.join(QStringLiteral(", ")))))
        return false;
    return EnsureLookupIndex(db, kind);
}

bool CreateEmptyDatabase(const QString& path, DbKind kind, QString* error) {
    if (QFileInfo::exists(path)) {
        if (error) *error = QStringLiteral("%1 exists already").arg(path);
        return false;
    }
    // SQLite creates the file on the first write; an empty file is a valid
    // empty database for it.
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) {
            if (error) *error = f.errorString();
            return false;
        }
    }
    CADODatabase db;
    bool ok = db.Open(CADODatabase::ConnectionStringFor(path)) && CreateTables(db, kind);
    if (!ok && error) *error = db.GetLastErrorString();
    db.Close();
    if (!ok) QFile::remove(path);
    return ok;
}

} // namespace store
