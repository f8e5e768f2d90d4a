// The data-folder check: existing, missing, not a folder, and a folder that
// does not answer (a dead network mount) given up after the time limit.
#include "app/FolderCheck.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class TestFolderCheck : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void kinds_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::newRow("folder") << "share" << int(FolderState::Kind::Reachable);
        QTest::newRow("missing") << "gone" << int(FolderState::Kind::Missing);
        QTest::newRow("a file") << "file.txt" << int(FolderState::Kind::NotFolder);
        QTest::newRow("nothing named") << "" << int(FolderState::Kind::Missing);
    }
    void kinds() {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QDir().mkpath(m_dir.filePath(QStringLiteral("share")));
        QFile f(m_dir.filePath(QStringLiteral("file.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString path = name.isEmpty() ? QString() : m_dir.filePath(name);
        const FolderState state = CheckFolder(path, 5000);
        QCOMPARE(int(state.kind), kind);
        QCOMPARE(state.reason.isEmpty(), state.Connected());
        // The write probe leaves nothing behind.
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("share")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void deadMountGivenUpAfterTheLimit() {
        // A probe that blocks as a stat on a dead mount does.
        const auto stuck = [](const QString&) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            return FolderState{FolderState::Kind::Reachable, {}};
        };
        QElapsedTimer t;
        t.start();
        const FolderState state = CheckFolder(QStringLiteral("/mnt/dead"), 200, stuck);
        QCOMPARE(int(state.kind), int(FolderState::Kind::TimedOut));
        QVERIFY(state.reason.contains(QStringLiteral("did not answer")));
        QVERIFY2(t.elapsed() < 2500, "the caller waited for the stuck probe");
    }
};

QTEST_MAIN(TestFolderCheck)
#include "test_folder_check.moc"
