#pragma once

// One simulated analyzer (tools/pxr-sim) on a pseudo-terminal, for the link
// tests. The binary comes from RIVULETRIX_SIM.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

class SimProcess {
public:
    // Starts the simulator with args plus "--link DIR/NAME --log DIR/NAME.log".
    SimProcess(const QString& name, const QStringList& args) {
        m_link = m_dir.filePath(name);
        m_log = m_dir.filePath(name + ".log");
        m_proc.setProgram(qEnvironmentVariable("RIVULETRIX_SIM"));
        m_proc.setArguments(args + QStringList{"--link", m_link, "--log", m_log});
        m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_proc.start();
        if (!m_proc.waitForStarted(5000)) return;
        // The simulator prints the link once it serves.
        for (int i = 0; i < 100 && !m_proc.canReadLine(); ++i) m_proc.waitForReadyRead(100);
        m_ok = QFile::exists(m_link);
    }
    ~SimProcess() {
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000)) m_proc.kill();
        m_proc.waitForFinished(1000);
    }
    static bool Available() {
        const QString sim = qEnvironmentVariable("RIVULETRIX_SIM");
        return !sim.isEmpty() && QFile::exists(sim);
    }

    bool Ok() const { return m_ok; }
    QString Link() const { return m_link; }
    QString Dir() const { return m_dir.path(); }

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

private:
    QTemporaryDir m_dir;
    QString m_link, m_log;
    QProcess m_proc;
    bool m_ok = false;
};
