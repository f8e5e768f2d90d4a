#pragma once

#include "RecordIndex.h"

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <atomic>
#include <thread>

// The record browser on a server holding a million rows shows the first
// rows at once and takes the rest from here: a thread of its own, with its
// own connection to the server, reads them in pieces in table order and
// hands each piece to the UI thread. Destroying the loader stops it.
class ServerRowsLoader : public QObject {
    Q_OBJECT
public:
    // Rows whose rowid is greater than after, at most limit of them (0: all),
    // in table order; last is the rowid of the last one read.
    static bool Fetch(QSqlDatabase db, qint64 after, int limit, QList<RecordListRow>& rows,
                      qint64& last, QSqlError& error);

    // Reads the rows after `after` through a copy of the named connection.
    ServerRowsLoader(const QString& connectionName, qint64 after, QObject* parent = nullptr);
    ~ServerRowsLoader() override;
    ServerRowsLoader(const ServerRowsLoader&) = delete;
    ServerRowsLoader& operator=(const ServerRowsLoader&) = delete;

    bool IsFinished() const { return m_finished; }

Q_SIGNALS:
    // About how many rows are coming, before the first of them.
    void Expecting(int rows);
    void RowsArrived(const QList<RecordListRow>& rows);
    // Empty error: every row was read.
    void Finished(const QString& error);

private:
    void Read(QString connectionName, qint64 after);

    std::atomic<bool> m_stop{false};
    bool m_finished = false; // UI thread only
    std::thread m_thread;
};
