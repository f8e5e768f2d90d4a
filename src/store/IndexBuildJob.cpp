#include "IndexBuildJob.h"

#include "RecordIndex.h"
#include "TemplateStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

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
    const QDir dir(m_dataFolder);
    if (kind == Kind::Records)
        m_fileCount = int(store::ListDataFiles(dir, QStringLiteral("*.p8d")).size() +
                          store::ListDataFiles(dir, QStringLiteral("*.p7d")).size());
    else
        m_fileCount = int(store::ListDataFiles(dir, QStringLiteral("*.p8t")).size());
}

IndexBuildJob::~IndexBuildJob() {
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

void IndexBuildJob::Start() {
    if (m_thread) return;
    m_thread = QThread::create([this] { Run(); });
    connect(m_thread, &QThread::finished, this, &IndexBuildJob::Finished, Qt::QueuedConnection);
    m_thread->start();
}

bool IndexBuildJob::Running() const {
    return m_thread && m_thread->isRunning();
}

bool IndexBuildJob::Wait(int ms) {
    if (!m_thread) return true;
    return ms < 0 ? m_thread->wait() : m_thread->wait(QDeadlineTimer(ms));
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
    if (m_kind == Kind::Records) {
        RecordIndex index(m_settings);
        index.SetDataFolder(m_dataFolder);
        index.SetSeedFolder(m_seedFolder);
        index.SetStartupFinished(true);
        if (!index.Open()) {
            m_error = index.LastError();
            return;
        }
        m_result = index.Rebuild(RecordIndex::RebuildKind::IndexBuild, cb);
        if (!m_result.ran) m_error = index.LastError();
        index.Close();
    } else {
        TemplateStore store(m_settings);
        store.SetDataFolder(m_dataFolder);
        store.SetSeedFolder(m_seedFolder);
        if (!store.Open()) {
            m_error = store.LastError();
            return;
        }
        m_result = store.RebuildTemplateIndex(TemplateStore::RebuildKind::Full, cb);
        if (!m_result.ran) m_error = store.LastError();
        store.Close();
    }
    if (m_result.ran && !m_result.cancelled && m_result.rowsAdded == 0 &&
        m_result.filesProcessed > 0 && m_error.isEmpty())
        m_error = QStringLiteral("no row could be stored");
}
