#pragma once

// An analyzer simulator, a device connected to it, and a working folder with
// settings, seeds and an empty data folder, for the import tests.

#include "../link/SimProcess.h"
#include "../store/StoreTestEnv.h"

#include "link/Device.h"
#include "transfer/ImportDownload.h"

#include <QBuffer>
#include <QDir>
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

// A simulator started with args and a device connected to it; dev is null
// when either failed.
struct ConnectedSim {
    SimProcess sim;
    std::unique_ptr<CDevice> dev;
    explicit ConnectedSim(const QStringList& args)
        : sim(QStringLiteral("pxr"), args), dev(sim.Ok() ? Connect(sim) : nullptr) {}
};

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

// Every record the analyzer holds now, as its bytes.
inline QList<QByteArray> AnalyzerRecords(CDevice& dev) {
    QList<QByteArray> out;
    int count = 0;
    if (dev.GetRecordCount(count) != 0) return {QByteArray("<no count>")};
    for (int n = 1; n <= count; ++n) {
        QBuffer buf;
        buf.open(QIODevice::ReadWrite);
        out << (dev.GetRecord(n, buf) == 0 ? buf.data() : QByteArray("<failed>"));
    }
    return out;
}

inline QList<QByteArray> DataFiles(const QString& folder) {
    QList<QByteArray> out;
    for (const QString& f : QDir(folder).entryList({QStringLiteral("*.p8d")}, QDir::Files)) {
        QFile file(folder + QLatin1Char('/') + f);
        out << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return out;
}

// Nothing is lost: each record the analyzers held before is still on one or
// is in the data folder byte for byte, and the data folder holds nothing but
// such records (no fragment, no mix of two).
inline bool NothingLost(const QList<QByteArray>& before, const QList<QByteArray>& after,
                        const QString& dataFolder, QString* why) {
    const QList<QByteArray> files = DataFiles(dataFolder);
    for (int i = 0; i < before.size(); ++i)
        if (!after.contains(before[i]) && !files.contains(before[i])) {
            *why = QStringLiteral("record %1 is gone from the analyzer without a copy").arg(i + 1);
            return false;
        }
    for (const QByteArray& f : files)
        if (!before.contains(f)) {
            *why = QStringLiteral("the data folder holds a file that is no record of the "
                                  "analyzer: %1")
                       .arg(QString::fromLatin1(f.left(60)));
            return false;
        }
    return true;
}

} // namespace importtest
