#include "TemplateListModel.h"

#include <algorithm>
#include <numeric>

TemplateListModel::TemplateListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TemplateListModel::SetRows(const QList<TemplateRow>& rows) {
    beginResetModel();
    m_rows = rows;
    m_ticks = QList<bool>(rows.size(), false);
    m_sortColumn = Tick;
    endResetModel();
    Q_EMIT TicksChanged();
}

int TemplateListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int TemplateListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TemplateListModel::Text(int row, Column column) const {
    if (row < 0 || row >= RowCount()) return {};
    const TemplateRow& r = m_rows.at(row);
    switch (column) {
    case TemplateName:
        return r.name;
    case DeviceComments:
        return r.deviceComments;
    case Filename:
        return r.fileName;
    default:
        return {};
    }
}

QVariant TemplateListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount()) return {};
    // The whole text as a tip too: a long file name is elided in its column.
    if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) && index.column() != Tick)
        return Text(index.row(), Column(index.column()));
    if (role == Qt::CheckStateRole && index.column() == Tick)
        return IsTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool TemplateListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != Tick || role != Qt::CheckStateRole) return false;
    SetTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

QVariant TemplateListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const char* const kTitles[] = {"", "TemplateName", "Device Comments", "Filename"};
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TemplateListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Tick) f |= Qt::ItemIsUserCheckable;
    return f;
}

void TemplateListModel::SetTicked(int row, bool ticked) {
    if (row < 0 || row >= RowCount() || m_ticks[row] == ticked) return;
    m_ticks[row] = ticked;
    Q_EMIT dataChanged(index(row, Tick), index(row, Tick), {Qt::CheckStateRole});
    Q_EMIT TicksChanged();
}

void TemplateListModel::SetAllTicked(bool ticked) {
    if (m_rows.isEmpty()) return;
    std::fill(m_ticks.begin(), m_ticks.end(), ticked);
    Q_EMIT dataChanged(index(0, Tick), index(RowCount() - 1, Tick), {Qt::CheckStateRole});
    Q_EMIT TicksChanged();
}

QList<int> TemplateListModel::TickedRows() const {
    QList<int> out;
    for (int i = 0; i < RowCount(); ++i)
        if (m_ticks[i]) out.append(i);
    return out;
}

Qt::SortOrder TemplateListModel::SortByClick(Column column) {
    const Qt::SortOrder order = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    SortRows(column, order);
    return order;
}

void TemplateListModel::SortRows(Column column, Qt::SortOrder order) {
    if (column == Tick || column >= ColumnCount) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order_(static_cast<size_t>(RowCount()));
    std::iota(order_.begin(), order_.end(), 0);
    const auto key = [&](int r) { return Text(r, column); };
    std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
        return order == Qt::AscendingOrder ? key(a) < key(b) : key(b) < key(a);
    });
    QList<TemplateRow> rows;
    QList<bool> ticks;
    for (int r : order_) {
        rows.append(m_rows[r]);
        ticks.append(m_ticks[r]);
    }
    m_rows = rows;
    m_ticks = ticks;
    m_sortColumn = column;
    m_sortOrder = order;
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QList<int> TemplateListModel::Matches(const QString& text) const {
    QList<int> out;
    if (text.isEmpty()) return out;
    const QString needle = text.toUpper();
    for (int i = 0; i < RowCount(); ++i)
        if (m_rows[i].name.toUpper().contains(needle)) out.append(i);
    return out;
}
