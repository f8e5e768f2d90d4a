#include "ServerRowsLoader.h"

#include "AdoDatabase.h"

#include <QSqlQuery>
#include <QUuid>

#include <algorithm>
#include <climits>
#include <optional>

namespace {
// Big enough that the round trips cost little, small enough that Cancel
// (closing the browser) never waits long.
constexpr int kPieceRows = 20000;
// A server that stops answering ends the reading (and so Cancel) after this.
constexpr int kPieceMs = 10000;

QString NoAnswer() {
    return QStringLiteral("the index server did not answer within %1 seconds").arg(kPieceMs / 1000);
}
} // namespace

bool ServerRowsLoader::Fetch(QSqlDatabase db, qint64 after, int limit, QList<RecordListRow>& rows,
                             qint64& last, QSqlError& error) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT \"ControlNumber\", \"TypeofTest\", \"StartDate\", "
                             "\"StartTime\", \"SetFlowRate\", \"Manufacture\", \"SerialNumber\", "
                             "\"Model\", \"TdSerialNum\", \"InstSerialNum\", \"Filename\", rowid "
                             "FROM \"RivuletrixRecords\" WHERE rowid > ? ORDER BY rowid") +
              (limit > 0 ? QStringLiteral(" LIMIT %1").arg(limit) : QString()));
    q.addBindValue(after);
    if (!q.exec()) {
        error = q.lastError();
        return false;
    }
    while (q.next()) {
        RecordListRow r;
        r.controlNumber = q.value(0).toString();
        r.typeOfTest = q.value(1).toString();
        r.startDate = q.value(2).toString();
        r.startTime = q.value(3).toString();
        r.setFlowRate = q.value(4).toString();
        r.manufacture = q.value(5).toString();
        r.serialNumber = q.value(6).toString();
        r.model = q.value(7).toString();
        r.tdSerialNum = q.value(8).toString();
        r.instSerialNum = q.value(9).toString();
        r.fileName = q.value(10).toString();
        last = q.value(11).toLongLong();
        rows.append(r);
    }
    return true;
}

ServerRowsLoader::ServerRowsLoader(const QString& connectionName, qint64 after, QObject* parent)
    : QObject(parent) {
    m_thread = std::thread([this, connectionName, after] { Read(connectionName, after); });
}

ServerRowsLoader::~ServerRowsLoader() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void ServerRowsLoader::Read(QString connectionName, qint64 after) {
    const QString name = QStringLiteral("rx-rows-") + QUuid::createUuid().toString();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::cloneDatabase(connectionName, name);
        if (!db.open()) {
            error = QStringLiteral("the index server did not answer: ") + db.lastError().text();
        } else {
            // An estimate that costs nothing (a count would read the table):
            // the rowids left, no more than the planner's row count.
            QSqlQuery count(db);
            std::optional<ServerCallLimit> countLimit;
            countLimit.emplace(db, kPieceMs);
            count.prepare(QStringLiteral(
                "SELECT (SELECT max(rowid) FROM \"RivuletrixRecords\") - ?, (SELECT reltuples "
                "FROM pg_class WHERE oid = '\"RivuletrixRecords\"'::regclass)"));
            count.addBindValue(after);
            if (count.exec() && count.next()) {
                qint64 expected = count.value(0).toLongLong();
                const qint64 planned = qint64(count.value(1).toDouble());
                if (planned > 0) expected = std::min(expected, planned);
                if (expected > 0)
                    QMetaObject::invokeMethod(
                        this,
                        [this, n = int(std::min<qint64>(expected, INT_MAX))] {
                            Q_EMIT Expecting(n);
                        },
                        Qt::QueuedConnection);
            }
            countLimit.reset();
            while (!m_stop) {
                QList<RecordListRow> rows;
                QSqlError failed;
                bool read = false, expired = false;
                {
                    const ServerCallLimit limit(db, kPieceMs);
                    read = Fetch(db, after, kPieceRows, rows, after, failed);
                    expired = !read && limit.Expired();
                }
                if (!read) {
                    error = expired ? NoAnswer() : failed.text();
                    break;
                }
                if (rows.isEmpty()) break;
                const bool more = rows.size() == kPieceRows;
                // Queued to the UI thread; dropped if the loader is gone by then.
                QMetaObject::invokeMethod(
                    this, [this, rows = std::move(rows)] { Q_EMIT RowsArrived(rows); },
                    Qt::QueuedConnection);
                if (!more) break;
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (m_stop) return;
    QMetaObject::invokeMethod(
        this,
        [this, error] {
            m_finished = true;
            Q_EMIT Finished(error);
        },
        Qt::QueuedConnection);
}
