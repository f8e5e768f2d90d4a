#include "StoreTestEnv.h"
#include "records/Template.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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

        // Another folder by option; its empty index lists as [].
        const QString other = env.tmp.path() + QStringLiteral("/other");
        const Run empty = Cli({QStringLiteral("index"), QStringLiteral("list"),
                               QStringLiteral("--data-folder"), other},
                              env.work);
        QCOMPARE(empty.code, 0);
        QCOMPARE(empty.out.trimmed(), QByteArray("[]"));
    }
};

QTEST_GUILESS_MAIN(TestStoreCli)
#include "test_store_cli.moc"
