#pragma once

#include "RecordIndex.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>

#include <cstdint>
#include <string_view>
#include <vector>

// The rows of the record browser. A browser may list a hundred thousand
// records, so the texts are kept in one UTF-8 pool with an offset per field
// (about 150 bytes a row) and turned into QStrings only for the rows on
// screen; sorting reorders a list of row numbers. The check-box column holds
// the tick of each row under the browser's tick rule.
class RecordListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Tick,
        ControlNo,
        TypeOfTest,
        StartDateTime,
        SetFlowRate,
        Filename,
        Manufacturer,
        Model,
        SerialNo,
        InstSerialNo,
        ChannelSerialNo,
        ColumnCount
    };

    explicit RecordListModel(QObject* parent = nullptr);

    void SetRows(const QList<RecordListRow>& rows);
    // Rows that arrive later go at the end, sorted or not: a sort for every
    // piece of a million rows would cost more than the rows themselves.
    void AppendRows(const QList<RecordListRow>& rows);
    // Room for so many more rows, the size of the rows so far, so that rows
    // arriving in pieces do not copy the storage as it grows.
    void ReserveMore(int rows);
    int RowCount() const { return int(m_order.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text a column shows for the row at position row.
    QString Text(int row, Column column) const;
    QString FileName(int row) const { return Text(row, Filename); }
    // Rows whose set flow rate is empty (their index predates the column).
    int EmptyFlowRateCount() const;

    // Tick rule: the browser remembers one row. Ticking a row that is not the
    // remembered one clears the remembered row's tick and remembers the new
    // one; clearing the remembered row's tick forgets it. A click on a row
    // also remembers it.
    void SetTicked(int row, bool ticked);
    void RowClicked(int row);
    bool IsTicked(int row) const;
    QList<int> TickedRows() const;
    int RememberedRow() const; // -1 when none

    // A header click: the same column again reverses the order; another
    // column starts ascending, except Start DateTime, which starts with the
    // latest record. Returns the order now shown.
    Qt::SortOrder SortByClick(Column column);
    // Stable sort of the rows by a column.
    void SortRows(Column column, Qt::SortOrder order);
    Column SortColumn() const { return m_sortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }

    // Rows whose control number contains text, both in upper case, in row
    // order. Empty text matches nothing.
    QList<int> Matches(const QString& text) const;

    // Takes the row at position row out of the list.
    void RemoveListRow(int row);

    // "5.500000" -> "5.50": cut two characters after the first '.', then drop
    // leading zeros while the character after the first is not '.'.
    static QString FlowRateText(const QString& stored);
    // yymmddHHMMSS of "dd-Mmm-yy" and "H:M:S" (one-digit hour or minute
    // padded), compared as text.
    static QByteArray StartDateTimeKey(const QString& date, const QString& time);

    // Bytes held per row, for the memory figures.
    size_t BytesHeld() const;

private:
    enum Field {
        FControl,
        FType,
        FDate,
        FTime,
        FRate,
        FFile,
        FManuf,
        FModel,
        FSerial,
        FInst,
        FTd,
        FControlUpper,
        kFields
    };
    void Store(const QList<RecordListRow>& rows);
    std::string_view FieldView(uint32_t stored, int field) const;
    QString FieldText(uint32_t stored, int field) const;
    int PositionOf(uint32_t stored) const;

    QByteArray m_pool;
    std::vector<uint32_t> m_offsets; // kFields per stored row, then one end mark
    std::vector<uint32_t> m_order;   // stored row of each list position
    std::vector<uint8_t> m_ticks;    // per stored row
    int64_t m_remembered = -1;       // stored row
    Column m_sortColumn = Tick;      // Tick: not sorted
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
