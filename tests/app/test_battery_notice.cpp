// Battery notice texts, titles and the empty-battery icon cycle.
#include "app/BatteryNotice.h"

#include <QTest>

class TestBatteryNotice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void message_data() {
        QTest::addColumn<QByteArray>("states");
        QTest::addColumn<QString>("text");
        QTest::newRow("two empty, one low")
            << QByteArray("SLSN") << "Battery empty in Device: 1 and 3\nBattery low in Device: 2";
        QTest::newRow("three low") << QByteArray("LLNL") << "Battery low in Device: 1, 2 and 4";
        QTest::newRow("one empty") << QByteArray("SNNN") << "Battery empty in Device: 1";
        QTest::newRow("four empty")
            << QByteArray("SSSS") << "Battery empty in Device: 1, 2, 3 and 4";
        QTest::newRow("low after two empty")
            << QByteArray("LSLS")
            << "Battery empty in Device: 2 and 4\nBattery low in Device: 1 and 3";
        QTest::newRow("all well") << QByteArray("HHNN") << "";
    }
    void message() {
        QFETCH(QByteArray, states);
        QFETCH(QString, text);
        QCOMPARE(BatteryNotice::BuildBatteryMessage(states.constData()), text);
    }

    void refresh_data() {
        QTest::addColumn<QByteArray>("states");
        QTest::addColumn<int>("connected");
        QTest::addColumn<char>("result");
        QTest::addColumn<QString>("title");
        QTest::newRow("nothing connected") << QByteArray("SNNN") << 0 << 'N' << "";
        QTest::newRow("empty") << QByteArray("SLNN") << 2 << 'S' << "Battery Empty";
        QTest::newRow("low") << QByteArray("HLNN") << 2 << 'L' << "Battery Low";
        QTest::newRow("normal") << QByteArray("HNNN") << 1 << 'H' << "";
    }
    void refresh() {
        QFETCH(QByteArray, states);
        QFETCH(int, connected);
        QFETCH(char, result);
        QFETCH(QString, title);
        BatteryNotice notice;
        const auto n = notice.Refresh(states.constData(), connected, true);
        QCOMPARE(n.result, result);
        QCOMPARE(n.title, title);
        QCOMPARE(n.message.isEmpty(), result == 'N' || result == 'H');
        QVERIFY(notice.Refresh(states.constData(), connected, false).message.isEmpty());
    }

    void emptyIconsCycleFirstThirdSecond() {
        BatteryNotice notice;
        const char states[4] = {'S', 'N', 'N', 'N'};
        QList<BatteryNotice::Icon> shown;
        for (int k = 0; k < 4; ++k) shown << notice.Refresh(states, 1, false).icon;
        using I = BatteryNotice::Icon;
        QCOMPARE(shown, (QList<I>{I::Empty1, I::Empty3, I::Empty2, I::Empty1}));
        const char low[4] = {'L', 'N', 'N', 'N'};
        QCOMPARE(notice.Refresh(low, 1, false).icon, I::Low);
    }
};

QTEST_GUILESS_MAIN(TestBatteryNotice)
#include "test_battery_notice.moc"
