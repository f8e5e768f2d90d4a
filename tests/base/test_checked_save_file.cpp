#include "base/CheckedSaveFile.h"

#include "../SmallTmpfs.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}
} // namespace

class TestCheckedSaveFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesAndReplaces_data();
    void writesAndReplaces();
    void identicalCopyIsLeftUntouched();
    void deviceTargetReportsItsFailure();
    void fullDiskKeepsTheEarlierFile_data();
    void fullDiskKeepsTheEarlierFile();
    void cancelLeavesNothing();
    void noReplaceLeavesAFileWrittenMeanwhile();
};

void TestCheckedSaveFile::writesAndReplaces_data() {
    QTest::addColumn<QByteArray>("earlier");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("new file") << QByteArray() << QByteArray("N0\r\nH1,8000\r\nE0");
    QTest::newRow("replaces a longer file") << QByteArray(5000, 'a') << QByteArray("short");
    QTest::newRow("empty file") << QByteArray("old") << QByteArray();
    QTest::newRow("large") << QByteArray("old") << QByteArray(3 << 20, 'z');
}

void TestCheckedSaveFile::writesAndReplaces() {
    QFETCH(QByteArray, earlier);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.p8d"));
    if (!earlier.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(earlier);
    }
    QString error;
    QVERIFY2(checkedfile::Write(path, bytes, &error), qPrintable(error));
    QCOMPARE(Contents(path), bytes);
    QCOMPARE(Entries(dir.path()), QStringList{QStringLiteral("a.p8d")});
}

void TestCheckedSaveFile::identicalCopyIsLeftUntouched() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.p8d"));
    QVERIFY(checkedfile::Write(path, "same bytes"));
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
    QVERIFY(checkedfile::Write(path, "same bytes"));
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino); // not replaced by a new file
}

void TestCheckedSaveFile::deviceTargetReportsItsFailure() {
    if (!QFileInfo::exists(QStringLiteral("/dev/full"))) QSKIP("no /dev/full");
    QString error;
    QVERIFY(!checkedfile::Write(QStringLiteral("/dev/full"), QByteArray(100000, 'x'), &error));
    QVERIFY2(error.contains(QLatin1String("No space left on device")), qPrintable(error));
    QVERIFY(QFileInfo(QStringLiteral("/dev/full")).exists());
    QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile()); // still the device
}

void TestCheckedSaveFile::fullDiskKeepsTheEarlierFile_data() {
    QTest::addColumn<bool>("earlierExists");
    QTest::newRow("earlier file kept") << true;
    QTest::newRow("no file left behind") << false;
}

void TestCheckedSaveFile::fullDiskKeepsTheEarlierFile() {
    QFETCH(bool, earlierExists);
    RX_SMALL_TMPFS(fs, 64 * 1024);
    const QString path = fs.Path() + QStringLiteral("/notes.p8u");
    const QByteArray earlier(4000, 'e');
    if (earlierExists) QVERIFY(checkedfile::Write(path, earlier));
    fs.Fill();
    CheckedSaveFile out(path);
    QVERIFY(out.open());
    out.write(QByteArray(20000, 'n'));
    QVERIFY(!out.commit());
    QVERIFY2(out.errorString().contains(QLatin1String("No space left on device")),
             qPrintable(out.errorString()));
    if (earlierExists)
        QCOMPARE(Contents(path), earlier);
    else
        QVERIFY(!QFileInfo::exists(path));
    fs.Free();
    QCOMPARE(Entries(fs.Path()),
             earlierExists ? QStringList{QStringLiteral("notes.p8u")} : QStringList{});
}

void TestCheckedSaveFile::cancelLeavesNothing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.p8t"));
    {
        CheckedSaveFile out(path);
        QVERIFY(out.open());
        out.write("half");
    } // destroyed without commit
    QVERIFY(Entries(dir.path()).isEmpty());
}

// Without replacing, a file another writer put at the name after this one
// opened is kept as it is, and the commit says so.
void TestCheckedSaveFile::noReplaceLeavesAFileWrittenMeanwhile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("r.p8d"));
    CheckedSaveFile out(path);
    out.setReplaceExisting(false);
    QVERIFY(out.open());
    out.write("mine");
    QVERIFY(checkedfile::Write(path, "theirs"));
    QVERIFY(!out.commit());
    QVERIFY(out.errorString().contains(QStringLiteral("someone else")));
    QCOMPARE(Contents(path), QByteArray("theirs"));
    QCOMPARE(Entries(dir.path()), QStringList{"r.p8d"});
}

QTEST_GUILESS_MAIN(TestCheckedSaveFile)
#include "test_checked_save_file.moc"
