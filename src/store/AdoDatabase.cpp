#include "AdoDatabase.h"

#include "StoreTrace.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef RX_HAVE_LIBPQ
#include <libpq-fe.h>
#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif
#endif

Q_LOGGING_CATEGORY(lcStore, "rivuletrix.trace", QtInfoMsg)

namespace {
const QString kDriver = QStringLiteral("QSQLITE");
const QString kServerDriver = QStringLiteral("QPSQL");
// A server that does not answer is reported after a few seconds instead of
// leaving a save waiting on the network's own time-out.
const QString kServerTimeout = QStringLiteral("connect_timeout=4");
// A second writer (another workstation on a shared folder) holds the lock for
// a moment at most; wait for it instead of failing at once.
const QString kConnectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");

QString NextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("rx-ado-%1").arg(++counter);
}
} // namespace

namespace adoerr {
QString CodeMeaning(uint32_t code) {
    switch (code) {
    case kFileNotFound:
        return QStringLiteral("The system cannot find the file specified.");
    case kItemNotFound:
        return QStringLiteral(
            "Item cannot be found in the collection corresponding to the requested name or "
            "ordinal.");
    case kNoCurrentRecord:
        return QStringLiteral("Either BOF or EOF is True, or the current record has been "
                              "deleted. Requested operation requires a current record.");
    case kObjectClosed:
        return QStringLiteral("Operation is not allowed when the object is closed.");
    case kBadArgument:
        return QStringLiteral("Arguments are of the wrong type, are out of acceptable range, or "
                              "are in conflict with one another.");
    case kNoEditPending:
        return QStringLiteral("No edit is pending.");
    default:
        break;
    }
    const uint32_t facility = (code >> 16) & 0x1FFF;
    const uint32_t low = code & 0xFFFF;
    if (facility == 4 && low >= 0x0200)
        return QStringLiteral("IDispatch error #%1").arg(int(low) - 0x0200);
    return QStringLiteral("Unknown error 0x%1").arg(QString::number(code, 16).toUpper());
}

uint32_t CodeOf(const QSqlError& error) {
    bool ok = false;
    const uint32_t native = error.nativeErrorCode().toUInt(&ok);
    return kEngineBase | (ok ? (native & 0xFFFF) : 1u);
}
} // namespace adoerr

CADODatabase::CADODatabase() : m_name(NextConnectionName()) {
    QSqlDatabase::addDatabase(kDriver, m_name);
}

CADODatabase::~CADODatabase() {
    Close();
    QSqlDatabase::removeDatabase(m_name);
}

QString CADODatabase::ConnectionStringFor(const QString& path) {
    // A path holding ';' or '"', or blanks at either end, is quoted (quotes
    // doubled inside), as connection strings quote values; others stay plain.
    const bool quote = path.contains(QLatin1Char(';')) || path.contains(QLatin1Char('"')) ||
                       path != path.trimmed();
    const QString value =
        quote
            ? QLatin1Char('"') + QString(path).replace(QLatin1String("\""), QLatin1String("\"\"")) +
                  QLatin1Char('"')
            : path;
    return QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0; Data Source=%1").arg(value);
}

QString CADODatabase::DataSourceOf(const QString& connection) {
    // "Key=Value" pairs separated by ';'. A value in double quotes may hold
    // ';' (a doubled quote stands for one quote); an unquoted one ends at the
    // next ';'.
    qsizetype i = 0;
    const qsizetype n = connection.size();
    while (i < n) {
        const qsizetype eq = connection.indexOf(QLatin1Char('='), i);
        if (eq < 0) break;
        const QString key = connection.mid(i, eq - i).trimmed();
        qsizetype v = eq + 1;
        while (v < n && connection[v] == QLatin1Char(' ')) ++v;
        QString value;
        if (v < n && connection[v] == QLatin1Char('"')) {
            ++v;
            while (v < n) {
                if (connection[v] == QLatin1Char('"')) {
                    if (v + 1 < n && connection[v + 1] == QLatin1Char('"')) {
                        value += QLatin1Char('"');
                        v += 2;
                        continue;
                    }
                    ++v;
                    break;
                }
                value += connection[v++];
            }
            const qsizetype semi = connection.indexOf(QLatin1Char(';'), v);
            i = semi < 0 ? n : semi + 1;
        } else {
            const qsizetype semi = connection.indexOf(QLatin1Char(';'), v);
            value = connection.mid(v, semi < 0 ? -1 : semi - v).trimmed();
            i = semi < 0 ? n : semi + 1;
        }
        if (key.compare(QLatin1String("Data Source"), Qt::CaseInsensitive) == 0) return value;
    }
    return {};
}

QString CADODatabase::DataSource() const {
    return DataSourceOf(m_connection);
}

bool CADODatabase::IsServerUri(const QString& connection) {
    const QString c = connection.trimmed();
    return c.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           c.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString CADODatabase::DisplayUri(const QString& uri) {
    QUrl url(uri.trimmed());
    // An address that does not parse may still hold a password somewhere.
    if (!url.isValid()) return QStringLiteral("(an unreadable server address)");
    url.setPassword({});
    url.setFragment({});
    // libpq also takes the password as a query option; an option that even
    // mentions one (a mistyped separator joins two) is left out whole.
    const auto secret = [](const QString& text) {
        return text.contains(QLatin1String("password"), Qt::CaseInsensitive);
    };
    QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
        if (secret(key) || secret(value)) query.removeAllQueryItems(key);
    url.setQuery(query);
    return url.toString();
}

QString CADODatabase::DriverName() const {
    return IsServer() ? kServerDriver : kDriver;
}

bool CADODatabase::Ping() {
    if (!IsOpen()) return false;
    if (!IsServer()) return true;
    const ServerCallLimit limit(*this);
    QSqlQuery q(Connection());
    return q.exec(QStringLiteral("SELECT 1")) && q.next();
}

QSqlDatabase CADODatabase::Connection() const {
    return QSqlDatabase::database(m_name, false);
}

void CADODatabase::RecordError(uint32_t code, const QString& meaning, const QString& source,
                               const QString& description) {
    const QString text =
        QStringLiteral("CADODataBase Error\n\tCode = %1\n\tCode meaning = %2\n\tSource = %3\n\t"
                       "Description = %4\n")
            .arg(code, 8, 16, QLatin1Char('0'))
            .arg(meaning, source, description);
    // A password written into a server address stays out of messages.
    m_lastErrorText = QStringLiteral("Connection String = ") +
                      (IsServer() ? DisplayUri(m_connection) : m_connection) + QLatin1Char('\n') +
                      text;
    m_lastError = code;
    qCDebug(lcStore).noquote() << "\n" + m_lastErrorText;
}

bool CADODatabase::OpenServer() {
    const QUrl url(m_connection.trimmed());
    const QString database = url.path().mid(1);
    if (!url.isValid() || database.isEmpty()) {
        RecordError(adoerr::kBadArgument, adoerr::CodeMeaning(adoerr::kBadArgument), kServerDriver,
                    QStringLiteral("'%1' is not a server address of the form "
                                   "postgresql://user@host:5432/dbname.")
                        .arg(DisplayUri(m_connection)));
        return false;
    }
    if (!QSqlDatabase::isDriverAvailable(kServerDriver)) {
        RecordError(adoerr::kBadArgument, adoerr::CodeMeaning(adoerr::kBadArgument), kServerDriver,
                    QStringLiteral("The PostgreSQL driver of Qt SQL is not installed."));
        return false;
    }
    if (Connection().driverName() != kServerDriver) {
        QSqlDatabase::removeDatabase(m_name);
        QSqlDatabase::addDatabase(kServerDriver, m_name);
    }
    QSqlDatabase db = Connection();
    db.setDatabaseName(database);
    db.setHostName(url.host());
    db.setPort(url.port(-1));
    db.setUserName(url.userName());
    // Only a password written into the address is passed on; otherwise
    // libpq takes it from its password file or PGPASSWORD.
    db.setPassword(url.password());
    // Notices ("table does not exist, skipping") are no news to anyone.
    QStringList options{kServerTimeout, QStringLiteral("options=-cclient_min_messages=warning")};
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        // The driver joins the options with blanks: a value holding one (or
        // a ';') would run into the next option.
        if (key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';')) ||
            value.contains(QLatin1Char(' ')) || key.contains(QLatin1Char(' ')))
            continue;
        if (key == QLatin1String("options")) options.removeAt(1);
        options << key + QLatin1Char('=') + value;
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!db.open()) {
        const QSqlError e = db.lastError();
        RecordError(adoerr::CodeOf(e), e.driverText(), kServerDriver,
                    QStringLiteral("The index server %1 could not be reached: %2")
                        .arg(DisplayUri(m_connection), e.databaseText().trimmed()));
        return false;
    }
    return true;
}

bool CADODatabase::OpenConnection() {
    if (IsServer()) return OpenServer();
    if (Connection().driverName() != kDriver) {
        QSqlDatabase::removeDatabase(m_name);
        QSqlDatabase::addDatabase(kDriver, m_name);
    }
    const QString path = DataSource();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        RecordError(
            adoerr::kFileNotFound, adoerr::CodeMeaning(adoerr::kFileNotFound),
            QStringLiteral("CADODatabase"),
            QStringLiteral("Could not find file '%1'.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    QSqlDatabase db = Connection();
    db.setDatabaseName(path);
    db.setConnectOptions(kConnectOptions);
    if (!db.open()) {
        const QSqlError e = db.lastError();
        RecordError(adoerr::CodeOf(e), e.driverText(), kDriver, e.databaseText());
        return false;
    }
    // Opening is lazy in SQLite: the first statements prove that the file is
    // a database. Rollback journal (safe on network shares, unlike WAL) and
    // full synchronous writes, so a power cut never leaves half a row.
    QSqlQuery q(db);
    for (const char* sql : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL",
                            "SELECT count(*) FROM sqlite_master"}) {
        if (!q.exec(QLatin1String(sql))) {
            const QSqlError e = q.lastError();
            q.finish();
            db.close();
            RecordError(adoerr::CodeOf(e), e.driverText(), kDriver, e.databaseText());
            return false;
        }
        q.finish();
    }
    return true;
}

bool CADODatabase::Open(const QString& connection, const QString& user, const QString& password) {
    Q_UNUSED(user);
    Q_UNUSED(password);
    Close(); // also a connection cut for running out of time
    m_timedOut = false;
    if (!connection.isEmpty()) m_connection = connection;
    m_open = OpenConnection();
    if (!m_open) {
        qCDebug(lcStore) << "\nCADODatabase::Open() -: Open() failure.";
        return false;
    }
    qCDebug(lcStore) << "\nCADODatabase::Open(LPCTSTR lpstrConnection, LPCTSTR lpstrUserID, "
                        "LPCTSTR lpstrPassword)-: Leave.";
    return true;
}

bool CADODatabase::CanOpen(const QString& connection, const QString& user,
                           const QString& password) {
    const bool ok = Open(connection, user, password);
    Close();
    return ok;
}

bool CADODatabase::IsOpen() const {
    // A connection cut for running out of time is of no further use.
    return m_open && !m_timedOut && Connection().isOpen();
}

void CADODatabase::Close() {
    if (m_inTransaction) RollbackTrans();
    QSqlDatabase db = Connection();
    if (db.isOpen()) db.close();
    m_open = false;
}

bool CADODatabase::BeginTrans() {
    if (!IsOpen() || m_inTransaction) return false;
    QSqlDatabase db = Connection();
    if (!db.transaction()) {
        const QSqlError e = db.lastError();
        RecordError(adoerr::CodeOf(e), e.driverText(), DriverName(), e.databaseText());
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool CADODatabase::CommitTrans() {
    if (!IsOpen() || !m_inTransaction) return false;
    QSqlDatabase db = Connection();
    if (!db.commit()) {
        const QSqlError e = db.lastError();
        RecordError(adoerr::CodeOf(e), e.driverText(), DriverName(), e.databaseText());
        // A failed commit leaves the transaction open; give it back.
        db.rollback();
        m_inTransaction = false;
        return false;
    }
    m_inTransaction = false;
    return true;
}

bool CADODatabase::RollbackTrans() {
    if (!m_inTransaction) return false;
    m_inTransaction = false;
    QSqlDatabase db = Connection();
    if (!db.isOpen()) return false;
    if (!db.rollback()) {
        const QSqlError e = db.lastError();
        RecordError(adoerr::CodeOf(e), e.driverText(), DriverName(), e.databaseText());
        return false;
    }
    return true;
}

struct ServerCallLimit::Watch {
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    bool expired = false;
    std::thread thread;
};

ServerCallLimit::ServerCallLimit(CADODatabase& db, int ms) : m_db(&db), m_ms(ms) {
    if (db.IsServer() && db.IsOpen()) Arm(db.Connection());
}

ServerCallLimit::ServerCallLimit(const QSqlDatabase& db, int ms) : m_ms(ms) {
    if (db.isOpen()) Arm(db);
}

void ServerCallLimit::Arm(const QSqlDatabase& db) {
#ifdef RX_HAVE_LIBPQ
    if (!db.driver()) return;
    const QVariant handle = db.driver()->handle();
    // Qt names the type by the struct behind libpq's typedef.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return;
    PGconn* const conn = *static_cast<PGconn* const*>(handle.constData());
    const int fd = conn ? PQsocket(conn) : -1;
    if (fd < 0) return;
    m_watch = std::make_unique<Watch>();
    Watch* w = m_watch.get();
    w->thread = std::thread([w, fd, ms = m_ms] {
        std::unique_lock lock(w->mutex);
        if (w->wake.wait_for(lock, std::chrono::milliseconds(ms), [w] { return w->done; })) return;
        // Still inside the call (the destructor has not taken the mutex), so
        // the socket is still the connection's own.
        w->expired = true;
#ifdef Q_OS_WIN
        ::shutdown(SOCKET(fd), SD_BOTH);
#else
        ::shutdown(fd, SHUT_RDWR);
#endif
    });
#else
    Q_UNUSED(db);
#endif
}

bool ServerCallLimit::Expired() const {
    if (!m_watch) return false;
    const std::lock_guard lock(m_watch->mutex);
    return m_watch->expired;
}

ServerCallLimit::~ServerCallLimit() {
    if (!m_watch) return;
    {
        const std::lock_guard lock(m_watch->mutex);
        m_watch->done = true;
    }
    m_watch->wake.notify_all();
    m_watch->thread.join();
    if (m_watch->expired && m_db) {
        m_db->m_timedOut = true;
        m_db->RecordError(adoerr::kEngineBase | 1u, QStringLiteral("Time-out"),
                          QStringLiteral("QPSQL"),
                          QStringLiteral("The index server %1 did not answer within %2 seconds.")
                              .arg(CADODatabase::DisplayUri(m_db->m_connection))
                              .arg(m_ms / 1000.0));
    }
}
