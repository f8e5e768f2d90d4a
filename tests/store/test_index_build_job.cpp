// An index rebuild on its worker thread: progress reaches the owner's thread,
// the result is read after Finished, Cancel keeps the old rows, and the
// owner's store sees the new rows once it reopens. Also run under
// ThreadSanitizer.
#include "StoreTestEnv.h"
#include "store/IndexBuildJob.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

namespace {
QByteArray RecordFile(int n) {
    QByteArray out;
    for (int i = 1; i <= 22; ++i) {
        QByteArray v;
        if (i == 6) v = "CN" + QByteArray::number(n);
        if (i == 12) v = "Flow";
        if (i == 13) v = "5.50";
        if (i == 18) v = "08-Dec-2026,14:05:09";
        out += "H" + QByteArray::number(i) + "," + v + "\r\n";
    }
    return out + "D1,:,0,0,0\r\n";
}
} // namespace

class TestIndexBuildJob : public QObject {
    Q_OBJECT

    std::unique_ptr<StoreTestEnv> m_env;
    std::unique_ptr<RecordIndex> m_index;

    void Files(int n) {
        for (int i = 0; i < n; ++i)
            StoreTestEnv::Write(m_env->dataDir +
                                    QStringLiteral("/RXr_%1.p8d").arg(i, 4, 10, QLatin1Char('0')),
                                RecordFile(i));
    }
    std::unique_ptr<IndexBuildJob> Job(IndexBuildJob::Kind kind) {
        return std::make_unique<IndexBuildJob>(kind, *m_env->settings, m_env->dataDir, m_env->work);
    }

private Q_SLOTS:
    void init() {
        m_env = std::make_unique<StoreTestEnv>();
        m_env->CopySeeds();
        m_index = std::make_unique<RecordIndex>(*m_env->settings);
        m_index->SetSeedFolder(m_env->work);
        m_index->SetStartupFinished(true);
        QVERIFY(m_index->Open());
        RecordIndexRow old;
        old.controlNumber = QStringLiteral("OLD");
        QVERIFY(m_index->AddRow(old));
    }
    void cleanup() {
        m_index.reset();
        m_env.reset();
    }

    void rebuildsOnItsThread() {
        Files(200);
        auto job = Job(IndexBuildJob::Kind::Records);
        QCOMPARE(job->FileCount(), 200);
        QList<int> numbers;
        QList<QThread*> threads;
        connect(job.get(), &IndexBuildJob::Progress, this, [&](int number, const QString&) {
            numbers << number;
            threads << QThread::currentThread();
        });
        QSignalSpy finished(job.get(), &IndexBuildJob::Finished);
        job->Start();
        QVERIFY(finished.wait(30000));
        QVERIFY(job->Error().isEmpty());
        QCOMPARE(job->Result().rowsAdded, 200);
        QVERIFY(!numbers.isEmpty());
        QCOMPARE(numbers.first(), 1);
        QCOMPARE(numbers.last(), 200);
        QVERIFY(std::is_sorted(numbers.begin(), numbers.end()));
        for (QThread* t : threads) QCOMPARE(t, QThread::currentThread());
        QVERIFY(m_index->Open());
        QCOMPARE(m_index->GetCount(), 200);
    }

    void cancelKeepsTheOldRows() {
        Files(600);
        auto job = Job(IndexBuildJob::Kind::Records);
        connect(job.get(), &IndexBuildJob::Progress, job.get(), &IndexBuildJob::Cancel);
        QSignalSpy finished(job.get(), &IndexBuildJob::Finished);
        job->Start();
        QVERIFY(finished.wait(30000));
        QVERIFY(job->Result().cancelled);
        QVERIFY(m_index->Open());
        QList<RecordListRow> rows;
        QVERIFY(m_index->ListRows(rows));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].controlNumber, QStringLiteral("OLD"));
    }

    void templates() {
        QVERIFY(QFile::copy(QStringLiteral(RX_TEST_DATA "/store/flow_pca.p8t"),
                            m_env->dataDir + QStringLiteral("/RXt_a.p8t")));
        StoreTestEnv::Write(m_env->dataDir + QStringLiteral("/RXt_broken.p8t"), QByteArray("xx"));
        auto job = Job(IndexBuildJob::Kind::Templates);
        QSignalSpy finished(job.get(), &IndexBuildJob::Finished);
        job->Start();
        QVERIFY(finished.wait(30000));
        QCOMPARE(job->Result().filesProcessed, 2);
        QCOMPARE(job->Result().unreadable, QStringList{"RXt_broken.p8t"});
        TemplateStore store(*m_env->settings);
        store.SetSeedFolder(m_env->work);
        QVERIFY(store.Open());
        QCOMPARE(store.GetCount(), 2);
    }

    // A job destroyed while it runs stops its worker first.
    void destroyedWhileRunning() {
        Files(300);
        auto job = Job(IndexBuildJob::Kind::Records);
        job->Start();
        job.reset();
        QVERIFY(m_index->Open());
        QVERIFY(m_index->GetCount() == 1 || m_index->GetCount() == 300);
    }
};

QTEST_GUILESS_MAIN(TestIndexBuildJob)
#include "test_index_build_job.moc"
