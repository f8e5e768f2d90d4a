#pragma once

#include <QString>

#include <memory>

class CDevice;

namespace cli {
// The analyzer that answers the probe on port, connected; null and error
// when none answers or the connection fails.
std::unique_ptr<CDevice> OpenAnalyzer(const QString& port, QString& error);
} // namespace cli
