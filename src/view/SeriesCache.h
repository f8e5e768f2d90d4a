#pragma once

#include <QObject>

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

class CRivuletrixDoc;
struct PcaMemo;
class DataTable;

// The derived series of one record (instantaneous flow over 0.24 ml windows,
// average flow) and the raw ones (volume, pressure), folded into min/max
// block tables as samples arrive, with the record's maxima. Samples only
// append, so each one is computed once; a frame then reads per-column
// extremes from the tables instead of visiting every sample. Nothing is kept
// per sample: the few samples at column edges are computed again on demand.
// Lives as a child of its document, shared by all views of it.
class SeriesCache : public QObject {
    Q_OBJECT
public:
    enum Series { Inst, Avg, Volume, Pressure, SeriesCount };

    // Min/max tables in levels of 16, 128, 1024 and 8192 samples, one table
    // per series and level: a column of any width needs at most seven
    // entries a level on each side, read from a few cache lines.
    static constexpr int kBlockBits = 4; // 16 samples per block (level 0)
    static constexpr int kBlock = 1 << kBlockBits;
    static constexpr int kFanBits = 3; // 8 entries of a level make one above
    static constexpr int kLevels = 4;
    static constexpr int LevelBits(int level) { return kBlockBits + kFanBits * level; }

    struct MinMax {
        int32_t mn = INT32_MAX, mx = INT32_MIN;
        void Add(int32_t v) {
            if (v < mn) mn = v;
            if (v > mx) mx = v;
        }
        bool Empty() const { return mn > mx; }
    };

    // Grows in fixed chunks: no doubling slack, no copy while live.
    template <typename T> class Chunked {
    public:
        static constexpr int kBits = 8;
        static constexpr size_t kChunk = size_t(1) << kBits;
        size_t size() const { return m_size; }
        const T& operator[](size_t i) const { return m_chunks[i >> kBits][i & (kChunk - 1)]; }
        T& back() { return (*this)[m_size - 1]; }
        T& operator[](size_t i) { return m_chunks[i >> kBits][i & (kChunk - 1)]; }
        void push_back(const T& v) {
            if ((m_size & (kChunk - 1)) == 0) m_chunks.push_back(std::make_unique<T[]>(kChunk));
            (*this)[m_size++] = v;
        }
        void clear() {
            m_chunks.clear();
            m_size = 0;
        }
        size_t Bytes() const {
            return m_chunks.size() * kChunk * sizeof(T) +
                   m_chunks.capacity() * sizeof(std::unique_ptr<T[]>);
        }

    private:
        std::vector<std::unique_ptr<T[]>> m_chunks;
        size_t m_size = 0;
    };

    // The cache of a document, created on first use.
    static SeriesCache* For(const CRivuletrixDoc* doc);
    explicit SeriesCache(const CRivuletrixDoc* doc);
    ~SeriesCache() override;

    // The PCA curve kept between frames (see PcaDetector).
    PcaMemo& Pca();
    // The record's bolus table, caught up with the samples: the PCA results
    // come from it whatever the graph shows.
    const DataTable& PcaTable();

    // Takes in the samples appended since the last call; starts again when
    // the document was reset or re-read.
    void Sync();
    void Invalidate();

    const CRivuletrixDoc* Doc() const { return m_doc; }
    int Processed() const { return m_processed; }
    // Fast paths need times and volumes that never go back.
    bool Monotone() const { return m_monotoneTime && m_monotoneVolume; }

    // ---- Per-sample values (exact, as drawn) ----
    bool Included(int s, int i) const;
    // A PCA sample that repeats the previous volume (left out of the curve).
    bool FlatPca(int i) const;
    // Window start of the instantaneous flow at i (literal search).
    int InstWindowStart(int i) const;
    int32_t Value(int s, int i, int k = -1) const;

    // Extremes and first / last included sample of a series over [a, b).
    struct Range {
        int32_t mn = INT32_MAX, mx = INT32_MIN;
        int first = -1, last = -1;
        int32_t firstValue = 0, lastValue = 0;
    };
    Range Query(int s, int a, int b) const;

    // ---- Maxima over all samples (status 'C' excluded) ----
    double maxAvgFlow = 0;
    double maxInstFlow1 = 0; // FlowOver(i, 1)
    double maxPcaFlow = 0;   // the bolus-following flow of PCA records
    uint32_t maxTicks = 0;
    uint32_t maxVolume = 0;
    int pressureMax = 0, pressureMin = 0;
    int pressureMaxIndex = 0, pressureMinIndex = 0;
    // Runs of consecutive samples with a marker status (bubble, air lock,
    // over pressure), first and last index of each.
    struct EventRun {
        int first, last;
    };
    std::vector<EventRun> events;

    // Per pixel column of one time scale: the first sample of each column,
    // its column number and the extremes of each series asked for. Kept
    // between frames and extended as samples append, so a redraw of an
    // unchanged record costs one pass over the columns.
    struct Columns {
        double timeScale = -1;
        int processed = 0;
        std::vector<int> start;
        std::vector<int64_t> col;
        std::vector<Range> ranges[SeriesCount];
        bool done[SeriesCount] = {};
    };
    const Columns& ColumnsFor(double timeScale, int s);
    int64_t ColumnOf(int i, double timeScale) const;

    // Elapsed ticks of sample i straight from the samples (hot path).
    uint32_t Ticks(int i) const;

    // Bytes held for the tables.
    size_t BytesUsed() const;

private:
    void Add(int i);
    // Walks [a, b) sample by sample into r.
    void Walk(int s, int a, int b, Range& r) const;

    const CRivuletrixDoc* m_doc;
    int m_processed = 0;
    char m_type = 0;
    bool m_newModel = true;
    // Identity of the last sample taken in, to notice a re-read document.
    uint32_t m_lastTime = 0, m_lastVolume = 0;
    char m_lastCode = 0;
    bool m_monotoneTime = true, m_monotoneVolume = true;
    uint32_t m_kBig = 0;
    // PCA maxima state.
    bool m_inBolus = false;
    int m_bolusBegin = 0;
    Chunked<MinMax> m_tables[kLevels][SeriesCount];
    // Window start of the instantaneous flow at each block's first sample.
    Chunked<uint32_t> m_blockK;
    Columns m_columns;
    std::unique_ptr<PcaMemo> m_pca;
    std::unique_ptr<DataTable> m_pcaTable;
};
