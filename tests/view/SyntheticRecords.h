#pragma once

// Synthetic test records made in memory: Flow, Occlusion and PCA records of
// any length, in the record file's text form so that they load exactly as a
// file from disk does.
#include "records/RivuletrixDoc.h"

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace synth {

// A sample as the generator produces it.
struct S {
    uint32_t t; // ms
    uint32_t v; // 0.1 ul
    int16_t p;  // mmHg
    char code;
};

inline QByteArray Header(char type, double rate, double basal = 0, const char* model = "PXR-8") {
    const char* name = type == 'F' ? "Flow" : type == 'O' ? "Occlusion" : "PCA";
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "H1,80001234,3.10\nH2,1,T123,1.02\nH3,Biomedical Engineering\nH4,\nH5,\n"
                  "H6,PUMP-0042\nH7,JS\nH8,Acme\nH9,Infusor 500\nH10,SN998877\nH11,Ward 7\n"
                  "H12,%s\nH13,%.2f\nH14,10.00\nH15,%.2f\nH16,1.00\nH17,\n"
                  "H18,08-Dec-2026,14:05:09\nH19,%s\nH20,Infusion Analyzer\n"
                  "H21,Rivulet Instruments\nH22,Synthetic record\n",
                  name, rate, basal, model);
    return QByteArray(buf);
}

// Record text from a header and samples 1..count produced by gen(i).
inline QByteArray Record(const QByteArray& header, int count, const std::function<S(int)>& gen) {
    QByteArray out = header;
    out.reserve(header.size() + qsizetype(count + 1) * 28);
    out += "D1,:,0,0,0\n";
    char line[64];
    for (int i = 1; i <= count; ++i) {
        const S s = gen(i);
        const int n = std::snprintf(line, sizeof line, "D%d,%c,%u,%u,%d\n", i + 1,
                                    s.code ? s.code : ' ', s.t, s.v, int(s.p));
        out.append(line, n);
    }
    return out;
}

inline void Load(CRivuletrixDoc& doc, const QByteArray& text) {
    doc.ReadRecordBytes(text.constData(), size_t(text.size()));
}

// Deterministic noise in [-1, 1].
inline double Noise(uint32_t i) {
    uint32_t x = i * 2654435761u + 12345u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return double(x % 20001) / 10000.0 - 1.0;
}

// Constant flow of rate ml/h sampled every periodMs for count samples, with
// relative noise on each interval's volume; codes(i) may mark samples.
inline QByteArray Flow(double rate, uint32_t periodMs, int count, double noise = 0.0,
                       const std::function<char(int)>& codes = {}) {
    double vol = 0;
    return Record(Header('F', rate), count, [=](int i) mutable {
        // ml/h -> 0.1 ul per period
        const double step = rate * 10000.0 * periodMs / 3600000.0;
        vol += step * (1.0 + noise * Noise(uint32_t(i)));
        return S{uint32_t(i) * periodMs, uint32_t(std::llround(vol)),
                 int16_t(20 + int(5 * Noise(uint32_t(i) + 7))), codes ? codes(i) : ' '};
    });
}

// Pressure ramp to peak mmHg over count samples, over-pressure codes above
// limit; startPressure may be negative.
inline QByteArray Occlusion(int count, uint32_t periodMs, int peak, int limit,
                            int startPressure = 0) {
    return Record(Header('O', 5.0), count, [=](int i) {
        const double f = double(i) / count;
        const int p = int(startPressure + (peak - startPressure) * std::min(1.0, f * 1.2));
        return S{uint32_t(i) * periodMs, uint32_t(i) * 3, int16_t(p), p > limit ? 'o' : ' '};
    });
}

// PCA: basal rate with boluses of bolusMl over bolusSamples samples every
// everySamples samples, marked 'R' at the start and 'T' at the end.
inline QByteArray Pca(double basal, int boluses, int everySamples, int bolusSamples, double bolusMl,
                      uint32_t periodMs = 1000) {
    const int count = everySamples * (boluses + 1);
    double vol = 0;
    return Record(Header('P', basal, basal), count, [=](int i) mutable {
        vol += basal * 10000.0 * periodMs / 3600000.0;
        const int phase = i % everySamples;
        const bool bolus = i >= everySamples && phase < bolusSamples;
        if (bolus) vol += bolusMl * 10000.0 / bolusSamples;
        char code = ' ';
        if (i >= everySamples && phase == 0) code = 'R';
        if (i >= everySamples && phase == bolusSamples) code = 'T';
        return S{uint32_t(i) * periodMs, uint32_t(std::llround(vol)), int16_t(15), code};
    });
}

// A measurement line as the analyzer streams it (AddSample input).
inline QByteArray Line(char code, uint32_t t, uint32_t v, int p) {
    char line[32];
    std::snprintf(line, sizeof line, "1%c%08X%08X%04X", code, t, v, unsigned(uint16_t(p)));
    return QByteArray(line);
}

} // namespace synth
