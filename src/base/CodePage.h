#pragma once

#include <QByteArray>
#include <QString>

// Windows-1252, the code page of the wire and the record files. ASCII passes
// unchanged; characters outside the code page become '?'.
namespace codepage {
QString ToUnicode(const char* data, qsizetype size);
inline QString ToUnicode(const QByteArray& bytes) {
    return ToUnicode(bytes.constData(), bytes.size());
}
QByteArray FromUnicode(const QString& text);
} // namespace codepage
