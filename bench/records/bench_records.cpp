// Record reading, writing, live intake and flow calculations on a record of
// 1,000,000 samples, each beside a bare reference loop.
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSamples = 1'000'000;

struct Fixture {
    QTemporaryDir dir;
    QString path;
    QByteArray bytes;
    std::vector<QByteArray> lines; // live measurement lines

    Fixture() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.InstModel = QStringLiteral("PXR-8");
        doc.SetFlowRate = 100;
        uint32_t t = 0, v = 0;
        for (int i = 1; i <= kSamples; ++i) {
            t += 100;
            v += 25 + (i % 7);
            doc.SetSample(i, Sample{t, v, int16_t(i % 300), i % 1000 == 0 ? 'b' : ' '});
            char line[32];
            std::snprintf(line, sizeof line, "1%c%08X%08X%04X", ' ', t, v, unsigned(i % 300));
            lines.emplace_back(line);
        }
        path = dir.filePath(QStringLiteral("big.p8d"));
        doc.WriteRecordFile(path);
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        bytes = f.readAll();
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Reference: read the file, then a bare from_chars loop over the D lines.
void BM_Read_Reference(benchmark::State& state) {
    for (auto _ : state) {
        const QByteArray b = ReadFile(F().path);
        const char* p = b.constData();
        const char* end = p + b.size();
        int64_t sum = 0;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!nl) break;
            if (*p == 'D') {
                long v[4] = {};
                const char* q = p + 1;
                q = std::from_chars(q, nl, v[0]).ptr + 3; // ",c,"
                for (int k = 1; k < 4; ++k) q = std::from_chars(q, nl, v[k]).ptr + 1;
                sum += v[0] + v[1] + v[2] + v[3];
            }
            p = nl + 1;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_Read_Record(benchmark::State& state) {
    CRivuletrixDoc doc;
    for (auto _ : state) {
        doc.ReadRecordFile(F().path);
        benchmark::DoNotOptimize(doc.StoredCount());
    }
    state.counters["bytes_per_sample"] =
        double(doc.Samples().AllocatedBytes()) / double(doc.Samples().size());
    state.counters["sizeof_sample"] = double(sizeof(Sample));
    state.SetItemsProcessed(state.iterations() * kSamples);
}

// Reference: to_chars into one buffer and one write, made durable as a save
// is: a temporary file, fsync, rename over the record.
void BM_Write_Reference(benchmark::State& state) {
    CRivuletrixDoc doc;
    doc.ReadRecordFile(F().path);
    const QString out = F().dir.filePath(QStringLiteral("ref.p8d"));
    for (auto _ : state) {
        std::string buf;
        buf.reserve(size_t(F().bytes.size()) + 64);
        char tmp[80];
        const auto& s = doc.Samples();
        for (size_t i = 0; i < s.size(); ++i) {
            char* q = tmp;
            *q++ = 'D';
            q = std::to_chars(q, tmp + 80, i + 1).ptr;
            *q++ = ',';
            *q++ = s[i].code;
            *q++ = ',';
            q = std::to_chars(q, tmp + 80, s[i].time).ptr;
            *q++ = ',';
            q = std::to_chars(q, tmp + 80, s[i].volume).ptr;
            *q++ = ',';
            q = std::to_chars(q, tmp + 80, s[i].pressure).ptr;
            *q++ = '\r';
            *q++ = '\n';
            buf.append(tmp, size_t(q - tmp));
        }
        const QByteArray tmpPath = QFile::encodeName(out + QStringLiteral(".tmp"));
        const int fd = ::open(tmpPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, buf.data(), buf.size()) != ssize_t(buf.size()) ||
            ::fsync(fd) != 0) {
            state.SkipWithError("reference write failed");
            break;
        }
        ::close(fd);
        ::rename(tmpPath.constData(), QFile::encodeName(out).constData());
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_Write_Record(benchmark::State& state) {
    CRivuletrixDoc doc;
    doc.ReadRecordFile(F().path);
    const QString out = F().dir.filePath(QStringLiteral("out.p8d"));
    for (auto _ : state) benchmark::DoNotOptimize(doc.WriteRecordFile(out));
    state.SetItemsProcessed(state.iterations() * kSamples);
}

// The record's text alone, without the disk: what the save costs in CPU.
void BM_Format_Record(benchmark::State& state) {
    CRivuletrixDoc doc;
    doc.ReadRecordFile(F().path);
    for (auto _ : state) benchmark::DoNotOptimize(doc.FormatSection().size());
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_AddSample(benchmark::State& state) {
    for (auto _ : state) {
        CRivuletrixDoc doc;
        doc.Run.running = true;
        doc.Clock = [] { return qint64(0); };
        for (const QByteArray& line : F().lines) doc.AddSample(line);
        benchmark::DoNotOptimize(doc.StoredCount());
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_FlowOver1(benchmark::State& state) {
    CRivuletrixDoc doc;
    doc.ReadRecordFile(F().path);
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0, n = doc.SampleCount(); i < n; ++i) sum += doc.FlowOver(i, 1);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

void BM_AverageFlowAt(benchmark::State& state) {
    CRivuletrixDoc doc;
    doc.ReadRecordFile(F().path);
    for (auto _ : state) {
        double sum = 0;
        for (int i = 0, n = doc.SampleCount(); i < n; ++i) sum += doc.AverageFlowAt(i);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}

// One second of a sixteen-channel test at 10 Hz: 160 measurement lines into
// sixteen live documents. With the journal, each stored sample is also
// journalled and each journal written and synced once, as its writer does
// every second. Process CPU time counts the writer threads; an iteration's
// CPU time over one second is the share of a core the live test costs.
void LiveSecond(benchmark::State& state, bool journalled) {
    constexpr int kChannels = 16;
    std::vector<std::unique_ptr<CRivuletrixDoc>> docs;
    std::vector<std::unique_ptr<TestJournal>> journals;
    for (int c = 0; c < kChannels; ++c) {
        auto doc = std::make_unique<CRivuletrixDoc>();
        doc->Run.running = true;
        doc->Clock = [] { return qint64(0); };
        if (journalled) {
            auto j = std::make_unique<TestJournal>();
            j->Open(F().dir.filePath(QStringLiteral("j%1.rxj").arg(c)), doc->FormatSection());
            TestJournal* raw = j.get();
            doc->SampleStored = [raw](int slot, const Sample& s) { raw->Append(slot, s); };
            journals.push_back(std::move(j));
        }
        docs.push_back(std::move(doc));
    }
    size_t line = 0;
    for (auto _ : state) {
        for (int k = 0; k < 10; ++k, ++line)
            for (auto& doc : docs) doc->AddSample(F().lines[line % F().lines.size()]);
        for (auto& j : journals) j->Flush();
    }
    for (auto& j : journals) j->Remove();
}

void BM_LiveSecond_Reference(benchmark::State& state) {
    LiveSecond(state, false);
}
void BM_LiveSecond_Journalled(benchmark::State& state) {
    LiveSecond(state, true);
}

} // namespace

BENCHMARK(BM_Read_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_Record)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Record)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Format_Record)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddSample)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlowOver1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AverageFlowAt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveSecond_Reference)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();
BENCHMARK(BM_LiveSecond_Journalled)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
