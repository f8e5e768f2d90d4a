#include "ExportJob.h"

#include "link/Commands.h"
#include "link/Device.h"
#include "store/TemplateStore.h"

#include <QFile>

#include <thread>

TemplateLoad LoadTemplates(TemplateStore& store, const QList<TemplateRow>& rows) {
    TemplateLoad load;
    for (const TemplateRow& row : rows) {
        Template t;
        if (!store.ReadTemplateFile(row.fileName, t)) {
            load.skipped << QStringLiteral("Template \"%1\" was not exported: its file %2 "
                                           "cannot be read.")
                                .arg(row.name, row.fileName);
            continue;
        }
        load.items.push_back({row.name, t});
    }
    return load;
}

bool ReadTransferFile(const QString& path, qint64 limit, QByteArray& bytes, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("Cannot open %1: %2. Nothing was sent.").arg(path, file.errorString());
        return false;
    }
    bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError) {
        error =
            QStringLiteral("Cannot read %1: %2. Nothing was sent.").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool ReadManualFile(const QString& path, QByteArray& bytes, QString& error) {
    if (!ReadTransferFile(path, ExportJob::kManualLimit + 1, bytes, error)) return false;
    if (bytes.size() <= ExportJob::kManualLimit) return true;
    bytes.clear();
    error =
        QStringLiteral("%1 is too large for an instruction manual. Nothing was sent.").arg(path);
    return false;
}

bool ReadNotesFile(const QString& path, QByteArray& bytes, QString& error, QString& notice) {
    notice.clear();
    if (!ReadTransferFile(path, ExportJob::kNotesLimit + 1, bytes, error)) return false;
    if (bytes.size() > ExportJob::kNotesLimit) {
        bytes.truncate(ExportJob::kNotesLimit);
        notice = QStringLiteral("%1 is longer than the analyzer keeps: only its first %L2 bytes "
                                "are sent.")
                     .arg(path)
                     .arg(ExportJob::kNotesLimit);
    }
    return true;
}

ExportJob::ExportJob(CDevice& device) : m_device(device) {}

bool ExportJob::Write(const QByteArray& bytes, ExportOutcome& out) {
    if (m_device.WriteNow(bytes, kWriteLimit)) return true;
    out.status = ExportOutcome::Status::PortGone;
    out.error = QStringLiteral("The analyzer on %1 cannot be reached: the export stopped.")
                    .arg(m_device.PortName);
    return false;
}

ExportOutcome ExportJob::SendTemplates(const QList<ExportItem>& items) {
    ExportOutcome out;
    m_total = items.size();
    m_done = 0;
    for (const ExportItem& item : items) {
        if (m_cancel) {
            out.status = ExportOutcome::Status::Cancelled;
            return out;
        }
        for (const QByteArray& line : commands::SetTemplate(item.tmpl))
            if (!Write(line, out)) return out;
        out.sent << item.name;
        ++m_done;
    }
    return out;
}

ExportOutcome ExportJob::SendManual(const QByteArray& fileBytes) {
    ExportOutcome out;
    m_total = fileBytes.size();
    m_done = 0;
    // The analyzer finds the manual's end by the quiet after its data, so the
    // body goes out as one write.
    for (const QByteArray& w : commands::UmSetInstruct(commands::ScrambleManual(fileBytes))) {
        if (m_cancel) {
            out.status = ExportOutcome::Status::Cancelled;
            return out;
        }
        if (!Write(w, out)) return out;
    }
    // Nothing may follow at once: it would be taken as part of the manual.
    std::this_thread::sleep_for(kManualQuiet);
    out.bytes = fileBytes.size();
    m_done = out.bytes;
    return out;
}

ExportOutcome ExportJob::SendNotes(const QByteArray& notes) {
    ExportOutcome out;
    const QByteArray body = notes.left(kNotesLimit);
    m_total = body.size();
    m_done = 0;
    if (!Write(QByteArray("[SETUSERNOTES]\r\n"), out) || !Write(QByteArray("["), out)) return out;
    for (qint64 at = 0; at < body.size(); at += kNotesPiece) {
        if (m_cancel) {
            out.status = ExportOutcome::Status::Cancelled;
            break;
        }
        if (!Write(body.mid(at, kNotesPiece), out)) return out;
        out.bytes = std::min<qint64>(at + kNotesPiece, body.size());
        m_done = out.bytes;
    }
    // Also after Cancel: the analyzer is not left inside the notes.
    Write(QByteArray("]"), out);
    return out;
}
