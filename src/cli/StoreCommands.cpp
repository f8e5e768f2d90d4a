// rivuletrix-cli index|template: the records index, the template index and
// template files without a screen.
#include "CliCommand.h"

#include "base/AppSettings.h"
#include "base/CheckedSaveFile.h"
#include "records/Template.h"
#include "store/IndexMigration.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"

#include "store/AdoDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

const QStringList kValueOptions = {QStringLiteral("--data-folder"),
                                   QStringLiteral("--from-data-folder")};

// JSON written by hand so that keys keep the documented order.
QByteArray JsonString(const QString& s) {
    const QByteArray array = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QByteArray(buf, int(r.ptr - buf));
}

class JsonObjectWriter {
public:
    JsonObjectWriter& Add(const char* key, const QByteArray& raw) {
        m_out += (m_first ? "{" : ", ") + JsonString(QLatin1String(key)) + ": " + raw;
        m_first = false;
        return *this;
    }
    JsonObjectWriter& Add(const char* key, const QString& s) { return Add(key, JsonString(s)); }
    JsonObjectWriter& Add(const char* key, int v) { return Add(key, QByteArray::number(v)); }
    JsonObjectWriter& Add(const char* key, double v) { return Add(key, JsonNumber(v)); }
    QByteArray Done() const { return m_first ? QByteArray("{}") : m_out + "}"; }

private:
    QByteArray m_out;
    bool m_first = true;
};

// The data folder of --data-folder, else of the settings.
QString DataFolder(const QStringList& args, const AppSettings& settings) {
    const QString folder = cli::Option(args, QStringLiteral("--data-folder"));
    return folder.isEmpty() ? settings.GetDataPath() : folder;
}

// Rebuild progress on standard output, unreadable files on standard error.
RebuildCallbacks PrintedProgress() {
    RebuildCallbacks cb;
    cb.onFile = [](int n, const QString& file) {
        cli::Print(QStringLiteral("Adding file %1 (%2) to the index.\n").arg(n).arg(file).toUtf8());
    };
    cb.onUnreadable = [](const QString& file, const QString& error) {
        std::fprintf(stderr, "rivuletrix-cli: cannot read %s: %s\n", qPrintable(file),
                     qPrintable(error));
    };
    return cb;
}

// 0 when the rebuilt rows were stored; otherwise the old rows stay and the
// failure is told.
int ReportRebuild(const RebuildResult& r, const QString& index) {
    if (!r.ran) return cli::Fail(QStringLiteral("the %1 could not be rebuilt").arg(index));
    if (!r.stored)
        return cli::Fail(QStringLiteral("%1 could not be rebuilt: its rows could not be stored "
                                        "(%2). The index keeps its previous rows.")
                             .arg(QStringLiteral("The ") + index, r.error));
    cli::Print(QStringLiteral("Index Operation Complete\n\n%1 Files Processed.\n")
                   .arg(r.filesProcessed)
                   .toUtf8());
    return 0;
}

int RebuildRecords(const QStringList& args, const AppSettings& settings, const QString& folder) {
    RecordIndex index(settings);
    index.SetDataFolder(folder);
    index.SetStartupFinished(true);
    if (!index.Open())
        return cli::Fail(
            QStringLiteral(
                "Unable to open the database, please make sure the current path is valid.\n%1")
                .arg(index.LastError()));
    // On failure the request to rebuild stays too.
    const int rc =
        ReportRebuild(index.Rebuild(RecordIndex::RebuildKind::IndexBuild, PrintedProgress()),
                      QStringLiteral("records index"));
    if (rc != 0) return rc;
    // The request to rebuild is met, unless another folder was rebuilt.
    if (cli::Option(args, QStringLiteral("--data-folder")).isEmpty())
        settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                              QStringLiteral("0"));
    return 0;
}

int RebuildTemplates(const AppSettings& settings, const QString& folder) {
    TemplateStore store(settings);
    store.SetDataFolder(folder);
    if (!store.Open())
        return cli::Fail(
            QStringLiteral("Template database not found/corrupted.\n%1").arg(store.LastError()));
    return ReportRebuild(
        store.RebuildTemplateIndex(TemplateStore::RebuildKind::Full, PrintedProgress()),
        QStringLiteral("template index"));
}

// The rows as a JSON list, one object a line.
template <class Row, class ToJson> QByteArray JsonList(const QList<Row>& rows, ToJson toJson) {
    QByteArray out = "[";
    for (qsizetype i = 0; i < rows.size(); ++i) out += (i ? ",\n " : "") + toJson(rows[i]);
    return out + "]\n";
}

// Runs use on the records index of folder; fails when it does not open.
template <class Use>
int WithRecordIndex(const AppSettings& settings, const QString& folder, Use use) {
    RecordIndex index(settings);
    index.SetDataFolder(folder);
    if (!index.Open())
        return cli::Fail(
            QStringLiteral("cannot open the records index: %1").arg(index.LastError()));
    return use(index);
}

int ListRecords(const AppSettings& settings, const QString& folder) {
    return WithRecordIndex(settings, folder, [](RecordIndex& index) {
        QList<RecordListRow> rows;
        // False for an empty index too: only a server that stopped answering
        // (its connection cut) is a failure.
        if (!index.ListRows(rows) && !index.IsOpen())
            return cli::Fail(
                QStringLiteral("cannot read the records index: %1").arg(index.ErrorDescription()));
        cli::Print(JsonList(rows, [](const RecordListRow& r) {
            return JsonObjectWriter()
                .Add("ControlNumber", r.controlNumber)
                .Add("TypeofTest", r.typeOfTest)
                .Add("StartDate", r.startDate)
                .Add("StartTime", r.startTime)
                .Add("SetFlowRate", r.setFlowRate)
                .Add("Manufacture", r.manufacture)
                .Add("SerialNumber", r.serialNumber)
                .Add("Model", r.model)
                .Add("TdSerialNum", r.tdSerialNum)
                .Add("InstSerialNum", r.instSerialNum)
                .Add("Filename", r.fileName)
                .Done();
        }));
        return 0;
    });
}

int ListTemplates(const AppSettings& settings, const QString& folder) {
    TemplateStore store(settings);
    store.SetDataFolder(folder);
    if (!store.Open())
        return cli::Fail(
            QStringLiteral("cannot open the template index: %1").arg(store.LastError()));
    QList<TemplateRow> rows;
    store.ListRows(rows);
    cli::Print(JsonList(rows, [](const TemplateRow& r) {
        return JsonObjectWriter()
            .Add("TemplateName", r.name)
            .Add("Inst SerialNumber", r.instSerialNumber)
            .Add("Device Comments", r.deviceComments)
            .Add("No of Steps", r.stepCount)
            .Add("Filename", r.fileName)
            .Done();
    }));
    return 0;
}

int Find(const AppSettings& settings, const QString& folder, const QString& control) {
    return WithRecordIndex(settings, folder, [&control](RecordIndex& index) {
        EquipmentDetails d;
        if (!index.FindEquipment(control, d)) {
            cli::Print("{\"Found\": false}\n");
            return 1;
        }
        cli::Print(JsonObjectWriter()
                       .Add("Found", QByteArray("true"))
                       .Add("ControlNumber", d.controlNumber)
                       .Add("Operator", d.operatorName)
                       .Add("Manufacture", d.manufacture)
                       .Add("Model", d.model)
                       .Add("SerialNumber", d.serialNumber)
                       .Add("Location", d.location)
                       .Add("Comments", d.comments)
                       .Done() +
                   "\n");
        return 0;
    });
}

int Migrate(const QStringList& args, const AppSettings& settings) {
    const QString from = cli::Option(args, QStringLiteral("--from-data-folder"));
    if (from.isEmpty())
        return cli::Fail(QStringLiteral("index migrate: --from-data-folder DIR names the data "
                                        "folder whose index files are copied"));
    bool any = false;
    for (store::DbKind kind : {store::DbKind::Records, store::DbKind::Templates})
        any = any || QFileInfo(QDir(from).filePath(store::DatabaseFileName(kind))).isFile();
    if (!any)
        return cli::Fail(QStringLiteral("index migrate: %1 holds neither %2 nor %3")
                             .arg(from, store::DatabaseFileName(store::DbKind::Records),
                                  store::DatabaseFileName(store::DbKind::Templates)));
    const store::MigrationResult r =
        store::MigrateToServer(settings, from, cli::Flag(args, QStringLiteral("--append")));
    if (!r.ok) return cli::Fail(QStringLiteral("index migrate: %1").arg(r.error));
    cli::Print(QStringLiteral("Copied %1 record rows and %2 template rows to %3.\n")
                   .arg(r.records)
                   .arg(r.templates)
                   .arg(CADODatabase::DisplayUri(settings.IndexServer()))
                   .toUtf8());
    return 0;
}

int Index(const QStringList& args) {
    const QStringList pos = cli::Positional(args, kValueOptions);
    if (pos.isEmpty()) return cli::Fail(QStringLiteral("index: rebuild, list, find or migrate"));
    AppSettings settings;
    if (pos[0] == QLatin1String("migrate")) return Migrate(args, settings);
    const QString folder = DataFolder(args, settings);
    if (folder.isEmpty())
        return cli::Fail(
            QStringLiteral("no data folder: the settings name none; use --data-folder DIR"));
    const QString what = pos[0];
    const bool records = cli::Flag(args, QStringLiteral("--records"));
    const bool templates = cli::Flag(args, QStringLiteral("--templates"));
    if (what == QLatin1String("rebuild")) {
        int rc = 0;
        if (records || !templates) rc = RebuildRecords(args, settings, folder);
        if (rc == 0 && (templates || !records)) rc = RebuildTemplates(settings, folder);
        return rc;
    }
    if (what == QLatin1String("list"))
        return templates ? ListTemplates(settings, folder) : ListRecords(settings, folder);
    if (what == QLatin1String("find")) {
        if (pos.size() < 2) return cli::Fail(QStringLiteral("index find: missing control number"));
        return Find(settings, folder, pos[1]);
    }
    return cli::Fail(QStringLiteral("index: unknown action %1").arg(what));
}

QByteArray TemplateJson(const Template& t) {
    QByteArray steps = "[";
    for (int i = 0; i < Template::kSlots; ++i) {
        const TemplateStep& s = t.steps[size_t(i)];
        steps += (i ? ",\n    " : "\n    ") + JsonObjectWriter()
                                                  .Add("Type", s.type)
                                                  .Add("Volume", s.volume)
                                                  .Add("Unit", s.unit)
                                                  .Add("Rate", s.rate)
                                                  .Add("Tolerance", s.tolerance)
                                                  .Add("Hours", s.hours)
                                                  .Add("Minutes", s.minutes)
                                                  .Done();
    }
    steps += "]";
    return JsonObjectWriter()
        .Add("StepCount", t.stepCount)
        .Add("Steps", steps)
        .Add("Name", t.name)
        .Add("DeviceComments", t.deviceComments)
        .Add("ThirdText", t.thirdText)
        .Add("InstSerialNumber", t.instSerialNumber)
        .Done();
}

// Reads key when the object has it (absent, out keeps its value); take
// gives the value, or nothing when it is of the wrong kind.
template <class T, class Take>
bool JsonField(const QJsonObject& o, const char* key, T& out, QString& error, const char* mustBe,
               Take take) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return true;
    const std::optional<T> value = take(v);
    if (!value) {
        error = QStringLiteral("\"%1\" must be %2").arg(QLatin1String(key), QLatin1String(mustBe));
        return false;
    }
    out = *value;
    return true;
}

// A JSON number that is a whole 32-bit integer.
bool JsonInt(const QJsonObject& o, const char* key, int32_t& out, QString& error) {
    return JsonField(
        o, key, out, error, "a whole number", [](const QJsonValue& v) -> std::optional<int32_t> {
            const double d = v.toDouble(std::nan(""));
            if (!v.isDouble() || d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0)
                return std::nullopt;
            return int32_t(d);
        });
}

bool JsonDouble(const QJsonObject& o, const char* key, double& out, QString& error) {
    return JsonField(o, key, out, error, "a number", [](const QJsonValue& v) {
        return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
    });
}

bool JsonText(const QJsonObject& o, const char* key, QString& out, QString& error) {
    return JsonField(o, key, out, error, "text", [](const QJsonValue& v) {
        return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
    });
}

bool TemplateFromJson(const QByteArray& bytes, Template& t, QString& error) {
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &pe);
    if (!doc.isObject()) {
        error = pe.error != QJsonParseError::NoError ? pe.errorString()
                                                     : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    if (!JsonInt(o, "StepCount", t.stepCount, error)) return false;
    if (t.stepCount < 0 || t.stepCount > Template::kSlots) {
        error = QStringLiteral("\"StepCount\" must be 0..6");
        return false;
    }
    const QJsonValue stepsValue = o.value(QLatin1String("Steps"));
    if (!stepsValue.isUndefined()) {
        const QJsonArray steps = stepsValue.toArray();
        if (!stepsValue.isArray() || steps.size() > Template::kSlots) {
            error = QStringLiteral("\"Steps\" must be a list of at most 6 steps");
            return false;
        }
        for (qsizetype i = 0; i < steps.size(); ++i) {
            if (!steps[i].isObject()) {
                error = QStringLiteral("step %1 is not an object").arg(i + 1);
                return false;
            }
            const QJsonObject s = steps[i].toObject();
            TemplateStep& step = t.steps[size_t(i)];
            if (!JsonInt(s, "Type", step.type, error) ||
                !JsonDouble(s, "Volume", step.volume, error) ||
                !JsonInt(s, "Unit", step.unit, error) || !JsonDouble(s, "Rate", step.rate, error) ||
                !JsonInt(s, "Tolerance", step.tolerance, error) ||
                !JsonInt(s, "Hours", step.hours, error) ||
                !JsonInt(s, "Minutes", step.minutes, error)) {
                error = QStringLiteral("step %1: %2").arg(i + 1).arg(error);
                return false;
            }
        }
    }
    return JsonText(o, "Name", t.name, error) &&
           JsonText(o, "DeviceComments", t.deviceComments, error) &&
           JsonText(o, "ThirdText", t.thirdText, error) &&
           JsonText(o, "InstSerialNumber", t.instSerialNumber, error);
}

int TemplateCommand(const QStringList& args) {
    const QStringList pos = cli::Positional(args, {});
    if (pos.size() < 2)
        return cli::Fail(QStringLiteral("template: show FILE or write FILE < JSON"));
    const QString path = pos[1];
    if (pos[0] == QLatin1String("show")) {
        Template t;
        QString error;
        if (!templatefile::ReadFile(path, t, &error))
            return cli::Fail(QStringLiteral("cannot read %1: %2").arg(path, error));
        cli::Print(TemplateJson(t) + "\n");
        return 0;
    }
    if (pos[0] == QLatin1String("write")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return cli::Fail(QStringLiteral("cannot read standard input"));
        Template t;
        QString error;
        if (!TemplateFromJson(in.readAll(), t, error))
            return cli::Fail(QStringLiteral("bad template: %1").arg(error));
        // A script's file is exactly the template, and replaces an older one
        // only once whole and read back: a full disk keeps the older file.
        if (!checkedfile::Write(path, templatefile::Encode(t), &error))
            return cli::Fail(QStringLiteral("cannot write %1: %2").arg(path, error));
        return 0;
    }
    return cli::Fail(QStringLiteral("template: unknown action %1").arg(pos[0]));
}

const CliCommand indexCommand(
    "index",
    "index rebuild [--records|--templates] | index list [--templates] | index find CONTROL  "
    "[--data-folder DIR] | index migrate --from-data-folder DIR [--append]",
    Index);
const CliCommand templateCommand("template", "template show FILE | template write FILE < JSON",
                                 TemplateCommand);

} // namespace
