#include "RecordListModel.h"

#include <algorithm>

namespace {

const char* const kTitles[] = {"",
                               "ControlNo",
                               "Type of Test",
                               "Start DateTime",
                               "Set Flow Rate",
                               "Filename",
                               "Manufacturer",
                               "Model",
                               "Serial No",
                               "Inst SerialNo",
                               "Channel SerialNo"};

int MonthNumber(QStringView name) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m)
        if (name.compare(QLatin1String(kMonths[m]), Qt::CaseInsensitive) == 0) return m + 1;
    return 0;
}

QByteArray TwoDigits(QStringView part) {
    QByteArray out = part.toLatin1();
    if (out.size() < 2) out.prepend(QByteArray(2 - out.size(), '0'));
    return out;
}

} // namespace

RecordListModel::RecordListModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordListModel::SetRows(const QList<RecordListRow>& rows) {
    beginResetModel();
    m_pool.clear();
    m_offsets.clear();
    m_order.clear();
    m_ticks.clear();
    m_remembered = -1;
    m_sortColumn = Tick;
    m_sortOrder = Qt::AscendingOrder;
    Store(rows);
    m_pool.squeeze();
    endResetModel();
}

void RecordListModel::AppendRows(const QList<RecordListRow>& rows) {
    if (rows.isEmpty()) return;
    const int first = RowCount();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    Store(rows);
    endInsertRows();
}

void RecordListModel::ReserveMore(int rows) {
    if (rows <= 0 || m_ticks.empty()) return;
    const size_t n = m_ticks.size() + size_t(rows);
    const qsizetype perRow = m_pool.size() / qsizetype(m_ticks.size()) + 1;
    m_pool.reserve(std::max(m_pool.capacity(), qsizetype(n) * perRow * 9 / 8));
    m_offsets.reserve(n * kFields + 1);
    m_order.reserve(n);
    m_ticks.reserve(n);
}

void RecordListModel::Store(const QList<RecordListRow>& rows) {
    qsizetype bytes = 0;
    for (const RecordListRow& r : rows)
        bytes += 2 * r.controlNumber.size() + r.typeOfTest.size() + r.startDate.size() +
                 r.startTime.size() + r.setFlowRate.size() + r.fileName.size() +
                 r.manufacture.size() + r.model.size() + r.serialNumber.size() +
                 r.instSerialNum.size() + r.tdSerialNum.size();
    // The end mark of the rows so far is the first offset of the new ones.
    if (!m_offsets.empty()) m_offsets.pop_back();
    // Room for the first rows exactly; rows that arrive later grow the
    // storage by half again, never by the piece (that copies it each time).
    const auto grow = [](auto& v, auto need) {
        if (need > decltype(need)(v.capacity()))
            v.reserve(v.capacity() == 0 ? need
                                        : std::max(need, decltype(need)(v.capacity() * 3 / 2)));
    };
    grow(m_pool, m_pool.size() + bytes + bytes / 8);
    grow(m_offsets, m_offsets.size() + size_t(rows.size()) * kFields + 1);
    grow(m_order, m_order.size() + size_t(rows.size()));
    grow(m_ticks, m_ticks.size() + size_t(rows.size()));
    for (const RecordListRow& r : rows) {
        m_order.push_back(uint32_t(m_ticks.size()));
        m_ticks.push_back(0);
        for (const QString* s : {&r.controlNumber, &r.typeOfTest, &r.startDate, &r.startTime,
                                 &r.setFlowRate, &r.fileName, &r.manufacture, &r.model,
                                 &r.serialNumber, &r.instSerialNum, &r.tdSerialNum}) {
            m_offsets.push_back(uint32_t(m_pool.size()));
            m_pool += s->toUtf8();
        }
        m_offsets.push_back(uint32_t(m_pool.size()));
        m_pool += r.controlNumber.toUpper().toUtf8();
    }
    m_offsets.push_back(uint32_t(m_pool.size()));
}

size_t RecordListModel::BytesHeld() const {
    return size_t(m_pool.capacity()) + m_offsets.capacity() * sizeof(uint32_t) +
           m_order.capacity() * sizeof(uint32_t) + m_ticks.capacity();
}

std::string_view RecordListModel::FieldView(uint32_t stored, int field) const {
    const size_t at = size_t(stored) * kFields + field;
    return std::string_view(m_pool.constData() + m_offsets[at], m_offsets[at + 1] - m_offsets[at]);
}

QString RecordListModel::FieldText(uint32_t stored, int field) const {
    const std::string_view v = FieldView(stored, field);
    return QString::fromUtf8(v.data(), qsizetype(v.size()));
}

int RecordListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int RecordListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString RecordListModel::Text(int row, Column column) const {
    if (row < 0 || row >= RowCount()) return {};
    const uint32_t s = m_order[size_t(row)];
    switch (column) {
    case ControlNo:
        return FieldText(s, FControl);
    case TypeOfTest:
        return FieldText(s, FType);
    case StartDateTime:
        return FieldText(s, FDate) + QLatin1Char(' ') + FieldText(s, FTime);
    case SetFlowRate:
        return FlowRateText(FieldText(s, FRate));
    case Filename:
        return FieldText(s, FFile);
    case Manufacturer:
        return FieldText(s, FManuf);
    case Model:
        return FieldText(s, FModel);
    case SerialNo:
        return FieldText(s, FSerial);
    case InstSerialNo:
        return FieldText(s, FInst);
    case ChannelSerialNo:
        return FieldText(s, FTd);
    default:
        return {};
    }
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= RowCount()) return {};
    const int column = index.column();
    if (role == Qt::DisplayRole && column != Tick) return Text(index.row(), Column(column));
    if (role == Qt::CheckStateRole && column == Tick)
        return IsTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue((column == Tick || column == TypeOfTest || column == SetFlowRate
                                        ? Qt::AlignHCenter
                                        : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    return {};
}

bool RecordListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != Tick || role != Qt::CheckStateRole) return false;
    SetTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

QVariant RecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kTitles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            (section == TypeOfTest || section == SetFlowRate ? Qt::AlignHCenter : Qt::AlignLeft) |
            Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags RecordListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == Tick) f |= Qt::ItemIsUserCheckable;
    return f;
}

int RecordListModel::EmptyFlowRateCount() const {
    int n = 0;
    for (uint32_t s : m_order)
        if (FieldView(s, FRate).empty()) ++n;
    return n;
}

int RecordListModel::PositionOf(uint32_t stored) const {
    const auto it = std::find(m_order.begin(), m_order.end(), stored);
    return it == m_order.end() ? -1 : int(it - m_order.begin());
}

void RecordListModel::SetTicked(int row, bool ticked) {
    if (row < 0 || row >= RowCount()) return;
    const uint32_t s = m_order[size_t(row)];
    const auto changed = [this](int r) {
        if (r >= 0) Q_EMIT dataChanged(index(r, Tick), index(r, Tick), {Qt::CheckStateRole});
    };
    if (ticked) {
        if (m_remembered != int64_t(s)) {
            if (m_remembered >= 0 && m_ticks[size_t(m_remembered)]) {
                m_ticks[size_t(m_remembered)] = 0;
                changed(PositionOf(uint32_t(m_remembered)));
            }
            m_remembered = s;
        }
        m_ticks[s] = 1;
    } else {
        m_ticks[s] = 0;
        if (m_remembered == int64_t(s)) m_remembered = -1;
    }
    changed(row);
}

void RecordListModel::RowClicked(int row) {
    if (row >= 0 && row < RowCount()) m_remembered = m_order[size_t(row)];
}

bool RecordListModel::IsTicked(int row) const {
    return row >= 0 && row < RowCount() && m_ticks[m_order[size_t(row)]];
}

QList<int> RecordListModel::TickedRows() const {
    QList<int> out;
    for (size_t i = 0; i < m_order.size(); ++i)
        if (m_ticks[m_order[i]]) out.append(int(i));
    return out;
}

int RecordListModel::RememberedRow() const {
    return m_remembered < 0 ? -1 : PositionOf(uint32_t(m_remembered));
}

QString RecordListModel::FlowRateText(const QString& stored) {
    const qsizetype dot = stored.indexOf(QLatin1Char('.'));
    if (dot < 0) return stored;
    QString t = stored.left(dot + 3);
    while (t.size() > 1 && t.at(0) == QLatin1Char('0') && t.at(1) != QLatin1Char('.'))
        t.remove(0, 1);
    return t;
}

QByteArray RecordListModel::StartDateTimeKey(const QString& date, const QString& time) {
    const QStringList d = date.split(QLatin1Char('-'));
    QByteArray key;
    key.reserve(12);
    key += TwoDigits(QStringView(d.value(2)).right(2));
    key += TwoDigits(QString::number(MonthNumber(d.value(1))));
    key += TwoDigits(QStringView(d.value(0)).left(2));
    const QStringList t = time.split(QLatin1Char(':'));
    key += TwoDigits(t.value(0));
    key += TwoDigits(t.value(1));
    key += t.value(2).toLatin1();
    return key;
}

Qt::SortOrder RecordListModel::SortByClick(Column column) {
    Qt::SortOrder order;
    if (column == m_sortColumn)
        order = m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        order = column == StartDateTime ? Qt::DescendingOrder : Qt::AscendingOrder;
    SortRows(column, order);
    return order;
}

void RecordListModel::SortRows(Column column, Qt::SortOrder order) {
    if (column == Tick || column >= ColumnCount) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<uint32_t> oldOrder;
    if (!before.isEmpty()) oldOrder = m_order;
    const bool down = order == Qt::DescendingOrder;
    const auto sortBy = [&](auto less) {
        if (down)
            std::stable_sort(m_order.begin(), m_order.end(),
                             [&](uint32_t a, uint32_t b) { return less(b, a); });
        else
            std::stable_sort(m_order.begin(), m_order.end(), less);
    };
    if (column == StartDateTime || column == SetFlowRate) {
        // Keys made once per row, not per comparison.
        if (column == StartDateTime) {
            std::vector<QByteArray> keys(m_ticks.size());
            for (uint32_t s : m_order)
                keys[s] = StartDateTimeKey(FieldText(s, FDate), FieldText(s, FTime));
            sortBy([&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
        } else {
            // By value: the same order as the "%6.2f" texts below 1000 ml/h,
            // and 1000 ml/h and more still come after 999.
            std::vector<double> keys(m_ticks.size());
            for (uint32_t s : m_order) {
                const std::string_view v = FieldView(s, FRate);
                keys[s] = QByteArray(v.data(), qsizetype(v.size())).trimmed().toDouble();
            }
            sortBy([&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
        }
    } else {
        static const int kFieldOf[] = {0,      FControlUpper, FType,   FDate, FRate, FFile,
                                       FManuf, FModel,        FSerial, FInst, FTd};
        const int field = kFieldOf[column];
        sortBy([&](uint32_t a, uint32_t b) { return FieldView(a, field) < FieldView(b, field); });
    }
    m_sortColumn = column;
    m_sortOrder = order;
    if (!before.isEmpty()) {
        std::vector<int> newPos(m_ticks.size(), -1);
        for (size_t i = 0; i < m_order.size(); ++i) newPos[m_order[i]] = int(i);
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& i : before)
            after.append(index(newPos[oldOrder[size_t(i.row())]], i.column()));
        changePersistentIndexList(before, after);
    }
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QList<int> RecordListModel::Matches(const QString& text) const {
    QList<int> out;
    if (text.isEmpty()) return out;
    const QByteArray needle = text.toUpper().toUtf8();
    const std::string_view n(needle.constData(), size_t(needle.size()));
    for (size_t i = 0; i < m_order.size(); ++i)
        if (FieldView(m_order[i], FControlUpper).find(n) != std::string_view::npos)
            out.append(int(i));
    return out;
}

void RecordListModel::RemoveListRow(int row) {
    if (row < 0 || row >= RowCount()) return;
    beginRemoveRows({}, row, row);
    const uint32_t s = m_order[size_t(row)];
    m_ticks[s] = 0;
    if (m_remembered == int64_t(s)) m_remembered = -1;
    m_order.erase(m_order.begin() + row);
    endRemoveRows();
}
