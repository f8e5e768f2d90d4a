// rivuletrix-cli recover: the journals of tests that did not end cleanly
// become indexed record files; what cannot be recovered stays.
#include "../store/StoreTestEnv.h"

#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

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
void MakeJournal(const QString& path, const QString& control, int samples) {
    CRivuletrixDoc doc;
    doc.TestType = 'F';
    doc.ControlNumber = control;
    doc.TdSerialNum = QStringLiteral("T180001234");
    doc.InstModel = QStringLiteral("PXR-8");
    doc.StartDate = QStringLiteral("10-Dec-2026");
    doc.StartTime = QStringLiteral("09:30:00");
    doc.SetFlowRate = 100;
    TestJournal j;
    QVERIFY(j.Open(path, doc.FormatSection()));
    for (int slot = 1; slot <= samples; ++slot) {
        Sample s;
        s.time = uint32_t(slot) * 100;
        s.volume = uint32_t(slot) * 28;
        s.code = 'v';
        j.Append(slot, s);
    }
    j.Close();
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

        // The same test journalled again never overwrites the record.
        MakeJournal(folder + QStringLiteral("/c.rxj"), QStringLiteral("PUMP-1"), 10);
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
};

QTEST_GUILESS_MAIN(TestJournalRecovery)
#include "test_journal_recovery.moc"
