#pragma once

#include "base/AppSettings.h"

#include <QDir>
#include <QString>

namespace store {
// The folder a browser opens files from on a double-click: with a network
// path ("PathType" 1) the "NetworkPath" setting, then the "NetworkPathDrive"
// setting; otherwise the data folder. Empty when none is an existing folder.
inline QString FolderForOpening(const AppSettings& settings, const QString& dataFolder) {
    QStringList candidates;
    if (settings.Setting(QStringLiteral("PathType")) == QLatin1String("1"))
        candidates << settings.Setting(QStringLiteral("NetworkPath"))
                   << settings.Setting(QStringLiteral("NetworkPathDrive"));
    else
        candidates << dataFolder;
    for (const QString& c : candidates)
        if (!c.isEmpty() && QDir(c).exists()) return c;
    return {};
}
} // namespace store
