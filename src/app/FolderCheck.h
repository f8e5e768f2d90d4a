#pragma once

#include <QString>

#include <functional>

// Whether a data folder can be used: it exists, is a folder and takes a new
// file. A folder on a network mount that stopped answering can block any file
// call for minutes, so the look runs on a thread of its own and the caller
// waits at most the time limit; a probe still blocked is left to finish alone.
struct FolderState {
    enum class Kind { Reachable, Missing, NotFolder, NotWritable, TimedOut };
    Kind kind = Kind::Missing;
    QString reason; // empty when reachable; shown to the user otherwise

    bool Connected() const { return kind == Kind::Reachable; }
};

// The plain look, without time limit.
FolderState ProbeFolder(const QString& path);

// ProbeFolder (or the given probe) on a worker thread, waited for at most
// timeoutMs milliseconds.
FolderState CheckFolder(const QString& path, int timeoutMs,
                        const std::function<FolderState(const QString&)>& probe = ProbeFolder);
