#include "IndexBuildJob.h"

#include "RecordIndex.h"
#include "TemplateStore.h"

#include <QDir>
#include <QElapsedTimer>

namespace {
AppSettings CopyOf(const AppSettings& settings) {
    AppSettings copy(settings);
    copy.SetWorkingDir(settings.WorkingDir()); // fixed now, not read lazily on the worker
    return copy;
}
} // namespace

IndexBuildJob::IndexBuildJob(Kind kind, const AppSettings& settings, const QString& dataFolder,
                             const QString& seedFolder, QObject* parent)
    : QObject(parent), m_kind(kind), m_settings(CopyOf(settings)), m_dataFolder(dataFolder),
      m_seedFolder(seedFolder) {
    // Queued: delivered in the owner's thread, dropped if the job is gone.
    connect(this, &IndexBuildJob::WorkerDone, this, &IndexBuildJob::Finished, Qt::QueuedConnection);
    const QDir dir(m_dataFolder);
    if (kind == Kind::Records)
        m_fileCount = int(store::ListDataFiles(dir, QStringLiteral("*.p8d")).size() +
                          store::ListDataFiles(dir, QStringLiteral("*.p7d")).size());
    else
        m_fileCount = int(store::ListDataFiles(dir, QStringLiteral("*.p8t")).size());
}

IndexBuildJob::~IndexBuildJob() {
    m_cancel = true;
    if (m_thread.joinable()) m_thread.join();
}

void IndexBuildJob::Start() {
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] {
        Run();
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_doneChanged.notify_all();
        Q_EMIT WorkerDone(); // Finished follows in the owner's thread
    });
}

bool IndexBuildJob::Running() const {
    const std::lock_guard lock(m_mutex);
    return m_thread.joinable() && !m_done;
}

bool IndexBuildJob::Wait(int ms) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) return true;
    if (ms < 0) {
        m_doneChanged.wait(lock, [this] { return m_done; });
        return true;
    }
    return m_doneChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
}

RebuildResult IndexBuildJob::Result() const {
    const std::lock_guard lock(m_mutex);
    return m_result;
}

QString IndexBuildJob::Error() const {
    const std::lock_guard lock(m_mutex);
    return m_error;
}

void IndexBuildJob::Publish(const RebuildResult& result, const QString& error) {
    const std::lock_guard lock(m_mutex);
    m_result = result;
    m_error = error;
}

void IndexBuildJob::Run() {
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    RebuildCallbacks cb;
    cb.onFile = [&](int number, const QString& fileName) {
        if (number == 1 || number == m_fileCount || sinceProgress.elapsed() >= 50) {
            sinceProgress.restart();
            Q_EMIT Progress(number, fileName);
        }
    };
    cb.cancelRequested = [this] { return m_cancel.load(); };
    RebuildResult result;
    QString error;
    if (m_kind == Kind::Records) {
        RecordIndex index(m_settings);
        index.SetDataFolder(m_dataFolder);
        index.SetSeedFolder(m_seedFolder);
        index.SetStartupFinished(true);
        if (!index.Open()) {
            error = index.LastError();
            if (error.isEmpty()) error = QStringLiteral("the database could not be opened");
            Publish(result, error);
            return;
        }
        result = index.Rebuild(RecordIndex::RebuildKind::IndexBuild, cb);
        if (!result.ran) error = index.LastError();
        index.Close();
    } else {
        TemplateStore store(m_settings);
        store.SetDataFolder(m_dataFolder);
        store.SetSeedFolder(m_seedFolder);
        if (!store.Open()) {
            error = store.LastError();
            if (error.isEmpty()) error = QStringLiteral("the database could not be opened");
            Publish(result, error);
            return;
        }
        result = store.RebuildTemplateIndex(TemplateStore::RebuildKind::Full, cb);
        if (!result.ran) error = store.LastError();
        store.Close();
    }
    if (result.ran && !result.cancelled && !result.stored)
        error =
            result.error.isEmpty() ? QStringLiteral("the rows could not be stored") : result.error;
    Publish(result, error);
}
