#include "AppSettings.h"

#include "IniFile.h"
#include "Prompter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString kIniNotFound = QStringLiteral("INI File not Found");
const QString kWriteFailed = QStringLiteral("Write Failed");
} // namespace

AppSettings::AppSettings(const QString& workingDir) : m_workingDir(workingDir) {}

QString AppSettings::WorkingDir() const {
    if (m_workingDir.isEmpty()) m_workingDir = QDir::currentPath();
    return m_workingDir;
}

QString AppSettings::SettingsFilePath(bool* locationEmpty) const {
    *locationEmpty = false;
    const QString location = QDir(WorkingDir()).filePath(settings::kLocationFile);
    if (!QFileInfo::exists(location)) {
        ThePrompter().Message(kIniNotFound);
        return {};
    }
    const QString folder =
        ini::ReadValue(location, settings::kLocationSection, settings::kLocationKey);
    if (folder.isEmpty()) {
        *locationEmpty = true;
        return {};
    }
    const QString path = QDir(folder).filePath(settings::kSettingsFile);
    if (!QFileInfo::exists(path)) {
        ThePrompter().Message(kIniNotFound);
        return {};
    }
    return path;
}

bool AppSettings::GetSetting(const QString& section, const QString& key, QString& value) const {
    value.clear();
    bool locationEmpty = false;
    const QString path = SettingsFilePath(&locationEmpty);
    if (path.isEmpty()) return false;
    value = ini::ReadValue(path, section, key);
    return !value.isEmpty();
}

bool AppSettings::WriteSetting(const QString& section, const QString& key,
                               const QString& value) const {
    bool locationEmpty = false;
    const QString path = SettingsFilePath(&locationEmpty);
    if (path.isEmpty()) return false;
    if (!ini::WriteValue(path, section, key, value)) {
        ThePrompter().Message(kWriteFailed);
        return false;
    }
    return true;
}

QString AppSettings::GetIniFolder() const {
    const QString location = QDir(WorkingDir()).filePath(settings::kLocationFile);
    if (!QFileInfo::exists(location)) {
        ThePrompter().Message(kIniNotFound);
        return {};
    }
    return ini::ReadValue(location, settings::kLocationSection, settings::kLocationKey);
}

QString AppSettings::GetDataPath() const {
    if (!m_dataOverride.isEmpty()) return m_dataOverride;
    QString type;
    if (!GetSetting(settings::kSection, QStringLiteral("PathType"), type)) return {};
    if (type == QLatin1String("0")) return GetIniFolder();
    QString path;
    if (type == QLatin1String("1")) {
        GetSetting(settings::kSection, QStringLiteral("NetworkPath"), path);
        return path;
    }
    if (type == QLatin1String("2")) {
        GetSetting(settings::kSection, QStringLiteral("CustomPath"), path);
        return path;
    }
    return type;
}

QString AppSettings::Setting(const QString& key) const {
    QString value;
    GetSetting(settings::kSection, key, value);
    return value;
}

int AppSettings::IntSetting(const QString& key) const {
    // Leading digits count, as the profile functions' integer reads do.
    const QString v = Setting(key).trimmed();
    qsizetype n = 0;
    if (n < v.size() && (v[n] == QLatin1Char('-') || v[n] == QLatin1Char('+'))) ++n;
    while (n < v.size() && v[n].isDigit()) ++n;
    return v.left(n).toInt();
}

QString AppSettings::PublicFolder() {
#ifdef Q_OS_WIN
    // The machine's public folder (C:\Users\Public): every technician of a
    // bench PC sees the same settings and records.
    const QString pub = qEnvironmentVariable("PUBLIC");
    if (!pub.isEmpty()) return QDir::fromNativeSeparators(pub) + QStringLiteral("/Rivuletrix");
#endif
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Rivuletrix");
}

namespace {
int g_settingsChanges = 0; // user-interface thread only
} // namespace

void AppSettings::NoteSettingsChanged() {
    ++g_settingsChanges;
}

int AppSettings::SettingsChangeCount() {
    return g_settingsChanges;
}

bool MakeFolderChain(const QString& path) {
    return !path.isEmpty() && QDir().mkpath(path);
}
