// rivuletrix-cli recover: the journals of tests that did not end cleanly
// become indexed record files; what cannot be recovered stays.
#include "../SmallTmpfs.h"
#include "../store/StoreTestEnv.h"

#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#if defined(Q_OS_LINUX)
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace {

struct Run {
    int code = -1;
    QByteArray out, err;
};

Run Cli(const QStringList& args, const QString& dir) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
    Run r;
    if (!p.waitForFinished(60000)) return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A journal as a live Flow test leaves it: the header stamped at Start Test
// and samples every 100 ms.
void FillHeader(CRivuletrixDoc& doc, const QString& control) {
    doc.TestType = 'F';
    doc.ControlNumber = control;
    doc.TdSerialNum = QStringLiteral("T180001234");
    doc.InstModel = QStringLiteral("PXR-8");
    doc.StartDate = QStringLiteral("10-Dec-2026");
    doc.StartTime = QStringLiteral("09:30:00");
    doc.SetFlowRate = 100;
}

QByteArray JournalHeader(const QString& control) {
    CRivuletrixDoc doc;
    FillHeader(doc, control);
    return doc.FormatSection();
}

Sample At(int slot, uint32_t step = 28) {
    Sample s;
    s.time = uint32_t(slot) * 100;
    s.volume = uint32_t(slot) * step;
    s.code = 'v';
    return s;
}

void MakeJournal(const QString& path, const QString& control, int samples, uint32_t step = 28) {
    TestJournal j;
    QVERIFY(j.Open(path, JournalHeader(control)));
    for (int slot = 1; slot <= samples; ++slot) j.Append(slot, At(slot, step));
    j.Close();
}

// The record files in the data folder.
QStringList Records(const StoreTestEnv& env) {
    return QDir(env.dataDir).entryList({QStringLiteral("*.p8d")}, QDir::Files, QDir::Name);
}

// How many index rows name the file.
int Rows(const StoreTestEnv& env, const QString& name) {
    RecordIndex index(*env.settings);
    index.SetDataFolder(env.dataDir);
    index.SetStartupFinished(true);
    if (!index.Open()) return -1;
    QList<RecordListRow> rows;
    if (!index.ListRows(rows)) return -1;
    int n = 0;
    for (const RecordListRow& row : rows) n += row.fileName == name;
    return n;
}

QJsonArray Recover(const StoreTestEnv& env, int expectedCode = 0) {
    const Run r = Cli({"recover"}, env.work);
    if (r.code != expectedCode) qWarning() << "recover:" << r.code << r.out << r.err;
    return QJsonDocument::fromJson(r.out).array();
}

} // namespace

class TestJournalRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recoverListsThenMakesIndexedRecords() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        MakeJournal(folder + QStringLiteral("/a.rxj"), QStringLiteral("PUMP-1"), 50);
        MakeJournal(folder + QStringLiteral("/b.rxj"), QStringLiteral("PUMP-2"), 0);

        const Run list = Cli({"recover", "--list"}, env.work);
        QCOMPARE(list.code, 0);
        const QJsonArray listed = QJsonDocument::fromJson(list.out).array();
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed[0]["samples"].toInt(), 50);
        QCOMPARE(listed[0]["lastSampleTime"].toString(), QStringLiteral("00:00:05"));
        QCOMPARE(listed[0]["controlNumber"].toString(), QStringLiteral("PUMP-1"));
        QCOMPARE(listed[1]["samples"].toInt(), 0);
        QVERIFY(QFile::exists(folder + QStringLiteral("/a.rxj"))); // listing changes nothing

        const Run rec = Cli({"recover"}, env.work);
        QCOMPARE(rec.code, 1); // b could not be recovered
        const QJsonArray done = QJsonDocument::fromJson(rec.out).array();
        QCOMPARE(done.size(), 2);
        const QString record = done[0]["record"].toString();
        QCOMPARE(QFileInfo(record).absolutePath(), QDir(env.dataDir).absolutePath());
        QVERIFY(done[0]["indexed"].toBool());
        QCOMPARE(done[1]["error"].toString(), QStringLiteral("The journal holds no samples."));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/a.rxj")));
        QVERIFY(QFile::exists(folder + QStringLiteral("/b.rxj")));

        CRivuletrixDoc back;
        QVERIFY(back.ReadRecordFile(record));
        QCOMPARE(back.ControlNumber, QStringLiteral("PUMP-1"));
        QCOMPARE(back.ElapsedTicks(back.StoredCount()), 5000u);
        QCOMPARE(back.VolumeAt(back.StoredCount()), 50u * 28);

        const Run index = Cli({"index", "list"}, env.work);
        QCOMPARE(index.code, 0);
        QVERIFY2(index.out.contains(QFileInfo(record).fileName().toUtf8()), index.out);

        // Another test of the same name never overwrites the record.
        MakeJournal(folder + QStringLiteral("/c.rxj"), QStringLiteral("PUMP-1"), 10, 30);
        QFile::remove(folder + QStringLiteral("/b.rxj"));
        const Run again = Cli({"recover"}, env.work);
        QCOMPARE(again.code, 0);
        const QString second =
            QJsonDocument::fromJson(again.out).array().at(0).toObject()["record"].toString();
        QCOMPARE(second, record.left(record.size() - 4) + QStringLiteral("_1.p8d"));
        QVERIFY(back.ReadRecordFile(record));
        QCOMPARE(back.ElapsedTicks(back.StoredCount()), 5000u);
    }

    void damagedJournalIsReportedAndKept() {
        StoreTestEnv env;
        const QString folder = journal::Folder(env.settingsDir);
        QDir().mkpath(folder);
        StoreTestEnv::Write(folder + QStringLiteral("/x.rxj"), QByteArray("not a journal"));
        const Run rec = Cli({"recover", "--data-folder", env.dataDir}, env.work);
        QCOMPARE(rec.code, 1);
        const QJsonArray done = QJsonDocument::fromJson(rec.out).array();
        QCOMPARE(done[0]["error"].toString(), QStringLiteral("The file is not a test journal."));
        QVERIFY(QFile::exists(folder + QStringLiteral("/x.rxj")));
    }

    // A test still running (here: a journal this process writes) is neither
    // recovered nor counted as a failure; its journal stays with its writer.
    void journalOfRunningTestIsLeftAlone() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        MakeJournal(folder + QStringLiteral("/done.rxj"), QStringLiteral("PUMP-1"), 20);
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.StartDate = QStringLiteral("10-Dec-2026");
        doc.StartTime = QStringLiteral("10:00:00");
        TestJournal running;
        QVERIFY(running.Open(folder + QStringLiteral("/live.rxj"), doc.FormatSection()));
        Sample s;
        s.time = 100;
        s.code = 'v';
        running.Append(1, s);
        running.Flush();
        QVERIFY(journal::InUse(folder + QStringLiteral("/live.rxj")));
        QVERIFY(!journal::InUse(folder + QStringLiteral("/done.rxj")));

        const Run list = Cli({"recover", "--list"}, env.work);
        const QJsonArray listed = QJsonDocument::fromJson(list.out).array();
        QCOMPARE(listed.size(), 2);
        QVERIFY(!listed[0]["inUse"].toBool());
        QVERIFY(listed[1]["inUse"].toBool());

        const Run rec = Cli({"recover"}, env.work);
        QCOMPARE(rec.code, 0);
        const QJsonArray done = QJsonDocument::fromJson(rec.out).array();
        QCOMPARE(done.size(), 2);
        QVERIFY(!done[0]["record"].toString().isEmpty());
        QVERIFY(done[1]["record"].toString().isEmpty());
        QVERIFY(done[1]["inUse"].toBool());
        QVERIFY(QFile::exists(folder + QStringLiteral("/live.rxj")));

        // Its writer gone, the journal is an ordinary leftover again.
        running.Close();
        QVERIFY(!journal::InUse(folder + QStringLiteral("/live.rxj")));
        const Run after = Cli({"recover"}, env.work);
        QCOMPARE(after.code, 0);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/live.rxj")));
    }

    // A save killed at each of its steps leaves the journal beside what the
    // save had done. Recovery, however often it runs, ends with one record
    // file (the saved one, with the samples the journal had not caught) and
    // one index row.
    void saveKilledAtEachStep_data() {
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("indexed");
        QTest::newRow("before the record was written") << false << false;
        QTest::newRow("record written, not indexed") << true << false;
        QTest::newRow("record written and indexed") << true << true;
    }
    void saveKilledAtEachStep() {
        QFETCH(bool, written);
        QFETCH(bool, indexed);
        StoreTestEnv env;
        env.CopySeeds();
        const QString journalPath = journal::Folder(env.settingsDir) + QStringLiteral("/a.rxj");
        MakeJournal(journalPath, QStringLiteral("PUMP-1"), 50);
        CRivuletrixDoc saved;
        FillHeader(saved, QStringLiteral("PUMP-1"));
        // The save holds the last second the journal had not written yet.
        for (int slot = 1; slot <= 60; ++slot) saved.SetSample(slot, At(slot));
        const QString name = saved.MakeRecordFileName();
        QDir().mkpath(env.dataDir);
        if (written) QVERIFY(saved.WriteRecordFile(QDir(env.dataDir).filePath(name)));
        if (indexed) {
            RecordIndex index(*env.settings);
            index.SetDataFolder(env.dataDir);
            index.SetStartupFinished(true);
            QVERIFY(index.Open());
            QVERIFY(index.IndexRecord(saved, name));
        }

        for (int run = 0; run < 2; ++run) {
            const QJsonArray done = Recover(env);
            QCOMPARE(done.size(), run == 0 ? 1 : 0);
        }
        QCOMPARE(Records(env), QStringList{name});
        QCOMPARE(Rows(env, name), 1);
        QVERIFY(!QFile::exists(journalPath));
        CRivuletrixDoc back;
        QVERIFY(back.ReadRecordFile(QDir(env.dataDir).filePath(name)));
        QCOMPARE(back.VolumeAt(back.StoredCount()), (written ? 60u : 50u) * 28);
    }

    // Damage in the middle of a journal loses only the frame it hit: the
    // samples after it are recovered, what was skipped is said, and the
    // journal is kept; recovering it again makes no second record or row.
    void damagedFrameIsSkippedAndJournalKept() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        QDir().mkpath(folder);
        QByteArray bytes(journal::kMagic, qsizetype(journal::kMagicSize));
        bytes += journal::HeaderFrame(JournalHeader(QStringLiteral("PUMP-9")));
        int damagedAt = 0;
        for (int frame = 0; frame < 5; ++frame) {
            std::vector<journal::JournalSample> batch;
            for (int k = 1; k <= 10; ++k)
                batch.push_back({uint32_t(frame * 10 + k), At(frame * 10 + k)});
            if (frame == 2) damagedAt = int(bytes.size()) + 20;
            bytes += journal::SamplesFrame(batch.data(), batch.size());
        }
        bytes[damagedAt] = char(bytes[damagedAt] ^ 0x01);
        const QString path = folder + QStringLiteral("/d.rxj");
        StoreTestEnv::Write(path, bytes);

        QString record;
        for (int run = 0; run < 3; ++run) {
            const QJsonArray done = Recover(env);
            QCOMPARE(done.size(), 1);
            const QJsonObject r = done[0].toObject();
            QCOMPARE(r["samples"].toInt(), 40);
            QCOMPARE(r["missingSamples"].toInt(), 10);
            QVERIFY(r["damagedBytes"].toInt() > 0);
            QVERIFY(r["journalKept"].toString().contains(QStringLiteral("10 samples missing")));
            QCOMPARE(r["alreadySaved"].toBool(), run > 0);
            record = r["record"].toString();
        }
        QVERIFY(QFile::exists(path));
        const QString name = QFileInfo(record).fileName();
        QCOMPARE(Records(env), QStringList{name});
        QCOMPARE(Rows(env, name), 1);
        CRivuletrixDoc back;
        QVERIFY(back.ReadRecordFile(record));
        // Live slot i is line i + 1 of the record.
        QCOMPARE(back.VolumeAt(51), 50u * 28); // the samples after the damage
        QCOMPARE(back.VolumeAt(21), 20u * 28);
        QCOMPARE(back.VolumeAt(26), 0u); // lost with the damaged frame
    }

    // A journal folder that cannot be written (a read-only mount): each
    // recovery says the journal could not be removed, and still there is one
    // record and one row.
    void readOnlyJournalFolderRecoversOnce() {
#if defined(Q_OS_LINUX)
        if (::geteuid() != 0) QSKIP("a read-only mount needs root");
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        SmallTmpfs fs(256 * 1024);
        if (!fs.Usable()) QSKIP(qPrintable(fs.WhyNot()));
        MakeJournal(fs.Path() + QStringLiteral("/a.rxj"), QStringLiteral("PUMP-RO"), 30);
        QDir().mkpath(folder);
        QVERIFY(::mount(QFile::encodeName(fs.Path()).constData(),
                        QFile::encodeName(folder).constData(), nullptr, MS_BIND, nullptr) == 0);
        const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH); });
        QVERIFY(::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                        MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);

        QString name;
        for (int run = 0; run < 3; ++run) {
            const QJsonArray done = Recover(env);
            QCOMPARE(done.size(), 1);
            const QJsonObject r = done[0].toObject();
            QVERIFY2(r["journalKept"].toString().contains(QStringLiteral("could not be removed")),
                     qPrintable(r["journalKept"].toString()));
            name = QFileInfo(r["record"].toString()).fileName();
        }
        QVERIFY(QFile::exists(folder + QStringLiteral("/a.rxj")));
        QCOMPARE(Records(env), QStringList{name});
        QCOMPARE(Rows(env, name), 1);
#else
        QSKIP("a read-only mount is a Linux test");
#endif
    }

    // A journal with a header and no samples can be discarded by name; the
    // next recovery is then clean.
    void discardHeaderOnlyJournal() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        MakeJournal(folder + QStringLiteral("/empty.rxj"), QStringLiteral("PUMP-0"), 0);
        QCOMPARE(Cli({"recover"}, env.work).code, 1);
        const Run missing = Cli({"recover", "--discard", "nosuch.rxj"}, env.work);
        QCOMPARE(missing.code, 1);
        const Run discard = Cli({"recover", "--discard", "empty.rxj"}, env.work);
        QCOMPARE(discard.code, 0);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/empty.rxj")));
        QCOMPARE(Cli({"recover"}, env.work).code, 0);
        QVERIFY(Records(env).isEmpty());
    }

    // Tests of one analyzer channel started in the same second share a record
    // name: a later one gets a name of its own, never the earlier's file.
    void sameNamedTestsKeepTheirOwnRecords() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        for (int n = 0; n < 3; ++n) {
            MakeJournal(folder + QStringLiteral("/j%1.rxj").arg(n),
                        QStringLiteral("PUMP-%1").arg(n), 200);
            Recover(env);
            QCOMPARE(Records(env).size(), n + 1);
        }
        for (const QString& name : Records(env)) QCOMPARE(Rows(env, name), 1);
    }

    // Two recoveries at the same moment share the journals out: neither
    // reports the other's as an error, and each test has one record and row.
    void concurrentRecoveriesAreNotErrors() {
        StoreTestEnv env;
        env.CopySeeds();
        const QString folder = journal::Folder(env.settingsDir);
        for (int n = 0; n < 6; ++n)
            MakeJournal(folder + QStringLiteral("/j%1.rxj").arg(n),
                        QStringLiteral("PUMP-%1").arg(n), 200);
        QProcess a, b;
        for (QProcess* p : {&a, &b}) {
            p->setWorkingDirectory(env.work);
            p->start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), {"recover"});
        }
        for (QProcess* p : {&a, &b}) {
            QVERIFY(p->waitForFinished(60000));
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        const QStringList records = Records(env);
        QCOMPARE(records.size(), 6);
        // Each test in a file of its own: a name taken by the other process
        // at the same moment was never written over.
        QStringList controls;
        for (const QString& name : records) {
            QCOMPARE(Rows(env, name), 1);
            CRivuletrixDoc doc;
            QVERIFY(doc.ReadRecordFile(env.dataDir + QLatin1Char('/') + name));
            controls << doc.ControlNumber;
        }
        controls.sort();
        QCOMPARE(controls,
                 (QStringList{"PUMP-0", "PUMP-1", "PUMP-2", "PUMP-3", "PUMP-4", "PUMP-5"}));
        QVERIFY(journal::List(folder).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJournalRecovery)
#include "test_journal_recovery.moc"
