// rivuletrix-cli import: records, templates and user notes from an analyzer
// into the data folder, over the program's own link and import code.
#include "CliCommand.h"
#include "OpenAnalyzer.h"

#include "base/AppSettings.h"
#include "link/Device.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "transfer/ImportDownload.h"
#include "transfer/ImportMerge.h"
#include "transfer/ImportStaging.h"
#include "transfer/NotesFileName.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const QStringList kValueOptions = {QStringLiteral("--items"), QStringLiteral("--data-folder"),
                                   QStringLiteral("--out")};

const char* const kUsage =
    "import records PORT [--items 1,3-5|all] [--delete] --data-folder DIR\n"
    "       import templates PORT [--items ...] [--overwrite] --data-folder DIR\n"
    "       import notes PORT --out FILE";

// "all", or numbers and ranges: "1,3-5". Empty list for all.
bool ParseItems(const QString& text, QList<int>& items, QString& error) {
    items.clear();
    if (text.isEmpty() || text == QLatin1String("all")) return true;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = false;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (ends.size() == 1) ok2 = ok1;
        if (!ok1 || !ok2 || ends.size() > 2 || from < 1 || to < from || to > 999) {
            error = QStringLiteral("--items: \"%1\" is not a number or range of 1..999").arg(part);
            return false;
        }
        for (int n = from; n <= to; ++n)
            if (!items.contains(n)) items.append(n);
    }
    std::sort(items.begin(), items.end());
    return true;
}

void PrintJson(const QJsonObject& o) {
    cli::Print(QJsonDocument(o).toJson(QJsonDocument::Indented));
}

QJsonArray Failures(const QList<ImportFailure>& failures, const char* key) {
    QJsonArray out;
    for (const ImportFailure& f : failures) {
        std::fprintf(stderr, "rivuletrix-cli: %s\n", qPrintable(f.message));
        out.append(QJsonObject{{QLatin1String(key), f.number}, {"error", f.message}});
    }
    return out;
}

QJsonArray Problems(const QStringList& problems) {
    QJsonArray out;
    for (const QString& p : problems) {
        std::fprintf(stderr, "rivuletrix-cli: %s\n", qPrintable(p));
        out.append(p);
    }
    return out;
}

int Transfer(const QString& what, const QStringList& args) {
    // The overwrite question is answered by --overwrite.
    cli::StderrPrompter prompter(cli::Flag(args, QStringLiteral("--overwrite")));
    const QStringList ports = cli::Positional(args, kValueOptions);
    if (ports.size() != 1) return cli::Fail(QStringLiteral("usage: %1").arg(QLatin1String(kUsage)));
    QList<int> items;
    QString error;
    if (!ParseItems(cli::Option(args, QStringLiteral("--items")), items, error))
        return cli::Fail(error);

    AppSettings settings;
    QString data = cli::Option(args, QStringLiteral("--data-folder"));
    if (data.isEmpty()) data = settings.GetDataPath();
    if (data.isEmpty()) return cli::Fail(QStringLiteral("no data folder: use --data-folder DIR"));
    data = QDir(data).absolutePath();
    if (!MakeFolderChain(data) || !QFileInfo(data).isDir())
        return cli::Fail(QStringLiteral("the data folder %1 cannot be made").arg(data));
    settings.OverrideDataPath(data);
    RecordIndex index(settings);
    index.SetDataFolder(data);
    index.SetStartupFinished(true);
    TemplateStore templates(settings);
    templates.SetDataFolder(data);

    // A staging folder of this run's own: another import into the same data
    // folder at the same time stages elsewhere.
    const staging::Area area(data + QStringLiteral("/Temp"));
    if (!area.Ok()) return cli::Fail(area.Error());
    auto dev = cli::OpenAnalyzer(ports[0], error);
    if (!dev) return cli::Fail(error);
    const bool records = what == QLatin1String("records");
    ImportDownload job(*dev,
                       records ? ImportDownload::Mode::Records : ImportDownload::Mode::Templates,
                       area.Path());
    job.SetItems(items);
    job.RunHere();
    ImportDownload::Result r = job.GetResult();
    if (!r.ok) {
        dev->DisconnectDevice();
        return cli::Fail(r.error);
    }
    QJsonObject out;
    out["count"] = r.count;
    QJsonArray missing;
    for (int n : items)
        if (n > r.count) {
            std::fprintf(stderr, "rivuletrix-cli: item %d: the analyzer holds %d\n", n, r.count);
            missing.append(n);
        }
    ImportMerge merge(settings, index, templates);
    MergeReport m;
    bool failed = !r.failures.isEmpty() || !missing.isEmpty();
    if (records) {
        for (ImportedRecord& e : r.records) e.checked = true;
        const QList<ImportedRecord> all = r.records;
        if (!r.keepOnAnalyzer.isEmpty()) merge.KeepRecordsOnAnalyzer(r.keepOnAnalyzer);
        m = merge.MergeRecords(r.records, dev.get(), cli::Flag(args, QStringLiteral("--delete")),
                               [&dev] { return !dev->IsLost(); });
        QJsonArray imported;
        int k = 0;
        for (const ImportedRecord& e : all) {
            bool merged = true;
            for (const ImportedRecord& left : r.records)
                if (left.stagedPath == e.stagedPath) merged = false;
            if (!merged) continue;
            imported.append(QJsonObject{{"record", e.number},
                                        {"file", m.files.value(k++)},
                                        {"controlNumber", e.controlNumber}});
        }
        out["imported"] = imported;
        QJsonArray deleted;
        for (int n : m.deleted) deleted.append(n);
        out["deleted"] = deleted;
        out["failed"] = Failures(r.failures, "record");
    } else {
        for (ImportedTemplate& e : r.templates) e.checked = true;
        m = merge.MergeTemplates(r.templates);
        QJsonArray files;
        for (const QString& f : m.files) files.append(f);
        out["imported"] = files;
        out["failed"] = Failures(r.failures, "template");
    }
    if (!missing.isEmpty()) out["missing"] = missing;
    out["problems"] = Problems(m.problems);
    QJsonArray notices;
    for (const QString& n : m.notices) {
        std::fprintf(stderr, "rivuletrix-cli: %s\n", qPrintable(n));
        notices.append(n);
    }
    out["notices"] = notices;
    out["indexed"] = m.rebuild.stored;
    if (!m.rebuild.stored) {
        std::fprintf(stderr, "rivuletrix-cli: the %s index was not rebuilt: %s\n",
                     records ? "records" : "template",
                     qPrintable(m.rebuild.error.isEmpty() ? QStringLiteral("it cannot be opened")
                                                          : m.rebuild.error));
        failed = true;
    }
    if (m.stopped) {
        std::fprintf(stderr, "rivuletrix-cli: the analyzer went away; the records that had "
                             "arrived whole were copied, but no more were deleted from it\n");
        failed = true;
    }
    failed = failed || !m.problems.isEmpty();
    dev->DisconnectDevice();
    PrintJson(out);
    return failed ? 1 : 0;
}

int Notes(const QStringList& args) {
    cli::StderrPrompter prompter;
    const QStringList ports = cli::Positional(args, kValueOptions);
    if (ports.size() != 1) return cli::Fail(QStringLiteral("usage: import notes PORT --out FILE"));
    QString path, error;
    if (!notesfile::Resolve(cli::Option(args, QStringLiteral("--out")), path, &error))
        return cli::Fail(error);
    auto dev = cli::OpenAnalyzer(ports[0], error);
    if (!dev) return cli::Fail(error);
    ImportDownload job(*dev, ImportDownload::Mode::Notes, path);
    job.RunHere();
    const ImportDownload::Result r = job.GetResult();
    dev->DisconnectDevice();
    if (!r.ok) return cli::Fail(r.error);
    PrintJson(QJsonObject{{"notes", path}, {"bytes", QFileInfo(path).size()}});
    return 0;
}

int Import(const QStringList& args) {
    const QString what = args.value(0);
    const QStringList rest = args.mid(1);
    if (what == QLatin1String("records") || what == QLatin1String("templates"))
        return Transfer(what, rest);
    if (what == QLatin1String("notes")) return Notes(rest);
    return cli::Fail(QStringLiteral("usage: %1").arg(QLatin1String(kUsage)));
}

const CliCommand importCommand("import", kUsage, Import);

} // namespace
