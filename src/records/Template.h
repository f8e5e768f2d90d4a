#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

// One step slot of a template.
struct TemplateStep {
    enum Type : int32_t { Empty = 0, Flow = 1, Occlusion = 2, Pca = 3, Bolus = 5 };
    enum Unit : int32_t { NotSet = 1, MmHg = 2, KPa = 3, Psi = 4, Ml = 5 };

    int32_t type = Empty;
    double volume = 0; // ml; pressure limit in the step's unit for Occlusion
    int32_t unit = NotSet;
    double rate = 0;       // ml/h
    int32_t tolerance = 0; // percent
    int32_t hours = 0;
    int32_t minutes = 0;

    bool operator==(const TemplateStep&) const = default;
};

// A template: up to six steps in run order (a PCA step takes its slot and the
// bolus slot after it, both counted).
struct Template {
    static constexpr int kSlots = 6;

    int32_t stepCount = 0;
    std::array<TemplateStep, kSlots> steps{};
    QString name;
    QString deviceComments;
    QString thirdText; // unused, written empty
    QString instSerialNumber;

    bool operator==(const Template&) const = default;
};

// One row of the template index.
struct TemplateRow {
    QString name;
    QString instSerialNumber;
    QString thirdText; // no column keeps it
    QString deviceComments;
    QString fileName;
    int stepCount = 0;
};

// The ".p8t" file: little-endian step count, six 48-byte step records, then
// the name, device comments, third text and serial number, each as a count of
// UTF-16 units (characters + 1) and the units, the last one 0.
namespace templatefile {
constexpr int kStepRecordSize = 48;
constexpr int kTextsOffset = 4 + Template::kSlots * kStepRecordSize; // 292

QByteArray Encode(const Template& t);
// False, with t untouched, when the bytes are truncated or corrupt (a step
// count outside 0..6, a text count that is negative or runs past the end).
// Bytes after the fourth text are ignored.
bool Decode(const QByteArray& bytes, Template& t, QString* error = nullptr);

// Writes over path from its first byte without truncating it (a longer older
// file keeps its tail, which readers ignore); creates a missing file.
bool WriteFile(const QString& path, const Template& t, QString* error = nullptr);
bool ReadFile(const QString& path, Template& t, QString* error = nullptr);
} // namespace templatefile
