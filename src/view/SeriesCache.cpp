#include "SeriesCache.h"

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

void SeriesCache::Invalidate() {
    m_pca.reset();
    m_processed = 0;
    m_columns = Columns{};
    m_monotoneTime = m_monotoneVolume = true;
    m_kBig = 0;
    m_inBolus = false;
    m_bolusBegin = 0;
    m_blocks.clear();
    m_supers.clear();
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
    if ((i & (kBlock - 1)) == 0) {
        m_blocks.push_back(Block{});
        m_blocks.back().k = m_kBig;
    }
    if ((i & (kSuper - 1)) == 0) m_supers.emplace_back();
    Block& b = m_blocks.back();
    Extremes& sup = m_supers.back();
    for (int s = 0; s < SeriesCount; ++s) {
        if (!Included(s, i)) continue;
        const int k = (s == Inst) ? ((i > 0 && v == d.VolumeAt(i - 1)) ? i - 1 : int(m_kBig)) : -1;
        const int32_t value = Value(s, i, k);
        b.e.Add(s, value);
        sup.Add(s, value);
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
    uint32_t k = m_blocks[size_t(bs >> kBlockBits)].k;
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
    // Whole blocks and super blocks in between; remember the first and last
    // chunk holding an included sample to find the first and last sample.
    int firstChunk = -1, firstLen = 0, lastChunk = -1, lastLen = 0;
    while (i + kBlock <= b) {
        const Extremes* e;
        int len;
        if ((i & (kSuper - 1)) == 0 && i + kSuper <= b) {
            e = &m_supers[size_t(i >> kSuperBits)];
            len = kSuper;
        } else {
            e = &m_blocks[size_t(i >> kBlockBits)].e;
            len = kBlock;
        }
        if (!e->Empty(s)) {
            r.mn = std::min(r.mn, e->mn[s]);
            r.mx = std::max(r.mx, e->mx[s]);
            if (firstChunk < 0) {
                firstChunk = i;
                firstLen = len;
            }
            lastChunk = i;
            lastLen = len;
        }
        i += len;
    }
    Range tail;
    if (i < b) Walk(s, i, b, tail);

    const auto findIn = [&](int start, int len, bool wantFirst) {
        // Narrow a super block to its first / last non-empty block, then walk.
        int bs = start, be = start + len;
        if (len > kBlock) {
            if (wantFirst) {
                for (int j = start; j < start + len; j += kBlock)
                    if (!m_blocks[size_t(j >> kBlockBits)].e.Empty(s)) {
                        bs = j;
                        break;
                    }
            } else {
                for (int j = start + len - kBlock; j >= start; j -= kBlock)
                    if (!m_blocks[size_t(j >> kBlockBits)].e.Empty(s)) {
                        bs = j;
                        break;
                    }
            }
            be = bs + kBlock;
        }
        Range w;
        Walk(s, bs, be, w);
        return w;
    };
    if (r.first < 0) {
        if (firstChunk >= 0) {
            const Range w = findIn(firstChunk, firstLen, true);
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
    } else if (lastChunk >= 0) {
        const Range w = findIn(lastChunk, lastLen, false);
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
        for (int j = from; j < n;) {
            const int64_t c = ColumnOf(j, ts);
            // First sample beyond this column (columns never go back).
            int lo = j, hi = j + 1, step = 1;
            while (hi < n && ColumnOf(hi, ts) <= c) {
                lo = hi;
                hi += step;
                step *= 2;
            }
            if (hi > n) hi = n;
            while (hi - lo > 1) {
                const int mid = lo + (hi - lo) / 2;
                if (ColumnOf(mid, ts) <= c)
                    lo = mid;
                else
                    hi = mid;
            }
            m.start.push_back(j);
            m.col.push_back(c);
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
    // Deque chunks of 512 bytes; at most one partly used chunk each.
    return (m_blocks.size() + 512 / sizeof(Block)) * sizeof(Block) +
           (m_supers.size() + 512 / sizeof(Extremes)) * sizeof(Extremes) +
           events.capacity() * sizeof(EventRun);
}
