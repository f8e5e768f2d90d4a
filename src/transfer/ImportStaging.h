#pragma once

#include "transfer/ImportItems.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

class AppSettings;

// The staging folder: downloads land here under their number on the analyzer
// before they are merged into the data folder.
namespace staging {

// "CustomPath" + "/Temp"; the data folder's "Temp" when no custom path is set.
QString Folder(const AppSettings& settings);

// A staging folder of one import's own inside base (the folder above): two
// imports into one data folder at once, from two benches or a bench and a
// script, never read or replace each other's downloads. Removed with the
// object.
class Area {
public:
    explicit Area(const QString& base);
    bool Ok() const { return m_dir && m_dir->isValid(); }
    QString Path() const { return Ok() ? m_dir->path() : QString(); }
    // "Cannot Create Temp Folder" and the system's reason.
    QString Error() const { return m_error; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_error;
};
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

// True when bytes are one whole record as the analyzer sends it: complete,
// with as many sections as its N line says, and every section with its
// header lines H1 to H22. Otherwise false with why (the tail of another
// record, a lost header).
bool CheckRecord(const QByteArray& bytes, QString* why = nullptr);

// The digest kept in ImportedRecord::digest.
QByteArray Digest(const QByteArray& bytes);

} // namespace staging
