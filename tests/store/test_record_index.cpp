#include "StoreTestEnv.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using HeaderLines = QMap<int, QString>;

// The records index on real SQLite files and real record files.
class TestRecordIndex : public QObject {
    Q_OBJECT

    // A record file: the 22 header lines (values given by line number
    // override the defaults) and a few sample lines.
    static QByteArray RecordFile(const QMap<int, QString>& values = {}) {
        QMap<int, QString> h = {
            {1, "SN100,2.10"},
            {2, "2,T123,1.0"},
            {3, "Biomed"},
            {4, ""},
            {5, ""},
            {6, "A12"},
            {7, "Smith, J.<x"},
            {8, "Acme"},
            {9, "P-100"},
            {10, "PS-1"},
            {11, "Ward 3"},
            {12, "Flow"},
            {13, "5.50   "},
            {14, "100.00 "},
            {15, "0.00   "},
            {16, "0.00   "},
            {17, ""},
            {18, "08-Dec-2026,14:05:09"},
            {19, "PXR-8"},
            {20, "Desc"},
            {21, "Maker"},
            {22, "note"},
        };
        for (auto it = values.begin(); it != values.end(); ++it) h[it.key()] = it.value();
        QByteArray out;
        for (int i = 1; i <= 22; ++i)
            out += "H" + QByteArray::number(i) + "," + h[i].toLatin1() + "\r\n";
        out += "D1,:,0,0,0\r\nD2, ,1000,14,20\r\nD3, ,2000,29,21\r\n";
        return out;
    }

    // A working folder with the seeds, and its records index (not yet open).
    struct SeededIndex {
        StoreTestEnv env;
        RecordIndex index{*env.settings};
        explicit SeededIndex(bool startupFinished = false) {
            env.CopySeeds();
            index.SetStartupFinished(startupFinished);
        }
    };

    // Row number index of the data folder's records index, read past the
    // program's own code.
    static QVariantList RawRow(const StoreTestEnv& env, int index) {
        const QString dbPath = env.dataDir + QStringLiteral("/RX_Records.accdb");
        QVariantList out;
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            db.setDatabaseName(dbPath);
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(QStringLiteral(
                           "SELECT * FROM RivuletrixRecords ORDER BY rowid LIMIT 1 OFFSET %1")
                           .arg(index));
                if (q.next())
                    for (int i = 0; i < q.record().count(); ++i) out << q.value(i);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        return out;
    }

    static RecordIndexRow Row(const QString& control, const QString& file, const QString& op = {}) {
        RecordIndexRow r;
        r.controlNumber = control;
        r.fileName = file;
        r.operatorName = op;
        r.typeOfTest = QStringLiteral("F");
        r.setFlowRate = QStringLiteral("5.500000");
        r.dateTime = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
        return r;
    }

private Q_SLOTS:
    void openRestoresTheSeedWithoutOverwriting() {
        SeededIndex seeded;
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        QVERIFY(index.IsOpen());
        QVERIFY(index.AddRow(Row(QStringLiteral("A1"), QStringLiteral("a.p8d"))));
        index.Close();
        QVERIFY(!index.IsOpen());
        QVERIFY(index.Open());
        QCOMPARE(index.GetCount(), 1); // the seed did not replace the file
    }

    // Any folder the file system allows holds the index, including names
    // with the connection string's own separators.
    void opensInAnyDataFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("new chain") << "new/deeper/data";
        QTest::newRow("semicolon") << "data;2026";
        QTest::newRow("key-like") << "a; Data Source=elsewhere";
#ifndef Q_OS_WIN // no quotes in Windows names
        QTest::newRow("quote") << "the \"lab\" data";
#endif
        QTest::newRow("trailing blank") << "data ";
    }
    void opensInAnyDataFolder() {
        QFETCH(QString, folder);
        StoreTestEnv env;
        env.CopySeeds();
        const QString dir = env.tmp.path() + QLatin1Char('/') + folder;
        QVERIFY(QDir().mkpath(dir));
        RecordIndex index(*env.settings);
        index.SetDataFolder(dir);
        QVERIFY2(index.Open(), qPrintable(index.LastError()));
        QVERIFY(index.AddRow(Row(QStringLiteral("A1"), QStringLiteral("a.p8d"))));
        index.Close();
        QVERIFY(QFile::exists(dir + QStringLiteral("/RX_Records.accdb")));
        QVERIFY(index.Open());
        QCOMPARE(index.GetCount(), 1);
    }

    // A data folder that is not there may be a share that is not mounted:
    // opening the index makes neither the folder nor an index file.
    void missingDataFolderIsNotMade() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString dir = env.tmp.path() + QStringLiteral("/share/data");
        RecordIndex index(*env.settings);
        index.SetDataFolder(dir);
        QVERIFY(!index.Open());
        QVERIFY(!index.IsOpen());
        QVERIFY(!QFileInfo::exists(env.tmp.path() + QStringLiteral("/share")));
    }

    void missingSeedCreatesTheTable() {
        StoreTestEnv env;
        RecordIndex index(*env.settings);
        QVERIFY(index.Open());
        QVERIFY(index.AddRow(Row(QStringLiteral("A1"), QStringLiteral("a.p8d"))));
        EquipmentDetails d;
        QVERIFY(index.FindEquipment(QStringLiteral("A1"), d));
    }

    void damagedDatabaseFailsAndStays() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString path = env.dataDir + QStringLiteral("/RX_Records.accdb");
        // A database cut short in the middle of a page.
        QByteArray half = StoreTestEnv::Read(env.work + QStringLiteral("/RX_Records.bak"));
        half = half.left(100) + QByteArray(4000, '\xff');
        StoreTestEnv::Write(path, half);
        RecordIndex index(*env.settings);
        QVERIFY(!index.Open());
        QCOMPARE(StoreTestEnv::Read(path), half);
        QList<RecordListRow> rows;
        QVERIFY(!index.ListRows(rows));
        EquipmentDetails d;
        QVERIFY(!index.FindEquipment(QStringLiteral("A1"), d));
        QVERIFY(!index.DeleteRow(QStringLiteral("Filename"), QStringLiteral("a.p8d")));
        QVERIFY(!index.Rebuild(RecordIndex::RebuildKind::IndexBuild).ran);
    }

    void noDataFolderNoDatabase() {
        StoreTestEnv env;
        StoreTestEnv::Write(env.settingsDir + QStringLiteral("/RivuletrixApp.ini"),
                            QStringLiteral("[Default Parameters]\r\nBuildIndex=0\r\n"));
        RecordIndex index(*env.settings);
        QVERIFY(!index.Open());
        QVERIFY(!QFile::exists(QStringLiteral("/RX_Records.accdb")));
    }

    void addRowWritesEveryColumnInOrder() {
        SeededIndex seeded;
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        RecordIndexRow r;
        QStringList texts;
        auto t = [&texts](const char* v) {
            texts << QLatin1String(v);
            return QString::fromLatin1(v);
        };
        r.controlNumber = t("C1");
        r.typeOfTest = t("F");
        r.startDate = t("08-Dec-26");
        r.startTime = t("14:05:09");
        r.dateTime = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
        r.fileName = t("RXr_F2026kdp8d_T123.p8d");
        r.operatorName = t("Op");
        r.manufacture = t("Acme");
        r.model = t("P-100");
        r.serialNumber = t("PS-1");
        r.location = t("Ward");
        r.comments = t("Com");
        r.channelNo = 3;
        r.tdSerialNum = t("T123");
        r.tdVersion = t("1.0");
        r.instSerialNum = t("SN100");
        r.instVersion = t("2.10");
        r.instModel = t("PXR-8");
        r.instManuf = t("Maker");
        r.instDesc = t("Desc");
        r.setPcaTime = t("pt");
        r.repHeader1 = t("R1");
        r.repHeader2 = t("R2");
        r.repHeader3 = t("R3");
        r.tolerance = 5;
        r.deviceType = t("P-100");
        r.setFlowRate = t("5.500000");
        r.setVolume = t("100.000000");
        r.setBasalFlowRate = t("0.000000");
        QVERIFY(index.AddRow(r));
        const QVariantList raw = RawRow(env, 0);
        QCOMPARE(raw.size(), 30);
        QVariantList expected;
        for (int i = 0; i < 4; ++i) expected << texts[i];
        expected << QStringLiteral("2026-12-08 14:05:09");
        for (int i = 4; i < 11; ++i) expected << texts[i];
        expected << 3;
        for (int i = 11; i < 22; ++i) expected << texts[i];
        expected << 5;
        for (int i = 22; i < 26; ++i) expected << texts[i];
        expected << QVariant(); // SetPcaVolume: empty, stored as NULL
        for (int i = 0; i < 30; ++i)
            QVERIFY2(raw[i].toString() == expected[i].toString() &&
                         raw[i].isNull() == expected[i].isNull(),
                     qPrintable(QStringLiteral("column %1: %2").arg(i).arg(raw[i].toString())));

        QList<RecordListRow> rows;
        QVERIFY(index.ListRows(rows));
        QCOMPARE(rows.size(), 1);
        const RecordListRow& l = rows[0];
        QCOMPARE(l.controlNumber, QStringLiteral("C1"));
        QCOMPARE(l.startDate, QStringLiteral("08-Dec-26"));
        QCOMPARE(l.startTime, QStringLiteral("14:05:09"));
        QCOMPARE(l.typeOfTest, QStringLiteral("F"));
        QCOMPARE(l.manufacture, QStringLiteral("Acme"));
        QCOMPARE(l.model, QStringLiteral("P-100"));
        QCOMPARE(l.serialNumber, QStringLiteral("PS-1"));
        QCOMPARE(l.instSerialNum, QStringLiteral("SN100"));
        QCOMPARE(l.tdSerialNum, QStringLiteral("T123"));
        QCOMPARE(l.fileName, QStringLiteral("RXr_F2026kdp8d_T123.p8d"));
        QCOMPARE(l.setFlowRate, QStringLiteral("5.500000"));
    }

    void findEquipmentTakesTheLatestRow() {
        SeededIndex seeded;
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        EquipmentDetails d;
        QVERIFY(!index.FindEquipment(QStringLiteral("A12"), d)); // empty index
        QVERIFY(index.AddRow(
            Row(QStringLiteral("A12"), QStringLiteral("1.p8d"), QStringLiteral("first"))));
        QVERIFY(index.AddRow(
            Row(QStringLiteral("O'Brien"), QStringLiteral("2.p8d"), QStringLiteral("quote"))));
        QVERIFY(index.AddRow(
            Row(QStringLiteral("A12"), QStringLiteral("3.p8d"), QStringLiteral("second"))));
        QVERIFY(index.AddRow(Row(QStringLiteral("B7"), QStringLiteral("4.p8d"))));
        QVERIFY(index.FindEquipment(QStringLiteral("A12"), d));
        QCOMPARE(d.operatorName, QStringLiteral("second"));
        QCOMPARE(d.controlNumber, QStringLiteral("A12"));
        QVERIFY(index.FindEquipment(QStringLiteral("O'Brien"), d));
        QCOMPARE(d.operatorName, QStringLiteral("quote"));
        QVERIFY(!index.FindEquipment(QStringLiteral("x' OR '1'='1"), d));
        QVERIFY(!index.FindEquipment(QStringLiteral("a12"), d));
        // A row without a date-time keeps its other columns.
        RecordIndexRow undated =
            Row(QStringLiteral("U1"), QStringLiteral("5.p8d"), QStringLiteral("undated"));
        undated.dateTime = QDateTime();
        QVERIFY(index.AddRow(undated));
        QVERIFY(index.FindEquipment(QStringLiteral("U1"), d));
        QCOMPARE(d.operatorName, QStringLiteral("undated"));
        // The cursor is back on the first row for the next user.
        QList<RecordListRow> rows;
        QVERIFY(index.ListRows(rows));
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[4].fileName, QStringLiteral("5.p8d"));
    }

    void deleteRowReopensFirst() {
        SeededIndex seeded;
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        QVERIFY(index.AddRow(Row(QStringLiteral("A"), QStringLiteral("a.p8d"))));
        {
            // Another user of the same file adds a row this cursor never saw.
            RecordIndex other(*env.settings);
            QVERIFY(other.Open());
            QVERIFY(other.AddRow(Row(QStringLiteral("B"), QStringLiteral("O'Hara.p8d"))));
        }
        QVERIFY(index.DeleteRow(QStringLiteral("Filename"), QStringLiteral("O'Hara.p8d")));
        QVERIFY(!index.DeleteRow(QStringLiteral("Filename"), QStringLiteral("O'Hara.p8d")));
        QCOMPARE(index.GetCount(), 1);
        index.ClearAll();
        QCOMPARE(index.GetCount(), 0);
        QVERIFY(!index.DeleteRow(QStringLiteral("Filename"), QStringLiteral("a.p8d")));
    }

    void indexRecordRules_data() {
        QTest::addColumn<HeaderLines>("lines");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<QStringList>(
            "expected"); // control, type, date, volume, channel, tolerance
        QTest::newRow("plain") << HeaderLines{} << 5
                               << QStringList{"A12", "F", "08-Dec-26", "100.000000", "1", "5"};
        QTest::newRow("blank control")
            << HeaderLines{{6, "   "}} << 5
            << QStringList{"zzUNKNOWN", "F", "08-Dec-26", "100.000000", "1", "5"};
        QTest::newRow("tolerance out of range")
            << HeaderLines{} << 60 << QStringList{"A12", "F", "08-Dec-26", "100.000000", "1", "7"};
        QTest::newRow("negative volume") << HeaderLines{{14, "-1.00"}} << 5
                                         << QStringList{"A12", "F", "08-Dec-26", "", "1", "5"};
        QTest::newRow("numeric date")
            << HeaderLines{{18, "08/12/2026,14:05:09"}, {2, "1,T9,1"}} << 5
            << QStringList{"A12", "F", "08-Dec-26", "100.000000", "0", "5"};
        QTest::newRow("occlusion") << HeaderLines{{12, "Occlusion"}} << 0
                                   << QStringList{"A12", "O", "08-Dec-26", "100.000000", "1", "0"};
    }
    void indexRecordRules() {
        QFETCH(HeaderLines, lines);
        QFETCH(int, tolerance);
        QFETCH(QStringList, expected);
        StoreTestEnv env;
        env.CopySeeds();
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/r.p8d"), RecordFile(lines));
        RecordIndex index(*env.settings);
        QVERIFY(index.Open());
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(env.dataDir + QStringLiteral("/r.p8d")));
        doc.DefaultTolerance = tolerance;

        QVERIFY(!index.IndexRecord(doc, QStringLiteral("r.p8d"))); // start-up not finished
        QCOMPARE(index.GetCount(), 0);
        index.SetStartupFinished(true);
        QVERIFY(index.IndexRecord(doc, QStringLiteral("r.p8d"), QStringLiteral("P-100")));

        const QVariantList raw = RawRow(env, 0);
        QCOMPARE(raw.size(), 30);
        QCOMPARE(raw[0].toString(), expected[0]);
        QCOMPARE(raw[1].toString(), expected[1]);
        QCOMPARE(raw[2].toString(), expected[2]);
        QCOMPARE(raw[27].toString(), expected[3]);
        QCOMPARE(raw[12].toString(), expected[4]);
        QCOMPARE(raw[24].toString(), expected[5]);
        QCOMPARE(raw[3].toString(), QStringLiteral("14:05:09"));
        QCOMPARE(raw[4].toString(), QStringLiteral("2026-12-08 14:05:09"));
        QCOMPARE(raw[5].toString(), QStringLiteral("r.p8d"));
        QCOMPARE(raw[6].toString(), QStringLiteral("Smith, J."));
        QCOMPARE(raw[25].toString(), QStringLiteral("P-100"));
        QCOMPARE(raw[26].toString(), QStringLiteral("5.500000"));
        QCOMPARE(raw[28].toString(), QStringLiteral("0.000000"));
        QVERIFY(raw[29].isNull());
        // The record object carries the indexed forms.
        QCOMPARE(doc.ControlNumber, expected[0]);
        QCOMPARE(QString::number(doc.DefaultTolerance), expected[5]);
        QCOMPARE(doc.SetFlowRateText, QStringLiteral("5.500000"));
        if (!expected[3].isEmpty()) QCOMPARE(doc.SetVolumeText, expected[3]);
    }

    void templateRecordIsTypeT() {
        SeededIndex seeded(true);
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        CRivuletrixDoc doc;
        doc.ReadRecordBytes("N2 Tpl\r\n", 8);
        doc.TestType = 'F';
        QVERIFY(doc.TemplateSteps != 0);
        QVERIFY(index.IndexRecord(doc, QStringLiteral("RXr_TF.p8d")));
        QList<RecordListRow> rows;
        QVERIFY(index.ListRows(rows));
        QCOMPARE(rows[0].typeOfTest, QStringLiteral("T"));
        QCOMPARE(rows[0].controlNumber, QStringLiteral("zzUNKNOWN"));
    }

    void startDateNormalisation_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("indexed");
        QTest::newRow("named month") << "08-Dec-2026"
                                     << "08-Dec-26";
        QTest::newRow("slashes") << "08/12/2026"
                                 << "08-Dec-26";
        QTest::newRow("dashes") << "08-12-2026"
                                << "08-Dec-26";
        QTest::newRow("month 13") << "08/13/2026"
                                  << "08-Inv-26";
        QTest::newRow("month 0") << "08/00/2026"
                                 << "08-Jan-26";
        QTest::newRow("not a number") << "08/xx/2026"
                                      << "08-Jan-26";
        QTest::newRow("january") << "31/01/2025"
                                 << "31-Jan-25";
        QTest::newRow("empty") << ""
                               << "-Jan-";
    }
    void startDateNormalisation() {
        QFETCH(QString, date);
        QFETCH(QString, indexed);
        QCOMPARE(RecordIndex::NormaliseStartDate(date), indexed);
    }

    void startDateTime_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QDateTime>("parsed");
        const QDateTime dec8(QDate(2026, 12, 8), QTime(14, 5, 9));
        const QDateTime none(QDate(1900, 1, 1), QTime(0, 0));
        QTest::newRow("named month") << "08-Dec-2026"
                                     << "14:05:09" << dec8;
        QTest::newRow("day first") << "08/12/2026"
                                   << "14:05:09" << dec8;
        QTest::newRow("two-digit year") << "08.12.26"
                                        << "14:05:09" << dec8;
        QTest::newRow("no seconds") << "01-Jan-2026"
                                    << "00:07" << QDateTime(QDate(2026, 1, 1), QTime(0, 7));
        QTest::newRow("bad hour") << "08-Dec-2026"
                                  << "25:00:00" << none;
        QTest::newRow("bad day") << "32-Dec-2026"
                                 << "14:05:09" << none;
        QTest::newRow("garbage") << "soon"
                                 << "later" << none;
        QTest::newRow("empty") << ""
                               << "" << none;
        // The wall-clock text is kept whatever the time zone: this hour does
        // not exist in London.
        QTest::newRow("daylight-saving gap")
            << "29-Mar-2026"
            << "01:30:00" << QDateTime(QDate(2026, 3, 29), QTime(1, 30));
    }
    void startDateTime() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QDateTime, parsed);
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Europe/London");
        const QDateTime got = RecordIndex::ParseStartDateTime(date, time);
        if (zone.isEmpty())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        QVERIFY(got.isValid());
        // What the index stores: the date and time as written.
        const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
        QCOMPARE(got.toString(format), parsed.toString(format));
    }

    void rebuildVariants_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("progress");
        const QStringList all{"1 a.p8d", "2 b.p8d", "3 bad.p8d", "4 garbage.p8d", "5 old.p7d"};
        QTest::newRow("index build") << int(RecordIndex::RebuildKind::IndexBuild)
                                     << QStringList{"a.p8d", "b.p8d", "bad.p8d", "old.p7d"} << all;
        QTest::newRow("browser") << int(RecordIndex::RebuildKind::Browser)
                                 << QStringList{"a.p8d", "b.p8d", "old.p7d"} << all;
        QTest::newRow("import") << int(RecordIndex::RebuildKind::Import)
                                << QStringList{"a.p8d", "b.p8d"}
                                << QStringList{"1 a.p8d", "2 b.p8d", "3 bad.p8d", "4 garbage.p8d"};
    }
    void rebuildVariants() {
        QFETCH(int, kind);
        QFETCH(QStringList, files);
        QFETCH(QStringList, progress);
        SeededIndex seeded(true);
        auto& [env, index] = seeded;
        QVERIFY(index.Open());
        for (int i = 0; i < 3; ++i)
            QVERIFY(index.AddRow(Row(QStringLiteral("stale"), QStringLiteral("gone.p8d"))));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/b.p8d"), RecordFile({{6, "B"}}));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/a.p8d"), RecordFile({{6, "A"}}));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/old.p7d"),
                            RecordFile({{6, "OLD"}, {19, "PXR-7"}}));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/notes.p8u"), RecordFile());
        // Listed by the folder, but it cannot be opened.
#ifdef Q_OS_WIN
        if (RecordIndex::RebuildKind(kind) == RecordIndex::RebuildKind::IndexBuild)
            QSKIP("a dangling link is a readable shortcut file on Windows");
#endif
        QVERIFY(QFile::link(env.dataDir + QStringLiteral("/nowhere"),
                            env.dataDir + QStringLiteral("/bad.p8d")));
        // Readable, but not a record: never a row, whatever the rebuild.
        QByteArray garbage(4096, '\0');
        for (int i = 0; i < garbage.size(); ++i) garbage[i] = char((i * 7919 + 13) % 251);
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/garbage.p8d"), garbage);

        QStringList seen, unreadable;
        RebuildCallbacks cb;
        cb.onFile = [&](int n, const QString& f) { seen << QStringLiteral("%1 %2").arg(n).arg(f); };
        cb.onUnreadable = [&](const QString& f, const QString&) { unreadable << f; };
        const RebuildResult r = index.Rebuild(RecordIndex::RebuildKind(kind), cb);
        QVERIFY(r.ran);
        QCOMPARE(seen, progress);
        QCOMPARE(r.filesProcessed, progress.size());
        QCOMPARE(unreadable, (QStringList{"bad.p8d", "garbage.p8d"}));
        QCOMPARE(r.rowsAdded, files.size());

        RecordIndex reader(*env.settings); // what the file holds, in order
        QVERIFY(reader.Open());
        QList<RecordListRow> rows;
        QVERIFY(reader.ListRows(rows));
        QStringList listed;
        for (const RecordListRow& row : rows) listed << row.fileName;
        QCOMPARE(listed, files);
        for (const RecordListRow& row : rows)
            if (row.fileName == QLatin1String("bad.p8d"))
                QCOMPARE(row.controlNumber, QStringLiteral("zzUNKNOWN"));
        // Rows carry the "FlowTolerance" setting, as a record read for its
        // window does.
        for (int i = 0; i < files.size(); ++i) QCOMPARE(RawRow(env, i).value(24).toInt(), 7);
    }

    void buildNeedsAnOpenIndex() {
        StoreTestEnv env;
        RecordIndex index(*env.settings);
        index.SetStartupFinished(true);
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/a.p8d"), RecordFile());
        QVERIFY(!index.Rebuild(RecordIndex::RebuildKind::IndexBuild).ran);
        QVERIFY(!index.Rebuild(RecordIndex::RebuildKind::Browser).ran);
        const RebuildResult r = index.Rebuild(RecordIndex::RebuildKind::Import); // opens by itself
        QVERIFY(r.ran);
        QCOMPARE(r.rowsAdded, 1);
    }
};

QTEST_GUILESS_MAIN(TestRecordIndex)
#include "test_record_index.moc"
