#include "PortScanner.h"

#include "link/SerialTransport.h"
#include "link/TrafficLog.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

namespace {

// The probe's view of a port: paced writes, reads that take what has arrived.
class ProbeIo {
public:
    explicit ProbeIo(QSerialPort& port) : m_port(port) {}

    void Send(const QByteArray& bytes) {
        QThread::msleep(50);
        m_port.write(bytes);
        m_port.waitForBytesWritten(100);
        TrafficLog::Instance().Append(m_port.portName(), TrafficLog::Direction::Sent,
                                      bytes.constData(), size_t(bytes.size()));
    }
    // Lets the reply arrive for ms milliseconds.
    void Settle(int ms) {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (!m_port.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))) &&
                m_port.error() != QSerialPort::TimeoutError &&
                m_port.error() != QSerialPort::NoError)
                break;
        }
    }
    // Up to n bytes of what has arrived; waits at most 50 ms for the first.
    QByteArray Read(qint64 n) {
        if (m_port.bytesAvailable() == 0) m_port.waitForReadyRead(50);
        QByteArray b = m_port.read(n);
        Log(b);
        return b;
    }
    // One byte, or -1 when none came.
    int ReadByte(int pauseMs = 0) {
        if (pauseMs > 0) QThread::msleep(ulong(pauseMs));
        const QByteArray b = Read(1);
        return b.isEmpty() ? -1 : uchar(b[0]);
    }
    void Discard() {
        m_port.waitForReadyRead(0);
        Log(m_port.readAll());
        m_port.clear(QSerialPort::Input);
    }

private:
    void Log(const QByteArray& b) {
        if (!b.isEmpty())
            TrafficLog::Instance().Append(m_port.portName(), TrafficLog::Direction::Received,
                                          b.constData(), size_t(b.size()));
    }
    QSerialPort& m_port;
};

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
    QSerialPort port;
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
        QSerialPort port;
        if (OpenPort(port, name, LineProfile::Probe) != 0) continue;
        if (ProbeSerialNumber(port).trimmed() != wanted) continue;
        std::lock_guard lock(m_mutex);
        for (FoundAnalyzer& f : m_ready)
            if (f.serialNumber == serialNumber && (!f.connected || f.lost)) f.portName = name;
        return name;
    }
    return {};
}

QString PortScanner::ProbeSerialNumber(QSerialPort& port) {
    ProbeIo io(port);
    io.Discard();
    io.Send("[GETSN,0]\r\n");
    // The reply is looked for among whole lines: a running test's
    // measurement lines may come before and after it.
    QByteArray pending;
    QString serial;
    QDeadlineTimer deadline(kSerialProbeMs);
    while (serial.isEmpty() && !deadline.hasExpired()) {
        pending += io.Read(4096);
        qsizetype end;
        while ((end = pending.indexOf('\r')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            const qsizetype at = line.indexOf("[SN0,");
            if (at < 0) continue;
            const qsizetype comma = line.indexOf(',', at + 5);
            if (comma > at + 5) serial = QString::fromLatin1(line.mid(at + 5, comma - at - 5));
            break;
        }
        if (pending.size() > 65536) pending.clear(); // no line end in sight: noise
    }
    port.close();
    return serial;
}

std::optional<FoundAnalyzer> PortScanner::ProbePort(QSerialPort& port) {
    ProbeIo io(port);
    FoundAnalyzer found;
    found.portName = port.portName();
    // QSerialPort keeps the name it was given for paths; show what was asked.
    {
        std::lock_guard lock(m_mutex);
        if (!m_current.isEmpty()) found.portName = m_current;
    }

    // 1. The parameters: the "[P2," reply sits at byte 17 or 23.
    io.Send("[GETPARAMS,0]\r\n");
    io.Settle(100);
    const QByteArray head = io.Read(33);
    if (head.size() < 33) {
        port.close();
        return std::nullopt;
    }
    const QByteArray a = head.mid(17, 10), b = head.mid(23, 10);
    if (a == "[P2,PXR-8]" || b == "[P2,PXR-8]") {
        found.model = QStringLiteral("PXR-8");
    } else if (a == "[P2,PXR2K]" || b == "[P2,PXR2K]") {
        found.model = QStringLiteral("PXR2K");
    } else {
        port.close();
        return std::nullopt;
    }

    // 2. The name: after "P5" and one more byte, up to ']' or CR.
    int prev = -1;
    for (;;) {
        const int c = io.ReadByte();
        if (c < 0) break;
        if (prev == 'P' && c == '5') {
            if (io.ReadByte() >= 0) {
                QByteArray name;
                for (int d = io.ReadByte(); d >= 0 && d != ']' && d != '\r'; d = io.ReadByte())
                    name += char(d);
                found.name = QString::fromLatin1(name);
            }
            break;
        }
        prev = c;
    }

    // 3. The serial number: "[SN0" and one byte, then up to ','.
    io.Discard();
    io.Send("[GETSN,0]\r\n");
    io.Settle(200);
    const QByteArray sn = io.Read(5);
    if (sn.size() == 5 && sn.startsWith("[SN0")) {
        QByteArray serial;
        for (int c = io.ReadByte(1); c >= 0 && c != ','; c = io.ReadByte(1)) serial += char(c);
        found.serialNumber = QString::fromLatin1(serial);
    }

    // 4. The channels present, or busy.
    bool busy = false;
    io.Discard();
    io.Send("[POLL]\r\n");
    io.Settle(200);
    const QByteArray poll = io.Read(5);
    if (poll == "[POLL") {
        int k = 0;
        for (int c = io.ReadByte(1); c >= 0 && c != ']'; c = io.ReadByte(1)) {
            if (c == ',') continue;
            if (k < 4) found.channels[k] = (c % 48) != 0 ? 1 : 0;
            ++k;
        }
    } else if (poll == "[BUSY") {
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
