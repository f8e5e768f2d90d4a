#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// A working folder with settings, a data folder and the seed databases.
inline bool MakeWorkingFolder(const QString& dir) {
    const QString settings = dir + QStringLiteral("/settings");
    const QString data = dir + QStringLiteral("/data");
    QDir().mkpath(settings);
    QDir().mkpath(data);
    QFile loc(dir + QStringLiteral("/RivuletrixIniFilePath.ini"));
    if (!loc.open(QIODevice::WriteOnly)) return false;
    loc.write("[INIFilePath]\r\nINIFilePathWin7=" + settings.toUtf8() + "\r\n");
    loc.close();
    QFile ini(settings + QStringLiteral("/RivuletrixApp.ini"));
    if (!ini.open(QIODevice::WriteOnly)) return false;
    ini.write("[Default Parameters]\r\nPathType=2\r\nCustomPath=" + data.toUtf8() +
              "\r\nDefaultPath=" + data.toUtf8() +
              "\r\nReportHeader1=Clinical Engineering\r\nFlowTolerance=5\r\nGraphLineWidth=1\r\n");
    ini.close();
    for (const char* seed : {"RX_Records.bak", "RX_Templates.bak"})
        QFile::copy(QStringLiteral(RX_BINARY_DIR "/") + QLatin1String(seed),
                    dir + QLatin1Char('/') + QLatin1String(seed));
    return true;
}
