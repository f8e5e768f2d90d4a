// rivuletrix-cli trumpet: the numbers of a Flow record's trumpet curve, as a
// table or as JSON, from the computation the view draws.
#include "CliCommand.h"

#include "records/RivuletrixDoc.h"
#include "view/TrumpetCurve.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonValue Value(bool has, double v) {
    return has ? QJsonValue(v) : QJsonValue();
}

QByteArray Json(const TrumpetCurve& c) {
    QJsonArray windows;
    for (int p = c.stepMinutes; p <= TrumpetCurve::kMaxWindow; ++p)
        windows.append(
            QJsonObject{{QStringLiteral("minutes"), p},
                        {QStringLiteral("min_error"), Value(c.HasMin(p), c.minError[p])},
                        {QStringLiteral("max_error"), Value(c.HasMax(p), c.maxError[p])}});
    const QJsonObject o{{QStringLiteral("step_minutes"), c.stepMinutes},
                        {QStringLiteral("points"), c.n},
                        {QStringLiteral("overall_error"), c.overallError},
                        {QStringLiteral("windows"), windows}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray Table(const TrumpetCurve& c) {
    QByteArray out;
    const auto line = [&](const TrumpetCurve::Row& r) {
        out += QStringLiteral("%1 %2 %3")
                   .arg(r.window, 12)
                   .arg(r.minError, 8)
                   .arg(r.maxError, 8)
                   .trimmed()
                   .toUtf8();
        out += '\n';
    };
    for (const TrumpetCurve::Row& r : c.TableRows()) line(r);
    out += '\n';
    line(c.OverallRow());
    return out;
}

int Trumpet(const QStringList& args) {
    const QStringList pos = cli::Positional(args, {QStringLiteral("--step")});
    if (pos.isEmpty()) return cli::Fail(QStringLiteral("missing record file"));
    const QString path = pos[0];
    int step = 1;
    if (args.contains(QStringLiteral("--step"))) {
        bool ok = false;
        step = cli::Option(args, QStringLiteral("--step")).toInt(&ok);
        if (!ok || step < 1) return cli::Fail(QStringLiteral("--step takes a step number from 1"));
    }
    if (!QFileInfo(path).isFile())
        return cli::Fail(QStringLiteral("cannot read %1: no such file").arg(path));
    CRivuletrixDoc doc;
    doc.StepToShow = step;
    QString error;
    if (!doc.ReadRecordFile(path, &error))
        return cli::Fail(QStringLiteral("cannot read %1: %2").arg(path, error));
    if (doc.TestType != 'F')
        return cli::Fail(QStringLiteral("the trumpet curve is computed for Flow records only"));
    const TrumpetCurve curve = TrumpetCurve::Compute(doc);
    if (!curve.ok) return cli::Fail(TrumpetCurve::FailureText().trimmed());
    cli::Print(cli::Flag(args, QStringLiteral("--json")) ? Json(curve) : Table(curve));
    return 0;
}

const CliCommand kTrumpet("trumpet", "trumpet FILE [--json] [--step N]", Trumpet);

} // namespace
