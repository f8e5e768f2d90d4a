#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>

class QFile;

// The raw traffic of every analyzer port, appended to one file so that a
// user can send a support engineer what the analyzer said. Off unless a path
// is set, by SetPath() (the program's "TrafficLogFile" setting) or by the
// environment variable RIVULETRIX_TRAFFIC_LOG. One line per read or write:
//   2026-12-10T04:31:07.125 /dev/ttyUSB0 > [POLL]\r\n
// with '>' for bytes sent and '<' for bytes received; bytes outside printable
// ASCII, and the backslash, as \r, \n or \xNN.
class TrafficLog {
public:
    static TrafficLog& Instance();

    void SetPath(const QString& path); // empty: off
    QString Path() const;
    bool Enabled() const;

    enum class Direction { Sent, Received };
    void Append(const QString& port, Direction direction, const char* data, size_t size);

    static QByteArray Escape(const char* data, size_t size);

private:
    TrafficLog();
    mutable std::mutex m_mutex;
    QString m_path;
    std::unique_ptr<QFile> m_file;
    bool m_enabled = false;
};
