// Rendering cost of the channel view: a 100-hour Flow record (3,600,000
// samples) beside a 100-hour record of 36,000 samples, at 1920 x 1080
// with all its series; sixteen live windows at 10 samples a second; the
// memory the block tables add per sample. The every-point drawing is the
// reference the reduced one is compared with.
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/GraphRenderer.h"
#include "view/SeriesCache.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// Same shape at any number of samples: a 100-hour test at a constant rate
// with noise (3,600,000 samples are 10 a second, 36,000 one every 10 s), a
// bubble and a short air-lock run at fixed fractions of the record.
std::unique_ptr<CRivuletrixDoc> MakeFlow(int samples) {
    auto doc = std::make_unique<CRivuletrixDoc>();
    doc->DefaultTolerance = 5;
    const uint32_t period = uint32_t(360000000 / samples);
    synth::Load(*doc, synth::Flow(25.0, period, samples, 0.4, [samples](int i) {
        if (i == samples / 3) return 'b';
        if (i >= samples / 2 && i < samples / 2 + 3) return 'a';
        return ' ';
    }));
    SeriesCache::For(doc.get())->Sync();
    return doc;
}

CRivuletrixDoc& Doc(int samples) {
    static std::unique_ptr<CRivuletrixDoc> small, large;
    auto& d = samples <= 36000 ? small : large;
    if (!d) d = MakeFlow(samples);
    return *d;
}

void RenderFrame(benchmark::State& state, bool everyPoint, bool resizing = false) {
    CRivuletrixDoc& doc = Doc(int(state.range(0)));
    const int width = int(state.range(1));
    QImage image(1920, 1080, QImage::Format_RGB32);
    ViewState st;
    st.SetTypeDefaults('F');
    st.rememberedType = 'F';
    // Every series of a Flow record; the third argument 1 keeps only the
    // smooth ones (average flow, volume) to show what the noisy ones add.
    const bool smoothOnly = state.range(2) == 1;
    st.showInstFlow = !smoothOnly;
    st.showPressure = !smoothOnly;
    RenderTarget t;
    t.width = 1920;
    t.height = 1080;
    RenderOptions o;
    o.lineWidth = width;
    o.everyPoint = everyPoint;
    int flip = 0;
    for (auto _ : state) {
        if (resizing) t.width = 1920 - (flip++ & 1); // a new time scale every frame
        QPainter p(&image);
        GraphRenderer::Render(p, doc, st, t, o);
    }
    state.counters["samples"] = double(doc.SampleCount());
}

void BM_Render(benchmark::State& state) {
    RenderFrame(state, false);
}
BENCHMARK(BM_Render)
    ->Args({36000, 1, 0})
    ->Args({3600000, 1, 0})
    ->Args({36000, 3, 0})
    ->Args({3600000, 3, 0})
    ->Args({36000, 1, 1})
    ->Args({3600000, 1, 1})
    ->Unit(benchmark::kMillisecond);

// The first frame after a resize (or a live window step): the per-column
// extremes are taken again from the block tables.
void BM_Render_Resized(benchmark::State& state) {
    RenderFrame(state, false, true);
}
BENCHMARK(BM_Render_Resized)
    ->Args({36000, 1, 0})
    ->Args({3600000, 1, 0})
    ->Args({36000, 3, 0})
    ->Args({3600000, 3, 0})
    ->Unit(benchmark::kMillisecond);

// Reference: every segment drawn (1-pixel pen; wider pens take minutes).
void BM_Render_EveryPoint(benchmark::State& state) {
    RenderFrame(state, true);
}
BENCHMARK(BM_Render_EveryPoint)
    ->Args({36000, 1, 0})
    ->Args({3600000, 1, 0})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// A PCA record of two hours at 10 Hz with a bolus every 10 minutes: its
// bolus detector still walks every sample each frame.
void BM_Render_Pca(benchmark::State& state) {
    static std::unique_ptr<CRivuletrixDoc> doc;
    if (!doc) {
        doc = std::make_unique<CRivuletrixDoc>();
        synth::Load(*doc, synth::Pca(2.0, 11, 6000, 300, 1.0, 100));
    }
    QImage image(1920, 1080, QImage::Format_RGB32);
    ViewState st;
    RenderTarget t;
    t.width = 1920;
    t.height = 1080;
    for (auto _ : state) {
        QPainter p(&image);
        GraphRenderer::Render(p, *doc, st, t, {});
    }
    state.counters["samples"] = double(doc->SampleCount());
}
BENCHMARK(BM_Render_Pca)->Unit(benchmark::kMillisecond);

// Block tables and event list per sample.
void BM_CacheBytesPerSample(benchmark::State& state) {
    CRivuletrixDoc& doc = Doc(3600000);
    SeriesCache* cache = SeriesCache::For(&doc);
    for (auto _ : state) benchmark::DoNotOptimize(cache->BytesUsed());
    state.counters["bytes_per_sample"] = double(cache->BytesUsed()) / doc.SampleCount();
}
BENCHMARK(BM_CacheBytesPerSample)->Iterations(1);

// Sixteen live channels, 30 minutes into their tests, each receiving one
// sample every 100 ms and drawing a frame for it (10 a second, under the 25
// frame cap) in a 480 x 270 window (sixteen tiles of 1920 x 1080). One
// iteration is one second of all sixteen; its time over one second is the
// share of one core.
void BM_Live16(benchmark::State& state) {
    constexpr int kChannels = 16;
    struct Channel {
        CRivuletrixDoc doc;
        ViewState st;
        QImage image{480, 270, QImage::Format_RGB32};
        uint32_t t = 0, v = 0;
    };
    std::vector<std::unique_ptr<Channel>> ch;
    for (int c = 0; c < kChannels; ++c) {
        auto x = std::make_unique<Channel>();
        x->doc.Clock = [] { return qint64(0); };
        x->doc.TestType = 'F';
        x->doc.SetFlowRate = 20;
        x->doc.Run.live = x->doc.Run.running = true;
        for (int i = 0; i < 18000; ++i) {
            x->t += 100;
            x->v += 5 + uint32_t(i % 3);
            x->doc.AddSample(synth::Line(' ', x->t, x->v, 20));
        }
        ch.push_back(std::move(x));
    }
    RenderTarget t;
    t.width = 480;
    t.height = 270;
    for (auto _ : state) {
        for (int tick = 0; tick < 10; ++tick) {
            for (auto& x : ch) {
                x->t += 100;
                x->v += 6;
                x->doc.AddSample(synth::Line(' ', x->t, x->v, 20));
                QPainter p(&x->image);
                GraphRenderer::Render(p, x->doc, x->st, t, {});
            }
        }
    }
    state.counters["frames_per_s"] = kChannels * 10;
}
BENCHMARK(BM_Live16)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
