#pragma once

#include <QString>

// Names of the settings file. Some callers pass keys with trailing blanks
// ("CustomPath  "); the INI layer ignores them.
namespace settings {
inline const QString kLocationFile = QStringLiteral("RivuletrixIniFilePath.ini");
inline const QString kSettingsFile = QStringLiteral("RivuletrixApp.ini");
inline const QString kLocationSection = QStringLiteral("INIFilePath");
inline const QString kLocationKey = QStringLiteral("INIFilePathWin7");
inline const QString kSection = QStringLiteral("Default Parameters");
} // namespace settings

// The settings and data paths: the location file in the working directory
// names the settings folder; the settings file there names the data folder.
// Nothing is cached: every access looks the files up again.
class AppSettings {
public:
    // workingDir empty: the current directory at the first settings access.
    explicit AppSettings(const QString& workingDir = {});

    bool GetSetting(const QString& section, const QString& key, QString& value) const;
    bool WriteSetting(const QString& section, const QString& key, const QString& value) const;
    QString GetIniFolder() const;
    QString GetDataPath() const;

    // Shorthands for the "Default Parameters" section; empty when unset.
    QString Setting(const QString& key) const;
    int IntSetting(const QString& key) const;
    // "IndexServer": the PostgreSQL server holding the records and template
    // indexes (postgresql://user@host:5432/dbname); empty for the files in
    // the data folder. Only ever read: its password, if any, is the user's.
    QString IndexServer() const { return Setting(QStringLiteral("IndexServer")).trimmed(); }

    // A data folder that wins over the settings (command-line runs).
    void OverrideDataPath(const QString& folder) { m_dataOverride = folder; }
    bool DataPathOverridden() const { return !m_dataOverride.isEmpty(); }

    QString WorkingDir() const;
    void SetWorkingDir(const QString& dir) { m_workingDir = dir; }

    // The public data folder of this machine, default of "DefaultPath" and
    // "CustomPath".
    static QString PublicFolder();

    // Counts the saves of the settings dialog. A window showing a setting
    // takes it again when the count moved since it last looked.
    static void NoteSettingsChanged();
    static int SettingsChangeCount();

private:
    // Path of the settings file, or empty with "INI File not Found" shown
    // where the location says it must be.
    QString SettingsFilePath(bool* locationEmpty) const;

    mutable QString m_workingDir;
    QString m_dataOverride;
};

// Creates the folder chain of path; an existing level is not an error.
bool MakeFolderChain(const QString& path);
