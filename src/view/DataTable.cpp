#include "DataTable.h"

#include "view/GraphLayout.h"

#include "base/CsvField.h"
#include "base/Trace.h"
#include "records/RivuletrixDoc.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdio>

namespace {

QFont TableFont(int dpiY) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(std::max(1, dpiY * 10 / 72));
    return f;
}

QString Fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return QString::fromLatin1(buf);
}

QString FmtInt(const char* format, int v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return QString::fromLatin1(buf);
}

} // namespace

BolusRow BolusFigures(const CRivuletrixDoc& d, const PcaLabel& l) {
    BolusRow b;
    b.number = l.n;
    int r = l.lastIn;
    while (r >= 0 && d.FlowOver(r, 1) == 0) --r;
    if (r < 0) r = l.lastIn;
    const int tps = layout::ViewTicksPerSecond(d.NewModel, d.TicksPerSecond);
    b.volumeMl = (double(d.VolumeAt(l.end)) - double(d.VolumeAt(l.preStart))) / 10000.0;
    b.startSeconds = d.ElapsedTicks(l.start) / uint32_t(tps);
    b.durationSeconds = (double(d.ElapsedTicks(r)) - double(d.ElapsedTicks(l.start))) / tps;
    // Older records count the interval before the start as well.
    b.rateMlH = d.FlowOver(r, r - l.start + (d.NewModel ? 0 : 1)) / 100.0;
    return b;
}

DataTable::DataTable(const CRivuletrixDoc& doc) : m_doc(doc) {}

DataTable::~DataTable() = default;

bool DataTable::BolusTable() const {
    // Dual Flow records of older analyzers list their boluses too.
    return m_doc.TestType == 'P' || m_doc.TestType == 'D';
}

void DataTable::Sync() {
    const CRivuletrixDoc& d = m_doc;
    const int n = d.SampleCount();
    if (m_scanned > 0) {
        const int last = m_scanned - 1;
        if (m_scanned > n || m_type != d.TestType || d.ElapsedTicks(last) != m_lastTime ||
            d.VolumeAt(last) != m_lastVolume || d.StatusAt(last) != m_lastCode) {
            m_scanned = 0;
            m_skipped.clear();
            m_detector.reset();
            m_labels.clear();
            m_boluses.clear();
        }
    }
    m_type = d.TestType;
    for (int i = std::max(m_scanned, 1); i < n; ++i)
        if (d.StatusAt(i) == 'C') m_skipped.push_back(i);
    m_scanned = std::max(m_scanned, n);
    if (m_scanned > 0) {
        m_lastTime = d.ElapsedTicks(m_scanned - 1);
        m_lastVolume = d.VolumeAt(m_scanned - 1);
        m_lastCode = d.StatusAt(m_scanned - 1);
    }
    if (BolusTable()) SyncBoluses(n);
}

void DataTable::SyncBoluses(int count) {
    struct Collect : PcaSink {
        std::vector<PcaLabel>& labels;
        explicit Collect(std::vector<PcaLabel>& l) : labels(l) {}
        void Point(int, double) override {}
        void Mark(const PcaMark&) override {}
        void Label(const PcaLabel& l) override { labels.push_back(l); }
    };
    if (!m_detector) {
        m_detector = std::make_unique<PcaDetector>(m_doc, true);
        m_committed = m_detector->First();
        m_labels.clear();
    }
    // Samples before the last are stepped once; the last one's rules may
    // change as samples arrive, so it is stepped on a copy each time.
    const int last = count - 1;
    Collect keep(m_labels);
    for (; m_committed < last; ++m_committed) m_detector->Step(m_committed, last, keep);
    std::vector<PcaLabel> labels = m_labels;
    PcaDetector tail = *m_detector;
    Collect now(labels);
    for (int i = m_committed; i <= last; ++i) tail.Step(i, last, now);
    m_boluses.clear();
    m_boluses.reserve(labels.size());
    for (const PcaLabel& l : labels) m_boluses.push_back(BolusFigures(m_doc, l));
}

int DataTable::RowCount() const {
    if (BolusTable()) return int(m_boluses.size());
    return std::max(0, m_scanned - 1 - int(m_skipped.size()));
}

int DataTable::LineCount() const {
    if (BolusTable()) return kBolusHeaderLines + kLinesPerBolus * RowCount();
    return kHeaderLines + RowCount();
}

int DataTable::SampleOfRow(int row) const {
    // Sample s = row + 1 + (number of skipped samples <= s): step past the
    // skipped ones until the count agrees.
    int s = row + 1;
    size_t k = size_t(std::upper_bound(m_skipped.begin(), m_skipped.end(), s) - m_skipped.begin());
    while (true) {
        const int next = row + 1 + int(k);
        if (next == s) break;
        s = next;
        k = size_t(std::upper_bound(m_skipped.begin(), m_skipped.end(), s) - m_skipped.begin());
    }
    return s;
}

int DataTable::RowOfSample(int sample) const {
    if (sample < 1) return 0;
    const int before =
        int(std::lower_bound(m_skipped.begin(), m_skipped.end(), sample) - m_skipped.begin());
    return sample - 1 - before;
}

QStringList DataTable::HeaderLines() const {
    const CRivuletrixDoc& d = m_doc;
    // Every record file stores the channel one-based and the reader counts
    // from 0, old analyzers' records too: there is no channel 0 to show.
    const int channel = d.ChannelNo + 1;
    QStringList l;
    l << QStringLiteral("%1 %2 %3")
             .arg(d.RepHeader1.trimmed(), d.RepHeader2.trimmed(), d.RepHeader3.trimmed());
    l << QString() << QString();
    l << QStringLiteral("Control Number %1").arg(d.ControlNumber);
    l << QStringLiteral("Manuf: %1   Model: %2    S/N: %3")
             .arg(d.Manufacture, d.Model, d.SerialNumber);
    l << QStringLiteral("Location  %1").arg(d.Location);
    l << QString();
    l << QStringLiteral("Date Tested %1   Start Time %2").arg(d.StartDate, d.StartTime);
    l << QStringLiteral("Tested by     %1").arg(d.Operator);
    l << QStringLiteral("Tested using %1  S/N %2").arg(d.InstModel, d.InstSerialNum);
    l << QStringLiteral("Channel %1   S/N %2").arg(channel).arg(d.TdSerialNum);
    l << QString();
    QStringList h1, h2;
    for (const Column& c : Columns()) {
        h1 << c.head1;
        h2 << c.head2;
    }
    l << h1.join(QLatin1Char(' ')) << h2.join(QLatin1Char(' '));
    l << QString();
    return l;
}

std::vector<DataTable::Column> DataTable::Columns() const {
    const bool occlusion = m_doc.TestType == 'O';
    std::vector<Column> c;
    c.push_back({QStringLiteral("Elapsed"), QStringLiteral("Time"), 18});
    if (!occlusion) {
        c.push_back({QStringLiteral("Delivered"), QStringLiteral("Volume"), 11});
        c.push_back({QStringLiteral("Average"), QStringLiteral("Flow"), 11});
        c.push_back({QStringLiteral("Inst."), QStringLiteral("Flow"), 11});
    }
    c.push_back({occlusion ? QStringLiteral("------ Pressure ------")
                           : QStringLiteral("--- Back Pressure ----"),
                 QStringLiteral("mmHg"), 8});
    c.push_back({QString(), QStringLiteral("psi"), 8});
    c.push_back({QString(), QStringLiteral("kPa"), 8});
    return c;
}

QString DataTable::StatusText(char code) {
    switch (code) {
    case 'b':
    case 'B':
        return QStringLiteral("(Bubble)");
    case 'a':
    case 'A':
        return QStringLiteral("(Air Lock)");
    case 'o':
    case 'O':
        return QStringLiteral("(Over Pressure)");
    default:
        return {};
    }
}

QStringList DataTable::RowFields(int i) const {
    const CRivuletrixDoc& d = m_doc;
    QStringList f;
    f << FmtInt(" %5.1d ", i);
    f << QStringLiteral(" %1 ").arg(CRivuletrixDoc::FormatHms(d.ElapsedMs(i)));
    if (d.TestType != 'O') {
        f << Fmt(" %9.2f ", d.VolumeAt(i) / 10000.0);
        f << Fmt(" %9.2f ", d.AverageFlowAt(i) / 100.0);
        f << Fmt(" %9.2f ", d.FlowOver(i, 1) / 100.0);
    }
    f << FmtInt(" %6.1d ", d.PressureAt(i));
    f << Fmt(" %6.2f ", d.PressurePsi(i));
    f << Fmt(" %6.2f ", d.PressureKpa(i));
    const QString status = StatusText(d.StatusAt(i));
    if (!status.isEmpty()) f << status;
    return f;
}

std::vector<int> DataTable::RowAdvances() const {
    if (m_doc.TestType == 'O') return {7, 15, 8, 8, 8};
    return {7, 15, 11, 11, 11, 8, 8, 8};
}

QStringList DataTable::BolusHeaderLines() const {
    const CRivuletrixDoc& d = m_doc;
    QStringList l;
    l << QStringLiteral("%1 %2 %3")
             .arg(d.RepHeader1.trimmed(), d.RepHeader2.trimmed(), d.RepHeader3.trimmed());
    l << QString();
    l << QStringLiteral("PCA/Dual Flow Test  %1  %2").arg(d.StartDate, d.StartTime);
    // Separated by blanks: run together the three read as one word.
    l << QStringList{d.Manufacture.trimmed(), d.Model.trimmed(), d.SerialNumber.trimmed()}.join(
        QLatin1Char(' '));
    l << QString();
    return l;
}

QStringList DataTable::BolusLines(const BolusRow& b) {
    const uint32_t s = b.startSeconds;
    return {QStringLiteral("Bolus Number %1").arg(b.number),
            Fmt("Bolus/Sec Volume  %0.2f ml", b.volumeMl),
            QString::asprintf("Start Time %2.2i:%2.2i:%2.2i", int(s / 3600), int(s % 3600 / 60),
                              int(s % 60)),
            Fmt("Duration %0.2f secs", b.durationSeconds),
            Fmt("Av. Rate  %7.2f ml/h", b.rateMlH),
            QString()};
}

QString DataTable::LineText(int line) const {
    if (BolusTable()) {
        if (line < kBolusHeaderLines) return BolusHeaderLines().value(line);
        const int k = (line - kBolusHeaderLines) / kLinesPerBolus;
        if (k >= int(m_boluses.size())) return {};
        return BolusLines(m_boluses[size_t(k)]).value((line - kBolusHeaderLines) % kLinesPerBolus);
    }
    if (line < kHeaderLines) return HeaderLines().value(line);
    const int row = line - kHeaderLines;
    if (row >= RowCount()) return {};
    return RowFields(SampleOfRow(row)).join(QString());
}

int DataTable::LinePitch(int dpiY) {
    return QFontMetrics(TableFont(dpiY)).lineSpacing();
}

int DataTable::PixelWidth(int dpiY) const {
    const QFontMetrics fm(TableFont(dpiY));
    return (BolusTable() ? 60 : 100) * fm.averageCharWidth();
}

void DataTable::Draw(QPainter& p, int firstLine, int xOffset, const QRect& area, int dpiY) const {
    qCDebug(lcTrace, "\nCRivuletrixWinView::DrawTextView");
    p.save();
    p.setFont(TableFont(dpiY));
    p.setPen(Qt::black);
    const QFontMetrics fm = p.fontMetrics();
    const int w = fm.averageCharWidth(), e = fm.lineSpacing(), ascent = fm.ascent();
    const int x0 = area.left() - xOffset;
    const int lines = LineCount();
    const auto text = [&](int x, int y, const QString& s) {
        if (!s.isEmpty()) p.drawText(QPoint(x, y + ascent), s);
    };
    int y = area.top();
    if (BolusTable()) {
        const QStringList head = BolusHeaderLines();
        for (int line = std::max(0, firstLine); line < lines && y < area.bottom() + 1;
             ++line, y += e) {
            if (line < kBolusHeaderLines) {
                text(x0 + 20, y, head[line]);
                continue;
            }
            const int k = (line - kBolusHeaderLines) / kLinesPerBolus;
            text(x0 + 20, y,
                 BolusLines(m_boluses[size_t(k)])
                     .value((line - kBolusHeaderLines) % kLinesPerBolus));
        }
        p.restore();
        return;
    }
    const QStringList head = firstLine < kHeaderLines ? HeaderLines() : QStringList();
    const std::vector<Column> columns = Columns();
    const std::vector<int> advances = RowAdvances();
    for (int line = std::max(0, firstLine); line < lines && y < area.bottom() + 1; ++line, y += e) {
        if (line == 12 || line == 13) {
            int x = x0 + 7 * w;
            for (const Column& c : columns) {
                text(x, y, line == 12 ? c.head1 : c.head2);
                x += c.widthChars * w;
            }
            continue;
        }
        if (line < kHeaderLines) {
            text(x0, y, head[line]);
            continue;
        }
        const QStringList fields = RowFields(SampleOfRow(line - kHeaderLines));
        int x = x0;
        for (int k = 0; k < fields.size(); ++k) {
            text(x, y, fields[k]);
            if (k < int(advances.size())) x += advances[size_t(k)] * w;
        }
    }
    p.restore();
}

QByteArray DataTable::Csv() const {
    // Fields go through csv::Field: record texts come from users and
    // analyzers, and must stay inert in a spreadsheet.
    QByteArray out;
    // The header block is comment lines that readers skip: each starts with
    // "#" and stays one line whatever the record's texts hold (no quoting,
    // which would move the "#").
    const auto comment = [&](QString s) {
        s.replace(QLatin1String("\r\n"), QLatin1String(" "));
        s.replace(QLatin1Char('\r'), QLatin1Char(' '));
        s.replace(QLatin1Char('\n'), QLatin1Char(' '));
        out += QStringLiteral("# ").toUtf8() + s.trimmed().toUtf8() + "\r\n";
    };
    // Every kind of table gets the same header block.
    const QStringList head = HeaderLines();
    for (int k = 0; k < 12; ++k)
        if (!head[k].trimmed().isEmpty()) comment(head[k]);
    if (BolusTable()) {
        out += csv::Line({QStringLiteral("Bolus Number"), QStringLiteral("Volume (ml)"),
                          QStringLiteral("Start Time (hh:mm:ss)"), QStringLiteral("Duration (s)"),
                          QStringLiteral("Average Rate (ml/h)")});
        for (const BolusRow& b : m_boluses) {
            const uint32_t s = b.startSeconds;
            out += csv::Line({QString::number(b.number), Fmt("%0.2f", b.volumeMl),
                              QString::asprintf("%02d:%02d:%02d", int(s / 3600), int(s % 3600 / 60),
                                                int(s % 60)),
                              Fmt("%0.2f", b.durationSeconds), Fmt("%0.2f", b.rateMlH)});
        }
        return out;
    }
    const bool occlusion = m_doc.TestType == 'O';
    if (occlusion)
        out += csv::Line({QStringLiteral("Sample"), QStringLiteral("Elapsed Time"),
                          QStringLiteral("Pressure (mmHg)"), QStringLiteral("Pressure (psi)"),
                          QStringLiteral("Pressure (kPa)"), QStringLiteral("Status")});
    else
        out += csv::Line(
            {QStringLiteral("Sample"), QStringLiteral("Elapsed Time"),
             QStringLiteral("Delivered Volume (ml)"), QStringLiteral("Average Flow (ml/h)"),
             QStringLiteral("Inst. Flow (ml/h)"), QStringLiteral("Back Pressure (mmHg)"),
             QStringLiteral("Back Pressure (psi)"), QStringLiteral("Back Pressure (kPa)"),
             QStringLiteral("Status")});
    const int rows = RowCount();
    const int fieldCount = occlusion ? 6 : 9;
    out.reserve(out.size() + qsizetype(rows) * 64);
    QStringList fields;
    for (int r = 0; r < rows; ++r) {
        const QStringList f = RowFields(SampleOfRow(r));
        fields.clear();
        for (int k = 0; k < fieldCount; ++k) fields << f.value(k).trimmed();
        out += csv::Line(fields);
    }
    return out;
}

double DataTable::BolusVolumeTotal() const {
    double t = 0;
    for (const BolusRow& b : m_boluses) t += b.volumeMl;
    return t;
}

double DataTable::BolusDurationTotal() const {
    double t = 0;
    for (const BolusRow& b : m_boluses) t += b.durationSeconds;
    return t;
}

double DataTable::BolusRateTotal() const {
    double t = 0;
    for (const BolusRow& b : m_boluses) t += b.rateMlH;
    return t;
}
