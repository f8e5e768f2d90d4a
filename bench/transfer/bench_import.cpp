// Importing 50 records of 3,600 samples from the simulator:
//  - BM_RawRecordBytes: the bytes of the 50 downloads read off the terminal
//    and thrown away (what the simulator needs to send them);
//  - BM_RawRecordBytesPaced: the same with the link's 50 ms between two
//    commands, which every download through the program keeps (the
//    reference);
//  - BM_ImportRecords: the import's download of the same records on its
//    worker thread into staged files, header read included;
//  - BM_ImportRecordsDialog (widgets build): the same through the import's
//    progress dialog on screen, with the longest time the UI thread spent
//    away from its event loop meanwhile;
//  - BM_MergeRecords: copying the 50 staged records into the data folder
//    with read-back, and the index rebuild.
// The figure is BM_ImportRecords / BM_RawRecordBytesPaced.
#include "../../tests/link/SimProcess.h"

#include "base/AppSettings.h"
#include "link/Device.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"
#include "transfer/ImportDownload.h"
#include "transfer/ImportMerge.h"

#ifdef RX_BENCH_WIDGETS
#include "transfer/ImportProgressDlg.h"

#include <QApplication>
#endif
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int kRecords = 50;

SimProcess& Sim() {
    static SimProcess sim("bench", {"--preset-records", QString::number(kRecords),
                                    "--preset-samples", "3600", "--channels", "1"});
    return sim;
}

QTemporaryDir& Dir() {
    static QTemporaryDir dir;
    return dir;
}

// Sends "[GETREC,n]" and reads until "[END]" arrives; returns the bytes read.
qint64 RawRecord(int fd, int n) {
    char cmd[32];
    const int len = std::snprintf(cmd, sizeof cmd, "[GETREC,%03d]\r\n", n);
    if (::write(fd, cmd, size_t(len)) != len) return -1;
    QByteArray tail;
    qint64 total = 0;
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return -1;
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got <= 0) return -1;
        total += got;
        tail = (tail + QByteArray(buf, qsizetype(got))).right(16);
        if (tail.contains("[END]")) return total;
    }
}

void RawRecords(benchmark::State& state, bool paced) {
    if (!Sim().Ok()) return state.SkipWithError("pxr-sim did not start");
    const int fd = ::open(Sim().Link().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) return state.SkipWithError("cannot open the terminal");
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    qint64 bytes = 0;
    QElapsedTimer sinceCommand;
    for (auto _ : state)
        for (int n = 1; n <= kRecords; ++n) {
            if (paced && sinceCommand.isValid() && sinceCommand.elapsed() < 50)
                QThread::msleep(50 - sinceCommand.elapsed());
            sinceCommand.start();
            const qint64 got = RawRecord(fd, n);
            if (got < 0) {
                ::close(fd);
                return state.SkipWithError("a record did not end");
            }
            bytes += got;
        }
    ::close(fd);
    state.SetBytesProcessed(bytes);
    state.counters["records"] = kRecords;
}

void BM_RawRecordBytes(benchmark::State& state) {
    RawRecords(state, false);
}
BENCHMARK(BM_RawRecordBytes)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_RawRecordBytesPaced(benchmark::State& state) {
    RawRecords(state, true);
}
BENCHMARK(BM_RawRecordBytesPaced)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

std::unique_ptr<CDevice> Connect() {
    FoundAnalyzer f;
    f.portName = Sim().Link();
    f.kind = FoundAnalyzer::KindUsbSerial;
    auto dev = std::make_unique<CDevice>(f);
    return dev->StartConnection() ? std::move(dev) : nullptr;
}

void BM_ImportRecords(benchmark::State& state) {
    if (!Sim().Ok()) return state.SkipWithError("pxr-sim did not start");
    auto dev = Connect();
    if (!dev) return state.SkipWithError("cannot connect");
    const QString staging = Dir().path() + QStringLiteral("/Temp");
    for (auto _ : state) {
        ImportDownload job(*dev, ImportDownload::Mode::Records, staging);
        job.Start();
        job.Wait();
        const ImportDownload::Result r = job.GetResult();
        if (r.records.size() != kRecords) {
            dev->DisconnectDevice();
            return state.SkipWithError("not every record came");
        }
    }
    dev->DisconnectDevice();
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_ImportRecords)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

#ifdef RX_BENCH_WIDGETS
void BM_ImportRecordsDialog(benchmark::State& state) {
    if (!Sim().Ok()) return state.SkipWithError("pxr-sim did not start");
    auto dev = Connect();
    if (!dev) return state.SkipWithError("cannot connect");
    const QString staging = Dir().path() + QStringLiteral("/Temp");
    qint64 longest = 0;
    for (auto _ : state) {
        CImportProgressDlg dlg(*dev, CImportProgressDlg::Mode::Records, staging);
        dlg.show();
        QElapsedTimer gap;
        gap.start();
        while (dlg.isVisible()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            longest = std::max(longest, gap.restart());
        }
        if (dlg.Result().records.size() != kRecords) {
            dev->DisconnectDevice();
            return state.SkipWithError("not every record came");
        }
    }
    dev->DisconnectDevice();
    state.counters["records"] = kRecords;
    state.counters["longest_ui_stall_ms"] = double(longest);
}
BENCHMARK(BM_ImportRecordsDialog)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
#endif

void BM_MergeRecords(benchmark::State& state) {
    if (!Sim().Ok()) return state.SkipWithError("pxr-sim did not start");
    auto dev = Connect();
    if (!dev) return state.SkipWithError("cannot connect");
    const QString staging = Dir().path() + QStringLiteral("/Temp");
    ImportDownload job(*dev, ImportDownload::Mode::Records, staging);
    job.RunHere();
    const QList<ImportedRecord> staged = job.GetResult().records;
    dev->DisconnectDevice();
    AppSettings settings(Dir().path());
    const QString data = Dir().path() + QStringLiteral("/data");
    QDir().mkpath(data);
    RecordIndex index(settings);
    index.SetDataFolder(data);
    index.SetSeedFolder(QStringLiteral(RX_BINARY_DIR));
    index.SetStartupFinished(true);
    TemplateStore templates(settings);
    templates.SetDataFolder(data);
    for (auto _ : state) {
        QList<ImportedRecord> entries = staged;
        for (ImportedRecord& e : entries) e.checked = true;
        const MergeReport m =
            ImportMerge(settings, index, templates).MergeRecords(entries, nullptr, false);
        if (m.files.size() != kRecords) return state.SkipWithError("not every record merged");
    }
    state.counters["records"] = kRecords;
}
BENCHMARK(BM_MergeRecords)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("RIVULETRIX_SIM")) qputenv("RIVULETRIX_SIM", RX_SIM);
#ifdef RX_BENCH_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
