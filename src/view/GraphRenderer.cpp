#include "GraphRenderer.h"

#include "view/DataTable.h"
#include "view/DetailsBoxes.h"
#include "view/GraphLayout.h"
#include "view/KeyBox.h"
#include "view/SeriesCache.h"
#include "view/SeriesPainter.h"
#include "view/TrumpetCurve.h"
#include "view/TrumpetRenderer.h"

#include "base/AppSettings.h"
#include "base/IniFile.h"
#include "base/Trace.h"
#include "records/RivuletrixDoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>

// ---------------------------------------------------------------- context

int RenderContext::XOf(uint32_t ticks) const {
    return layout::Clamp16(int64_t(st.left) + int64_t(ticks / st.timeScale));
}

void RenderContext::TextOut(int x, int y, const QString& s) const {
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), s);
}

void RenderContext::TextOutRight(int xRight, int y, const QString& s) const {
    TextOut(xRight - TextWidth(s), y, s);
}

void RenderContext::VerticalText(int x, int y, const QString& s) const {
    p.save();
    p.setFont(vertFont);
    p.translate(x, y);
    p.rotate(-90);
    p.drawText(QPoint(0, p.fontMetrics().ascent()), s);
    p.restore();
}

int RenderContext::TextWidth(const QString& s) const {
    return p.fontMetrics().horizontalAdvance(s);
}

QFont RenderContext::PointFont(int points, int weight) const {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(std::max(1, t.dpiY * points / 72));
    f.setWeight(QFont::Weight(weight));
    return f;
}

namespace {

// ---------------------------------------------------------------- axes

// Plot rectangle, axis lines, the Y axes and the time axis. Returns false
// when the plot is too small to draw into.
bool DrawGraphAxis(RenderContext& c) {
    ViewState& st = c.st;
    const CRivuletrixDoc& d = c.doc;
    QPainter& p = c.p;
    const int w = c.charW, h = c.charH;
    st.leftMargin = 6 * w;
    st.rightMargin = 5 * w;
    st.vertMargin = 3 * h;
    int flowLabelOffset = 2;
    c.axisPen = 1;
    if (c.t.paper) {
        st.leftMargin += c.vertCharH;
        st.rightMargin += c.vertCharH;
        flowLabelOffset = c.vertCharH;
        if (c.t.dpiX > 300 || c.t.dpiY > 300) c.axisPen = 2;
        const int mx = c.t.dpiX / 2, my = c.t.dpiY / 2;
        st.width = c.t.width - st.leftMargin - st.rightMargin - 2 * mx;
        st.height = c.t.height - 2 * st.vertMargin - 2 * my;
        if (c.t.Portrait()) st.height /= 2;
        st.left = st.leftMargin + mx;
        st.bottom = c.t.Portrait() ? st.height + my : st.height + my + c.vertCharH;
    } else {
        st.width = c.t.width - 20 - st.leftMargin - st.rightMargin;
        st.height = c.t.height - 2 * st.vertMargin;
        st.left = st.leftMargin;
        st.bottom = c.t.height - st.vertMargin;
    }
    if (st.topLimit == 0) st.topLimit = c.vertCharH;
    const int top = st.bottom - st.height;
    if (c.t.paper) {
        p.setClipRect(QRect(QPoint(c.t.dpiX / 4, c.t.dpiY / 3),
                            QPoint(c.t.width - c.t.dpiX / 4, c.t.height - c.t.dpiY / 4)));
        st.topLimit = c.t.dpiY / 3;
    } else {
        if (!c.t.preview)
            p.setClipRect(QRect(QPoint(st.left - 50, top - 20),
                                QPoint(st.left + st.width + 70, st.bottom + 70)));
        st.topLimit = top - 20;
    }
    st.savedBottom = st.bottom;
    if (st.width < 2 || st.height < 2) {
        p.setClipping(false);
        return false;
    }

    p.setPen(Qt::black);
    const QPen axisPen(Qt::black, c.axisPen);
    const QPen gridPen(viewcolor::kGrid, 1, Qt::DotLine);
    const bool occlusion = d.TestType == 'O';
    std::vector<QLine> grid, ticks;

    // ---- Flow axis (left) ----
    if (!occlusion) {
        if (!c.t.paper)
            c.TextOut(st.left - st.leftMargin, top - h, QStringLiteral(" ml/h"));
        else
            c.VerticalText(st.left - st.leftMargin, st.bottom - st.height / 2 + 8 * c.vertCharW,
                           QStringLiteral("Flow Rate (ml/h)"));
        if (!st.y.manual) st.y.flowRange = st.flowMax;
        const double scale = layout::AxisScale(st.y.flowRange, st.height, 5);
        st.flowScale = scale;
        qCDebug(lcTrace, "m_dFlowScaleFactor = %f", scale);
        const double span = st.height * scale;
        const int64_t step = layout::GrowStep(layout::FlowBaseStep(span), scale, h);
        int prevLabelY = -1, prevTickY = -1;
        for (int64_t v = 0; double(v) <= span; v += step) {
            const int y = int(double(v) / scale);
            ticks.emplace_back(st.left, st.bottom - y, st.left - w / 2, st.bottom - y);
            if (st.grid && st.bottom - y <= st.height + st.vertMargin)
                grid.emplace_back(st.left, st.bottom - y, st.left + st.width, st.bottom - y);
            if (prevTickY >= 0) (c.t.paper ? st.paperTickH : st.screenTickH) = y - prevTickY;
            prevTickY = y;
            if (y < st.height - h / 2) {
                if (y < prevLabelY) break;
                if (d.TestType == 'F' || d.TestType == 'P')
                    c.TextOut(st.left - st.leftMargin + flowLabelOffset, st.bottom - y - h / 2,
                              layout::FlowLabel(v, step));
                prevLabelY = y;
            }
        }
    }

    // ---- Pressure axis (left, Occlusion) ----
    if (occlusion) {
        static const char* names[] = {"mmHg", "psi", "kPa"};
        static const char* titles[] = {"Pressure (mmHg)", "Pressure (psi)", "Pressure (kPa)"};
        const int unit = std::clamp(st.pressureUnit, 0, 2);
        if (!c.t.paper)
            c.TextOut(st.left - st.leftMargin, top - h, QString::fromLatin1(names[unit]));
        else
            c.VerticalText(st.left - st.leftMargin, st.bottom - st.height / 2 + 6 * c.vertCharW,
                           QString::fromLatin1(titles[unit]));
        if (!st.y.manual) st.y.pressureRange = st.pressureMax - st.pressureMin;
        const double scale = layout::AxisScale(st.y.pressureRange, st.height, 5);
        st.pressureScale = scale;
        const layout::UnitFactor u = layout::PressureFactor(unit);
        double span = st.height * scale / u.f;
        const double display = scale / u.f;
        const int64_t step = layout::GrowStep(layout::PressureBaseStep(span), display, h);
        int64_t t = 0;
        if (st.pressureMin != 0) {
            // Negative pressures lift the origin.
            st.bottom -= int(-st.pressureMin / scale);
            t = layout::PressureFirstTick(st.pressureMin, u.f, step);
            if (t < 0) span += double(t);
        }
        int prevTickY = INT_MIN;
        for (int64_t v = t; double(v) < span; v += step) {
            const int y = int(double(v) / display);
            const int yy = st.bottom - y;
            if (yy > st.vertMargin) ticks.emplace_back(st.left, yy, st.left - w / 2, yy);
            if (prevTickY != INT_MIN) (c.t.paper ? st.paperTickH : st.screenTickH) = y - prevTickY;
            prevTickY = y;
            if (y < st.height - h / 2) {
                if (st.grid && v != 0 && yy > st.vertMargin)
                    grid.emplace_back(st.left, yy, st.left + st.width, yy);
                if (yy > st.vertMargin)
                    c.TextOutRight(st.left - w / 2, yy - h / 2,
                                   layout::PressureLabel(double(v), step, u.d));
            }
        }
    }

    // ---- Time axis (bottom) ----
    if (st.timeScale != 0) {
        // width x (maximum / width) can come out a hair under the maximum,
        // which would drop a whole unit (one minute showing as seconds).
        double span = st.width * st.timeScale;
        if (const double whole = std::round(span); std::abs(span - whole) < 1e-6) span = whole;
        const int tps = layout::ViewTicksPerSecond(d.NewModel, d.TicksPerSecond);
        const layout::TimeUnit tu = layout::TimeAxisUnit(span, tps);
        c.timeTitle = tu.title;
        c.TextOut(st.left + st.width - c.TextWidth(tu.title), st.bottom + 1 + c.axisPen, tu.title);
        const int64_t step = layout::TimeStep(tu.unit, st.timeScale, h);
        const int64_t units = int64_t(span) / tu.unit;
        const int64_t stride = std::max<int64_t>(1, step / tu.unit);
        int prevX = -1;
        for (int64_t k = 0; k <= units; k += stride) {
            const int x = int(double(k) * tu.unit / st.timeScale);
            if (x > st.width) break;
            ticks.emplace_back(st.left + x, st.bottom, st.left + x, st.bottom + h / 2);
            if (step >= 3600 * int64_t(tps) && k > 0) {
                for (int64_t j = 4 * (k - stride); j < 4 * k; ++j) {
                    const int xm = int(double(j) * tu.unit / (4 * st.timeScale));
                    ticks.emplace_back(st.left + xm, st.bottom, st.left + xm, st.bottom + h / 3);
                }
            }
            if (st.grid && k != 0)
                grid.emplace_back(st.left + x, st.savedBottom, st.left + x,
                                  st.savedBottom - st.height);
            const QString label = QString::number(k);
            c.TextOut(st.left + x - c.TextWidth(label) / 2, st.bottom + h, label);
            if (prevX >= 0) (c.t.paper ? st.paperTickW : st.screenTickW) = x - prevX;
            prevX = x;
        }
        if (!c.t.paper) {
            st.screenLeft = st.left;
            st.screenBottom = st.savedBottom;
        }
    }

    // ---- Volume axis (right) ----
    if (!occlusion) {
        if (!st.y.manual) st.y.volumeRange = st.volumeMax;
        double scale = layout::AxisScale(st.y.volumeRange, st.height, 10);
        const int64_t span = int64_t(st.height * scale);
        const int base = layout::VolumeBaseStep(span);
        if (scale < 1.0) scale = 1.0;
        st.volumeScale = scale;
        const int64_t step = layout::GrowStep(base, scale, h);
        const int right = st.left + st.width;
        if (!c.t.paper)
            c.TextOut(right, top - h, QStringLiteral("ml"));
        else
            c.VerticalText(right + st.rightMargin - c.vertCharH,
                           st.bottom - st.height / 2 + 10 * c.vertCharW,
                           QStringLiteral("Delivered Volume (ml)"));
        for (int64_t v = 0; v <= span; v += step) {
            const int y = int(double(v) / scale);
            ticks.emplace_back(right, st.bottom - y, right + w / 2, st.bottom - y);
            if (y < st.height - h / 2)
                c.TextOut(right + w / 2, st.bottom - y - h / 2, layout::VolumeLabel(v, step));
        }
    }

    // Grid first, then the axis lines and ticks over it.
    if (!grid.empty()) {
        p.setPen(gridPen);
        p.drawLines(grid.data(), int(grid.size()));
    }
    p.setPen(axisPen);
    p.drawLine(st.left, top, st.left, st.savedBottom);
    if (!occlusion) p.drawLine(st.left + st.width, st.savedBottom, st.left + st.width, top);
    p.drawLine(st.left, st.bottom, st.left + st.width, st.bottom);
    if (!ticks.empty()) p.drawLines(ticks.data(), int(ticks.size()));
    return true;
}

void ReleaseClip(RenderContext& c) {
    c.p.setClipping(false);
}

void DrawSyringe(RenderContext& c) {
    const CRivuletrixDoc& d = c.doc;
    if (!(d.Run.live && d.Run.running && d.TestType != 'O' && !d.Run.primed &&
          !d.Run.dataReceived && !d.Run.cancelled))
        return;
    // A 50 x 34 syringe with a red arrow: a prompt to infuse.
    const int x = c.st.left + 10, y = c.t.dpiY / 2 + 10;
    QPainter& p = c.p;
    p.save();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(230, 240, 255));
    p.drawRect(x + 8, y + 4, 28, 12);
    p.drawLine(x, y + 10, x + 8, y + 10);
    p.drawLine(x, y + 5, x, y + 15);
    p.drawLine(x + 36, y + 10, x + 48, y + 10);
    p.setPen(QPen(viewcolor::kRed, 2));
    p.drawLine(x + 8, y + 28, x + 44, y + 28);
    p.drawLine(x + 44, y + 28, x + 38, y + 23);
    p.drawLine(x + 44, y + 28, x + 38, y + 33);
    p.restore();
}

} // namespace

// ---------------------------------------------------------------- renderer

QString GraphRenderer::TitleLine(const CRivuletrixDoc& d, int templateStepIndex) {
    QString type;
    switch (d.TestType) {
    case 'F':
        type = QStringLiteral("Flow");
        break;
    case 'O':
        type = QStringLiteral("Occlusion");
        break;
    case 'P':
        type = QStringLiteral("PCA/Dual Flow");
        break;
    default:
        type = QStringLiteral("\"Undefined\"");
    }
    const QByteArray t = type.toUtf8();
    const QString name = d.PathName().section(QLatin1Char('/'), -1);
    if (!name.isEmpty() && name.startsWith(QLatin1String("RXr_T")))
        return QString::asprintf("Step %d Template %s Test   Set Flow Rate %0.2f ml/hr",
                                 d.StepToShow, t.constData(), d.SetFlowRate);
    if (templateStepIndex >= 0)
        return QString::asprintf("Step %d Template %s Test Set Flow Rate %0.2f ml/hr",
                                 templateStepIndex + 1, t.constData(), d.SetFlowRate);
    return QString::asprintf("%s Test   Set Flow Rate %0.2f ml/hr", t.constData(), d.SetFlowRate);
}

QString GraphRenderer::QuietSettingsFile(const AppSettings& s) {
    const QString location = QDir(s.WorkingDir()).filePath(settings::kLocationFile);
    if (!QFileInfo::exists(location)) return {};
    const QString folder =
        ini::ReadValue(location, settings::kLocationSection, settings::kLocationKey);
    if (folder.isEmpty()) return {};
    const QString path = QDir(folder).filePath(settings::kSettingsFile);
    return QFileInfo::exists(path) ? path : QString();
}

QString GraphRenderer::QuietSetting(const AppSettings& s, const QString& key) {
    const QString path = QuietSettingsFile(s);
    return path.isEmpty() ? QString() : ini::ReadValue(path, settings::kSection, key);
}

int GraphRenderer::LineWidthFromText(const QString& text) {
    const QByteArray b = text.toLatin1();
    const char* s = b.constData();
    while (*s == ' ' || *s == '\t') ++s;
    bool neg = false;
    if (*s == '+' || *s == '-') neg = *s++ == '-';
    long v = 0;
    while (*s >= '0' && *s <= '9' && v < 100000) v = v * 10 + (*s++ - '0');
    return int(neg ? -v : v);
}

void GraphRenderer::ComputeMaxima(CRivuletrixDoc& d, ViewState& st) {
    SeriesCache& cache = *SeriesCache::For(&d);
    cache.Sync();
    st.flowMax = std::max(st.flowMax, cache.maxAvgFlow);
    if (d.TestType == 'P')
        st.flowMax = std::max(st.flowMax, cache.maxPcaFlow);
    else if (st.showInstFlow)
        st.flowMax = std::max(st.flowMax, cache.maxInstFlow1);
    st.flowMax = std::max(st.flowMax, d.SetFlowRate * 100.0);
    st.timeMax = std::max(d.MinTimeSpan, cache.maxTicks);
    if (d.Run.running) {
        d.LiveWindowMinutes =
            layout::NextLiveWindow(std::max(1, d.LiveWindowMinutes), cache.maxTicks);
        st.timeMax = uint32_t(std::min<int64_t>(int64_t(d.LiveWindowMinutes) * 60000, UINT32_MAX));
    }
    st.volumeMax = cache.maxVolume;
    st.pressureMax = cache.pressureMax;
    st.pressureMin = cache.pressureMin;
    st.pressureMaxIndex = cache.pressureMaxIndex;
    st.pressureMinIndex = cache.pressureMinIndex;
}

GraphRenderer::Result GraphRenderer::Render(QPainter& p, CRivuletrixDoc& doc, ViewState& st,
                                            const RenderTarget& target,
                                            const RenderOptions& options) {
    Result result;
    SeriesCache& cache = *SeriesCache::For(&doc);
    RenderContext c(p, doc, st, cache, target, options);

    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    if (!target.paper) p.fillRect(QRect(0, 0, target.width, target.height), Qt::white);

    c.mainFont = c.PointFont(10);
    c.vertFont = c.mainFont;
    p.setFont(c.mainFont);
    {
        const QFontMetrics fm = p.fontMetrics();
        c.charW = fm.averageCharWidth();
        c.charH = fm.height();
        c.maxCharW = fm.maxWidth();
        c.extLeading = fm.leading();
        c.vertCharW = c.charW;
        c.vertCharH = c.charH;
    }
    p.setPen(Qt::black);
    p.setBackgroundMode(Qt::TransparentMode);

    st.timeScale = st.flowScale = st.pressureScale = 0;
    st.volumeMax = 0;
    st.key = KeyFlags{};
    // Bolus totals are rebuilt by every redraw: another record (a new test,
    // another template step) must not show the last one's.
    st.bolusVolumeTotal = st.bolusDurationTotal = st.bolusRateTotal = 0;
    st.bolusCount = 0;
    st.topLimit = 0;
    if (doc.TestType != st.rememberedType) st.SetTypeDefaults(doc.TestType);
    ComputeMaxima(doc, st);
    // The PCA results come from the record's bolus table, never from the
    // curve: hiding the curve must not change them.
    if (doc.TestType == 'P' || doc.TestType == 'D') {
        const DataTable& table = cache.PcaTable();
        st.bolusCount = int(table.Boluses().size());
        st.bolusVolumeTotal = table.BolusVolumeTotal();
        st.bolusDurationTotal = table.BolusDurationTotal();
        st.bolusRateTotal = table.BolusRateTotal();
    }

    // A window emptied for the next test after End holds no Flow test: the
    // curve it showed lapses without a failure being told.
    if (st.showTrumpet && doc.TestType != 'F') st.showTrumpet = false;
    bool graph = true;
    if (st.showTrumpet) {
        const TrumpetCurve curve = TrumpetCurve::Compute(doc);
        if (curve.ok) {
            trumpet::Draw(c, curve);
            c.plotOk = true;
        } else {
            st.showTrumpet = false;
            result.trumpetFailed = true;
        }
        graph = false;
        // The key and the measured values are not part of the trumpet
        // picture: what is not shown cannot be picked up.
        if (!target.paper) st.keyBox.drawn = st.measuredBox.drawn = false;
    }
    if (graph) {
        c.plotOk = DrawGraphAxis(c);
        if (c.plotOk) DrawSyringe(c);
        if (c.plotOk) {
            if (st.showPressure) series::DrawPressure(c);
            series::DrawSetRate(c);
            if (st.showInstFlow) series::DrawInstFlow(c);
            if (st.showAvgFlow) series::DrawAvgFlow(c);
            if (st.showVolume) series::DrawVolume(c);
            if (st.showPca) series::DrawPca(c);
            p.setFont(c.mainFont);
            series::EnsureScales(c);
            DrawGraphAxis(c);
        }
        ReleaseClip(c);
        if (!target.paper) {
            const QString title = TitleLine(doc, options.templateStepIndex);
            p.setPen(Qt::black);
            c.TextOut((target.width - c.TextWidth(title) - 20) / 2, st.topLimit + 1, title);
        }
        boxes::DrawMeasured(c);
        keybox::Draw(c);
        result.keyItems = keybox::Entries(c);
    }
    p.setFont(c.mainFont);
    if (c.plotOk || !graph) boxes::DrawDetails(c);
    boxes::DrawAutoStopBanner(c);
    p.restore();

    result.plotOk = c.plotOk;
    result.timeTitle = c.timeTitle;
    result.needsRedraw = c.needsRedraw;
    result.plot = QRect(QPoint(st.left, st.savedBottom - st.height),
                        QPoint(st.left + st.width, st.savedBottom + 1));
    return result;
}

bool GraphRenderer::WriteBitmap(const QImage& image, const QString& path) {
    const QImage img = image.convertToFormat(QImage::Format_RGB888);
    const int w = img.width(), h = img.height();
    const int row = ((24 * w + 31) / 32) * 4;
    const uint32_t pixels = uint32_t(row) * uint32_t(h);
    QByteArray out;
    out.reserve(int(pixels) + 54);
    const auto u16 = [&](uint16_t v) {
        out.append(char(v & 0xff));
        out.append(char(v >> 8));
    };
    const auto u32 = [&](uint32_t v) {
        for (int k = 0; k < 4; ++k) out.append(char((v >> (8 * k)) & 0xff));
    };
    out.append("BM", 2);
    u32(pixels + 54);
    u16(0);
    u16(0);
    u32(54);
    u32(40);
    u32(uint32_t(w));
    u32(uint32_t(h));
    u16(1);
    u16(24);
    u32(0);
    u32(pixels);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    QByteArray line(row, '\0');
    for (int y = h - 1; y >= 0; --y) {
        const uchar* src = img.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            line[3 * x] = char(src[3 * x + 2]);
            line[3 * x + 1] = char(src[3 * x + 1]);
            line[3 * x + 2] = char(src[3 * x]);
        }
        out.append(line);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(out) == out.size();
}
