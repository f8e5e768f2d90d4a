#include "SerialTransport.h"

#include "link/TrafficLog.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#ifdef Q_OS_WIN
#include "link/WinComPort.h"
#endif

#include <thread>

Q_LOGGING_CATEGORY(lcLink, "rivuletrix.trace.link", QtWarningMsg)

#ifdef Q_OS_WIN
int OpenPort(AnalyzerPort& port, const QString& name, LineProfile profile) {
    return port.Open(name, profile);
}
#else
int OpenPort(AnalyzerPort& port, const QString& name, LineProfile profile) {
    if (name.isEmpty()) return 16;
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite)) return 16;
    int result = 0;
    if (!port.setBaudRate(QSerialPort::Baud115200) || !port.setDataBits(QSerialPort::Data8) ||
        !port.setParity(QSerialPort::NoParity) || !port.setStopBits(QSerialPort::OneStop) ||
        !port.setFlowControl(QSerialPort::NoFlowControl))
        result = 4;
    // Modem lines: a pseudo-terminal has none, so a refusal is not an error.
    const bool assert = profile == LineProfile::Probe;
    port.setDataTerminalReady(assert);
    port.setRequestToSend(assert);
    port.clearError();
    port.setReadBufferSize(profile == LineProfile::Probe ? 4096 : 0);
    if (result == 0 && !port.clear(QSerialPort::AllDirections)) result = 1;
    port.clearError();
    if (result != 0) port.close();
    return result;
}
#endif

void TransportWorker::Pump() {
    m_t.Pump();
}
void TransportWorker::Quit() {
    if (m_t.m_loop) m_t.m_loop->quit();
}

SerialTransport::SerialTransport(ChunkHandler onChunk, LostHandler onLost)
    : m_onChunk(std::move(onChunk)), m_onLost(std::move(onLost)) {}

SerialTransport::~SerialTransport() {
    Close();
}

int SerialTransport::Open(const QString& portName) {
    Close();
    m_portName = portName;
    {
        std::lock_guard lock(m_mutex);
        m_lost = false;
        m_queue.clear();
        m_queued = m_sent = 0;
    }
    // A thread of our own (its start and join order everything it shares
    // with the caller) running a Qt event loop for the port.
    std::promise<int> opened;
    std::future<int> result = opened.get_future();
    m_thread = std::thread([this, &opened] { ThreadMain(opened); });
    const int code = result.get();
    if (code != 0) m_thread.join();
    return code;
}

void SerialTransport::ThreadMain(std::promise<int>& opened) {
    QEventLoop loop;
    AnalyzerPort port;
    QTimer pace;
    TransportWorker worker(*this);
    pace.setSingleShot(true);
    pace.setTimerType(Qt::PreciseTimer);
    const int code = OpenPort(port, m_portName, LineProfile::Connection);
    if (code != 0) {
        opened.set_value(code);
        return;
    }
    m_loop = &loop;
    m_port = &port;
    m_pace = &pace;
    m_lastWrite = std::chrono::steady_clock::now();
    QObject::connect(&pace, &QTimer::timeout, &worker, [this] { Pump(); });
#ifdef Q_OS_WIN
    // The reader polls every millisecond; a failed read ends it.
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    m_poll = &poll;
    QObject::connect(&poll, &QTimer::timeout, &worker, [this] { OnReadyRead(); });
    poll.start(1);
#else
    QObject::connect(&port, &QSerialPort::readyRead, &worker, [this] { OnReadyRead(); });
    // A failed read ends the reader: on Linux an unplugged USB bridge reports
    // a resource error, a closed pseudo-terminal a read error.
    QObject::connect(&port, &QSerialPort::errorOccurred, &worker,
                     [this](QSerialPort::SerialPortError e) {
                         if (!m_port) return;
                         if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                             OnLost(m_port->errorString());
                         else if (e != QSerialPort::NoError)
                             qCDebug(lcLink) << "SerialTransport: port error" << m_portName << e
                                             << m_port->errorString();
                     });
#endif
    {
        std::lock_guard lock(m_mutex);
        m_worker = &worker;
        m_open = true;
    }
    opened.set_value(0); // `opened` is gone after this
    loop.exec();
    DrainAndClose();
    std::lock_guard lock(m_mutex);
    m_worker = nullptr;
    m_loop = nullptr;
    m_port = nullptr;
    m_pace = nullptr;
#ifdef Q_OS_WIN
    m_poll = nullptr;
#endif
}

quint64 SerialTransport::Write(const QByteArray& bytes) {
    std::lock_guard lock(m_mutex);
    if (!m_open || m_lost || !m_worker) return 0;
    m_queue.push_back(bytes);
    const quint64 seq = ++m_queued;
    QMetaObject::invokeMethod(m_worker, "Pump", Qt::QueuedConnection);
    return seq;
}

bool SerialTransport::WaitWritten(quint64 seq, std::chrono::milliseconds limit) {
    if (seq == 0) return false;
    std::unique_lock lock(m_mutex);
    m_written.wait_for(lock, limit, [&] { return m_sent >= seq || m_lost || !m_open; });
    return m_sent >= seq;
}

void SerialTransport::Pump() {
    using namespace std::chrono;
    if (!m_port || !m_port->isOpen()) return;
    if (m_pace->isActive()) return;
    const auto since = duration_cast<milliseconds>(steady_clock::now() - m_lastWrite).count();
    if (since < kWriteGapMs) {
        m_pace->start(int(kWriteGapMs - since));
        return;
    }
    QByteArray bytes;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return;
        bytes = std::move(m_queue.front());
        m_queue.pop_front();
    }
    m_port->write(bytes);
    m_lastWrite = steady_clock::now();
    TrafficLog::Instance().Append(m_portName, TrafficLog::Direction::Sent, bytes.constData(),
                                  size_t(bytes.size()));
    bool more;
    {
        std::lock_guard lock(m_mutex);
        ++m_sent;
        more = !m_queue.empty();
    }
    m_written.notify_all();
    if (more) m_pace->start(kWriteGapMs);
}

void SerialTransport::OnReadyRead() {
    if (!m_port) return;
    const QByteArray data = m_port->readAll();
#ifdef Q_OS_WIN
    if (m_port->Failed()) {
        OnLost(m_port->errorString());
        return;
    }
#endif
    if (data.isEmpty()) return;
    TrafficLog::Instance().Append(m_portName, TrafficLog::Direction::Received, data.constData(),
                                  size_t(data.size()));
    {
        std::lock_guard lock(m_mutex);
        if (m_lost) return;
    }
    m_onChunk(data.constData(), size_t(data.size()));
}

void SerialTransport::OnLost(const QString& reason) {
    {
        std::lock_guard lock(m_mutex);
        if (m_lost) return;
        m_lost = true;
        m_queue.clear();
    }
    m_written.notify_all();
    qCDebug(lcLink) << "SerialTransport: port lost" << m_portName << reason;
    // Stop reading at once: no frame of this port is dispatched any more.
    // The port itself is closed once Qt has left its notifier.
#ifdef Q_OS_WIN
    m_poll->stop();
    m_port->close();
#else
    QObject::disconnect(m_port, nullptr, nullptr, nullptr);
    QTimer::singleShot(0, m_port, [this] {
        if (m_port) m_port->close();
    });
#endif
    if (m_onLost) m_onLost(reason);
}

void SerialTransport::DrainAndClose() {
    if (!m_port->isOpen()) return;
    // What is still queued (for example the goodbye) goes out paced, for at
    // most about two seconds.
    m_pace->stop();
    for (int n = 0; n < 40; ++n) {
        QByteArray bytes;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty() || m_lost) break;
            bytes = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const auto since = std::chrono::steady_clock::now() - m_lastWrite;
        if (since < std::chrono::milliseconds(kWriteGapMs))
            std::this_thread::sleep_for(std::chrono::milliseconds(kWriteGapMs) - since);
        m_port->write(bytes);
        m_lastWrite = std::chrono::steady_clock::now();
        TrafficLog::Instance().Append(m_portName, TrafficLog::Direction::Sent, bytes.constData(),
                                      size_t(bytes.size()));
        if (m_port->bytesToWrite() > 0) m_port->waitForBytesWritten(1000);
        {
            std::lock_guard lock(m_mutex);
            ++m_sent;
        }
        m_written.notify_all();
    }
    if (m_port->bytesToWrite() > 0) m_port->waitForBytesWritten(1000);
#ifdef Q_OS_WIN
    m_poll->stop();
#else
    QObject::disconnect(m_port, nullptr, nullptr, nullptr);
#endif
    m_port->close();
}

void SerialTransport::Close() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
        if (m_worker) QMetaObject::invokeMethod(m_worker, "Quit", Qt::QueuedConnection);
    }
    m_written.notify_all();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_queue.clear();
}

bool SerialTransport::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open && !m_lost;
}

bool SerialTransport::IsLost() const {
    std::lock_guard lock(m_mutex);
    return m_lost;
}
