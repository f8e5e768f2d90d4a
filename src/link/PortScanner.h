#pragma once

#include "link/FoundAnalyzer.h"
#include "link/SerialTransport.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

// Finds analyzers: lists the candidate ports, probes each and keeps two
// lists, the found list (found, not yet added) and the ready list (added for
// connection). Serial numbers are unique across both. The lists are guarded,
// so the search may run on a worker thread while the dialog reads copies.
class PortScanner {
public:
    static constexpr int kMaxPorts = 10;

    // Ports of USB serial bridges, then those named in RIVULETRIX_PORTS
    // (':'-separated; ';' on Windows); at most 10. Returns the count.
    int EnumerateAnalyzerPorts();
    QStringList Ports() const;
    QString CurrentPort() const;

    // Enumerates the ports and probes each; new analyzers join the found list.
    void ScanUsbPorts();
    // Probes the given ports instead of the enumerated ones.
    void ScanPorts(const QStringList& ports);

    // The probe exchange on a port opened with the probe profile. Closes the
    // port. Nothing when no analyzer answered or it is busy. An analyzer in
    // the middle of a test (left running by a program that ended) is found
    // too: its measurement lines are passed over while the replies are
    // looked for.
    std::optional<FoundAnalyzer> ProbePort(AnalyzerPort& port);
    // A port where nothing at all arrives within the settle time holds no
    // analyzer; one that sends, but not the reply, is given up at the limit.
    static constexpr int kParamsSettleMs = 100;
    static constexpr int kReplySettleMs = 200;
    static constexpr int kReplyLimitMs = 1000;

    // Finds the port of the analyzer with this serial number among the
    // enumerated ports, except those in skip (ports in use). An analyzer
    // plugged back in may come up on another port, and may be in the middle
    // of a test, its measurement lines mixed with the replies: only its
    // serial number is asked for. A ready record that is not connected, or
    // lost, takes the port name. Empty when none answers with it.
    QString Locate(const QString& serialNumber, const QStringList& skip = {});
    // The serial number an analyzer on the open port reports, or empty.
    // Closes the port.
    QString ProbeSerialNumber(AnalyzerPort& port);
    static constexpr int kSerialProbeMs = 1000;

    // Removes the found records of that kind that were not added.
    void PurgeKind(int kind);

    QList<FoundAnalyzer> Found() const;
    QList<FoundAnalyzer> Ready() const;
    // Moves an analyzer between the lists by serial number; false when it is
    // not there (or, for Remove, when it is connected).
    bool Add(const QString& serialNumber);
    bool Remove(const QString& serialNumber);
    // Replaces the record with the same serial number in either list.
    bool Update(const FoundAnalyzer& record);
    // The connected analyzer's port went away; false when it is not listed.
    bool MarkLost(const QString& serialNumber);

private:
    // Adds a probed analyzer unless its serial number is listed already.
    // A ready analyzer that is not connected, or lost, takes the port name.
    bool AddFound(const FoundAnalyzer& found);
    void ProbeOne(const QString& portName);

    mutable std::mutex m_mutex;
    QStringList m_ports;
    QString m_current;
    QList<FoundAnalyzer> m_found;
    QList<FoundAnalyzer> m_ready;
};
