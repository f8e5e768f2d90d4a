#pragma once

#include <QString>

// INI files with the semantics of the Windows profile functions: section and
// key names compare without case and without surrounding blanks; values are
// read without surrounding blanks and without one pair of surrounding quotes,
// and at most 259 characters of them. Writing creates a missing section or key
// but never the file itself.
namespace ini {

constexpr int kMaxValueLength = 259;

// The value, or def when the file, section or key is missing.
QString ReadValue(const QString& filePath, const QString& section, const QString& key,
                  const QString& def = {});

// False when the file is missing or cannot be rewritten. The file is replaced
// atomically, so a failed write leaves the old file intact.
bool WriteValue(const QString& filePath, const QString& section, const QString& key,
                const QString& value);

} // namespace ini
