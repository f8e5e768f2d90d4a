#pragma once

#include <QSqlDatabase>
#include <QString>

#include <cstdint>
#include <memory>

// One connection to one database: a file holding an SQLite database, or a
// PostgreSQL server. For a file the connection string keeps the form the
// stores have always used ("Provider=...; Data Source=<path>"), only the data
// source is read from it; a server is named by its URI
// ("postgresql://user@host:5432/dbname"). A password comes from libpq's own
// sources (PGPASSFILE, ~/.pgpass, PGPASSWORD), never from this program.
// No operation throws or shows a message: failures return false and leave
// the last error text and code behind.
class CADODatabase {
public:
    CADODatabase();
    virtual ~CADODatabase();
    CADODatabase(const CADODatabase&) = delete;
    CADODatabase& operator=(const CADODatabase&) = delete;

    // Closes first when open; a non-empty connection string replaces the
    // stored one. A missing file is an error (it is never created here).
    bool Open(const QString& connection = {}, const QString& user = {},
              const QString& password = {});
    // As Open, then closes again whatever the outcome.
    bool CanOpen(const QString& connection = {}, const QString& user = {},
                 const QString& password = {});
    bool IsOpen() const;
    void Close();

    // Transactions, for batches of writes (one fsync instead of one per row).
    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    bool InTransaction() const { return m_inTransaction; }

    QString GetConnectionString() const { return m_connection; }
    QString GetLastErrorString() const { return m_lastErrorText; }
    uint32_t GetLastError() const { return m_lastError; }
    int GetConnectionTimeout() const { return m_connectionTimeout; }
    // The file named by the connection string.
    QString DataSource() const;
    // The connection string names a PostgreSQL server.
    bool IsServer() const { return IsServerUri(m_connection); }
    static bool IsServerUri(const QString& connection);
    // The server URI without any password in it, for messages and the
    // settings dialog.
    static QString DisplayUri(const QString& uri);
    // True while the server still answers (a trivial statement); files are
    // always reachable once open.
    bool Ping();
    // The last call under a ServerCallLimit ran out of time: the connection
    // was cut and is of no further use.
    bool LastCallTimedOut() const { return m_timedOut; }

    // "Provider=Microsoft.ACE.OLEDB.12.0; Data Source=<path>"
    static QString ConnectionStringFor(const QString& path);
    static QString DataSourceOf(const QString& connection);

    // The Qt connection; valid (and open) only while IsOpen().
    QSqlDatabase Connection() const;
    QString ConnectionName() const { return m_name; }

    // Records an error in the connection format (also used by the stores'
    // helpers that work on the connection directly).
    void RecordError(uint32_t code, const QString& meaning, const QString& source,
                     const QString& description);

private:
    bool OpenConnection();
    bool OpenServer();
    QString DriverName() const;

    QString m_name; // Qt connection name, unique per object
    QString m_connection;
    QString m_lastErrorText;
    uint32_t m_lastError = 0;
    int m_connectionTimeout = 0;
    bool m_open = false;
    bool m_inTransaction = false;
    bool m_timedOut = false;

    friend class ServerCallLimit;
};

// A limit of the program's own on the server calls made while it lives. A
// server that stopped answering (frozen, or its network gone) leaves the
// socket open and the call waiting for ever; when the limit runs out the
// connection's socket is shut down, so the call returns with an error. Does
// nothing for files or a closed connection.
class ServerCallLimit {
public:
    static constexpr int kDefaultMs = 4000;
    // A call that runs out of time leaves its error in db and marks it
    // LastCallTimedOut.
    explicit ServerCallLimit(CADODatabase& db, int ms = kDefaultMs);
    // On a connection of a worker's own.
    ServerCallLimit(const QSqlDatabase& db, int ms);
    ~ServerCallLimit();
    ServerCallLimit(const ServerCallLimit&) = delete;
    ServerCallLimit& operator=(const ServerCallLimit&) = delete;

    // The limit ran out and the connection was cut.
    bool Expired() const;

private:
    void Arm(const QSqlDatabase& db);
    struct Watch;
    CADODatabase* m_db = nullptr;
    int m_ms;
    std::unique_ptr<Watch> m_watch;
};

// Error codes this layer produces besides the engine's own (which are
// 0x80040000 | the SQLite result code).
namespace adoerr {
constexpr uint32_t kFileNotFound = 0x80030002;    // STG_E_FILENOTFOUND
constexpr uint32_t kItemNotFound = 0x800A0CC1;    // no such column
constexpr uint32_t kNoCurrentRecord = 0x800A0BCD; // BOF or EOF, or the row was deleted
constexpr uint32_t kObjectClosed = 0x800A0E78;
constexpr uint32_t kBadArgument = 0x800A0BB9;   // wrong type or out of range
constexpr uint32_t kNoEditPending = 0x800A0C93; // Update/CancelUpdate with nothing pending
constexpr uint32_t kEngineBase = 0x80040000;

// Meaning of a code: the known texts above, "IDispatch error #%d" for other
// interface codes from 0x0200 up, otherwise "Unknown error 0x%0lX".
QString CodeMeaning(uint32_t code);
// Code of a Qt SQL error (engine base | SQLite's result code).
uint32_t CodeOf(const class QSqlError& error);
} // namespace adoerr
