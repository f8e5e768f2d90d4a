#pragma once

// A program run to its end, for the command-line tests of the view.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace viewtest {

struct Result {
    int exitCode = -1;
    QByteArray out, err;
};

// stdoutFile: standard output goes to that file (a full disk, /dev/full).
inline Result Run(const QString& program, const QStringList& args, const QString& workDir = {},
                  const QString& stdoutFile = {}) {
    QProcess p;
    if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
    if (!stdoutFile.isEmpty()) p.setStandardOutputFile(stdoutFile);
    p.start(program, args);
    Result r;
    if (!p.waitForFinished(120000)) return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline Result Cli(const QStringList& args, const QString& workDir = {},
                  const QString& stdoutFile = {}) {
    return Run(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args, workDir, stdoutFile);
}

} // namespace viewtest
