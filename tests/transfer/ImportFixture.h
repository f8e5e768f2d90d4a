#pragma once

// An analyzer simulator, a device connected to it, and a working folder with
// settings, seeds and an empty data folder, for the import tests.

#include "../link/SimProcess.h"
#include "../store/StoreTestEnv.h"

#include "link/Device.h"
#include "transfer/ImportDownload.h"

#include <QTest>

#include <memory>

namespace importtest {

inline std::unique_ptr<CDevice> Connect(const SimProcess& sim) {
    FoundAnalyzer f;
    f.portName = sim.Link();
    f.kind = FoundAnalyzer::KindUsbSerial;
    f.serialNumber = QStringLiteral("SIM00001");
    auto dev = std::make_unique<CDevice>(f);
    if (!dev->StartConnection()) return nullptr;
    // Stalls show within a second instead of twenty.
    dev->SetDownloadIdleLimit(std::chrono::milliseconds(800));
    dev->SetLateReplyQuiet(std::chrono::milliseconds(200));
    return dev;
}

// Runs a download on its worker thread and waits for it.
inline ImportDownload::Result Download(CDevice& dev, ImportDownload::Mode mode,
                                       const QString& target, const QList<int>& items = {}) {
    ImportDownload job(dev, mode, target);
    job.SetItems(items);
    job.Start();
    job.Wait();
    return job.GetResult();
}

// The DELREC commands the simulator received, as their numbers.
inline QList<int> Deletes(const SimProcess& sim) {
    QList<int> out;
    for (const QString& line : sim.Received())
        if (line.startsWith(QLatin1String("[DELREC,")))
            out << line.mid(8, line.indexOf(QLatin1Char(']')) - 8).toInt();
    return out;
}

} // namespace importtest
