#include "store/TemplateStore.h"

#include <QFile>
#include <QtEndian>

#include <cstring>

namespace templatefile {

namespace {
// Far beyond any template (a template file is a few hundred bytes); refusing
// bigger files keeps a wrong file name from reading a disk image into memory.
constexpr qint64 kMaxFileSize = 1 << 20;

void PutI32(QByteArray& out, int32_t v) {
    char b[4];
    qToLittleEndian<int32_t>(v, b);
    out.append(b, 4);
}

void PutF64(QByteArray& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    char b[8];
    qToLittleEndian<uint64_t>(bits, b);
    out.append(b, 8);
}

void PutText(QByteArray& out, const QString& s) {
    PutI32(out, int32_t(s.size() + 1));
    for (QChar c : s) {
        char b[2];
        qToLittleEndian<uint16_t>(c.unicode(), b);
        out.append(b, 2);
    }
    out.append(2, '\0');
}

int32_t GetI32(const char* p) {
    return qFromLittleEndian<int32_t>(p);
}

double GetF64(const char* p) {
    const uint64_t bits = qFromLittleEndian<uint64_t>(p);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}
} // namespace

QByteArray Encode(const Template& t) {
    QByteArray out;
    out.reserve(kTextsOffset + 64);
    PutI32(out, t.stepCount);
    for (const TemplateStep& s : t.steps) {
        PutI32(out, s.type);
        PutI32(out, 0); // padding
        PutF64(out, s.volume);
        PutI32(out, s.unit);
        PutI32(out, 0);
        PutF64(out, s.rate);
        PutI32(out, s.tolerance);
        PutI32(out, s.hours);
        PutI32(out, s.minutes);
        PutI32(out, 0);
    }
    PutText(out, t.name);
    PutText(out, t.deviceComments);
    PutText(out, t.thirdText);
    PutText(out, t.instSerialNumber);
    return out;
}

bool Decode(const QByteArray& bytes, Template& t, QString* error) {
    auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const char* p = bytes.constData();
    const qsizetype size = bytes.size();
    if (size < kTextsOffset) return fail(QStringLiteral("truncated: %1 bytes").arg(size));
    Template out;
    out.stepCount = GetI32(p);
    if (out.stepCount < 0 || out.stepCount > Template::kSlots)
        return fail(QStringLiteral("corrupt: step count %1").arg(out.stepCount));
    for (int i = 0; i < Template::kSlots; ++i) {
        const char* r = p + 4 + i * kStepRecordSize;
        TemplateStep& s = out.steps[size_t(i)];
        s.type = GetI32(r + 0);
        s.volume = GetF64(r + 8);
        s.unit = GetI32(r + 16);
        s.rate = GetF64(r + 24);
        s.tolerance = GetI32(r + 32);
        s.hours = GetI32(r + 36);
        s.minutes = GetI32(r + 40);
    }
    qsizetype pos = kTextsOffset;
    QString* texts[] = {&out.name, &out.deviceComments, &out.thirdText, &out.instSerialNumber};
    for (QString* text : texts) {
        if (size - pos < 4) return fail(QStringLiteral("truncated at byte %1").arg(pos));
        const int32_t count = GetI32(p + pos);
        pos += 4;
        // The count is checked against what the file holds before anything
        // is taken, so a damaged count cannot ask for gigabytes.
        if (count < 0 || qint64(count) * 2 > size - pos)
            return fail(QStringLiteral("corrupt text count %1 at byte %2").arg(count).arg(pos - 4));
        QString s;
        for (int32_t k = 0; k < count; ++k) {
            const char16_t u = qFromLittleEndian<uint16_t>(p + pos + 2 * qsizetype(k));
            if (u == 0) break;
            s.append(QChar(u));
        }
        pos += 2 * qsizetype(count);
        *text = s;
    }
    t = out;
    return true;
}

bool WriteFile(const QString& path, const Template& t, QString* error) {
    QFile f(path);
    // ReadWrite creates a missing file and, unlike WriteOnly, keeps the rest
    // of a longer one.
    if (!f.open(QIODevice::ReadWrite)) {
        if (error) *error = f.errorString();
        return false;
    }
    const QByteArray bytes = Encode(t);
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}

bool ReadFile(const QString& path, Template& t, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    if (f.size() > kMaxFileSize) {
        if (error) *error = QStringLiteral("not a template file: %1 bytes").arg(f.size());
        return false;
    }
    return Decode(f.readAll(), t, error);
}

} // namespace templatefile
