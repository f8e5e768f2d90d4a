#pragma once

#include "records/Template.h"

#include <QAbstractTableModel>
#include <QList>

// The rows of the template browser: a check box, name, device comments and
// file name. Any number of rows may be ticked.
class TemplateListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Tick, TemplateName, DeviceComments, Filename, ColumnCount };

    explicit TemplateListModel(QObject* parent = nullptr);

    void SetRows(const QList<TemplateRow>& rows);
    const TemplateRow& Row(int row) const { return m_rows.at(row); }
    int RowCount() const { return int(m_rows.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QString Text(int row, Column column) const;
    void SetTicked(int row, bool ticked);
    void SetAllTicked(bool ticked);
    bool IsTicked(int row) const { return row >= 0 && row < RowCount() && m_ticks.at(row); }
    QList<int> TickedRows() const;
    bool AnyTicked() const { return !TickedRows().isEmpty(); }

    // First click on a column ascending, each further click reverses.
    Qt::SortOrder SortByClick(Column column);
    void SortRows(Column column, Qt::SortOrder order);
    Column SortColumn() const { return m_sortColumn; }

    // Rows whose name contains text, both in upper case.
    QList<int> Matches(const QString& text) const;

Q_SIGNALS:
    void TicksChanged();

private:
    QList<TemplateRow> m_rows;
    QList<bool> m_ticks;
    Column m_sortColumn = Tick;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
