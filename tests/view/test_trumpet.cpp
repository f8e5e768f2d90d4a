// The trumpet curve computed on synthetic records: analysis points, step
// growth, window extremes against a literal evaluation, and every failure.
#include "SyntheticRecords.h"

#include "view/TrumpetCurve.h"

#include <QTest>

#include <cmath>

namespace {

// Samples every periodMs until endMs at a constant rate (ml/h), skipping
// the times in [gapFrom, gapTo).
QByteArray Sampled(double rate, uint32_t periodMs, uint32_t endMs, uint32_t gapFrom = 0,
                   uint32_t gapTo = 0, double noise = 0) {
    std::vector<uint32_t> times;
    for (uint32_t t = periodMs; t <= endMs; t += periodMs)
        if (!(t >= gapFrom && t < gapTo)) times.push_back(t);
    double vol = 0;
    uint32_t prev = 0;
    return synth::Record(synth::Header('F', rate), int(times.size()), [&](int i) {
        const uint32_t t = times[size_t(i - 1)];
        vol += rate * 10000.0 * (t - prev) / 3600000.0 * (1.0 + noise * synth::Noise(uint32_t(i)));
        prev = t;
        return synth::S{t, uint32_t(std::llround(vol)), 10, ' '};
    });
}

// The window of about P minutes ending at end, widened one sample at a time.
int LiteralStart(const CRivuletrixDoc& d, int end, uint32_t target) {
    int start = end - 1;
    uint32_t span = d.ElapsedTicks(end) - d.ElapsedTicks(start);
    while (span < target && start > 0) {
        const uint32_t next = d.ElapsedTicks(end) - d.ElapsedTicks(start - 1);
        if (int64_t(target - span) < std::llabs(int64_t(next) - int64_t(target))) break;
        --start;
        span = next;
    }
    return start;
}

} // namespace

class TestTrumpet : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Constant flow: 61 points a minute apart from one hour, every error 0.
    void constantFlow() {
        CRivuletrixDoc doc;
        synth::Load(doc, Sampled(12.0, 30000, 7200000));
        const TrumpetCurve c = TrumpetCurve::Compute(doc);
        QVERIFY(c.ok);
        QCOMPARE(c.n, 61);
        QCOMPARE(c.stepMinutes, 1);
        for (int k = 0; k < 61; ++k) QCOMPARE(doc.ElapsedTicks(c.points[k]), 3600000u + k * 60000u);
        for (int p = 1; p <= 31; ++p) {
            QCOMPARE(c.minFlow[p], 1200u);
            QCOMPARE(c.maxFlow[p], 1200u);
            QVERIFY(qAbs(c.minError[p]) < 1e-9);
            QVERIFY(qAbs(c.maxError[p]) < 1e-9);
        }
        QVERIFY(qAbs(c.overallError) < 1e-9);
    }

    // Noisy flow: the extremes equal those of a literal evaluation, and the
    // trumpet opens towards short windows.
    void noisyExtremes() {
        CRivuletrixDoc doc;
        synth::Load(doc, Sampled(10.0, 10000, 7300000, 0, 0, 0.3));
        const TrumpetCurve c = TrumpetCurve::Compute(doc);
        QVERIFY(c.ok);
        QCOMPARE(c.n, 61);
        for (int p = 1; p <= 31; ++p) {
            uint32_t mn = TrumpetCurve::kNoMinimum, mx = 0;
            for (int j = p; j < c.n; ++j) {
                const int end = c.points[j];
                const int start = LiteralStart(doc, end, uint32_t(p) * 60000u);
                const uint32_t f = uint32_t(std::trunc(doc.FlowOver(end, end - start)));
                mn = std::min(mn, f);
                mx = std::max(mx, f);
            }
            QCOMPARE(c.minFlow[p], mn);
            QCOMPARE(c.maxFlow[p], mx);
            QCOMPARE(c.minError[p], ((mn / 100.0 - 10.0) / 10.0) * 100.0);
            QCOMPARE(c.maxError[p], ((mx / 100.0 - 10.0) / 10.0) * 100.0);
        }
        QVERIFY(c.maxError[2] - c.minError[2] > c.maxError[31] - c.minError[31]);
    }

    // Two-minute sampling: the step becomes two minutes, the first point is
    // the sample at one hour, the curves start at P = 2.
    void twoMinuteSampling() {
        CRivuletrixDoc doc;
        synth::Load(doc, Sampled(12.0, 120000, 7200000));
        const TrumpetCurve c = TrumpetCurve::Compute(doc);
        QVERIFY(c.ok);
        QCOMPARE(c.stepMinutes, 2);
        QCOMPARE(doc.ElapsedTicks(c.points[0]), 3600000u);
        QCOMPARE(c.n, 30);
        QVERIFY(!c.HasMin(1));
        QVERIFY(c.HasMin(2));
        QCOMPARE(c.minFlow[2], 1200u);
    }

    // Older records: times in 1/256 s read back as 1/1024 s; a constant
    // flow gives 61 points and no error.
    void olderRecord() {
        CRivuletrixDoc doc;
        // Every 30 s (7680 / 256 s) for 2 h 2 min, 12 ml/h: 1000 units each.
        synth::Load(doc, synth::Record(synth::Header('F', 12.0, 0, "PXR-7"), 244, [](int i) {
                        return synth::S{uint32_t(i) * 7680, uint32_t(i) * 1000, 0, ' '};
                    }));
        QVERIFY(!doc.NewModel);
        const TrumpetCurve c = TrumpetCurve::Compute(doc);
        QVERIFY(c.ok);
        QCOMPARE(c.n, 61);
        QCOMPARE(c.points[0], 121);
        for (int p = 1; p <= 31; ++p) {
            QVERIFY(c.HasMin(p));
            QVERIFY2(qAbs(c.minError[p]) < 0.5, qPrintable(QString::number(c.minError[p])));
        }
    }

    // A live test that has ended leaves an empty slot past its samples: the
    // curve drawn while it ran is still there after End.
    void liveTestAfterEnd() {
        CRivuletrixDoc doc;
        doc.Clock = [] { return qint64(0); };
        doc.TestType = 'F';
        doc.SetFlowRate = 12;
        doc.Run.live = doc.Run.running = true;
        doc.AddSample(synth::Line(':', 0, 0, 0));
        // Every 30 s for 2 h 01 min at 12 ml/h: 1000 units of 0.1 ul each.
        for (uint32_t i = 1; i <= 242; ++i) doc.AddSample(synth::Line(' ', i * 30000, i * 1000, 3));
        const TrumpetCurve running = TrumpetCurve::Compute(doc);
        QVERIFY(running.ok);
        doc.Run.running = false; // End
        QCOMPARE(doc.ElapsedTicks(doc.SampleCount() - 1), 0u);
        const TrumpetCurve ended = TrumpetCurve::Compute(doc);
        QVERIFY(ended.ok);
        QCOMPARE(ended.n, running.n);
        for (int p = 1; p <= TrumpetCurve::kMaxWindow; ++p) {
            QCOMPARE(ended.minFlow[p], running.minFlow[p]);
            QCOMPARE(ended.maxFlow[p], running.maxFlow[p]);
        }
        QCOMPARE(ended.overallError, running.overallError);
    }

    void failures_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("1 h 59 min") << Sampled(12.0, 30000, 7140000);
        QTest::newRow("set rate 0") << Sampled(0.0, 30000, 7200000);
        QTest::newRow("20-minute gap after the first hour")
            << Sampled(12.0, 30000, 7200000, 3900000, 5100000);
        QTest::newRow("empty") << synth::Record(synth::Header('F', 10), 0, {});
    }
    void failures() {
        QFETCH(QByteArray, record);
        CRivuletrixDoc doc;
        synth::Load(doc, record);
        QVERIFY(!TrumpetCurve::Compute(doc).ok);
    }
};

QTEST_GUILESS_MAIN(TestTrumpet)
#include "test_trumpet.moc"
