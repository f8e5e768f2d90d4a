#pragma once

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

    bool HasMin(int p) const { return minFlow[p] != kNoMinimum; }
    bool HasMax(int p) const { return maxFlow[p] != 0; }

    static TrumpetCurve Compute(const CRivuletrixDoc& doc);
    static QString FailureText() {
        return QStringLiteral("\nNot enough data to calculate Trumpet Curve");
    }
};
