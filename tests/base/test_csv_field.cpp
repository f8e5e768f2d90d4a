// CSV fields read back by an RFC 4180 reader give the value as written, and
// no field a spreadsheet would evaluate survives as a formula.
#include "../CsvReader.h"
#include "base/CsvField.h"

#include <QTest>

class TestCsvField : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void field_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("plain") << "PUMP-0042"
                               << "PUMP-0042";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")"
                                 << "'=HYPERLINK(\"x\")";
        QTest::newRow("plus") << "+cmd|' /C calc'!A0"
                              << "'+cmd|' /C calc'!A0";
        QTest::newRow("minus text") << "-2+3"
                                    << "'-2+3";
        QTest::newRow("at") << "@SUM(A1)"
                            << "'@SUM(A1)";
        QTest::newRow("tab") << "\t=1"
                             << "'\t=1";
        QTest::newRow("carriage return") << "\r=1"
                                         << "'\r=1";
        QTest::newRow("comma, quote and line break") << "a, \"b\"\nc"
                                                     << "a, \"b\"\nc";
        QTest::newRow("negative number") << "-1.50"
                                         << "-1.50";
        QTest::newRow("signed number") << "+3"
                                       << "+3";
        QTest::newRow("exponent") << "-2e5"
                                  << "-2e5";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("accented") << QStringLiteral("Pédiatrie") << QStringLiteral("Pédiatrie");
    }
    void field() {
        QFETCH(QString, value);
        QFETCH(QString, readBack);
        const QByteArray line = csv::Line({QStringLiteral("before"), value, QStringLiteral("1")});
        const QList<QStringList> rows = csvreader::Read(line);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0], (QStringList{QStringLiteral("before"), readBack, QStringLiteral("1")}));
        for (const QString& cell : rows[0]) {
            const bool number = cell == value && !value.contains(QRegularExpression("[^0-9.eE+-]"));
            QVERIFY2(number || cell.isEmpty() || !QStringLiteral("=+-@\t\r").contains(cell[0]),
                     qPrintable(cell));
        }
    }
};

QTEST_GUILESS_MAIN(TestCsvField)
#include "test_csv_field.moc"
