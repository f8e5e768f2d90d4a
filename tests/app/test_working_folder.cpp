// The working folder of a first start: made under the user's folder with a
// settings file of defaults and the seeds; a prepared folder wins and what
// is there is never overwritten.
#include "app/WorkingFolder.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestWorkingFolder : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;

    QString Path(const QString& name) const { return m_dir->filePath(name); }
    static void Write(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
        Write(Path("share/RX_Records.bak"), "records seed");
        Write(Path("share/RX_Templates.bak"), "templates seed");
        QDir().mkpath(Path("start"));
    }
    void cleanup() { SetPrompter(nullptr); }

    void firstStartMakesFolderWithDefaults() {
        const QString user = Path("home/.local/share/Rivuletrix");
        const WorkingFolder wf =
            PrepareWorkingFolder(Path("start"), user, {Path("nowhere"), Path("share")});
        QVERIFY(wf.created);
        QCOMPARE(wf.folder, user);
        const AppSettings settings(wf.folder);
        QCOMPARE(settings.GetIniFolder(), user + QStringLiteral("/settings"));
        QCOMPARE(settings.GetDataPath(), user + QStringLiteral("/data"));
        QVERIFY(QFileInfo(settings.GetDataPath()).isDir());
        QCOMPARE(settings.Setting(QStringLiteral("FlowTolerance")), QStringLiteral("5"));
        QCOMPARE(settings.Setting(QStringLiteral("GraphLineWidth")), QStringLiteral("1"));
        QCOMPARE(settings.Setting(QStringLiteral("DefaultPressureUnit")), QStringLiteral("mmHg"));
        QCOMPARE(settings.Setting(QStringLiteral("DefaultPath")), user);
        QVERIFY(settings.WriteSetting(settings::kSection, QStringLiteral("ReportHeader1"),
                                      QStringLiteral("Ward 7")));
        QFile seed(user + QStringLiteral("/RX_Templates.bak"));
        QVERIFY(seed.open(QIODevice::ReadOnly));
        QCOMPARE(seed.readAll(), QByteArray("templates seed"));
        QVERIFY(m_prompter.messages.isEmpty());
    }

    void preparedStartFolderWins() {
        Write(Path("start/RivuletrixIniFilePath.ini"),
              "[INIFilePath]\r\nINIFilePathWin7=" + Path("start/settings").toUtf8() + "\r\n");
        Write(Path("start/settings/RivuletrixApp.ini"), "[Default Parameters]\r\nPathType=0\r\n");
        const QString user = Path("user");
        const WorkingFolder wf = PrepareWorkingFolder(Path("start"), user, {Path("share")});
        QVERIFY(!wf.created);
        QCOMPARE(wf.folder, Path("start"));
        QVERIFY(!QFileInfo::exists(user));
    }

    void existingFilesAreKept() {
        const QString user = Path("user");
        Write(user + QStringLiteral("/settings/RivuletrixApp.ini"),
              "[Default Parameters]\r\nPathType=0\r\nFlowTolerance=9\r\n");
        Write(user + QStringLiteral("/RX_Records.bak"), "own seed");
        const WorkingFolder wf = PrepareWorkingFolder(Path("start"), user, {Path("share")});
        QVERIFY(wf.created);
        const AppSettings settings(wf.folder);
        QCOMPARE(settings.Setting(QStringLiteral("FlowTolerance")), QStringLiteral("9"));
        QCOMPARE(settings.GetDataPath(), user + QStringLiteral("/settings"));
        QFile seed(user + QStringLiteral("/RX_Records.bak"));
        QVERIFY(seed.open(QIODevice::ReadOnly));
        QCOMPARE(seed.readAll(), QByteArray("own seed"));
        // A second start finds the folder made and changes nothing.
        const WorkingFolder again = PrepareWorkingFolder(Path("start"), user, {Path("share")});
        QVERIFY(!again.created);
        QCOMPARE(again.folder, user);
    }

    void folderThatCannotBeMadeIsReported() {
        Write(Path("blocked"), "a file where the folder should go");
        const WorkingFolder wf =
            PrepareWorkingFolder(Path("start"), Path("blocked/Rivuletrix"), {Path("share")});
        QVERIFY(wf.folder.isEmpty());
        QVERIFY(wf.error.contains(QStringLiteral("Cannot create")));
    }
    // A settings file deleted after the first start is made again with
    // defaults, once, and said; other settings files are left alone. A
    // settings folder that is gone (an unmounted share) is not made here.
    void deletedSettingsFileIsMadeAgain_data() {
        QTest::addColumn<bool>("folderGone");
        QTest::newRow("file deleted") << false;
        QTest::newRow("settings folder gone") << true;
    }
    void deletedSettingsFileIsMadeAgain() {
        QFETCH(bool, folderGone);
        const QString user = Path("user");
        QVERIFY(PrepareWorkingFolder(Path("start"), user, {Path("share")}).created);
        const QString settingsDir = user + QStringLiteral("/settings");
        const QString file = settingsDir + QStringLiteral("/RivuletrixApp.ini");
        if (folderGone)
            QVERIFY(QDir(settingsDir).removeRecursively());
        else
            QVERIFY(QFile::remove(file));
        const WorkingFolder wf = PrepareWorkingFolder(Path("start"), user, {Path("share")});
        QVERIFY(!wf.created);
        if (folderGone) {
            QVERIFY(wf.folder.isEmpty());
            QVERIFY(wf.error.contains(QStringLiteral("is missing and cannot be made again")));
            QVERIFY(!QFileInfo::exists(settingsDir));
            return;
        }
        QCOMPARE(wf.folder, user);
        QCOMPARE(wf.remadeSettings, file);
        const AppSettings settings(wf.folder);
        QCOMPARE(settings.Setting(QStringLiteral("FlowTolerance")), QStringLiteral("5"));
        QCOMPARE(settings.GetDataPath(), user + QStringLiteral("/data"));
        // The next start finds it and says nothing.
        QVERIFY(
            PrepareWorkingFolder(Path("start"), user, {Path("share")}).remadeSettings.isEmpty());
    }
};

QTEST_MAIN(TestWorkingFolder)
#include "test_working_folder.moc"
