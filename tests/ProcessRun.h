#pragma once

// A program run to its end, for the command-line tests.
#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace clitest {

struct Result {
    int exitCode = -1;
    QByteArray out, err;
};

// stdoutFile: standard output goes to that file (a full disk, /dev/full).
// exitCode is -1 when the program crashed or did not end within two minutes.
inline Result Run(const QString& program, const QStringList& args, const QString& workDir = {},
                  const QString& stdoutFile = {},
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
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

// rivuletrix-cli of this build.
inline Result Cli(const QStringList& args, const QString& workDir = {},
                  const QString& stdoutFile = {},
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    return Run(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args, workDir, stdoutFile,
               env);
}

} // namespace clitest
