#pragma once

// A scripted analyzer on the master side of a pseudo-terminal, for tests that
// need exact control over bytes and timing. The program's serial code opens
// the slave side (SlavePath()) like any port.

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

class PtyPeer {
public:
    using Clock = std::chrono::steady_clock;
    struct Received {
        QByteArray bytes;
        Clock::time_point at;
    };
    // Reply for a command line (without CR LF), or empty for none.
    using Rule = std::function<QByteArray(const QByteArray& line)>;

    PtyPeer() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0) return;
        grantpt(m_master);
        unlockpt(m_master);
        m_slave = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] { Run(); });
    }
    ~PtyPeer() {
        Unplug();
        if (m_thread.joinable()) m_thread.join();
    }

    bool Ok() const { return m_master >= 0; }
    QString SlavePath() const { return m_slave; }

    void On(const QByteArray& command, Rule rule) {
        std::lock_guard lock(m_mutex);
        m_rules[command] = std::move(rule);
    }
    void On(const QByteArray& command, const QByteArray& reply) {
        On(command, [reply](const QByteArray&) { return reply; });
    }

    void Send(const QByteArray& bytes) {
        std::lock_guard lock(m_writeMutex);
        if (m_closed) return;
        qsizetype off = 0;
        while (off < bytes.size()) {
            const ssize_t n =
                ::write(m_master, bytes.constData() + off, size_t(bytes.size() - off));
            if (n <= 0) return;
            off += n;
        }
    }

    // Closes the master: the port behaves like an unplugged USB bridge.
    void Unplug() {
        m_stop = true;
        std::lock_guard lock(m_writeMutex);
        if (!m_closed && m_master >= 0) {
            m_closed = true;
            ::close(m_master);
        }
    }

    // Everything received so far.
    QByteArray All() const {
        std::lock_guard lock(m_mutex);
        QByteArray out;
        for (const Received& r : m_received) out += r.bytes;
        return out;
    }
    // The command lines received (without CR LF), with their arrival times.
    QList<Received> Commands() const {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    // Waits until the received bytes contain text n times.
    bool WaitForCount(const QByteArray& text, qsizetype n, int ms = 10000) const {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            QByteArray all;
            for (const Received& r : m_received) all += r.bytes;
            return all.count(text) >= n;
        });
    }
    // Waits until the received bytes contain text.
    bool WaitFor(const QByteArray& text, int ms = 5000) const {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            QByteArray all;
            for (const Received& r : m_received) all += r.bytes;
            return all.contains(text);
        });
    }

private:
    void Run() {
        QByteArray pending;
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            const int r = ::poll(&p, 1, 20);
            if (r <= 0) continue;
            if (!(p.revents & POLLIN)) {
                // No reader on the slave side yet (POLLHUP): wait.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            char buf[4096];
            ssize_t n;
            {
                std::lock_guard lock(m_writeMutex);
                if (m_closed) break;
                n = ::read(m_master, buf, sizeof buf);
            }
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            const QByteArray bytes(buf, n);
            QList<QByteArray> replies;
            {
                std::lock_guard lock(m_mutex);
                m_received.append({bytes, Clock::now()});
                pending += bytes;
                qsizetype eol;
                while ((eol = pending.indexOf("\r\n")) >= 0) {
                    QByteArray line = pending.left(eol);
                    pending.remove(0, eol + 2);
                    if (line.startsWith('\0')) line.remove(0, 1); // start-test NUL
                    m_commands.append({line, Clock::now()});
                    for (const auto& [prefix, rule] : m_rules)
                        if (line.startsWith(prefix)) {
                            replies << rule(line);
                            break;
                        }
                }
            }
            m_cv.notify_all();
            for (const QByteArray& reply : replies)
                if (!reply.isEmpty()) Send(reply);
        }
    }

    int m_master = -1;
    QString m_slave;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::mutex m_writeMutex;
    bool m_closed = false;
    std::map<QByteArray, Rule> m_rules;
    QList<Received> m_received;
    QList<Received> m_commands;
};
