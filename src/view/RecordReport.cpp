#include "RecordReport.h"

#include "view/DataTable.h"
#include "view/DetailsBoxes.h"
#include "view/GraphRenderer.h"
#include "view/SeriesCache.h"

#include "base/CheckedSaveFile.h"
#include "records/RivuletrixDoc.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

QFont ReportFont(int dpiY, bool bold) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(std::max(1, dpiY * 10 / 72));
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

// The resolution the pagination is worked out in.
constexpr int kRefDpi = 1200;

QString Fmt(const char* format, double v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, format, v);
    return QString::fromLatin1(buf);
}

// The last sample whose elapsed time is not 0 (a stopped test may leave one
// empty slot behind).
int LastTimed(const CRivuletrixDoc& d) {
    int last = d.SampleCount() - 1;
    while (last > 0 && d.ElapsedTicks(last) == 0) --last;
    return std::max(last, 0);
}

} // namespace

// Text output with a running y; measures only when there is no painter.
struct RecordReport::Writer {
    QPainter* p = nullptr;
    QFont normal, bold;
    int ascent = 0, pitch = 1, charH = 1;
    int y = 0;
    int cols[4] = {0, 0, 0, 0};
    int right = 0; // the printable area's right edge

    std::optional<QFontMetrics> fmNormal, fmBold;
    std::vector<int> columns; // left edges of the table's columns

    void SetFonts(int dpiY) {
        normal = ReportFont(dpiY, false);
        bold = ReportFont(dpiY, true);
        fmNormal.emplace(normal);
        fmBold.emplace(bold);
        ascent = fmNormal->ascent();
        charH = fmNormal->height();
    }
    int Width(const QString& s, bool b = false) const {
        return (b ? *fmBold : *fmNormal).horizontalAdvance(s);
    }
    void At(int x, const QString& s, bool b = false) const { AtY(x, y, s, b); }
    void AtY(int x, int yy, const QString& s, bool b = false) const {
        if (!p || s.isEmpty()) return;
        p->setFont(b ? bold : normal);
        p->drawText(QPoint(x, yy + ascent), s);
    }
    // A text ends a character short of the next column's (column 1 of a
    // row with texts on the right) or of the right edge: long values are
    // elided, never overprinted.
    void Col(int c, const QString& s, bool b = false, bool wide = false) const {
        const int end = c == 1 && !wide ? cols[2] : right;
        const int room = std::max(0, end - cols[c] - fmNormal->averageCharWidth());
        At(cols[c], (b ? *fmBold : *fmNormal).elidedText(s, Qt::ElideRight, room), b);
    }
    void Down(int n = 1) { y += n * pitch; }
};

RecordReport::RecordReport(CRivuletrixDoc& doc, ViewState& state, ReportSetup setup)
    : m_doc(doc), m_st(state), m_setup(std::move(setup)) {}

RecordReport::~RecordReport() = default;

QString RecordReport::VersionLine() {
    const QString v = QStringLiteral(RIVULETRIX_VERSION);
    const int major = v.section(QLatin1Char('.'), 0, 0).toInt();
    const int minor = v.section(QLatin1Char('.'), 1, 1).toInt();
    return QString::asprintf("Rivuletrix Version %d.%02d", major, minor);
}

int RecordReport::CurrentStep(const CRivuletrixDoc& d) {
    if (d.Run.live && d.TemplateCurrentStep > 0) return d.TemplateCurrentStep;
    return d.StepToShow;
}

int RecordReport::Begin(const QPaintDevice& device) {
    m_horz = device.width();
    m_vert = device.height();
    m_dpiX = device.logicalDpiX();
    m_dpiY = device.logicalDpiY();
    m_mx = m_dpiX / 2;
    m_my = m_dpiY / 2;
    m_w = m_horz - 2 * m_mx;
    m_h = m_vert - 2 * m_my;
    // Rows are paginated in units of one fixed resolution, scaled to the
    // device: font metrics round differently at each resolution, and the
    // print preview (at the printer's) and a PDF file (at its own) must
    // split the rows alike.
    const int refPitch = std::max(1, QFontMetrics(ReportFont(kRefDpi, false)).lineSpacing());
    m_pitch = std::max(1, int(std::lround(double(refPitch) * m_dpiY / kRefDpi)));
    if (m_setup.reportHeaders) {
        const QStringList& h = *m_setup.reportHeaders;
        m_doc.RepHeader1 = h.value(0);
        m_doc.RepHeader2 = h.value(1);
        m_doc.RepHeader3 = h.value(2);
    }
    GraphRenderer::ComputeMaxima(m_doc, m_st);

    // The boxes follow the page's orientation, and stay so on screen.
    if (m_vert >= m_horz) {
        m_st.keyAllowed = m_st.measuredAllowed = true;
        m_doc.ShowKey = true;
    } else {
        m_st.keyAllowed = m_st.measuredAllowed = false;
        m_st.detailsBox.x = m_st.left + 1;
        m_st.detailsBox.y = m_st.topLimit + 1;
        m_st.detailsBox.firstPlacement = false;
    }

    m_pages = 1;
    if (!m_setup.table) return m_pages;
    m_table = std::make_unique<DataTable>(m_doc);
    m_table->Sync();
    // Lay out the first page without drawing: its rows start below the
    // header block; later pages below the page header.
    Writer w;
    w.SetFonts(m_dpiY);
    w.pitch = refPitch;
    w.y = kRefDpi / 2;
    PageHeaderReport(w, 1);
    const int topLater = w.y;
    ReportHeaderBlock(w);
    TableHeader(w);
    const int limit = int(std::lround(double(m_vert) * kRefDpi / m_dpiY)) - kRefDpi / 2;
    m_rowsFirst = std::max(0, (limit - w.y) / refPitch);
    // A page too small for one row still lists one, or the job never ends.
    m_rowsLater = std::max(1, (limit - topLater) / refPitch);
    const int rows = m_table->RowCount();
    if (rows > m_rowsFirst) m_pages = 1 + (rows - m_rowsFirst + m_rowsLater - 1) / m_rowsLater;
    return m_pages;
}

int RecordReport::FirstRowOfPage(int page) const {
    if (page <= 1) return 0;
    return m_rowsFirst + (page - 2) * m_rowsLater;
}

int RecordReport::RowsOnPage(int page) const {
    if (!m_table) return 0;
    const int first = FirstRowOfPage(page);
    const int room = page <= 1 ? m_rowsFirst : m_rowsLater;
    return std::clamp(m_table->RowCount() - first, 0, room);
}

int RecordReport::PrintAll(QPainter& p, QPagedPaintDevice& device, bool continuing) {
    const int pages = Begin(device);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1 || continuing) device.newPage();
        PrintPage(p, page);
    }
    return pages;
}

void RecordReport::PrintPage(QPainter& p, int page) {
    p.save();
    p.setPen(Qt::black);
    p.setBackgroundMode(Qt::TransparentMode);
    Writer w;
    w.p = &p;
    w.SetFonts(m_dpiY);
    w.pitch = m_pitch;
    w.columns = ColumnLefts();
    if (!m_setup.table) {
        PageHeaderGraph(w, page);
        RenderTarget t;
        t.paper = true;
        t.width = m_horz;
        t.height = m_vert;
        t.dpiX = m_dpiX;
        t.dpiY = m_dpiY;
        GraphRenderer::Render(p, m_doc, m_st, t, m_setup.render);
        if (m_vert >= m_horz) GraphTextBlocks(w);
        p.restore();
        return;
    }
    w.y = m_my;
    PageHeaderReport(w, page);
    if (page == 1) {
        ReportHeaderBlock(w);
        TableHeader(w);
    }
    const int first = FirstRowOfPage(page);
    const int n = RowsOnPage(page);
    for (int r = first; r < first + n; ++r) {
        TableRow(w, r);
        w.Down();
    }
    p.restore();
}

bool RecordReport::WritePdf(const QString& path, CRivuletrixDoc& doc, ViewState& state,
                            const ReportSetup& setup, const QPageLayout& layout, QString* error,
                            int* pages) {
    const auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    // Written beside the file and put in its place only when whole: a full
    // disk leaves an earlier report as it was.
    CheckedSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(
            QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString()));
    QPdfWriter pdf(&file);
    pdf.setResolution(300);
    pdf.setPageLayout(layout);
    pdf.setCreator(VersionLine());
    pdf.setTitle(QFileInfo(doc.PathName()).fileName());
    QPainter p;
    if (!p.begin(&pdf))
        return fail(
            QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString()));
    int printed = RecordReport(doc, state, setup).PrintAll(p, pdf);
    if (doc.TemplateSteps > 0 && !doc.PathName().isEmpty()) {
        for (int step = CurrentStep(doc) + 1; step <= doc.TemplateSteps; ++step) {
            CRivuletrixDoc next;
            next.StepToShow = step;
            next.DefaultTolerance = doc.DefaultTolerance;
            next.GraphLineWidth = doc.GraphLineWidth;
            QString why;
            if (!next.ReadRecordFile(doc.PathName(), &why)) {
                p.end();
                return fail(QStringLiteral("Step %1 of %2 cannot be read: %3")
                                .arg(step)
                                .arg(doc.PathName(), why));
            }
            ViewState s = state;
            s.ResetGraphScaling();
            printed += RecordReport(next, s, setup).PrintAll(p, pdf, true);
        }
    }
    if (!p.end() || !file.commit())
        return fail(
            QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString()));
    if (pages) *pages = printed;
    return true;
}

// ---------------------------------------------------------------- headers

void RecordReport::PageHeaderGraph(Writer& w, int page) const {
    const QString version = VersionLine();
    const int top = m_my / 2 - m_pitch;
    w.AtY((m_w - w.Width(version)) / 2 + m_mx, top, version);
    const QString pages = QStringLiteral("Page %1 of %2").arg(page).arg(m_pages);
    w.AtY(m_w + m_mx - w.Width(pages), top, pages);
    const QString name =
        m_doc.PathName().section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    w.AtY((m_w - w.Width(name)) / 2 + m_mx, m_my / 2 + m_pitch / 2, name);
}

void RecordReport::PageHeaderReport(Writer& w, int page) const {
    const QString pages = QStringLiteral("Page %1 of %2").arg(page).arg(m_pages);
    w.At(m_w + m_mx - w.Width(pages), pages);
    const QString version = VersionLine();
    w.At((m_horz - w.Width(version)) / 2, version);
    w.Down();
    if (m_doc.TemplateSteps > 0) {
        const QString t = QStringLiteral("Template %1: Step %2 of %3")
                              .arg(m_doc.TemplateName)
                              .arg(CurrentStep(m_doc))
                              .arg(m_doc.TemplateSteps);
        w.At((m_horz - w.Width(t)) / 2, t);
    }
    w.Down();
    const QString name =
        m_doc.PathName().section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    w.At((m_horz - w.Width(name)) / 2, name);
    w.Down(3);
}

// ---------------------------------------------------------------- text blocks

void RecordReport::ParameterRows(Writer& w) const {
    const CRivuletrixDoc& d = m_doc;
    QString serial = d.InstSerialNum, version = d.InstVersion;
    if (!d.NewModel) {
        // Older records keep the version after the serial number.
        const QString stored = d.InstSerialNum.trimmed();
        serial = stored.section(QLatin1Char(' '), 0, 0);
        const QString after = stored.section(QLatin1Char(' '), 1).trimmed();
        // Some keep it in a field of its own, as current records do.
        if (!after.isEmpty()) version = after;
    }
    // Every record file stores the channel one-based and the reader counts
    // from 0, old analyzers' records too: there is no channel 0 to show.
    const int channel = d.ChannelNo + 1;
    w.Col(0, QStringLiteral("Control Number   "));
    w.Col(1, d.ControlNumber);
    w.Col(2, QStringList{d.InstManuf.trimmed(), d.InstDesc.trimmed()}.join(QLatin1Char(' ')));
    w.Down();
    w.Col(0, QStringLiteral("Type of Test  "));
    w.Col(1, CRivuletrixDoc::TestTypeName(d.TestType));
    w.Col(2, version);
    w.Down();
    w.Col(0, QStringLiteral("Date Tested  "));
    w.Col(1, d.StartDate);
    w.Col(2, QStringLiteral("Serial Number  "));
    w.Col(3, serial);
    w.Down();
    w.Col(0, QStringLiteral("Start Time  "));
    w.Col(1, d.StartTime);
    w.Col(2, QStringLiteral("Version  "));
    w.Col(3, version);
    w.Down();
    w.Col(0, QStringLiteral("Tested by     "));
    w.Col(1, d.Operator);
    w.Col(2, QStringLiteral("Channel  %1    S/N  %2       ").arg(channel).arg(d.TdSerialNum));
    w.Col(3, d.TdVersion);
    w.Down();
}

void RecordReport::PumpRows(Writer& w) const {
    const CRivuletrixDoc& d = m_doc;
    const std::pair<const char*, QString> rows[] = {{"Manufacturer", d.Manufacture},
                                                    {"Device Type (Model)  ", d.Model},
                                                    {"Serial Number  ", d.SerialNumber},
                                                    {"Location  ", d.Location},
                                                    {"Comments ", d.Comments}};
    for (const auto& [label, value] : rows) {
        w.Col(0, QString::fromLatin1(label));
        w.Col(1, value, false, true); // nothing on the right of these rows
        w.Down();
    }
}

void RecordReport::ValueRows(Writer& w) const {
    const CRivuletrixDoc& d = m_doc;
    const int last = LastTimed(d);
    const QString total = CRivuletrixDoc::FormatHms(d.ElapsedMs(last));
    std::vector<std::pair<QString, QString>> set, measured;
    switch (d.TestType) {
    case 'F':
        set = {{QStringLiteral("Flow Rate "), Fmt("%0.2f ml/h", d.SetFlowRate)},
               {QStringLiteral("Total Volume "), Fmt("%3.2f ml", d.SetVolume)}};
        measured = {
            {QStringLiteral("Flow Rate "), Fmt("%0.2f ml/h", d.AverageFlowAt(last) / 100.0)},
            {QStringLiteral("Total Volume "), Fmt("%3.2f ml", d.VolumeAt(last) / 10000.0)},
            {QStringLiteral("Total Test Time "), total}};
        break;
    case 'O': {
        const int peak = d.PressureAt(m_st.pressureMaxIndex);
        set = {{QStringLiteral("Flow Rate "), Fmt("%0.2f ml/h", d.SetFlowRate)}};
        measured = {{QStringLiteral("Peak Pressure "), QStringLiteral("%1 mmHg").arg(peak)},
                    {QStringLiteral("Peak Pressure  "), Fmt("%0.2f psi", peak / 51.71)},
                    {QStringLiteral("Peak Pressure "), Fmt("%0.2f kPa", peak / 7.499)},
                    {QStringLiteral("Occurred After "),
                     CRivuletrixDoc::FormatHms(d.ElapsedMs(m_st.pressureMaxIndex))},
                    {QStringLiteral("Total Test Time "), total}};
        break;
    }
    case 'P':
    case 'D': {
        // The record's bolus table, whatever the graph shows.
        const DataTable& table = m_table ? *m_table : SeriesCache::For(&d)->PcaTable();
        const int count = int(table.Boluses().size());
        const double vol = table.BolusVolumeTotal();
        const double rate = table.BolusRateTotal();
        const double dur = table.BolusDurationTotal();
        const auto avg = [count](double t) { return count > 0 ? t / count : 0.0; };
        const double volumeMax = m_st.volumeMax / 10000.0;
        set = {{QStringLiteral("Basal/Primary Rate  "), Fmt("%0.2f  ml/h", d.SetBasalFlowRate)},
               {QStringLiteral("Bolus/Sec Volume  "), Fmt("%0.2f ml", d.SetPcaVolume)},
               {QStringLiteral("Total Volume  "), Fmt("%0.2f  ml", d.SetVolume)}};
        measured = {{QStringLiteral("Bolus Number "), QString::number(count)},
                    {QStringLiteral("Ave. Bolus/Sec Volume "), Fmt("%0.2f ml", avg(vol))},
                    {QStringLiteral("Ave. Bolus/Sec Flow Rate "), Fmt("%0.2f ml/h", avg(rate))},
                    {QStringLiteral("Ave. Bolus/Sec Duration "), Fmt("%0.2f sec", avg(dur))},
                    {QStringLiteral("Ave. Basal/Primary Flow Rate "),
                     Fmt("%0.2f ml/h", boxes::BasalRate(d, m_st, vol, dur))},
                    {QStringLiteral("Total Bolus/Sec Volume "), Fmt("%0.2f ml", vol)}};
        if (!d.SetRateIsZero)
            measured.push_back(
                {QStringLiteral("Basal/Primary Volume "), Fmt("%0.2f ml", volumeMax - vol)});
        measured.push_back({QStringLiteral("Total Volume  "), Fmt("%0.2f ml", volumeMax)});
        measured.push_back({QStringLiteral("Total Test Time "), total});
        break;
    }
    default:
        break;
    }
    w.Col(0, QStringLiteral("Set Values"), true);
    w.Col(2, QStringLiteral("Measured Values"), true);
    w.Down();
    const size_t rows = std::max(set.size(), measured.size());
    for (size_t k = 0; k < rows; ++k) {
        if (k < set.size()) {
            w.Col(0, set[k].first);
            w.Col(1, set[k].second);
        }
        if (k < measured.size()) {
            w.Col(2, measured[k].first);
            w.Col(3, measured[k].second);
        }
        w.Down();
    }
}

void RecordReport::GraphTextBlocks(Writer& w) {
    CRivuletrixDoc& d = m_doc;
    const bool tpl = d.TemplateSteps > 0;
    const int c0 = m_mx, c1 = 3 * m_mx / 5 + m_w / 4, c2 = m_w / 2 + m_mx,
              c3 = 3 * m_mx / 2 + 3 * m_w / 4;
    w.cols[0] = c0;
    w.cols[1] = c1;
    w.cols[2] = c2;
    w.cols[3] = c3;
    w.right = m_mx + m_w;
    w.y = m_h / 2;
    if (tpl) {
        const QString name = QStringLiteral("Template %1").arg(d.TemplateName);
        w.AtY((m_horz - w.Width(name)) / 2, m_vert / 2, name);
        const QString step = QStringLiteral("Step %1 of %2 - %3")
                                 .arg(CurrentStep(d))
                                 .arg(d.TemplateSteps)
                                 .arg(CRivuletrixDoc::TestTypeName(d.TestType));
        w.AtY((m_horz - w.Width(step)) / 2, m_vert / 2 + 2 * w.charH, step);
        // The header lines start below the step line.
        w.y = m_vert / 2 + 2 * w.charH + m_pitch;
    } else {
        w.y += w.charH;
    }
    w.Down(tpl ? 1 : 2);
    for (const QString& h : {d.RepHeader1, d.RepHeader2, d.RepHeader3}) {
        w.At((m_horz - w.Width(h, true)) / 2, h, true);
        w.Down();
    }
    w.Down(2);
    if (!tpl) w.Down(3);
    w.Col(0, QStringLiteral("Test Parameters"), true);
    w.Col(2, QStringLiteral("Test Instrument"), true);
    w.Down();
    ParameterRows(w);
    w.Down(2);
    w.Col(0, QStringLiteral("Pump Details"), true);
    w.Down();
    PumpRows(w);
    w.Down(2);
    ValueRows(w);
}

void RecordReport::ReportHeaderBlock(Writer& w) const {
    w.cols[0] = m_mx;
    w.cols[1] = 4 * m_mx;
    w.cols[2] = m_horz / 2;
    w.cols[3] = m_horz / 2 + 4 * m_mx;
    w.right = m_mx + m_w;
    w.Col(0, QStringLiteral("Test Parameters"), true);
    w.Col(2, QStringLiteral("Test Instrument"), true);
    w.Down();
    ParameterRows(w);
    w.Down();
    w.Col(0, QStringLiteral("Pump Details"), true);
    w.Down();
    PumpRows(w);
    w.Down();
    ValueRows(w);
    w.Down();
}

// ---------------------------------------------------------------- the table

std::vector<int> RecordReport::ColumnLefts() const {
    // Bolus tables: five columns over the width. Sample tables: the index,
    // then the data columns evenly over the width less room for the status.
    std::vector<int> x;
    if (m_table && m_table->BolusTable()) {
        for (int k = 0; k <= 5; ++k) x.push_back(m_mx + k * m_w / 5);
        return x;
    }
    const int data = m_doc.TestType == 'O' ? 4 : 7;
    const QFontMetrics fm(ReportFont(m_dpiY, false));
    const int index = 7 * fm.averageCharWidth();
    const int status =
        fm.horizontalAdvance(QStringLiteral("(Over Pressure)")) + fm.averageCharWidth();
    x.push_back(m_mx);
    for (int k = 0; k <= data; ++k) x.push_back(m_mx + index + k * (m_w - index - status) / data);
    return x;
}

void RecordReport::TableHeader(Writer& w) const {
    const std::vector<int> x = ColumnLefts();
    const int gap = w.fmNormal->averageCharWidth();
    const auto right = [&](size_t k, const QString& s) { w.At(x[k + 1] - gap - w.Width(s), s); };
    if (m_table->BolusTable()) {
        const QString h1[] = {QStringLiteral("Bolus/Sec"), QStringLiteral("Volume"),
                              QStringLiteral("Start Time"), QStringLiteral("Duration"),
                              QStringLiteral("Avg. Rate")};
        const QString h2[] = {QStringLiteral("Number"), QStringLiteral("ml"),
                              QStringLiteral("hh:mm:ss"), QStringLiteral("Seconds"),
                              QStringLiteral(" ml/h")};
        for (size_t k = 0; k < 5; ++k) right(k, h1[k]);
        w.Down();
        for (size_t k = 0; k < 5; ++k) right(k, h2[k]);
        w.Down(2);
        return;
    }
    const std::vector<DataTable::Column> columns = m_table->Columns();
    const size_t n = columns.size();
    for (size_t k = 0; k + 3 < n; ++k) right(k + 1, columns[k].head1);
    // The pressure title spans its three columns.
    const QString title =
        m_doc.TestType == 'O' ? QStringLiteral("------Pressure -------") : columns[n - 3].head1;
    w.At((x[n - 2] + x[n + 1] - w.Width(title)) / 2, title);
    w.Down();
    for (size_t k = 0; k < columns.size(); ++k) right(k + 1, columns[k].head2);
    w.Down(2);
}

void RecordReport::TableRow(Writer& w, int row) const {
    const std::vector<int>& x = w.columns;
    const int gap = w.fmNormal->averageCharWidth();
    const auto right = [&](size_t k, const QString& s) {
        const QString t = s.trimmed();
        w.At(x[k + 1] - gap - w.Width(t), t);
    };
    if (m_table->BolusTable()) {
        const BolusRow& b = m_table->Boluses()[size_t(row)];
        const uint32_t s = b.startSeconds;
        right(0, QString::number(b.number));
        right(1, Fmt("%9.2f", b.volumeMl));
        right(2,
              QString::asprintf("%02d:%02d:%02d", int(s / 3600), int(s % 3600 / 60), int(s % 60)));
        right(3, Fmt("%9.2f", b.durationSeconds));
        right(4, Fmt("%9.2f", b.rateMlH));
        return;
    }
    const int i = m_table->SampleOfRow(row);
    const QStringList f = m_table->RowFields(i);
    const int data = m_doc.TestType == 'O' ? 4 : 7;
    // The index column is narrow: its number right-aligned in it.
    right(0, QString::asprintf("%4.1d", i));
    for (int k = 1; k <= data; ++k) right(size_t(k), f.value(k));
    if (f.size() > data + 1) w.At(x.back() + gap, f.last());
}
