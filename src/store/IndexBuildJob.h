#pragma once

#include "StoreRebuild.h"
#include "base/AppSettings.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// One rebuild of the records index or the template index on a worker thread,
// so that the window stays live and the user can cancel. The worker opens a
// connection of its own to the database file (a connection belongs to the
// thread that made it); the store of the user-interface thread reopens its
// cursor afterwards. A cancelled or failed rebuild leaves the old rows.
class IndexBuildJob : public QObject {
    Q_OBJECT
public:
    enum class Kind { Records, Templates };

    IndexBuildJob(Kind kind, const AppSettings& settings, const QString& dataFolder,
                  const QString& seedFolder, QObject* parent = nullptr);
    ~IndexBuildJob() override;

    Kind GetKind() const { return m_kind; }
    // Files the rebuild will take ("*.p8d" and "*.p7d", or "*.p8t").
    int FileCount() const { return m_fileCount; }
    void Start();
    void Cancel() { m_cancel = true; }
    bool Running() const;
    // Blocks until the worker is done (for shutdown and tests).
    bool Wait(int ms = -1);
    RebuildResult Result() const;
    // Why the rebuild did not run or was not kept; empty when it was.
    QString Error() const;

Q_SIGNALS:
    // At most every 50 ms and for the last file, in the owner's thread.
    void Progress(int number, const QString& fileName);
    void Finished();
    // Raised by the worker as it ends.
    void WorkerDone();

private:
    void Run();
    void Publish(const RebuildResult& result, const QString& error);

    Kind m_kind;
    AppSettings m_settings; // the worker's own copy
    QString m_dataFolder, m_seedFolder;
    int m_fileCount = 0;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
    mutable std::mutex m_mutex; // guards the three below
    std::condition_variable m_doneChanged;
    bool m_done = false;
    RebuildResult m_result;
    QString m_error;
};
