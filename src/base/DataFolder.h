#pragma once

#include <QString>

class AppSettings;

// Why folder cannot take records: missing, not a folder, or (mountRoot
// given and not the root) no longer on that mount: an empty mount point is a
// folder, but not the share. Empty when usable.
QString FolderProblem(const QString& folder, const QString& mountRoot = {});

// The same for the data folder the settings name; a network folder must be
// on the mount it was chosen on ("NetworkPathDrive").
QString DataFolderProblem(const AppSettings& settings);

// The same for a folder set in place of the settings' one (a command-line
// or test override); empty: the settings' data folder.
QString DataFolderProblem(const AppSettings& settings, const QString& folder);
