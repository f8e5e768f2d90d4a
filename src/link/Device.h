#pragma once

#include "link/ChannelSetup.h"
#include "link/FoundAnalyzer.h"
#include "link/FrameAssembler.h"
#include "link/ReplyDispatcher.h"
#include "link/ReplyFields.h"
#include "records/Template.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

class ChannelInbox;
class CRivuletrixDoc;
class QIODevice;
class SerialTransport;

// One connected analyzer: its port and I/O thread, the senders of every
// command, the reply fields and signals, the blocking requests, and the
// channel document table through which measurement lines reach the channel
// windows.
//
// Threads: the I/O thread cuts frames and dispatches replies; reply fields
// are written under the dispatcher's mutex before the reply's signal is
// raised, and requests copy them under the same mutex. Measurement lines are
// handed to the documents on the documents' own (user-interface) thread.
class CDevice : public QObject, private LineSink {
    Q_OBJECT
public:
    // Time limits of the requests.
    static constexpr std::chrono::milliseconds kReplyLimit{1000};
    static constexpr std::chrono::milliseconds kSerialLimit{10000};
    // Record and template downloads fail when no line of theirs arrives for
    // this long.
    static constexpr std::chrono::milliseconds kDownloadIdleLimit{20000};
    // User notes: the end reply must come within this long after the last
    // notes line.
    static constexpr std::chrono::milliseconds kNotesIdleLimit{2000};
    // After a download timed out, the next one of its kind first waits for
    // the late end reply and then until the line has been quiet this long.
    static constexpr std::chrono::milliseconds kLateReplyQuiet{1500};
    // Waiting out an earlier download's late lines gives up after this long:
    // an analyzer that never stops sending fails the request instead.
    static constexpr std::chrono::milliseconds kSettleLimit{60000};
    // Largest download kept, by kind. Records far larger than any analyzer
    // holds; notes four times the 400,000 bytes the PC sends at most; a
    // template is seven short lines.
    using Download = ReplyDispatcher::Download;
    static constexpr qint64 kRecordByteLimit = 64LL << 20;
    static constexpr qint64 kNotesByteLimit = 1600000;
    static constexpr qint64 kTemplateByteLimit = 16384;

    explicit CDevice(const FoundAnalyzer& found, QObject* parent = nullptr);
    ~CDevice() override;

    // ---- Identity (a copy of the found record) ----
    QString PortName, Name, SerialNumber;
    int Channels[4] = {0, 0, 0, 0};
    int Added = 0, Connected = 0;
    int Kind = FoundAnalyzer::KindUsbSerial;
    int Slot = 0;
    QString DeviceModel;
    std::atomic<char> BatteryState{'H'};
    FoundAnalyzer Identity() const;

    // ---- Per-channel test setup, filled by the setup sheet ----
    ChannelSetup Setup[4];

    // ---- Channel document table ----
    // A document enters itself for its channel (0..3) and removes itself
    // (nullptr) before it goes away. Measurement lines for a channel without
    // a document are dropped.
    void SetChannelDoc(int channelIndex, CRivuletrixDoc* doc);
    CRivuletrixDoc* ChannelDoc(int channelIndex) const;
    // Hands the lines still waiting to their documents now (the documents'
    // thread), before the documents move to another device.
    void DrainChannels();

    // Takes over what the program knew of the analyzer from the device it
    // replaces (the analyzer came back after an unplug): the channel
    // set-ups, the battery state and the last channel status, which stands
    // until the analyzer answers a status request again. Before
    // StartConnection.
    void TakeOver(const CDevice& old);

    // ---- Lifecycle ----
    // Opens the port (kind 2) and starts the I/O thread, then sends POLL and
    // LOG. On failure shows "Com Error" and returns false.
    bool StartConnection();
    // Sends the goodbye and closes the port; the I/O thread ends.
    void DisconnectDevice();
    bool IsConnected() const;
    // The port went away (unplugged): every request fails at once.
    bool IsLost() const { return m_lost.load(); }
    // Status replies received so far.
    uint64_t StatusReplies() const {
        return m_dispatcher.statusReplies.load(std::memory_order_relaxed);
    }
    // Why the last request failed.
    QString LastError() const;

    // ---- Senders ----
    void SendPOLL();
    void SendBYE();
    void SendLOG();
    void SendSTATUS();
    void SendGETBATSTATUS();
    void SendEND(int channelIndex);
    void SendRECS();
    void SendGETREC(int number);
    void SendDELREC(int number);
    // DELREC, then waits for the analyzer's "[ERASED]": true only when the
    // deletion is confirmed within limit (the analyzer then numbers its later
    // records one lower).
    bool DeleteRecord(int number, std::chrono::milliseconds limit);
    void SendGETSN(int unit);
    void SendGETPARAMS(int unit);
    void SendStartTest(int channelIndex, int testType, bool autoStart, const QString& controlNumber,
                       const QString& operatorName, double setFlowRate);
    void SendSETTMPLT(const Template& t);
    void SendGETTMPLTCOUNT();
    void SendGETTMPLT(int number);
    // The user notes file set with SetUserNotesFile(), in 100-byte pieces.
    void SendSETUSERNOTES();
    void SendGETUSERNOTES();
    // Shows "Instruction Manual Sent".
    void SendUMSETINSTRUCT(const QString& scrambled);
    void SetUserNotesFile(QIODevice* file) { m_notesOut = file; }
    // Writes bytes as they are (after the usual pause) and waits until they
    // have left the port: false when the port is gone or closed, or limit
    // passed. For transfers that show progress and can stop between writes.
    bool WriteNow(const QByteArray& bytes, std::chrono::milliseconds limit);

    char PollBattery();
    // One pass of the one-second status cycle: the status request unless the
    // analyzer has shut down ('S'), and for a "PXR2K" the battery request.
    // True when the battery state changed.
    bool PollStatusCycle();

    // ---- Requests: 0 success, 1 failure (time limit or lost port) ----
    // cancel, when given and set, ends the wait early (the asker went away).
    int GetParameters(AnalyzerParameters& out, const std::atomic<bool>* cancel = nullptr);
    int GetRecordCount(int& count);
    int GetTemplateCount(int& count);
    int GetTemplate(int number, Template& out);
    // Writes the record in its N/E form into file, which must be open for
    // writing; the device holds it only during the call.
    int GetRecord(int number, QIODevice& file);
    int GetSerialNumbers(int unit, SerialNumbers& out, const std::atomic<bool>* cancel = nullptr);
    int GetUserNotes(QIODevice& file);

    // False while a download of the kind gave up and its late reply may
    // still be coming: the next request of the kind would read it as its own.
    bool InStep(Download kind) const { return !m_stale[int(kind)]; }
    // The caller saw a reply that was not the one it asked for: the line is
    // taken as out of step until Resynchronise says otherwise.
    void MarkOutOfStep(Download kind) { m_stale[int(kind)] = true; }
    // Waits until the line is back in step for the kind (see SettleDownload).
    // False, with LastError set, when it does not come back within the
    // settle limit or the port went away.
    bool Resynchronise(Download kind);

    QString GetChannelStatus(int channelIndex) const;
    char LastBatteryReply() const;

    // The reply side, for tests and diagnostics.
    ReplyDispatcher& Dispatcher() { return m_dispatcher; }
    // Overrides the download idle limit (tests).
    void SetDownloadIdleLimit(std::chrono::milliseconds limit) { m_downloadIdle = limit; }
    void SetLateReplyQuiet(std::chrono::milliseconds quiet) { m_lateQuiet = quiet; }
    void SetSettleLimit(std::chrono::milliseconds limit) { m_settleLimit = limit; }
    void SetDownloadByteLimit(Download kind, qint64 bytes) { m_byteLimit[int(kind)] = bytes; }
    // Feeds received bytes as if they came from the port (the I/O thread's
    // path: framing, dispatch, delivery of the measurement lines).
    void FeedChunk(const char* data, size_t size);

Q_SIGNALS:
    // The port went away; emitted once, from the I/O thread.
    void AnalyzerLost(const QString& portName);
    // Record lines received by the download in progress (progress display).
    void RecordLinesReceived(int total);

private:
    void DeliverLine(int channelIndex, const char* line, size_t size) override;
    void FlushLines();
    quint64 Write(const QByteArray& bytes);
    void WriteAll(const QList<QByteArray>& writes);
    // Waits for a request's reply: the time starts when its command has left
    // the port. Sets LastError on failure.
    int WaitReply(AutoResetEvent& event, quint64 seq, std::chrono::milliseconds limit,
                  const char* what, const std::atomic<bool>* cancel = nullptr);
    // Waits for a download's end: fails when no line arrives for idle or
    // when the reply passes its byte limit. A download that gave up is
    // marked stale.
    int WaitDownload(Download kind, quint64 seq, std::chrono::milliseconds idle, const char* what);
    // Before a download is asked for: the lines and end reply of an earlier
    // one of its kind that gave up are waited out (its end reply and a short
    // quiet, or a quiet as long as the download idle limit), and an end
    // signal that is still raised is cleared, so neither is taken for this
    // download's. False (with the error set) when the line never settles;
    // otherwise the download's byte bound is set.
    bool SettleDownload(Download kind, const char* what);
    AutoResetEvent& EndSignal(Download kind);
    void SetError(const QString& text);
    void OnPortLost(const QString& reason);

    std::unique_ptr<SerialTransport> m_transport;
    FrameAssembler m_assembler; // I/O thread
    ReplyDispatcher m_dispatcher;
    std::vector<QByteArray> m_pendingLines[4]; // I/O thread

    mutable std::mutex m_docMutex;
    ChannelInbox* m_inbox[4] = {nullptr, nullptr, nullptr, nullptr};

    mutable std::mutex m_errorMutex;
    QString m_lastError;
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_lastReportedLines{0};
    std::chrono::milliseconds m_downloadIdle = kDownloadIdleLimit;
    std::chrono::milliseconds m_lateQuiet = kLateReplyQuiet;
    // A download of the kind timed out; its late reply may still come.
    std::atomic<bool> m_stale[3] = {false, false, false}; // by Download kind
    std::chrono::milliseconds m_settleLimit = kSettleLimit;
    qint64 m_byteLimit[3] = {kRecordByteLimit, kTemplateByteLimit, kNotesByteLimit};
    QIODevice* m_notesOut = nullptr;
};
