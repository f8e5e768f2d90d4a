#pragma once

// A throwaway PostgreSQL server for the tests: a fresh cluster in a
// temporary folder, listening on a free local port only. Under root (CI) it
// runs as "nobody", since the server refuses to run as root. The server is a
// child of the test process that receives SIGQUIT when the test process
// ends, so a failing or crashing test leaves no server behind.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

class PgTestServer {
public:
    PgTestServer() = default;
    ~PgTestServer() { Stop(); }
    PgTestServer(const PgTestServer&) = delete;
    PgTestServer& operator=(const PgTestServer&) = delete;

    // The folder of initdb and postgres; empty when the server is not installed.
    static QString BinDir() {
        const QDir lib(QStringLiteral("/usr/lib/postgresql"));
        QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (qsizetype i = versions.size() - 1; i >= 0; --i) {
            const QString bin = lib.filePath(versions[i] + QStringLiteral("/bin"));
            if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable() &&
                QFileInfo(bin + QStringLiteral("/postgres")).isExecutable())
                return bin;
        }
        const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
        if (initdb.isEmpty()) return {};
        const QString dir = QFileInfo(initdb).canonicalPath();
        return QFileInfo(dir + QStringLiteral("/postgres")).isExecutable() ? dir : QString();
    }

    // Why the server tests cannot run here, or empty.
    static QString Missing() {
#if defined(__SANITIZE_THREAD__)
        constexpr bool tsan = true;
#elif defined(__has_feature)
        constexpr bool tsan = __has_feature(thread_sanitizer);
#else
        constexpr bool tsan = false;
#endif
        // Starting the server forks from a process with many threads, which
        // trips ThreadSanitizer's own runtime (a CHECK in its fork handling,
        // not a race); the plain build runs these tests.
        if (tsan) return QStringLiteral("not under ThreadSanitizer");
        if (BinDir().isEmpty())
            return QStringLiteral("PostgreSQL server binaries (initdb, postgres) are not installed "
                                  "(package postgresql)");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return {};
    }

    bool Start(QString* error) {
        if (m_proc) return true;
        if (!m_dir) {
            m_dir = std::make_unique<QTemporaryDir>();
            if (!m_dir->isValid()) return Fail(error, QStringLiteral("no temporary folder"));
            m_data = m_dir->path() + QStringLiteral("/cluster");
            m_port = FreePort();
            if (getuid() == 0) {
                const passwd* pw = getpwnam("nobody");
                if (!pw) return Fail(error, QStringLiteral("no user 'nobody' to run the server"));
                m_uid = pw->pw_uid;
                m_gid = pw->pw_gid;
                if (chown(QFile::encodeName(m_dir->path()).constData(), m_uid, m_gid) != 0)
                    return Fail(error, QStringLiteral("cannot hand the folder to 'nobody'"));
            }
            QProcess init;
            init.setProcessChannelMode(QProcess::MergedChannels);
            Launch(init, BinDir() + QStringLiteral("/initdb"),
                   {QStringLiteral("-D"), m_data, QStringLiteral("-U"), QStringLiteral("rx"),
                    QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                    QStringLiteral("--locale=C"), QStringLiteral("--no-sync")});
            if (!init.waitForFinished(120000) || init.exitCode() != 0)
                return Fail(error, QStringLiteral("initdb failed: ") +
                                       QString::fromLocal8Bit(init.readAll()));
        }
        m_proc = std::make_unique<QProcess>();
        m_proc->setProcessChannelMode(QProcess::MergedChannels);
        m_proc->setStandardOutputFile(m_dir->path() + QStringLiteral("/server.log"),
                                      QIODevice::Append);
        Launch(*m_proc, BinDir() + QStringLiteral("/postgres"),
               {QStringLiteral("-D"), m_data, QStringLiteral("-p"), QString::number(m_port),
                QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"),
                QStringLiteral("-c"), QStringLiteral("unix_socket_directories="),
                QStringLiteral("-c"), QStringLiteral("fsync=off"), QStringLiteral("-c"),
                QStringLiteral("max_connections=60")});
        if (!m_proc->waitForStarted(10000)) {
            m_proc.reset();
            return Fail(error, QStringLiteral("the server did not start"));
        }
        for (int i = 0; i < 300; ++i) { // 30 s at most
            if (m_proc->state() != QProcess::Running) break;
            if (Exec(QStringLiteral("SELECT 1"), QStringLiteral("postgres"))) {
                if (!m_created) {
                    Exec(QStringLiteral("CREATE DATABASE rx"), QStringLiteral("postgres"));
                    m_created = true;
                }
                return true;
            }
            QThread::msleep(100);
        }
        const QString log = QString::fromLocal8Bit([&] {
            QFile f(m_dir->path() + QStringLiteral("/server.log"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }());
        Stop();
        return Fail(error, QStringLiteral("the server did not answer: ") + log);
    }

    // Fast shutdown: clients are disconnected at once.
    void Stop() {
        if (!m_proc) return;
        if (m_proc->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_proc->processId()), SIGINT);
            if (!m_proc->waitForFinished(20000)) {
                m_proc->kill();
                m_proc->waitForFinished(5000);
            }
        }
        m_proc.reset();
    }

    // Freezes the server and every one of its processes (SIGSTOP), or lets
    // them go on (SIGCONT): a server that keeps its connections open and
    // never answers.
    bool Freeze(bool frozen) {
        if (!Running()) return false;
        const pid_t server = pid_t(m_proc->processId());
        const int sig = frozen ? SIGSTOP : SIGCONT;
        bool ok = ::kill(server, sig) == 0;
        const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString& p : pids) {
            bool number = false;
            const pid_t pid = pid_t(p.toInt(&number));
            if (!number) continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly)) continue;
            // "pid (name) state ppid ...": the name may hold blanks.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (rest.size() > 1 && rest[1].toInt() == server) ok = ::kill(pid, sig) == 0 && ok;
        }
        return ok;
    }

    bool Running() const {
        return m_proc && m_proc->state() == QProcess::Running;
    }
    int Port() const {
        return m_port;
    }
    QString Uri(const QString& database = QStringLiteral("rx")) const {
        return QStringLiteral("postgresql://rx@127.0.0.1:%1/%2").arg(m_port).arg(database);
    }

    // Runs one statement on a short connection of its own.
    bool Exec(const QString& sql, const QString& database = QStringLiteral("rx"),
              QString* error = nullptr) const {
        const QString name = QStringLiteral("pg-test-") + QUuid::createUuid().toString();
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(m_port);
            db.setUserName(QStringLiteral("rx"));
            db.setDatabaseName(database);
            db.setConnectOptions(
                QStringLiteral("connect_timeout=2;options=-cclient_min_messages=warning"));
            if (db.open()) {
                QSqlQuery q(db);
                ok = q.exec(sql);
                if (!ok && error) *error = q.lastError().text();
            } else if (error) {
                *error = db.lastError().text();
            }
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }

    // A value of a one-row, one-column query; an invalid QVariant on failure.
    QVariant Value(const QString& sql, const QString& database = QStringLiteral("rx")) const {
        const QString name = QStringLiteral("pg-test-") + QUuid::createUuid().toString();
        QVariant v;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(m_port);
            db.setUserName(QStringLiteral("rx"));
            db.setDatabaseName(database);
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(sql) && q.next()) v = q.value(0);
            }
        }
        QSqlDatabase::removeDatabase(name);
        return v;
    }

    // Drops the store tables: every test starts from an empty server.
    bool Reset() {
        return Exec(QStringLiteral("DROP TABLE IF EXISTS \"RivuletrixRecords\", \"RXTemplates\""));
    }

private:
    static bool Fail(QString* error, const QString& why) {
        if (error) *error = why;
        return false;
    }

    static int FreePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        ::close(s);
        return port;
    }

    // The program under setpriv: as "nobody" under root, and ended with
    // SIGQUIT (immediate shutdown) when this process ends.
    void Launch(QProcess& p, const QString& program, const QStringList& args) const {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty()) {
            p.start(program, args);
            return;
        }
        QStringList a{QStringLiteral("--pdeathsig"), QStringLiteral("SIGQUIT")};
        if (m_uid != uid_t(-1))
            a << QStringLiteral("--reuid=%1").arg(m_uid) << QStringLiteral("--regid=%1").arg(m_gid)
              << QStringLiteral("--clear-groups");
        a << program << args;
        p.setWorkingDirectory(m_dir->path());
        p.start(setpriv, a);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_proc;
    QString m_data;
    int m_port = 0;
    uid_t m_uid = uid_t(-1);
    gid_t m_gid = gid_t(-1);
    bool m_created = false;
};
