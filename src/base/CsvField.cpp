#include "CsvField.h"

#include <QRegularExpression>

namespace csv {

namespace {

bool IsPlainNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$)"));
    return number.match(text).hasMatch();
}

bool StartsLikeFormula(const QString& text) {
    if (text.isEmpty()) return false;
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
        return !IsPlainNumber(text);
    default:
        return false;
    }
}

} // namespace

QByteArray Field(const QString& text) {
    QByteArray b = (StartsLikeFormula(text) ? QStringLiteral("'") + text : text).toUtf8();
    if (b.contains(',') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

QByteArray Line(const QStringList& fields) {
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        out += Field(fields[i]);
    }
    out += "\r\n";
    return out;
}

} // namespace csv
