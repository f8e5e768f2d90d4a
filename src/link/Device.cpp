#include "Device.h"

#include "base/Prompter.h"
#include "link/ChannelInbox.h"
#include "link/Commands.h"
#include "link/SerialTransport.h"
#include "records/RivuletrixDoc.h"

#include <QIODevice>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)

namespace {
// How long a request waits for its command to leave the queue (a long upload
// may be ahead of it).
constexpr std::chrono::milliseconds kQueueLimit{30000};
} // namespace

CDevice::CDevice(const FoundAnalyzer& found, QObject* parent)
    : QObject(parent), PortName(found.portName), Name(found.name), SerialNumber(found.serialNumber),
      Added(found.added), Connected(found.connected), Kind(found.kind), Slot(found.slot),
      DeviceModel(found.model) {
    for (int i = 0; i < 4; ++i) Channels[i] = found.channels[i];
    BatteryState = found.battery;
    m_dispatcher.SetLineSink(this);
}

CDevice::~CDevice() {
    if (m_transport) m_transport->Close();
    for (ChannelInbox*& inbox : m_inbox) {
        if (!inbox) continue;
        inbox->Detach();
        inbox->deleteLater();
        inbox = nullptr;
    }
}

FoundAnalyzer CDevice::Identity() const {
    FoundAnalyzer f;
    f.portName = PortName;
    f.name = Name;
    f.serialNumber = SerialNumber;
    for (int i = 0; i < 4; ++i) f.channels[i] = Channels[i];
    f.added = Added;
    f.connected = Connected;
    f.kind = Kind;
    f.slot = Slot;
    f.model = DeviceModel;
    f.battery = BatteryState;
    return f;
}

void CDevice::SetChannelDoc(int channelIndex, CRivuletrixDoc* doc) {
    if (channelIndex < 0 || channelIndex > 3) return;
    ChannelInbox* old;
    {
        std::lock_guard lock(m_docMutex);
        old = m_inbox[channelIndex];
        ChannelInbox* inbox = nullptr;
        if (doc) {
            // The inbox drains on the document's thread.
            inbox = new ChannelInbox(doc);
            inbox->moveToThread(doc->thread());
        }
        m_inbox[channelIndex] = inbox;
    }
    if (old) {
        old->Detach();
        old->deleteLater();
    }
    if (doc) {
        // A document that goes away without removing itself is removed here,
        // before its memory is released.
        connect(
            doc, &QObject::destroyed, this,
            [this, channelIndex, doc] {
                if (ChannelDoc(channelIndex) == doc) SetChannelDoc(channelIndex, nullptr);
            },
            Qt::DirectConnection);
    }
}

CRivuletrixDoc* CDevice::ChannelDoc(int channelIndex) const {
    if (channelIndex < 0 || channelIndex > 3) return nullptr;
    std::lock_guard lock(m_docMutex);
    return m_inbox[channelIndex] ? m_inbox[channelIndex]->Doc() : nullptr;
}

void CDevice::TakeOver(const CDevice& old) {
    for (int c = 0; c < 4; ++c) Setup[c] = old.Setup[c];
    BatteryState = old.BatteryState.load();
    char status[12];
    {
        std::lock_guard lock(old.m_dispatcher.Mutex());
        std::copy(std::begin(old.m_dispatcher.status), std::end(old.m_dispatcher.status), status);
    }
    std::lock_guard lock(m_dispatcher.Mutex());
    std::copy(std::begin(status), std::end(status), m_dispatcher.status);
}

void CDevice::DrainChannels() {
    ChannelInbox* inboxes[4];
    {
        std::lock_guard lock(m_docMutex);
        std::copy(std::begin(m_inbox), std::end(m_inbox), inboxes);
    }
    for (ChannelInbox* inbox : inboxes)
        if (inbox) inbox->Drain();
}

bool CDevice::StartConnection() {
    if (Kind != FoundAnalyzer::KindUsbSerial) return true; // nothing to open
    m_lost = false;
    m_dispatcher.RearmAll();
    m_assembler.Clear();
    m_transport = std::make_unique<SerialTransport>(
        [this](const char* data, size_t size) { FeedChunk(data, size); },
        [this](const QString& reason) { OnPortLost(reason); });
    const int result = m_transport->Open(PortName);
    if (result != 0) {
        m_transport.reset();
        SetError(QStringLiteral("Cannot open %1 (code %2)").arg(PortName).arg(result));
        ThePrompter().Message(QStringLiteral("Com Error"));
        return false;
    }
    m_connected = true;
    SendPOLL();
    SendLOG();
    return true;
}

void CDevice::DisconnectDevice() {
    qCDebug(lcLink) << "CDevice::SendBYE() - Started";
    SendBYE();
    if (m_transport) m_transport->Close();
    m_connected = false;
    // Nobody waits for a reply that cannot come any more.
    m_dispatcher.AbortAll();
}

bool CDevice::IsConnected() const {
    return m_connected.load() && !m_lost.load();
}

QString CDevice::LastError() const {
    std::lock_guard lock(m_errorMutex);
    return m_lastError;
}

void CDevice::SetError(const QString& text) {
    std::lock_guard lock(m_errorMutex);
    m_lastError = text;
}

void CDevice::OnPortLost(const QString& reason) {
    SetError(QStringLiteral("The analyzer on %1 was unplugged (%2)").arg(PortName, reason));
    m_lost = true;
    m_dispatcher.AbortAll();
    Q_EMIT AnalyzerLost(PortName);
}

// ---- Receiving ----

void CDevice::FeedChunk(const char* data, size_t size) {
    m_assembler.FeedChunk(data, size, m_dispatcher);
    FlushLines();
    const int total = m_dispatcher.RecordLinesTotal();
    if (total != m_lastReportedLines.exchange(total)) Q_EMIT RecordLinesReceived(total);
}

void CDevice::DeliverLine(int channelIndex, const char* line, size_t size) {
    m_pendingLines[channelIndex].emplace_back(line, qsizetype(size));
}

void CDevice::FlushLines() {
    for (int ch = 0; ch < 4; ++ch) {
        std::vector<QByteArray>& pending = m_pendingLines[ch];
        if (pending.empty()) continue;
        std::lock_guard lock(m_docMutex);
        if (m_inbox[ch])
            m_inbox[ch]->Push(pending); // one wake-up per batch
        else
            pending.clear();
    }
}

// ---- Sending ----

quint64 CDevice::Write(const QByteArray& bytes) {
    if (Kind != FoundAnalyzer::KindUsbSerial || !m_transport) return 0;
    return m_transport->Write(bytes);
}

bool CDevice::WriteNow(const QByteArray& bytes, std::chrono::milliseconds limit) {
    if (m_lost) return false;
    const quint64 seq = Write(bytes);
    if (seq == 0) return false;
    return m_transport->WaitWritten(seq, limit) && !m_lost;
}

void CDevice::WriteAll(const QList<QByteArray>& writes) {
    for (const QByteArray& w : writes) Write(w);
}

void CDevice::SendPOLL() {
    Write(commands::Poll());
}
void CDevice::SendBYE() {
    Write(commands::Bye());
}
void CDevice::SendLOG() {
    Write(commands::Log());
}
void CDevice::SendEND(int channelIndex) {
    Write(commands::End(channelIndex));
}
void CDevice::SendRECS() {
    Write(commands::Recs());
}
void CDevice::SendGETTMPLTCOUNT() {
    Write(commands::GetTemplateCount());
}
void CDevice::SendGETUSERNOTES() {
    Write(commands::GetUserNotes());
}

void CDevice::SendGETREC(int number) {
    if (auto c = commands::GetRec(number)) Write(*c);
}
void CDevice::SendDELREC(int number) {
    if (auto c = commands::DelRec(number)) Write(*c);
}
bool CDevice::DeleteRecord(int number, std::chrono::milliseconds limit) {
    const auto c = commands::DelRec(number);
    if (!c) return false;
    m_dispatcher.ErasedSignal.Reset(); // a stale reply confirms nothing
    if (!WriteNow(*c, limit)) return false;
    return m_dispatcher.ErasedSignal.Wait(limit) == AutoResetEvent::Result::Signalled;
}

void CDevice::SendGETSN(int unit) {
    if (auto c = commands::GetSN(unit)) Write(*c);
}
void CDevice::SendGETPARAMS(int unit) {
    if (auto c = commands::GetParams(unit)) Write(*c);
}
void CDevice::SendGETTMPLT(int number) {
    if (auto c = commands::GetTemplate(number)) Write(*c);
}

void CDevice::SendStartTest(int channelIndex, int testType, bool autoStart,
                            const QString& controlNumber, const QString& operatorName,
                            double setFlowRate) {
    if (auto c = commands::StartTest(channelIndex, testType, autoStart, controlNumber, operatorName,
                                     setFlowRate))
        Write(*c);
    else
        qCWarning(lcLink) << "CDevice::SendStartTest - texts too long, nothing sent";
}

void CDevice::SendSETTMPLT(const Template& t) {
    WriteAll(commands::SetTemplate(t));
}

void CDevice::SendSETUSERNOTES() {
    if (!m_notesOut) return;
    WriteAll(commands::SetUserNotes(*m_notesOut));
}

void CDevice::SendUMSETINSTRUCT(const QString& scrambled) {
    WriteAll(commands::UmSetInstruct(scrambled));
    ThePrompter().Message(QStringLiteral("Instruction Manual Sent"));
}

void CDevice::SendSTATUS() {
    if (m_lost) return;
    // At most one status request outstanding: the previous reply, or 1 s.
    if (m_dispatcher.StatusSignal.Wait(kReplyLimit) == AutoResetEvent::Result::Aborted) return;
    m_dispatcher.StatusSignal.Reset();
    Write(commands::Status());
}

void CDevice::SendGETBATSTATUS() {
    if (m_lost) return;
    if (m_dispatcher.BatterySignal.Wait(kReplyLimit) == AutoResetEvent::Result::Aborted) return;
    Write(commands::GetBatStatus());
}

char CDevice::PollBattery() {
    SendGETBATSTATUS();
    const char reply = LastBatteryReply();
    // Before the first reply there is nothing to copy.
    if (reply != 0) BatteryState = reply;
    return BatteryState;
}

bool CDevice::PollStatusCycle() {
    if (BatteryState == 'S') return false;
    SendSTATUS();
    if (DeviceModel != QLatin1String("PXR2K") || BatteryState == 'S') return false;
    const char before = BatteryState;
    return PollBattery() != before;
}

char CDevice::LastBatteryReply() const {
    std::lock_guard lock(m_dispatcher.Mutex());
    return m_dispatcher.battery;
}

QString CDevice::GetChannelStatus(int channelIndex) const {
    return m_dispatcher.ChannelStatus(channelIndex);
}

// ---- Requests ----

int CDevice::WaitReply(AutoResetEvent& event, quint64 seq, std::chrono::milliseconds limit,
                       const char* what, const std::atomic<bool>* cancel) {
    if (seq == 0 || !m_transport) {
        SetError(m_lost ? LastError()
                        : QStringLiteral("%1: the analyzer is not connected").arg(what));
        return 1;
    }
    if (!m_transport->WaitWritten(seq, kQueueLimit)) {
        if (!m_lost) SetError(QStringLiteral("%1: the command could not be sent").arg(what));
        return 1;
    }
    // In short slices when the asker may go away, so that it is let go at once.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto slice = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (cancel) slice = std::min(slice, std::chrono::milliseconds(50));
        switch (event.Wait(std::max(slice, std::chrono::milliseconds(0)))) {
        case AutoResetEvent::Result::Signalled:
            return 0;
        case AutoResetEvent::Result::Aborted:
            if (!m_lost) SetError(QStringLiteral("%1: the analyzer was disconnected").arg(what));
            return 1;
        case AutoResetEvent::Result::TimedOut:
            if (cancel && cancel->load()) {
                SetError(QStringLiteral("%1: cancelled").arg(what));
                return 1;
            }
            if (std::chrono::steady_clock::now() < deadline) continue;
            SetError(QStringLiteral("%1: no reply from the analyzer within %2 ms")
                         .arg(what)
                         .arg(limit.count()));
            return 1;
        }
    }
}

AutoResetEvent& CDevice::EndSignal(Download kind) {
    switch (kind) {
    case Download::Record:
        return m_dispatcher.RecordEndSignal;
    case Download::Template:
        return m_dispatcher.TemplateEndSignal;
    case Download::Notes:
        break;
    }
    return m_dispatcher.NotesEndSignal;
}

bool CDevice::SettleDownload(Download kind, const char* what) {
    using Clock = ReplyDispatcher::Clock;
    AutoResetEvent& event = EndSignal(kind);
    std::atomic<bool>& stale = m_stale[int(kind)];
    if (stale) {
        // The analyzer answers in order: whatever it still sends for the
        // abandoned download comes before anything for the next one. The
        // line is back in step once that download's end reply has come and
        // the line has then been quiet a moment; without an end reply only a
        // silence as long as a download's own idle limit will do, for an
        // analyzer that paused may still send the rest of its record.
        m_dispatcher.TouchDownloadActivity();
        const auto giveUp = Clock::now() + m_settleLimit;
        bool ended = false;
        for (;;) {
            const auto quiet = ended ? m_lateQuiet : m_downloadIdle;
            const auto deadline = std::min(m_dispatcher.LastDownloadActivity() + quiet, giveUp);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const auto r = event.Wait(std::max(left, std::chrono::milliseconds(0)));
            if (r == AutoResetEvent::Result::Aborted) {
                SetError(m_lost ? QStringLiteral("%1: the analyzer was unplugged").arg(what)
                                : QStringLiteral("%1: the analyzer was disconnected").arg(what));
                return false;
            }
            if (r == AutoResetEvent::Result::Signalled) {
                ended = true;
                continue;
            }
            const auto q = ended ? m_lateQuiet : m_downloadIdle;
            if (m_dispatcher.LastDownloadActivity() + q <= Clock::now()) break;
            if (Clock::now() >= giveUp) {
                SetError(QStringLiteral("%1: the analyzer is still sending an earlier reply after "
                                        "%2 s; try again later")
                             .arg(what)
                             .arg(double(m_settleLimit.count()) / 1000.0));
                return false;
            }
        }
        stale = false;
    }
    event.Reset();
    m_dispatcher.BoundDownload(kind, m_byteLimit[int(kind)]);
    return true;
}

bool CDevice::Resynchronise(Download kind) {
    return SettleDownload(kind, kind == Download::Record     ? "GetRecord"
                                : kind == Download::Template ? "GetTemplate"
                                                             : "GetUserNotes");
}

int CDevice::WaitDownload(Download kind, quint64 seq, std::chrono::milliseconds idle,
                          const char* what) {
    using Clock = ReplyDispatcher::Clock;
    AutoResetEvent& event = EndSignal(kind);
    const auto fail = [&](const QString& error) {
        m_dispatcher.FinishDownload(kind);
        if (!error.isEmpty()) SetError(error);
        return 1;
    };
    if (seq == 0 || !m_transport)
        return fail(m_lost ? QString()
                           : QStringLiteral("%1: the analyzer is not connected").arg(what));
    if (!m_transport->WaitWritten(seq, kQueueLimit))
        return fail(m_lost ? QString()
                           : QStringLiteral("%1: the command could not be sent").arg(what));
    m_dispatcher.TouchDownloadActivity();
    for (;;) {
        const auto deadline = m_dispatcher.LastDownloadActivity() + idle;
        const auto now = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        switch (event.Wait(std::max(left, std::chrono::milliseconds(0)))) {
        case AutoResetEvent::Result::Signalled:
            if (m_dispatcher.FinishDownload(kind)) {
                // The rest of the reply is still coming: waited out before
                // the next download of the kind.
                m_stale[int(kind)] = true;
                SetError(QStringLiteral("%1: the reply passed %2 bytes; the download was stopped")
                             .arg(what)
                             .arg(m_byteLimit[int(kind)]));
                return 1;
            }
            return 0;
        case AutoResetEvent::Result::Aborted:
            return fail(m_lost ? QString()
                               : QStringLiteral("%1: the analyzer was disconnected").arg(what));
        case AutoResetEvent::Result::TimedOut:
            if (m_dispatcher.LastDownloadActivity() + idle > Clock::now()) continue;
            m_stale[int(kind)] = true;
            return fail(QStringLiteral("%1: no line from the analyzer for %2 s")
                            .arg(what)
                            .arg(double(idle.count()) / 1000.0));
        }
    }
}

int CDevice::GetParameters(AnalyzerParameters& out, const std::atomic<bool>* cancel) {
    const auto c = commands::GetParams(0);
    const int r =
        WaitReply(m_dispatcher.ParamsSignal, Write(*c), kReplyLimit, "GetParameters", cancel);
    if (r == 0) {
        std::lock_guard lock(m_dispatcher.Mutex());
        out = m_dispatcher.params;
    }
    return r;
}

int CDevice::GetRecordCount(int& count) {
    const int r = WaitReply(m_dispatcher.RecordCountSignal, Write(commands::Recs()), kReplyLimit,
                            "GetRecordCount");
    if (r == 0) {
        std::lock_guard lock(m_dispatcher.Mutex());
        count = m_dispatcher.recordCount;
    }
    return r;
}

int CDevice::GetTemplateCount(int& count) {
    const int r = WaitReply(m_dispatcher.TemplateCountSignal, Write(commands::GetTemplateCount()),
                            kReplyLimit, "GetTemplateCount");
    if (r == 0) {
        std::lock_guard lock(m_dispatcher.Mutex());
        count = m_dispatcher.templateCount;
    }
    return r;
}

int CDevice::GetTemplate(int number, Template& out) {
    {
        std::lock_guard lock(m_dispatcher.Mutex());
        m_dispatcher.templateLines = 0;
    }
    const auto c = commands::GetTemplate(number);
    if (!c) {
        SetError(QStringLiteral("GetTemplate: template number %1 out of range").arg(number));
        return 1;
    }
    if (!SettleDownload(Download::Template, "GetTemplate")) return 1;
    {
        std::lock_guard lock(m_dispatcher.Mutex());
        m_dispatcher.templateLines = 0; // late step lines do not count
    }
    const int r = WaitDownload(Download::Template, Write(*c), m_downloadIdle, "GetTemplate");
    if (r == 0) {
        std::lock_guard lock(m_dispatcher.Mutex());
        m_dispatcher.templateBuffer.instSerialNumber = SerialNumber;
        out = m_dispatcher.templateBuffer;
    }
    return r;
}

int CDevice::GetRecord(int number, QIODevice& file) {
    const auto c = commands::GetRec(number);
    if (!c) {
        SetError(QStringLiteral("GetRecord: record number %1 out of range").arg(number));
        return 1;
    }
    if (!SettleDownload(Download::Record, "GetRecord")) {
        file.close();
        return 1;
    }
    m_dispatcher.BeginRecordDownload(&file);
    const int r = WaitDownload(Download::Record, Write(*c), m_downloadIdle, "GetRecord");
    m_dispatcher.EndRecordDownload();
    file.close();
    return r;
}

int CDevice::GetSerialNumbers(int unit, SerialNumbers& out, const std::atomic<bool>* cancel) {
    const auto c = commands::GetSN(unit);
    if (!c) {
        SetError(QStringLiteral("GetSerialNumbers: unit %1 out of range").arg(unit));
        return 1;
    }
    const int r =
        WaitReply(m_dispatcher.SerialSignal, Write(*c), kSerialLimit, "GetSerialNumbers", cancel);
    if (r == 0) {
        std::lock_guard lock(m_dispatcher.Mutex());
        out.serial = m_dispatcher.snSerial;
        out.firmware = m_dispatcher.snFirmware;
        out.third = m_dispatcher.snThird;
        if (unit >= 1 && unit <= 4) {
            out.tdSerial = m_dispatcher.tdSerial[unit - 1];
            out.tdFirmware = m_dispatcher.tdFirmware[unit - 1];
        } else {
            out.tdSerial.clear();
            out.tdFirmware.clear();
        }
    }
    return r;
}

int CDevice::GetUserNotes(QIODevice& file) {
    if (!SettleDownload(Download::Notes, "GetUserNotes")) return 1;
    m_dispatcher.BeginNotes(&file);
    const int r = WaitDownload(Download::Notes, Write(commands::GetUserNotes()), kNotesIdleLimit,
                               "GetUserNotes");
    m_dispatcher.EndNotes();
    return r;
}
