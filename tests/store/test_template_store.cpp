#include "StoreTestEnv.h"
#include "records/Template.h"
#include "store/TemplateStore.h"

#include <QtTest>

// The template index database and its rebuild, on real SQLite files.
class TestTemplateStore : public QObject {
    Q_OBJECT

    static TemplateRow Row(const QString& name, const QString& file, int steps = 1) {
        TemplateRow r;
        r.name = name;
        r.instSerialNumber = QStringLiteral("0000");
        r.deviceComments = name + QStringLiteral(" comments");
        r.fileName = file;
        r.stepCount = steps;
        return r;
    }
    static QStringList Names(TemplateStore& store) {
        QList<TemplateRow> rows;
        store.ListRows(rows);
        QStringList names;
        for (const TemplateRow& r : rows) names << r.name;
        return names;
    }

private Q_SLOTS:
    void opensFromTheSeedAndKeepsRows() {
        StoreTestEnv env;
        env.CopySeeds();
        {
            TemplateStore store(*env.settings);
            QVERIFY(store.Open());
            QVERIFY(QFile::exists(env.dataDir + QStringLiteral("/RX_Templates.accdb")));
            QCOMPARE(store.GetCount(), 0);
            QList<TemplateRow> rows;
            QVERIFY(!store.ListRows(rows)); // an empty index lists nothing
            QVERIFY(store.AddRow(Row(QStringLiteral("One"), QStringLiteral("RXt_One.p8t"), 3)));
            store.Close();
            QVERIFY(!store.IsOpen());
        }
        TemplateStore again(*env.settings);
        QVERIFY(again.Open()); // the existing file is used, not the seed
        QList<TemplateRow> rows;
        QVERIFY(again.ListRows(rows));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, QStringLiteral("One"));
        QCOMPARE(rows[0].instSerialNumber, QStringLiteral("0000"));
        QCOMPARE(rows[0].deviceComments, QStringLiteral("One comments"));
        QCOMPARE(rows[0].stepCount, 3);
        QCOMPARE(rows[0].fileName, QStringLiteral("RXt_One.p8t"));
    }

    void missingSeedCreatesTheTable() {
        StoreTestEnv env; // no seeds in the working folder
        TemplateStore store(*env.settings);
        QVERIFY(store.Open());
        QVERIFY(store.AddRow(Row(QStringLiteral("A"), QStringLiteral("RXt_A.p8t"))));
        QCOMPARE(store.GetCount(), 1);
    }

    void emptyDatabaseFileGetsTheTable() {
        StoreTestEnv env;
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/RX_Templates.accdb"), QByteArray());
        TemplateStore store(*env.settings);
        QVERIFY(store.Open());
        QVERIFY(store.AddRow(Row(QStringLiteral("A"), QStringLiteral("RXt_A.p8t"))));
    }

    void damagedDatabaseFailsAndStays() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString path = env.dataDir + QStringLiteral("/RX_Templates.accdb");
        const QByteArray junk(5000, '\x5a');
        StoreTestEnv::Write(path, junk);
        TemplateStore store(*env.settings);
        QVERIFY(!store.Open());
        QVERIFY(!store.IsOpen());
        QCOMPARE(StoreTestEnv::Read(path), junk); // never overwritten by the seed
        QVERIFY(store.LastError().contains(QStringLiteral("CADODataBase Error")));
        QVERIFY(!store.AddRow(Row(QStringLiteral("A"), QStringLiteral("RXt_A.p8t"))));
        QList<TemplateRow> rows;
        QVERIFY(!store.ListRows(rows));
        QCOMPARE(store.GetCount(), 0);
        QVERIFY(!store.DeleteRow(QStringLiteral("Filename"), QStringLiteral("x")));
        QVERIFY(!store.RebuildTemplateIndex().ran);
    }

    void deleteRowMatchesQuotesExactly() {
        StoreTestEnv env;
        env.CopySeeds();
        TemplateStore store(*env.settings);
        QVERIFY(store.Open());
        QVERIFY(store.AddRow(Row(QStringLiteral("O'Brien"), QStringLiteral("RXt_O'Brien.p8t"))));
        QVERIFY(store.AddRow(Row(QStringLiteral("Other"), QStringLiteral("RXt_Other.p8t"))));
        QVERIFY(store.AddRow(Row(QStringLiteral("O'Brien 2"), QStringLiteral("RXt_O'Brien.p8t"))));
        QVERIFY(!store.DeleteRow(QStringLiteral("Filename"), QStringLiteral("x' OR '1'='1")));
        QCOMPARE(store.GetCount(), 3);
        QVERIFY(store.DeleteRow(QStringLiteral("Filename"), QStringLiteral("RXt_O'Brien.p8t")));
        QCOMPARE(Names(store), (QStringList{QStringLiteral("Other"), QStringLiteral("O'Brien 2")}));
        QVERIFY(store.DeleteRow(QStringLiteral("TemplateName"), QStringLiteral("O'Brien 2")));
        QVERIFY(!store.DeleteRow(QStringLiteral("TemplateName"), QStringLiteral("O'Brien 2")));
        // A cursor left before the first row does not hide the rows.
        store.Table().Recordset()->MoveFirst();
        store.Table().Recordset()->MovePrevious();
        QVERIFY(store.Table().Recordset()->IsBof());
        QCOMPARE(Names(store), QStringList{QStringLiteral("Other")});
        store.Table().Recordset()->MovePrevious();
        QVERIFY(store.DeleteRow(QStringLiteral("TemplateName"), QStringLiteral("Other")));
        store.ClearAll();
        QCOMPARE(store.GetCount(), 0);
    }

    void rebuildVariants_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("full: a row for the unreadable file too")
            << int(TemplateStore::RebuildKind::Full)
            << QStringList{"RXt_A.p8t", "RXt_B.p8t", "RXt_Broken.p8t"};
        QTest::newRow("import: unreadable files skipped")
            << int(TemplateStore::RebuildKind::Import) << QStringList{"RXt_A.p8t", "RXt_B.p8t"};
    }
    void rebuildVariants() {
        QFETCH(int, kind);
        QFETCH(QStringList, files);
        StoreTestEnv env;
        env.CopySeeds();
        TemplateStore store(*env.settings);
        QVERIFY(store.Open());
        QVERIFY(store.AddRow(Row(QStringLiteral("Stale"), QStringLiteral("RXt_Gone.p8t"))));
        Template a;
        a.stepCount = 1;
        a.steps[0] = {TemplateStep::Flow, 5, TemplateStep::Ml, 10, 5, 0, 30};
        a.name = QStringLiteral("A");
        a.deviceComments = QStringLiteral("first");
        a.thirdText = QStringLiteral("ignored");
        a.instSerialNumber = QStringLiteral("SN-1");
        Template b = a;
        b.name = QStringLiteral("B");
        b.stepCount = 2;
        QVERIFY(store.WriteTemplateFile(QStringLiteral("RXt_A.p8t"), a));
        QVERIFY(store.WriteTemplateFile(QStringLiteral("RXt_B.p8t"), b));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/RXt_Broken.p8t"), QByteArray(100, '\1'));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/notes.txt"), QByteArray("x"));

        QStringList progress, unreadable;
        RebuildCallbacks cb;
        cb.onFile = [&](int n, const QString& f) {
            progress << QStringLiteral("%1 %2").arg(n).arg(f);
        };
        cb.onUnreadable = [&](const QString& f, const QString&) { unreadable << f; };
        const RebuildResult r = store.RebuildTemplateIndex(TemplateStore::RebuildKind(kind), cb);
        QVERIFY(r.ran);
        QCOMPARE(r.filesProcessed, 3);
        QCOMPARE(progress, (QStringList{"1 RXt_A.p8t", "2 RXt_B.p8t", "3 RXt_Broken.p8t"}));
        QCOMPARE(unreadable, QStringList{QStringLiteral("RXt_Broken.p8t")});

        QList<TemplateRow> rows;
        QVERIFY(store.ListRows(rows));
        QStringList listed;
        for (const TemplateRow& row : rows) listed << row.fileName;
        listed.sort();
        QCOMPARE(listed, files);
        QCOMPARE(r.rowsAdded, files.size());
        for (const TemplateRow& row : rows) {
            if (row.fileName == QLatin1String("RXt_A.p8t")) {
                QCOMPARE(row.name, QStringLiteral("A"));
                QCOMPARE(row.instSerialNumber, QStringLiteral("SN-1"));
                QCOMPARE(row.deviceComments, QStringLiteral("first"));
                QCOMPARE(row.stepCount, 1);
            } else if (row.fileName == QLatin1String("RXt_Broken.p8t")) {
                QCOMPARE(row.name, QString());
                QCOMPARE(row.stepCount, 0);
            }
        }
        // The rebuild is stored, not only in this store's cursor.
        TemplateStore other(*env.settings);
        QVERIFY(other.Open());
        QCOMPARE(other.GetCount(), files.size());
    }
};

QTEST_GUILESS_MAIN(TestTemplateStore)
#include "test_template_store.moc"
