// The trumpet curve's numbers from rivuletrix-cli: `trumpet --json` and the
// table on the PDF trumpet page, both checked against a small evaluation of
// the records written here, and the records that give no curve.
#include "../ProcessRun.h"
#include "SyntheticRecords.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <optional>
#include <vector>

namespace {

using clitest::Cli;
using clitest::Result;
using clitest::Run;

// A Flow record at rate ml/h with the given sample times (ms); volumes
// follow the rate with relative noise; codes(i) may mark samples 'C'.
QByteArray Record(double rate, const std::vector<uint32_t>& times, double noise,
                  const std::function<char(int)>& codes = {}) {
    double vol = 0;
    uint32_t prev = 0;
    return synth::Record(synth::Header('F', rate), int(times.size()), [&](int i) {
        const uint32_t t = times[size_t(i - 1)];
        vol += rate * 10000.0 * (t - prev) / 3600000.0 * (1.0 + noise * synth::Noise(uint32_t(i)));
        prev = t;
        return synth::S{t, uint32_t(std::llround(vol)), 10, codes ? codes(i) : ' '};
    });
}

std::vector<uint32_t> Every(uint32_t periodMs, uint32_t endMs, uint32_t gapFrom = 0,
                            uint32_t gapTo = 0) {
    std::vector<uint32_t> t;
    for (uint32_t x = periodMs; x <= endMs; x += periodMs)
        if (!(x >= gapFrom && x < gapTo)) t.push_back(x);
    return t;
}

constexpr uint32_t kMinute = 60000, kHour = 3600000;

// The evaluation as a reader of the method would do it by hand: the step
// is the whole number of minutes nearest above the largest sampling
// interval of the second hour, the analysis points are the samples nearest
// to each step from the hour on, and each window of P minutes ending at a
// point is widened sample by sample while that brings it nearer to P.
struct Expected {
    bool ok = false;
    int step = 1, points = 0;
    double overall = 0;
    std::vector<std::optional<double>> minError, maxError; // index P
};

Expected Evaluate(const CRivuletrixDoc& d) {
    Expected e;
    const double R = d.SetFlowRate;
    const int last = d.SampleCount() - 1;
    if (R == 0 || d.ElapsedTicks(last) < 2 * kHour) return e;
    int first = 0; // first sample after the hour
    while (d.ElapsedTicks(first) <= kHour) ++first;
    uint32_t largest = 0, from = d.ElapsedTicks(first);
    for (int j = first + 1; j < last; ++j) {
        if (d.StatusAt(j) == 'C') continue;
        largest = std::max(largest, d.ElapsedTicks(j) - from);
        from = d.ElapsedTicks(j);
    }
    uint32_t s = kMinute;
    while (s + kMinute / 2 < largest) s += kMinute;
    if (s > 16 * kMinute) return e;
    const auto nearest = [&](uint32_t target) {
        int best = 0;
        for (int i = 1; i <= last; ++i)
            if (std::llabs(int64_t(d.ElapsedTicks(i)) - target) <
                std::llabs(int64_t(d.ElapsedTicks(best)) - target))
                best = i;
        return best;
    };
    std::vector<int> pts;
    const uint32_t t0 = s == kMinute ? kHour : d.ElapsedTicks(first - 1);
    for (int k = 0; k < 61; ++k) {
        const int p = nearest(t0 + uint32_t(k) * s);
        if (!pts.empty() && p <= pts.back()) return e;
        if (s > kMinute && p == last) break;
        pts.push_back(p);
    }
    if (s > kMinute && pts.size() < 25) return e;
    const int n = int(pts.size());
    e.step = int(s / kMinute);
    e.points = n;
    e.minError.resize(32);
    e.maxError.resize(32);
    for (int P = e.step; P <= 31; ++P) {
        std::optional<uint32_t> mn, mx;
        for (int j = P; j < n; ++j) {
            const int end = pts[size_t(j)];
            const uint32_t want = uint32_t(P) * kMinute;
            int start = end - 1;
            while (start > 0) {
                const uint32_t span = d.ElapsedTicks(end) - d.ElapsedTicks(start);
                const uint32_t wider = d.ElapsedTicks(end) - d.ElapsedTicks(start - 1);
                if (span >= want || int64_t(want - span) < std::llabs(int64_t(wider) - want)) break;
                --start;
            }
            const auto f = uint32_t(std::trunc(d.FlowOver(end, end - start)));
            mn = std::min(mn.value_or(f), f);
            mx = std::max(mx.value_or(f), f);
        }
        if (mn) e.minError[size_t(P)] = (*mn / 100.0 - R) / R * 100.0;
        if (mx && *mx != 0) e.maxError[size_t(P)] = (*mx / 100.0 - R) / R * 100.0;
    }
    e.overall = (d.FlowOver(pts.back(), pts.back() - pts.front()) / 100.0 - R) / R * 100.0;
    e.ok = true;
    return e;
}

QString Two(const std::optional<double>& v) {
    if (!v) return QStringLiteral("n/a");
    return QString::number(std::abs(*v) < 0.005 ? 0.0 : *v, 'f', 2);
}

bool Near(const QJsonValue& got, const std::optional<double>& want) {
    if (!want) return got.isNull();
    return got.isDouble() && std::abs(got.toDouble() - *want) < 1e-9;
}

} // namespace

class TestTrumpetCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private Q_SLOTS:
    void numbers_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("points");
        QTest::newRow("one-minute steps")
            << Record(10, Every(10000, 2 * kHour + kMinute), 0.3) << 1 << 61;
        QTest::newRow("two-minute step") << Record(12, Every(120000, 2 * kHour), 0.2) << 2 << 30;
        QTest::newRow("five-minute step, fewer points")
            << Record(5, Every(300000, 195 * kMinute), 0.2) << 5 << 27;
        // 'C' samples between two-minute samples do not shorten the step.
        QTest::newRow("'C' samples") << Record(8, Every(60000, 2 * kHour + 2 * kMinute), 0.2,
                                               [](int i) { return i % 2 ? 'C' : ' '; })
                                     << 2 << 31;
        std::vector<uint32_t> jittered;
        for (uint32_t k = 1; k * 30000 <= 2 * kHour + 2 * kMinute; ++k)
            jittered.push_back(k * 30000 + uint32_t(std::lround(12000 * synth::Noise(k + 99))));
        QTest::newRow("jittered sampling") << Record(20, jittered, 0.4) << 1 << 61;
        QTest::newRow("119 minutes") << Record(10, Every(30000, 119 * kMinute), 0) << 0 << 0;
        QTest::newRow("20-minute gap")
            << Record(10, Every(30000, 2 * kHour, 65 * kMinute, 85 * kMinute), 0) << 0 << 0;
        QTest::newRow("set rate 0") << Record(0, Every(30000, 2 * kHour), 0) << 0 << 0;
    }
    void numbers() {
        QFETCH(QByteArray, record);
        QFETCH(int, step);
        QFETCH(int, points);
        const QString file = m_dir.filePath(QStringLiteral("t.p8d"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(record);
        }
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(file));
        const Expected want = Evaluate(doc);
        QCOMPARE(want.ok, step > 0);

        const Result json = Cli({"trumpet", file, "--json"});
        const QString pdf = m_dir.filePath(QStringLiteral("t.pdf"));
        QFile::remove(pdf);
        const Result report = Cli({"report", file, "--out", pdf, "--trumpet"});
        if (!want.ok) {
            for (const Result& r : {json, report}) {
                QVERIFY(r.exitCode != 0);
                QVERIFY2(r.err.contains("Not enough data to calculate Trumpet Curve"), r.err);
            }
            QVERIFY(json.out.isEmpty());
            QVERIFY(!QFile::exists(pdf));
            return;
        }
        QCOMPARE(want.step, step);
        QCOMPARE(want.points, points);

        QCOMPARE(json.exitCode, 0);
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(json.out, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(o.value("step_minutes").toInt(), step);
        QCOMPARE(o.value("points").toInt(), points);
        QVERIFY(Near(o.value("overall_error"), want.overall));
        const QJsonArray windows = o.value("windows").toArray();
        QCOMPARE(windows.size(), 31 - step + 1);
        for (int P = step; P <= 31; ++P) {
            const QJsonObject w = windows[P - step].toObject();
            QCOMPARE(w.value("minutes").toInt(), P);
            QVERIFY2(Near(w.value("min_error"), want.minError[size_t(P)]),
                     qPrintable(QString::number(P)));
            QVERIFY2(Near(w.value("max_error"), want.maxError[size_t(P)]),
                     qPrintable(QString::number(P)));
        }

        // The printed table: each labelled window's row, then Ep.
        QCOMPARE(report.exitCode, 0);
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty()) QSKIP("pdftotext is not installed");
        const Result text = Run(pdftotext, {"-layout", pdf, "-"});
        QCOMPARE(text.exitCode, 0);
        const QString page = QString::fromUtf8(text.out);
        QVERIFY(page.contains(QStringLiteral("Trumpet Curve")));
        for (int P : {2, 5, 11, 19, 31}) {
            const std::optional<double> mn = P < step ? std::nullopt : want.minError[size_t(P)];
            const std::optional<double> mx = P < step ? std::nullopt : want.maxError[size_t(P)];
            const QRegularExpression row(
                QStringLiteral("^\\s*%1\\s+%2\\s+%3(\\s|$)")
                    .arg(P)
                    .arg(QRegularExpression::escape(Two(mn)), QRegularExpression::escape(Two(mx))),
                QRegularExpression::MultilineOption);
            QVERIFY2(page.contains(row), qPrintable(row.pattern() + "\n" + page));
        }
        const QRegularExpression ep(QStringLiteral("^\\s*Ep\\s+%1(\\s|$)")
                                        .arg(QRegularExpression::escape(Two(want.overall))),
                                    QRegularExpression::MultilineOption);
        QVERIFY2(page.contains(ep), qPrintable(page));
    }
};

QTEST_GUILESS_MAIN(TestTrumpetCli)
#include "test_trumpet_cli.moc"
