#include "RecordIndexer.h"

#include <chrono>

RecordIndexer::RecordIndexer(const AppSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings) {
    m_thread = std::thread([this] { Run(); });
}

RecordIndexer::~RecordIndexer() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void RecordIndexer::Add(const RecordIndexRow& row, const QString& dataFolder) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({row, dataFolder});
    }
    m_wake.notify_all();
}

bool RecordIndexer::WaitIdle(int ms) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return m_jobs.empty() && !m_busy; });
}

void RecordIndexer::Run() {
    // Made here: a database connection belongs to the thread that opens it.
    RecordIndex index(m_settings);
    index.SetStartupFinished(true);
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            // Rows handed over before the stop are still added or noted.
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_busy = true;
        }
        if (index.DataFolder() != job.dataFolder) {
            index.Close();
            index.SetDataFolder(job.dataFolder);
        }
        const bool added = index.IndexRow(job.row);
        Q_EMIT Indexed(job.row.fileName, added, !added && index.LastRowQueued(),
                       added ? QString() : index.LastError());
        {
            const std::lock_guard lock(m_mutex);
            m_busy = false;
        }
        m_idle.notify_all();
    }
}
