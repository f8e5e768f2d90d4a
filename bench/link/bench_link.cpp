// The analyzer link under load:
//  - BM_LinesFeedDispatchAddSample: measurement lines through FeedBytes,
//    DispatchReply and AddSample on one core (lines per second);
//  - BM_LinesThroughDevice: the same through the device object's inbox and
//    the queued hand-off to the documents' thread, still on one core;
//  - BM_LatencyPtyToSample: 4 analyzers x 4 channels streaming at 10 Hz over
//    pseudo-terminals; latency from a line's CR written on the terminal to its
//    sample stored on the user-interface thread (p50, p99, max).
#include "link/Device.h"
#include "link/FrameAssembler.h"
#include "link/ReplyDispatcher.h"
#include "records/RivuletrixDoc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <stdlib.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QByteArray Line(int channel, uint32_t time, uint32_t volume, int16_t pressure) {
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%d %08X%08X%04X\r\n", channel, time, volume,
                                unsigned(uint16_t(pressure)));
    return QByteArray(buf, n);
}

// Lines for four channels, times 100 ms apart, continuing from *time.
QByteArray Chunk(int linesPerChannel, uint32_t& time) {
    QByteArray out;
    for (int i = 0; i < linesPerChannel; ++i) {
        time += 100;
        for (int ch = 1; ch <= 4; ++ch) out += Line(ch, time, time / 10, int16_t(5 - ch));
    }
    return out;
}

struct DocSink : LineSink {
    CRivuletrixDoc* docs[4];
    void DeliverLine(int ch, const char* line, size_t size) override {
        docs[ch]->AddSample(QByteArray(line, qsizetype(size)));
    }
};

void BM_LinesFeedDispatchAddSample(benchmark::State& state) {
    CRivuletrixDoc docs[4];
    DocSink sink;
    for (int i = 0; i < 4; ++i) sink.docs[i] = &docs[i];
    FrameAssembler frames;
    ReplyDispatcher dispatcher;
    dispatcher.SetLineSink(&sink);
    uint32_t time = 0;
    int64_t lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray chunk = Chunk(256, time); // 1024 lines
        state.ResumeTiming();
        // Reads of 512 bytes, as the port delivers them.
        for (qsizetype off = 0; off < chunk.size(); off += 512)
            frames.FeedChunk(chunk.constData() + off,
                             size_t(std::min<qsizetype>(512, chunk.size() - off)), dispatcher);
        lines += 1024;
    }
    state.SetItemsProcessed(lines);
    if (docs[0].StoredCount() < 2) state.SkipWithError("no sample stored");
}
BENCHMARK(BM_LinesFeedDispatchAddSample)->Unit(benchmark::kMicrosecond);

void BM_LinesThroughDevice(benchmark::State& state) {
    FoundAnalyzer f;
    f.kind = FoundAnalyzer::KindUsbSerial;
    CDevice dev(f);
    CRivuletrixDoc docs[4];
    for (int i = 0; i < 4; ++i) dev.SetChannelDoc(i, &docs[i]);
    uint32_t time = 0;
    int64_t lines = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray chunk = Chunk(256, time);
        state.ResumeTiming();
        for (qsizetype off = 0; off < chunk.size(); off += 512)
            dev.FeedChunk(chunk.constData() + off,
                          size_t(std::min<qsizetype>(512, chunk.size() - off)));
        QCoreApplication::processEvents();
        lines += 1024;
    }
    state.SetItemsProcessed(lines);
    if (docs[3].StoredCount() < 2) state.SkipWithError("no sample stored");
}
BENCHMARK(BM_LinesThroughDevice)->Unit(benchmark::kMicrosecond);

struct Pty {
    int master = -1;
    QString slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = QString::fromLocal8Bit(ptsname(master));
    }
    ~Pty() { ::close(master); }
};

void BM_LatencyPtyToSample(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kDevices = 4, kChannels = 4;
    const int seconds = int(state.range(0));
    const int perChannel = seconds * 10;
    std::vector<double> latencies;
    for (auto _ : state) {
        std::vector<std::unique_ptr<Pty>> ptys;
        std::vector<std::unique_ptr<CDevice>> devs;
        std::vector<std::unique_ptr<CRivuletrixDoc>> docs;
        // Send time of every line: [device][channel][sequence].
        std::vector<Clock::time_point> sent(size_t(kDevices * kChannels * (perChannel + 1)));
        std::mutex sentMutex;
        auto index = [&](int d, int c, int seq) {
            return size_t((d * kChannels + c) * (perChannel + 1) + seq);
        };
        latencies.clear();
        for (int d = 0; d < kDevices; ++d) {
            ptys.push_back(std::make_unique<Pty>());
            FoundAnalyzer f;
            f.portName = ptys.back()->slave;
            f.kind = FoundAnalyzer::KindUsbSerial;
            devs.push_back(std::make_unique<CDevice>(f));
            for (int c = 0; c < kChannels; ++c) {
                docs.push_back(std::make_unique<CRivuletrixDoc>());
                CRivuletrixDoc* doc = docs.back().get();
                devs.back()->SetChannelDoc(c, doc);
                QObject::connect(doc, &CRivuletrixDoc::UpdateAllViews, [&, doc, d, c] {
                    const auto now = Clock::now();
                    const int seq = int(doc->Samples()[size_t(doc->StoredCount() - 1)].time / 100);
                    std::lock_guard lock(sentMutex);
                    latencies.push_back(
                        std::chrono::duration<double, std::micro>(now - sent[index(d, c, seq)])
                            .count());
                });
            }
            if (!devs.back()->StartConnection()) {
                state.SkipWithError("cannot open a pseudo-terminal");
                return;
            }
        }
        // Each channel at 10 Hz, the 16 channels spread over each 100 ms.
        std::atomic<bool> done{false};
        std::thread writer([&] {
            const auto start = Clock::now() + std::chrono::milliseconds(200);
            for (int seq = 1; seq <= perChannel; ++seq) {
                for (int k = 0; k < kDevices * kChannels; ++k) {
                    const int d = k % kDevices, c = k / kDevices;
                    std::this_thread::sleep_until(
                        start + std::chrono::microseconds((seq - 1) * 100000 + k * 6250));
                    const QByteArray line = Line(c + 1, uint32_t(seq * 100), uint32_t(seq * 10), 5);
                    {
                        std::lock_guard lock(sentMutex);
                        sent[index(d, c, seq)] = Clock::now();
                    }
                    if (::write(ptys[size_t(d)]->master, line.constData(), size_t(line.size())) < 0)
                        break;
                }
            }
            done = true;
        });
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done) loop.quit();
        });
        check.start(50);
        loop.exec();
        writer.join();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        for (auto& dev : devs) dev->DisconnectDevice();
    }
    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) {
        return latencies.empty() ? 0.0 : latencies[size_t(p * double(latencies.size() - 1))];
    };
    state.counters["samples"] = double(latencies.size());
    state.counters["p50_us"] = pct(0.50);
    state.counters["p99_us"] = pct(0.99);
    state.counters["max_us"] = latencies.empty() ? 0.0 : latencies.back();
}
BENCHMARK(BM_LatencyPtyToSample)
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
