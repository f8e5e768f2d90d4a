#include "StoreTestEnv.h"
#include "store/AdoDatabase.h"
#include "store/AdoRecordset.h"

#include <QSqlQuery>
#include <QtTest>

// The database layer on real SQLite files.
class TestAdoLayer : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    int m_n = 0;

    // A new database file with table T (C text, N smallint, I integer,
    // R real, D datetime, B boolean, X blob).
    QString NewDatabase() {
        const QString path = m_tmp.filePath(QStringLiteral("db%1.accdb").arg(++m_n));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.close();
        CADODatabase db;
        if (!db.Open(CADODatabase::ConnectionStringFor(path))) return {};
        QSqlQuery q(db.Connection());
        q.exec(QStringLiteral("CREATE TABLE T (C TEXT, N SMALLINT, I INTEGER, R REAL, D DATETIME, "
                              "B BOOLEAN, X BLOB)"));
        return path;
    }
    static void Exec(CADODatabase& db, const QString& sql) {
        QSqlQuery q(db.Connection());
        QVERIFY2(q.exec(sql), qPrintable(sql));
    }
    static QVariant Scalar(CADODatabase& db, const QString& sql) {
        QSqlQuery q(db.Connection());
        if (!q.exec(sql) || !q.next()) return {};
        return q.value(0);
    }
    struct Table {
        CADODatabase db;
        CADORecordset rs{&db};
    };
    // A new database: sqlFirst run in it, its table T opened, then rows with
    // the texts in C added through the cursor. Null when any step failed.
    std::unique_ptr<Table> OpenNewTable(const QStringList& texts = {},
                                        const QString& sqlFirst = {}) {
        auto t = std::make_unique<Table>();
        if (!t->db.Open(CADODatabase::ConnectionStringFor(NewDatabase()))) return nullptr;
        if (!sqlFirst.isEmpty() && !QSqlQuery(t->db.Connection()).exec(sqlFirst)) return nullptr;
        if (!t->rs.Open(QStringLiteral("T"), CADORecordset::openTable)) return nullptr;
        for (const QString& text : texts)
            if (!t->rs.AddNew() || !t->rs.PutFieldValue(QStringLiteral("C"), text) ||
                !t->rs.Update())
                return nullptr;
        return t;
    }
    static void AddText(CADORecordset& rs, const QString& value) {
        QVERIFY(rs.AddNew());
        QVERIFY(rs.PutFieldValue(QStringLiteral("C"), value));
        QVERIFY(rs.Update());
    }

private Q_SLOTS:
    void missingFileIsNotCreated() {
        const QString path = m_tmp.filePath(QStringLiteral("missing.accdb"));
        CADODatabase db;
        QVERIFY(!db.CanOpen(CADODatabase::ConnectionStringFor(path)));
        QVERIFY(!db.IsOpen());
        QVERIFY(!QFile::exists(path));
        QVERIFY(!db.Open());
        QCOMPARE(db.GetLastError(), adoerr::kFileNotFound);
        QVERIFY(db.GetLastErrorString().startsWith(
            QStringLiteral("Connection String = Provider=Microsoft.ACE.OLEDB.12.0; Data Source=") +
            path + QStringLiteral("\nCADODataBase Error\n\tCode = 80030002\n\tCode meaning = ")));
    }

    void damagedFileFailsAndStays() {
        const QString path = m_tmp.filePath(QStringLiteral("damaged.accdb"));
        const QByteArray junk = QByteArray("Standard Jet DB\0", 16).repeated(300);
        StoreTestEnv::Write(path, junk);
        CADODatabase db;
        QVERIFY(!db.CanOpen(CADODatabase::ConnectionStringFor(path)));
        QVERIFY(!db.IsOpen());
        QVERIFY(!db.Open());
        QCOMPARE(db.GetLastError(), adoerr::kEngineBase | 26u); // SQLITE_NOTADB
        QVERIFY(db.GetLastErrorString().contains(QStringLiteral("\n\tSource = QSQLITE\n")));
        QCOMPARE(StoreTestEnv::Read(path), junk);
    }

    void connectionIsDurableAndWaitsForLocks() {
        CADODatabase db;
        QVERIFY(db.Open(CADODatabase::ConnectionStringFor(NewDatabase())));
        QCOMPARE(Scalar(db, QStringLiteral("PRAGMA journal_mode")).toString(),
                 QStringLiteral("delete"));
        QCOMPARE(Scalar(db, QStringLiteral("PRAGMA synchronous")).toInt(), 2); // FULL
        QVERIFY(Scalar(db, QStringLiteral("PRAGMA busy_timeout")).toInt() >= 1000);
    }

    void emptyTableIsBofAndEof() {
        const auto t = OpenNewTable();
        QVERIFY(t);
        auto& [db, rs] = *t;
        QVERIFY(rs.IsBof());
        QVERIFY(rs.IsEof());
        QCOMPARE(rs.GetRecordCount(), 0);
        QString s;
        QVERIFY(!rs.GetFieldValue(QStringLiteral("C"), s));
        QVERIFY(!rs.Open(QStringLiteral("T"), 7));
        QVERIFY(!rs.Open(QStringLiteral("NoSuchTable"), CADORecordset::openTable));
        QVERIFY(rs.GetLastErrorString().startsWith(
            QStringLiteral("Query = NoSuchTable\nCADORecordset Error\n\tCode = ")));
    }

    void textConversions_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("sqlValue");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::newRow("null") << "C"
                              << "NULL"
                              << ""
                              << "" << true;
        QTest::newRow("text") << "C"
                              << "'Acme, Inc.'"
                              << ""
                              << "Acme, Inc." << true;
        QTest::newRow("smallint") << "N"
                                  << "-12"
                                  << ""
                                  << "-12" << true;
        QTest::newRow("integer") << "I"
                                 << "70000"
                                 << ""
                                 << "70000" << true;
        QTest::newRow("real") << "R"
                              << "5.5"
                              << ""
                              << "5.5" << true;
        QTest::newRow("real integral") << "R"
                                       << "5.0"
                                       << ""
                                       << "5." << true;
        QTest::newRow("real 20 digits") << "R"
                                        << "0.1"
                                        << ""
                                        << "0.10000000000000000555" << true;
        QTest::newRow("date default") << "D"
                                      << "'2011-03-04 13:05:09'"
                                      << ""
                                      << "2011-03-04 13:05:09" << true;
        QTest::newRow("date format") << "D"
                                     << "'2011-03-04 13:05:09'"
                                     << "%d/%m/%Y %H:%M"
                                     << "04/03/2011 13:05" << true;
        QTest::newRow("date names") << "D"
                                    << "'2026-12-08 14:05:09'"
                                    << "%d-%b-%y"
                                    << "08-Dec-26" << true;
        QTest::newRow("boolean true") << "B"
                                      << "1"
                                      << ""
                                      << "T" << true;
        QTest::newRow("boolean false") << "B"
                                       << "0"
                                       << ""
                                       << "F" << true;
        QTest::newRow("blob") << "X"
                              << "x'0102'"
                              << ""
                              << "" << false;
    }
    void textConversions() {
        QFETCH(QString, column);
        QFETCH(QString, sqlValue);
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        const auto t = OpenNewTable(
            {}, QStringLiteral("INSERT INTO T (%1) VALUES (%2)").arg(column, sqlValue));
        QVERIFY(t);
        auto& [db, rs] = *t;
        QString value = QStringLiteral("stale");
        QCOMPARE(rs.GetFieldValue(column, value, format), ok);
        QCOMPARE(value, text);
    }

    void integerConversions_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("sqlValue");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("ok");
        QTest::newRow("null") << "N"
                              << "NULL" << 0 << true;
        QTest::newRow("smallint") << "N"
                                  << "-300" << -300 << true;
        // A wider integer reads whole instead of as its low 16 bits.
        QTest::newRow("integer") << "I"
                                 << "70000" << 70000 << true;
        QTest::newRow("numeric text") << "C"
                                      << "'12'" << 12 << true;
        QTest::newRow("text") << "C"
                              << "'abc'" << 0 << false;
        QTest::newRow("real") << "R"
                              << "3.9" << 3 << true;
        QTest::newRow("too big") << "I"
                                 << "9999999999" << 0 << false;
    }
    void integerConversions() {
        QFETCH(QString, column);
        QFETCH(QString, sqlValue);
        QFETCH(int, value);
        QFETCH(bool, ok);
        const auto t = OpenNewTable(
            {}, QStringLiteral("INSERT INTO T (%1) VALUES (%2)").arg(column, sqlValue));
        QVERIFY(t);
        auto& [db, rs] = *t;
        int v = -1;
        QCOMPARE(rs.GetFieldValue(column, v), ok);
        QCOMPARE(v, value);
    }

    void writesAreStoredAndTyped() {
        const QString path = NewDatabase();
        CADODatabase db;
        QVERIFY(db.Open(CADODatabase::ConnectionStringFor(path)));
        CADORecordset rs(&db);
        QVERIFY(rs.Open(QStringLiteral("T"), CADORecordset::openTable));
        QVERIFY(rs.AddNew());
        QCOMPARE(rs.GetEditMode(), int(CADORecordset::dbEditNew));
        QVERIFY(rs.PutFieldValue(QStringLiteral("C"), QString()));
        QVERIFY(rs.PutFieldValue(QStringLiteral("N"), 32767));
        QVERIFY(!rs.PutFieldValue(QStringLiteral("N"), 32768)); // a 16-bit column
        QVERIFY(!rs.PutFieldValue(QStringLiteral("n"), -32769));
        QVERIFY(
            rs.PutFieldValue(QStringLiteral("D"), QDateTime(QDate(2011, 3, 4), QTime(13, 5, 9))));
        QVERIFY(!rs.PutFieldValue(QStringLiteral("NoSuchColumn"), QStringLiteral("x")));
        QCOMPARE(rs.GetLastError(), adoerr::kItemNotFound);
        QVERIFY(rs.Update());
        QCOMPARE(rs.GetEditMode(), int(CADORecordset::dbEditNone));

        // Another connection sees the row at once: empty text as NULL, the
        // number as an integer, the date as sortable text.
        CADODatabase other;
        QVERIFY(other.Open(CADODatabase::ConnectionStringFor(path)));
        QCOMPARE(Scalar(other, QStringLiteral("SELECT C IS NULL FROM T")).toInt(), 1);
        QCOMPARE(Scalar(other, QStringLiteral("SELECT typeof(N) || N FROM T")).toString(),
                 QStringLiteral("integer32767"));
        QCOMPARE(Scalar(other, QStringLiteral("SELECT D FROM T")).toString(),
                 QStringLiteral("2011-03-04 13:05:09"));
        QString c = QStringLiteral("stale");
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), c));
        QCOMPARE(c, QString());

        // Editing the current row in place.
        QVERIFY(rs.PutFieldValue(QStringLiteral("C"), QStringLiteral("edited")));
        QCOMPARE(rs.GetEditMode(), int(CADORecordset::dbEdit));
        QVERIFY(rs.Update());
        QCOMPARE(Scalar(other, QStringLiteral("SELECT C || N FROM T")).toString(),
                 QStringLiteral("edited32767"));

        // A cancelled row leaves nothing behind.
        QVERIFY(rs.AddNew());
        QVERIFY(rs.PutFieldValue(QStringLiteral("C"), QStringLiteral("cancelled")));
        QVERIFY(rs.CancelUpdate());
        QVERIFY(!rs.Update());
        QCOMPARE(Scalar(other, QStringLiteral("SELECT count(*) FROM T")).toInt(), 1);
        QCOMPARE(rs.GetRecordCount(), 1);
    }

    void findInBothDirections() {
        const auto t = OpenNewTable({"A", "B", "A", "C"});
        QVERIFY(t);
        auto& [db, rs] = *t;
        QVector<qint64> marks;
        rs.MoveFirst();
        while (!rs.IsEof()) {
            marks << rs.GetBookmark();
            rs.MoveNext();
        }
        QCOMPARE(marks.size(), 4);

        rs.MoveLast();
        QVERIFY(rs.Find(QStringLiteral("C='A'"), CADORecordset::searchBackward));
        QCOMPARE(rs.GetBookmark(), marks[2]); // the later of the two
        QCOMPARE(rs.GetFindBookmark(), marks[2]);
        QVERIFY(
            rs.Find(QStringLiteral("C='A'"), CADORecordset::searchBackward)); // current row counts
        QCOMPARE(rs.GetBookmark(), marks[2]);
        rs.MovePrevious();
        QVERIFY(rs.Find(QStringLiteral("C='A'"), CADORecordset::searchBackward));
        QCOMPARE(rs.GetBookmark(), marks[0]);
        rs.MoveFirst();
        QVERIFY(rs.Find(QStringLiteral("[C] = 'B'"), CADORecordset::searchForward));
        QCOMPARE(rs.GetBookmark(), marks[1]);
        QVERIFY(!rs.Find(QStringLiteral("C='a'"), CADORecordset::searchForward));
        QVERIFY(rs.IsEof());
        rs.MoveLast();
        QVERIFY(!rs.Find(QStringLiteral("C='Z'"), CADORecordset::searchBackward));
        QVERIFY(rs.IsBof());
        QVERIFY(!rs.Find(QStringLiteral("C='A'"), 2));
        QCOMPARE(rs.GetLastFindDirection(), int(CADORecordset::searchForward));
        QVERIFY(!rs.Find(QStringLiteral("C=A"), CADORecordset::searchForward));
        QVERIFY(rs.SetBookmark(marks[3]));
        QString v;
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("C"));
        QVERIFY(!rs.SetBookmark(12345));
    }

    void quotesInValues_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("apostrophe") << "O'Brien";
        QTest::newRow("injection") << "x' OR '1'='1";
        QTest::newRow("two quotes") << "''";
        QTest::newRow("doubled inside") << "a''b";
        QTest::newRow("trailing quote") << "end'";
        QTest::newRow("semicolon") << "1'; DROP TABLE T; --";
    }
    void quotesInValues() {
        QFETCH(QString, value);
        const auto t = OpenNewTable({QStringLiteral("x"), value, QStringLiteral("1")});
        QVERIFY(t);
        auto& [db, rs] = *t;
        rs.MoveFirst();
        QVERIFY(rs.Find(CADORecordset::Criterion(QStringLiteral("C"), value)));
        QString found;
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), found));
        QCOMPARE(found, value);
        // A value the caller did not escape is read the same way (unless it
        // holds a doubled quote, which then reads as one).
        if (!value.contains(QLatin1String("''"))) {
            rs.MoveFirst();
            QVERIFY(rs.Find(QStringLiteral("C='") + value + QLatin1Char('\'')));
            QVERIFY(rs.GetFieldValue(QStringLiteral("C"), found));
            QCOMPARE(found, value);
        }
        QCOMPARE(Scalar(db, QStringLiteral("SELECT count(*) FROM T")).toInt(), 3);
        // Nothing else matches a value that is not stored.
        rs.MoveFirst();
        QVERIFY(!rs.Find(CADORecordset::Criterion(QStringLiteral("C"), value + QLatin1Char('\''))));
    }

    void deleteAllEmptiesTheTable() {
        const auto t = OpenNewTable({"a", "b", "c"});
        QVERIFY(t);
        auto& [db, rs] = *t;
        QVERIFY(rs.DeleteALL(rs.GetRecordCount()));
        QCOMPARE(rs.GetRecordCount(), 0);
        QCOMPARE(Scalar(db, QStringLiteral("SELECT count(*) FROM T")).toInt(), 0);
        rs.MoveFirst();
        QVERIFY(rs.IsBof() && rs.IsEof());
        QVERIFY(!rs.DeleteALL(3)); // nothing to delete
        QVERIFY(!db.InTransaction());
    }

    void deletedRowStaysCurrentUntilMoved() {
        const auto t = OpenNewTable({"a", "b", "c"});
        QVERIFY(t);
        auto& [db, rs] = *t;
        rs.MoveFirst();
        rs.MoveNext();
        QVERIFY(rs.Delete());
        QVERIFY(!rs.IsEof());
        QVERIFY(!rs.IsBof());
        QString v;
        QVERIFY(!rs.GetFieldValue(QStringLiteral("C"), v));
        QVERIFY(!rs.Delete());
        rs.MoveNext();
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("c"));
        rs.MovePrevious();
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("a"));
        QCOMPARE(rs.GetRecordCount(), 2);

        // The last row deleted and a new one added: SQLite may give it the
        // same rowid; the search must find the live row.
        rs.MoveLast();
        QVERIFY(rs.Delete());
        AddText(rs, QStringLiteral("d"));
        rs.MoveFirst();
        QVERIFY(rs.Find(QStringLiteral("C='d'")));
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("d"));
        QVERIFY(rs.SetBookmark(rs.GetBookmark()));
    }

    void backwardSearchFindsTheLatestRowAfterRowidReuse() {
        const auto t = OpenNewTable({"a", "b", "c"});
        QVERIFY(t);
        auto& [db, rs] = *t;
        rs.MoveLast();
        QVERIFY(rs.Delete());
        rs.MovePrevious();
        QVERIFY(rs.Delete());
        QVERIFY(rs.AddNew()); // gets the rowid "b" had, after "a"
        QVERIFY(rs.PutFieldValue(QStringLiteral("C"), QStringLiteral("a")));
        QVERIFY(rs.PutFieldValue(QStringLiteral("N"), 2));
        QVERIFY(rs.Update());
        rs.MoveLast();
        QVERIFY(rs.Find(QStringLiteral("C='a'"), CADORecordset::searchBackward));
        int n = 0;
        QVERIFY(rs.GetFieldValue(QStringLiteral("N"), n));
        QCOMPARE(n, 2);
        QCOMPARE(rs.GetRecordCount(), 2);
    }

    void countByHandStartsFromTheFirstRow() {
        const auto t = OpenNewTable({"a", "b", "c"});
        QVERIFY(t);
        auto& [db, rs] = *t;
        rs.SetEngineCountUnknown(true);
        rs.MoveLast();
        rs.MoveNext(); // at the end
        QVERIFY(rs.IsEof());
        QCOMPARE(rs.GetRecordCount(), 3);
        QString v;
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("a"));
    }

    void missingColumnIsRecorded() {
        CADODatabase db;
        QVERIFY(db.Open(CADODatabase::ConnectionStringFor(NewDatabase())));
        CADORecordset rs(&db);
        QVERIFY(rs.Open(QStringLiteral("  T"), CADORecordset::openTable));
        AddText(rs, QStringLiteral("a"));
        QString v;
        QVERIFY(!rs.GetFieldValue(QStringLiteral("Nope"), v));
        QCOMPARE(rs.GetLastError(), adoerr::kItemNotFound);
        QVERIFY(rs.GetLastErrorString().startsWith(QStringLiteral(
            "Query = T\nCADORecordset Error\n\tCode = 800a0cc1\n\tCode meaning = Item "
            "cannot be found")));
        QVERIFY(rs.GetFieldValue(QStringLiteral("c"), v)); // column names ignore case
    }

    void queryIsReadOnly() {
        CADODatabase db;
        QVERIFY(db.Open(CADODatabase::ConnectionStringFor(NewDatabase())));
        Exec(db, QStringLiteral("INSERT INTO T (C, N) VALUES ('a', 1), ('b', 2)"));
        CADORecordset rs(&db);
        QVERIFY(rs.Open(QStringLiteral("Select C, N FROM T WHERE N > 1")));
        QCOMPARE(rs.GetRecordCount(), 1);
        QString v;
        QVERIFY(rs.GetFieldValue(QStringLiteral("C"), v));
        QCOMPARE(v, QStringLiteral("b"));
        QVERIFY(rs.Find(QStringLiteral("N='2'")));
        QVERIFY(!rs.Delete());
        QVERIFY(!rs.AddNew());
        QCOMPARE(Scalar(db, QStringLiteral("SELECT count(*) FROM T")).toInt(), 2);
    }

    void closedObjectsFailQuietly() {
        CADODatabase db;
        CADORecordset rs(&db);
        QVERIFY(!rs.Open(QStringLiteral("T"), CADORecordset::openTable));
        QCOMPARE(rs.GetLastError(), adoerr::kObjectClosed);
        QCOMPARE(rs.GetRecordCount(), 0);
        QVERIFY(rs.IsEof() && rs.IsBof());
        QVERIFY(!rs.Find(QStringLiteral("C='a'")));
        QVERIFY(!rs.AddNew());
        QVERIFY(!rs.DeleteALL(5));
        rs.MoveFirst();
        rs.MoveNext();
    }
};

QTEST_GUILESS_MAIN(TestAdoLayer)
#include "test_ado_layer.moc"
