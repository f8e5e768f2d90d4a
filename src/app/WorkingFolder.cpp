#include "WorkingFolder.h"

#include "base/AppSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool WriteNew(const QString& path, const QString& text) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(text.toUtf8());
    return f.commit();
}

} // namespace

WorkingFolder PrepareWorkingFolder(const QString& currentDir, const QString& userFolder,
                                   const QStringList& seedSources) {
    WorkingFolder wf;
    if (QFileInfo::exists(QDir(currentDir).filePath(settings::kLocationFile))) {
        wf.folder = currentDir;
        return wf;
    }
    wf.folder = userFolder;
    const QDir dir(userFolder);
    const QString location = dir.filePath(settings::kLocationFile);
    const QString settingsDir = dir.filePath(QStringLiteral("settings"));
    const QString settingsFile = QDir(settingsDir).filePath(settings::kSettingsFile);
    const QString data = dir.filePath(QStringLiteral("data"));
    // What is there already stays as it is: only missing pieces are made.
    if (QFileInfo::exists(location)) return wf;
    if (!MakeFolderChain(settingsDir) || !MakeFolderChain(data)) {
        wf.error = QStringLiteral("Cannot create %1").arg(QDir::toNativeSeparators(userFolder));
        wf.folder.clear();
        return wf;
    }
    const QString eol = QStringLiteral("\r\n");
    if (!QFileInfo::exists(settingsFile)) {
        const QStringList lines = {QStringLiteral("[Default Parameters]"),
                                   QStringLiteral("PathType=2"),
                                   QStringLiteral("DefaultPath=") + userFolder,
                                   QStringLiteral("CustomPath=") + data,
                                   QStringLiteral("NetworkPath="),
                                   QStringLiteral("NetworkPathDrive="),
                                   QStringLiteral("BuildIndex=0"),
                                   QStringLiteral("ReportHeader1="),
                                   QStringLiteral("ReportHeader2="),
                                   QStringLiteral("ReportHeader3="),
                                   QStringLiteral("FlowTolerance=5"),
                                   QStringLiteral("GraphLineWidth=1"),
                                   QStringLiteral("DefaultPressureUnit=mmHg")};
        if (!WriteNew(settingsFile, lines.join(eol) + eol)) {
            wf.error =
                QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(settingsFile));
            wf.folder.clear();
            return wf;
        }
    }
    for (const QString& name :
         {QStringLiteral("RX_Records.bak"), QStringLiteral("RX_Templates.bak")}) {
        const QString target = dir.filePath(name);
        if (QFileInfo::exists(target)) continue;
        for (const QString& source : seedSources) {
            const QString seed = QDir(source).filePath(name);
            if (QFileInfo(seed).isFile() && QFile::copy(seed, target)) {
                QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner);
                break;
            }
        }
    }
    // The location file last: a start cut short makes everything again.
    const QString text = QStringLiteral("[INIFilePath]") + eol +
                         QStringLiteral("INIFilePathWin7=") + settingsDir + eol +
                         QStringLiteral("INIFilePathWinXP=") + settingsDir + eol;
    if (!WriteNew(location, text)) {
        wf.error = QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(location));
        wf.folder.clear();
        return wf;
    }
    wf.created = true;
    return wf;
}
