#include "DataFolder.h"

#include "AppSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

QString DataFolderProblem(const AppSettings& settings) {
    const bool network = !settings.DataPathOverridden() &&
                         settings.Setting(QStringLiteral("PathType")) == QLatin1String("1");
    return FolderProblem(settings.GetDataPath(),
                         network ? settings.Setting(QStringLiteral("NetworkPathDrive"))
                                 : QString());
}

QString FolderProblem(const QString& folder, const QString& mountRoot) {
    if (folder.trimmed().isEmpty()) return QStringLiteral("No data folder is set.");
    const QString shown = QDir::toNativeSeparators(folder);
    const QFileInfo fi(folder);
    if (!fi.exists()) return QStringLiteral("%1 does not exist or is not mounted.").arg(shown);
    if (!fi.isDir()) return QStringLiteral("%1 is not a folder.").arg(shown);
    const QString root = QDir::cleanPath(mountRoot.trimmed());
    if (!mountRoot.trimmed().isEmpty() && root != QDir::rootPath() &&
        QDir::cleanPath(QStorageInfo(folder).rootPath()) != root)
        return QStringLiteral("%1 is not mounted (%2 is not there).")
            .arg(shown, QDir::toNativeSeparators(mountRoot));
    return {};
}

QString DataFolderProblem(const AppSettings& settings, const QString& folder) {
    return folder.isEmpty() ? DataFolderProblem(settings) : FolderProblem(folder);
}
