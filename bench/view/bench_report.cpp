// The data table and the printed report of long records. Table: opening it
// and jumping to its last row on a 3,600,000-sample record, beside the same
// on a 36,000-sample one (the reference: a frame must not grow with the
// record), with the bytes the table keeps. Report: paginating and writing
// the data-table PDF of 5,000 and 100,000-sample Flow records, beside the
// one-page graph report of the same record.
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/DataTable.h"
#include "view/GraphRenderer.h"
#include "view/RecordReport.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

CRivuletrixDoc& Doc(int samples) {
    static std::map<int, std::unique_ptr<CRivuletrixDoc>> docs;
    auto& d = docs[samples];
    if (!d) {
        d = std::make_unique<CRivuletrixDoc>();
        const uint32_t period = uint32_t(std::max<int64_t>(1, 360000000LL / samples));
        synth::Load(*d, synth::Flow(25.0, period, samples, 0.4, [samples](int i) {
            return i == samples / 3 ? 'b' : (i == samples / 2 ? 'C' : ' ');
        }));
    }
    return *d;
}

// Opening the table: the scan of the record and the first screen.
void BM_TableOpen(benchmark::State& state) {
    CRivuletrixDoc& doc = Doc(int(state.range(0)));
    QImage image(1920, 1080, QImage::Format_RGB32);
    size_t kept = 0;
    for (auto _ : state) {
        DataTable table(doc);
        table.Sync();
        QPainter p(&image);
        p.fillRect(image.rect(), Qt::white);
        table.Draw(p, 0, 0, image.rect(), 96);
        kept = table.LineCount();
    }
    state.counters["lines"] = double(kept);
}
BENCHMARK(BM_TableOpen)->Arg(36000)->Arg(3600000)->Unit(benchmark::kMillisecond);

// One frame at the last row of an open table.
void BM_TableJumpToEnd(benchmark::State& state) {
    CRivuletrixDoc& doc = Doc(int(state.range(0)));
    DataTable table(doc);
    table.Sync();
    QImage image(1920, 1080, QImage::Format_RGB32);
    const int visible = 1080 / DataTable::LinePitch(96);
    int frame = 0;
    for (auto _ : state) {
        // Alternate ends so that nothing is reused between frames.
        const int first = (frame++ & 1) ? 0 : table.LineCount() - visible;
        QPainter p(&image);
        p.fillRect(image.rect(), Qt::white);
        table.Draw(p, first, 0, image.rect(), 96);
    }
    state.counters["lines"] = double(table.LineCount());
}
BENCHMARK(BM_TableJumpToEnd)->Arg(36000)->Arg(3600000)->Unit(benchmark::kMillisecond);

void Report(benchmark::State& state, bool table) {
    CRivuletrixDoc& doc = Doc(int(state.range(0)));
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("report.pdf"));
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF());
    int pages = 0;
    for (auto _ : state) {
        ViewState st;
        ReportSetup setup;
        setup.table = table;
        RecordReport::WritePdf(out, doc, st, setup, layout, nullptr, &pages);
    }
    state.counters["pages"] = pages;
    state.counters["bytes"] = double(QFileInfo(out).size());
}

void BM_ReportTablePdf(benchmark::State& state) {
    Report(state, true);
}
BENCHMARK(BM_ReportTablePdf)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ReportGraphPdf(benchmark::State& state) {
    Report(state, false);
}
BENCHMARK(BM_ReportGraphPdf)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
