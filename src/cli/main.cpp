#include "CliCommand.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
