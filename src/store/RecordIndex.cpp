#include "RecordIndex.h"

#include "ServerRowsLoader.h"

#include "base/AppSettings.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString kUnknownControl = QStringLiteral("zzUNKNOWN");

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// atoi: leading blanks, a sign, digits; 0 when there is no number.
int LeadingInt(const QString& s) {
    qsizetype i = 0;
    while (i < s.size() && (s[i] == QLatin1Char(' ') || s[i] == QLatin1Char('\t'))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) {
        negative = s[i] == QLatin1Char('-');
        ++i;
    }
    long long v = 0;
    while (i < s.size() && s[i].isDigit() && v < 1000000) v = v * 10 + s[i++].digitValue();
    return int(negative ? -v : v);
}

int MonthOfName(const QString& token) {
    if (token.size() < 3) return 0;
    const QString t = token.left(3);
    for (int m = 0; m < 12; ++m)
        if (t.compare(QLatin1String(kMonths[m]), Qt::CaseInsensitive) == 0) return m + 1;
    return 0;
}

bool AllDigits(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (!c.isDigit()) return false;
    return true;
}

// A date and time with the date's numbers in day-month order (or month-day
// when dayFirst is false); a month written as a name settles the order.
QDateTime ParseDateTime(const QString& text, bool dayFirst) {
    const QString t = text.simplified();
    if (t.isEmpty()) return {};
    // The time is the part with colons; the rest is the date.
    QString datePart = t, timePart;
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        const qsizetype blank = t.lastIndexOf(QLatin1Char(' '), colon);
        if (blank < 0) return {};
        datePart = t.left(blank);
        timePart = t.mid(blank + 1);
    }
    QStringList d =
        datePart.split(QRegularExpression(QStringLiteral("[-/. ]")), Qt::SkipEmptyParts);
    if (d.size() != 3) return {};
    int day = 0, month = 0, year = 0;
    if (!AllDigits(d[1]) && (month = MonthOfName(d[1])) > 0 && AllDigits(d[0])) {
        day = d[0].toInt();
    } else if (!AllDigits(d[0]) && (month = MonthOfName(d[0])) > 0 && AllDigits(d[1])) {
        day = d[1].toInt(); // "Dec-08-2026"
    } else {
        if (!AllDigits(d[0]) || !AllDigits(d[1])) return {};
        day = (dayFirst ? d[0] : d[1]).toInt();
        month = (dayFirst ? d[1] : d[0]).toInt();
    }
    if (!AllDigits(d[2]) || d[2].size() > 4) return {};
    year = d[2].toInt();
    if (d[2].size() <= 2) year += year < 30 ? 2000 : 1900;
    const QDate date(year, month, day);
    if (!date.isValid()) return {};
    QTime time(0, 0, 0);
    if (!timePart.isEmpty()) {
        const QStringList p = timePart.split(QLatin1Char(':'));
        if (p.size() < 2 || p.size() > 3) return {};
        for (const QString& x : p)
            if (!AllDigits(x) || x.size() > 2) return {};
        time = QTime(p[0].toInt(), p[1].toInt(), p.size() == 3 ? p[2].toInt() : 0);
        if (!time.isValid()) return {};
    }
    // The wall-clock text as written: in local time a start inside a
    // daylight-saving gap would not exist.
    return QDateTime(date, time, Qt::UTC);
}
} // namespace

RecordIndex::RecordIndex(const AppSettings& settings) : m_settings(settings) {}

QString RecordIndex::SeedFolder() const {
    return StoreTable::SeedFolderOf(m_settings, m_seedFolder);
}

QString RecordIndex::DataFolder() const {
    return StoreTable::DataFolderOf(m_settings, m_dataFolder);
}

bool RecordIndex::Open() {
    if (!m_table.OpenFor(m_settings, m_dataFolder, m_seedFolder)) return false;
    if (OnServer() && m_startupFinished) AddQueuedRows();
    return true;
}

bool RecordIndex::ServerExec(const QString& sql, const QVariantList& values, QVariant* first) {
    if (!IsOpen()) return false;
    CADODatabase& db = m_table.Database();
    QSqlQuery q(db.Connection());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (!q.exec() || (first && !q.next())) {
        const QSqlError e = q.lastError();
        db.RecordError(adoerr::CodeOf(e), e.driverText(), QStringLiteral("QPSQL"),
                       e.databaseText());
        return false;
    }
    if (first) *first = q.value(0);
    return true;
}

int RecordIndex::GetCount() {
    if (OnServer()) {
        const ServerCallLimit limit(m_table.Database());
        QVariant n;
        return ServerExec(QStringLiteral("SELECT count(*) FROM \"RivuletrixRecords\""), {}, &n)
                   ? n.toInt()
                   : 0;
    }
    CADORecordset* rs = m_table.Recordset();
    return rs ? rs->GetRecordCount() : 0;
}

bool RecordIndex::ClearAll() {
    if (OnServer()) {
        const ServerCallLimit limit(m_table.Database());
        return ServerExec(QStringLiteral("DELETE FROM \"RivuletrixRecords\""));
    }
    CADORecordset* rs = m_table.Recordset();
    if (!rs || !rs->IsOpen()) return false;
    return rs->DeleteALL(rs->GetRecordCount());
}

QList<std::pair<QString, QVariant>> RecordIndex::Fields(const RecordIndexRow& r) {
    // Every column, in the order of the table; no date is a null date.
    return {{QStringLiteral("ControlNumber"), r.controlNumber},
            {QStringLiteral("TypeofTest"), r.typeOfTest},
            {QStringLiteral("StartDate"), r.startDate},
            {QStringLiteral("StartTime"), r.startTime},
            {QStringLiteral("DateTime"), r.dateTime.isValid()
                                             ? QVariant(r.dateTime)
                                             : QVariant(QMetaType::fromType<QDateTime>())},
            {QStringLiteral("Filename"), r.fileName},
            {QStringLiteral("Operator"), r.operatorName},
            {QStringLiteral("Manufacture"), r.manufacture},
            {QStringLiteral("Model"), r.model},
            {QStringLiteral("SerialNumber"), r.serialNumber},
            {QStringLiteral("Location"), r.location},
            {QStringLiteral("Comments"), r.comments},
            {QStringLiteral("ChannelNo"), r.channelNo},
            {QStringLiteral("TdSerialNum"), r.tdSerialNum},
            {QStringLiteral("TdVersion"), r.tdVersion},
            {QStringLiteral("InstSerialNum"), r.instSerialNum},
            {QStringLiteral("InstVersion"), r.instVersion},
            {QStringLiteral("InstModel"), r.instModel},
            {QStringLiteral("InstManuf"), r.instManuf},
            {QStringLiteral("InstDesc"), r.instDesc},
            {QStringLiteral("SetPcaTime"), r.setPcaTime},
            {QStringLiteral("RepHeader1"), r.repHeader1},
            {QStringLiteral("RepHeader2"), r.repHeader2},
            {QStringLiteral("RepHeader3"), r.repHeader3},
            {QStringLiteral("Tolerance"), r.tolerance},
            {QStringLiteral("DeviceType"), r.deviceType},
            {QStringLiteral("SetFlowRate"), r.setFlowRate},
            {QStringLiteral("SetVolume"), r.setVolume},
            {QStringLiteral("SetBasalFlowRate"), r.setBasalFlowRate},
            {QStringLiteral("SetPcaVolume"), r.setPcaVolume}};
}

bool RecordIndex::AddRow(const RecordIndexRow& r) {
    return OnServer() ? AddServerRow(r) : AddRowTo(m_table.Recordset(), r);
}

bool RecordIndex::AddRowTo(CADORecordset* rs, const RecordIndexRow& r) {
    if (!rs || !rs->AddNew()) return false;
    bool ok = true;
    for (const auto& [column, value] : Fields(r)) {
        if (value.typeId() == QMetaType::Int)
            ok = rs->PutFieldValue(column, value.toInt());
        else if (value.typeId() == QMetaType::QDateTime && !value.isNull())
            ok = rs->PutFieldValue(column, value.toDateTime());
        else
            ok = rs->PutFieldValue(column, value.toString());
        if (!ok) break;
    }
    if (ok && rs->Update()) return true;
    rs->CancelUpdate();
    return false;
}

// One row per record file, however often it is offered: a row the server
// took just before it stopped answering, or rows of a catch-up that a crash
// cut short, are offered again and must not be made twice. The lock orders
// two programs offering the same file at once.
bool RecordIndex::AddServerRow(const RecordIndexRow& r) {
    if (!IsOpen()) return false;
    CADODatabase& db = m_table.Database();
    const ServerCallLimit limit(db);
    if (!db.BeginTrans()) return false;
    QStringList columns, marks;
    QVariantList values;
    for (const auto& [column, value] : Fields(r)) {
        columns << QLatin1Char('"') + column + QLatin1Char('"');
        marks << QStringLiteral("?");
        values << value;
    }
    QVariant present;
    const bool ok =
        ServerExec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"), {r.fileName}) &&
        ServerExec(QStringLiteral("SELECT count(*) FROM \"RivuletrixRecords\" WHERE "
                                  "\"Filename\" = ?"),
                   {r.fileName}, &present) &&
        (present.toInt() > 0 ||
         ServerExec(QStringLiteral("INSERT INTO \"RivuletrixRecords\" (%1) VALUES (%2)")
                        .arg(columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                    values));
    if (!ok) {
        db.RollbackTrans();
        return false;
    }
    return db.CommitTrans();
}

// On a server other programs add rows all the time: the browser and the
// equipment look-up ask the table itself rather than this program's cursor,
// which holds the rows as they were when the index was opened.
bool RecordIndex::ListServerRows(QList<RecordListRow>& rows) {
    if (!IsOpen()) return false;
    // The whole table may take a while on a busy server; only one that
    // stopped answering is cut.
    constexpr int kWholeTableMs = 60000;
    const ServerCallLimit callLimit(m_table.Database(), kWholeTableMs);
    QSqlError error;
    qint64 last = 0;
    if (!ServerRowsLoader::Fetch(m_table.Database().Connection(), 0, 0, rows, last, error)) {
        m_table.Database().RecordError(adoerr::CodeOf(error), error.driverText(),
                                       QStringLiteral("QPSQL"), error.databaseText());
        return false;
    }
    return !rows.isEmpty();
}

QString RecordIndex::ErrorDescription() const {
    return LastError().section(QLatin1String("Description = "), -1).trimmed();
}

bool RecordIndex::FindServerEquipment(const QString& controlNumber, EquipmentDetails& details) {
    if (!IsOpen()) return false;
    const ServerCallLimit limit(m_table.Database());
    QSqlQuery q(m_table.Database().Connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT \"ControlNumber\", \"Operator\", \"Manufacture\", "
                             "\"Model\", \"SerialNumber\", \"Location\", \"Comments\" FROM "
                             "\"RivuletrixRecords\" WHERE \"ControlNumber\" = ? ORDER BY rowid "
                             "DESC LIMIT 1"));
    q.addBindValue(controlNumber);
    if (!q.exec() || !q.next()) return false;
    details = EquipmentDetails{};
    details.controlNumber = q.value(0).toString();
    details.operatorName = q.value(1).toString();
    details.manufacture = q.value(2).toString();
    details.model = q.value(3).toString();
    details.serialNumber = q.value(4).toString();
    details.location = q.value(5).toString();
    details.comments = q.value(6).toString();
    return true;
}

bool RecordIndex::ListRows(QList<RecordListRow>& rows) {
    rows.clear();
    if (OnServer()) return ListServerRows(rows);
    return m_table.ReadEveryRow(rows, [](CADORecordset& rs, RecordListRow& r) {
        rs.GetFieldValue(QStringLiteral("ControlNumber"), r.controlNumber);
        rs.GetFieldValue(QStringLiteral("TypeofTest"), r.typeOfTest);
        rs.GetFieldValue(QStringLiteral("StartDate"), r.startDate);
        rs.GetFieldValue(QStringLiteral("StartTime"), r.startTime);
        rs.GetFieldValue(QStringLiteral("SetFlowRate"), r.setFlowRate);
        rs.GetFieldValue(QStringLiteral("Manufacture"), r.manufacture);
        rs.GetFieldValue(QStringLiteral("SerialNumber"), r.serialNumber);
        rs.GetFieldValue(QStringLiteral("Model"), r.model);
        rs.GetFieldValue(QStringLiteral("TdSerialNum"), r.tdSerialNum);
        rs.GetFieldValue(QStringLiteral("InstSerialNum"), r.instSerialNum);
        rs.GetFieldValue(QStringLiteral("Filename"), r.fileName);
    });
}

bool RecordIndex::FindEquipment(const QString& controlNumber, EquipmentDetails& details) {
    if (OnServer()) return FindServerEquipment(controlNumber, details);
    if (!m_table.HoldsRows()) return false;
    CADORecordset* rs = m_table.Recordset();
    // From the last row backward: the latest row added with that number.
    rs->MoveLast();
    const bool found =
        rs->Find(CADORecordset::Criterion(QStringLiteral("ControlNumber"), controlNumber),
                 CADORecordset::searchBackward);
    if (found) {
        details = EquipmentDetails{};
        rs->GetFieldValue(QStringLiteral("ControlNumber"), details.controlNumber);
        rs->GetFieldValue(QStringLiteral("Operator"), details.operatorName);
        rs->GetFieldValue(QStringLiteral("Manufacture"), details.manufacture);
        rs->GetFieldValue(QStringLiteral("Model"), details.model);
        rs->GetFieldValue(QStringLiteral("SerialNumber"), details.serialNumber);
        rs->GetFieldValue(QStringLiteral("Location"), details.location);
        rs->GetFieldValue(QStringLiteral("Comments"), details.comments);
    }
    rs->MoveFirst();
    return found;
}

bool RecordIndex::DeleteRow(const QString& column, const QString& value) {
    if (OnServer()) {
        if (!IsOpen() && !Open()) return false;
        // The column is one of the table's, never a text from elsewhere.
        const QStringList names = store::ColumnNames(store::DbKind::Records);
        const qsizetype c = names.indexOf(column);
        if (c < 0) return false;
        const ServerCallLimit limit(m_table.Database());
        QVariant deleted;
        return ServerExec(QStringLiteral("WITH d AS (DELETE FROM \"RivuletrixRecords\" WHERE "
                                         "rowid = (SELECT rowid FROM \"RivuletrixRecords\" "
                                         "WHERE \"%1\" = ? ORDER BY rowid LIMIT 1) RETURNING 1) "
                                         "SELECT count(*) FROM d")
                              .arg(names[c]),
                          {value}, &deleted) &&
               deleted.toInt() == 1;
    }
    Open();
    return m_table.DeleteFirst(column, value);
}

QString RecordIndex::NormaliseStartDate(const QString& d) {
    if (d.size() >= 7 && d[6] == QLatin1Char('-')) return d.left(7) + d.right(2); // 08-Dec-2026
    const int month = LeadingInt(d.mid(3, 2));                                    // 08/12/2026
    const QString name = month > 12  ? QStringLiteral("Inv")
                         : month < 1 ? QStringLiteral("Jan")
                                     : QLatin1String(kMonths[month - 1]);
    return d.left(2) + QLatin1Char('-') + name + QLatin1Char('-') + d.right(2);
}

QDateTime RecordIndex::ParseStartDateTime(const QString& date, const QString& time) {
    const QString text = date + QLatin1Char(' ') + time;
    QDateTime dt = ParseDateTime(text, true); // English (United Kingdom) order
    if (!dt.isValid()) {
        // The user's own convention, when it puts the month first.
        const QString fmt = QLocale::system().dateFormat(QLocale::ShortFormat);
        const qsizetype m = fmt.indexOf(QLatin1Char('M')), dd = fmt.indexOf(QLatin1Char('d'));
        if (m >= 0 && dd >= 0 && m < dd) dt = ParseDateTime(text, false);
    }
    if (!dt.isValid()) dt = QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0), Qt::UTC);
    return dt;
}
