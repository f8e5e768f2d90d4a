#pragma once

#include "StoreSchema.h"

#include <QString>

#include <memory>

class CADORecordset;
class StoreTable;

// A rebuild writes its rows into a temporary table of its own connection and
// swaps them in with one short transaction. SQLite keeps temporary tables in
// a file of its own (a server in the session), so while the record files are
// read the index stays open to every other program sharing it; the swap either replaces
// every row or leaves the index as it was. Rows that other programs added
// while the rebuild ran are kept, unless the rebuild made a row for the same
// file.
class RebuildAside {
public:
    RebuildAside(StoreTable& table, store::DbKind kind);
    ~RebuildAside();
    RebuildAside(const RebuildAside&) = delete;
    RebuildAside& operator=(const RebuildAside&) = delete;

    // Creates the side table and notes which rows the index holds now.
    bool Begin();
    // The cursor over the side table, for the rebuilt rows.
    CADORecordset* Rows() { return m_rows.get(); }
    // Replaces the index rows by the side rows; on failure the index keeps
    // its rows. The store's own cursor is read again either way.
    bool SwapIn();
    QString LastError() const { return m_error; }

private:
    bool Exec(const QString& sql);
    bool SwapInOnServer(const QString& table, const QString& cols);
    // Ends a failed swap's transaction, keeping the error that failed it.
    void RollBack();
    void Drop();

    StoreTable& m_table;
    store::DbKind m_kind;
    std::unique_ptr<CADORecordset> m_rows;
    QString m_error;
};
