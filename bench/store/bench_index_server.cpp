// The records index on a PostgreSQL server holding 1,000,000 rows: the
// record browser until its first rows are drawn, FindEquipment, and a
// rebuild from 10,000 record files. Each beside the same operation on the
// SQLite file of the data folder (100,000 rows for the browser and the
// look-up; the same 10,000 files for the rebuild) as the reference. The
// server is a throwaway one started here (see tests/store/PgTestServer.h).
#include "../../tests/store/PgTestServer.h"

#include "base/AppSettings.h"
#include "store/RecordIndex.h"
#include "store/RecordListModel.h"
#include "store/ViewRecordDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kServerRows = 1'000'000;
constexpr int kFileRows = 100'000;
constexpr int kRebuildFiles = 10'000;

QByteArray RecordText(int i) {
    return "H1,SN1,2.10\r\nH2,1,T9,1.0\r\nH6,CN" + QByteArray::number(i) +
           "\r\nH7,Op\r\nH8,Acme\r\nH12,Flow\r\nH13,5.50   \r\nH18,08/12/2026,14:05:09\r\n"
           "D1,:,0,0,0\r\nD2, ,1000,14,20\r\n";
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

// A working folder with settings naming a data folder, and the server
// line when server is set.
struct Bench {
    QTemporaryDir dir;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<RecordIndex> index;
    QString data;

    Bench(const QString& serverLine) {
        data = dir.path() + QStringLiteral("/data");
        QDir().mkpath(data);
        QDir().mkpath(dir.path() + QStringLiteral("/settings"));
        WriteFile(dir.path() + QStringLiteral("/RivuletrixIniFilePath.ini"),
                  ("[INIFilePath]\r\nINIFilePathWin7=" + dir.path() + "/settings\r\n").toUtf8());
        WriteFile(dir.path() + QStringLiteral("/settings/RivuletrixApp.ini"),
                  ("[Default Parameters]\r\nPathType=2\r\nCustomPath=" + data +
                   "\r\nBuildIndex=0\r\nFlowTolerance=5\r\n" + serverLine)
                      .toUtf8());
        settings = std::make_unique<AppSettings>(dir.path());
        index = std::make_unique<RecordIndex>(*settings);
        index->SetSeedFolder(QStringLiteral(RX_BINARY_DIR));
        index->SetStartupFinished(true);
        index->Open();
    }
};

PgTestServer& Server() {
    static PgTestServer server;
    static bool started = [] {
        QString error;
        if (!server.Start(&error)) std::fprintf(stderr, "no server: %s\n", qPrintable(error));
        return true;
    }();
    (void)started;
    return server;
}

// Rows made on the server itself, as many benches would have added them.
void FillOnServer(int rows) {
    QString error;
    const bool filled = Server().Exec(
        QStringLiteral(
            "INSERT INTO \"RivuletrixRecords\" (\"ControlNumber\", \"TypeofTest\", \"StartDate\", "
            "\"StartTime\", \"DateTime\", \"Filename\", \"Operator\", \"Manufacture\", \"Model\", "
            "\"SerialNumber\", \"ChannelNo\", \"TdSerialNum\", \"InstSerialNum\", \"Tolerance\", "
            "\"SetFlowRate\") SELECT 'CN' || lpad(((i::bigint * 7919) % 200000)::text, 6, '0'), "
            "'F', "
            "'08-Dec-26', '14:05:09', timestamp '2026-12-08 14:05:09', 'RXr_F2026' || "
            "lpad(i::text, 7, '0') || '_T123.p8d', 'Op', 'Acme', 'P-100', 'PS-' || i, 0, 'T123', "
            "'SN100', 5, '5.500000' FROM generate_series(1, %1) AS i")
            .arg(rows),
        QStringLiteral("rx"), &error);
    if (!filled) std::fprintf(stderr, "filling the server failed: %s\n", qPrintable(error));
    Server().Exec(QStringLiteral("ANALYZE \"RivuletrixRecords\""));
}

Bench& ServerBench() {
    static Bench* b = [] {
        Server().Reset();
        auto* bench = new Bench(QStringLiteral("IndexServer=%1\r\n").arg(Server().Uri()));
        FillOnServer(kServerRows);
        bench->index->Open();
        return bench;
    }();
    return *b;
}

Bench& FileBench() {
    static Bench* b = [] {
        auto* bench = new Bench({});
        CADODatabase& db = bench->index->Table().Database();
        db.BeginTrans();
        for (int i = 0; i < kFileRows; ++i) {
            RecordIndexRow r;
            r.controlNumber = QStringLiteral("CN%1").arg((i * 7919) % 20000, 6, 10, QChar('0'));
            r.fileName = QStringLiteral("RXr_F2026%1_T123.p8d").arg(i, 7, 10, QChar('0'));
            r.typeOfTest = QStringLiteral("F");
            r.setFlowRate = QStringLiteral("5.500000");
            bench->index->AddRow(r);
        }
        db.CommitTrans();
        bench->index->Open();
        return bench;
    }();
    return *b;
}

void BrowserOpen(benchmark::State& state, Bench& b) {
    int rows = 0;
    for (auto _ : state) {
        CViewRecordDlg dlg(*b.index, *b.settings, [](const QString&) { return true; });
        dlg.show();
        benchmark::DoNotOptimize(dlg.List()->viewport()->grab());
        rows = dlg.Model()->RowCount();
    }
    state.counters["rows"] = rows;
}

void BM_BrowserFirstRows_Server1M(benchmark::State& state) {
    BrowserOpen(state, ServerBench());
}
// Until the last of the million rows is in the list, with the longest time
// the UI thread spent away from its event loop meanwhile.
void BM_BrowserAllRows_Server1M(benchmark::State& state) {
    Bench& b = ServerBench();
    int rows = 0;
    qint64 longest = 0;
    for (auto _ : state) {
        CViewRecordDlg dlg(*b.index, *b.settings, [](const QString&) { return true; });
        dlg.show();
        QElapsedTimer gap;
        gap.start();
        while (dlg.Loading()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            longest = std::max(longest, gap.restart());
        }
        rows = dlg.Model()->RowCount();
    }
    state.counters["rows"] = rows;
    state.counters["longest_ui_stall_ms"] = double(longest);
}
void BM_BrowserFirstRowsReference_File100k(benchmark::State& state) {
    BrowserOpen(state, FileBench());
}

void FindEquipment(benchmark::State& state, Bench& b, int modulo) {
    int i = 0, found = 0;
    for (auto _ : state) {
        EquipmentDetails d;
        found += b.index->FindEquipment(
            QStringLiteral("CN%1").arg((i++ * 7919) % modulo, 6, 10, QChar('0')), d);
    }
    state.counters["found"] = found;
}

void BM_FindEquipment_Server1M(benchmark::State& state) {
    FindEquipment(state, ServerBench(), 200000);
}
void BM_FindEquipmentReference_File100k(benchmark::State& state) {
    FindEquipment(state, FileBench(), 20000);
}

// 10,000 record files rebuilt into an index that holds the 1,000,000 rows
// (server) or is empty (file).
void Rebuild(benchmark::State& state, Bench& b) {
    for (int i = 0; i < kRebuildFiles; ++i)
        WriteFile(b.data + QStringLiteral("/r%1.p8d").arg(i, 5, 10, QChar('0')), RecordText(i));
    int rows = 0;
    for (auto _ : state) {
        const RebuildResult r = b.index->Rebuild(RecordIndex::RebuildKind::IndexBuild);
        rows = r.rowsAdded;
    }
    state.counters["rows"] = rows;
}

void BM_Rebuild10kFiles_Server(benchmark::State& state) {
    Rebuild(state, ServerBench());
}
void BM_Rebuild10kFilesReference_File(benchmark::State& state) {
    static Bench b({});
    Rebuild(state, b);
}

} // namespace

BENCHMARK(BM_BrowserFirstRows_Server1M)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BrowserAllRows_Server1M)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BrowserFirstRowsReference_File100k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindEquipment_Server1M)->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_FindEquipmentReference_File100k)->Unit(benchmark::kMicrosecond)->Iterations(1000);
BENCHMARK(BM_Rebuild10kFiles_Server)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Rebuild10kFilesReference_File)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!PgTestServer::Missing().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(PgTestServer::Missing()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    Server().Stop();
    return 0;
}
