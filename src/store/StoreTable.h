#pragma once

#include "AdoDatabase.h"
#include "AdoRecordset.h"
#include "StoreSchema.h"

#include <QList>

#include <memory>

class AppSettings;

// The connection and the table cursor one store keeps open, and the opening
// rule both stores share: test the file, restore it from the seed when it is
// missing, open the connection and the table.
class StoreTable {
public:
    explicit StoreTable(store::DbKind kind) : m_kind(kind) {}
    ~StoreTable() { Close(); }

    // dataFolder holds the database; seedFolder the pristine copy. A missing
    // database is restored from the seed (never over an existing file, so a
    // damaged one stays for inspection); without a seed the empty table is
    // created in place.
    bool Open(const QString& dataFolder, const QString& seedFolder);
    // Open as a store does it: on the settings' server, else in the data
    // folder of the settings (or dataFolder when not empty), seeded from the
    // working directory (or seedFolder when not empty). A database file is
    // never made where the data folder is not (yet).
    bool OpenFor(const AppSettings& settings, const QString& dataFolder, const QString& seedFolder);
    static QString DataFolderOf(const AppSettings& settings, const QString& dataFolder);
    static QString SeedFolderOf(const AppSettings& settings, const QString& seedFolder);
    // A PostgreSQL server URI replaces the database file (empty: the file in
    // the data folder). Takes effect at the next Open.
    void SetServer(const QString& uri) { m_server = uri.trimmed(); }
    QString Server() const { return m_server; }
    bool OnServer() const { return !m_server.isEmpty(); }
    void Close();
    // Closes and keeps why the table may not open (a data folder that is
    // missing or not mounted), which LastError then gives.
    void RefuseOpen(const QString& why) {
        Close();
        m_openError = why;
    }
    // The connection counts too: a server's may have been cut for not answering.
    bool IsOpen() const { return m_rs && m_rs->IsOpen() && m_db.IsOpen(); }

    CADODatabase& Database() { return m_db; }
    // Null until the first successful connection.
    CADORecordset* Recordset() { return m_rs.get(); }
    QString DatabasePath() const { return m_path; }
    QString LastError() const;
    // The last Open failed only because another program held the database
    // locked (busy), not because the file or folder is unusable.
    bool LastOpenWasBusy() const { return m_busy; }

    // The table holds rows: not merely a cursor left before the first row,
    // since every operation places the cursor itself.
    bool HoldsRows() { return m_rs && m_rs->IsOpen() && !(m_rs->IsBof() && m_rs->IsEof()); }
    // Every row, read by read(rs, row) from the first on. False when the
    // table holds none or fewer than it counted.
    template <class Row, class Read> bool ReadEveryRow(QList<Row>& rows, Read read);
    // Deletes the first row whose column holds value.
    bool DeleteFirst(const QString& column, const QString& value);

private:
    bool OpenTable(const QString& dataFolder, const QString& seedFolder);
    bool OpenServerTable();
    bool OpenCursor();

    store::DbKind m_kind;
    CADODatabase m_db;
    std::unique_ptr<CADORecordset> m_rs; // destroyed before m_db
    QString m_path;
    QString m_server;
    QString m_openError;
    bool m_busy = false;
};

template <class Row, class Read> bool StoreTable::ReadEveryRow(QList<Row>& rows, Read read) {
    if (!HoldsRows()) return false;
    const int count = m_rs->GetRecordCount();
    if (count == 0) return false;
    rows.reserve(count);
    m_rs->MoveFirst();
    for (int i = 0; i < count; ++i) {
        if (m_rs->IsEof()) return false; // the count was too high
        Row r;
        read(*m_rs, r);
        rows.append(r);
        m_rs->MoveNext();
    }
    return true;
}
