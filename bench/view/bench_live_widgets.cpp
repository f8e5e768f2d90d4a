// Sixteen channel windows (the widget, under the offscreen platform) whose
// documents receive one sample every 100 ms each, for five seconds of wall
// time: the process's CPU time over the wall time is the share of one core
// the live view costs, frames coalesced by the windows themselves.
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/RivuletrixWinView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

namespace {

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void BM_Live16Windows(benchmark::State& state) {
    const char type = char(state.range(0));
    constexpr int kChannels = 16;
    struct Channel {
        CRivuletrixDoc doc;
        std::unique_ptr<CRivuletrixWinView> view;
        uint32_t t = 0, v = 0;
        int i = 0;
        void Feed() {
            ++i;
            t += 100;
            v += 6;
            char code = ' ';
            if (doc.TestType == 'P') {
                const int phase = i % 3000;
                if (phase < 40) v += 300;
                code = phase == 0 ? 'R' : phase == 40 ? 'T' : ' ';
            }
            doc.AddSample(synth::Line(code, t, v, 20));
        }
    };
    std::vector<std::unique_ptr<Channel>> ch;
    for (int c = 0; c < kChannels; ++c) {
        auto x = std::make_unique<Channel>();
        x->doc.Clock = [] { return qint64(0); }; // within the first hour: a redraw per sample
        x->doc.TestType = type;
        x->doc.SetFlowRate = 20;
        x->doc.Run.live = x->doc.Run.running = true;
        for (int k = 0; k < 18000; ++k) x->Feed(); // 30 minutes in
        x->view = std::make_unique<CRivuletrixWinView>(&x->doc);
        x->view->resize(480, 270 + 40);
        x->view->show();
        ch.push_back(std::move(x));
    }
    QApplication::processEvents();
    for (auto _ : state) {
        QTimer tick;
        tick.setInterval(100);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            for (auto& x : ch) x->Feed();
        });
        int frames0 = 0;
        for (auto& x : ch) frames0 += x->view->FrameCount();
        const double cpu0 = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        tick.start();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        tick.stop();
        const double cpu = CpuSeconds() - cpu0;
        const double seconds = wall.elapsed() / 1000.0;
        int frames = -frames0;
        for (auto& x : ch) frames += x->view->FrameCount();
        state.SetIterationTime(seconds);
        state.counters["cpu_share_percent"] = 100.0 * cpu / seconds;
        state.counters["frames_per_window_s"] = frames / seconds / kChannels;
    }
}
BENCHMARK(BM_Live16Windows)
    ->Arg('F')
    ->Arg('P')
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
