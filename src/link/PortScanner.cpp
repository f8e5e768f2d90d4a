#include "PortScanner.h"

#include "link/SerialTransport.h"
#include "link/TrafficLog.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

#ifdef Q_OS_WIN
#include "link/WinComPort.h"
#endif

#include <algorithm>
#include <functional>

namespace {

// The probe's view of a port: paced writes, reads that take what has arrived.
class ProbeIo {
public:
    explicit ProbeIo(AnalyzerPort& port) : m_port(port) {}

    void Send(const QByteArray& bytes) {
        QThread::msleep(50);
        m_port.write(bytes);
        m_port.waitForBytesWritten(100);
        TrafficLog::Instance().Append(m_port.portName(), TrafficLog::Direction::Sent,
                                      bytes.constData(), size_t(bytes.size()));
    }
    void Discard() {
        m_port.waitForReadyRead(0);
        Log(m_port.readAll());
        m_port.clear(QSerialPort::Input);
    }
    // The reply frames (from '[' up to CR) that arrive after a command, in
    // order. An analyzer in the middle of a test streams measurement lines
    // among its replies; they and anything else that is not a reply are
    // passed over. Ends when whole() says the reply is in, when nothing at
    // all arrived within settleMs (no analyzer), or at limitMs.
    QList<QByteArray> Replies(int settleMs, int limitMs,
                              const std::function<bool(const QList<QByteArray>&)>& whole) {
        QList<QByteArray> frames;
        QByteArray pending;
        qint64 received = 0;
        QDeadlineTimer settle(settleMs), limit(limitMs);
        while (!limit.hasExpired()) {
            if (m_port.bytesAvailable() == 0)
                m_port.waitForReadyRead(int(std::clamp<qint64>(limit.remainingTime(), 1, 20)));
            const QByteArray b = m_port.readAll();
            Log(b);
            received += b.size();
            pending += b;
            qsizetype end;
            while ((end = pending.indexOf('\r')) >= 0) {
                const QByteArray line = pending.left(end);
                pending.remove(0, end + 1);
                // A '[' starts a frame wherever it stands.
                const qsizetype open = line.lastIndexOf('[');
                if (open >= 0) frames << line.mid(open);
            }
            if (pending.size() > 65536) pending.clear(); // no line end in sight: noise
            if (whole(frames)) break;
            if (received == 0 && settle.hasExpired()) break;
        }
        return frames;
    }

private:
    void Log(const QByteArray& b) {
        if (!b.isEmpty())
            TrafficLog::Instance().Append(m_port.portName(), TrafficLog::Direction::Received,
                                          b.constData(), size_t(b.size()));
    }
    AnalyzerPort& m_port;
};

// The first frame that begins with prefix, or -1.
qsizetype IndexOf(const QList<QByteArray>& frames, const char* prefix) {
    for (qsizetype i = 0; i < frames.size(); ++i)
        if (frames[i].startsWith(prefix)) return i;
    return -1;
}

bool SerialIn(const QList<QByteArray>& frames) {
    return IndexOf(frames, "[SN0") >= 0;
}

QByteArray SerialReply(const QList<QByteArray>& frames) {
    const qsizetype at = IndexOf(frames, "[SN0");
    return at < 0 ? QByteArray() : frames[at];
}

// "[SN0" and one byte, then the serial number up to ','.
QString SerialText(const QByteArray& reply) {
    const QByteArray rest = reply.mid(5);
    const qsizetype comma = rest.indexOf(',');
    return QString::fromLatin1(comma < 0 ? rest : rest.left(comma));
}

} // namespace

int PortScanner::EnumerateAnalyzerPorts() {
    QStringList ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (ports.size() >= kMaxPorts) break;
        if (info.hasVendorIdentifier()) ports << info.systemLocation();
    }
#ifdef Q_OS_WIN
    const QChar sep = QLatin1Char(';');
#else
    const QChar sep = QLatin1Char(':');
#endif
    const QString extra = qEnvironmentVariable("RIVULETRIX_PORTS");
    for (const QString& p : extra.split(sep, Qt::SkipEmptyParts)) {
        if (ports.size() >= kMaxPorts) break;
        if (!ports.contains(p)) ports << p;
    }
    std::lock_guard lock(m_mutex);
    m_ports = ports;
    return int(m_ports.size());
}

QStringList PortScanner::Ports() const {
    std::lock_guard lock(m_mutex);
    return m_ports;
}

QString PortScanner::CurrentPort() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

void PortScanner::ScanUsbPorts() {
    EnumerateAnalyzerPorts();
    ScanPorts(Ports());
}

void PortScanner::ScanPorts(const QStringList& ports) {
    for (const QString& name : ports.mid(0, kMaxPorts)) ProbeOne(name);
}

void PortScanner::ProbeOne(const QString& portName) {
    AnalyzerPort port;
    if (OpenPort(port, portName, LineProfile::Probe) != 0) return;
    {
        std::lock_guard lock(m_mutex);
        m_current = portName;
    }
    if (auto found = ProbePort(port)) AddFound(*found);
}

QString PortScanner::Locate(const QString& serialNumber, const QStringList& skip) {
    EnumerateAnalyzerPorts();
    const QString wanted = serialNumber.trimmed();
    for (const QString& name : Ports()) {
        if (skip.contains(name)) continue;
        AnalyzerPort port;
        if (OpenPort(port, name, LineProfile::Probe) != 0) continue;
        if (ProbeSerialNumber(port).trimmed() != wanted) continue;
        std::lock_guard lock(m_mutex);
        for (FoundAnalyzer& f : m_ready)
            if (f.serialNumber == serialNumber && (!f.connected || f.lost)) f.portName = name;
        return name;
    }
    return {};
}

QString PortScanner::ProbeSerialNumber(AnalyzerPort& port) {
    ProbeIo io(port);
    io.Discard();
    io.Send("[GETSN,0]\r\n");
    const QByteArray reply = SerialReply(io.Replies(kSerialProbeMs, kSerialProbeMs, SerialIn));
    port.close();
    return reply.isEmpty() ? QString() : SerialText(reply);
}

std::optional<FoundAnalyzer> PortScanner::ProbePort(AnalyzerPort& port) {
    ProbeIo io(port);
    FoundAnalyzer found;
    found.portName = port.portName();
    // QSerialPort keeps the name it was given for paths; show what was asked.
    {
        std::lock_guard lock(m_mutex);
        if (!m_current.isEmpty()) found.portName = m_current;
    }

    // 1. The parameters. The model reply counts only where it would sit
    // at byte 17 or 23 of the replies: right behind a P1 reply of 10 or 16
    // characters. A running test's measurement lines among them do not
    // move it.
    io.Send("[GETPARAMS,0]\r\n");
    const QList<QByteArray> params =
        io.Replies(kParamsSettleMs, kReplyLimitMs,
                   [](const QList<QByteArray>& f) { return IndexOf(f, "[P5") >= 0; });
    const qsizetype p1 = IndexOf(params, "[P1");
    const QByteArray model =
        p1 >= 0 && p1 + 1 < params.size() && (params[p1].size() == 15 || params[p1].size() == 21)
            ? params[p1 + 1].left(10)
            : QByteArray();
    if (model == "[P2,PXR-8]") {
        found.model = QStringLiteral("PXR-8");
    } else if (model == "[P2,PXR2K]") {
        found.model = QStringLiteral("PXR2K");
    } else {
        port.close();
        return std::nullopt;
    }

    // 2. The name: the P5 text up to ']'.
    if (const qsizetype p5 = IndexOf(params, "[P5"); p5 >= 0) {
        const QByteArray& r = params[p5];
        const qsizetype close = r.indexOf(']', 4);
        found.name = QString::fromLatin1(r.mid(4, close < 0 ? -1 : close - 4));
    }

    // 3. The serial number: "[SN0" and one byte, then up to ','.
    io.Discard();
    io.Send("[GETSN,0]\r\n");
    const QByteArray sn = SerialReply(io.Replies(kReplySettleMs, kReplyLimitMs, SerialIn));
    if (!sn.isEmpty()) found.serialNumber = SerialText(sn);

    // 4. The channels present, or busy.
    bool busy = false;
    io.Discard();
    io.Send("[POLL]\r\n");
    const QList<QByteArray> polls = io.Replies(kReplySettleMs, kReplyLimitMs, [](const auto& f) {
        return IndexOf(f, "[POLL") >= 0 || IndexOf(f, "[BUSY") >= 0;
    });
    if (const qsizetype at = IndexOf(polls, "[POLL"); at >= 0) {
        int k = 0;
        for (const char c : polls[at].mid(5)) {
            if (c == ']') break;
            if (c == ',') continue;
            if (k < 4) found.channels[k] = (uchar(c) % 48) != 0 ? 1 : 0;
            ++k;
        }
    } else if (IndexOf(polls, "[BUSY") >= 0) {
        busy = true;
    }

    io.Send("[BYE]\r\n");
    QThread::msleep(20);
    port.close();
    if (busy) return std::nullopt;
    found.kind = FoundAnalyzer::KindUsbSerial;
    found.battery = 'H';
    return found;
}

bool PortScanner::AddFound(const FoundAnalyzer& found) {
    std::lock_guard lock(m_mutex);
    for (const FoundAnalyzer& f : m_found)
        if (f.serialNumber == found.serialNumber) return false;
    for (FoundAnalyzer& f : m_ready) {
        if (f.serialNumber != found.serialNumber) continue;
        // Plugged back in, maybe on another port: the ready record follows
        // it. A live connection keeps the port it has.
        if (!f.connected || f.lost) f.portName = found.portName;
        return false;
    }
    m_found.append(found);
    return true;
}

void PortScanner::PurgeKind(int kind) {
    std::lock_guard lock(m_mutex);
    m_found.removeIf([kind](const FoundAnalyzer& f) { return f.kind == kind && f.added == 0; });
}

QList<FoundAnalyzer> PortScanner::Found() const {
    std::lock_guard lock(m_mutex);
    return m_found;
}

QList<FoundAnalyzer> PortScanner::Ready() const {
    std::lock_guard lock(m_mutex);
    return m_ready;
}

bool PortScanner::Add(const QString& serialNumber) {
    std::lock_guard lock(m_mutex);
    for (qsizetype i = 0; i < m_found.size(); ++i) {
        if (m_found[i].serialNumber != serialNumber) continue;
        FoundAnalyzer f = m_found.takeAt(i);
        f.added = 1;
        m_ready.append(f);
        return true;
    }
    return false;
}

bool PortScanner::Remove(const QString& serialNumber) {
    std::lock_guard lock(m_mutex);
    for (qsizetype i = 0; i < m_ready.size(); ++i) {
        if (m_ready[i].serialNumber != serialNumber) continue;
        if (m_ready[i].connected) return false;
        FoundAnalyzer f = m_ready.takeAt(i);
        f.added = 0;
        m_found.append(f);
        return true;
    }
    return false;
}

bool PortScanner::MarkLost(const QString& serialNumber) {
    std::lock_guard lock(m_mutex);
    for (FoundAnalyzer& f : m_ready)
        if (f.serialNumber == serialNumber && f.connected) {
            f.lost = 1;
            return true;
        }
    return false;
}

bool PortScanner::Update(const FoundAnalyzer& record) {
    std::lock_guard lock(m_mutex);
    for (QList<FoundAnalyzer>* list : {&m_found, &m_ready})
        for (FoundAnalyzer& f : *list)
            if (f.serialNumber == record.serialNumber) {
                f = record;
                return true;
            }
    return false;
}
