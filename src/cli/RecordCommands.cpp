// rivuletrix-cli record show|samples|flow|name: reading records without a
// screen.
#include "CliCommand.h"

#include "base/CodePage.h"
#include "base/CsvField.h"
#include "records/RivuletrixDoc.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <charconv>

namespace {

const QStringList kValueOptions = {QStringLiteral("--step"),      QStringLiteral("--index"),
                                   QStringLiteral("--window"),    QStringLiteral("--type"),
                                   QStringLiteral("--date"),      QStringLiteral("--time"),
                                   QStringLiteral("--transducer")};

bool ParseInt(const QString& text, int& value) {
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

// Reads FILE (and --step) into doc; an error message or empty.
QString Load(const QStringList& args, CRivuletrixDoc& doc) {
    const QStringList pos = cli::Positional(args, kValueOptions);
    if (pos.size() < 2) return QStringLiteral("missing record file");
    const QString path = pos[1];
    if (!QFileInfo(path).isFile()) return QStringLiteral("cannot read %1: no such file").arg(path);
    int step = 1;
    if (args.contains(QStringLiteral("--step")) &&
        (!ParseInt(cli::Option(args, QStringLiteral("--step")), step) || step < 1))
        return QStringLiteral("--step takes a step number from 1");
    doc.StepToShow = step;
    QString error;
    if (!doc.ReadRecordFile(path, &error))
        return QStringLiteral("cannot read %1: %2").arg(path, error);
    return {};
}

void AppendFixed2(QByteArray& out, double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    out.append(buf, r.ptr - buf);
}

void AppendInt(QByteArray& out, long long v) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

int Show(const CRivuletrixDoc& d) {
    QJsonObject o;
    o[QStringLiteral("InstSerialNum")] = d.InstSerialNum;
    o[QStringLiteral("InstVersion")] = d.InstVersion;
    o[QStringLiteral("ChannelNo")] = d.ChannelNo + 1;
    o[QStringLiteral("TdSerialNum")] = d.TdSerialNum;
    o[QStringLiteral("TdVersion")] = d.TdVersion;
    o[QStringLiteral("RepHeader1")] = d.RepHeader1;
    o[QStringLiteral("RepHeader2")] = d.RepHeader2;
    o[QStringLiteral("RepHeader3")] = d.RepHeader3;
    o[QStringLiteral("ControlNumber")] = d.ControlNumber;
    o[QStringLiteral("Operator")] = d.Operator;
    o[QStringLiteral("Manufacture")] = d.Manufacture;
    o[QStringLiteral("Model")] = d.Model;
    o[QStringLiteral("SerialNumber")] = d.SerialNumber;
    o[QStringLiteral("Location")] = d.Location;
    o[QStringLiteral("TestType")] = QString(QLatin1Char(d.TestType));
    o[QStringLiteral("SetFlowRate")] = d.SetFlowRate;
    o[QStringLiteral("SetVolume")] = d.SetVolume;
    o[QStringLiteral("SetBasalFlowRate")] = d.SetBasalFlowRate;
    o[QStringLiteral("SetPcaVolume")] = d.SetPcaVolume;
    o[QStringLiteral("SetPcaTime")] = d.SetPcaTime;
    o[QStringLiteral("StartDate")] = d.StartDate;
    o[QStringLiteral("StartTime")] = d.StartTime;
    o[QStringLiteral("InstModel")] = d.InstModel;
    o[QStringLiteral("InstDesc")] = d.InstDesc;
    o[QStringLiteral("InstManuf")] = d.InstManuf;
    o[QStringLiteral("Comments")] = d.Comments;
    o[QStringLiteral("SampleCount")] = d.SampleCount();
    o[QStringLiteral("TicksPerSecond")] = d.TicksPerSecond;
    o[QStringLiteral("TemplateName")] = d.TemplateName;
    o[QStringLiteral("TemplateSteps")] = d.TemplateSteps;
    o[QStringLiteral("BolusCount")] = d.BolusCount();
    o[QStringLiteral("VolumeStep")] = qint64(d.VolumeStep());
    o[QStringLiteral("PcaTableRows")] = d.PcaTableRows();
    cli::Print(QJsonDocument(o).toJson(QJsonDocument::Indented));
    return 0;
}

int Samples(const CRivuletrixDoc& d) {
    QByteArray out("index,code,ticks,volume,pressure,flow,average_flow,bolus_edge\n");
    const int n = d.SampleCount();
    out.reserve(out.size() + qsizetype(n) * 48);
    for (int i = 0; i < n; ++i) {
        AppendInt(out, i);
        out.append(',');
        // A blank code is written as it is; CSV readers keep it. A code from a
        // damaged file may be any byte: those a reader or a spreadsheet would
        // act on are written as a safe field.
        const char code = d.StatusAt(i);
        if (std::isalnum(static_cast<unsigned char>(code)) || code == ' ' || code == ':')
            out.append(code);
        else
            out.append(csv::Field(codepage::ToUnicode(&code, 1)));
        out.append(',');
        AppendInt(out, d.ElapsedTicks(i));
        out.append(',');
        AppendInt(out, d.VolumeAt(i));
        out.append(',');
        AppendInt(out, d.PressureAt(i));
        out.append(',');
        AppendFixed2(out, d.FlowOver(i, 1));
        out.append(',');
        AppendFixed2(out, d.AverageFlowAt(i));
        out.append(',');
        AppendInt(out, d.BolusEdgeAt(i));
        out.append('\n');
        if (out.size() > (1 << 20)) {
            cli::Print(out);
            out.clear();
        }
    }
    cli::Print(out);
    return 0;
}

int Flow(const QStringList& args, const CRivuletrixDoc& d) {
    int index = 0, window = 0;
    if (!ParseInt(cli::Option(args, QStringLiteral("--index")), index))
        return cli::Fail(QStringLiteral("--index takes a sample slot"));
    if (!ParseInt(cli::Option(args, QStringLiteral("--window")), window))
        return cli::Fail(QStringLiteral("--window takes a sample count (negative: volume units)"));
    QByteArray out;
    AppendFixed2(out, d.FlowOver(index, window));
    out.append('\n');
    cli::Print(out);
    return 0;
}

int Name(const QStringList& args) {
    const QString type = cli::Option(args, QStringLiteral("--type"));
    if (type.size() != 1 || type[0].unicode() > 0x7F)
        return cli::Fail(QStringLiteral("--type takes one character (F, O or P)"));
    CRivuletrixDoc doc;
    doc.TestType = char(type[0].unicode());
    doc.StartDate = cli::Option(args, QStringLiteral("--date"));
    doc.StartTime = cli::Option(args, QStringLiteral("--time"));
    doc.TdSerialNum = cli::Option(args, QStringLiteral("--transducer"));
    const QString name = doc.MakeRecordFileName(cli::Flag(args, QStringLiteral("--template")));
    if (name.isEmpty())
        return cli::Fail(QStringLiteral("no file name can be made from these values"));
    cli::Print(name.toUtf8() + '\n');
    return 0;
}

int Record(const QStringList& args) {
    const QString verb = args.value(0);
    if (verb == QLatin1String("name")) return Name(args);
    if (verb != QLatin1String("show") && verb != QLatin1String("samples") &&
        verb != QLatin1String("flow"))
        return cli::Fail(QStringLiteral("record takes show, samples, flow or name"));
    CRivuletrixDoc doc;
    const QString error = Load(args, doc);
    if (!error.isEmpty()) return cli::Fail(error);
    if (verb == QLatin1String("show")) return Show(doc);
    if (verb == QLatin1String("samples")) return Samples(doc);
    return Flow(args, doc);
}

const CliCommand
    kRecord("record",
            "record show FILE [--step N] | record samples FILE [--step N] | "
            "record flow FILE --index I --window N | "
            "record name --type C --date DD-Mmm-YYYY --time HH:MM:SS --transducer S [--template]",
            Record);

} // namespace
