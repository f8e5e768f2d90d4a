#pragma once

#include "link/AutoResetEvent.h"
#include "link/FrameAssembler.h"
#include "link/ReplyFields.h"
#include "records/Template.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class QIODevice;

// Where measurement lines go. Called on the thread that dispatches.
class LineSink {
public:
    virtual ~LineSink() = default;
    // channelIndex 0..3; line: the channel digit and up to 21 characters, no CR.
    virtual void DeliverLine(int channelIndex, const char* line, size_t size) = 0;
};

// Parses reply frames and keeps what they carry. Every reply field is written
// under Mutex() before the reply's signal is raised; readers copy the fields
// under the same mutex. Independent of the port, so that it is tested with
// plain byte strings.
class ReplyDispatcher : public FrameHandler {
public:
    using Clock = std::chrono::steady_clock;

    void DispatchReply(const char* frame, size_t size) override;

    void SetLineSink(LineSink* sink) { m_sink = sink; }

    std::mutex& Mutex() const { return m_mutex; }

    // ---- Signals ----
    AutoResetEvent StatusSignal, BatterySignal, ParamsSignal, RecordCountSignal,
        TemplateCountSignal, TemplateEndSignal, SerialSignal, RecordEndSignal, NotesEndSignal,
        OkSignal, HeadSignal, PollSignal, LogSignal, ErasedSignal;
    // Every wait returns at once from now on (the port is gone).
    void AbortAll();
    void RearmAll();

    // ---- Reply fields (under Mutex()) ----
    AnalyzerParameters params;
    int paramCount = 0;
    QString snSerial, snFirmware, snThird;
    QString tdSerial[4], tdFirmware[4];
    Template templateBuffer;
    int templateLines = 0;
    int templateCount = 0;
    int recordCount = 0;
    char status[12] = {};
    char battery = 0;
    QString head[3];

    // ---- Downloads (under Mutex()) ----
    // The record download file; lines are written while it is set.
    void BeginRecordDownload(QIODevice* file);
    void EndRecordDownload();
    void BeginNotes(QIODevice* file);
    void EndNotes();

    // ---- Size bound of a download ----
    // An analyzer that keeps sending (damaged, or a garbled end reply) must
    // not fill the disk or hold a download open forever. Lines of a bounded
    // download past its byte limit are not kept, and its end signal is raised
    // at once; FinishDownload() then tells the waiter the bound was passed.
    enum class Download { Record, Template, Notes };
    void BoundDownload(Download kind, qint64 bytes);
    // Ends the bound of the kind; true when its limit was passed.
    bool FinishDownload(Download kind);
    int RecordLinesTotal() const { return m_recordLinesTotal.load(std::memory_order_relaxed); }
    // Time of the last line that belongs to a download in progress (record,
    // template or notes lines), for the requests' idle limits.
    Clock::time_point LastDownloadActivity() const;
    void TouchDownloadActivity();

    // The status text of one channel (0..3): three characters, shorter when
    // the reply was short.
    QString ChannelStatus(int channelIndex) const;

    // Frames seen, by kind, for diagnostics and tests.
    std::atomic<uint64_t> framesDispatched{0};
    std::atomic<uint64_t> framesIgnored{0};
    // Status replies seen: a count that stands still means a silent analyzer.
    std::atomic<uint64_t> statusReplies{0};

private:
    void RecordLine(const char* line, size_t size);
    void TemplateLine(const char* line, size_t size);
    void ParameterReply(const char* line, size_t size);
    void SerialReply(const char* line, size_t size);
    void RecordEnd();
    struct Bound {
        qint64 left = 0;
        bool active = false, passed = false;
    };
    enum class Take { Keep, Drop, JustPassed };
    // Counts size bytes of a line against the kind's bound (under m_mutex).
    Take Consume(Download kind, size_t size);

    mutable std::mutex m_mutex;
    Bound m_bound[3];
    LineSink* m_sink = nullptr;
    QIODevice* m_recordFile = nullptr;
    bool m_headerSeen = false;
    bool m_nLineWritten = false;
    int m_sectionCount = 0;
    QIODevice* m_notesFile = nullptr;
    Clock::time_point m_lastActivity = Clock::now();
    std::atomic<int> m_recordLinesTotal{0};
};
