#include "CliCommand.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
    // The same bytes as on Linux: CSV, JSON and records piped on are not
    // given carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // Drawing needs fonts, hence the graphical application object; it draws
    // off screen, so no display is needed. Windows always has its desktop,
    // and the installation carries only the windows platform plugin.
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && (std::strcmp(argv[1], "render") == 0 || std::strcmp(argv[1], "report") == 0)) {
#ifndef Q_OS_WIN
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("rivuletrix-cli"));
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        std::fputs(CliCommand::Usage().toLocal8Bit().constData(), args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const CliCommand* command = CliCommand::Find(args[0]);
    if (!command) {
        std::fputs(CliCommand::Usage().toLocal8Bit().constData(), stderr);
        return 2;
    }
    return command->handler(args.mid(1));
}
