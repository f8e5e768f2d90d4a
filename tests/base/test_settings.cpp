// Settings and data paths over real INI files in a temporary working folder.
#include "base/AppSettings.h"
#include "base/IniFile.h"
#include "base/Prompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;

    QString Work() const { return m_dir.filePath(QStringLiteral("work")); }
    QString SettingsDir() const { return m_dir.filePath(QStringLiteral("settings")); }
    QString SettingsFile() const { return SettingsDir() + QStringLiteral("/RivuletrixApp.ini"); }

    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void WriteLocation() {
        Write(Work() + QStringLiteral("/RivuletrixIniFilePath.ini"),
              "[INIFilePath]\r\nINIFilePathWin7=" + SettingsDir().toUtf8() + "\r\n");
    }

private Q_SLOTS:
    void init() {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(Work());
        QDir().mkpath(SettingsDir());
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    void dataPath_data() {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("expected"); // "<ini>" stands for the settings folder
        QTest::newRow("custom")
            << QByteArray("[Default Parameters]\r\nPathType=2\r\nCustomPath=D:\\Data\r\n")
            << QStringLiteral("D:\\Data");
        QTest::newRow("default is the settings folder")
            << QByteArray("[Default Parameters]\r\nPathType=0\r\nCustomPath=x\r\n")
            << QStringLiteral("<ini>");
        QTest::newRow("network")
            << QByteArray("[default parameters]\r\nPathType=1\r\nNetworkPath=/mnt/share\r\n")
            << QStringLiteral("/mnt/share");
        QTest::newRow("missing path type")
            << QByteArray("[Default Parameters]\r\nCustomPath=x\r\n") << QString();
        QTest::newRow("other path type is returned as it is")
            << QByteArray("[Default Parameters]\r\nPathType=/srv/data\r\n")
            << QStringLiteral("/srv/data");
        QTest::newRow("blanks and case in names")
            << QByteArray(
                   "[ Default Parameters ]\r\n  pathtype =  2 \r\n CUSTOMPATH = \"/data/x\"  \r\n")
            << QStringLiteral("/data/x");
    }
    void dataPath() {
        QFETCH(QByteArray, settings);
        QFETCH(QString, expected);
        WriteLocation();
        Write(SettingsFile(), settings);
        AppSettings app(Work());
        if (expected == QLatin1String("<ini>")) expected = SettingsDir();
        QCOMPARE(app.GetDataPath(), expected);
        QVERIFY(m_prompter.messages.isEmpty());
    }

    void keyWithTrailingBlanksFindsPlainKey() {
        WriteLocation();
        Write(SettingsFile(), "[Default Parameters]\r\nCustomPath=/data\r\n");
        AppSettings app(Work());
        QString value;
        QVERIFY(app.GetSetting(settings::kSection, QStringLiteral("CustomPath  "), value));
        QCOMPARE(value, QStringLiteral("/data"));
    }

    void longValueIsCut() {
        WriteLocation();
        Write(SettingsFile(),
              "[Default Parameters]\r\nReportHeader1=" + QByteArray(300, 'a') + "\r\n");
        AppSettings app(Work());
        QString value;
        QVERIFY(app.GetSetting(settings::kSection, QStringLiteral("ReportHeader1"), value));
        QCOMPARE(value.size(), 259);
    }

    void emptyValueReadsFalse() {
        WriteLocation();
        Write(SettingsFile(), "[Default Parameters]\r\nBuildIndex=\r\n");
        AppSettings app(Work());
        QString value = QStringLiteral("stale");
        QVERIFY(!app.GetSetting(settings::kSection, QStringLiteral("BuildIndex"), value));
        QVERIFY(value.isEmpty());
        QCOMPARE(app.IntSetting(QStringLiteral("BuildIndex")), 0);
    }

    void missingFiles_data() {
        QTest::addColumn<bool>("location");
        QTest::addColumn<bool>("locationValue");
        QTest::addColumn<int>("messages"); // "INI File not Found" boxes for one read and one write
        QTest::newRow("no location file") << false << false << 2;
        QTest::newRow("location names no folder") << true << false << 0;
        QTest::newRow("no settings file") << true << true << 2;
    }
    void missingFiles() {
        QFETCH(bool, location);
        QFETCH(bool, locationValue);
        QFETCH(int, messages);
        if (location)
            Write(Work() + QStringLiteral("/RivuletrixIniFilePath.ini"),
                  locationValue
                      ? "[INIFilePath]\r\nINIFilePathWin7=" + SettingsDir().toUtf8() + "\r\n"
                      : QByteArray("[INIFilePath]\r\n"));
        AppSettings app(Work());
        QString value;
        QVERIFY(!app.GetSetting(settings::kSection, QStringLiteral("PathType"), value));
        QVERIFY(
            !app.WriteSetting(settings::kSection, QStringLiteral("PathType"), QStringLiteral("2")));
        QCOMPARE(m_prompter.messages.size(), messages);
        for (const QString& m : m_prompter.messages)
            QCOMPARE(m, QStringLiteral("INI File not Found"));
        // Nothing was created.
        QVERIFY(!QFile::exists(SettingsFile()));
        QCOMPARE(QFile::exists(Work() + QStringLiteral("/RivuletrixIniFilePath.ini")), location);
    }

    void writeKeepsOtherLinesAndCreatesKeysAndSections() {
        WriteLocation();
        Write(SettingsFile(), "; installed defaults\r\n[Default Parameters]\r\nPathType=0\r\n\r\n"
                              "[Connection Details]\r\nA=1\r\n");
        AppSettings app(Work());
        QVERIFY(
            app.WriteSetting(settings::kSection, QStringLiteral("PATHTYPE "), QStringLiteral("2")));
        QVERIFY(app.WriteSetting(settings::kSection, QStringLiteral("CustomPath  "),
                                 QStringLiteral("/d")));
        QVERIFY(app.WriteSetting(QStringLiteral("New Section"), QStringLiteral("K"),
                                 QStringLiteral("v")));
        QCOMPARE(Read(SettingsFile()),
                 QByteArray("; installed defaults\r\n[Default "
                            "Parameters]\r\nPathType=2\r\nCustomPath=/d\r\n\r\n"
                            "[Connection Details]\r\nA=1\r\n[New Section]\r\nK=v\r\n"));
        QCOMPARE(app.GetDataPath(), QStringLiteral("/d"));
    }

    void writeRefusedShowsWriteFailed() {
        // A settings "file" that cannot be rewritten (here a folder, which
        // even root cannot replace with a file).
        WriteLocation();
        QVERIFY(QDir().mkpath(SettingsFile()));
        AppSettings app(Work());
        QVERIFY(
            !app.WriteSetting(settings::kSection, QStringLiteral("PathType"), QStringLiteral("2")));
        QCOMPARE(m_prompter.messages, QStringList{QStringLiteral("Write Failed")});
    }

    void folderChain() {
        const QString deep = m_dir.filePath(QStringLiteral("a/b/c"));
        QVERIFY(MakeFolderChain(deep));
        QVERIFY(MakeFolderChain(deep)); // an existing chain is not an error
        QVERIFY(QDir(deep).exists());
        QVERIFY(!MakeFolderChain(QString()));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
