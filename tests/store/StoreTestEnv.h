#pragma once

#include "base/AppSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A working folder with the location file, a settings folder with
// "RivuletrixApp.ini" (custom data path) and an empty data folder.
struct StoreTestEnv {
    QTemporaryDir tmp;
    QString work, settingsDir, dataDir;
    std::unique_ptr<AppSettings> settings;

    explicit StoreTestEnv(const QString& extraSettings = {}) {
        QVERIFY(tmp.isValid());
        work = tmp.path() + QStringLiteral("/work");
        settingsDir = tmp.path() + QStringLiteral("/settings");
        dataDir = tmp.path() + QStringLiteral("/data");
        QDir().mkpath(work);
        QDir().mkpath(settingsDir);
        QDir().mkpath(dataDir);
        Write(work + QStringLiteral("/RivuletrixIniFilePath.ini"),
              QStringLiteral("[INIFilePath]\r\nINIFilePathWin7=%1\r\n").arg(settingsDir));
        Write(settingsDir + QStringLiteral("/RivuletrixApp.ini"),
              QStringLiteral("[Default Parameters]\r\nPathType=2\r\nCustomPath=%1\r\n"
                             "BuildIndex=0\r\nFlowTolerance=7\r\n%2")
                  .arg(dataDir, extraSettings));
        settings = std::make_unique<AppSettings>(work);
    }

    // The seeds the build made, copied into the working folder.
    void CopySeeds() {
        for (const char* name : {"RX_Records.bak", "RX_Templates.bak"}) {
            const QString from = QStringLiteral(RX_BINARY_DIR "/") + QLatin1String(name);
            QVERIFY2(QFile::exists(from), qPrintable(from));
            QVERIFY(QFile::copy(from, work + QLatin1Char('/') + QLatin1String(name)));
        }
    }

    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    static void Write(const QString& path, const QString& text) { Write(path, text.toUtf8()); }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
