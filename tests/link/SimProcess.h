#pragma once

// One simulated analyzer (tools/pxr-sim) on a pseudo-terminal, for the link
// tests. The binary comes from RIVULETRIX_SIM.

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Started with fork and exec rather than QProcess: Qt's process launcher
// clones in a way that ThreadSanitizer's runtime does not support.
class SimProcess {
public:
    // Starts the simulator with args plus "--link DIR/NAME --log DIR/NAME.log".
    SimProcess(const QString& name, const QStringList& args) {
        m_link = m_dir.filePath(name);
        m_log = m_dir.filePath(name + ".log");
        const QStringList all = QStringList{qEnvironmentVariable("RIVULETRIX_SIM")} + args +
                                QStringList{"--link", m_link, "--log", m_log};
        std::vector<QByteArray> bytes;
        for (const QString& a : all) bytes.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& b : bytes) argv.push_back(b.data());
        argv.push_back(nullptr);
        const QByteArray errPath = (m_dir.filePath(name) + QStringLiteral(".stderr")).toLocal8Bit();
        m_pid = ::fork();
        if (m_pid == 0) {
#ifdef __linux__
            // A test that crashes takes its simulator along.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
            // Nothing of the test's own descriptors (ctest's output pipe)
            // may stay open in the simulator.
            const int null = ::open("/dev/null", O_WRONLY);
            const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (null >= 0) ::dup2(null, 1);
            if (err >= 0) ::dup2(err, 2);
            for (int fd = 3; fd < 1024; ++fd) ::close(fd);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (m_pid < 0) return;
        // The simulator makes the link once it serves.
        for (int i = 0; i < 100 && !QFile::exists(m_link); ++i) QThread::msleep(50);
        m_ok = QFile::exists(m_link);
    }
    ~SimProcess() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 60; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) return;
            QThread::msleep(50);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
    static bool Available() {
        const QString sim = qEnvironmentVariable("RIVULETRIX_SIM");
        return !sim.isEmpty() && QFile::exists(sim);
    }

    bool Ok() const {
        return m_ok;
    }
    QString Link() const {
        return m_link;
    }
    QString Dir() const {
        return m_dir.path();
    }

    // The commands the PC sent, as the simulator logged them (escaped).
    QStringList Received() const {
        QFile f(m_log);
        QStringList out;
        if (!f.open(QIODevice::ReadOnly)) return out;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            const qsizetype at = line.indexOf(" RX ");
            if (at > 0) out << QString::fromLatin1(line.mid(at + 4));
        }
        return out;
    }

    // Measurement lines of a channel (1..4) that actually went out to the
    // PC: those logged as sent, less those an unplug kept from leaving.
    int SamplesSent(int channel) const {
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly)) return -1;
        const QByteArray sent = " TX " + QByteArray::number(channel);
        const QByteArray unsent = " EV unsent, unplugged: " + QByteArray::number(channel);
        int n = 0;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            // A line is the channel digit, 21 characters and CR LF (escaped).
            const QByteArray line = raw.trimmed();
            if (!line.endsWith("\\r\\n")) continue;
            const qsizetype tx = line.indexOf(sent);
            if (tx > 0 && line.size() - tx - 4 == 22 + 4) ++n;
            const qsizetype ev = line.indexOf(unsent);
            if (ev > 0 && line.size() - ev - 23 == 22 + 4) --n;
        }
        return n;
    }

private:
    QTemporaryDir m_dir;
    QString m_link, m_log;
    pid_t m_pid = -1;
    bool m_ok = false;
};
