// The start-up offer to recover tests a crash left behind, through the
// program's own start: accepted (record file, index row, record window),
// declined and kept for the next start, declined and discarded, a damaged
// journal, and a journal whose test still runs.
#include "../WorkingFolder.h"

#include "app/ChannelWindow.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "app/WorkingFolder.h"
#include "base/Prompter.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"
#include "records/TestJournal.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <memory>

namespace {

// The header a Flow test on channel 3 journals at Start Test.
QByteArray JournalledTest(const QString& control) {
    CRivuletrixDoc doc;
    doc.TestType = 'F';
    doc.ControlNumber = control;
    doc.ChannelNo = 2;
    doc.InstModel = QStringLiteral("PXR-8");
    doc.InstSerialNum = QStringLiteral("80001234");
    doc.StartDate = QStringLiteral("10-Dec-2026");
    doc.StartTime = QStringLiteral("09:30:00");
    doc.SetFlowRate = 100;
    return doc.FormatSection();
}

Sample At(int slot) {
    Sample s;
    s.time = uint32_t(slot) * 100;
    s.volume = uint32_t(slot) * 28;
    s.pressure = int16_t(slot % 7);
    s.code = 'v';
    return s;
}

// A journal as a killed Flow test leaves it.
void MakeJournal(const QString& path, const QString& control, int samples) {
    TestJournal j;
    QVERIFY(j.Open(path, JournalledTest(control)));
    for (int slot = 1; slot <= samples; ++slot) j.Append(slot, At(slot));
    j.Close();
}

} // namespace

class TestRecoveryOffer : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<CMainFrame> m_frame;

    QString JournalPath(const QString& name) const {
        return journal::Folder(m_dir->filePath(QStringLiteral("settings"))) + QLatin1Char('/') +
               name;
    }
    QString Data() const { return m_dir->filePath(QStringLiteral("data")); }
    // As main() does once the working folder is known.
    void Start() {
        m_frame.reset();
        m_app.reset();
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_app->StartingUp = true;
        m_frame = std::make_unique<CMainFrame>(*m_app);
        WorkingFolder work;
        work.folder = m_dir->path();
        StartMainWindow(*m_app, *m_frame, work, {});
    }
    QList<ChannelWindow*> RecordWindows() const {
        QList<ChannelWindow*> out;
        for (QMdiSubWindow* w : m_frame->MdiArea()->subWindowList())
            if (auto* c = qobject_cast<ChannelWindow*>(w); c && c->Slot() == 0) out << c;
        return out;
    }
    QStringList Records() const {
        return QDir(Data()).entryList({QStringLiteral("*.p8d")}, QDir::Files);
    }
    QStringList IndexedFiles() {
        QList<RecordListRow> rows;
        m_app->Records().ListRows(rows);
        QStringList out;
        for (const RecordListRow& r : rows) out << r.fileName;
        return out;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(MakeWorkingFolder(m_dir->path()));
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() {
        m_frame.reset();
        m_app.reset();
        SetPrompter(nullptr);
    }

    void acceptedTestBecomesIndexedRecordInWindow() {
        MakeJournal(JournalPath(QStringLiteral("a.rxj")), QStringLiteral("PUMP-7"), 40);
        m_prompter.QueueAnswer(true);
        Start();

        QCOMPARE(m_prompter.questions.size(), 1);
        const QString q = m_prompter.questions[0];
        for (const char* part : {"Flow test on channel 3", "PXR-8 80001234", "PUMP-7",
                                 "10-Dec-2026 09:30:00", "40 samples", "00:00:04"})
            QVERIFY2(q.contains(QLatin1String(part)), qPrintable(q));
        QVERIFY2(m_prompter.messages.isEmpty(), qPrintable(m_prompter.messages.join('\n')));

        QCOMPARE(Records().size(), 1);
        QVERIFY(IndexedFiles().contains(Records()[0]));
        QVERIFY(!QFile::exists(JournalPath(QStringLiteral("a.rxj"))));
        const QList<ChannelWindow*> windows = RecordWindows();
        QCOMPARE(windows.size(), 1);
        const CRivuletrixDoc& doc = *windows[0]->Document();
        QCOMPARE(doc.ControlNumber, QStringLiteral("PUMP-7"));
        QCOMPARE(doc.StoredCount(), 41); // slot 0 plus the samples
        for (int slot : {1, 20, 40}) {
            QCOMPARE(doc.ElapsedTicks(slot + 1), At(slot).time);
            QCOMPARE(doc.VolumeAt(slot + 1), At(slot).volume);
            QCOMPARE(doc.PressureAt(slot + 1), int(At(slot).pressure));
        }
    }

    // A save cut short by a crash after the record was written: the offer
    // takes the saved record (with the samples the journal missed) as the
    // test's, indexes it once and opens it; no copy is written.
    void recordAlreadySavedIsIndexedNotCopied() {
        MakeJournal(JournalPath(QStringLiteral("a.rxj")), QStringLiteral("PUMP-5"), 30);
        CRivuletrixDoc saved;
        saved.ReadRecordBytes(JournalledTest(QStringLiteral("PUMP-5")).constData(),
                              size_t(JournalledTest(QStringLiteral("PUMP-5")).size()));
        for (int slot = 1; slot <= 35; ++slot) saved.SetSample(slot, At(slot));
        const QString name = saved.MakeRecordFileName();
        QVERIFY(QDir().mkpath(Data()));
        QVERIFY(saved.WriteRecordFile(QDir(Data()).filePath(name)));
        m_prompter.QueueAnswer(true);
        Start();
        QVERIFY2(m_prompter.messages.isEmpty(), qPrintable(m_prompter.messages.join('\n')));
        QCOMPARE(Records(), QStringList{name});
        QCOMPARE(IndexedFiles().count(name), 1);
        QVERIFY(!QFile::exists(JournalPath(QStringLiteral("a.rxj"))));
        QCOMPARE(RecordWindows().size(), 1);
        QCOMPARE(RecordWindows()[0]->Document()->StoredCount(), 36);
    }

    // No, then No: the journal stays and the next start offers it again.
    void declinedAndKeptIsOfferedAgain() {
        MakeJournal(JournalPath(QStringLiteral("a.rxj")), QStringLiteral("PUMP-7"), 12);
        m_prompter.QueueAnswer(false);
        m_prompter.QueueAnswer(false);
        Start();
        QCOMPARE(m_prompter.questions.size(), 2);
        QVERIFY(m_prompter.questions[1].contains(QLatin1String("Delete the journal")));
        QVERIFY(QFile::exists(JournalPath(QStringLiteral("a.rxj"))));
        QVERIFY(Records().isEmpty());
        QVERIFY(RecordWindows().isEmpty());

        m_prompter = ScriptedPrompter();
        m_prompter.QueueAnswer(true);
        Start();
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY(m_prompter.questions[0].contains(QLatin1String("12 samples")));
        QCOMPARE(Records().size(), 1);
        QCOMPARE(RecordWindows().size(), 1);
    }

    void declinedAndDiscarded() {
        MakeJournal(JournalPath(QStringLiteral("a.rxj")), QStringLiteral("PUMP-7"), 12);
        m_prompter.QueueAnswer(false);
        m_prompter.QueueAnswer(true);
        Start();
        QCOMPARE(m_prompter.questions.size(), 2);
        QVERIFY(!QFile::exists(JournalPath(QStringLiteral("a.rxj"))));
        QVERIFY(Records().isEmpty());
        QVERIFY(RecordWindows().isEmpty());
    }

    // Each journal is asked about on its own; a damaged one is reported,
    // kept, and does not stop the others.
    void damagedJournalIsReportedAndKept() {
        QDir().mkpath(JournalPath(QString()));
        {
            QFile bad(JournalPath(QStringLiteral("a.rxj")));
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write("not a journal at all");
        }
        MakeJournal(JournalPath(QStringLiteral("b.rxj")), QStringLiteral("PUMP-8"), 5);
        m_prompter.QueueAnswer(true);
        Start();
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY2(m_prompter.messages[0].contains(QLatin1String("cannot be recovered")) &&
                     m_prompter.messages[0].contains(QLatin1String("not a test journal")),
                 qPrintable(m_prompter.messages[0]));
        QVERIFY(QFile::exists(JournalPath(QStringLiteral("a.rxj"))));
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY(m_prompter.questions[0].contains(QLatin1String("PUMP-8")));
        QCOMPARE(RecordWindows().size(), 1);
    }

    // A journal whose test still runs (a second program, a command-line run)
    // is not offered and is left alone.
    void journalOfRunningTestIsNotOffered() {
        TestJournal running;
        QVERIFY(running.Open(JournalPath(QStringLiteral("live.rxj")),
                             JournalledTest(QStringLiteral("LIVE"))));
        for (int slot = 1; slot <= 5; ++slot) running.Append(slot, At(slot));
        running.Flush();
        m_prompter.SetDefaultAnswer(true);
        Start();
        QVERIFY(m_prompter.questions.isEmpty());
        QVERIFY(m_prompter.messages.isEmpty());
        QVERIFY(Records().isEmpty());
        QVERIFY(QFile::exists(JournalPath(QStringLiteral("live.rxj"))));
        running.Close();
    }
};

QTEST_MAIN(TestRecoveryOffer)
#include "test_recovery_offer.moc"
