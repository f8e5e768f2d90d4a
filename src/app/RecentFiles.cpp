#include "RecentFiles.h"

#include "base/AppSettings.h"

#include <QDir>

namespace {
const QString kSection = QStringLiteral("Recent File List");

QString Key(int i) {
    return QStringLiteral("File%1").arg(i + 1);
}

void Write(const AppSettings& settings, const QStringList& files) {
    for (int i = 0; i < recentfiles::kMaxFiles; ++i)
        settings.WriteSetting(kSection, Key(i), files.value(i));
}
} // namespace

namespace recentfiles {

QStringList Read(const AppSettings& settings) {
    QStringList files;
    for (int i = 0; i < kMaxFiles; ++i) {
        QString value;
        if (settings.GetSetting(kSection, Key(i), value) && !value.isEmpty()) files << value;
    }
    return files;
}

void Add(const AppSettings& settings, const QString& path) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QStringList files = Read(settings);
    files.removeAll(clean);
    files.prepend(clean);
    Write(settings, files.mid(0, kMaxFiles));
}

void Remove(const AppSettings& settings, const QString& path) {
    QStringList files = Read(settings);
    if (files.removeAll(path) > 0) Write(settings, files);
}

} // namespace recentfiles
