#pragma once

#include "link/SerialTransport.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>

// A COM port through the Windows serial API, for the Windows build. Qt's
// serial port waits for overlapped reads that some drivers (Wine's among
// them) never complete; this one reads the way the analyzers' own software
// did: a plain handle whose read timeouts make every read return at once with
// what has arrived, polled. It offers the part of QSerialPort's interface the
// probe and the transport use, under the same names, so that both drive
// either port.
class WinComPort {
public:
    WinComPort() = default;
    ~WinComPort();
    WinComPort(const WinComPort&) = delete;
    WinComPort& operator=(const WinComPort&) = delete;

    // The open result codes of OpenPort.
    int Open(const QString& name, LineProfile profile);

    bool isOpen() const;
    QString portName() const { return m_name; }
    void close();

    // Writes the bytes whole (the write timeouts bound the wait); the count
    // written, -1 on failure.
    qint64 write(const QByteArray& bytes);
    qint64 bytesToWrite() const { return 0; }
    bool waitForBytesWritten(int) { return isOpen(); }

    // Takes in what has arrived. waitForReadyRead polls for up to ms.
    qint64 bytesAvailable();
    bool waitForReadyRead(int ms);
    QByteArray readAll();
    bool clear(QSerialPort::Directions directions = QSerialPort::AllDirections);

    // A read or a status query failed: the port is gone (unplugged).
    bool Failed() const { return !m_error.isEmpty(); }
    QString errorString() const { return m_error; }

private:
    void Fetch();
    void Fail(const char* what);

    void* m_handle = nullptr; // HANDLE; null when closed
    QString m_name;
    QByteArray m_in; // arrived, not yet taken
    QString m_error;
};
