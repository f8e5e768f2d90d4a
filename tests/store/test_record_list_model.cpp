// The record browser's rows without a screen: the set flow rate as shown,
// the Start DateTime key, the tick rule, each column's sort order and the
// search by control number.
#include "store/RecordListModel.h"

#include <QtTest>

namespace {

RecordListRow Row(const QString& control, const QString& date = QStringLiteral("08-Dec-26"),
                  const QString& time = QStringLiteral("14:05:09"),
                  const QString& rate = QStringLiteral("5.500000"),
                  const QString& manufacturer = QStringLiteral("Acme")) {
    RecordListRow r;
    r.controlNumber = control;
    r.typeOfTest = QStringLiteral("F");
    r.startDate = date;
    r.startTime = time;
    r.setFlowRate = rate;
    r.manufacture = manufacturer;
    r.model = QStringLiteral("P-100");
    r.serialNumber = QStringLiteral("PS-") + control;
    r.instSerialNum = QStringLiteral("80001234");
    r.tdSerialNum = QStringLiteral("T123");
    r.fileName = QStringLiteral("RXr_F_%1.p8d").arg(control);
    return r;
}

QStringList Controls(const RecordListModel& m) {
    QStringList out;
    for (int i = 0; i < m.RowCount(); ++i) out << m.Text(i, RecordListModel::ControlNo);
    return out;
}

} // namespace

class TestRecordListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void flowRateText_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("six decimals") << "5.500000"
                                      << "5.50";
        QTest::newRow("leading zeros") << "005.500000"
                                       << "5.50";
        QTest::newRow("below one keeps its zero") << "0.500000"
                                                  << "0.50";
        QTest::newRow("hundreds") << "100.000000"
                                  << "100.00";
        QTest::newRow("no point unchanged") << "0012"
                                            << "0012";
        QTest::newRow("empty") << ""
                               << "";
    }
    void flowRateText() {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QCOMPARE(RecordListModel::FlowRateText(stored), shown);
    }

    void startDateTimeKey_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("plain") << "08-Dec-26"
                               << "14:05:09" << QByteArray("261208140509");
        QTest::newRow("one-digit hour and minute") << "01-Jan-26"
                                                   << "9:5:07" << QByteArray("260101090507");
        QTest::newRow("invalid month") << "08-Inv-26"
                                       << "14:05:09" << QByteArray("260008140509");
    }
    void startDateTimeKey() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QByteArray, key);
        QCOMPARE(RecordListModel::StartDateTimeKey(date, time), key);
    }

    // Actions: "tN" ticks row N, "uN" clears its tick, "cN" clicks it.
    void tickRule_data() {
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<int>("remembered");
        QTest::newRow("one tick") << "t1" << QList<int>{1} << 1;
        QTest::newRow("ticks one after another leave the last") << "t0 t1 t2" << QList<int>{2} << 2;
        QTest::newRow("clearing the remembered tick forgets it") << "t0 u0" << QList<int>{} << -1;
        QTest::newRow("after forgetting, the next tick keeps the others")
            << "t0 t1 u1 t2" << QList<int>{2} << 2;
        QTest::newRow("a click moves the memory, so two ticks stay")
            << "t0 c1 t2" << QList<int>{0, 2} << 2;
        QTest::newRow("clearing a tick that is not remembered") << "t0 c1 u0" << QList<int>{} << 1;
    }
    void tickRule() {
        QFETCH(QString, actions);
        QFETCH(QList<int>, ticked);
        QFETCH(int, remembered);
        RecordListModel m;
        m.SetRows({Row("A"), Row("B"), Row("C"), Row("D")});
        for (const QString& a : actions.split(QLatin1Char(' '))) {
            const int row = a.mid(1).toInt();
            if (a.startsWith(QLatin1Char('t')))
                m.setData(m.index(row, 0), Qt::Checked, Qt::CheckStateRole);
            if (a.startsWith(QLatin1Char('u')))
                m.setData(m.index(row, 0), Qt::Unchecked, Qt::CheckStateRole);
            if (a.startsWith(QLatin1Char('c'))) m.RowClicked(row);
        }
        QCOMPARE(m.TickedRows(), ticked);
        QCOMPARE(m.RememberedRow(), remembered);
        for (int r = 0; r < 4; ++r)
            QCOMPARE(m.data(m.index(r, 0), Qt::CheckStateRole).toInt(),
                     ticked.contains(r) ? int(Qt::Checked) : int(Qt::Unchecked));
    }

    void sortOrder_data() {
        QTest::addColumn<QList<RecordListRow>>("rows");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QStringList>("order");
        const QList<RecordListRow> controls{Row("b1"), Row("A2"), Row("a1"), Row("B1")};
        QTest::newRow("control number without case, stable")
            << controls << int(RecordListModel::ControlNo) << 1
            << QStringList{"a1", "A2", "b1", "B1"};
        QTest::newRow("control number second click reverses")
            << controls << int(RecordListModel::ControlNo) << 2
            << QStringList{"b1", "B1", "A2", "a1"};
        const QList<RecordListRow> dates{Row("old", "31-Dec-25", "23:59:59"),
                                         Row("new", "01-Jan-26", "9:00:00"),
                                         Row("mid", "01-Jan-26", "10:00:00")};
        QTest::newRow("start date first click latest first")
            << dates << int(RecordListModel::StartDateTime) << 1
            << QStringList{"mid", "new", "old"};
        QTest::newRow("start date second click earliest first")
            << dates << int(RecordListModel::StartDateTime) << 2
            << QStringList{"old", "new", "mid"};
        const QList<RecordListRow> rates{Row("r200", {}, {}, "200.000000"),
                                         Row("r5", {}, {}, "5.500000"),
                                         Row("r1500", {}, {}, "1500.000000"),
                                         Row("rEmpty", {}, {}, ""), Row("r05", {}, {}, "0.500000")};
        QTest::newRow("set flow rate by value")
            << rates << int(RecordListModel::SetFlowRate) << 1
            << QStringList{"rEmpty", "r05", "r5", "r200", "r1500"};
        const QList<RecordListRow> makers{Row("1", {}, {}, {}, "acme"),
                                          Row("2", {}, {}, {}, "Beta"),
                                          Row("3", {}, {}, {}, "Acme")};
        QTest::newRow("other columns with case")
            << makers << int(RecordListModel::Manufacturer) << 1 << QStringList{"3", "2", "1"};
    }
    void sortOrder() {
        QFETCH(QList<RecordListRow>, rows);
        QFETCH(int, column);
        QFETCH(int, clicks);
        QFETCH(QStringList, order);
        RecordListModel m;
        m.SetRows(rows);
        for (int i = 0; i < clicks; ++i) m.SortByClick(RecordListModel::Column(column));
        QCOMPARE(Controls(m), order);
    }

    // Sorting another column starts that column afresh; ticks follow rows.
    void sortKeepsTicksAndRestartsDirection() {
        RecordListModel m;
        m.SetRows({Row("C", "01-Jan-26"), Row("A", "03-Jan-26"), Row("B", "02-Jan-26")});
        m.SetTicked(0, true); // C
        QCOMPARE(m.SortByClick(RecordListModel::ControlNo), Qt::AscendingOrder);
        QCOMPARE(m.SortByClick(RecordListModel::ControlNo), Qt::DescendingOrder);
        QCOMPARE(m.SortByClick(RecordListModel::StartDateTime), Qt::DescendingOrder);
        QCOMPARE(Controls(m), (QStringList{"A", "B", "C"}));
        QCOMPARE(m.TickedRows(), QList<int>{2});
        QCOMPARE(m.FileName(2), QStringLiteral("RXr_F_C.p8d"));
    }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("upper case of both") << "a1" << QList<int>{0, 2};
        QTest::newRow("inside the number") << "12" << QList<int>{0};
        QTest::newRow("no match") << "zz" << QList<int>{};
        QTest::newRow("empty matches nothing") << "" << QList<int>{};
    }
    void search() {
        QFETCH(QString, text);
        QFETCH(QList<int>, rows);
        RecordListModel m;
        m.SetRows({Row("XA12"), Row("B1"), Row("A1")});
        QCOMPARE(m.Matches(text), rows);
    }

    void shownTextsAndRemoval() {
        RecordListModel m;
        m.SetRows({Row("A"), Row(QStringLiteral("Ünï"), {}, {}, "")});
        QCOMPARE(m.Text(0, RecordListModel::StartDateTime), QStringLiteral("08-Dec-26 14:05:09"));
        QCOMPARE(m.Text(0, RecordListModel::SetFlowRate), QStringLiteral("5.50"));
        QCOMPARE(m.Text(1, RecordListModel::ControlNo), QStringLiteral("Ünï"));
        QCOMPARE(m.Matches(QStringLiteral("ün")), QList<int>{1});
        QCOMPARE(m.EmptyFlowRateCount(), 1);
        m.SetTicked(1, true);
        m.RemoveListRow(1);
        QCOMPARE(m.RowCount(), 1);
        QVERIFY(m.TickedRows().isEmpty());
        QCOMPARE(m.RememberedRow(), -1);
    }

    // Rows that arrive in pieces join the end: the rows already there keep
    // their texts, ticks and places through many growths of the storage,
    // and a sort then takes every row in.
    void appendedRowsJoinTheEnd() {
        RecordListModel m;
        m.SetRows({Row("A0", "02-Jan-26")});
        m.SetTicked(0, true);
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        for (int piece = 1; piece <= 50; ++piece) {
            QList<RecordListRow> rows;
            for (int i = 0; i < 100; ++i)
                rows << Row(QStringLiteral("P%1-%2").arg(piece).arg(i), "01-Jan-26");
            m.AppendRows(rows);
        }
        m.AppendRows({});
        QCOMPARE(inserted.size(), 50);
        QCOMPARE(m.RowCount(), 5001);
        QCOMPARE(m.Text(0, RecordListModel::ControlNo), QStringLiteral("A0"));
        QCOMPARE(m.Text(5000, RecordListModel::ControlNo), QStringLiteral("P50-99"));
        QCOMPARE(m.Text(5000, RecordListModel::Filename), QStringLiteral("RXr_F_P50-99.p8d"));
        QCOMPARE(m.TickedRows(), QList<int>{0});
        QCOMPARE(m.Matches(QStringLiteral("p50-9")).size(), 11);
        m.SortRows(RecordListModel::StartDateTime, Qt::AscendingOrder);
        QCOMPARE(m.Text(5000, RecordListModel::ControlNo), QStringLiteral("A0"));
        QCOMPARE(m.TickedRows(), QList<int>{5000});
    }
};

QTEST_GUILESS_MAIN(TestRecordListModel)
#include "test_record_list_model.moc"
