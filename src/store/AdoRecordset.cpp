#include "AdoRecordset.h"

#include "AdoDatabase.h"
#include "StoreTrace.h"

#include <QSqlError>
#include <QSqlRecord>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {
const QString kDefaultDateFormat = QStringLiteral("%Y-%m-%d %H:%M:%S");
const QString kStoredDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString QuoteIdentifier(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

CADORecordset::ColType TypeOfDeclaration(const QString& declared) {
    using T = CADORecordset::ColType;
    const QString d = declared.toUpper();
    if (d.contains(QLatin1String("DATE")) || d.contains(QLatin1String("TIME"))) return T::DateTime;
    if (d.contains(QLatin1String("BOOL")) || d == QLatin1String("BIT") ||
        d.contains(QLatin1String("YESNO")) || d.contains(QLatin1String("LOGICAL")))
        return T::Boolean;
    if (d.contains(QLatin1String("SMALLINT")) || d.contains(QLatin1String("INT2")) ||
        d.contains(QLatin1String("SHORT")))
        return T::Int16;
    if (d.contains(QLatin1String("INT"))) return T::Integer;
    if (d.contains(QLatin1String("REAL")) || d.contains(QLatin1String("FLOA")) ||
        d.contains(QLatin1String("DOUB")) || d.contains(QLatin1String("NUMERIC")) ||
        d.contains(QLatin1String("DECIMAL")) || d.contains(QLatin1String("CURRENCY")))
        return T::Real;
    return T::Text;
}

// The _gcvt form: %g with the given significant digits, an integral value
// keeping its decimal point ("5.").
QString Gcvt(double v, int digits) {
    if (!std::isfinite(v)) return QString::number(v);
    QString s = QString::asprintf("%.*g", digits, v);
    if (!s.contains(QLatin1Char('.')) && !s.contains(QLatin1Char('e'))) s += QLatin1Char('.');
    return s;
}

QDateTime ParseStoredDateTime(const QString& text) {
    static const char* const formats[] = {"yyyy-MM-dd HH:mm:ss",     "yyyy-MM-ddTHH:mm:ss",
                                          "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss.zzz",
                                          "yyyy-MM-dd HH:mm",        "yyyy-MM-dd"};
    const QString t = text.trimmed();
    for (const char* f : formats) {
        QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid()) return dt;
    }
    return {};
}

bool ParseInteger(const QString& text, qint64* out) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (ok) *out = v;
    return ok;
}
} // namespace

CADORecordset::CADORecordset(CADODatabase* database) : m_db(database) {}

CADORecordset::~CADORecordset() {
    Close();
    m_statements.clear();
    m_unprepared = QSqlQuery();
}

// ---- errors ----

void CADORecordset::RecordError(uint32_t code, const QString& description, const QString& source) {
    KeepError(code, adoerr::CodeMeaning(code),
              source.isEmpty() ? QStringLiteral("CADORecordset") : source, description);
}

void CADORecordset::RecordSqlError(const QSqlError& e) {
    KeepError(adoerr::CodeOf(e), e.driverText(),
              m_db && m_db->IsServer() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
              e.databaseText());
}

void CADORecordset::KeepError(uint32_t code, const QString& meaning, const QString& source,
                              const QString& description) {
    const QString text =
        QStringLiteral("CADORecordset Error\n\tCode = %1\n\tCode meaning = %2\n\tSource = %3\n\t"
                       "Description = %4\n")
            .arg(code, 8, 16, QLatin1Char('0'))
            .arg(meaning, source, description);
    m_lastErrorText = QStringLiteral("Query = ") + m_source + QLatin1Char('\n') + text;
    m_lastError = code;
    qCDebug(lcStore).noquote() << "\n" + m_lastErrorText;
}

// ---- open and close ----

QString CADORecordset::QuotedTable() const {
    return QuoteIdentifier(m_table);
}

QSqlQuery& CADORecordset::Prepared(const QString& sql) {
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) return it.value();
    QSqlQuery q(m_db->Connection());
    if (!q.prepare(sql)) {
        // Not kept: a statement refused once (a lock, a schema change) may
        // be accepted next time. Its exec fails with the prepare error.
        m_unprepared = std::move(q);
        return m_unprepared;
    }
    return m_statements.insert(sql, std::move(q)).value();
}

bool CADORecordset::Open(const QString& source, int option) {
    if (IsOpen()) Close();
    if (!source.isEmpty()) {
        qsizetype i = 0;
        while (i < source.size() && source[i] == QLatin1Char(' ')) ++i;
        m_source = source.mid(i);
    }
    m_option = option;
    const bool looksLikeQuery = m_source.startsWith(QLatin1String("Select "), Qt::CaseInsensitive);
    bool table = false;
    switch (option) {
    case openUnknown:
        table = !looksLikeQuery;
        break;
    case openQuery:
        table = false;
        break;
    case openTable:
        table = true;
        break;
    case openStoredProc:
        RecordError(adoerr::kBadArgument, QStringLiteral("Stored procedures are not supported."));
        return false;
    default:
        qCDebug(lcStore)
            << "\nCADODatabase::Open(_ConnectionPtr mpdb, LPCTSTR lpstrExec, int nOption)-: Leave.";
        return false;
    }
    if (!m_db || !m_db->IsOpen()) {
        RecordError(adoerr::kObjectClosed, QStringLiteral("The connection is not open."));
        return false;
    }
    if (table) {
        m_table = m_source;
        // The server's tables carry their row number as a column of their
        // own; Load lists the others.
        return Load(
            m_db->IsServer()
                ? QString()
                : QStringLiteral("SELECT rowid, * FROM %1 ORDER BY rowid").arg(QuotedTable()),
            true);
    }
    m_table.clear();
    return Load(m_source, false);
}

bool CADORecordset::Load(QString sql, bool table) {
    m_columns.clear();
    m_columnIndex.clear();
    m_rows.clear();
    m_statements.clear();
    QSqlDatabase db = m_db->Connection();
    if (table) {
        // Declared types decide how dates, booleans and 16-bit numbers read.
        QSqlQuery info(db);
        const bool server = m_db->IsServer();
        bool listed = false;
        if (server) {
            // to_regclass finds the session's temporary tables too.
            info.prepare(QStringLiteral(
                "SELECT attnum, attname, format_type(atttypid, atttypmod) FROM pg_attribute "
                "WHERE attrelid = to_regclass(?) AND attnum > 0 AND NOT attisdropped "
                "AND attname <> 'rowid' ORDER BY attnum"));
            info.addBindValue(QuotedTable());
            listed = info.exec();
        } else {
            listed = info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QuotedTable()));
        }
        if (!listed) {
            RecordSqlError(info.lastError());
            return false;
        }
        QStringList names;
        while (info.next()) {
            Column c;
            c.name = info.value(1).toString();
            c.type = TypeOfDeclaration(info.value(2).toString());
            m_columns.append(c);
            names << QuoteIdentifier(c.name);
        }
        info.finish();
        if (server && !m_columns.isEmpty())
            sql = QStringLiteral("SELECT rowid, %1 FROM %2 %3 ORDER BY rowid")
                      .arg(names.join(QLatin1Char(',')), QuotedTable(),
                           m_appendOnly ? QStringLiteral("WHERE false") : QString());
        else if (m_appendOnly)
            sql = QStringLiteral("SELECT rowid, * FROM %1 WHERE 0").arg(QuotedTable());
        if (m_columns.isEmpty()) {
            RecordError(adoerr::kItemNotFound,
                        QStringLiteral("The table '%1' does not exist.").arg(m_table));
            return false;
        }
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        RecordSqlError(q.lastError());
        return false;
    }
    const QSqlRecord rec = q.record();
    const int first = table ? 1 : 0; // the rowid leads a table's rows
    if (!table) {
        for (int i = 0; i < rec.count(); ++i) {
            Column c;
            c.name = rec.fieldName(i);
            m_columns.append(c);
        }
    }
    if (rec.count() - first != m_columns.size()) {
        RecordError(adoerr::kItemNotFound, QStringLiteral("Column list changed while opening."));
        return false;
    }
    for (int i = 0; i < m_columns.size(); ++i) {
        m_columnIndex.insert(m_columns[i].name.toLower(), i);
        m_columnIndex.insert(m_columns[i].name, i);
    }
    qint64 position = 0;
    m_positionOfRowid.clear();
    m_rowidOrdered = true;
    while (q.next()) {
        Row row;
        row.rowid = table ? q.value(0).toLongLong() : position;
        ++position;
        row.packed.reserve(16 * m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i) {
            const QVariant v = q.value(first + i);
            // The server hands dates over as date-times; the cursor keeps the
            // text form SQLite stores.
            if (v.typeId() == QMetaType::QDateTime && !v.isNull())
                AppendPacked(row.packed, v.toDateTime().toString(kStoredDateFormat));
            else
                AppendPacked(row.packed, v);
        }
        m_positionOfRowid.insert(row.rowid, int(m_rows.size()));
        m_rows.append(std::move(row));
    }
    m_isTable = table;
    m_live = int(m_rows.size());
    m_firstLiveHint = 0;
    m_pos = m_rows.isEmpty() ? -1 : 0;
    m_editMode = dbEditNone;
    m_open = true;
    return true;
}

void CADORecordset::Close() {
    if (!m_open) return;
    if (m_editMode != dbEditNone) CancelUpdate();
    m_statements.clear();
    m_unprepared = QSqlQuery();
    m_rows.clear();
    m_rows.squeeze();
    m_positionOfRowid.clear();
    m_live = 0;
    m_pos = -1;
    m_open = false;
}

QStringList CADORecordset::Columns() const {
    QStringList names;
    for (const Column& c : m_columns) names << c.name;
    return names;
}

// ---- packed rows ----

void CADORecordset::AppendPacked(QByteArray& out, const QVariant& v) {
    auto putRaw = [&out](const void* p, size_t n) {
        out.append(static_cast<const char*>(p), qsizetype(n));
    };
    if (v.isNull()) {
        out.append(char(0));
        return;
    }
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::ULongLong: {
        out.append(char(1));
        const qint64 i = v.toLongLong();
        putRaw(&i, sizeof i);
        return;
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        out.append(char(2));
        const double d = v.toDouble();
        putRaw(&d, sizeof d);
        return;
    }
    case QMetaType::QByteArray: {
        out.append(char(4));
        const QByteArray b = v.toByteArray();
        const uint32_t n = uint32_t(b.size());
        putRaw(&n, sizeof n);
        out.append(b);
        return;
    }
    default: {
        out.append(char(3));
        const QByteArray b = v.toString().toUtf8();
        const uint32_t n = uint32_t(b.size());
        putRaw(&n, sizeof n);
        out.append(b);
        return;
    }
    }
}

CADORecordset::Cell CADORecordset::CellAt(const Row& row, int column) const {
    Cell c;
    const char* p = row.packed.constData();
    const char* end = p + row.packed.size();
    for (int i = 0; p < end; ++i) {
        const uint8_t tag = uint8_t(*p++);
        int size = 0;
        uint32_t n = 0;
        if (tag == 1 || tag == 2)
            size = 8;
        else if (tag == 3 || tag == 4) {
            std::memcpy(&n, p, sizeof n);
            p += sizeof n;
            size = int(n);
        }
        if (i == column) {
            c.tag = tag;
            if (tag == 1)
                std::memcpy(&c.i, p, 8);
            else if (tag == 2)
                std::memcpy(&c.d, p, 8);
            else if (tag == 3 || tag == 4) {
                c.p = p;
                c.len = size;
            }
            return c;
        }
        p += size;
    }
    return c;
}

QVariant CADORecordset::CellValue(const Cell& c) {
    switch (c.tag) {
    case 1:
        return c.i;
    case 2:
        return c.d;
    case 3:
        return QString::fromUtf8(c.p, c.len);
    case 4:
        return QByteArray(c.p, c.len);
    default:
        return {};
    }
}

// The value as the table keeps it: integer affinity for number columns,
// date-times as sortable text, empty text as NULL.
QVariant CADORecordset::StorageValue(int column, const QVariant& v) const {
    if (v.isNull()) return {};
    const ColType type = m_columns[column].type;
    if (v.typeId() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        return dt.isValid() ? QVariant(dt.toString(kStoredDateFormat)) : QVariant();
    }
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.isEmpty()) return {};
        qint64 i = 0;
        if ((type == ColType::Int16 || type == ColType::Integer || type == ColType::Boolean) &&
            ParseInteger(s, &i))
            return QVariant(i);
        return s;
    }
    return v;
}

// ---- cursor ----

bool CADORecordset::IsDeletedCurrent() const {
    return m_pos >= 0 && m_pos < m_rows.size() && m_rows[m_pos].deleted;
}

bool CADORecordset::HasCurrentRow() const {
    return m_open && m_pos >= 0 && m_pos < m_rows.size() && !m_rows[m_pos].deleted;
}

bool CADORecordset::IsBof() const {
    if (!m_open) return true;
    if (m_live == 0 && !IsDeletedCurrent()) return true;
    return m_pos < 0;
}

bool CADORecordset::IsEof() const {
    if (!m_open) return true;
    if (m_live == 0 && !IsDeletedCurrent()) return true;
    return m_pos >= m_rows.size();
}

int CADORecordset::FirstLive() {
    // Rows are only ever deleted in place or appended, so the first live row
    // never moves back: DeleteALL stays linear.
    int i = std::clamp(m_firstLiveHint, 0, int(m_rows.size()));
    while (i < m_rows.size() && m_rows[i].deleted) ++i;
    m_firstLiveHint = i;
    return i < m_rows.size() ? i : -1;
}

int CADORecordset::LastLive() const {
    int i = int(m_rows.size()) - 1;
    while (i >= 0 && m_rows[i].deleted) --i;
    return i;
}

void CADORecordset::MoveFirst() {
    if (!m_open) {
        RecordError(adoerr::kObjectClosed, QStringLiteral("MoveFirst on a closed recordset."));
        return;
    }
    const int i = FirstLive();
    m_pos = i >= 0 ? i : -1;
}

void CADORecordset::MoveLast() {
    if (!m_open) {
        RecordError(adoerr::kObjectClosed, QStringLiteral("MoveLast on a closed recordset."));
        return;
    }
    const int i = LastLive();
    m_pos = i >= 0 ? i : int(m_rows.size());
}

void CADORecordset::MoveNext() {
    if (!m_open || IsEof()) {
        RecordError(adoerr::kNoCurrentRecord, QStringLiteral("MoveNext at the end."));
        return;
    }
    int i = m_pos + 1;
    while (i < m_rows.size() && m_rows[i].deleted) ++i;
    m_pos = i;
}

void CADORecordset::MovePrevious() {
    if (!m_open || IsBof()) {
        RecordError(adoerr::kNoCurrentRecord, QStringLiteral("MovePrevious at the start."));
        return;
    }
    int i = m_pos - 1;
    while (i >= 0 && m_rows[i].deleted) --i;
    m_pos = i;
}

int CADORecordset::GetRecordCount() {
    if (!m_open) {
        qCDebug(lcStore) << "\nCADORecordset::GetRecordCount()-: m_pRecordset NULL failure.";
        return 0;
    }
    if (!m_countUnknown) return m_live;
    // Count by hand. Always from the first row: starting where the cursor
    // happens to be would miss the rows before it (or all of them at the end).
    int count = 0;
    MoveFirst();
    while (!IsEof()) {
        ++count;
        MoveNext();
    }
    if (count > 0) MoveFirst();
    return count;
}

qint64 CADORecordset::GetBookmark() const {
    return HasCurrentRow() ? m_rows[m_pos].rowid : -1;
}

int CADORecordset::PositionOfRowid(qint64 rowid) const {
    return m_positionOfRowid.value(rowid, -1);
}

bool CADORecordset::SetBookmark(qint64 bookmark) {
    if (!m_open) {
        RecordError(adoerr::kObjectClosed, QStringLiteral("SetBookmark on a closed recordset."));
        return false;
    }
    const int pos = PositionOfRowid(bookmark);
    if (pos < 0) {
        RecordError(adoerr::kNoCurrentRecord, QStringLiteral("No row has this bookmark."));
        return false;
    }
    m_pos = pos;
    return true;
}

// ---- reading ----

int CADORecordset::ColumnIndex(const QString& name) const {
    // Callers nearly always spell the name as the table does: no copies then.
    const auto exact = m_columnIndex.constFind(name);
    if (exact != m_columnIndex.constEnd()) return exact.value();
    QString key = name.trimmed();
    if (key.startsWith(QLatin1Char('[')) && key.endsWith(QLatin1Char(']')))
        key = key.mid(1, key.size() - 2);
    return m_columnIndex.value(key.toLower(), -1);
}

bool CADORecordset::CurrentRowRequired(const char* operation) {
    if (!m_open) {
        qCDebug(lcStore).noquote()
            << QStringLiteral("\nCADORecordset::%1-: m_pRecordset NULL failure.")
                   .arg(QLatin1String(operation));
        RecordError(adoerr::kObjectClosed, QStringLiteral("The recordset is not open."));
        return false;
    }
    if (!HasCurrentRow()) {
        RecordError(adoerr::kNoCurrentRecord, adoerr::CodeMeaning(adoerr::kNoCurrentRecord));
        return false;
    }
    return true;
}

int CADORecordset::FieldRequired(const QString& column, const char* operation) {
    const int col = ColumnIndex(column);
    if (col < 0) {
        qCDebug(lcStore).noquote()
            << QStringLiteral("\nCADORecordset::%1-: m_pRecordset->Fields->GetItem(lpFieldName) "
                              "NULL failure.")
                   .arg(QLatin1String(operation));
        RecordError(adoerr::kItemNotFound, QStringLiteral("No column '%1'.").arg(column));
    }
    return col;
}

QString CADORecordset::CellText(const Cell& c, ColType type, const QString& dateFormat,
                                bool* ok) const {
    *ok = true;
    const QString fmt = dateFormat.isEmpty() ? kDefaultDateFormat : dateFormat;
    switch (c.tag) {
    case 0:
        return {};
    case 1:
        if (type == ColType::Boolean) return c.i ? QStringLiteral("T") : QStringLiteral("F");
        if (type == ColType::DateTime) // SQLite's unix-time form
            return FormatDateTime(QDateTime::fromSecsSinceEpoch(c.i, Qt::UTC), fmt);
        return QString::number(c.i);
    case 2:
        if (type == ColType::DateTime) { // SQLite's Julian-day form
            const qint64 ms = qint64(std::llround((c.d - 2440587.5) * 86400000.0));
            return FormatDateTime(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), fmt);
        }
        return Gcvt(c.d, 20);
    case 3: {
        const QString s = QString::fromUtf8(c.p, c.len);
        if (type == ColType::DateTime) {
            const QDateTime dt = ParseStoredDateTime(s);
            if (dt.isValid()) return FormatDateTime(dt, fmt);
        }
        if (type == ColType::Boolean) {
            qint64 i = 0;
            if (ParseInteger(s, &i)) return i ? QStringLiteral("T") : QStringLiteral("F");
        }
        return s;
    }
    default:
        *ok = false;
        return {};
    }
}

bool CADORecordset::GetFieldValue(const QString& column, QString& value,
                                  const QString& dateFormat) {
    value.clear();
    static const char* const operation =
        "GetFieldValue(LPCTSTR lpFieldName, CString& strValue, CString strDateFormat)";
    if (!CurrentRowRequired(operation)) return false;
    const int col = FieldRequired(column, operation);
    if (col < 0) return false;
    bool ok = true;
    value = CellText(CellAt(m_rows[m_pos], col), m_columns[col].type, dateFormat, &ok);
    if (!ok)
        RecordError(adoerr::kBadArgument,
                    QStringLiteral("Column '%1' holds binary data.").arg(column));
    return ok;
}

bool CADORecordset::GetFieldValue(const QString& column, int& value) {
    value = 0;
    static const char* const operation = "GetFieldValue(LPCTSTR lpFieldName, int& nValue)";
    if (!CurrentRowRequired(operation)) return false;
    const int col = FieldRequired(column, operation);
    if (col < 0) return false;
    const Cell c = CellAt(m_rows[m_pos], col);
    constexpr qint64 lo = std::numeric_limits<int>::min(), hi = std::numeric_limits<int>::max();
    qint64 v = 0;
    switch (c.tag) {
    case 0:
        return true;
    case 1:
        v = c.i;
        break;
    case 2:
        if (!(c.d >= double(lo) && c.d <= double(hi)))
            v = hi + 1;
        else
            v = qint64(c.d);
        break;
    case 3:
        if (!ParseInteger(QString::fromUtf8(c.p, c.len), &v)) {
            RecordError(adoerr::kBadArgument,
                        QStringLiteral("Column '%1' is not a number.").arg(column));
            return false;
        }
        break;
    default:
        RecordError(adoerr::kBadArgument,
                    QStringLiteral("Column '%1' holds binary data.").arg(column));
        return false;
    }
    if (v < lo || v > hi) {
        RecordError(adoerr::kBadArgument,
                    QStringLiteral("Column '%1' is out of range.").arg(column));
        return false;
    }
    value = int(v);
    return true;
}

// ---- writing ----

bool CADORecordset::AddNew() {
    if (!m_open || !m_isTable) {
        qCDebug(lcStore) << "\nCADORecordset::AddNew()-: m_pRecordset NULL failure.";
        RecordError(m_open ? adoerr::kBadArgument : adoerr::kObjectClosed,
                    QStringLiteral("Rows can be added to an open table only."));
        return false;
    }
    if (m_editMode != dbEditNone) CancelUpdate();
    StartEdit(dbEditNew);
    return true;
}

void CADORecordset::StartEdit(int mode) {
    m_pending = QVector<QVariant>(m_columns.size());
    m_pendingSet = QVector<bool>(m_columns.size(), false);
    m_editMode = mode;
}

bool CADORecordset::CancelUpdate() {
    if (m_editMode == dbEditNone) {
        RecordError(adoerr::kNoEditPending, adoerr::CodeMeaning(adoerr::kNoEditPending));
        return false;
    }
    m_pending.clear();
    m_pendingSet.clear();
    m_editMode = dbEditNone;
    return true;
}

// The write every PutFieldValue ends in: the value waits, in the form the
// table keeps, until Update.
bool CADORecordset::PutValue(const QString& column, const QVariant& value) {
    if (!m_open || !m_isTable || (m_editMode == dbEditNone && !HasCurrentRow())) {
        RecordError(m_open ? adoerr::kNoCurrentRecord : adoerr::kObjectClosed,
                    QStringLiteral("No row to write to."));
        return false;
    }
    const int col = FieldRequired(column, "PutFieldValue(LPCTSTR lpFieldName, _variant_t vtFld)");
    if (col < 0) return false;
    if (m_editMode == dbEditNone) StartEdit(dbEdit);
    m_pending[col] = StorageValue(col, value);
    m_pendingSet[col] = true;
    return true;
}

bool CADORecordset::PutFieldValue(const QString& column, const QString& value) {
    return PutValue(column, value.isEmpty() ? QVariant() : QVariant(value));
}

bool CADORecordset::PutFieldValue(const QString& column, int value) {
    const int col = ColumnIndex(column);
    if (col >= 0 && m_columns[col].type == ColType::Int16 && (value < -32768 || value > 32767)) {
        RecordError(
            adoerr::kBadArgument,
            QStringLiteral("%1 does not fit the 16-bit column '%2'.").arg(value).arg(column));
        return false;
    }
    return PutValue(column, QVariant(qint64(value)));
}

bool CADORecordset::PutFieldValue(const QString& column, const QDateTime& value) {
    if (!value.isValid()) {
        RecordError(adoerr::kBadArgument,
                    QStringLiteral("Invalid date-time for '%1'.").arg(column));
        return false;
    }
    return PutValue(column, QVariant(value));
}

bool CADORecordset::Update() {
    if (!m_open || m_editMode == dbEditNone) {
        RecordError(m_open ? adoerr::kNoEditPending : adoerr::kObjectClosed,
                    adoerr::CodeMeaning(m_open ? adoerr::kNoEditPending : adoerr::kObjectClosed));
        return false;
    }
    QStringList names;
    QString mask;
    QVector<int> cols;
    for (int i = 0; i < m_columns.size(); ++i) {
        mask += m_pendingSet[i] ? QLatin1Char('1') : QLatin1Char('0');
        if (m_pendingSet[i]) {
            names << QuoteIdentifier(m_columns[i].name);
            cols << i;
        }
    }
    if (m_editMode == dbEditNew) {
        const bool server = m_db->IsServer();
        QString sql;
        if (cols.isEmpty())
            sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(QuotedTable());
        else {
            QStringList marks;
            for (qsizetype i = 0; i < cols.size(); ++i) marks << QStringLiteral("?");
            sql =
                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(QuotedTable(), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        }
        // The server's driver knows no last insert id; the statement returns it.
        if (server) sql += QStringLiteral(" RETURNING rowid");
        QSqlQuery& q = Prepared(sql);
        for (int i = 0; i < cols.size(); ++i) q.bindValue(i, m_pending[cols[i]]);
        if (!q.exec() || (server && !q.next())) {
            RecordSqlError(q.lastError());
            q.finish();
            return false; // the row stays pending; CancelUpdate discards it
        }
        Row row;
        row.rowid = server ? q.value(0).toLongLong() : q.lastInsertId().toLongLong();
        q.finish();
        for (int i = 0; i < m_columns.size(); ++i) AppendPacked(row.packed, m_pending[i]);
        if (!m_rows.isEmpty() && row.rowid <= m_rows.last().rowid) m_rowidOrdered = false;
        m_positionOfRowid.insert(row.rowid, int(m_rows.size()));
        m_rows.append(std::move(row));
        ++m_live;
        m_pos = int(m_rows.size()) - 1; // the new row is the current one
    } else {
        if (!HasCurrentRow()) {
            RecordError(adoerr::kNoCurrentRecord, adoerr::CodeMeaning(adoerr::kNoCurrentRecord));
            return false;
        }
        QStringList sets;
        for (const QString& n : names) sets << n + QStringLiteral("=?");
        QSqlQuery& q = Prepared(QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?")
                                    .arg(QuotedTable(), sets.join(QLatin1Char(','))));
        int b = 0;
        for (int c : cols) q.bindValue(b++, m_pending[c]);
        q.bindValue(b, m_rows[m_pos].rowid);
        if (!ExecAndFinish(q)) return false;
        Row& row = m_rows[m_pos];
        QByteArray packed;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (m_pendingSet[i])
                AppendPacked(packed, m_pending[i]);
            else
                AppendPacked(packed, CellValue(CellAt(row, i)));
        }
        row.packed = packed;
    }
    m_pending.clear();
    m_pendingSet.clear();
    m_editMode = dbEditNone;
    return true;
}

bool CADORecordset::ExecAndFinish(QSqlQuery& q) {
    const bool done = q.exec();
    if (!done) RecordSqlError(q.lastError());
    q.finish();
    return done;
}

bool CADORecordset::Delete() {
    if (!CurrentRowRequired("Delete()")) return false;
    if (!m_isTable) {
        RecordError(adoerr::kBadArgument, QStringLiteral("Rows of a query cannot be deleted."));
        return false;
    }
    if (m_editMode != dbEditNone) CancelUpdate();
    QSqlQuery& q = Prepared(QStringLiteral("DELETE FROM %1 WHERE rowid=?").arg(QuotedTable()));
    q.bindValue(0, m_rows[m_pos].rowid);
    if (!ExecAndFinish(q)) return false;
    m_rows[m_pos].deleted = true;
    m_rows[m_pos].packed = QByteArray();
    m_positionOfRowid.remove(m_rows[m_pos].rowid);
    --m_live;
    return true;
}

bool CADORecordset::DeleteALL(int rows) {
    // One transaction for the whole loop unless the caller runs one: a
    // synchronous commit per row would make emptying a large index crawl.
    const bool ownTransaction = m_open && m_isTable && !m_db->InTransaction() && m_db->BeginTrans();
    int done = 0;
    for (; done < rows; ++done) {
        if (IsBof()) break;
        MoveFirst();
        if (!Delete()) break;
        if (IsEof()) break;
        MoveNext();
    }
    if (ownTransaction && !m_db->CommitTrans()) {
        // Nothing was deleted after all; read the table again.
        const QString source = m_source;
        Open(source, m_option);
        return false;
    }
    return done == rows;
}

// ---- search ----

QString CADORecordset::Criterion(const QString& column, const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return column + QStringLiteral("='") + v + QLatin1Char('\'');
}

bool CADORecordset::ParseCriterion(const QString& criterion, QString* column, QString* value) {
    const qsizetype eq = criterion.indexOf(QLatin1Char('='));
    if (eq <= 0) return false;
    const QString col = criterion.left(eq).trimmed();
    const QString rest = criterion.mid(eq + 1).trimmed();
    if (col.isEmpty() || rest.size() < 2 || !rest.startsWith(QLatin1Char('\'')) ||
        !rest.endsWith(QLatin1Char('\'')))
        return false;
    // Everything between the outer quotes is the value: a quote doubled by
    // Criterion() and a lone quote that a caller did not double both read as
    // one quote, so no value can end the criterion early.
    QString v = rest.mid(1, rest.size() - 2);
    v.replace(QLatin1String("''"), QLatin1String("'"));
    *column = col;
    *value = v;
    return true;
}

bool CADORecordset::Find(const QString& criterion, int direction) {
    m_lastFind = criterion;
    QString column, value;
    if (!ParseCriterion(criterion, &column, &value)) {
        m_findDirection = direction == searchBackward ? searchBackward : searchForward;
        RecordError(adoerr::kBadArgument,
                    QStringLiteral("Criterion '%1' is not column='value'.").arg(criterion));
        return false;
    }
    return FindColumn(column, value, direction);
}

bool CADORecordset::Find(const QString& column, const QString& value, int direction) {
    m_lastFind = Criterion(column, value);
    return FindColumn(column, value, direction);
}

bool CADORecordset::FindColumn(const QString& column, const QString& value, int direction) {
    m_findDirection = direction;
    m_findBookmark = -1;
    if (!m_open) {
        qCDebug(lcStore) << "\nCADORecordset::Find(LPCTSTR lpFind, int nSearchDirection)-: "
                            "m_pRecordset NULL failure.";
        RecordError(adoerr::kObjectClosed, QStringLiteral("The recordset is not open."));
        return false;
    }
    if (direction != searchForward && direction != searchBackward) {
        m_findDirection = searchForward;
        qCDebug(lcStore) << "\nCADODatabase::Find(LPCTSTR lpFind, int nSearchDirection)-: Leave.";
        return false;
    }
    const int col = ColumnIndex(column);
    if (col < 0) {
        RecordError(adoerr::kItemNotFound, QStringLiteral("No column '%1'.").arg(column));
        return false;
    }
    const ColType t = m_columns[col].type;
    const bool sqlSearch =
        m_isTable && (t == ColType::Text || t == ColType::Int16 || t == ColType::Integer);
    const bool found = sqlSearch ? FindSql(col, value, direction) : FindScan(col, value, direction);
    if (found) m_findBookmark = m_rows[m_pos].rowid;
    return found;
}

bool CADORecordset::FindScan(int col, const QString& value, int direction) {
    const ColType type = m_columns[col].type;
    bool ok = true;
    if (direction == searchForward) {
        if (m_pos >= m_rows.size()) return false;
        for (int i = std::max(m_pos, 0); i < m_rows.size(); ++i) {
            if (m_rows[i].deleted) continue;
            if (CellText(CellAt(m_rows[i], col), type, {}, &ok) == value) {
                m_pos = i;
                return true;
            }
        }
        m_pos = int(m_rows.size());
        return false;
    }
    if (m_pos < 0) return false;
    for (int i = std::min(m_pos, int(m_rows.size()) - 1); i >= 0; --i) {
        if (m_rows[i].deleted) continue;
        if (CellText(CellAt(m_rows[i], col), type, {}, &ok) == value) {
            m_pos = i;
            return true;
        }
    }
    m_pos = -1;
    return false;
}

// The table answers which rows match (through an index on the column when
// there is one); the cursor then takes the nearest of them in the search
// direction. The value is bound, never pasted into the statement.
bool CADORecordset::FindSql(int col, const QString& value, int direction) {
    const bool forward = direction == searchForward;
    if (forward ? m_pos >= m_rows.size() : m_pos < 0) return false;
    const int start = forward ? std::max(m_pos, 0) : std::min(m_pos, int(m_rows.size()) - 1);
    if (start < 0 || start >= m_rows.size()) {
        m_pos = forward ? int(m_rows.size()) : -1;
        return false;
    }
    const QString colName = QuoteIdentifier(m_columns[col].name);
    // The server refuses to compare a number column with an empty text;
    // there only NULL stands for an empty number.
    const bool textLike = m_columns[col].type == ColType::Text || !m_db->IsServer();
    const QString where = !value.isEmpty() ? QStringLiteral("%1 = ?").arg(colName)
                          : textLike       ? QStringLiteral("(%1 IS NULL OR %1 = '')").arg(colName)
                                           : QStringLiteral("%1 IS NULL").arg(colName);
    // While positions follow rowids the first match in rowid order is the
    // answer; otherwise every match is looked at.
    QString sql = QStringLiteral("SELECT rowid FROM %1 WHERE %2").arg(QuotedTable(), where);
    if (m_rowidOrdered)
        sql += forward ? QStringLiteral(" AND rowid >= ? ORDER BY rowid ASC")
                       : QStringLiteral(" AND rowid <= ? ORDER BY rowid DESC");
    QSqlQuery& q = Prepared(sql);
    q.setForwardOnly(true);
    int b = 0;
    if (!value.isEmpty()) q.bindValue(b++, value);
    if (m_rowidOrdered) q.bindValue(b, m_rows[start].rowid);
    if (!q.exec()) {
        RecordSqlError(q.lastError());
        q.finish();
        return FindScan(col, value, direction); // the cursor can still answer
    }
    int best = -1;
    while (q.next()) {
        const int pos = PositionOfRowid(q.value(0).toLongLong());
        if (pos < 0) continue; // added by someone else after this cursor was read
        if (forward ? pos < start : pos > start) continue;
        if (best < 0 || (forward ? pos < best : pos > best)) best = pos;
        if (m_rowidOrdered) break;
    }
    q.finish();
    if (best < 0) {
        m_pos = forward ? int(m_rows.size()) : -1;
        return false;
    }
    m_pos = best;
    return true;
}

// ---- dates ----

QString CADORecordset::FormatDateTime(const QDateTime& dt, const QString& format) {
    static const char* const months[] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
    static const char* const days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                       "Friday", "Saturday", "Sunday"};
    const QDate d = dt.date();
    const QTime t = dt.time();
    QString out;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c != QLatin1Char('%') || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        QChar f = format[++i];
        if (f == QLatin1Char('#') && i + 1 < format.size())
            f = format[++i]; // no leading zeros: ignored
        auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
        switch (f.toLatin1()) {
        case 'Y':
            out += QString::number(d.year());
            break;
        case 'y':
            out += two(d.year() % 100);
            break;
        case 'm':
            out += two(d.month());
            break;
        case 'd':
            out += two(d.day());
            break;
        case 'H':
            out += two(t.hour());
            break;
        case 'I':
            out += two(t.hour() % 12 == 0 ? 12 : t.hour() % 12);
            break;
        case 'M':
            out += two(t.minute());
            break;
        case 'S':
            out += two(t.second());
            break;
        case 'p':
            out += t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            break;
        case 'j':
            out += QStringLiteral("%1").arg(d.dayOfYear(), 3, 10, QLatin1Char('0'));
            break;
        case 'b':
            out += QString::fromLatin1(months[d.month() - 1], 3);
            break;
        case 'B':
            out += QLatin1String(months[d.month() - 1]);
            break;
        case 'a':
            out += QString::fromLatin1(days[d.dayOfWeek() - 1], 3);
            break;
        case 'A':
            out += QLatin1String(days[d.dayOfWeek() - 1]);
            break;
        case '%':
            out += QLatin1Char('%');
            break;
        default:
            out += QLatin1Char('%') + f;
            break;
        }
    }
    return out;
}
