#include "WorkingFolder.h"

#include "base/AppSettings.h"
#include "base/CheckedSaveFile.h"
#include "base/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool WriteNew(const QString& path, const QString& text) {
    return checkedfile::Write(path, text.toUtf8());
}

const QString kEol = QStringLiteral("\r\n");

// A settings file of defaults keeping records in folder's "data" folder.
bool WriteDefaultSettings(const QString& settingsFile, const QString& folder) {
    const QStringList lines = {QStringLiteral("[Default Parameters]"),
                               QStringLiteral("PathType=2"),
                               QStringLiteral("DefaultPath=") + folder,
                               QStringLiteral("CustomPath=") +
                                   QDir(folder).filePath(QStringLiteral("data")),
                               QStringLiteral("NetworkPath="),
                               QStringLiteral("NetworkPathDrive="),
                               QStringLiteral("BuildIndex=0"),
                               QStringLiteral("ReportHeader1="),
                               QStringLiteral("ReportHeader2="),
                               QStringLiteral("ReportHeader3="),
                               QStringLiteral("FlowTolerance=5"),
                               QStringLiteral("GraphLineWidth=1"),
                               QStringLiteral("DefaultPressureUnit=mmHg")};
    return WriteNew(settingsFile, lines.join(kEol) + kEol);
}

// The location file names a settings folder whose settings file is gone:
// every setting would be missing, so it is made again with defaults.
void RemakeMissingSettings(WorkingFolder& wf) {
    const QString location = QDir(wf.folder).filePath(settings::kLocationFile);
    const QString folder =
        ini::ReadValue(location, settings::kLocationSection, settings::kLocationKey);
    if (folder.isEmpty()) return;
    const QString file = QDir(folder).filePath(settings::kSettingsFile);
    if (QFileInfo::exists(file)) return;
    // A settings folder that is gone (an unmounted share) is not made here.
    if (!QFileInfo(folder).isDir() ||
        !MakeFolderChain(QDir(wf.folder).filePath(QStringLiteral("data"))) ||
        !WriteDefaultSettings(file, wf.folder)) {
        wf.error = QStringLiteral("The settings file %1 is missing and cannot be made again.")
                       .arg(QDir::toNativeSeparators(file));
        wf.folder.clear();
        return;
    }
    wf.remadeSettings = file;
}

} // namespace

WorkingFolder PrepareWorkingFolder(const QString& currentDir, const QString& userFolder,
                                   const QStringList& seedSources) {
    WorkingFolder wf;
    if (QFileInfo::exists(QDir(currentDir).filePath(settings::kLocationFile))) {
        wf.folder = currentDir;
        RemakeMissingSettings(wf);
        return wf;
    }
    wf.folder = userFolder;
    const QDir dir(userFolder);
    const QString location = dir.filePath(settings::kLocationFile);
    const QString settingsDir = dir.filePath(QStringLiteral("settings"));
    const QString settingsFile = QDir(settingsDir).filePath(settings::kSettingsFile);
    const QString data = dir.filePath(QStringLiteral("data"));
    // What is there already stays as it is: only missing pieces are made.
    if (QFileInfo::exists(location)) {
        RemakeMissingSettings(wf);
        return wf;
    }
    if (!MakeFolderChain(settingsDir) || !MakeFolderChain(data)) {
        wf.error = QStringLiteral("Cannot create %1").arg(QDir::toNativeSeparators(userFolder));
        wf.folder.clear();
        return wf;
    }
    if (!QFileInfo::exists(settingsFile) && !WriteDefaultSettings(settingsFile, userFolder)) {
        wf.error = QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(settingsFile));
        wf.folder.clear();
        return wf;
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
    const QString text = QStringLiteral("[INIFilePath]") + kEol +
                         QStringLiteral("INIFilePathWin7=") + settingsDir + kEol +
                         QStringLiteral("INIFilePathWinXP=") + settingsDir + kEol;
    if (!WriteNew(location, text)) {
        wf.error = QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(location));
        wf.folder.clear();
        return wf;
    }
    wf.created = true;
    return wf;
}
