#include "TrafficLog.h"

#include <QDateTime>
#include <QFile>

TrafficLog& TrafficLog::Instance() {
    static TrafficLog log;
    return log;
}

TrafficLog::TrafficLog() {
    const QByteArray env = qgetenv("RIVULETRIX_TRAFFIC_LOG");
    if (!env.isEmpty()) SetPath(QString::fromLocal8Bit(env));
}

void TrafficLog::SetPath(const QString& path) {
    std::lock_guard lock(m_mutex);
    m_file.reset();
    m_path = path;
    m_enabled = false;
    if (path.isEmpty()) return;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) return;
    m_file = std::move(file);
    m_enabled = true;
}

QString TrafficLog::Path() const {
    std::lock_guard lock(m_mutex);
    return m_path;
}

bool TrafficLog::Enabled() const {
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

QByteArray TrafficLog::Escape(const char* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(qsizetype(size) + 16);
    for (size_t i = 0; i < size; ++i) {
        const uchar c = uchar(data[i]);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

void TrafficLog::Append(const QString& port, Direction direction, const char* data, size_t size) {
    std::lock_guard lock(m_mutex);
    if (!m_enabled || !m_file) return;
    QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8();
    line += ' ';
    line += port.toUtf8();
    line += direction == Direction::Sent ? " > " : " < ";
    line += Escape(data, size);
    line += '\n';
    m_file->write(line);
    m_file->flush();
}
