#pragma once

#include "view/PcaDetector.h"

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class CRivuletrixDoc;
class QPainter;

// One detected bolus as the bolus table lists it.
struct BolusRow {
    int number = 0;
    double volumeMl = 0;
    uint32_t startSeconds = 0;
    double durationSeconds = 0;
    double rateMlH = 0;
};

// The data table of a record as lines of text: for Flow and Occlusion a
// 15-line header block and one line per listed sample (sample 0 and samples
// with status 'C' are not listed); for PCA / Dual Flow a short header and
// six lines per detected bolus. A view over the document: a row is found
// from the samples when it is drawn; only the indices of 'C' samples are
// kept, so memory does not grow with the record. Samples may append (a live
// test); each is looked at once.
class DataTable {
public:
    static constexpr int kHeaderLines = 15;
    static constexpr int kBolusHeaderLines = 5;
    static constexpr int kLinesPerBolus = 6;

    explicit DataTable(const CRivuletrixDoc& doc);
    ~DataTable();

    // Catches up with samples appended since the last call; starts again
    // when the document was reset or re-read.
    void Sync();

    bool BolusTable() const;
    // Listed samples (Flow, Occlusion) or boluses (PCA).
    int RowCount() const;
    // Lines of the whole table, header included.
    int LineCount() const;
    // The sample index listed in row r (0-based): the (r + 1)-th sample
    // after sample 0 that is not a 'C' sample.
    int SampleOfRow(int row) const;
    // The row listing sample i, or the row of the next listed sample.
    int RowOfSample(int sample) const;

    // ---- Texts ----
    // The 15 header lines; lines 12 and 13 (the column headers) joined.
    QStringList HeaderLines() const;
    struct Column {
        QString head1, head2;
        int widthChars;
    };
    // The columns the record's type shows, in order.
    std::vector<Column> Columns() const;
    // Fields of sample i as the table shows them (padded as on screen):
    // index, time, [volume, average, instantaneous], mmHg, psi, kPa, and the
    // status text when there is one.
    QStringList RowFields(int sample) const;
    // Character advances of the row fields (average character widths).
    std::vector<int> RowAdvances() const;
    static QString StatusText(char code);

    // PCA: the boluses and the lines of the bolus table.
    const std::vector<BolusRow>& Boluses() const { return m_boluses; }
    QStringList BolusHeaderLines() const;
    static QStringList BolusLines(const BolusRow& b);

    // Text of line n of the whole table (what a line shows, fields joined).
    QString LineText(int line) const;

    // Draws the lines from firstLine on, the first one's top at area.top(),
    // as long as they fall in area; xOffset scrolls sideways. The font is
    // 10-point Arial for a device of dpiY dots per inch.
    void Draw(QPainter& p, int firstLine, int xOffset, const QRect& area, int dpiY) const;
    // Line pitch and width in pixels of the drawn table at dpiY.
    static int LinePitch(int dpiY);
    int PixelWidth(int dpiY) const;

    // The table as CSV: the header block as "#" comment lines, one column
    // header row, then one row per listed sample (or bolus), values as shown.
    QByteArray Csv() const;

    // Totals of the bolus table (for the report's measured values).
    double BolusVolumeTotal() const;
    double BolusDurationTotal() const;
    double BolusRateTotal() const;

private:
    void SyncBoluses(int count);

    const CRivuletrixDoc& m_doc;
    // Signature of the samples seen, to notice a reset or a re-read.
    int m_scanned = 0;
    char m_type = 0;
    uint32_t m_lastTime = 0, m_lastVolume = 0;
    char m_lastCode = 0;
    std::vector<int> m_skipped; // sorted indices (>= 1) of 'C' samples
    // PCA: detector stepped up to the sample before the last, its labels.
    std::unique_ptr<PcaDetector> m_detector;
    int m_committed = 0;
    std::vector<PcaLabel> m_labels;
    std::vector<BolusRow> m_boluses;
};

// Figures of one detected bolus: volume, start, duration to its last sample
// with flow, and average rate.
BolusRow BolusFigures(const CRivuletrixDoc& doc, const PcaLabel& label);
