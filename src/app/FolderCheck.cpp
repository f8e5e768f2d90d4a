#include "FolderCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

FolderState ProbeFolder(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    if (path.trimmed().isEmpty())
        return {FolderState::Kind::Missing, QStringLiteral("No folder is named.")};
    const QFileInfo fi(path);
    if (!fi.exists())
        return {FolderState::Kind::Missing,
                QStringLiteral("%1 does not exist or is not mounted.").arg(shown)};
    if (!fi.isDir())
        return {FolderState::Kind::NotFolder, QStringLiteral("%1 is not a folder.").arg(shown)};
    // Permission bits do not tell about read-only mounts: try a file.
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".rivuletrix-probe-XXXXXX")));
    if (!probe.open())
        return {FolderState::Kind::NotWritable, QStringLiteral("%1 cannot be written.").arg(shown)};
    return {FolderState::Kind::Reachable, {}};
}

FolderState CheckFolder(const QString& path, int timeoutMs,
                        const std::function<FolderState(const QString&)>& probe) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        FolderState result;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, path, probe] {
        FolderState result = probe(path);
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->result = std::move(result);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return shared->finished; }))
        return {FolderState::Kind::TimedOut, QStringLiteral("%1 did not answer within %2 seconds.")
                                                 .arg(QDir::toNativeSeparators(path))
                                                 .arg(timeoutMs / 1000.0)};
    return shared->result;
}
