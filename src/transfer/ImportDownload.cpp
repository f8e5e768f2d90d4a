#include "ImportDownload.h"

#include "ImportStaging.h"
#include "link/Device.h"
#include "records/Template.h"

#include <QFile>
#include <QSaveFile>

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

void ImportDownload::RunRecords(Result& r) {
    if (!BeginItems(r, m_device.GetRecordCount(r.count))) return;
    for (int n = 1; n <= r.count; ++n) {
        if (CancelledBetweenItems(r)) break;
        if (!Wanted(n)) continue;
        Q_EMIT ItemStarted(n, r.count, m_device.Dispatcher().RecordLinesTotal());
        const QString path = staging::RecordPath(m_target, n);
        QFile::remove(path);
        QFile file(path);
        if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
            r.failures.append({n, QStringLiteral("Record %1: cannot write %2: %3")
                                      .arg(n)
                                      .arg(path, file.errorString())});
            continue;
        }
        const bool fetched = m_device.GetRecord(n, file) == 0;
        file.close();
        QByteArray bytes;
        if (fetched && file.open(QIODevice::ReadOnly)) bytes = file.readAll();
        file.close();
        if (!fetched || !staging::IsCompleteRecord(bytes)) {
            // Half a record is no record: nothing of it is kept.
            QFile::remove(path);
            const QString why = fetched
                                    ? QStringLiteral("the staged file %1 is incomplete").arg(path)
                                    : m_device.LastError();
            r.failures.append(
                {n, QStringLiteral("Record %1 was not imported: %2").arg(n).arg(why)});
            if (m_device.IsLost()) break;
            continue;
        }
        ImportedRecord e;
        e.number = n;
        e.stagedPath = path;
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
            if (m_device.IsLost()) break;
            continue;
        }
        const QString path = staging::TemplatePath(m_target, n);
        QSaveFile file(path);
        const QByteArray bytes = templatefile::Encode(t);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit()) {
            r.failures.append({n, QStringLiteral("Template %1: cannot write %2: %3")
                                      .arg(n)
                                      .arg(path, file.errorString())});
            continue;
        }
        r.templates.append({n, t.name, t.deviceComments, path, false});
        Q_EMIT ItemDone(n);
    }
}

void ImportDownload::RunNotes(Result& r) {
    // Written beside the old file and put in its place only when complete.
    QSaveFile file(m_target);
    if (!file.open(QIODevice::WriteOnly)) {
        r.error = QStringLiteral("Cannot write %1: %2").arg(m_target, file.errorString());
        return;
    }
    if (m_device.GetUserNotes(file) != 0) {
        file.cancelWriting();
        r.error = QStringLiteral("The user notes were not imported: %1").arg(m_device.LastError());
        return;
    }
    if (!file.commit()) {
        r.error = QStringLiteral("Cannot write %1: %2").arg(m_target, file.errorString());
        return;
    }
    r.ok = true;
    r.count = 1;
}
