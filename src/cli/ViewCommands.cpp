// rivuletrix-cli render: draws a record as its channel window would, into a
// PNG (screen) or a PDF page (paper).
#include "CliCommand.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"
#include "view/GraphRenderer.h"
#include "view/TrumpetCurve.h"
#include "view/ViewState.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

namespace {

const QStringList kValueOptions = {QStringLiteral("--out"), QStringLiteral("--size"),
                                   QStringLiteral("--step"), QStringLiteral("--unit")};

int Render(const QStringList& args) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return cli::Fail(QStringLiteral("render needs the graphical application object"));
    const QStringList pos = cli::Positional(args, kValueOptions);
    if (pos.isEmpty()) return cli::Fail(QStringLiteral("missing record file"));
    const QString path = pos[0];
    const QString out = cli::Option(args, QStringLiteral("--out"));
    if (out.isEmpty()) return cli::Fail(QStringLiteral("--out PICTURE.png|PICTURE.pdf is needed"));

    int width = 1280, height = 800;
    if (args.contains(QStringLiteral("--size"))) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$"))
                                              .match(cli::Option(args, QStringLiteral("--size")));
        if (!m.hasMatch()) return cli::Fail(QStringLiteral("--size takes WxH, e.g. 1920x1080"));
        width = m.captured(1).toInt();
        height = m.captured(2).toInt();
        if (width < 1 || height < 1 || width > 20000 || height > 20000)
            return cli::Fail(QStringLiteral("--size out of range"));
    }
    int step = 1;
    if (args.contains(QStringLiteral("--step"))) {
        bool ok = false;
        step = cli::Option(args, QStringLiteral("--step")).toInt(&ok);
        if (!ok || step < 1) return cli::Fail(QStringLiteral("--step takes a step number from 1"));
    }

    CRivuletrixDoc doc;
    // Values a record window takes from the settings, when there are any.
    const AppSettings settings;
    const auto setting = [&](const char* key) {
        return GraphRenderer::QuietSetting(settings, QString::fromLatin1(key)).trimmed();
    };
    doc.DefaultTolerance = setting("FlowTolerance").toInt();
    const QString widthText = setting("GraphLineWidth");
    const int lineWidth = widthText.isEmpty() ? 1 : GraphRenderer::LineWidthFromText(widthText);
    const QString unitName = setting("DefaultPressureUnit");

    if (!QFileInfo(path).isFile())
        return cli::Fail(QStringLiteral("cannot read %1: no such file").arg(path));
    doc.StepToShow = step;
    QString error;
    if (!doc.ReadRecordFile(path, &error))
        return cli::Fail(QStringLiteral("cannot read %1: %2").arg(path, error));

    ViewState st;
    st.SetTypeDefaults(doc.TestType);
    if (PressureUnitFromName(unitName) >= 0) st.pressureUnit = PressureUnitFromName(unitName);
    if (args.contains(QStringLiteral("--unit"))) {
        const int unit = PressureUnitFromName(cli::Option(args, QStringLiteral("--unit")));
        if (unit < 0) return cli::Fail(QStringLiteral("--unit takes mmHg, psi or kPa"));
        st.pressureUnit = unit;
    }
    st.showTrumpet = cli::Flag(args, QStringLiteral("--trumpet"));
    if (st.showTrumpet && doc.TestType != 'F')
        return cli::Fail(QStringLiteral("the trumpet curve is drawn for Flow records only"));
    RenderOptions options;
    options.lineWidth = lineWidth;

    // The screen picture first: it places the boxes, as the window does.
    QImage image(width, height, QImage::Format_RGB32);
    GraphRenderer::Result r;
    for (int pass = 0; pass < 2; ++pass) {
        image.fill(Qt::white);
        QPainter p(&image);
        RenderTarget t;
        t.width = width;
        t.height = height;
        t.dpiX = image.logicalDpiX();
        t.dpiY = image.logicalDpiY();
        r = GraphRenderer::Render(p, doc, st, t, options);
        if (!r.needsRedraw) break;
    }
    if (r.trumpetFailed) return cli::Fail(TrumpetCurve::FailureText().trimmed());

    if (out.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        QPdfWriter pdf(out);
        pdf.setResolution(300);
        pdf.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        QPainter p;
        if (!p.begin(&pdf)) return cli::Fail(QStringLiteral("cannot write %1").arg(out));
        RenderTarget t;
        t.paper = true;
        t.width = pdf.width();
        t.height = pdf.height();
        t.dpiX = pdf.logicalDpiX();
        t.dpiY = pdf.logicalDpiY();
        st.showTrumpet = cli::Flag(args, QStringLiteral("--trumpet"));
        GraphRenderer::Render(p, doc, st, t, options);
        p.end();
        return 0;
    }
    if (!image.save(out, "PNG")) return cli::Fail(QStringLiteral("cannot write %1").arg(out));
    return 0;
}

const CliCommand kRender(
    "render",
    "render FILE --out PICTURE.png|.pdf [--size WxH] [--trumpet] [--step N] [--unit mmHg|psi|kPa]",
    Render);

} // namespace
