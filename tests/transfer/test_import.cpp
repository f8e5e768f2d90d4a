// Import from an analyzer against the simulator over pseudo-terminals:
// downloads on the worker thread, the merge into the data folder and both
// stores, deletion on the analyzer only for records safe on the PC.
#include "../SmallTmpfs.h"
#include "../link/TestMain.h"
#include "ImportFixture.h"

#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "base/SafeFileName.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "transfer/ImportMerge.h"
#include "transfer/ImportStaging.h"
#include "transfer/NotesFileName.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <sys/stat.h>

using namespace importtest;
using Mode = ImportDownload::Mode;

namespace {

QStringList RecordFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.p8d")}, QDir::Files, QDir::Name);
}

void Check(QList<ImportedRecord>& entries, const QList<int>& numbers) {
    for (ImportedRecord& e : entries) e.checked = numbers.contains(e.number);
}

// A record file with the given transducer serial number and H18 line.
QByteArray RecordText(const QByteArray& tdSerial, const QByteArray& h18) {
    QByteArray t = "N0\r\nH1,SIM00001,2.10\r\nH2,1," + tdSerial +
                   ",2.10\r\nH3,\r\nH4,\r\nH5,\r\nH6,CN-X\r\nH7,JS\r\nH8,\r\nH9,\r\nH10,\r\n"
                   "H11,\r\nH12,Flow\r\nH13,10.00\r\nH14,0.00\r\nH15,0.00\r\nH16,0.00\r\n"
                   "H17,\r\n";
    t += (h18.isEmpty() ? QByteArray("H18,,") : h18) + "\r\n";
    t += "H19,PXR-8\r\nH20,\r\nH21,\r\nH22,\r\nD1,:,0,0,0\r\nD2, ,1000,28,5\r\nE0";
    return t;
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT
    ScriptedPrompter m_prompter;
    std::unique_ptr<StoreTestEnv> m_env;
    std::unique_ptr<RecordIndex> m_index;
    std::unique_ptr<TemplateStore> m_templates;

    QString Staging() const { return staging::Folder(*m_env->settings); }
    ImportMerge Merge() { return ImportMerge(*m_env->settings, *m_index, *m_templates); }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
    }
    void init() {
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
        m_env = std::make_unique<StoreTestEnv>();
        m_env->CopySeeds();
        m_index = std::make_unique<RecordIndex>(*m_env->settings);
        m_index->SetStartupFinished(true);
        m_templates = std::make_unique<TemplateStore>(*m_env->settings);
        QVERIFY(m_index->Open());
        QVERIFY(m_templates->Open());
    }
    void cleanup() {
        m_index.reset();
        m_templates.reset();
        m_env.reset();
        SetPrompter(nullptr);
    }

    // Records ticked in the list of five, with and without deletion: the
    // deletes name each record's number as it stands after the earlier ones.
    void records_data() {
        QTest::addColumn<QList<int>>("ticked");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QList<int>>("deletes");
        QTest::newRow("2 and 3, deleted") << QList<int>{2, 3} << true << QList<int>{2, 2};
        QTest::newRow("2 and 3, kept") << QList<int>{2, 3} << false << QList<int>{};
        QTest::newRow("1, 3 and 5, deleted") << QList<int>{1, 3, 5} << true << QList<int>{1, 2, 3};
        QTest::newRow("none") << QList<int>{} << true << QList<int>{};
    }
    void records() {
        QFETCH(QList<int>, ticked);
        QFETCH(bool, remove);
        QFETCH(QList<int>, deletes);
        ConnectedSim bench({"--preset-records", "5"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QVERIFY(r.ok);
        QCOMPARE(r.count, 5);
        QCOMPARE(r.records.size(), 5);
        QVERIFY(r.failures.isEmpty());
        QCOMPARE(r.records[1].controlNumber, QStringLiteral("PRESET-002"));
        QCOMPARE(r.records[1].testType, 'O');
        QCOMPARE(r.records[3].testType, 'F'); // the template record's last section
        QVERIFY(QFile::exists(Staging() + "/3.p8d"));

        QList<ImportedRecord> entries = r.records;
        Check(entries, ticked);
        const MergeReport m = Merge().MergeRecords(entries, dev.get(), remove);
        QVERIFY2(m.problems.isEmpty(), qPrintable(m.problems.join('\n')));
        QCOMPARE(m.deleted, deletes);
        QCOMPARE(m.files.size(), ticked.size());
        QCOMPARE(RecordFiles(m_env->dataDir).size(), ticked.size());
        QCOMPARE(entries.size(), 5 - ticked.size());
        QTRY_COMPARE(Deletes(sim), deletes);
        QCOMPARE(m_index->GetCount(), ticked.size());
        QCOMPARE(m_env->settings->Setting("BuildIndex"), QStringLiteral("1"));
        // The copies are the staged downloads, byte for byte, with the
        // record's own N and E lines.
        for (const QString& f : m.files) {
            const QByteArray bytes = StoreTestEnv::Read(m_env->dataDir + '/' + f);
            QVERIFY(staging::IsCompleteRecord(bytes));
            QVERIFY(f.startsWith("RXr_"));
        }
        int left = -1;
        QCOMPARE(dev->GetRecordCount(left), 0);
        QCOMPARE(left, 5 - (remove ? ticked.size() : 0));
        // The remaining entries still name their records on the analyzer.
        for (const ImportedRecord& e : entries) {
            QFile staged(e.stagedPath);
            QVERIFY(staged.open(QIODevice::ReadOnly));
            ImportedRecord fresh;
            staging::ParseHeader(staged.readAll(), fresh);
            const QString path = m_env->tmp.path() + "/check.p8d";
            QFile check(path);
            QVERIFY(check.open(QIODevice::ReadWrite | QIODevice::Truncate));
            QCOMPARE(dev->GetRecord(e.number, check), 0);
            ImportedRecord now;
            QVERIFY(staging::ReadHeader(path, now));
            QCOMPARE(now.controlNumber, fresh.controlNumber);
        }
        // A second import from the same list deletes the record it names,
        // wherever the first one left it.
        if (entries.isEmpty()) return;
        ImportedRecord last = entries.last();
        entries.last().checked = true;
        const MergeReport again = Merge().MergeRecords(entries, dev.get(), true);
        QCOMPARE(again.deleted, QList<int>{last.number});
        int count = 0;
        QCOMPARE(dev->GetRecordCount(count), 0);
        for (int n = 1; n <= count; ++n) {
            const QString path = m_env->tmp.path() + "/left.p8d";
            QFile left(path);
            QVERIFY(left.open(QIODevice::ReadWrite | QIODevice::Truncate));
            QCOMPARE(dev->GetRecord(n, left), 0);
            ImportedRecord now;
            QVERIFY(staging::ReadHeader(path, now));
            QVERIFY(now.controlNumber != last.controlNumber);
        }
        dev->DisconnectDevice();
    }

    // A copy that cannot be written (a folder stands where the file goes):
    // that record is reported with its file name, stays listed and on the
    // analyzer; the next one is deleted under its right number.
    void failedCopyKeepsRecord() {
        ConnectedSim bench({"--preset-records", "4"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QCOMPARE(r.records.size(), 4);
        QList<ImportedRecord> entries = r.records;
        const QString blocked =
            ImportedRecordFileName(entries[1], StoreTestEnv::Read(entries[1].stagedPath));
        QVERIFY(QDir().mkpath(m_env->dataDir + '/' + blocked));
        Check(entries, {2, 3});
        const MergeReport m = Merge().MergeRecords(entries, dev.get(), true);
        QCOMPARE(m.problems.size(), 1);
        QVERIFY2(m.problems[0].contains(blocked), qPrintable(m.problems[0]));
        QVERIFY(m.problems[0].startsWith("Record 2 "));
        QCOMPARE(m.deleted, QList<int>{3});
        QTRY_COMPARE(Deletes(sim), QList<int>{3});
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[1].number, 2);
        QVERIFY(entries[1].checked);
        dev->DisconnectDevice();
    }

    // A record whose name is taken in the data folder by a different record
    // (an earlier import of a same-stamped test) keeps both: the earlier
    // file is not replaced, the new one is stored under its name with a
    // digest, and it may then go from the analyzer.
    void sameNameDifferentRecordKeepsBoth() {
        ConnectedSim bench({"--preset-records", "3"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QCOMPARE(r.records.size(), 3);
        QList<ImportedRecord> entries = r.records;
        const QString taken =
            ImportedRecordFileName(entries[1], StoreTestEnv::Read(entries[1].stagedPath));
        const QByteArray earlier = "an earlier record of the same name";
        StoreTestEnv::Write(m_env->dataDir + '/' + taken, earlier);
        Check(entries, {2});
        const MergeReport m = Merge().MergeRecords(entries, dev.get(), true);
        QVERIFY2(m.problems.isEmpty(), qPrintable(m.problems.join('\n')));
        QCOMPARE(StoreTestEnv::Read(m_env->dataDir + '/' + taken), earlier);
        QCOMPARE(m.files.size(), 1);
        QVERIFY(m.files[0] != taken);
        QVERIFY(m.files[0].startsWith(taken.chopped(4) + '_'));
        QCOMPARE(StoreTestEnv::Read(m_env->dataDir + '/' + m.files[0]),
                 StoreTestEnv::Read(r.records[1].stagedPath));
        QCOMPARE(m.notices.size(), 1);
        QVERIFY2(m.notices[0].contains(taken), qPrintable(m.notices[0]));
        QCOMPARE(m.deleted, QList<int>{2});
        dev->DisconnectDevice();
    }

    // A deletion the analyzer does not confirm (its "[ERASED]" lost): the
    // record is kept on the PC, and no further record is deleted, since
    // the analyzer's numbering is no longer known.
    void unconfirmedDeletionStopsDeleting() {
        ConnectedSim bench({"--preset-records", "5", "--drop", "ERASED:1"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QCOMPARE(r.records.size(), 5);
        QList<ImportedRecord> entries = r.records;
        Check(entries, {2, 4});
        const MergeReport m = Merge().MergeRecords(entries, dev.get(), true);
        QCOMPARE(m.files.size(), 2);
        QCOMPARE(RecordFiles(m_env->dataDir).size(), 2);
        QVERIFY(m.deleted.isEmpty());
        QCOMPARE(m.problems.size(), 1);
        QVERIFY2(m.problems[0].startsWith("Record 2 was copied, but the analyzer did not confirm"),
                 qPrintable(m.problems[0]));
        // Everything the merge sent has arrived once a POLL sent after it has.
        const qsizetype polls = sim.Received().count(QStringLiteral("[POLL]\\r\\n"));
        dev->SendPOLL();
        QTRY_VERIFY_WITH_TIMEOUT(sim.Received().count(QStringLiteral("[POLL]\\r\\n")) > polls,
                                 15000);
        QCOMPARE(Deletes(sim), QList<int>{2}); // never a DELREC for record 4 as "3"
        dev->DisconnectDevice();
    }

    // A download that stalls fails that record alone; a lost port ends the
    // run with the records before it kept.
    void faultyDownloads_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QList<int>>("imported");
        QTest::addColumn<int>("failed");
        QTest::addColumn<bool>("lost");
        QTest::newRow("stall in record 2")
            << QStringList{"--do", "after 1 GETREC stall after 10 GETREC lines"} << QList<int>{1, 3}
            << 2 << false;
        QTest::newRow("unplug in record 2")
            << QStringList{"--do", "after 1 GETREC unplug after 10 GETREC lines"} << QList<int>{1}
            << 2 << true;
        QTest::newRow("unplug in record 1")
            << QStringList{"--unplug-after-lines", "5"} << QList<int>{} << 1 << true;
    }
    void faultyDownloads() {
        QFETCH(QStringList, simArgs);
        QFETCH(QList<int>, imported);
        QFETCH(int, failed);
        QFETCH(bool, lost);
        ConnectedSim bench(QStringList{"--preset-records", "3"} + simArgs);
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        const ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QVERIFY(r.ok);
        QList<int> numbers;
        for (const ImportedRecord& e : r.records) numbers << e.number;
        QCOMPARE(numbers, imported);
        // After a loss the records not tried are listed as not imported too.
        QCOMPARE(r.failures.size(), lost ? 3 - failed + 1 : 1);
        for (int i = 0; i < r.failures.size(); ++i) {
            QCOMPARE(r.failures[i].number, failed + i);
            QVERIFY(r.failures[i].message.startsWith(QStringLiteral("Record %1 ").arg(failed + i)));
        }
        QVERIFY(!QFile::exists(staging::RecordPath(Staging(), failed)));
        QCOMPARE(dev->IsLost(), lost);
        for (int n : imported)
            QVERIFY(
                staging::IsCompleteRecord(StoreTestEnv::Read(staging::RecordPath(Staging(), n))));
        dev->DisconnectDevice();
    }

    // An analyzer that pauses longer than the idle limit in record 2, then
    // sends the rest: record 2 fails, the line is brought back in step, the
    // later records are their own, nothing of the import is deleted, and
    // nothing is lost.
    void pauseLongerThanIdleLimit_data() {
        QTest::addColumn<QString>("pause");
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QList<int>>("imported");
        QTest::newRow("pause 1.5 s, deleting") << "1500ms" << true << QList<int>{3, 4};
        QTest::newRow("pause 1.5 s, keeping") << "1500ms" << false << QList<int>{3, 4};
        // Longer than a whole idle limit after the time-out: record 3 is asked
        // for and the late tail of record 2 arrives in its place; it is
        // refused, and record 4 comes after the line is in step again.
        QTest::newRow("pause 3 s, deleting") << "3s" << true << QList<int>{4};
    }
    void pauseLongerThanIdleLimit() {
        QFETCH(QString, pause);
        QFETCH(bool, remove);
        QFETCH(QList<int>, imported);
        ConnectedSim bench({"--preset-records", "4", "--do",
                            // The four reference downloads first; the import's record 2 pauses.
                            "after 4 GETREC stall after 10 GETREC lines for " + pause});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        const QList<QByteArray> before = AnalyzerRecords(*dev); // GETREC 1..4
        QCOMPARE(before.size(), 4);
        const ImportDownload::Result r = Download(*dev, Mode::Records, Staging(), {2, 3, 4});
        QVERIFY(r.ok);
        QList<int> numbers;
        for (const ImportedRecord& e : r.records) numbers << e.number;
        QCOMPARE(numbers, imported);
        QVERIFY(!r.failures.isEmpty());
        QCOMPARE(r.failures[0].number, 2);
        QVERIFY(!r.keepOnAnalyzer.isEmpty());
        for (const ImportedRecord& e : r.records)
            QCOMPARE(StoreTestEnv::Read(e.stagedPath), before[e.number - 1]);
        QList<ImportedRecord> entries = r.records;
        for (ImportedRecord& e : entries) e.checked = true;
        ImportMerge merge = Merge();
        merge.KeepRecordsOnAnalyzer(r.keepOnAnalyzer);
        const MergeReport m = merge.MergeRecords(entries, dev.get(), remove);
        QCOMPARE(m.files.size(), imported.size());
        QVERIFY(m.deleted.isEmpty());
        if (remove) QVERIFY(m.problems.contains(r.keepOnAnalyzer));
        const QList<QByteArray> after = AnalyzerRecords(*dev);
        QCOMPARE(after, before);
        QVERIFY(Deletes(sim).isEmpty());
        QString why;
        QVERIFY2(NothingLost(before, after, m_env->dataDir, &why), qPrintable(why));
        dev->DisconnectDevice();
    }

    // A full data folder: the copy fails with the system's reason and leaves
    // nothing under the record's name, the record stays on the analyzer; an
    // identical copy already there is left untouched and counts as safe.
    void fullDataFolder_data() {
        QTest::addColumn<bool>("copyThere");
        QTest::newRow("no copy yet") << false;
        QTest::newRow("identical copy already there") << true;
    }
    void fullDataFolder() {
        QFETCH(bool, copyThere);
        RX_SMALL_TMPFS(fs, 256 * 1024);
        ConnectedSim bench({"--preset-records", "2"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        const QList<QByteArray> before = AnalyzerRecords(*dev);
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QCOMPARE(r.records.size(), 2);
        const QString data = fs.Path() + "/data";
        QVERIFY(QDir().mkpath(data));
        m_index->SetDataFolder(data);
        const QString name =
            ImportedRecordFileName(r.records[0], StoreTestEnv::Read(r.records[0].stagedPath));
        if (copyThere) StoreTestEnv::Write(data + '/' + name, before[0]);
        struct stat st0 {};
        ::stat(QFile::encodeName(data + '/' + name).constData(), &st0);
        fs.Fill();
        Check(r.records, {1});
        const MergeReport m = Merge().MergeRecords(r.records, dev.get(), true);
        if (copyThere) {
            QCOMPARE(m.files, QStringList{name});
            struct stat st1 {};
            QCOMPARE(::stat(QFile::encodeName(data + '/' + name).constData(), &st1), 0);
            QCOMPARE(st1.st_ino, st0.st_ino);
            QCOMPARE(m.deleted, QList<int>{1});
        } else {
            QVERIFY(m.files.isEmpty());
            QCOMPARE(m.problems.size(), 1);
            QVERIFY2(m.problems[0].contains("No space left on device"), qPrintable(m.problems[0]));
            QVERIFY(m.deleted.isEmpty());
            QCOMPARE(QDir(data).entryList({"*.p8d", ".*.tmp"}, QDir::Files | QDir::Hidden),
                     QStringList{});
        }
        QCOMPARE(StoreTestEnv::Read(data + '/' + name), copyThere ? before[0] : QByteArray());
        fs.Free();
        QString why;
        QVERIFY2(NothingLost(before, AnalyzerRecords(*dev), data, &why), qPrintable(why));
        dev->DisconnectDevice();
    }

    // Cancel between items: the record in progress finishes, no further one
    // starts.
    void cancelBetweenItems() {
        ConnectedSim bench({"--preset-records", "4"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload job(*dev, Mode::Records, Staging());
        connect(
            &job, &ImportDownload::ItemStarted, &job,
            [&job](int n) {
                if (n == 2) job.Cancel();
            },
            Qt::DirectConnection);
        job.Start();
        QVERIFY(job.Wait(30000));
        const ImportDownload::Result r = job.GetResult();
        QVERIFY(r.ok);
        QVERIFY(r.cancelled);
        QCOMPARE(r.records.size(), 2);
        QVERIFY(!sim.Received().contains("[GETREC,003]\\r\\n"));
        dev->DisconnectDevice();
    }

    // Names from record headers stay inside the data folder; a record whose
    // header makes no name is stored under the stated fallback and reported.
    void recordNames_data() {
        QTest::addColumn<QByteArray>("tdSerial");
        QTest::addColumn<QByteArray>("h18");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("fallback");
        QTest::newRow("ordinary") << QByteArray("T1ABC") << QByteArray("H18,01-Dec-2026,09:00:07")
                                  << QStringLiteral("RXr_F2026") << false;
        QTest::newRow("path") << QByteArray("../../x") << QByteArray("H18,01-Dec-2026,09:00:07")
                              << QStringLiteral("RXr_F2026") << false;
        QTest::newRow("no start") << QByteArray("T1ABC") << QByteArray()
                                  << QStringLiteral("RXr_Unnamed_T1ABC_") << true;
        QTest::newRow("no start, bad serial")
            << QByteArray("..") << QByteArray() << QStringLiteral("RXr_Unnamed_.._") << true;
    }
    void recordNames() {
        QFETCH(QByteArray, tdSerial);
        QFETCH(QByteArray, h18);
        QFETCH(QString, name);
        QFETCH(bool, fallback);
        const QString file = m_env->tmp.path() + "/odd.p8d";
        StoreTestEnv::Write(file, RecordText(tdSerial, h18));
        ConnectedSim bench({"--record-file", file});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QCOMPARE(r.records.size(), 1);
        QCOMPARE(r.records[0].tdSerial, QString::fromLatin1(tdSerial));
        Check(r.records, {1});
        const MergeReport m = Merge().MergeRecords(r.records, dev.get(), false);
        QCOMPARE(m.files.size(), 1);
        QVERIFY2(m.files[0].startsWith(name), qPrintable(m.files[0]));
        QVERIFY(safename::IsSafe(m.files[0]));
        QCOMPARE(RecordFiles(m_env->dataDir), m.files);
        QCOMPARE(m.notices.size(), fallback ? 1 : 0);
        if (fallback) QVERIFY(m.notices[0].contains(m.files[0]));
        // The header keeps the serial number as sent.
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(m_env->dataDir + '/' + m.files[0]));
        QCOMPARE(doc.TdSerialNum, QString::fromLatin1(tdSerial));
        // The same record imported again lands on the same name.
        ImportDownload::Result again = Download(*dev, Mode::Records, Staging());
        Check(again.records, {1});
        QCOMPARE(Merge().MergeRecords(again.records, dev.get(), false).files, m.files);
        dev->DisconnectDevice();
    }

    // Templates: staged, merged under their names (a name with path
    // characters made plain), indexed; an existing one is kept when the user
    // says No.
    void templates() {
        ConnectedSim bench({"--preset-templates", "2"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        Template odd;
        odd.name = QStringLiteral("a/b");
        odd.deviceComments = QStringLiteral("odd");
        odd.stepCount = 1;
        odd.steps[0] = {TemplateStep::Flow, 5.0, TemplateStep::Ml, 10.0, 5, 0, 30};
        dev->SendSETTMPLT(odd);
        QTRY_VERIFY(sim.Received().contains("[SETTMPLT,END]\\r\\n"));
        StoreTestEnv::Write(m_env->dataDir + "/RXt_SimTemplate1.p8t", QByteArray("old"));

        ImportDownload::Result r = Download(*dev, Mode::Templates, Staging());
        QVERIFY(r.ok);
        QCOMPARE(r.templates.size(), 3);
        QCOMPARE(r.templates[2].name, QStringLiteral("a/b"));
        QVERIFY(QFile::exists(staging::TemplatePath(Staging(), 3)));
        for (ImportedTemplate& t : r.templates) t.checked = true;
        m_prompter.QueueAnswer(false); // keep the old SimTemplate1
        const MergeReport m = Merge().MergeTemplates(r.templates);
        QCOMPARE(m.files, (QStringList{"RXt_SimTemplate2.p8t", "RXt_a_b.p8t"}));
        QCOMPARE(m.problems.size(), 1);
        QCOMPARE(StoreTestEnv::Read(m_env->dataDir + "/RXt_SimTemplate1.p8t"), QByteArray("old"));
        Template back;
        QVERIFY(templatefile::ReadFile(m_env->dataDir + "/RXt_a_b.p8t", back));
        QCOMPARE(back.name, QStringLiteral("a/b"));
        QCOMPARE(back.steps[0].rate, 10.0);
        QVERIFY(r.templates.isEmpty());
        QList<TemplateRow> rows;
        QVERIFY(m_templates->ListRows(rows));
        QCOMPARE(rows.size(), 2); // the unreadable old file gets no row
        dev->DisconnectDevice();
    }

    void notes() {
        const QString notes = m_env->tmp.path() + "/analyzer-notes.txt";
        StoreTestEnv::Write(notes, QByteArray("First line\nSecond, with comma\n"));
        ConnectedSim bench({"--notes", notes});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        const QString out = m_env->tmp.path() + "/saved.p8u";
        StoreTestEnv::Write(out, QByteArray("previous notes"));
        const ImportDownload::Result r = Download(*dev, Mode::Notes, out);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(StoreTestEnv::Read(out), QByteArray("First line\nSecond, with comma\n"));
        dev->DisconnectDevice();
    }

    // A notes download that never ends leaves the old file as it was.
    void notesKeepOldFileOnFailure() {
        ConnectedSim bench({"--drop", "UNEND"});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        const QString out = m_env->tmp.path() + "/saved.p8u";
        StoreTestEnv::Write(out, QByteArray("previous notes"));
        const ImportDownload::Result r = Download(*dev, Mode::Notes, out);
        QVERIFY(!r.ok);
        QVERIFY(r.error.contains("not imported"));
        QCOMPARE(StoreTestEnv::Read(out), QByteArray("previous notes"));
        dev->DisconnectDevice();
    }

    void notesFileName_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("path");
        QTest::newRow("no extension") << "/x/notes"
                                      << "/x/notes.p8u";
        QTest::newRow("p8u") << "/x/notes.p8u"
                             << "/x/notes.p8u";
        QTest::newRow("upper case") << "/x/notes.P8U"
                                    << "/x/notes.P8U";
        QTest::newRow("txt") << "/x/notes.txt" << QString();
        QTest::newRow("empty") << "" << QString();
    }
    void notesFileName() {
        QFETCH(QString, chosen);
        QFETCH(QString, path);
        QString got, error;
        QCOMPARE(notesfile::Resolve(chosen, got, &error), !path.isEmpty());
        QCOMPARE(got, path);
        if (chosen.endsWith("txt"))
            QCOMPARE(error, QStringLiteral("Only .p8u extension file can be saved"));
    }

    // No records: nothing downloaded, nothing merged.
    // The import checks the data folder itself: a network folder that was
    // removed, or a mount point with its share unmounted, is refused before
    // anything is made there.
    void unreachableNetworkFolderIsRefused_data() {
        QTest::addColumn<bool>("mountPoint");
        QTest::newRow("folder removed") << false;
        QTest::newRow("mount point, nothing mounted") << true;
    }
    void unreachableNetworkFolderIsRefused() {
        QFETCH(bool, mountPoint);
        std::unique_ptr<SmallTmpfs> fs;
        QString share = m_env->tmp.path() + QStringLiteral("/share");
        if (mountPoint) {
            fs = std::make_unique<SmallTmpfs>(256 * 1024);
            if (!fs->Usable()) QSKIP(qPrintable(fs->WhyNot()));
            share = fs->Path();
        } else {
            QVERIFY(QDir().mkpath(share));
        }
        AppSettings& settings = *m_env->settings;
        QVERIFY(settings.WriteSetting(settings::kSection, QStringLiteral("PathType"),
                                      QStringLiteral("1")));
        QVERIFY(settings.WriteSetting(settings::kSection, QStringLiteral("NetworkPath"), share));
        QVERIFY(settings.WriteSetting(settings::kSection, QStringLiteral("NetworkPathDrive"),
                                      QStorageInfo(share).rootPath()));
        QVERIFY(Merge().CheckDataFolder());
        if (mountPoint)
            fs->Unmount();
        else
            QVERIFY(QDir(share).removeRecursively());
        QVERIFY(!Merge().CheckDataFolder());
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(m_prompter.messages[0].startsWith(QStringLiteral("Please provide a valid path")));
        QCOMPARE(QFileInfo::exists(share), mountPoint);
        QVERIFY(QDir(share).isEmpty());
    }

    void emptyAnalyzer() {
        ConnectedSim bench(QStringList{});
        QVERIFY(bench.dev);
        auto& [sim, dev] = bench;
        ImportDownload::Result r = Download(*dev, Mode::Records, Staging());
        QVERIFY(r.ok);
        QCOMPARE(r.count, 0);
        QVERIFY(r.records.isEmpty());
        dev->DisconnectDevice();
    }
};

RX_LINK_TEST_MAIN(TestImport)
#include "test_import.moc"
