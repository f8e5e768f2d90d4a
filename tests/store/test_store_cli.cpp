#include "../SmallTmpfs.h"
#include "StoreTestEnv.h"
#include "records/RivuletrixDoc.h"
#include "records/Template.h"
#include "store/RecordIndex.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

// rivuletrix-cli index and template commands, run as a user runs them.
class TestStoreCli : public QObject {
    Q_OBJECT

    struct Run {
        int code = -1;
        QByteArray out, err;
    };
    static Run Cli(const QStringList& args, const QString& dir, const QByteArray& input = {}) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral(RX_CLI), args);
        p.write(input);
        p.closeWriteChannel();
        Run r;
        if (!p.waitForFinished(30000)) return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }
    static QString Fixture() { return QStringLiteral(RX_TEST_DATA "/store/flow_pca.p8t"); }

    static QByteArray RecordText(const QByteArray& control) {
        return "H1,SN1,2.10\r\nH2,1,T9,1.0\r\nH6," + control +
               "\r\nH12,Flow\r\nH13,5.50   \r\nH18,08/12/2026,14:05:09\r\nD1,:,0,0,0\r\n"
               "D2, ,1000,14,20\r\n";
    }

    // The file names the index lists, in order.
    static QStringList IndexedFiles(const QString& work) {
        const Run list = Cli({QStringLiteral("index"), QStringLiteral("list")}, work);
        QStringList files;
        for (const QJsonValue& v : QJsonDocument::fromJson(list.out).array())
            files << v.toObject().value(QStringLiteral("Filename")).toString();
        return files;
    }

private Q_SLOTS:
    void templateShowAndWriteRoundTrip() {
        StoreTestEnv env;
        const Run show =
            Cli({QStringLiteral("template"), QStringLiteral("show"), Fixture()}, env.work);
        QCOMPARE(show.code, 0);
        const QJsonObject o = QJsonDocument::fromJson(show.out).object();
        QCOMPARE(o.value(QStringLiteral("StepCount")).toInt(), 3);
        QCOMPARE(o.value(QStringLiteral("Steps")).toArray().size(), 6);
        const QJsonObject s0 = o.value(QStringLiteral("Steps")).toArray().at(0).toObject();
        QCOMPARE(s0.value(QStringLiteral("Rate")).toDouble(), 25.25);
        QCOMPARE(s0.value(QStringLiteral("Minutes")).toInt(), 30);
        QCOMPARE(o.value(QStringLiteral("DeviceComments")).toString(),
                 QStringLiteral("Ward 3 \u2013 ICU"));
        QVERIFY(show.out.startsWith("{\"StepCount\": 3, \"Steps\": ["));

        const QString out = env.dataDir + QStringLiteral("/RXt_Copy.p8t");
        const Run write =
            Cli({QStringLiteral("template"), QStringLiteral("write"), out}, env.work, show.out);
        QCOMPARE(write.code, 0);
        QCOMPARE(StoreTestEnv::Read(out), StoreTestEnv::Read(Fixture()));
    }

    void templateErrorsExitNonZero_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("truncated file") << QStringList{"template", "show", "TRUNC"} << QByteArray();
        QTest::newRow("missing file")
            << QStringList{"template", "show", "/no/such.p8t"} << QByteArray();
        QTest::newRow("step count 7")
            << QStringList{"template", "write", "OUT"} << QByteArray("{\"StepCount\": 7}");
        QTest::newRow("not JSON") << QStringList{"template", "write", "OUT"}
                                  << QByteArray("{\"Name\":");
        QTest::newRow("fractional hours") << QStringList{"template", "write", "OUT"}
                                          << QByteArray("{\"Steps\": [{\"Hours\": 1.5}]}");
    }
    void templateErrorsExitNonZero() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        StoreTestEnv env;
        const QString trunc = env.dataDir + QStringLiteral("/trunc.p8t");
        StoreTestEnv::Write(trunc, StoreTestEnv::Read(Fixture()).left(300));
        args.replaceInStrings(QStringLiteral("TRUNC"), trunc);
        args.replaceInStrings(QStringLiteral("OUT"), env.dataDir + QStringLiteral("/out.p8t"));
        const Run r = Cli(args, env.work, input);
        QVERIFY(r.code > 0);
        QVERIFY(!r.err.isEmpty());
        QVERIFY(!QFile::exists(env.dataDir + QStringLiteral("/out.p8t")));
    }

    // A template written onto a full disk fails, says why and leaves the
    // older file of that name as it was.
    void templateWriteOnAFullDiskKeepsTheOldFile() {
        RX_SMALL_TMPFS(fs, 64 * 1024);
        StoreTestEnv env;
        const Run show =
            Cli({QStringLiteral("template"), QStringLiteral("show"), Fixture()}, env.work);
        QCOMPARE(show.code, 0);
        const QString out = fs.Path() + QStringLiteral("/RXt_Ward.p8t");
        const QByteArray older("an older template");
        StoreTestEnv::Write(out, older);
        fs.Fill();
        const Run write =
            Cli({QStringLiteral("template"), QStringLiteral("write"), out}, env.work, show.out);
        QVERIFY(write.code > 0);
        QVERIFY2(write.err.contains("No space left on device"), write.err.constData());
        QCOMPARE(StoreTestEnv::Read(out), older);
        QCOMPARE(QDir(fs.Path()).entryList({"*.p8t", ".*.tmp"}, QDir::Files | QDir::Hidden),
                 QStringList{"RXt_Ward.p8t"});
        fs.Free();
        QCOMPARE(Cli({QStringLiteral("template"), QStringLiteral("write"), out}, env.work, show.out)
                     .code,
                 0);
        QCOMPARE(StoreTestEnv::Read(out), StoreTestEnv::Read(Fixture()));
    }

    void indexRebuildListFind() {
        StoreTestEnv env(QStringLiteral("BuildIndex=1\r\n"));
        env.CopySeeds();
        const QByteArray record =
            "H1,SN1,2.10\r\nH2,3,T9,1.0\r\nH6,O'Brien\r\nH7,Ann\r\nH8,Acme\r\nH12,Flow\r\n"
            "H13,5.50   \r\nH18,08/12/2026,14:05:09\r\nD1,:,0,0,0\r\n";
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/a.p8d"), record);
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/b.p8d"),
                            QByteArray(record).replace("Ann", "Bob"));
        QVERIFY(QFile::copy(Fixture(), env.dataDir + QStringLiteral("/RXt_Infusion-1.p8t")));

        const Run rebuild = Cli({QStringLiteral("index"), QStringLiteral("rebuild")}, env.work);
        QCOMPARE(rebuild.code, 0);
        QVERIFY(rebuild.out.contains("Adding file 2 (b.p8d) to the index."));
        QVERIFY(rebuild.out.contains("Index Operation Complete\n\n2 Files Processed."));
        QCOMPARE(env.settings->Setting(QStringLiteral("BuildIndex")), QStringLiteral("0"));

        const Run list = Cli({QStringLiteral("index"), QStringLiteral("list")}, env.work);
        QCOMPARE(list.code, 0);
        const QJsonArray rows = QJsonDocument::fromJson(list.out).array();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].toObject().value(QStringLiteral("StartDate")).toString(),
                 QStringLiteral("08-Dec-26"));
        QCOMPARE(rows[1].toObject().value(QStringLiteral("Filename")).toString(),
                 QStringLiteral("b.p8d"));
        QCOMPARE(rows[0].toObject().value(QStringLiteral("SetFlowRate")).toString(),
                 QStringLiteral("5.500000"));

        const Run find = Cli(
            {QStringLiteral("index"), QStringLiteral("find"), QStringLiteral("O'Brien")}, env.work);
        QCOMPARE(find.code, 0);
        const QJsonObject eq = QJsonDocument::fromJson(find.out).object();
        QCOMPARE(eq.value(QStringLiteral("Operator")).toString(),
                 QStringLiteral("Bob")); // the latest
        QCOMPARE(eq.value(QStringLiteral("Manufacture")).toString(), QStringLiteral("Acme"));
        const Run none =
            Cli({QStringLiteral("index"), QStringLiteral("find"), QStringLiteral("x' OR '1'='1")},
                env.work);
        QCOMPARE(none.code, 1);

        const Run templates =
            Cli({QStringLiteral("index"), QStringLiteral("list"), QStringLiteral("--templates")},
                env.work);
        QCOMPARE(QJsonDocument::fromJson(templates.out).array().size(), 1);

        // Another folder by option: one that is not there is not made (it
        // may be a share that is not mounted); an empty one lists as [].
        const QString other = env.tmp.path() + QStringLiteral("/other");
        const Run missing = Cli({QStringLiteral("index"), QStringLiteral("list"),
                                 QStringLiteral("--data-folder"), other},
                                env.work);
        QCOMPARE(missing.code, 1);
        QVERIFY2(missing.err.contains("does not exist or is not mounted"), missing.err.constData());
        QVERIFY(!QFileInfo::exists(other));
        QVERIFY(QDir().mkpath(other));
        const Run empty = Cli({QStringLiteral("index"), QStringLiteral("list"),
                               QStringLiteral("--data-folder"), other},
                              env.work);
        QCOMPARE(empty.code, 0);
        QCOMPARE(empty.out.trimmed(), QByteArray("[]"));
    }

    // A rebuild whose rows cannot be stored (another program holds the write
    // lock throughout) says so, exits non-zero, keeps the old rows without
    // duplicates and leaves the request to rebuild standing.
    void rebuildThatCannotStoreFails() {
        StoreTestEnv env(QStringLiteral("BuildIndex=1\r\n"));
        env.CopySeeds();
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/a.p8d"), RecordText("A"));
        QCOMPARE(
            Cli({QStringLiteral("index"), QStringLiteral("rebuild"), QStringLiteral("--records")},
                env.work)
                .code,
            0);
        QCOMPARE(IndexedFiles(env.work), QStringList{QStringLiteral("a.p8d")});
        env.settings->WriteSetting(QStringLiteral("Default Parameters"),
                                   QStringLiteral("BuildIndex"), QStringLiteral("1"));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/b.p8d"), RecordText("B"));
        StoreTestEnv::Write(env.dataDir + QStringLiteral("/c.p8d"), RecordText("C"));
        const QString db = env.dataDir + QStringLiteral("/RX_Records.accdb");
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
            other.setDatabaseName(db);
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            const Run r = Cli(
                {QStringLiteral("index"), QStringLiteral("rebuild"), QStringLiteral("--records")},
                env.work);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            q.finish();
            other.close();
            QCOMPARE(r.code, 1);
            QVERIFY2(!r.out.contains("Index Operation Complete"), r.out.constData());
            QVERIFY2(r.err.contains("could not be rebuilt"), r.err.constData());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QCOMPARE(env.settings->Setting(QStringLiteral("BuildIndex")), QStringLiteral("1"));
        QCOMPARE(IndexedFiles(env.work), QStringList{QStringLiteral("a.p8d")});
    }

    // Two programs on one data folder: while one rebuilds the index from
    // 20,000 record files, the other saves a record and indexes it. The
    // saved record's row is there when both are done, once.
    void rebuildLeavesOthersAbleToIndex() {
        StoreTestEnv env;
        env.CopySeeds();
        const int files = 20000;
        for (int i = 0; i < files; ++i) {
            QFile f(env.dataDir + QStringLiteral("/r%1.p8d").arg(i, 5, 10, QLatin1Char('0')));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(RecordText("C" + QByteArray::number(i)));
        }
        QProcess rebuild;
        rebuild.setWorkingDirectory(env.work);
        rebuild.start(QStringLiteral(RX_CLI), {QStringLiteral("index"), QStringLiteral("rebuild"),
                                               QStringLiteral("--records")});
        QVERIFY(rebuild.waitForStarted());
        // Well into the rebuild: files are being read and rows written.
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains("Adding file 3000 ") && t.elapsed() < 120000) {
            rebuild.waitForReadyRead(1000);
            out += rebuild.readAllStandardOutput();
        }
        QVERIFY2(out.contains("Adding file 3000 "), "the rebuild did not get going");
        QVERIFY(rebuild.state() == QProcess::Running);

        // The other program: opens the index, saves a record, indexes it.
        const QString saved = QStringLiteral("zz_saved.p8d");
        StoreTestEnv::Write(env.dataDir + QLatin1Char('/') + saved, RecordText("SAVED"));
        {
            RecordIndex other(*env.settings);
            other.SetStartupFinished(true);
            QVERIFY2(other.Open(), qPrintable(other.LastError()));
            CRivuletrixDoc doc;
            QVERIFY(doc.ReadRecordFile(env.dataDir + QLatin1Char('/') + saved));
            QVERIFY2(other.IndexRecord(doc, saved), qPrintable(other.LastError()));
        }
        QVERIFY(rebuild.waitForFinished(300000));
        out += rebuild.readAllStandardOutput();
        QCOMPARE(rebuild.exitCode(), 0);
        QVERIFY(out.contains("Index Operation Complete"));
        const QStringList indexed = IndexedFiles(env.work);
        QCOMPARE(indexed.count(saved), 1);
        QCOMPARE(indexed.size(), files + 1);
    }
};

QTEST_GUILESS_MAIN(TestStoreCli)
#include "test_store_cli.moc"
