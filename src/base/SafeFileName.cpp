#include "SafeFileName.h"

#include <QStringList>

namespace safename {

bool IsForbidden(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F) return true;
    switch (u) {
    case u'/':
    case u'\\':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return true;
    default:
        // Lone surrogates cannot be written as a name on either system.
        return c.isSurrogate();
    }
}

QString Part(const QString& text) {
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        // A valid surrogate pair is one character and stays.
        if (out[i].isHighSurrogate() && i + 1 < out.size() && out[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (IsForbidden(out[i])) out[i] = QChar(kReplacement);
    }
    return out;
}

namespace {

int Utf8Bytes(const QString& s) {
    return int(s.toUtf8().size());
}

// The longest front of s whose UTF-8 form fits into budget bytes, never
// splitting a surrogate pair.
QString FitUtf8(const QString& s, int budget) {
    int used = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        const bool pair = s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate();
        const char16_t u = s[i].unicode();
        const int bytes = pair ? 4 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (used + bytes > budget) break;
        used += bytes;
        i += pair ? 2 : 1;
    }
    return s.left(i);
}

// Windows keeps these names for devices, whatever follows a dot: a file
// "COM1.p8d" would open the serial port.
bool IsDeviceName(const QString& name) {
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList kDevices = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                         QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                         QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (kDevices.contains(stem)) return true;
    return stem.size() == 4 &&
           (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
           stem[3] >= QLatin1Char('1') && stem[3] <= QLatin1Char('9');
}

} // namespace

QString Name(const QString& prefix, const QString& text, const QString& suffix) {
    QString middle = Part(text);
    const int budget = kMaxNameBytes - Utf8Bytes(prefix) - Utf8Bytes(suffix);
    if (Utf8Bytes(middle) > budget) middle = FitUtf8(middle, budget < 0 ? 0 : budget);
    QString name = prefix + middle + suffix;
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        IsDeviceName(name))
        name = QString(QChar(kReplacement)) + name;
    // Windows drops trailing dots and blanks, which would make another name.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name[name.size() - 1] = QChar(kReplacement);
    return name;
}

bool IsSafe(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    if (Utf8Bytes(name) > kMaxNameBytes) return false;
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) return false;
    if (IsDeviceName(name)) return false;
    return Part(name) == name;
}

} // namespace safename
