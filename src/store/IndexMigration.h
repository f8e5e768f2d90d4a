#pragma once

#include "StoreSchema.h"

#include <QString>

class AppSettings;

// Copying the index databases of a data folder (SQLite files) to the index
// server named by the settings, rows in their order.
namespace store {

struct MigrationResult {
    bool ok = false;
    int records = 0;   // rows copied into the records index
    int templates = 0; // rows copied into the template index
    QString error;
};

// Copies "RX_Records.accdb" and "RX_Templates.accdb" of dataFolder to the
// server of settings. A server table that holds rows already is refused
// unless append is set, so nothing is copied twice by accident. Each table
// is copied in one transaction: all of its rows or none.
MigrationResult MigrateToServer(const AppSettings& settings, const QString& dataFolder,
                                bool append);

} // namespace store
