#include "OpenAnalyzer.h"

#include "link/Device.h"
#include "link/PortScanner.h"

std::unique_ptr<CDevice> cli::OpenAnalyzer(const QString& port, QString& error) {
    PortScanner scanner;
    scanner.ScanPorts({port});
    const QList<FoundAnalyzer> found = scanner.Found();
    if (found.isEmpty()) {
        error = QStringLiteral("no analyzer answered on %1").arg(port);
        return nullptr;
    }
    auto dev = std::make_unique<CDevice>(found.first());
    if (!dev->StartConnection()) {
        error = dev->LastError();
        return nullptr;
    }
    return dev;
}
