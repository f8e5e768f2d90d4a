#pragma once

#include "link/ReplyDispatcher.h"
#include "transfer/ImportItems.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class CDevice;

// One download from an analyzer: its records or templates into the staging
// folder, or its user notes into a file. Runs on a worker thread of its own
// (or on the caller's, for the command-line tool) through the device's
// blocking requests. Cancelling is looked at between items: a download that
// waits for its end reply runs on until the device's time limit.
//
// A record or template that fails (a stalled download, a staged file that
// cannot be written) fails alone: the items before it stay, the items after
// it are still tried once the line is back in step. A lost port, or a line
// that does not come back in step, ends the run; the items not tried are
// listed as failures too.
class ImportDownload : public QObject {
    Q_OBJECT
public:
    enum class Mode { Templates = 1, Records = 2, Notes = 3 };

    // stagingFolder for records and templates; the notes file for notes.
    ImportDownload(CDevice& device, Mode mode, const QString& target, QObject* parent = nullptr);
    ~ImportDownload() override;

    Mode GetMode() const { return m_mode; }
    // Only these item numbers (all when empty), in increasing order.
    void SetItems(const QList<int>& numbers) { m_items = numbers; }

    void Start();
    // The same on the calling thread; returns when done.
    void RunHere();
    void Cancel() { m_cancel = true; }
    bool Running() const;
    bool Wait(int ms = -1);

    struct Result {
        bool ok = false;        // the run got as far as its items
        bool cancelled = false; // stopped between items on request
        int count = 0;          // items the analyzer holds
        QList<ImportedRecord> records;
        QList<ImportedTemplate> templates;
        QList<ImportFailure> failures;
        QString error; // why the run as a whole failed (no count, no staging folder)
        // Set when a download failed on its time limit or brought a reply
        // that was not the record asked for: what the analyzer did then is
        // unknown, so nothing of this import may be deleted from it.
        QString keepOnAnalyzer;
    };
    // Complete once Finished has been raised or Wait returned true.
    Result GetResult() const;

Q_SIGNALS:
    // From the worker thread.
    void Counted(int count);
    // Item n of count begins; lineBase is the device's record line total then.
    void ItemStarted(int n, int count, int lineBase);
    void ItemDone(int n);
    void Finished();

private:
    void Run();
    // The count (countResult: what asking for it returned) and the staging
    // folder; false when the run cannot go on.
    bool BeginItems(Result& r, int countResult);
    bool CancelledBetweenItems(Result& r);
    void RunRecords(Result& r);
    void RunTemplates(Result& r);
    void RunNotes(Result& r);
    bool Wanted(int n) const;
    // After a failed item: false when the run cannot go on (the port is
    // lost, or the line did not come back in step); the items after n are
    // then listed as not imported.
    bool CanGoOn(Result& r, int n, ReplyDispatcher::Download kind, const QString& what);

    CDevice& m_device;
    Mode m_mode;
    QString m_target;
    QList<int> m_items;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
    mutable std::mutex m_mutex; // guards the two below
    std::condition_variable m_doneChanged;
    bool m_done = false;
    Result m_result;
};
