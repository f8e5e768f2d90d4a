#pragma once

#include <QList>
#include <QString>

#include <cstdint>

class CRivuletrixDoc;

// The trumpet curve of a Flow record of at least two hours: for window
// lengths of 1 to 31 minutes in the second hour, the smallest and largest
// mean flow and their percentage errors against the set rate.
struct TrumpetCurve {
    static constexpr int kMaxPoints = 61;
    static constexpr int kMaxWindow = 31;
    static constexpr uint32_t kNoMinimum = 4294967295u;

    bool ok = false;
    int stepMinutes = 1;
    int n = 0; // analysis points used
    int points[kMaxPoints] = {};
    uint32_t minFlow[kMaxWindow + 1] = {}; // 0.01 ml/h
    uint32_t maxFlow[kMaxWindow + 1] = {};
    double minError[kMaxWindow + 1] = {}; // percent
    double maxError[kMaxWindow + 1] = {};
    double overallError = 0;

    // The windows that evaluations of infusion pumps list and the plot labels.
    static constexpr int kLabelled[] = {2, 5, 11, 19, 31};

    bool HasMin(int p) const { return p >= 0 && p <= kMaxWindow && minFlow[p] != kNoMinimum; }
    bool HasMax(int p) const { return p >= 0 && p <= kMaxWindow && maxFlow[p] != 0; }

    // The table of the labelled windows as it is shown and printed: a
    // header, one row per window (minutes, Emin %, Emax %; "n/a" where the
    // window has no value) and the overall error on a line of its own.
    struct Row {
        QString window, minError, maxError;
    };
    QList<Row> TableRows() const;
    Row OverallRow() const;

    static TrumpetCurve Compute(const CRivuletrixDoc& doc);
    static QString FailureText() {
        return QStringLiteral("\nNot enough data to calculate Trumpet Curve");
    }
};
