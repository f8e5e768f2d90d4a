// rivuletrix-cli export: templates, the instruction manual and user notes to
// an analyzer, over the program's own link and export code.
#include "CliCommand.h"
#include "OpenAnalyzer.h"

#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "store/TemplateStore.h"
#include "transfer/ExportJob.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>

namespace {

const QString kUsage = QStringLiteral(
    "usage: export templates PORT NAME... [--data-folder DIR] | export manual PORT FILE | "
    "export notes PORT FILE");

// A plain file name: nothing outside the data folder is read for a name.
bool PlainName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

// Index rows for the names, in the order given; a name the index lacks is
// looked for as its template file.
QList<TemplateRow> RowsFor(TemplateStore& store, const QStringList& names, QStringList& errors) {
    QList<TemplateRow> indexed;
    if (store.Open()) store.ListRows(indexed);
    QList<TemplateRow> rows;
    for (const QString& name : names) {
        auto it = std::find_if(indexed.cbegin(), indexed.cend(),
                               [&](const TemplateRow& r) { return r.name == name; });
        if (it != indexed.cend()) {
            rows << *it;
        } else if (PlainName(name)) {
            TemplateRow row;
            row.name = name;
            row.fileName = QStringLiteral("RXt_") + name + QStringLiteral(".p8t");
            rows << row;
        } else {
            errors << QStringLiteral("no template named \"%1\"").arg(name);
        }
    }
    return rows;
}

int Report(const QString& port, const ExportOutcome& out, QJsonObject json,
           const QStringList& errors) {
    json.insert(QStringLiteral("port"), port);
    json.insert(QStringLiteral("status"),
                out.status == ExportOutcome::Status::Done        ? QStringLiteral("done")
                : out.status == ExportOutcome::Status::Cancelled ? QStringLiteral("cancelled")
                                                                 : QStringLiteral("port gone"));
    cli::Print(QJsonDocument(json).toJson(QJsonDocument::Indented));
    for (const QString& e : errors)
        std::fprintf(stderr, "rivuletrix-cli: %s\n", e.toLocal8Bit().constData());
    if (out.status != ExportOutcome::Status::Done) return cli::Fail(out.error);
    return errors.isEmpty() ? 0 : 1;
}

int Export(const QStringList& args) {
    cli::StderrPrompter prompter;
    const QStringList pos = cli::Positional(args, {QStringLiteral("--data-folder")});
    if (pos.size() < 3) return cli::Fail(kUsage);
    const QString what = pos[0];
    const QString port = pos[1];
    if (what != QLatin1String("templates") && pos.size() != 3) return cli::Fail(kUsage);

    // Everything is read before the analyzer is touched.
    QList<ExportItem> items;
    QByteArray body;
    QStringList errors;
    if (what == QLatin1String("templates")) {
        AppSettings settings;
        TemplateStore store(settings);
        const QString folder = cli::Option(args, QStringLiteral("--data-folder"));
        if (!folder.isEmpty()) store.SetDataFolder(folder);
        const TemplateLoad load = LoadTemplates(store, RowsFor(store, pos.mid(2), errors));
        items = load.items;
        errors << load.skipped;
        if (items.isEmpty()) {
            for (const QString& e : errors)
                std::fprintf(stderr, "rivuletrix-cli: %s\n", e.toLocal8Bit().constData());
            return cli::Fail(QStringLiteral("no template to export"));
        }
    } else if (what == QLatin1String("manual") || what == QLatin1String("notes")) {
        QString error, notice;
        const bool read = what == QLatin1String("notes")
                              ? ReadNotesFile(pos[2], body, error, notice)
                              : ReadManualFile(pos[2], body, error);
        if (!read) return cli::Fail(error);
        if (!notice.isEmpty()) errors << notice;
    } else {
        return cli::Fail(kUsage);
    }

    QString error;
    const std::unique_ptr<CDevice> opened = cli::OpenAnalyzer(port, error);
    if (!opened) return cli::Fail(error);
    CDevice& dev = *opened;
    if (dev.DeviceModel == QLatin1String("PXR2K")) {
        dev.DisconnectDevice();
        return cli::Fail(QStringLiteral("a PXR2K takes no templates, manual or notes; nothing was "
                                        "sent"));
    }
    ExportJob job(dev);
    ExportOutcome out;
    QJsonObject json;
    if (what == QLatin1String("templates")) {
        out = job.SendTemplates(items);
        json.insert(QStringLiteral("templates"), QJsonArray::fromStringList(out.sent));
    } else {
        out = what == QLatin1String("manual") ? job.SendManual(body) : job.SendNotes(body);
        json.insert(what, pos[2]);
        json.insert(QStringLiteral("bytes"), out.bytes);
    }
    dev.DisconnectDevice();
    return Report(port, out, json, errors);
}

const CliCommand exportCommand("export",
                               "export templates PORT NAME... [--data-folder DIR] | "
                               "export manual PORT FILE | export notes PORT FILE",
                               Export);

} // namespace
