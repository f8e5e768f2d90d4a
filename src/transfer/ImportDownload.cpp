#include "ImportDownload.h"

#include "ImportStaging.h"
#include "base/CheckedSaveFile.h"
#include "link/Device.h"
#include "records/Template.h"

#include <QBuffer>
#include <QFile>

ImportDownload::ImportDownload(CDevice& device, Mode mode, const QString& target, QObject* parent)
    : QObject(parent), m_device(device), m_mode(mode), m_target(target) {}

ImportDownload::~ImportDownload() {
    m_cancel = true;
    if (m_thread.joinable()) m_thread.join();
}

void ImportDownload::Start() {
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] { Run(); });
}

void ImportDownload::RunHere() {
    Run();
}

bool ImportDownload::Running() const {
    std::lock_guard lock(m_mutex);
    return m_thread.joinable() && !m_done;
}

bool ImportDownload::Wait(int ms) {
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) return m_done; // never started, or run here
    if (ms < 0)
        m_doneChanged.wait(lock, [this] { return m_done; });
    else if (!m_doneChanged.wait_for(lock, std::chrono::milliseconds(ms),
                                     [this] { return m_done; }))
        return false;
    lock.unlock();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
    return true;
}

ImportDownload::Result ImportDownload::GetResult() const {
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool ImportDownload::Wanted(int n) const {
    return m_items.isEmpty() || m_items.contains(n);
}

void ImportDownload::Run() {
    Result r;
    switch (m_mode) {
    case Mode::Records:
        RunRecords(r);
        break;
    case Mode::Templates:
        RunTemplates(r);
        break;
    case Mode::Notes:
        RunNotes(r);
        break;
    }
    {
        std::lock_guard lock(m_mutex);
        m_result = r;
        m_done = true;
    }
    m_doneChanged.notify_all();
    Q_EMIT Finished();
}

bool ImportDownload::BeginItems(Result& r, int countResult) {
    if (countResult != 0) {
        r.count = 0;
        r.error = m_device.LastError();
        Q_EMIT Counted(0);
        return false;
    }
    Q_EMIT Counted(r.count);
    if (!staging::Prepare(m_target, &r.error)) return false;
    r.ok = true;
    return true;
}

bool ImportDownload::CancelledBetweenItems(Result& r) {
    if (!m_cancel.exchange(false)) return false;
    r.cancelled = true;
    return true;
}

bool ImportDownload::CanGoOn(Result& r, int n, ReplyDispatcher::Download kind,
                             const QString& what) {
    QString stop;
    if (m_device.IsLost()) {
        stop = QStringLiteral("the analyzer was lost");
    } else if (!m_device.InStep(kind)) {
        if (r.keepOnAnalyzer.isEmpty())
            r.keepOnAnalyzer = QStringLiteral("%1 %2 did not arrive as asked, so what the "
                                              "analyzer holds now is not known; nothing was "
                                              "deleted from it.")
                                   .arg(what)
                                   .arg(n);
        if (!m_device.Resynchronise(kind))
            stop = QStringLiteral("the analyzer did not answer in step again after %1 %2 (%3)")
                       .arg(what.toLower())
                       .arg(n)
                       .arg(m_device.LastError());
    }
    if (stop.isEmpty()) return true;
    for (int k = n + 1; k <= r.count; ++k)
        if (Wanted(k))
            r.failures.append(
                {k, QStringLiteral("%1 %2 was not imported: %3").arg(what).arg(k).arg(stop)});
    return false;
}

void ImportDownload::RunRecords(Result& r) {
    using Download = ReplyDispatcher::Download;
    if (!BeginItems(r, m_device.GetRecordCount(r.count))) return;
    for (int n = 1; n <= r.count; ++n) {
        if (CancelledBetweenItems(r)) break;
        if (!Wanted(n)) continue;
        Q_EMIT ItemStarted(n, r.count, m_device.Dispatcher().RecordLinesTotal());
        const QString path = staging::RecordPath(m_target, n);
        QFile::remove(path);
        // Received into memory: the staged file is written from exactly the
        // bytes that were checked, and the write is checked in turn.
        QBuffer received;
        received.open(QIODevice::ReadWrite);
        const bool fetched = m_device.GetRecord(n, received) == 0;
        const QByteArray bytes = received.data();
        QString why;
        if (!fetched) {
            why = m_device.LastError();
        } else if (!staging::CheckRecord(bytes, &why)) {
            // Most likely the late rest of an earlier record: the line is
            // out of step.
            why = QStringLiteral("what arrived is not a whole record (%1)").arg(why);
            m_device.MarkOutOfStep(Download::Record);
        } else if (!checkedfile::Write(path, bytes, &why)) {
            why = QStringLiteral("it cannot be staged: %1").arg(why);
        }
        if (!why.isEmpty()) {
            r.failures.append(
                {n, QStringLiteral("Record %1 was not imported: %2").arg(n).arg(why)});
            if (!CanGoOn(r, n, Download::Record, QStringLiteral("Record"))) break;
            continue;
        }
        ImportedRecord e;
        e.number = n;
        e.stagedPath = path;
        e.digest = staging::Digest(bytes);
        staging::ParseHeader(bytes, e);
        r.records.append(e);
        Q_EMIT ItemDone(n);
    }
}

void ImportDownload::RunTemplates(Result& r) {
    if (!BeginItems(r, m_device.GetTemplateCount(r.count))) return;
    for (int n = 1; n <= r.count; ++n) {
        if (CancelledBetweenItems(r)) break;
        if (!Wanted(n)) continue;
        Q_EMIT ItemStarted(n, r.count, 0);
        Template t;
        if (m_device.GetTemplate(n, t) != 0) {
            r.failures.append({n, QStringLiteral("Template %1 was not imported: %2")
                                      .arg(n)
                                      .arg(m_device.LastError())});
            if (!CanGoOn(r, n, ReplyDispatcher::Download::Template, QStringLiteral("Template")))
                break;
            continue;
        }
        const QString path = staging::TemplatePath(m_target, n);
        QString error;
        if (!checkedfile::Write(path, templatefile::Encode(t), &error)) {
            r.failures.append(
                {n, QStringLiteral("Template %1 was not imported: %2").arg(n).arg(error)});
            continue;
        }
        r.templates.append({n, t.name, t.deviceComments, path, false});
        Q_EMIT ItemDone(n);
    }
}

void ImportDownload::RunNotes(Result& r) {
    // Received whole first; the file is replaced only by a checked copy, so a
    // failed download or a full disk leaves the earlier notes as they were.
    QBuffer received;
    received.open(QIODevice::ReadWrite);
    if (m_device.GetUserNotes(received) != 0) {
        r.error = QStringLiteral("The user notes were not imported: %1").arg(m_device.LastError());
        return;
    }
    QString error;
    if (!checkedfile::Write(m_target, received.data(), &error)) {
        r.error = QStringLiteral("The user notes were not imported: %1").arg(error);
        return;
    }
    r.ok = true;
    r.count = 1;
}
