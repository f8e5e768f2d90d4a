#pragma once

#include <QString>
#include <QStringList>

class CADODatabase;

// The two index databases: file names, seed names, tables and columns.
namespace store {

enum class DbKind { Records, Templates };

struct ColumnDef {
    const char* name;
    const char* type; // declared type: TEXT, SMALLINT (16-bit) or DATETIME
};

QString DatabaseFileName(DbKind kind); // "RX_Records.accdb", "RX_Templates.accdb"
QString SeedFileName(DbKind kind);     // "RX_Records.bak", "RX_Templates.bak"
QString TableName(DbKind kind);        // "RivuletrixRecords", "RXTemplates"
// Columns in table order.
const QList<ColumnDef>& Columns(DbKind kind);
QStringList ColumnNames(DbKind kind);

// The column declarations of a CREATE TABLE, in table order. A server's
// table leads with its own row number column "rowid" (SQLite tables have
// one implicitly) and takes the server's names of the types.
QString ColumnDeclarations(DbKind kind, bool server);

// Creates the table (and its lookup index) when missing, on an open database.
bool CreateTables(CADODatabase& db, DbKind kind);
// Creates an index on the control number when it is missing (older files).
bool EnsureLookupIndex(CADODatabase& db, DbKind kind);
// Writes a new empty database with the table at path (replacing nothing: false
// when path exists).
bool CreateEmptyDatabase(const QString& path, DbKind kind, QString* error = nullptr);

} // namespace store
