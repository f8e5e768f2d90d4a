// rivuletrix-cli: probe, info and records, over the program's own link code.
#include "CliCommand.h"
#include "OpenAnalyzer.h"

#include "base/Prompter.h"
#include "link/Device.h"
#include "link/PortScanner.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>

namespace {

QJsonObject ToJson(const FoundAnalyzer& f) {
    QJsonArray channels;
    for (int c : f.channels) channels.append(c ? 1 : 0);
    return QJsonObject{{"port", f.portName}, {"name", f.name},       {"serial", f.serialNumber},
                       {"model", f.model},   {"channels", channels}, {"kind", f.kind}};
}

void PrintJson(const QJsonValue& v) {
    const QJsonDocument doc =
        v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject());
    cli::Print(doc.toJson(QJsonDocument::Indented));
}

int Probe(const QStringList& args) {
    cli::StderrPrompter prompter;
    PortScanner scanner;
    const QStringList ports = cli::Positional(args, {});
    if (ports.isEmpty())
        scanner.ScanUsbPorts();
    else
        scanner.ScanPorts(ports);
    QJsonArray list;
    for (const FoundAnalyzer& f : scanner.Found()) list.append(ToJson(f));
    PrintJson(list);
    return 0;
}

int Info(const QStringList& args) {
    cli::StderrPrompter prompter;
    const QStringList ports = cli::Positional(args, {});
    if (ports.size() != 1) return cli::Fail(QStringLiteral("usage: info PORT"));
    QString error;
    const std::unique_ptr<CDevice> opened = cli::OpenAnalyzer(ports[0], error);
    if (!opened) return cli::Fail(error);
    CDevice& dev = *opened;
    QJsonObject out;
    out["name"] = dev.Name;
    AnalyzerParameters p;
    if (dev.GetParameters(p) != 0) out["error"] = QStringLiteral("Communication Error");
    out["P1"] = p.p1;
    out["P2"] = p.p2;
    out["P3"] = p.p3;
    out["P4"] = p.p4;
    out["P5"] = p.p5;
    SerialNumbers sn;
    dev.GetSerialNumbers(0, sn);
    out["serial"] = sn.serial;
    out["firmware"] = sn.firmware;
    QJsonArray channels;
    for (int ch = 1; ch <= 4; ++ch) {
        if (!dev.Channels[ch - 1]) {
            channels.append(QStringLiteral("Not Connected"));
            continue;
        }
        SerialNumbers td;
        dev.GetSerialNumbers(ch, td);
        channels.append(QJsonObject{{"serial", td.tdSerial}, {"firmware", td.tdFirmware}});
    }
    out["channels"] = channels;
    dev.DisconnectDevice();
    PrintJson(out);
    return 0;
}

int Records(const QStringList& args) {
    cli::StderrPrompter prompter;
    const QStringList ports = cli::Positional(args, {"--get", "--out"});
    if (ports.size() != 1)
        return cli::Fail(QStringLiteral("usage: records PORT [--get N --out FILE]"));
    const QString get = cli::Option(args, "--get");
    const QString outPath = cli::Option(args, "--out");
    if (!get.isEmpty() && outPath.isEmpty())
        return cli::Fail(QStringLiteral("--get needs --out FILE"));

    FoundAnalyzer f;
    f.portName = ports[0];
    f.kind = FoundAnalyzer::KindUsbSerial;
    CDevice dev(f);
    if (!dev.StartConnection()) return cli::Fail(dev.LastError());
    int rc = 0;
    if (get.isEmpty()) {
        int count = 0;
        if (dev.GetRecordCount(count) != 0)
            rc = cli::Fail(dev.LastError());
        else
            cli::Print(QByteArray::number(count) + '\n');
    } else {
        bool ok = false;
        const int number = get.toInt(&ok);
        QFile file(outPath);
        if (!ok) {
            rc = cli::Fail(QStringLiteral("--get needs a record number"));
        } else if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
            rc = cli::Fail(QStringLiteral("cannot write %1").arg(outPath));
        } else if (dev.GetRecord(number, file) != 0) {
            rc = cli::Fail(dev.LastError());
        } else {
            PrintJson(QJsonObject{{"record", number},
                                  {"file", outPath},
                                  {"lines", dev.Dispatcher().RecordLinesTotal()}});
        }
    }
    dev.DisconnectDevice();
    return rc;
}

const CliCommand probeCommand("probe", "probe [PORT...]   analyzers found on the ports (JSON)",
                              Probe);
const CliCommand
    infoCommand("info", "info PORT   parameters and serial numbers of an analyzer (JSON)", Info);
const CliCommand recordsCommand(
    "records", "records PORT [--get N --out FILE]   record count, or download record N", Records);

} // namespace
