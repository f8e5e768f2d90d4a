// The journal of a live test: what is appended comes back after the writer
// stopped at any point, a torn tail loses only itself, a damaged frame loses
// only its own samples, a journal that cannot be written catches up once it
// can, and the recovered record is a normal record file.
#include "../SmallTmpfs.h"
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"

#include <atomic>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

Sample Make(uint32_t t, uint32_t v, int16_t p, char code = ' ') {
    Sample s;
    s.time = t;
    s.volume = v;
    s.pressure = p;
    s.code = code;
    return s;
}

QByteArray Header(const QString& control) {
    CRivuletrixDoc doc;
    doc.TestType = 'F';
    doc.ControlNumber = control;
    doc.TdSerialNum = QStringLiteral("T180001234");
    doc.StartDate = QStringLiteral("10-Dec-2026");
    doc.StartTime = QStringLiteral("10:00:00");
    doc.SetFlowRate = 25;
    return doc.FormatSection();
}

// Magic, a header frame and three sample frames of 2, 3 and 4 samples.
QByteArray ThreeFrames(QList<int>* frameStarts = nullptr) {
    QByteArray bytes(journal::kMagic, qsizetype(journal::kMagicSize));
    bytes += journal::HeaderFrame(Header(QStringLiteral("PUMP-1")));
    uint32_t slot = 1;
    for (int n : {2, 3, 4}) {
        std::vector<journal::JournalSample> batch;
        for (int k = 0; k < n; ++k, ++slot)
            batch.push_back({slot, Make(slot * 100, slot * 10, int16_t(slot))});
        if (frameStarts) *frameStarts << int(bytes.size());
        bytes += journal::SamplesFrame(batch.data(), batch.size());
    }
    return bytes;
}

} // namespace

class TestJournalFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writtenSamplesComeBack() {
        QTemporaryDir dir;
        const QString path = journal::Folder(dir.path()) + QStringLiteral("/a.rxj");
        TestJournal j;
        QVERIFY(j.Open(path, Header(QStringLiteral("PUMP-1"))));
        for (int slot = 1; slot <= 5000; ++slot)
            j.Append(slot, Make(uint32_t(slot) * 100, uint32_t(slot) * 7, int16_t(-slot), 'v'));
        j.SetHeader(Header(QStringLiteral("PUMP-2"))); // the newest header wins
        j.Flush();
        QCOMPARE(journal::List(journal::Folder(dir.path())), QStringList{path});

        CRivuletrixDoc doc;
        journal::Recovered info;
        QVERIFY(journal::ReadJournal(path, doc, info));
        QCOMPARE(info.samples, 5000);
        QCOMPARE(info.lastTime, 500000u);
        QVERIFY(!info.tornTail);
        QCOMPARE(doc.ControlNumber, QStringLiteral("PUMP-2"));
        QCOMPARE(doc.TestType, 'F');
        QCOMPARE(doc.VolumeAt(4321), 4321u * 7);
        QCOMPARE(doc.PressureAt(4321), -4321);
        QCOMPARE(doc.StatusAt(4321), 'v');

        // The recovered record is the record the live test would have saved.
        CRivuletrixDoc live;
        const QByteArray header = Header(QStringLiteral("PUMP-2"));
        live.ReadRecordBytes(header.constData(), size_t(header.size()));
        for (int slot = 1; slot <= 5000; ++slot)
            live.SetSample(slot,
                           Make(uint32_t(slot) * 100, uint32_t(slot) * 7, int16_t(-slot), 'v'));
        QCOMPARE(doc.FormatSection(), live.FormatSection());

        j.Remove();
        QVERIFY(!QFile::exists(path));
    }

    // Samples appended but not yet flushed are written when the journal
    // closes; nothing reaches the file out of order.
    void closeWritesWhatIsPending() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("b.rxj"));
        {
            TestJournal j;
            QVERIFY(j.Open(path, Header(QStringLiteral("X"))));
            for (int slot = 1; slot <= 10; ++slot) j.Append(slot, Make(uint32_t(slot), 1, 1));
        }
        CRivuletrixDoc doc;
        journal::Recovered info;
        QVERIFY(journal::ReadJournal(path, doc, info));
        QCOMPARE(info.samples, 10);
    }

    // A running test's journal is locked: a second writer on the same name
    // fails instead of truncating it, and recovery sees it as in use until
    // its writer closes it.
    void liveJournalIsLocked() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.rxj"));
        TestJournal first;
        QVERIFY(first.Open(path, Header(QStringLiteral("FIRST"))));
        for (int slot = 1; slot <= 3; ++slot) first.Append(slot, Make(uint32_t(slot), 1, 1));
        first.Flush();
        QVERIFY(journal::InUse(path));
        QVERIFY(!journal::Claim(path).Held());

        TestJournal second;
        QVERIFY(!second.Open(path, Header(QStringLiteral("SECOND"))));
        first.Close();
        QVERIFY(!journal::InUse(path));
        CRivuletrixDoc doc;
        journal::Recovered info;
        QVERIFY(journal::ReadJournal(path, doc, info));
        QCOMPARE(doc.ControlNumber, QStringLiteral("FIRST"));
        QCOMPARE(info.samples, 3);

        // A journal left behind (its writer gone) is written over by a new
        // test of the same name.
        QVERIFY(second.Open(path, Header(QStringLiteral("SECOND"))));
        second.Close();
        QVERIFY(journal::ReadJournal(path, doc, info));
        QCOMPARE(doc.ControlNumber, QStringLiteral("SECOND"));
        QCOMPARE(info.samples, 0);
    }

    void damagedFrames_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("slots"); // the slots read back
        QTest::addColumn<bool>("torn");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<int>("missing");
        QList<int> starts;
        const QByteArray whole = ThreeFrames(&starts);
        const int last = starts[2];
        const QList<int> all{1, 2, 3, 4, 5, 6, 7, 8, 9};
        const QList<int> firstTwo{1, 2, 3, 4, 5};
        const auto flip = [&](int at) {
            QByteArray b = whole;
            b[at] = char(b[at] ^ 0x10);
            return b;
        };
        QTest::newRow("intact") << whole << all << false << false << 0;
        QTest::newRow("cut in a length") << whole.left(last + 2) << firstTwo << true << false << 0;
        QTest::newRow("cut in a payload")
            << whole.left(whole.size() - 1) << firstTwo << true << false << 0;
        QTest::newRow("first sample frame damaged")
            << flip(starts[0] + 12) << QList<int>{3, 4, 5, 6, 7, 8, 9} << false << true << 2;
        QTest::newRow("middle frame damaged")
            << flip(starts[1] + 12) << QList<int>{1, 2, 6, 7, 8, 9} << false << true << 3;
        QTest::newRow("middle frame's length damaged")
            << flip(starts[1]) << QList<int>{1, 2, 6, 7, 8, 9} << false << true << 3;
        QTest::newRow("last frame damaged")
            << flip(whole.size() - 3) << firstTwo << true << true << 0;
        QByteArray huge = whole.left(last);
        huge += QByteArray("\xff\xff\xff\x7f\0\0\0\0", 8);
        QTest::newRow("length beyond any frame") << huge << firstTwo << true << true << 0;
        QTest::newRow("garbage after the frames")
            << whole + QByteArray(7, 'x') << all << true << false << 0;
        QTest::newRow("header only")
            << whole.left(starts[0]) << QList<int>{} << false << false << 0;
    }
    void damagedFrames() {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<int>, slots);
        QFETCH(bool, torn);
        QFETCH(bool, damaged);
        QFETCH(int, missing);
        journal::Contents c;
        QVERIFY(journal::Decode(bytes.constData(), size_t(bytes.size()), c));
        QList<int> read;
        for (const journal::JournalSample& j : c.samples) {
            read << int(j.slot);
            QCOMPARE(j.sample.time, j.slot * 100); // each sample is its own
        }
        QCOMPARE(read, slots);
        QCOMPARE(c.tornTail, torn);
        QCOMPARE(c.damagedBytes > 0, damaged);
        QCOMPARE(int(c.missingSamples), missing);
        QCOMPARE(c.header.isEmpty(), false);
    }

    // The folder cannot be made (a file stands in its place; root ignores
    // chmod): the test goes on, the trouble is said at once, and once the
    // folder can be made the journal holds every sample from the start.
    void unwritableFolderIsSaidAndRetried() {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("Journal"));
        QVERIFY(QFile(folder).open(QIODevice::WriteOnly)); // a file, not a folder
        std::atomic<int> said{0}, cleared{0};
        TestJournal j;
        j.SetProblemHandler(
            [&](const QString& problem) { (problem.isEmpty() ? cleared : said)++; });
        QString error;
        QVERIFY(!j.Open(folder + QStringLiteral("/a.rxj"), Header(QStringLiteral("P")), &error));
        QVERIFY2(error.contains(QStringLiteral("cannot be created")), qPrintable(error));
        QCOMPARE(said.load(), 1);
        QVERIFY(j.IsOpen());
        for (int slot = 1; slot <= 30; ++slot) j.Append(slot, Make(uint32_t(slot) * 100, 1, 0));
        j.Flush();
        QVERIFY(!j.Problem().isEmpty());
        QVERIFY(QFile::remove(folder));
        for (int slot = 31; slot <= 40; ++slot) j.Append(slot, Make(uint32_t(slot) * 100, 1, 0));
        j.Flush();
        QCOMPARE(j.Problem(), QString());
        QCOMPARE(cleared.load(), 1);
        j.Close();
        CRivuletrixDoc doc;
        journal::Recovered info;
        QVERIFY(journal::ReadJournal(folder + QStringLiteral("/a.rxj"), doc, info));
        QCOMPARE(info.samples, 40);
        QVERIFY(!info.tornTail);
        QCOMPARE(doc.ControlNumber, QStringLiteral("P"));
    }

    // A disk that fills during the test: the failure carries the system's
    // reason, and a freed disk resumes the journal with nothing missing.
    void fullDiskIsSaidAndResumed() {
        RX_SMALL_TMPFS(fs, 64 * 1024);
        const QString path = fs.Path() + QStringLiteral("/Journal/a.rxj");
        std::atomic<int> said{0}, cleared{0};
        TestJournal j;
        j.SetProblemHandler(
            [&](const QString& problem) { (problem.isEmpty() ? cleared : said)++; });
        QVERIFY(j.Open(path, Header(QStringLiteral("FULL"))));
        int slot = 1;
        for (; slot <= 100; ++slot) j.Append(slot, Make(uint32_t(slot) * 100, 1, 0));
        j.Flush();
        fs.Fill();
        for (; slot <= 2000; ++slot) j.Append(slot, Make(uint32_t(slot) * 100, 1, 0));
        j.Flush();
        QVERIFY2(j.Problem().contains(QStringLiteral("No space left on device")),
                 qPrintable(j.Problem()));
        QCOMPARE(said.load(), 1);
        fs.Free();
        for (; slot <= 2100; ++slot) j.Append(slot, Make(uint32_t(slot) * 100, 1, 0));
        j.Flush();
        QCOMPARE(j.Problem(), QString());
        QCOMPARE(cleared.load(), 1);
        j.Close();
        CRivuletrixDoc doc;
        journal::Recovered info;
        QVERIFY(journal::ReadJournal(path, doc, info));
        QCOMPARE(info.samples, 2100);
        QVERIFY(!info.tornTail);
        QCOMPARE(info.lastTime, 2100u * 100);
    }

    void notAJournal_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("record file") << QByteArray("H1,80001234,1.0\r\n");
        QTest::newRow("short magic") << QByteArray("RXJRN");
    }
    void notAJournal() {
        QFETCH(QByteArray, bytes);
        journal::Contents c;
        QString error;
        QVERIFY(!journal::Decode(bytes.constData(), size_t(bytes.size()), c, &error));
        QCOMPARE(error, QStringLiteral("The file is not a test journal."));
    }

    // A frame with a valid checksum whose slots jump is damage too: the
    // samples before it stay, none of that frame is taken.
    void slotsOutOfOrderEndTheReading() {
        QByteArray bytes(journal::kMagic, qsizetype(journal::kMagicSize));
        bytes += journal::HeaderFrame(Header(QStringLiteral("X")));
        std::vector<journal::JournalSample> a{{1, Make(1, 1, 1)}, {2, Make(2, 2, 2)}};
        std::vector<journal::JournalSample> b{{3, Make(3, 3, 3)}, {4000000000u, Make(4, 4, 4)}};
        bytes += journal::SamplesFrame(a.data(), a.size());
        bytes += journal::SamplesFrame(b.data(), b.size());
        journal::Contents c;
        QVERIFY(journal::Decode(bytes.constData(), size_t(bytes.size()), c));
        QCOMPARE(int(c.samples.size()), 2);
        QVERIFY(c.damagedBytes > 0);
    }
};

QTEST_GUILESS_MAIN(TestJournalFile)
#include "test_journal.moc"
