// The record browser over 100,000 index rows: opening it until its first
// rows are drawn, a column sort, one keystroke of the search, and the memory
// the list holds per row. Each beside a reference that does the bare part of
// the work (the index listing alone; sorting and searching a plain
// QStringList of the same texts).
#include "base/AppSettings.h"
#include "store/RecordIndex.h"
#include "store/RecordListModel.h"
#include "store/ViewRecordDlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>

namespace {

constexpr int kRows = 100'000;

RecordIndexRow RowOf(int i) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    RecordIndexRow r;
    r.controlNumber = QStringLiteral("CN%1").arg((i * 7919) % 20'000, 5, 10, QLatin1Char('0'));
    r.typeOfTest = QStringLiteral("F");
    r.startDate = QStringLiteral("%1-%2-%3")
                      .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                      .arg(QLatin1String(kMonths[(i / 28) % 12]))
                      .arg(20 + (i / 336) % 7);
    r.startTime = QStringLiteral("%1:%2:%3")
                      .arg(i % 24)
                      .arg(i % 60, 2, 10, QLatin1Char('0'))
                      .arg((i / 7) % 60, 2, 10, QLatin1Char('0'));
    r.fileName = QStringLiteral("RXr_F2026%1_T123.p8d").arg(i, 6, 10, QLatin1Char('0'));
    r.manufacture = QStringLiteral("Acme");
    r.model = QStringLiteral("P-100");
    r.serialNumber = QStringLiteral("PS-%1").arg(i);
    r.tdSerialNum = QStringLiteral("T123");
    r.instSerialNum = QStringLiteral("SN100");
    r.setFlowRate = QString::asprintf("%lf", (i % 4000) * 0.5);
    return r;
}

struct BigIndex {
    QTemporaryDir dir;
    AppSettings settings{QStringLiteral(RX_BINARY_DIR)};
    RecordIndex index{settings};
    BigIndex() {
        index.SetDataFolder(dir.path());
        index.SetSeedFolder(QStringLiteral(RX_BINARY_DIR));
        index.Open();
        CADODatabase& db = index.Table().Database();
        db.BeginTrans();
        for (int i = 0; i < kRows; ++i) index.AddRow(RowOf(i));
        db.CommitTrans();
        index.Open();
    }
    static BigIndex& Get() {
        static BigIndex big;
        return big;
    }
};

size_t HeapInUse() {
    malloc_trim(0);
    return mallinfo2().uordblks;
}

// Opening: listing the index, the model, the dialog shown and its first rows
// painted.
void BM_BrowserOpen(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    int rows = 0;
    for (auto _ : state) {
        CViewRecordDlg dlg(big.index, big.settings, [](const QString&) { return true; });
        dlg.show();
        benchmark::DoNotOptimize(dlg.List()->viewport()->grab());
        rows = dlg.Model()->RowCount();
    }
    state.counters["rows"] = rows;
}

// Reference: the index listing alone.
void BM_BrowserOpenReference_ListRows(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    for (auto _ : state) {
        QList<RecordListRow> rows;
        big.index.ListRows(rows);
        benchmark::DoNotOptimize(rows.size());
    }
}

RecordListModel& BigModel() {
    static RecordListModel* model = [] {
        auto* m = new RecordListModel;
        QList<RecordListRow> rows;
        BigIndex::Get().index.ListRows(rows);
        m->SetRows(rows);
        return m;
    }();
    return *model;
}

void BM_SortColumn(benchmark::State& state) {
    RecordListModel& m = BigModel();
    const auto column = RecordListModel::Column(state.range(0));
    for (auto _ : state) m.SortByClick(column); // alternates the direction
}

// Reference: a stable sort of the same control numbers as a QStringList,
// without case.
void BM_SortReference_QStringList(benchmark::State& state) {
    QStringList controls;
    for (int i = 0; i < kRows; ++i) controls << RowOf(i).controlNumber;
    bool down = false;
    for (auto _ : state) {
        std::stable_sort(controls.begin(), controls.end(),
                         [down](const QString& a, const QString& b) {
                             const int c = a.compare(b, Qt::CaseInsensitive);
                             return down ? c > 0 : c < 0;
                         });
        down = !down;
    }
}

// One keystroke in the search field: matching every row and scrolling.
void BM_SearchKeystroke(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    CViewRecordDlg dlg(big.index, big.settings, [](const QString&) { return true; });
    dlg.show();
    const QString texts[] = {QStringLiteral("cn1"), QStringLiteral("cn12"),
                             QStringLiteral("cn123")};
    int i = 0;
    for (auto _ : state) dlg.SearchEdit()->setText(texts[i++ % 3]);
}

// Reference: QString::contains on the upper-cased control numbers.
void BM_SearchReference_QStringList(benchmark::State& state) {
    QStringList controls;
    for (int i = 0; i < kRows; ++i) controls << RowOf(i).controlNumber;
    int i = 0;
    const QString texts[] = {QStringLiteral("cn1"), QStringLiteral("cn12"),
                             QStringLiteral("cn123")};
    for (auto _ : state) {
        const QString needle = texts[i++ % 3].toUpper();
        int n = 0;
        for (const QString& c : controls) n += c.toUpper().contains(needle) ? 1 : 0;
        benchmark::DoNotOptimize(n);
    }
}

// Heap that an open browser holds per row (the index's own cursor excluded).
void BM_MemoryPerRow(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    double perRow = 0, modelPerRow = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        {
            CViewRecordDlg dlg(big.index, big.settings, [](const QString&) { return true; });
            dlg.show();
            benchmark::DoNotOptimize(dlg.List()->viewport()->grab());
            const size_t after = HeapInUse();
            perRow = double(after - before) / dlg.Model()->RowCount();
            modelPerRow = double(dlg.Model()->BytesHeld()) / dlg.Model()->RowCount();
        }
    }
    state.counters["bytes_per_row"] = perRow;
    state.counters["model_bytes_per_row"] = modelPerRow;
}

// Reference: the same rows kept as RecordListRow values (eleven QStrings).
void BM_MemoryPerRowReference_RecordListRows(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    double perRow = 0;
    for (auto _ : state) {
        const size_t before = HeapInUse();
        QList<RecordListRow> rows;
        big.index.ListRows(rows);
        // Detached from the cursor's copies, as a list of its own would be.
        for (RecordListRow& r : rows)
            for (QString* s : {&r.controlNumber, &r.typeOfTest, &r.startDate, &r.startTime,
                               &r.setFlowRate, &r.fileName, &r.manufacture, &r.model,
                               &r.serialNumber, &r.instSerialNum, &r.tdSerialNum})
                s->detach();
        perRow = double(HeapInUse() - before) / rows.size();
    }
    state.counters["bytes_per_row"] = perRow;
}

} // namespace

BENCHMARK(BM_BrowserOpen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BrowserOpenReference_ListRows)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SortColumn)
    ->Arg(RecordListModel::ControlNo)
    ->Arg(RecordListModel::StartDateTime)
    ->Arg(RecordListModel::SetFlowRate)
    ->Arg(RecordListModel::Filename)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortReference_QStringList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchReference_QStringList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerRow)->Iterations(1);
BENCHMARK(BM_MemoryPerRowReference_RecordListRows)->Iterations(1);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
