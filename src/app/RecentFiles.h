#pragma once

#include <QStringList>

class AppSettings;

// The File menu's list of the last records opened, newest first, kept in the
// settings file (section "Recent File List", keys "File1".."File4").
namespace recentfiles {
constexpr int kMaxFiles = 4;
QStringList Read(const AppSettings& settings);
// Puts path first; a path already listed moves up; the oldest falls off.
void Add(const AppSettings& settings, const QString& path);
void Remove(const AppSettings& settings, const QString& path);
} // namespace recentfiles
