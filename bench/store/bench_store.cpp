// The records index: rebuilding it from 10,000 record files of 1,000 samples,
// listing 100,000 rows and finding equipment among them, each beside a
// reference that does the bare part of the work (reading the files alone,
// plain SQL on the same table).
#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kFiles = 10'000;
constexpr int kSamplesPerFile = 1'000;
constexpr int kRows = 100'000;

QString ControlOf(int i) {
    return QStringLiteral("CN%1").arg(i % 20'000, 5, 10, QLatin1Char('0'));
}

QByteArray RecordFile(int n) {
    QByteArray out;
    out.reserve(64 * 22 + 28 * kSamplesPerFile);
    const QByteArray control = ControlOf(n).toLatin1();
    out += "H1,SN100,2.10\r\nH2,2,T123,1.0\r\nH3,Biomedical Engineering\r\nH4,\r\nH5,\r\n";
    out +=
        "H6," + control + "\r\nH7,Smith\r\nH8,Acme\r\nH9,P-100\r\nH10,PS-" + QByteArray::number(n) +
        "\r\nH11,Ward 3\r\nH12,Flow\r\nH13,5.50   \r\nH14,100.00 \r\nH15,0.00   \r\nH16,0.00   \r\n"
        "H17,\r\nH18,08-Dec-2026,14:05:09\r\nH19,PXR-8\r\nH20,Desc\r\nH21,Maker\r\nH22,note\r\n";
    out += "D1,:,0,0,0\r\n";
    char line[64];
    for (int i = 2; i <= kSamplesPerFile; ++i) {
        const int len =
            std::snprintf(line, sizeof line, "D%d, ,%d,%d,%d\r\n", i, i * 1000, i * 15, 20 + i % 7);
        out.append(line, len);
    }
    return out;
}

// 10,000 record files in a data folder, made once.
struct RecordFolder {
    QTemporaryDir dir;
    RecordFolder() {
        for (int i = 0; i < kFiles; ++i) {
            QFile f(dir.filePath(
                QStringLiteral("RXr_F2026%1_T123.p8d").arg(i, 5, 10, QLatin1Char('0'))));
            f.open(QIODevice::WriteOnly);
            f.write(RecordFile(i));
        }
    }
    static RecordFolder& Get() {
        static RecordFolder folder;
        return folder;
    }
};

RecordIndexRow RowOf(int i) {
    RecordIndexRow r;
    r.controlNumber = ControlOf(i);
    r.typeOfTest = QStringLiteral("F");
    r.startDate = QStringLiteral("08-Dec-26");
    r.startTime = QStringLiteral("14:05:09");
    r.dateTime = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
    r.fileName = QStringLiteral("RXr_F2026%1_T123.p8d").arg(i, 6, 10, QLatin1Char('0'));
    r.operatorName = QStringLiteral("Smith");
    r.manufacture = QStringLiteral("Acme");
    r.model = QStringLiteral("P-100");
    r.serialNumber = QStringLiteral("PS-%1").arg(i);
    r.location = QStringLiteral("Ward 3");
    r.comments = QStringLiteral("note");
    r.channelNo = 1;
    r.tdSerialNum = QStringLiteral("T123");
    r.tdVersion = QStringLiteral("1.0");
    r.instSerialNum = QStringLiteral("SN100");
    r.instVersion = QStringLiteral("2.10");
    r.instModel = QStringLiteral("PXR-8");
    r.instManuf = QStringLiteral("Maker");
    r.instDesc = QStringLiteral("Desc");
    r.repHeader1 = QStringLiteral("Biomedical Engineering");
    r.tolerance = 5;
    r.setFlowRate = QStringLiteral("5.500000");
    r.setVolume = QStringLiteral("100.000000");
    r.setBasalFlowRate = QStringLiteral("0.000000");
    return r;
}

// An index of 100,000 rows, made once and kept open.
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

void BM_RebuildRecordsIndex(benchmark::State& state) {
    RecordFolder& folder = RecordFolder::Get();
    AppSettings settings(QStringLiteral(RX_BINARY_DIR));
    RecordIndex index(settings);
    index.SetDataFolder(folder.dir.path());
    index.SetSeedFolder(QStringLiteral(RX_BINARY_DIR));
    index.SetStartupFinished(true);
    if (!index.Open()) state.SkipWithError("cannot open the index");
    int rows = 0;
    for (auto _ : state) rows = index.Rebuild(RecordIndex::RebuildKind::IndexBuild).rowsAdded;
    state.counters["rows"] = rows;
}

// Reference: reading the same files into record objects, header only, with
// no index at all.
void BM_RebuildReference_ReadFilesOnly(benchmark::State& state) {
    RecordFolder& folder = RecordFolder::Get();
    const QDir dir(folder.dir.path());
    const QStringList files = dir.entryList({QStringLiteral("*.p8d")}, QDir::Files, QDir::Name);
    for (auto _ : state) {
        int n = 0;
        for (const QString& f : files) {
            CRivuletrixDoc doc;
            n += doc.ReadRecordFile(dir.filePath(f), nullptr, false) ? 1 : 0;
        }
        benchmark::DoNotOptimize(n);
    }
}

void BM_ListRows(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    QList<RecordListRow> rows;
    for (auto _ : state) {
        big.index.ListRows(rows);
        benchmark::DoNotOptimize(rows.size());
    }
    state.counters["rows"] = double(rows.size());
}

// Reference: the same eleven columns straight from SQL into the same rows.
void BM_ListRowsReference_PlainSql(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    QSqlDatabase db = big.index.Table().Database().Connection();
    QList<RecordListRow> rows;
    for (auto _ : state) {
        rows.clear();
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(QStringLiteral(
            "SELECT ControlNumber, TypeofTest, StartDate, StartTime, SetFlowRate, Manufacture, "
            "SerialNumber, Model, TdSerialNum, InstSerialNum, Filename FROM RivuletrixRecords "
            "ORDER BY rowid"));
        while (q.next()) {
            RecordListRow r;
            r.controlNumber = q.value(0).toString();
            r.typeOfTest = q.value(1).toString();
            r.startDate = q.value(2).toString();
            r.startTime = q.value(3).toString();
            r.setFlowRate = q.value(4).toString();
            r.manufacture = q.value(5).toString();
            r.serialNumber = q.value(6).toString();
            r.model = q.value(7).toString();
            r.tdSerialNum = q.value(8).toString();
            r.instSerialNum = q.value(9).toString();
            r.fileName = q.value(10).toString();
            rows.append(r);
        }
        benchmark::DoNotOptimize(rows.size());
    }
    state.counters["rows"] = double(rows.size());
}

void BM_FindEquipment(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    EquipmentDetails d;
    int i = 0, found = 0;
    for (auto _ : state) {
        found += big.index.FindEquipment(ControlOf((i++ * 7919) % 20'000), d) ? 1 : 0;
        benchmark::DoNotOptimize(d);
    }
    if (found != i) state.SkipWithError("a control number was not found");
}

void BM_FindEquipmentMissing(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    EquipmentDetails d;
    for (auto _ : state)
        benchmark::DoNotOptimize(big.index.FindEquipment(QStringLiteral("NOPE"), d));
}

// Reference: the latest row of a control number by plain SQL on the same
// table and index.
void BM_FindEquipmentReference_PlainSql(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    QSqlQuery q(big.index.Table().Database().Connection());
    q.prepare(QStringLiteral(
        "SELECT ControlNumber, Operator, Manufacture, Model, SerialNumber, Location, Comments "
        "FROM RivuletrixRecords WHERE ControlNumber = ? ORDER BY rowid DESC LIMIT 1"));
    int i = 0;
    EquipmentDetails d;
    for (auto _ : state) {
        q.bindValue(0, ControlOf((i++ * 7919) % 20'000));
        q.exec();
        if (q.next()) {
            d.controlNumber = q.value(0).toString();
            d.operatorName = q.value(1).toString();
            d.manufacture = q.value(2).toString();
            d.model = q.value(3).toString();
            d.serialNumber = q.value(4).toString();
            d.location = q.value(5).toString();
            d.comments = q.value(6).toString();
        }
        q.finish();
        benchmark::DoNotOptimize(d);
    }
}

// Opening the index reads the rows into the client cursor (start-up, and
// every DeleteRow).
void BM_OpenIndex(benchmark::State& state) {
    BigIndex& big = BigIndex::Get();
    for (auto _ : state) benchmark::DoNotOptimize(big.index.Open());
}

} // namespace

BENCHMARK(BM_RebuildRecordsIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RebuildReference_ReadFilesOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ListRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListRowsReference_PlainSql)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindEquipment)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindEquipmentMissing)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindEquipmentReference_PlainSql)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
