#include "RebuildAside.h"

#include "AdoRecordset.h"
#include "StoreTable.h"
#include "StoreTrace.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString kRows = QStringLiteral("rx_rebuild_rows");
const QString kSeen = QStringLiteral("rx_rebuild_seen");
const QString kLate = QStringLiteral("rx_rebuild_late");

QString Quote(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
} // namespace

RebuildAside::RebuildAside(StoreTable& table, store::DbKind kind) : m_table(table), m_kind(kind) {}

RebuildAside::~RebuildAside() {
    Drop();
}

bool RebuildAside::Exec(const QString& sql) {
    CADODatabase& db = m_table.Database();
    QSqlQuery q(db.Connection());
    if (q.exec(sql)) return true;
    const QSqlError e = q.lastError();
    db.RecordError(adoerr::CodeOf(e), e.driverText(),
                   db.IsServer() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
                   e.databaseText());
    m_error = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    qCDebug(lcStore) << "\nRebuildAside -: failure" << sql << m_error;
    return false;
}

void RebuildAside::Drop() {
    CADODatabase& db = m_table.Database();
    if (m_rows) {
        m_rows->Close();
        m_rows.reset();
    }
    if (!db.IsOpen()) return;
    if (db.InTransaction()) db.RollbackTrans();
    QSqlQuery q(db.Connection());
    const QString schema = db.IsServer() ? QStringLiteral("pg_temp") : QStringLiteral("temp");
    for (const QString& t : {kRows, kSeen, kLate})
        q.exec(QStringLiteral("DROP TABLE IF EXISTS %1.%2").arg(schema, Quote(t)));
}

bool RebuildAside::Begin() {
    CADODatabase& db = m_table.Database();
    if (!db.IsOpen()) {
        m_error = QStringLiteral("the index is not open");
        return false;
    }
    Drop();
    const bool server = db.IsServer();
    const QString table = Quote(store::TableName(m_kind));
    if (!Exec(QStringLiteral("CREATE TEMP TABLE %1 (%2)")
                  .arg(Quote(kRows), store::ColumnDeclarations(m_kind, server))) ||
        !Exec(QStringLiteral("CREATE TEMP TABLE %1 AS SELECT rowid AS id FROM %2%3")
                  .arg(Quote(kSeen), server ? QString() : QStringLiteral("main."), table)))
        return false;
    if (server && !Exec(QStringLiteral("CREATE INDEX ON %1 (id)").arg(Quote(kSeen)))) return false;
    m_rows = std::make_unique<CADORecordset>(&db);
    if (!m_rows->Open(kRows, CADORecordset::openTable)) {
        m_error = m_rows->GetLastErrorString();
        return false;
    }
    // One transaction for the side rows: it touches only the temporary file.
    db.BeginTrans();
    return true;
}

bool RebuildAside::SwapIn() {
    CADODatabase& db = m_table.Database();
    if (!m_rows || !db.IsOpen()) {
        if (m_error.isEmpty()) m_error = QStringLiteral("the index is not open");
        return false;
    }
    if (db.InTransaction() && !db.CommitTrans()) {
        m_error = db.GetLastErrorString();
        return false;
    }
    const QString table = Quote(store::TableName(m_kind));
    QStringList names;
    for (const store::ColumnDef& c : store::Columns(m_kind)) names << Quote(QLatin1String(c.name));
    const QString cols = names.join(QStringLiteral(", "));
    const QString file = Quote(QStringLiteral("Filename"));
    bool ok = false;
    if (db.IsServer()) {
        ok = SwapInOnServer(table, cols);
    } else if ((ok = Exec(QStringLiteral("BEGIN IMMEDIATE")))) {
        // The write lock is taken at once, so the swap cannot meet another
        // writer half way; the busy time-out waits for one that holds it now.
        ok =
            Exec(QStringLiteral("CREATE TEMP TABLE %1 AS SELECT %2 FROM main.%3 WHERE rowid NOT IN "
                                "(SELECT id FROM temp.%4) AND ifnull(%5, '') NOT IN (SELECT "
                                "ifnull(%5, '') FROM temp.%6) ORDER BY rowid")
                     .arg(Quote(kLate), cols, table, Quote(kSeen), file, Quote(kRows))) &&
            Exec(QStringLiteral("DELETE FROM main.%1").arg(table)) &&
            Exec(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM temp.%3 ORDER BY rowid")
                     .arg(table, cols, Quote(kRows))) &&
            Exec(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM temp.%3 ORDER BY rowid")
                     .arg(table, cols, Quote(kLate))) &&
            Exec(QStringLiteral("COMMIT"));
        if (!ok) RollBack();
    }
    // The store's cursor shows what the table holds now.
    if (CADORecordset* rs = m_table.Recordset())
        rs->Open(store::TableName(m_kind), CADORecordset::openTable);
    Drop();
    return ok;
}

bool RebuildAside::SwapInOnServer(const QString& table, const QString& cols) {
    const QString file = Quote(QStringLiteral("Filename"));
    // One transaction. Readers keep reading the old rows until it commits
    // and never wait for it; the lock only holds back other writers (rows
    // they add meanwhile follow the swap) and a second rebuild.
    bool ok =
        Exec(QStringLiteral("BEGIN")) &&
        Exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(table)) &&
        Exec(
            QStringLiteral(
                "CREATE TEMP TABLE %1 AS SELECT rowid AS late_order, %2 FROM %3 t WHERE NOT EXISTS "
                "(SELECT 1 FROM %4 s WHERE s.id = t.rowid) AND NOT EXISTS (SELECT 1 FROM %5 r "
                "WHERE coalesce(r.%6, '') = coalesce(t.%6, ''))")
                .arg(Quote(kLate), cols, table, Quote(kSeen), Quote(kRows), file)) &&
        Exec(QStringLiteral("DELETE FROM %1").arg(table)) &&
        Exec(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 ORDER BY rowid")
                 .arg(table, cols, Quote(kRows))) &&
        Exec(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 ORDER BY late_order")
                 .arg(table, cols, Quote(kLate))) &&
        Exec(QStringLiteral("COMMIT"));
    if (!ok) RollBack();
    return ok;
}

void RebuildAside::RollBack() {
    // The statement that failed says why, not the roll-back.
    const QString error = m_error;
    QSqlQuery(m_table.Database().Connection()).exec(QStringLiteral("ROLLBACK"));
    m_error = error;
}
