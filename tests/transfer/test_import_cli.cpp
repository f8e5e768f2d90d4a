// rivuletrix-cli import against the simulator, as a user runs it: JSON of
// what was transferred on standard output, errors on standard error and a
// non-zero exit.
#include "../SmallTmpfs.h"
#include "ImportFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

class TestImportCli : public QObject {
    Q_OBJECT

    struct Run {
        int code = -1;
        QByteArray out, err;
        QJsonObject json;
    };
    static Run Cli(const QStringList& args, const QString& dir) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral(RX_CLI), args);
        Run r;
        if (!p.waitForFinished(60000)) return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        r.json = QJsonDocument::fromJson(r.out).object();
        return r;
    }
    static QList<int> Ints(const QJsonValue& v) {
        QList<int> out;
        for (const QJsonValue& x : v.toArray()) out << x.toInt();
        return out;
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
    }

    void records_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("imported");
        QTest::addColumn<QList<int>>("deleted");
        QTest::newRow("2-3 deleted")
            << QStringList{"--items", "2-3", "--delete"} << QList<int>{2, 3} << QList<int>{2, 2};
        QTest::newRow("1,3,5 kept")
            << QStringList{"--items", "1,3,5"} << QList<int>{1, 3, 5} << QList<int>{};
        QTest::newRow("all deleted") << QStringList{"--items", "all", "--delete"}
                                     << QList<int>{1, 2, 3, 4, 5} << QList<int>{1, 1, 1, 1, 1};
    }
    void records() {
        QFETCH(QStringList, options);
        QFETCH(QList<int>, imported);
        QFETCH(QList<int>, deleted);
        StoreTestEnv env;
        env.CopySeeds();
        SimProcess sim("pxr", {"--preset-records", "5"});
        QVERIFY(sim.Ok());
        const Run r = Cli(
            QStringList{"import", "records", sim.Link(), "--data-folder", env.dataDir} + options,
            env.work);
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.json["count"].toInt(), 5);
        QList<int> numbers;
        QStringList files;
        for (const QJsonValue& v : r.json["imported"].toArray()) {
            numbers << v.toObject()["record"].toInt();
            files << v.toObject()["file"].toString();
        }
        QCOMPARE(numbers, imported);
        QCOMPARE(Ints(r.json["deleted"]), deleted);
        QVERIFY(r.json["indexed"].toBool());
        files.sort();
        QCOMPARE(QDir(env.dataDir).entryList({"*.p8d"}, QDir::Files, QDir::Name), files);
        QStringList sent;
        for (const QString& line : sim.Received())
            if (line.startsWith("[DELREC")) sent << line.mid(8, line.indexOf(']') - 8);
        QStringList expected;
        for (int n : deleted) expected << QString::number(n);
        QCOMPARE(sent, expected);
    }

    // A copy that cannot be written: reported with its file name on standard
    // error, no delete for it, exit 1; the other record is imported and
    // deleted under its right number.
    void failedCopy() {
        StoreTestEnv env;
        env.CopySeeds();
        SimProcess sim("pxr", {"--preset-records", "3"});
        QVERIFY(sim.Ok());
        // What record 1 is called, from a first import that keeps it.
        const Run first = Cli({"import", "records", sim.Link(), "--items", "1", "--data-folder",
                               env.tmp.path() + "/probe"},
                              env.work);
        QCOMPARE(first.code, 0);
        const QString name = first.json["imported"].toArray()[0].toObject()["file"].toString();
        QVERIFY(!name.isEmpty());
        QVERIFY(QDir().mkpath(env.dataDir + '/' + name));
        const Run r = Cli({"import", "records", sim.Link(), "--items", "1-2", "--delete",
                           "--data-folder", env.dataDir},
                          env.work);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(name.toUtf8()), r.err.constData());
        QCOMPARE(Ints(r.json["deleted"]), QList<int>{2});
        QCOMPARE(r.json["imported"].toArray().size(), 1);
        QCOMPARE(r.json["imported"].toArray()[0].toObject()["record"].toInt(), 2);
    }

    // The analyzer unplugged in the middle of record 2 of 4: record 1, which
    // arrived whole, is merged; nothing is deleted after the loss; the exit
    // is non-zero and names what was not imported.
    void unplugMidImport() {
        StoreTestEnv env;
        env.CopySeeds();
        SimProcess sim("pxr", {"--preset-records", "4", "--do",
                               "after 1 GETREC unplug after 10 GETREC lines"});
        QVERIFY(sim.Ok());
        const Run r = Cli({"import", "records", sim.Link(), "--items", "all", "--delete",
                           "--data-folder", env.dataDir},
                          env.work);
        QCOMPARE(r.code, 1);
        const QJsonArray imported = r.json["imported"].toArray();
        QCOMPARE(imported.size(), 1);
        QCOMPARE(imported[0].toObject()["record"].toInt(), 1);
        QVERIFY(Ints(r.json["deleted"]).isEmpty());
        QList<int> failed;
        for (const QJsonValue& v : r.json["failed"].toArray())
            failed << v.toObject()["record"].toInt();
        QCOMPARE(failed, (QList<int>{2, 3, 4}));
        QVERIFY2(r.err.contains("Record 4 was not imported"), r.err.constData());
        QCOMPARE(QDir(env.dataDir).entryList({"*.p8d"}, QDir::Files),
                 QStringList{imported[0].toObject()["file"].toString()});
        QVERIFY(importtest::Deletes(sim).isEmpty());
    }

    // Two analyzers imported into one data folder at the same time, each
    // deleting what it imported: every record is either still on its
    // analyzer or in the data folder byte for byte, and the data folder
    // holds nothing else.
    void twoImportsAtOnce() {
        StoreTestEnv env;
        env.CopySeeds();
        SimProcess a("pxr-a", {"--preset-records", "4", "--serial", "SIMA0001"});
        SimProcess b("pxr-b", {"--preset-records", "4", "--serial", "SIMB0002"});
        QVERIFY(a.Ok() && b.Ok());
        QList<QByteArray> before;
        for (const SimProcess* sim : {&a, &b}) {
            auto dev = importtest::Connect(*sim);
            QVERIFY(dev);
            before += importtest::AnalyzerRecords(*dev);
            dev->DisconnectDevice();
        }
        QCOMPARE(before.size(), 8);
        QList<QProcess*> runs;
        for (const SimProcess* sim : {&a, &b}) {
            auto* p = new QProcess(this);
            p->setWorkingDirectory(env.work);
            p->start(QStringLiteral(RX_CLI), {"import", "records", sim->Link(), "--items", "all",
                                              "--delete", "--data-folder", env.dataDir});
            runs << p;
        }
        for (QProcess* p : runs) {
            QVERIFY(p->waitForFinished(120000));
            delete p;
        }
        QList<QByteArray> after;
        for (const SimProcess* sim : {&a, &b}) {
            auto dev = importtest::Connect(*sim);
            QVERIFY(dev);
            after += importtest::AnalyzerRecords(*dev);
            dev->DisconnectDevice();
        }
        QString why;
        QVERIFY2(importtest::NothingLost(before, after, env.dataDir, &why), qPrintable(why));
        // Each import staged in its own folder and removed it.
        QVERIFY(QDir(env.dataDir + "/Temp")
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                    .isEmpty());
    }

    // A full disk: the notes file is not replaced by an empty one, the
    // system's reason is said and the exit is non-zero; records are not
    // deleted from the analyzer.
    void fullDisk() {
        RX_SMALL_TMPFS(fs, 128 * 1024);
        StoreTestEnv env;
        env.CopySeeds();
        const QString notesText = env.tmp.path() + "/analyzer-notes.txt";
        StoreTestEnv::Write(notesText, QByteArray("First line\nSecond line\n").repeated(50));
        SimProcess sim("pxr", {"--preset-records", "2", "--notes", notesText});
        QVERIFY(sim.Ok());
        const QString notes = fs.Path() + "/notes.p8u";
        const QByteArray earlier("the notes imported last week\n");
        StoreTestEnv::Write(notes, earlier);
        const QString data = fs.Path() + "/data";
        QVERIFY(QDir().mkpath(data + "/Temp"));
        fs.Fill();
        const Run n = Cli({"import", "notes", sim.Link(), "--out", notes}, env.work);
        QCOMPARE(n.code, 1);
        QVERIFY2(n.err.contains("No space left on device"), n.err.constData());
        QCOMPARE(StoreTestEnv::Read(notes), earlier);
        const Run r = Cli(
            {"import", "records", sim.Link(), "--items", "all", "--delete", "--data-folder", data},
            env.work);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
        QVERIFY(importtest::Deletes(sim).isEmpty());
        QVERIFY(QDir(data).entryList({"*.p8d"}, QDir::Files).isEmpty());
    }

    void templatesAndNotes() {
        StoreTestEnv env;
        env.CopySeeds();
        SimProcess sim("pxr", {"--preset-templates", "3"});
        QVERIFY(sim.Ok());
        const Run t =
            Cli({"import", "templates", sim.Link(), "--items", "1,3", "--data-folder", env.dataDir},
                env.work);
        QVERIFY2(t.code == 0, t.err.constData());
        QCOMPARE(t.json["imported"].toArray(),
                 (QJsonArray{"RXt_SimTemplate1.p8t", "RXt_SimTemplate3.p8t"}));
        QVERIFY(t.json["indexed"].toBool());
        // Again: the existing files are kept unless --overwrite says so.
        const Run again =
            Cli({"import", "templates", sim.Link(), "--items", "1", "--data-folder", env.dataDir},
                env.work);
        QCOMPARE(again.code, 1);
        QVERIFY(again.err.contains("overwrite"));
        const Run forced = Cli({"import", "templates", sim.Link(), "--items", "1", "--overwrite",
                                "--data-folder", env.dataDir},
                               env.work);
        QCOMPARE(forced.code, 0);

        const Run n =
            Cli({"import", "notes", sim.Link(), "--out", env.tmp.path() + "/n"}, env.work);
        QVERIFY2(n.code == 0, n.err.constData());
        QCOMPARE(n.json["notes"].toString(), env.tmp.path() + "/n.p8u");
        QVERIFY(QFile::exists(env.tmp.path() + "/n.p8u"));
        const Run bad =
            Cli({"import", "notes", sim.Link(), "--out", env.tmp.path() + "/n.txt"}, env.work);
        QCOMPARE(bad.code, 1);
        QVERIFY(bad.err.contains("Only .p8u extension file can be saved"));
    }

    void badInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("items") << QStringList{"import", "records", "PORT", "--items", "3-1"}
                               << QByteArray("--items");
        QTest::newRow("what") << QStringList{"import", "manuals", "PORT"} << QByteArray("usage");
        QTest::newRow("no port") << QStringList{"import", "records", "/nonexistent/port",
                                                "--data-folder", "DATA"}
                                 << QByteArray("no analyzer answered");
    }
    void badInput() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, error);
        StoreTestEnv env;
        args.replaceInStrings("DATA", env.dataDir);
        const Run r = Cli(args, env.work);
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(error), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_MAIN(TestImportCli)
#include "test_import_cli.moc"
