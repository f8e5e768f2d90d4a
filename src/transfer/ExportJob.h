#pragma once

#include "records/Template.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>

class CDevice;
class QIODevice;
class TemplateStore;

// A template ready to go: its index name and the template read from its file.
struct ExportItem {
    QString name;
    Template tmpl;
};

// The templates of rows that could be read, in row order, and a message for
// each row whose file could not be read (those are not sent: an empty
// template would replace the analyzer's one of that name).
struct TemplateLoad {
    QList<ExportItem> items;
    QStringList skipped;
};
TemplateLoad LoadTemplates(TemplateStore& store, const QList<TemplateRow>& rows);

// Reads a manual or notes file whole. A file that cannot be read gives
// false and a message: nothing is sent rather than an empty body.
bool ReadTransferFile(const QString& path, qint64 limit, QByteArray& bytes, QString& error);
// A manual larger than ExportJob::kManualLimit is refused, not cut.
bool ReadManualFile(const QString& path, QByteArray& bytes, QString& error);
// Notes beyond ExportJob::kNotesLimit are left out; notice then says so.
bool ReadNotesFile(const QString& path, QByteArray& bytes, QString& error, QString& notice);

struct ExportOutcome {
    enum class Status { Done, Cancelled, PortGone };
    Status status = Status::Done;
    QStringList sent; // template names, in the order sent
    qint64 bytes = 0; // body bytes that left the port
    QString error;
};

// Sends templates, an instruction manual or user notes to one analyzer, one
// write at a time, so that it can run off the window's thread, report how
// far it is and stop between writes. A template is never cut: Cancel stops
// before the next one; cut notes still get their closing bracket.
class ExportJob {
public:
    // Notes beyond this are not sent (4000 pieces of 100 bytes).
    static constexpr qint64 kNotesLimit = 400000;
    // Manuals larger than this are refused rather than read into memory.
    static constexpr qint64 kManualLimit = 64LL << 20;
    static constexpr qint64 kNotesPiece = 100;
    // A write waits behind the pause and any queued writes.
    static constexpr std::chrono::milliseconds kWriteLimit{10000};
    // The analyzer takes the manual as ended after a quiet spell; the line
    // is kept quiet this long after it.
    static constexpr std::chrono::milliseconds kManualQuiet{500};

    explicit ExportJob(CDevice& device);

    // Any thread.
    void Cancel() { m_cancel = true; }
    bool CancelRequested() const { return m_cancel; }
    qint64 Done() const { return m_done; }
    qint64 Total() const { return m_total; }

    ExportOutcome SendTemplates(const QList<ExportItem>& items);
    ExportOutcome SendManual(const QByteArray& fileBytes);
    ExportOutcome SendNotes(const QByteArray& notes);

private:
    bool Write(const QByteArray& bytes, ExportOutcome& out);

    CDevice& m_device;
    std::atomic<bool> m_cancel{false};
    std::atomic<qint64> m_done{0}, m_total{0};
};
