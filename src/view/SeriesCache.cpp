#include "SeriesCache.h"

#include "view/DataTable.h"
#include "view/PcaDetector.h"

#include "records/RivuletrixDoc.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t Sat32(double v) {
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int32_t(v);
}

bool IsEvent(char c) {
    return c == 'b' || c == 'B' || c == 'a' || c == 'A' || c == 'o' || c == 'O';
}

} // namespace

SeriesCache* SeriesCache::For(const CRivuletrixDoc* doc) {
    auto* cache = doc->findChild<SeriesCache*>(QString(), Qt::FindDirectChildrenOnly);
    if (!cache) cache = new SeriesCache(doc);
    return cache;
}

SeriesCache::SeriesCache(const CRivuletrixDoc* doc)
    : QObject(const_cast<CRivuletrixDoc*>(doc)), m_doc(doc) {}

SeriesCache::~SeriesCache() = default;

PcaMemo& SeriesCache::Pca() {
    if (!m_pca) m_pca = std::make_unique<PcaMemo>(*m_doc);
    return *m_pca;
}

const DataTable& SeriesCache::PcaTable() {
    if (!m_pcaTable) m_pcaTable = std::make_unique<DataTable>(*m_doc);
    m_pcaTable->Sync();
    return *m_pcaTable;
}

void SeriesCache::Invalidate() {
    m_pca.reset();
    m_processed = 0;
    m_columns = Columns{};
    m_monotoneTime = m_monotoneVolume = true;
    m_kBig = 0;
    m_inBolus = false;
    m_bolusBegin = 0;
    for (auto& level : m_tables)
        for (auto& table : level) table.clear();
    m_blockK.clear();
    events.clear();
    maxAvgFlow = maxInstFlow1 = maxPcaFlow = 0;
    maxTicks = maxVolume = 0;
    pressureMax = pressureMin = pressureMaxIndex = pressureMinIndex = 0;
}

void SeriesCache::Sync() {
    const CRivuletrixDoc& d = *m_doc;
    const int n = std::min<int>(d.SampleCount(), int(d.Samples().size()));
    if (m_processed > 0) {
        const int last = m_processed - 1;
        if (m_processed > n || m_type != d.TestType || m_newModel != d.NewModel ||
            d.ElapsedTicks(last) != m_lastTime || d.VolumeAt(last) != m_lastVolume ||
            d.StatusAt(last) != m_lastCode)
            Invalidate();
    }
    m_type = d.TestType;
    m_newModel = d.NewModel;
    for (int i = m_processed; i < n; ++i) Add(i);
    m_processed = std::max(m_processed, n);
    if (m_processed > 0) {
        m_lastTime = d.ElapsedTicks(m_processed - 1);
        m_lastVolume = d.VolumeAt(m_processed - 1);
        m_lastCode = d.StatusAt(m_processed - 1);
    }
}

bool SeriesCache::Included(int s, int i) const {
    const char code = m_doc->StatusAt(i);
    if (code == 'C') return false;
    switch (s) {
    case Inst:
        return !(i > 0 && m_doc->ElapsedTicks(i) == 0) && m_doc->VolumeAt(i) > 2399;
    case Avg:
        return m_doc->VolumeAt(i) > 2400;
    case Volume:
        return !FlatPca(i);
    case Pressure:
        return !(i > 0 && m_doc->ElapsedTicks(i) == 0);
    }
    return false;
}

bool SeriesCache::FlatPca(int i) const {
    if (m_type != 'P') return false;
    // The volume curve of a PCA record leaves out samples that repeat the
    // last volume drawn (with volumes that never fall: the previous one).
    const SampleArray& a = m_doc->Samples();
    for (int k = i - 1; k >= 0; --k)
        if (a[size_t(k)].code != 'C') return a[size_t(k)].volume == a[size_t(i)].volume;
    return false;
}

int SeriesCache::InstWindowStart(int i) const {
    const uint32_t vi = m_doc->VolumeAt(i);
    int k = i - 1;
    for (; k > 0; --k) {
        const uint32_t dv = vi - m_doc->VolumeAt(k);
        if (dv > 2399 || dv == 0) break;
    }
    return std::max(k, 0);
}

int32_t SeriesCache::Value(int s, int i, int k) const {
    const CRivuletrixDoc& d = *m_doc;
    switch (s) {
    case Inst:
        if (k < 0) k = InstWindowStart(i);
        return Sat32(std::trunc(d.FlowOver(i, i - k)));
    case Avg:
        return Sat32(std::trunc(d.AverageFlowAt(i)));
    case Volume:
        return Sat32(double(d.VolumeAt(i)));
    case Pressure:
        return d.PressureAt(i);
    }
    return 0;
}

void SeriesCache::Add(int i) {
    const CRivuletrixDoc& d = *m_doc;
    const uint32_t t = d.ElapsedTicks(i);
    const uint32_t v = d.VolumeAt(i);
    const char code = d.StatusAt(i);
    if (i > 0) {
        if (t < d.ElapsedTicks(i - 1)) m_monotoneTime = false;
        if (v < d.VolumeAt(i - 1)) m_monotoneVolume = false;
    }
    if (code != 'C') {
        maxTicks = std::max(maxTicks, t);
        maxVolume = std::max(maxVolume, v);
        const int p = d.PressureAt(i);
        if (p > pressureMax) {
            pressureMax = p;
            pressureMaxIndex = i;
        }
        if (p < pressureMin) {
            pressureMin = p;
            pressureMinIndex = i;
        }
        maxAvgFlow = std::max(maxAvgFlow, d.AverageFlowAt(i));
        maxInstFlow1 = std::max(maxInstFlow1, d.FlowOver(i, 1));
        if (d.TestType == 'P') {
            // Follows the bolus state: per-interval flow inside a bolus.
            const int e = d.BolusEdgeAt(i);
            double f;
            if (e > 0 && !m_inBolus) {
                f = d.FlowOver(i, 1);
                m_inBolus = true;
                m_bolusBegin = i + 1;
            } else if (e != 0) {
                f = d.FlowOver(i, i - m_bolusBegin);
                if (e < 0) m_inBolus = false;
            } else {
                f = m_inBolus ? d.FlowOver(i, i - m_bolusBegin) : d.FlowOver(i, 1);
            }
            maxPcaFlow = std::max(maxPcaFlow, f);
        }
    }
    if (IsEvent(code)) {
        if (!events.empty() && events.back().last == i - 1)
            events.back().last = i;
        else
            events.push_back({i, i});
    }

    while (int64_t(m_kBig) + 1 < i && v - d.VolumeAt(int(m_kBig) + 1) > 2399) ++m_kBig;
    if ((i & (kBlock - 1)) == 0) m_blockK.push_back(m_kBig);
    for (int level = 0; level < kLevels; ++level) {
        if ((i & ((1 << LevelBits(level)) - 1)) != 0) break;
        for (int s = 0; s < SeriesCount; ++s) m_tables[level][s].push_back(MinMax{});
    }
    for (int s = 0; s < SeriesCount; ++s) {
        if (!Included(s, i)) continue;
        const int k = (s == Inst) ? ((i > 0 && v == d.VolumeAt(i - 1)) ? i - 1 : int(m_kBig)) : -1;
        const int32_t value = Value(s, i, k);
        for (int level = 0; level < kLevels; ++level) m_tables[level][s].back().Add(value);
    }
}

uint32_t SeriesCache::Ticks(int i) const {
    const SampleArray& a = m_doc->Samples();
    if (i < 0 || size_t(i) >= a.size()) return 0;
    const uint32_t t = a[size_t(i)].time;
    return m_newModel ? t : t * 4u;
}

void SeriesCache::Walk(int s, int a, int b, Range& r) const {
    const SampleArray& smp = m_doc->Samples();
    const auto take = [&r](int i, int32_t v) {
        if (r.first < 0) {
            r.first = i;
            r.firstValue = v;
        }
        r.last = i;
        r.lastValue = v;
        r.mn = std::min(r.mn, v);
        r.mx = std::max(r.mx, v);
    };
    if (s != Inst) {
        for (int i = a; i < b; ++i) {
            const Sample& x = smp[size_t(i)];
            if (x.code == 'C') continue;
            switch (s) {
            case Avg:
                if (x.volume > 2400) take(i, Value(s, i));
                break;
            case Volume:
                if (!FlatPca(i))
                    take(i, x.volume >= uint32_t(INT32_MAX) ? INT32_MAX : int32_t(x.volume));
                break;
            case Pressure:
                if (!(i > 0 && x.time == 0)) take(i, x.pressure);
                break;
            }
        }
        return;
    }
    // The window start moves forward from the one kept for the block.
    const int bs = a & ~(kBlock - 1);
    uint32_t k = m_blockK[size_t(bs >> kBlockBits)];
    for (int i = bs; i < b; ++i) {
        const uint32_t v = smp[size_t(i)].volume;
        while (int64_t(k) + 1 < i && v - smp[size_t(k) + 1].volume > 2399) ++k;
        if (i < a || !Included(s, i)) continue;
        const int kk = (i > 0 && v == smp[size_t(i) - 1].volume) ? i - 1 : int(k);
        take(i, Value(s, i, kk));
    }
}

SeriesCache::Range SeriesCache::Query(int s, int a, int b) const {
    Range r;
    b = std::min(b, m_processed);
    if (a >= b) return r;
    int i = a;
    const int headEnd = std::min(b, (a + kBlock - 1) & ~(kBlock - 1));
    if (headEnd > a) {
        Walk(s, a, headEnd, r);
        i = headEnd;
    }
    // Whole entries in between, each from the highest level that is aligned
    // here and fits; remember the first and last one holding a sample.
    int firstAt = -1, firstLevel = 0, lastAt = -1, lastLevel = 0;
    while (i + kBlock <= b) {
        int level = 0;
        while (level + 1 < kLevels) {
            const int span = 1 << LevelBits(level + 1);
            if ((i & (span - 1)) != 0 || i + span > b) break;
            ++level;
        }
        const MinMax& e = m_tables[level][s][size_t(i) >> LevelBits(level)];
        if (!e.Empty()) {
            r.mn = std::min(r.mn, e.mn);
            r.mx = std::max(r.mx, e.mx);
            if (firstAt < 0) {
                firstAt = i;
                firstLevel = level;
            }
            lastAt = i;
            lastLevel = level;
        }
        i += 1 << LevelBits(level);
    }
    Range tail;
    if (i < b) Walk(s, i, b, tail);

    const auto findIn = [&](int at, int level, bool wantFirst) {
        // Down the levels to the first / last block holding a sample, then walk it.
        for (; level > 0; --level) {
            const int childBits = LevelBits(level - 1);
            const int fan = 1 << kFanBits;
            for (int j = 0; j < fan; ++j) {
                const int child = at + ((wantFirst ? j : fan - 1 - j) << childBits);
                if (!m_tables[level - 1][s][size_t(child) >> childBits].Empty()) {
                    at = child;
                    break;
                }
            }
        }
        Range w;
        Walk(s, at, at + kBlock, w);
        return w;
    };
    if (r.first < 0) {
        if (firstAt >= 0) {
            const Range w = findIn(firstAt, firstLevel, true);
            r.first = w.first;
            r.firstValue = w.firstValue;
        } else {
            r.first = tail.first;
            r.firstValue = tail.firstValue;
        }
    }
    if (tail.last >= 0) {
        r.last = tail.last;
        r.lastValue = tail.lastValue;
    } else if (lastAt >= 0) {
        const Range w = findIn(lastAt, lastLevel, false);
        r.last = w.last;
        r.lastValue = w.lastValue;
    }
    if (tail.first >= 0) {
        r.mn = std::min(r.mn, tail.mn);
        r.mx = std::max(r.mx, tail.mx);
    }
    return r;
}

int64_t SeriesCache::ColumnOf(int i, double timeScale) const {
    const double v = Ticks(i) / timeScale;
    return v > 9e18 ? INT64_MAX / 2 : int64_t(v);
}

const SeriesCache::Columns& SeriesCache::ColumnsFor(double ts, int s) {
    Columns& m = m_columns;
    const int n = m_processed;
    if (m.timeScale != ts || m.processed > n) {
        m = Columns{};
        m.timeScale = ts;
    }
    const auto fill = [&](int series, size_t fromColumn) {
        std::vector<Range>& r = m.ranges[series];
        r.resize(m.start.size());
        for (size_t k = fromColumn; k < m.start.size(); ++k) {
            const int end = k + 1 < m.start.size() ? m.start[k + 1] : n;
            r[k] = Query(series, m.start[k], end);
        }
    };
    if (m.processed < n) {
        // The last column may grow: take it again with the new samples.
        int from = 0;
        if (!m.start.empty()) {
            from = m.start.back();
            m.start.pop_back();
            m.col.pop_back();
        }
        const size_t firstNew = m.start.size();
        int width = 1; // samples in the previous column: the next is much the same
        for (int j = from; j < n;) {
            const int64_t c = ColumnOf(j, ts);
            // First sample beyond this column (columns never go back): look
            // where the previous width puts it, then widen the bracket from
            // there in both directions, then bisect.
            int lo = j, hi = std::min(n, j + width);
            if (hi < n && ColumnOf(hi, ts) <= c) {
                lo = hi;
                for (int step = 1;; step *= 2) {
                    hi = lo + step;
                    if (hi >= n) {
                        hi = n;
                        break;
                    }
                    if (ColumnOf(hi, ts) > c) break;
                    lo = hi;
                }
            } else {
                for (int step = 1;; step *= 2) {
                    const int probe = hi - step;
                    if (probe <= lo) break;
                    if (ColumnOf(probe, ts) <= c) {
                        lo = probe;
                        break;
                    }
                    hi = probe;
                }
            }
            while (hi - lo > 1) {
                const int mid = lo + (hi - lo) / 2;
                if (ColumnOf(mid, ts) <= c)
                    lo = mid;
                else
                    hi = mid;
            }
            m.start.push_back(j);
            m.col.push_back(c);
            width = hi - j;
            j = hi;
        }
        m.processed = n;
        for (int series = 0; series < SeriesCount; ++series)
            if (m.done[series]) fill(series, firstNew);
    }
    if (!m.done[s]) {
        fill(s, 0);
        m.done[s] = true;
    }
    return m;
}

size_t SeriesCache::BytesUsed() const {
    size_t bytes = m_blockK.Bytes() + events.capacity() * sizeof(EventRun);
    for (const auto& level : m_tables)
        for (const auto& table : level) bytes += table.Bytes();
    return bytes;
}
