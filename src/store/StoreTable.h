#pragma once

#include "AdoDatabase.h"
#include "AdoRecordset.h"
#include "StoreSchema.h"

#include <memory>

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
