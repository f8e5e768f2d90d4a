// Names of new record files and the start stamp.
#include "RivuletrixDoc.h"

#include "ByteParse.h"
#include "base/SafeFileName.h"

#include <QDateTime>

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsAsciiAlnum(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

int Number(const QString& s, int from, int count) {
    return bytes::AtoL(s.mid(from, count).toStdString());
}

} // namespace

void CRivuletrixDoc::StampStart(const QDateTime& now) {
    const QDate d = now.date();
    const QTime t = now.time();
    const QByteArray line = QStringLiteral("H18,%1-%2-%3,%4:%5:%6")
                                .arg(d.day(), 2, 10, QLatin1Char('0'))
                                .arg(QLatin1String(kMonths[d.month() - 1]))
                                .arg(d.year())
                                .arg(t.hour(), 2, 10, QLatin1Char('0'))
                                .arg(t.minute(), 2, 10, QLatin1Char('0'))
                                .arg(t.second(), 2, 10, QLatin1Char('0'))
                                .toLatin1();
    ReadHeaderLine(line.constData(), size_t(line.size()));
}

QString CRivuletrixDoc::MakeRecordFileName(bool templateRecord) const {
    if (!IsAsciiAlnum(QLatin1Char(TestType))) return {};
    static const QString months = QStringLiteral("JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC");
    const QString year = StartDate.mid(7, 4);
    const qsizetype found = months.indexOf(StartDate.mid(3, 3).toUpper());
    const long long month = found < 0 ? 0 : found / 3;
    const long long code = Number(StartTime, 6, 2) + Number(StartTime, 3, 2) * 68LL +
                           Number(StartTime, 0, 2) * 4080LL + Number(StartDate, 0, 2) * 97920LL +
                           month * 3035520LL;
    QString digits = QString::number(code < 0 ? 0 : code, 36);
    if (digits.size() < 5) digits.prepend(QString(5 - digits.size(), QLatin1Char('0')));

    const QString stem = QLatin1Char(TestType) + year + digits;
    for (QChar c : stem)
        if (!IsAsciiAlnum(c)) return {};
    // The serial number is the analyzer's text: it may hold anything, so the
    // name keeps it only as far as it is a plain file name.
    return safename::Name((templateRecord ? QStringLiteral("RXr_T") : QStringLiteral("RXr_")) +
                              stem + QLatin1Char('_'),
                          TdSerialNum, QStringLiteral(".p8d"));
}
