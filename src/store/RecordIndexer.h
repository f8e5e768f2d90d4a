#pragma once

#include "RecordIndex.h"

#include "base/AppSettings.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Adds the rows of saved records to the records index on a thread of its
// own, through a connection of its own: a server that does not answer holds
// up neither the screen nor another channel's test and journal. Every call
// there ends within the server time limit; a row that could not be added is
// noted for later as RecordIndex::IndexRow does.
class RecordIndexer : public QObject {
    Q_OBJECT

public:
    // Reads its own copy of the settings.
    explicit RecordIndexer(const AppSettings& settings, QObject* parent = nullptr);
    // Finishes the rows handed over first: each ends within the limits.
    ~RecordIndexer() override;
    RecordIndexer(const RecordIndexer&) = delete;
    RecordIndexer& operator=(const RecordIndexer&) = delete;

    // Hands a row over; Indexed tells how it went. dataFolder holds the
    // record file and the note of rows waiting for the server.
    void Add(const RecordIndexRow& row, const QString& dataFolder);
    // Waits until every row handed over has its outcome; false when ms ran
    // out first.
    bool WaitIdle(int ms);

Q_SIGNALS:
    // Sent from the worker thread. added: the row is in the index; else
    // queued tells whether it was noted for later, error why it failed.
    void Indexed(const QString& fileName, bool added, bool queued, const QString& error);

private:
    struct Job {
        RecordIndexRow row;
        QString dataFolder;
    };
    void Run();

    const AppSettings m_settings;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
