#include "IniFile.h"

#include "CodePage.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {

struct Text {
    QStringList lines;
    bool utf8 = true;
    bool crlf = true;
};

bool Load(const QString& path, Text& text) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    QByteArray bytes = f.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (utf8.hasError()) {
        text.utf8 = false;
        s = codepage::ToUnicode(bytes);
    }
    text.crlf = bytes.contains("\r\n") || !bytes.contains('\n');
    s.remove(QLatin1Char('\r'));
    text.lines = s.split(QLatin1Char('\n'));
    if (!text.lines.isEmpty() && text.lines.last().isEmpty()) text.lines.removeLast();
    return true;
}

// Section name of a "[name]" line, or a null string.
QString SectionOf(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('['))) return {};
    const qsizetype end = t.indexOf(QLatin1Char(']'));
    return (end < 0 ? t.mid(1) : t.mid(1, end - 1)).trimmed();
}

bool SameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// Key of a "key=value" line, or a null string for other lines.
QString KeyOf(const QString& line, QString* value = nullptr) {
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';'))) return {};
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq < 0) return {};
    if (value) *value = t.mid(eq + 1).trimmed();
    return t.left(eq).trimmed();
}

// Line range [begin, end) of the section's body; begin = -1 when missing.
std::pair<qsizetype, qsizetype> FindSection(const QStringList& lines, const QString& section) {
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = SectionOf(lines[i]);
        if (name.isNull() || !SameName(name, section)) continue;
        qsizetype end = i + 1;
        while (end < lines.size() && SectionOf(lines[end]).isNull()) ++end;
        return {i + 1, end};
    }
    return {-1, -1};
}

} // namespace

namespace ini {

QString ReadValue(const QString& filePath, const QString& section, const QString& key,
                  const QString& def) {
    Text text;
    if (!Load(filePath, text)) return def;
    const auto [begin, end] = FindSection(text.lines, section);
    if (begin < 0) return def;
    for (qsizetype i = begin; i < end; ++i) {
        QString value;
        const QString k = KeyOf(text.lines[i], &value);
        if (k.isNull() || !SameName(k, key)) continue;
        if (value.size() >= 2) {
            const QChar q = value.front();
            if ((q == QLatin1Char('"') || q == QLatin1Char('\'')) && value.back() == q)
                value = value.mid(1, value.size() - 2);
        }
        return value.left(kMaxValueLength);
    }
    return def;
}

bool WriteValue(const QString& filePath, const QString& section, const QString& key,
                const QString& value) {
    if (!QFile::exists(filePath)) return false;
    Text text;
    if (!Load(filePath, text)) return false;
    const QString entry = key.trimmed() + QLatin1Char('=') + value;
    auto [begin, end] = FindSection(text.lines, section);
    if (begin < 0) {
        text.lines << (QLatin1Char('[') + section.trimmed() + QLatin1Char(']')) << entry;
    } else {
        qsizetype at = -1;
        for (qsizetype i = begin; i < end && at < 0; ++i) {
            const QString k = KeyOf(text.lines[i]);
            if (!k.isNull() && SameName(k, key)) at = i;
        }
        if (at >= 0) {
            // The key keeps the spelling the file has; only the value changes.
            const QString& line = text.lines[at];
            text.lines[at] =
                line.left(line.indexOf(QLatin1Char('='))).trimmed() + QLatin1Char('=') + value;
        } else {
            // After the section's last non-blank line.
            qsizetype insertAt = end;
            while (insertAt > begin && text.lines[insertAt - 1].trimmed().isEmpty()) --insertAt;
            text.lines.insert(insertAt, entry);
        }
    }
    const QString eol = text.crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const QString joined = text.lines.join(eol) + eol;
    QSaveFile out(filePath);
    out.setDirectWriteFallback(true); // a settings folder we may write in but not create files in
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(text.utf8 ? joined.toUtf8() : codepage::FromUnicode(joined));
    return out.commit();
}

} // namespace ini
