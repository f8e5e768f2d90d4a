#pragma once

#include <QString>
#include <QStringList>

// The working folder: where the location file and the seed databases are.
// A folder the program is started in that holds a location file wins; else
// the user's own folder, which the first start makes with a settings file of
// defaults, a data folder and the seed databases.
struct WorkingFolder {
    QString folder; // empty when none could be made
    bool created = false;
    QString error; // why none could be made
    // The settings file made again with defaults because it was missing.
    QString remadeSettings;
};

// currentDir: where the program was started; userFolder: the user's data
// folder for Rivuletrix; seedSources: folders to copy "RX_*.bak" from.
WorkingFolder PrepareWorkingFolder(const QString& currentDir, const QString& userFolder,
                                   const QStringList& seedSources);
