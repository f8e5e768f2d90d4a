// The renderer on synthetic records: per-column reduction against drawing
// every point, colours in the plot, key entries, nothing outside the plot,
// bolus labels, empty records, the screen image file.
#include "../CountColour.h"
#include "SyntheticRecords.h"

#include "records/RivuletrixDoc.h"
#include "view/DetailsBoxes.h"
#include "view/GraphRenderer.h"
#include "view/PcaDetector.h"
#include "view/SeriesCache.h"
#include "view/TrumpetCurve.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

struct Picture {
    QImage image;
    GraphRenderer::Result result;
};

Picture Draw(CRivuletrixDoc& doc, ViewState& st, QSize size, RenderOptions o = {}) {
    Picture pic;
    pic.image = QImage(size, QImage::Format_RGB32);
    pic.image.fill(Qt::white);
    QPainter p(&pic.image);
    RenderTarget t;
    t.width = size.width();
    t.height = size.height();
    pic.result = GraphRenderer::Render(p, doc, st, t, o);
    return pic;
}

// Number of pixels that differ between two images.
int Differences(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                if (n < 8 && qEnvironmentVariableIsSet("RX_DIFF"))
                    qDebug("diff at %d,%d reduced %06x full %06x", x, y, a.pixel(x, y) & 0xffffff,
                           b.pixel(x, y) & 0xffffff);
                ++n;
            }
    return n;
}

// A PCA record of one hour, one sample a second, basal 2 ml/h and three
// boluses of 1 ml over five samples; marked with bolus codes (current
// records, ms) or plain (older records, 1/256 s). Generated sample i is
// sample i + 1 of the record.
QByteArray HourOfPca(bool older, bool boluses = true, int seconds = 3600) {
    double vol = 0;
    return synth::Record(synth::Header('P', 2, 2, older ? "PXR-7" : "PXR-8"), seconds,
                         [=](int i) mutable {
                             vol += 2.0 * 10000 / 3600;
                             char code = ' ';
                             if (!boluses)
                                 return synth::S{uint32_t(i) * (older ? 256u : 1000u),
                                                 uint32_t(std::llround(vol)), 0, code};
                             for (int s0 : {600, 1800, 3000}) {
                                 if (i >= s0 && i < s0 + 5) vol += 2000;
                                 // Codes one sample either side: the label's
                                 // volume runs from start code to end code.
                                 if (!older && i == s0 - 1) code = 'R';
                                 if (!older && i == s0 + 5) code = 'T';
                             }
                             return synth::S{uint32_t(i) * (older ? 256u : 1000u),
                                             uint32_t(std::llround(vol)), 0, code};
                         });
}

// Collects what the PCA detector puts out.
struct RecordingSink : PcaSink {
    QMap<int, double> points;
    int labels = 0;
    std::vector<PcaMark> marks;
    std::vector<PcaLabel> labelList;
    void Point(int index, double value) override { points[index] = value; }
    void Mark(const PcaMark& m) override { marks.push_back(m); }
    void Label(const PcaLabel& l) override {
        ++labels;
        labelList.push_back(l);
    }
};

void RunDetector(const CRivuletrixDoc& doc, PcaDetector& det, RecordingSink& sink) {
    const int last = doc.SampleCount() - 1;
    for (int i = det.First(); i <= last; ++i) det.Step(i, last, sink);
}

QByteArray DenseFlow(int count) {
    // 100 ms samples with noisy volume and bubbles / air locks scattered.
    return synth::Flow(30.0, 100, count, 0.6, [](int i) {
        if (i % 9973 == 0) return 'b';
        if (i % 7919 < 3 && i > 7000) return 'a';
        if (i % 15013 == 0) return 'C';
        return ' ';
    });
}

} // namespace

class TestGraphRender : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The reduced drawing is pixel-identical to drawing every segment
    // (antialiasing off, any pen width), for every series of each record kind;
    // wide pens are drawn from kept stroke shapes, the reference by the painter.
    void reductionMatchesEveryPoint_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("inst");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("lineWidth");
        const QByteArray dense = DenseFlow(200000);
        QTest::newRow("flow 200k dense, inst shown") << dense << true << QSize(1920, 1080) << 1;
        QTest::newRow("flow 200k dense, width 3") << dense << true << QSize(1920, 1080) << 3;
        QTest::newRow("flow 200k, small window") << dense << true << QSize(500, 300) << 1;
        QTest::newRow("flow sparse (fewer samples than columns)")
            << synth::Flow(12.5, 5000, 720, 0.3) << true << QSize(1920, 1080) << 1;
        QTest::newRow("occlusion, negative start")
            << synth::Occlusion(50000, 100, 900, 700, -30) << false << QSize(1280, 800) << 1;
        QTest::newRow("pca") << synth::Pca(2.0, 6, 3000, 40, 1.0, 100) << false << QSize(1280, 800)
                             << 1;
        QTest::newRow("flow 200k, small window, width 4") << dense << true << QSize(500, 300) << 4;
        QTest::newRow("flow sparse, width 3 (segments wider than a stamp)")
            << synth::Flow(12.5, 5000, 720, 0.3) << true << QSize(1920, 1080) << 3;
        QTest::newRow("occlusion, negative start, width 3")
            << synth::Occlusion(50000, 100, 900, 700, -30) << false << QSize(1280, 800) << 3;
        QTest::newRow("pca, width 5")
            << synth::Pca(2.0, 6, 3000, 40, 1.0, 100) << false << QSize(1280, 800) << 5;
    }
    void reductionMatchesEveryPoint() {
        QFETCH(QByteArray, record);
        QFETCH(bool, inst);
        QFETCH(QSize, size);
        QFETCH(int, lineWidth);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        ViewState a, b;
        a.SetTypeDefaults(doc.TestType);
        a.showInstFlow = inst;
        a.showPressure = true;
        b = a;
        RenderOptions reducedOptions, every;
        reducedOptions.lineWidth = every.lineWidth = lineWidth;
        every.everyPoint = true;
        const Picture reduced = Draw(doc, a, size, reducedOptions);
        const Picture full = Draw(doc, b, size, every);
        QVERIFY(reduced.result.plotOk);
        QCOMPARE(Differences(reduced.image, full.image), 0);
    }

    // Extremes and first / last samples of a range from the tables equal
    // those of a plain walk, for ranges reaching every table level, with
    // left-out samples ('C', the start of the average and instantaneous
    // flow, flat PCA volumes) at the edges.
    void queryMatchesWalk_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("flow") << DenseFlow(40000);
        QTest::newRow("pca") << synth::Pca(2.0, 8, 4000, 40, 1.0, 100);
        QTest::newRow("occlusion") << synth::Occlusion(40000, 100, 900, 700, -30);
    }
    void queryMatchesWalk() {
        QFETCH(QByteArray, record);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        SeriesCache* cache = SeriesCache::For(&doc);
        cache->Sync();
        const int n = cache->Processed();
        QVERIFY(n > 3 * 8192);
        std::vector<std::vector<int32_t>> values(SeriesCache::SeriesCount);
        std::vector<std::vector<bool>> in(SeriesCache::SeriesCount);
        for (int s = 0; s < SeriesCache::SeriesCount; ++s) {
            values[s].resize(size_t(n));
            in[s].resize(size_t(n));
            for (int i = 0; i < n; ++i) {
                in[s][size_t(i)] = cache->Included(s, i);
                if (in[s][size_t(i)]) values[s][size_t(i)] = cache->Value(s, i);
            }
        }
        std::vector<std::pair<int, int>> ranges = {{0, n},        {0, 8192},     {1, 8193},
                                                   {15, 16400},   {8191, 24577}, {100, 300},
                                                   {n - 9000, n}, {n - 5, n},    {0, 17}};
        uint32_t x = 12345;
        for (int k = 0; k < 300; ++k) {
            x = x * 1103515245u + 12345u;
            const int a = int((x >> 8) % uint32_t(n));
            x = x * 1103515245u + 12345u;
            const int len = int((x >> 8) % 20000u);
            ranges.emplace_back(a, std::min(n, a + len));
        }
        for (int s = 0; s < SeriesCache::SeriesCount; ++s) {
            for (const auto& [a, b] : ranges) {
                SeriesCache::Range want;
                for (int i = a; i < b; ++i) {
                    if (!in[s][size_t(i)]) continue;
                    const int32_t v = values[s][size_t(i)];
                    if (want.first < 0) {
                        want.first = i;
                        want.firstValue = v;
                    }
                    want.last = i;
                    want.lastValue = v;
                    want.mn = std::min(want.mn, v);
                    want.mx = std::max(want.mx, v);
                }
                const SeriesCache::Range got = cache->Query(s, a, b);
                const QByteArray where = QByteArray::number(s) + " [" + QByteArray::number(a) +
                                         ", " + QByteArray::number(b) + ")";
                QVERIFY2(got.first == want.first && got.last == want.last, where.constData());
                if (want.first < 0) continue;
                QVERIFY2(got.mn == want.mn && got.mx == want.mx, where.constData());
                QVERIFY2(got.firstValue == want.firstValue && got.lastValue == want.lastValue,
                         where.constData());
            }
        }
    }

    // The block tables take well under 4 bytes per sample.
    void cacheMemoryPerSample() {
        CRivuletrixDoc doc;
        synth::Load(doc, DenseFlow(300000));
        SeriesCache* cache = SeriesCache::For(&doc);
        cache->Sync();
        QCOMPARE(cache->Processed(), doc.SampleCount());
        QVERIFY2(double(cache->BytesUsed()) / doc.SampleCount() <= 4.0,
                 qPrintable(QString::number(double(cache->BytesUsed()) / doc.SampleCount())));
    }

    // Live: samples appended after a frame are taken in incrementally and
    // give the same picture as a fresh cache over the whole record.
    void incrementalCacheMatchesFresh_data() {
        QTest::addColumn<char>("type");
        QTest::newRow("flow") << 'F';
        QTest::newRow("pca") << 'P';
    }
    void incrementalCacheMatchesFresh() {
        QFETCH(char, type);
        CRivuletrixDoc live;
        live.Clock = [] { return qint64(0); };
        live.TestType = type;
        live.SetFlowRate = type == 'P' ? 2 : 30;
        live.Run.running = true;
        live.Run.live = true;
        ViewState st;
        uint32_t v = 0;
        for (int i = 1; i <= 30000; ++i) {
            char code = i % 5000 == 0 ? 'b' : ' ';
            if (type == 'P') {
                // A bolus of 40 samples every 3000.
                const int phase = i % 3000;
                if (i > 3000 && phase < 40) v += 300;
                code = (i > 3000 && phase == 0) ? 'R' : (i > 3000 && phase == 40) ? 'T' : code;
                v += 1;
            } else {
                v += 8 + (i * 7919) % 5;
            }
            live.AddSample(synth::Line(code, uint32_t(i) * 100, v, 10));
            if (i % 7000 == 0 || i % 3000 == 20) Draw(live, st, QSize(800, 500));
        }
        st.showInstFlow = type == 'F';
        const Picture inc = Draw(live, st, QSize(800, 500));
        const int boluses = st.bolusCount;
        SeriesCache::For(&live)->Invalidate();
        ViewState st2 = st;
        const Picture fresh = Draw(live, st2, QSize(800, 500));
        QCOMPARE(Differences(inc.image, fresh.image), 0);
        QCOMPARE(st2.bolusCount, boluses);
        if (type == 'P') QCOMPARE(boluses, 8); // the last one has only begun
    }

    // Series colours lie in the plot; no series colour outside the plot
    // apart from the key box; the key lists what was drawn.
    void flowPicture() {
        CRivuletrixDoc doc;
        doc.DefaultTolerance = 5;
        synth::Load(doc, synth::Flow(12.5, 1000, 3600, 0.2));
        ViewState st;
        st.SetTypeDefaults('F');
        st.rememberedType = 'F';
        st.showInstFlow = true;
        const Picture pic = Draw(doc, st, QSize(1200, 800));
        const QRect plot = pic.result.plot;
        QVERIFY(plot.width() > 1000);
        QVERIFY(CountColour(pic.image, plot, qRgb(255, 0, 0)) > 100); // instantaneous
        QVERIFY(CountColour(pic.image, plot, qRgb(0, 0, 255)) > 100); // average
        QVERIFY(CountColour(pic.image, plot, qRgb(0, 223, 0)) > 100); // volume
        QCOMPARE(pic.result.keyItems,
                 QStringList({"Average Flow", "Delivered Volume", "Instantaneous Flow",
                              "Set Flow Rate", "5% Tolerance"}));
        QVERIFY(st.keyBox.drawn);
        QImage outside = pic.image.copy();
        QPainter p(&outside);
        p.fillRect(plot, Qt::white);
        p.fillRect(st.keyBox.Rect().adjusted(0, 0, 1, 1), Qt::white);
        p.end();
        for (QRgb c : {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 223, 0)})
            QCOMPARE(CountColour(outside, outside.rect(), c), 0);
    }

    void occlusionPictureAndKey() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Occlusion(600, 1000, 900, 700));
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(1200, 800));
        QCOMPARE(pic.result.keyItems, QStringList({"(Over Pressure)", "Pressure"}));
        QVERIFY(CountColour(pic.image, pic.result.plot, qRgb(0, 0, 255)) > 100);
        // No flow or volume series for an Occlusion record.
        QCOMPARE(CountColour(pic.image, pic.image.rect(), qRgb(0, 223, 0)), 0);
        // The set rate counts one more key line although it is not drawn.
        QFontMetrics fm(QFont("Arial"));
        QVERIFY(st.keyBox.height > 0);
    }

    // One label per completed bolus; the count matches the document's.
    void pcaBolusLabels() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Pca(2.0, 5, 240, 12, 1.0));
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(1280, 800));
        QCOMPARE(st.bolusCount, 5);
        QCOMPARE(doc.BolusCount(), 5);
        // The start sample already carries the first interval of each bolus.
        QVERIFY(qAbs(st.bolusVolumeTotal - 5.0 * 11 / 12) < 0.05);
        QVERIFY(pic.result.keyItems.contains("Bolus / Secondary Start"));
        // Labels fill (220, 255, 255) on screen: five of them.
        QVERIFY(CountColour(pic.image, pic.result.plot, qRgb(220, 255, 255)) > 5 * 200);
        st.showBolusLabels = false;
        const Picture bare = Draw(doc, st, QSize(1280, 800));
        QCOMPARE(CountColour(bare.image, bare.result.plot, qRgb(220, 255, 255)), 0);
        QCOMPARE(st.bolusCount, 5);
    }

    // Labels of boluses close together: the second is raised onto the first
    // (with a leader), the third starts afresh; the last one, near the right
    // edge, is pushed inside the plot.
    void bolusLabelPlacement() {
        CRivuletrixDoc doc;
        // Boluses at 60, 64, 68 s and a last one at the end of the record.
        const int starts[] = {60, 64, 68, 236};
        double vol = 0;
        synth::Load(doc, synth::Record(synth::Header('P', 2, 2), 240, [&](int i) {
                        vol += 2.0 * 10000 / 3600;
                        char code = ' ';
                        for (int s0 : starts) {
                            if (i >= s0 && i < s0 + 2) vol += 5000;
                            if (i == s0) code = 'R';
                            if (i == s0 + 2) code = 'T';
                        }
                        return synth::S{uint32_t(i) * 1000, uint32_t(std::llround(vol)), 0, code};
                    }));
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(1400, 900));
        QCOMPARE(st.bolusCount, 4);
        QCOMPARE(int(st.bolusLabels.size()), 4);
        const QRect a = st.bolusLabels[0], b = st.bolusLabels[1], c = st.bolusLabels[2];
        QCOMPARE(b.bottom() + 1, a.top());  // raised onto the first
        QVERIFY(c.bottom() + 1 != b.top()); // not raised twice in a row
        for (const QRect& r : st.bolusLabels) {
            QVERIFY(r.top() >= pic.result.plot.top());
            QVERIFY(r.right() <= pic.result.plot.right());
        }
        // The last bolus starts at 236 s of 240: its label would stick out.
        const int startX = st.left + int(236000 / st.timeScale);
        QVERIFY(startX + st.bolusLabels[3].width() > pic.result.plot.right());
    }

    // The details box hides no bolus label and, grown by a longer control
    // number, stays inside the plot; the measured-values box too.
    void boxesStayInsideAndClearOfLabels() {
        CRivuletrixDoc doc;
        // Large boluses late in the record: their labels reach the top right,
        // where the details box goes first.
        double vol = 0;
        synth::Load(doc, synth::Record(synth::Header('P', 2, 2), 240, [&](int i) {
                        vol += 2.0 * 10000 / 3600;
                        char code = ' ';
                        for (int s0 : {200, 220, 236}) {
                            if (i >= s0 && i < s0 + 2) vol += 20000;
                            if (i == s0) code = 'R';
                            if (i == s0 + 2) code = 'T';
                        }
                        return synth::S{uint32_t(i) * 1000, uint32_t(std::llround(vol)), 0, code};
                    }));
        ViewState st;
        Draw(doc, st, QSize(1200, 800));
        QVERIFY(st.detailsBox.drawn);
        QCOMPARE(int(st.bolusLabels.size()), 3);
        for (const QRect& label : st.bolusLabels)
            QVERIFY2(!st.detailsBox.Rect().intersects(label), "a label hidden by the details box");
        const QRect plot(st.left, st.topLimit, st.width, st.bottom - st.topLimit);
        doc.ControlNumber = QString(20, QLatin1Char('W'));
        Draw(doc, st, QSize(1200, 800));
        for (const FloatingBox* box : {&st.detailsBox, &st.measuredBox}) {
            QVERIFY(box->drawn);
            QVERIFY2(plot.contains(box->Rect()), "a box outside the plot");
        }
        // A box the user put down stays where it was put.
        st.detailsBox.moved = true;
        const QPoint put(st.left + 10, st.bottom - st.detailsBox.height - 10);
        st.detailsBox.x = put.x();
        st.detailsBox.y = put.y();
        Draw(doc, st, QSize(1200, 800));
        QCOMPARE(QPoint(st.detailsBox.x, st.detailsBox.y), put);
    }

    // A record without samples shows its axes; the flow axis follows the
    // set rate and the time axis counts seconds.
    void emptyRecord() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.SetFlowRate = 10;
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(800, 600));
        QVERIFY(pic.result.plotOk);
        QCOMPARE(st.flowMax, 1000.0);
        QCOMPARE(st.timeScale, 1.0);
        QVERIFY(CountColour(pic.image, pic.image.rect(), qRgb(0, 0, 0)) > 100);
    }

    // Too small a window draws no plot and no boxes that need it.
    void tinyWindow() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 1000, 100));
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(60, 40));
        QVERIFY(!pic.result.plotOk);
        QVERIFY(!st.keyBox.drawn);
    }

    // A key box wider than half the plot is left out (the flag stays on).
    void keyTooWide() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 1000, 100));
        ViewState st;
        Draw(doc, st, QSize(300, 600));
        QVERIFY(!st.keyBox.drawn);
        QVERIFY(doc.ShowKey);
    }

    // Without any entry the key switches itself off.
    void keyWithoutEntriesTurnsOff() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(0, 1000, 100));
        ViewState st;
        st.SetTypeDefaults('F');
        st.rememberedType = 'F';
        st.showAvgFlow = st.showVolume = false;
        Draw(doc, st, QSize(1000, 700));
        QVERIFY(!doc.ShowKey);
    }

    void trumpetFailureSwitchesOff() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(10, 10000, 300));
        ViewState st;
        st.showTrumpet = true;
        const Picture pic = Draw(doc, st, QSize(800, 600));
        QVERIFY(pic.result.trumpetFailed);
        QVERIFY(!st.showTrumpet);
        const Picture again = Draw(doc, st, QSize(800, 600));
        QVERIFY(!again.result.trumpetFailed);
        QVERIFY(again.result.plotOk);
    }

    void trumpetPicture() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(10, 10000, 750, 0.2));
        ViewState st;
        st.showTrumpet = true;
        const Picture pic = Draw(doc, st, QSize(1000, 700));
        QVERIFY(!pic.result.trumpetFailed);
        QVERIFY(st.showTrumpet);
        QVERIFY(CountColour(pic.image, pic.image.rect(), qRgb(0, 0, 0)) > 1000);
        QVERIFY(st.detailsBox.drawn);
    }

    // Boxes: details top right, measured values bottom right, banner when
    // the test stopped by itself (and the channel then counts as running).
    void boxesAndBanner() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 1000, 600));
        ViewState st;
        Picture pic = Draw(doc, st, QSize(1200, 800));
        QVERIFY(st.detailsBox.drawn);
        QVERIFY(st.measuredBox.drawn);
        QCOMPARE(st.measuredBox.x + st.measuredBox.width, st.left + st.width - 1);
        QCOMPARE(st.measuredBox.y + st.measuredBox.height, st.bottom - 1);
        QCOMPARE(st.detailsBox.x + st.detailsBox.width, st.left + st.width - 1);
        const QRect banner(st.left + 5, 96 / 2 + 10, 165, 65);
        QCOMPARE(CountColour(pic.image, banner, qRgb(255, 0, 0)), 0);
        doc.Run.autoStopped = true;
        pic = Draw(doc, st, QSize(1200, 800));
        QVERIFY(doc.Run.running);
        QVERIFY(CountColour(pic.image, banner, qRgb(255, 0, 0)) > 50);
        doc.Run.analyzerShutDown = true;
        pic = Draw(doc, st, QSize(1200, 800));
        QCOMPARE(CountColour(pic.image, banner.adjusted(2, 2, -2, -2), qRgb(255, 255, 230)), 0);
    }

    // Paper: the plot on the upper half of a portrait page, the key under
    // it, the details box carried onto the page, no measured-values box; the
    // window's own box positions are left as they were.
    void portraitPage() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 5000, 720, 0.15));
        ViewState st;
        Draw(doc, st, QSize(1280, 800));
        const FloatingBox screenKey = st.keyBox, screenDetails = st.detailsBox;
        QImage page(1240, 1754, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter p(&page);
        RenderTarget t;
        t.paper = true;
        t.width = 1240;
        t.height = 1754;
        t.dpiX = t.dpiY = 150;
        const GraphRenderer::Result r = GraphRenderer::Render(p, doc, st, t);
        p.end();
        QVERIFY(r.plotOk);
        QVERIFY(r.plot.bottom() < 1754 / 2 + 75);
        QCOMPARE(st.keyBox.x, screenKey.x);
        QCOMPARE(st.detailsBox.y, screenDetails.y);
        // Key fill under the plot, details fill within the page.
        QVERIFY(CountColour(page, QRect(r.plot.left(), r.plot.bottom(), 400, 200),
                            qRgb(255, 255, 230)) > 1000);
        QVERIFY(CountColour(page, QRect(0, 0, 1240, r.plot.bottom()), qRgb(255, 255, 230)) > 1000);
        QVERIFY(CountColour(page, QRect(0, r.plot.bottom() + 300, 1240, 900), qRgb(0, 0, 0)) == 0);
    }

    // A monochrome device draws the flow and volume curves in black.
    void monochromePens() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 1000, 1800, 0.2));
        ViewState st;
        st.SetTypeDefaults('F');
        st.rememberedType = 'F';
        st.showInstFlow = true;
        doc.ShowKey = doc.ShowTestDetails = doc.ShowTestParameters = false;
        QImage img(1000, 700, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        RenderTarget t;
        t.width = 1000;
        t.height = 700;
        t.monochrome = true;
        const GraphRenderer::Result r = GraphRenderer::Render(p, doc, st, t);
        p.end();
        for (QRgb colour : {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 223, 0)})
            QCOMPARE(CountColour(img, r.plot, colour), 0);
        QVERIFY(CountColour(img, r.plot, qRgb(0, 0, 0)) > 1000);
    }

    // Time axis titles, older records in minutes of real time.
    void timeAxisUnits_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("title");
        QTest::newRow("50 s") << synth::Flow(10, 1000, 50) << "Seconds";
        QTest::newRow("30 min") << synth::Flow(10, 1000, 1800) << "Minutes";
        QTest::newRow("2 h") << synth::Flow(10, 10000, 720) << "Hours";
        // 1/256 s: 30 minutes every 10 s.
        QTest::newRow("older record, 30 min")
            << synth::Record(synth::Header('F', 10, 0, "PXR-7"), 180,
                             [](int i) {
                                 return synth::S{uint32_t(i) * 2560, uint32_t(i) * 278, 0, ' '};
                             })
            << "Minutes";
    }
    void timeAxisUnits() {
        QFETCH(QByteArray, record);
        QFETCH(QString, title);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        ViewState st;
        QCOMPARE(Draw(doc, st, QSize(1000, 700)).result.timeTitle, title);
    }

    // A live test before its first sample shows the syringe prompt.
    void syringeBeforeData() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.SetFlowRate = 10;
        doc.Run.live = doc.Run.running = true;
        ViewState st;
        Picture pic = Draw(doc, st, QSize(1000, 700));
        const QRect syringe(st.left + 10, 96 / 2 + 10, 50, 34);
        QVERIFY(CountColour(pic.image, syringe, qRgb(255, 0, 0)) > 20);
        doc.Run.dataReceived = true;
        pic = Draw(doc, st, QSize(1000, 700));
        QCOMPARE(CountColour(pic.image, syringe, qRgb(255, 0, 0)), 0);
    }

    // Trumpet mode draws neither the key nor the measured values: the boxes
    // where they stood cannot be picked up, the details box still can.
    void trumpetHidesKeyAndMeasuredBoxes() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(10, 10000, 750, 0.2));
        ViewState st;
        Draw(doc, st, QSize(1200, 800));
        QVERIFY(st.keyBox.drawn);
        QVERIFY(st.measuredBox.drawn);
        const QPoint key = st.keyBox.Rect().center(), measured = st.measuredBox.Rect().center();
        st.showTrumpet = true;
        const Picture pic = Draw(doc, st, QSize(1200, 800));
        QVERIFY(!pic.result.trumpetFailed);
        QVERIFY(!st.keyBox.drawn);
        QVERIFY(!st.measuredBox.drawn);
        QVERIFY(st.detailsBox.drawn);
        QVERIFY(!st.MousePress(key.x(), key.y()));
        QVERIFY(!st.MousePress(measured.x(), measured.y()));
        QVERIFY(!st.keyBox.pickedUp && !st.measuredBox.pickedUp);
        const QPoint details = st.detailsBox.Rect().center();
        QVERIFY(st.MousePress(details.x(), details.y()));
        QVERIFY(st.detailsBox.pickedUp);
    }

    // A key held when the trumpet curve comes up stays held and in place:
    // the next click does not move the invisible box.
    void heldKeyWaitsThroughTrumpet() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(10, 10000, 750, 0.2));
        ViewState st;
        Draw(doc, st, QSize(1200, 800));
        QVERIFY(st.MousePress(st.keyBox.Rect().center().x(), st.keyBox.Rect().center().y()));
        const QPoint at(st.keyBox.x, st.keyBox.y);
        st.showTrumpet = true;
        Draw(doc, st, QSize(1200, 800));
        QVERIFY(!st.MousePress(st.left + 50, st.savedBottom - 50));
        QCOMPARE(QPoint(st.keyBox.x, st.keyBox.y), at);
        QVERIFY(st.keyBox.pickedUp);
        st.showTrumpet = false;
        Draw(doc, st, QSize(1200, 800));
        QVERIFY(st.MousePress(st.left + 50, st.savedBottom - 50));
        QVERIFY(!st.keyBox.pickedUp);
        QVERIFY(QPoint(st.keyBox.x, st.keyBox.y) != at);
    }

    // The banner keeps an auto-stopped channel running until STOP; an
    // analyzer that shut down ends the test itself, so its channel shows no
    // banner and is not made running again.
    void autoStopBanner_data() {
        QTest::addColumn<bool>("shutDown");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("banner");
        QTest::newRow("auto-stopped") << false << true << true;
        QTest::newRow("analyzer shut down") << true << false << false;
    }
    void autoStopBanner() {
        QFETCH(bool, shutDown);
        QFETCH(bool, running);
        QFETCH(bool, banner);
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Flow(12.5, 1000, 600));
        doc.Run.live = true;
        doc.Run.running = false;
        doc.Run.autoStopped = true;
        doc.Run.analyzerShutDown = shutDown;
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(1200, 800));
        QCOMPARE(doc.Run.running, running);
        const QRect r(st.left + 5, 96 / 2 + 10, 165, 65);
        QCOMPARE(CountColour(pic.image, r, qRgb(255, 0, 0)) > 50, banner);
    }

    // The basal rate of a PCA record: time and volume outside the boluses.
    // Older records keep their times in 1/256 s, the view in 1/1024 s.
    // The totals are those of the record drawn, rebuilt at every redraw, and
    // a live test's rate is over the whole test so far.
    void pcaBasalRate_data() {
        QTest::addColumn<bool>("older");
        QTest::addColumn<bool>("afterBoluses"); // the window showed a record with boluses before
        QTest::addColumn<bool>("live");
        QTest::addColumn<int>("boluses");
        QTest::addColumn<int>("seconds");
        QTest::newRow("current record") << false << false << false << 3 << 3600;
        QTest::newRow("older record") << true << false << false << 3 << 3600;
        QTest::newRow("basal only, after a record with boluses")
            << false << true << false << 0 << 3600;
        // 40 minutes in the live window of an hour.
        QTest::newRow("live test, 40 minutes") << false << false << true << 2 << 2400;
    }
    void pcaBasalRate() {
        QFETCH(bool, older);
        QFETCH(bool, afterBoluses);
        QFETCH(bool, live);
        QFETCH(int, boluses);
        QFETCH(int, seconds);
        CRivuletrixDoc doc;
        ViewState st;
        if (afterBoluses) {
            synth::Load(doc, HourOfPca(older));
            Draw(doc, st, QSize(1400, 900));
            QCOMPARE(st.bolusCount, 3);
        }
        synth::Load(doc, HourOfPca(older, boluses > 0, seconds));
        doc.Run.live = doc.Run.running = live;
        QCOMPARE(doc.NewModel, !older);
        Draw(doc, st, QSize(1400, 900));
        QCOMPARE(st.bolusCount, boluses);
        qDebug() << st.timeMax << st.volumeMax << st.bolusDurationTotal << st.bolusVolumeTotal
                 << doc.SetRateIsZero;
        QImage img(10, 10, QImage::Format_RGB32);
        QPainter p(&img);
        RenderContext c(p, doc, st, *SeriesCache::For(&doc), RenderTarget{}, RenderOptions{});
        const QString line = boxes::MeasuredLines(c).value(0);
        QVERIFY2(line.startsWith("Ave. Basal/Primary Flow Rate "), qPrintable(line));
        const double basal = line.section(' ', 4, 4).toDouble();
        QVERIFY2(qAbs(basal - 2.0) < 0.1, qPrintable(line));
    }

    // When a live test has ended (the save question is open) the measured
    // values are still the record's, as they were while it ran.
    void measuredValuesAfterALiveTestEnds() {
        CRivuletrixDoc doc;
        qint64 now = 1'000'000;
        doc.Clock = [&now] { return now; };
        doc.Run.live = true;
        doc.Run.running = true;
        doc.TestType = 'F';
        doc.SetFlowRate = 9.0;
        for (uint32_t i = 1; i <= 200; ++i) {
            now += 1000;
            doc.AddSample(synth::Line(' ', i * 1000, i * 25, 5));
        }
        ViewState st;
        Draw(doc, st, QSize(1200, 800));
        QImage img(10, 10, QImage::Format_RGB32);
        QPainter p(&img);
        const auto lines = [&] {
            RenderContext c(p, doc, st, *SeriesCache::For(&doc), RenderTarget{}, RenderOptions{});
            return boxes::MeasuredLines(c);
        };
        const QStringList running = lines();
        QCOMPARE(running.value(1), QStringLiteral("Total Volume : 0.50 ml"));
        doc.Run.running = false; // ended, not yet reset
        const QStringList ended = lines();
        QCOMPARE(ended, running);
        QVERIFY2(!ended.value(3).contains(QLatin1String("-100")), qPrintable(ended.value(3)));
    }

    // Older records keep one sample a second for the curve, but never lose
    // a bolus whose start falls on a sample between the kept ones.
    void olderBolusStartBetweenKeptSamples() {
        CRivuletrixDoc doc;
        double vol = 0;
        // Half-second samples; boluses of five samples from generated
        // samples 600, 1801, 3000 and 4201 (record slots one higher).
        synth::Load(doc, synth::Record(synth::Header('P', 2, 2, "PXR-7"), 6000, [&](int i) {
                        vol += 2.0 * 10000 / 7200;
                        for (int s0 : {600, 1801, 3000, 4201})
                            if (i >= s0 && i < s0 + 5) vol += 2000;
                        return synth::S{uint32_t(i) * 128, uint32_t(std::llround(vol)), 0, ' '};
                    }));
        QVERIFY(!doc.NewModel);
        PcaDetector det(doc);
        RecordingSink sink;
        RunDetector(doc, det, sink);
        QCOMPARE(det.bolusCount, 4);
        QCOMPARE(sink.labels, 4);
    }

    // A bolus restarted inside itself: its start marker and label stand at
    // the restart, where the label's numbers begin.
    void restartedBolusIsLabelledAtTheRestart() {
        CRivuletrixDoc doc;
        double vol = 0;
        synth::Load(doc, synth::Record(synth::Header('P', 2, 2), 600, [&](int i) {
                        vol += 2.0 * 10000 / 3600;
                        char code = ' ';
                        if (i >= 414 && i < 416) vol += 500;
                        if (i >= 480 && i < 516) vol += 300;
                        if (i == 414 || i == 480) code = 'R';
                        if (i == 516) code = 'T';
                        return synth::S{uint32_t(i) * 1000, uint32_t(std::llround(vol)), 0, code};
                    }));
        PcaDetector det(doc);
        RecordingSink sink;
        RunDetector(doc, det, sink);
        QCOMPARE(sink.labels, 1);
        const PcaLabel& l = sink.labelList[0];
        QCOMPARE(l.start, 481); // record slot of generated sample 480
        QCOMPARE(l.startIndex, l.start);
        int starts = 0;
        for (const PcaMark& m : sink.marks)
            if (m.kind == PcaMark::Start) {
                ++starts;
                QCOMPARE(m.index, l.start);
            }
        QCOMPARE(starts, 1);
    }

    // The elapsed time of the measured values agrees with the time axis,
    // for older records (1/256 s) too.
    void elapsedTimeText_data() {
        QTest::addColumn<QByteArray>("model");
        QTest::addColumn<uint>("ticksPerMinute");
        QTest::newRow("current record") << QByteArray("PXR-8") << 60000u;
        QTest::newRow("older record") << QByteArray("PXR-7") << 60u * 256u;
    }
    void elapsedTimeText() {
        QFETCH(QByteArray, model);
        QFETCH(uint, ticksPerMinute);
        CRivuletrixDoc doc;
        // 120 hours and 4 minutes, a sample a minute.
        uint32_t vol = 0;
        synth::Load(doc,
                    synth::Record(synth::Header('F', 10, 0, model.constData()), 7204, [&](int i) {
                        vol += 1667;
                        return synth::S{uint32_t(i) * ticksPerMinute, vol, 0, ' '};
                    }));
        ViewState st;
        Draw(doc, st, QSize(1400, 900));
        QImage img(10, 10, QImage::Format_RGB32);
        QPainter p(&img);
        RenderContext c(p, doc, st, *SeriesCache::For(&doc), RenderTarget{}, RenderOptions{});
        QCOMPARE(boxes::MeasuredLines(c).value(2), QStringLiteral("Elapsed Time : 120:04:00"));
    }

    // The key box is as wide as its widest text and ten characters, so a
    // PCA key fits beside the plot of a tiled channel window.
    void keyFitsATiledWindow() {
        CRivuletrixDoc doc;
        synth::Load(doc, synth::Pca(2.0, 5, 240, 12, 1.0));
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(520, 700));
        QVERIFY2(st.width > 330 && st.width < 456, qPrintable(QString::number(st.width)));
        QVERIFY(pic.result.keyItems.contains("Bolus / Secondary Start"));
        QVERIFY(st.keyBox.drawn);
        QVERIFY(st.keyBox.width <= st.width / 2);
        QVERIFY(st.keyBox.Rect().right() <= pic.result.plot.right() + 1);
    }

    // Older records: a bolus that ends right after its start takes the
    // flow at its end over the run of equal volumes before it. Here the
    // half-second samples between the kept ones carry the bolus on, so
    // the flow from the anchor would still show the bolus.
    void olderOneSampleBolusFlow() {
        CRivuletrixDoc doc;
        // Half-second samples; the detector keeps one a second (samples 3,
        // 5, 7 ...). The bolus jumps at sample 41 and goes on at 42.
        uint32_t vol = 0;
        synth::Load(doc, synth::Record(synth::Header('P', 1, 1, "PXR-7"), 80, [&](int i) {
                        vol += 2;
                        if (i + 1 == 41) vol += 500;
                        if (i + 1 == 42) vol += 300;
                        return synth::S{uint32_t(i) * 128, vol, 0, ' '};
                    }));
        QVERIFY(!doc.NewModel);
        QCOMPARE(doc.BolusEdgeAt(41), 1);
        QCOMPARE(doc.BolusEdgeAt(43), -1);
        PcaDetector det(doc);
        RecordingSink sink;
        const int last = doc.SampleCount() - 1;
        for (int i = det.First(); i <= last; ++i) det.Step(i, last, sink);
        QVERIFY(sink.points.contains(43));
        QCOMPARE(sink.points[43], std::trunc(doc.FlowOver(43, 1)));
        QVERIFY(sink.points[43] < std::trunc(doc.FlowOver(43, 2)));
        QCOMPARE(det.bolusCount, 0);
        QCOMPARE(sink.labels, 0);
    }

    // A live test that has started but has no sample yet: axes, and the
    // time axis of the one-minute live window in minutes.
    void liveRunningWithoutSamples() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.SetFlowRate = 10;
        doc.Run.live = doc.Run.running = true;
        ViewState st;
        const Picture pic = Draw(doc, st, QSize(1000, 700));
        QVERIFY(pic.result.plotOk);
        QCOMPARE(pic.result.timeTitle, QString("Minutes"));
        QCOMPARE(st.timeMax, 60000u);
        // Left, right and time axis lines.
        const QRect plot = pic.result.plot;
        QVERIFY(CountColour(pic.image, QRect(plot.left(), plot.top(), 1, plot.height()),
                            qRgb(0, 0, 0)) > plot.height() * 9 / 10);
        QVERIFY(CountColour(pic.image, QRect(plot.right(), plot.top(), 1, plot.height()),
                            qRgb(0, 0, 0)) > plot.height() * 9 / 10);
        QVERIFY(CountColour(pic.image, QRect(plot.left(), st.bottom, plot.width(), 1),
                            qRgb(0, 0, 0)) > plot.width() * 9 / 10);
    }

    void screenImageFile() {
        QImage img(33, 7, QImage::Format_RGB32);
        img.fill(qRgb(10, 20, 30));
        img.setPixel(0, 6, qRgb(200, 100, 50));
        QTemporaryDir dir;
        const QString path = dir.filePath("DC_Image.bmp");
        QVERIFY(GraphRenderer::WriteBitmap(img, path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        const int row = ((24 * 33 + 31) / 32) * 4;
        QCOMPARE(b.size(), 54 + row * 7);
        QCOMPARE(b.left(2), QByteArray("BM"));
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(b.constData() + at); };
        QCOMPARE(u32(2), quint32(b.size()));
        QCOMPARE(u32(10), 54u);
        QCOMPARE(u32(18), 33u);
        QCOMPARE(u32(22), 7u);
        // Bottom-up rows, blue green red: the first row is the last line.
        QCOMPARE(quint8(b[54]), quint8(50));
        QCOMPARE(quint8(b[56]), quint8(200));
        QCOMPARE(QImage(path).pixel(0, 6), qRgb(200, 100, 50));
    }
};

QTEST_MAIN(TestGraphRender)
#include "test_graph_render.moc"
