#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class QEventLoop;
class QTimer;
class SerialTransport;

// The port the probe and the transport drive: Qt's serial port, or on
// Windows a port that polls the Windows serial API (WinComPort.h).
#ifdef Q_OS_WIN
class WinComPort;
using AnalyzerPort = WinComPort;
#else
class QSerialPort;
using AnalyzerPort = QSerialPort;
#endif

// The I/O thread's end of a transport: other threads only post data-free
// wake-ups to it (the data itself goes through the transport's mutex).
class TransportWorker : public QObject {
    Q_OBJECT
public:
    explicit TransportWorker(SerialTransport& t) : m_t(t) {}
    Q_INVOKABLE void Pump();
    Q_INVOKABLE void Quit();

private:
    SerialTransport& m_t;
};

// Line profiles of an analyzer port: 115200 baud, 8 data bits, no parity, one
// stop bit, no flow control. The probe asserts DTR and RTS while the port is
// open, a connection does not.
enum class LineProfile { Probe, Connection };

// Open result codes: 0 open and configured; 1 buffers or clearing failed;
// 2 timeouts failed (Windows only); 4 line settings failed; 8 invalid handle;
// 16 the port cannot be opened.
int OpenPort(AnalyzerPort& port, const QString& name, LineProfile profile);

// One connected analyzer's port, owned by its own I/O thread. Reads are event
// driven and handed to the chunk handler on that thread; writes are queued
// from any thread and paced there, each at least kWriteGapMs after the one
// before. An unplugged port (resource error) closes the port, fails every
// waiter and calls the lost handler once, on the I/O thread.
class SerialTransport {
public:
    static constexpr int kWriteGapMs = 50;
    using ChunkHandler = std::function<void(const char* data, size_t size)>;
    using LostHandler = std::function<void(const QString& reason)>;

    SerialTransport(ChunkHandler onChunk, LostHandler onLost);
    ~SerialTransport();
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    // Starts the I/O thread and opens the port there with the connection
    // profile. Returns the open result code (0 success).
    int Open(const QString& portName);
    // Queues bytes; returns the write's sequence number, 0 when the port is
    // not open (the bytes are dropped, silently).
    quint64 Write(const QByteArray& bytes);
    // Waits until write seq has been handed to the port. False when the time
    // ran out or the port is gone.
    bool WaitWritten(quint64 seq, std::chrono::milliseconds limit);
    // Sends what is still queued (paced), closes the port and ends the thread.
    void Close();

    bool IsOpen() const;
    bool IsLost() const;
    QString PortName() const { return m_portName; }

private:
    friend class TransportWorker;
    void ThreadMain(std::promise<int>& opened);
    void Pump();                        // I/O thread
    void OnReadyRead();                 // I/O thread
    void OnLost(const QString& reason); // I/O thread
    void DrainAndClose();               // I/O thread

    ChunkHandler m_onChunk;
    LostHandler m_onLost;
    QString m_portName;

    std::thread m_thread;
    TransportWorker* m_worker = nullptr; // lives on the I/O thread; under m_mutex
    QEventLoop* m_loop = nullptr;        // I/O thread only
    AnalyzerPort* m_port = nullptr;      // I/O thread only
#ifdef Q_OS_WIN
    QTimer* m_poll = nullptr; // the reader's 1 ms poll; I/O thread only
#endif
    QTimer* m_pace = nullptr;                          // I/O thread only
    std::chrono::steady_clock::time_point m_lastWrite; // I/O thread only

    mutable std::mutex m_mutex;
    std::condition_variable m_written;
    std::deque<QByteArray> m_queue;
    quint64 m_queued = 0;
    quint64 m_sent = 0;
    bool m_open = false;
    bool m_lost = false;
};
