// rivuletrix-cli report: the printed report of a record as a PDF file (the
// graph page, or the data-table report), or its data table as CSV.
#include "CliCommand.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"
#include "records/TestTypes.h"
#include "view/DataTable.h"
#include "view/GraphRenderer.h"
#include "view/RecordReport.h"
#include "view/TrumpetCurve.h"
#include "view/ViewState.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>

namespace {

const QStringList kValueOptions = {QStringLiteral("--out"), QStringLiteral("--step"),
                                   QStringLiteral("--page")};

int Report(const QStringList& args) {
    const QStringList pos = cli::Positional(args, kValueOptions);
    if (pos.isEmpty()) return cli::Fail(QStringLiteral("missing record file"));
    const QString path = pos[0];
    const bool csv = cli::Flag(args, QStringLiteral("--csv"));
    const QString out = cli::Option(args, QStringLiteral("--out"));
    if (!csv && out.isEmpty())
        return cli::Fail(QStringLiteral("--out REPORT.pdf or --csv is needed"));
    int step = 1;
    if (args.contains(QStringLiteral("--step"))) {
        bool ok = false;
        step = cli::Option(args, QStringLiteral("--step")).toInt(&ok);
        if (!ok || step < 1) return cli::Fail(QStringLiteral("--step takes a step number from 1"));
    }
    QPageSize page(QPageSize::A4);
    if (args.contains(QStringLiteral("--page"))) {
        const QString name = cli::Option(args, QStringLiteral("--page"));
        if (name.compare(QLatin1String("A4"), Qt::CaseInsensitive) == 0)
            page = QPageSize(QPageSize::A4);
        else if (name.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0)
            page = QPageSize(QPageSize::Letter);
        else
            return cli::Fail(QStringLiteral("--page takes A4 or Letter"));
    }
    if (!QFileInfo(path).isFile())
        return cli::Fail(QStringLiteral("cannot read %1: no such file").arg(path));

    CRivuletrixDoc doc;
    const AppSettings settings;
    const auto setting = [&](const char* key) {
        return GraphRenderer::QuietSetting(settings, QString::fromLatin1(key)).trimmed();
    };
    doc.DefaultTolerance = setting("FlowTolerance").toInt();
    doc.StepToShow = step;
    QString error;
    if (!doc.ReadRecordFile(path, &error))
        return cli::Fail(QStringLiteral("cannot read %1: %2").arg(path, error));
    // An empty file or other bytes read as a record with no test: nothing
    // to report on.
    if (!IsTestType(doc.TestType))
        return cli::Fail(QStringLiteral("cannot read %1: Failed to open document. It is not a "
                                        "test record.")
                             .arg(path));
    if (doc.TemplateSteps > 0 && step > doc.TemplateSteps)
        return cli::Fail(
            QStringLiteral("--step %1: the record has %2 steps").arg(step).arg(doc.TemplateSteps));

    if (csv) {
        DataTable table(doc);
        table.Sync();
        if (!cli::PrintChecked(table.Csv(), &error))
            return cli::Fail(QStringLiteral("cannot write the data table: %1").arg(error));
        return 0;
    }

    ViewState st;
    st.SetTypeDefaults(doc.TestType);
    const int unit = PressureUnitFromName(setting("DefaultPressureUnit"));
    if (unit >= 0) st.pressureUnit = unit;
    st.showDataTable = cli::Flag(args, QStringLiteral("--table"));
    // The page Print gives while the view shows the trumpet curve.
    st.showTrumpet = cli::Flag(args, QStringLiteral("--trumpet"));
    if (st.showTrumpet) {
        if (st.showDataTable)
            return cli::Fail(QStringLiteral("--trumpet and --table exclude each other"));
        if (doc.TestType != 'F')
            return cli::Fail(QStringLiteral("the trumpet curve is drawn for Flow records only"));
        if (!TrumpetCurve::Compute(doc).ok) return cli::Fail(TrumpetCurve::FailureText().trimmed());
    }
    ReportSetup setup;
    setup.table = st.showDataTable;
    // As Print in the program: the working folder's header lines when it
    // has settings, the record's own otherwise.
    if (!GraphRenderer::QuietSettingsFile(settings).isEmpty())
        setup.reportHeaders = QStringList{setting("ReportHeader1"), setting("ReportHeader2"),
                                          setting("ReportHeader3")};
    const QString widthText = setting("GraphLineWidth");
    setup.render.lineWidth = widthText.isEmpty() ? 1 : GraphRenderer::LineWidthFromText(widthText);
    {
        // The window's picture first: it places the boxes that the page
        // carries over.
        QImage image(1280, 800, QImage::Format_RGB32);
        for (int pass = 0; pass < 2; ++pass) {
            QPainter p(&image);
            RenderTarget t;
            t.width = image.width();
            t.height = image.height();
            if (!GraphRenderer::Render(p, doc, st, t, setup.render).needsRedraw) break;
        }
    }
    const auto orientation = cli::Flag(args, QStringLiteral("--landscape")) ? QPageLayout::Landscape
                                                                            : QPageLayout::Portrait;
    const QPageLayout layout(page, orientation, QMarginsF(0, 0, 0, 0));
    int pages = 0;
    if (!RecordReport::WritePdf(out, doc, st, setup, layout, &error, &pages))
        return cli::Fail(error);
    cli::Print(QStringLiteral("%1: %2 pages\n").arg(out).arg(pages).toUtf8());
    return 0;
}

const CliCommand kReport("report",
                         "report FILE --out REPORT.pdf [--table | --trumpet] [--landscape] "
                         "[--step N] [--page A4|Letter] | report FILE --csv [--step N]\n"
                         "      (the report header lines are ReportHeader1..3 of the working "
                         "folder's settings when there are settings, the record's own otherwise)",
                         Report);

} // namespace
