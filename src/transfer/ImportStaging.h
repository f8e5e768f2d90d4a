#pragma once

#include "transfer/ImportItems.h"

#include <QString>

class AppSettings;

// The staging folder: downloads land here under their number on the analyzer
// before they are merged into the data folder.
namespace staging {

// "CustomPath" + "/Temp"; the data folder's "Temp" when no custom path is set.
QString Folder(const AppSettings& settings);
// Creates the folder chain; false with the reason when the folder is missing
// afterwards.
bool Prepare(const QString& folder, QString* error = nullptr);

QString RecordPath(const QString& folder, int number);
QString TemplatePath(const QString& folder, int number);

// Fills the header fields of entry from the H lines of a staged record file.
// False when the file cannot be opened.
bool ReadHeader(const QString& path, ImportedRecord& entry);
// The header fields from the bytes of a record file.
void ParseHeader(const QByteArray& bytes, ImportedRecord& entry);

// True when bytes form a complete download: an N line first and the closing
// "E0" last.
bool IsCompleteRecord(const QByteArray& bytes);

} // namespace staging
