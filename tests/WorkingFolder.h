#pragma once

// A working folder as the program finds it at start: the file that names the
// settings folder, the settings, and the data folder they name.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// dir/settings holds the settings, dir/data the records; moreSettings are
// further "Key=value\r\n" lines of the Default Parameters section.
inline bool WriteWorkingFolder(const QString& dir, const QByteArray& moreSettings = {}) {
    const QString settings = dir + QStringLiteral("/settings");
    const QString data = dir + QStringLiteral("/data");
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
    };
    return QDir().mkpath(settings) && QDir().mkpath(data) &&
           write(dir + QStringLiteral("/RivuletrixIniFilePath.ini"),
                 "[INIFilePath]\r\nINIFilePathWin7=" + settings.toUtf8() + "\r\n") &&
           write(settings + QStringLiteral("/RivuletrixApp.ini"),
                 "[Default Parameters]\r\nPathType=2\r\nCustomPath=" + data.toUtf8() + "\r\n" +
                     moreSettings);
}

// The pristine index databases the build made, copied into dir.
inline bool CopySeeds(const QString& dir) {
    bool copied = true;
    for (const char* seed : {"RX_Records.bak", "RX_Templates.bak"})
        copied = QFile::copy(QStringLiteral(RX_BINARY_DIR "/") + QLatin1String(seed),
                             dir + QLatin1Char('/') + QLatin1String(seed)) &&
                 copied;
    return copied;
}

// A working folder with settings, a data folder and the seed databases.
inline bool MakeWorkingFolder(const QString& dir) {
    const QByteArray data = (dir + QStringLiteral("/data")).toUtf8();
    return WriteWorkingFolder(dir, "DefaultPath=" + data +
                                       "\r\nReportHeader1=Clinical Engineering\r\nFlowTolerance=5"
                                       "\r\nGraphLineWidth=1\r\n") &&
           CopySeeds(dir);
}
