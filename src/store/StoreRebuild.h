#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What a rebuild reports while it runs and when it is done. The index build
// dialog shows the per-file progress; unreadable files are named and the
// rebuild goes on.
struct RebuildCallbacks {
    // Before each file: running number from 1 and the file name.
    std::function<void(int number, const QString& fileName)> onFile;
    // A file that could not be read, with the reason.
    std::function<void(const QString& fileName, const QString& error)> onUnreadable;
    // Asked before each file; true stops the rebuild and keeps the old index.
    std::function<bool()> cancelRequested;
};

class QDir;

namespace store {
// The files of dir matching pattern in name order: regular files, and links
// that lead nowhere (listed, so that they are reported as unreadable). Pipes
// and devices are passed over: opening one could block the rebuild.
QStringList ListDataFiles(const QDir& dir, const QString& pattern);
// "3 could not be read: a.p8d, b.p8d, c.p8d": the first five by name, the
// count says how many in all; empty when every file was read.
QString UnreadableSummary(const QStringList& files);
} // namespace store

struct RebuildResult {
    bool ran = false;       // false when the store could not be used at all
    bool stored = false;    // the rebuilt rows replaced the old ones
    int filesProcessed = 0; // files listed and handled
    int rowsAdded = 0;      // rows the index holds from this rebuild
    QStringList unreadable;
    QString error;          // why the rows could not be stored
    bool cancelled = false; // stopped on request; the old rows were kept
};
