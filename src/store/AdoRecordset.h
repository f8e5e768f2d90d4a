#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <cstdint>

class CADODatabase;

// A cursor over one table (or query) of a CADODatabase. The cursor is client
// side: Open reads the rows into memory, each keeping its rowid as bookmark;
// writes go straight to the table and are mirrored in the cursor. No
// operation throws or shows a message: failures return false and leave the
// last error text and code behind.
class CADORecordset {
public:
    enum OpenOption { openUnknown = 0, openQuery = 1, openTable = 2, openStoredProc = 3 };
    enum SearchDirection { searchForward = 1, searchBackward = -1 };
    enum EditMode { dbEditNone = 0, dbEditNew = 1, dbEdit = 2 };

    explicit CADORecordset(CADODatabase* database);
    virtual ~CADORecordset();
    CADORecordset(const CADORecordset&) = delete;
    CADORecordset& operator=(const CADORecordset&) = delete;

    bool Open(const QString& source = {}, int option = openUnknown);
    bool IsOpen() const { return m_open; }
    // Cancels a pending edit and closes.
    void Close();

    // The row count; counts by hand when the engine does not know it.
    int GetRecordCount();

    void MoveFirst();
    void MoveNext();
    void MovePrevious();
    void MoveLast();
    bool IsEof() const;
    bool IsBof() const;

    bool GetFieldValue(const QString& column, int& value);
    // Any value as text; dateFormat uses strftime conversions, empty means
    // "%Y-%m-%d %H:%M:%S".
    bool GetFieldValue(const QString& column, QString& value, const QString& dateFormat = {});
    // Empty text is stored as NULL.
    bool PutFieldValue(const QString& column, const QString& value);
    bool PutFieldValue(const QString& column, const char* value) {
        return PutFieldValue(column, QString::fromUtf8(value));
    }
    // A 16-bit column refuses values outside -32768..32767.
    bool PutFieldValue(const QString& column, int value);
    bool PutFieldValue(const QString& column, const QDateTime& value);

    bool AddNew();
    bool Update();
    bool CancelUpdate();
    // Deletes the current row at once; it stays the current row (neither BOF
    // nor EOF) until the cursor moves.
    bool Delete();
    // Deletes up to rows rows from the first; true when all were deleted.
    bool DeleteALL(int rows);

    // criterion: column='value' (quotes inside the value doubled, as
    // Criterion() writes them). Forward searches from the current row on,
    // backward from the current row back.
    bool Find(const QString& criterion, int direction = searchForward);
    bool Find(const QString& column, const QString& value, int direction);

    // The rowid of the current row; -1 when there is none.
    qint64 GetBookmark() const;
    bool SetBookmark(qint64 bookmark);
    qint64 GetFindBookmark() const { return m_findBookmark; }

    int GetEditMode() const { return m_editMode; }
    QString GetSource() const { return m_source; }
    QString GetLastFind() const { return m_lastFind; }
    int GetLastFindDirection() const { return m_findDirection; }
    QString GetLastErrorString() const { return m_lastErrorText; }
    uint32_t GetLastError() const { return m_lastError; }
    QStringList Columns() const;

    // Some engines do not know the row count of an open cursor; this makes
    // GetRecordCount take the counting path that serves them.
    void SetEngineCountUnknown(bool unknown) { m_countUnknown = unknown; }
    // A table opened for adding rows only reads none of the rows it holds
    // (a server's index may hold millions; the callers ask the table).
    void SetAppendOnly(bool appendOnly) { m_appendOnly = appendOnly; }

    // column='value' with the value's quotes doubled.
    static QString Criterion(const QString& column, const QString& value);
    // Splits a criterion; false when it is not of the form column='value'.
    static bool ParseCriterion(const QString& criterion, QString* column, QString* value);
    // strftime-style formatting of a date-time.
    static QString FormatDateTime(const QDateTime& dt, const QString& format);

    enum class ColType : uint8_t { Text, Int16, Integer, Real, DateTime, Boolean };

private:
    struct Column {
        QString name;
        ColType type = ColType::Text;
    };
    struct Row {
        qint64 rowid = -1;
        QByteArray packed; // one tagged value per column
        bool deleted = false;
    };
    struct Cell {
        uint8_t tag = 0; // 0 NULL, 1 integer, 2 real, 3 text (UTF-8), 4 blob
        qint64 i = 0;
        double d = 0;
        const char* p = nullptr;
        int len = 0;
    };

    void RecordError(uint32_t code, const QString& description, const QString& source = {});
    void RecordSqlError(const class QSqlError& e);
    void KeepError(uint32_t code, const QString& meaning, const QString& source,
                   const QString& description);
    bool Load(QString sql, bool table);
    bool HasCurrentRow() const;
    bool IsDeletedCurrent() const;
    int ColumnIndex(const QString& name) const;
    Cell CellAt(const Row& row, int column) const;
    static QVariant CellValue(const Cell& c);
    static void AppendPacked(QByteArray& out, const QVariant& v);
    QVariant StorageValue(int column, const QVariant& v) const;
    QString CellText(const Cell& c, ColType type, const QString& dateFormat, bool* ok) const;
    int FirstLive();
    int LastLive() const;
    int PositionOfRowid(qint64 rowid) const;
    bool FindColumn(const QString& column, const QString& value, int direction);
    bool FindScan(int column, const QString& value, int direction);
    bool FindSql(int column, const QString& value, int direction);
    bool CurrentRowRequired(const char* operation);
    // The column's index; -1, with the error kept, when there is none.
    int FieldRequired(const QString& column, const char* operation);
    void StartEdit(int mode);
    bool PutValue(const QString& column, const QVariant& value);
    // Runs a prepared statement and frees its result; false, with the error
    // kept, when it failed.
    bool ExecAndFinish(QSqlQuery& q);
    QSqlQuery& Prepared(const QString& sql);
    QString QuotedTable() const;

    CADODatabase* m_db;
    bool m_open = false;
    bool m_isTable = false;
    QString m_source;
    QString m_table;
    int m_option = openUnknown;
    QVector<Column> m_columns;
    QHash<QString, int> m_columnIndex; // name as declared and in lower case -> index
    QVector<Row> m_rows;
    int m_pos = -1; // -1 before the first row, m_rows.size() after the last
    int m_live = 0;
    int m_firstLiveHint = 0;
    QHash<qint64, int> m_positionOfRowid; // live rows only
    // True while positions grow with rowids. SQLite may hand a new row the
    // rowid of a deleted one, which this cursor still holds.
    bool m_rowidOrdered = true;
    bool m_countUnknown = false;
    bool m_appendOnly = false;

    int m_editMode = dbEditNone;
    QVector<QVariant> m_pending;
    QVector<bool> m_pendingSet;

    QString m_lastFind;
    int m_findDirection = searchForward;
    qint64 m_findBookmark = -1;

    QString m_lastErrorText;
    uint32_t m_lastError = 0;

    QHash<QString, QSqlQuery> m_statements; // prepared once, by their text
    QSqlQuery m_unprepared;
};
