#include "CliCommand.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    // Drawing needs fonts, hence the graphical application object; it draws
    // off screen, so no display is needed.
    std::unique_ptr<QCoreApplication> app;
    if (argc > 1 && (std::strcmp(argv[1], "render") == 0 || std::strcmp(argv[1], "report") == 0)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
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
