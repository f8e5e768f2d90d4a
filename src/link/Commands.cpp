#include "Commands.h"

#include "base/CodePage.h"
#include "base/Prompter.h"

#include <QFile>
#include <QIODevice>

#include <cmath>

namespace commands {

namespace {
QByteArray Line(const char* text) {
    return QByteArray(text);
}

QByteArray Numbered(const char* keyword, int value, int minDigits) {
    QByteArray out = "[";
    out += keyword;
    out += ',';
    QByteArray digits = QByteArray::number(value < 0 ? -value : value);
    while (digits.size() < minDigits) digits.prepend('0');
    if (value < 0) digits.prepend('-');
    out += digits;
    out += "]\r\n";
    return out;
}

// Texts of the template lines go out as the low byte of each UTF-16 unit.
QByteArray LowBytes(const QString& text, qsizetype limit) {
    QByteArray out;
    const qsizetype n = std::min(text.size(), limit);
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) out += char(text[i].unicode() & 0xFF);
    return out;
}

QByteArray Fixed2(double v) {
    return QByteArray::number(v, 'f', 2);
}
} // namespace

QByteArray Poll() {
    return Line("[POLL]\r\n");
}
QByteArray Bye() {
    return Line("[BYE]\r\n");
}
QByteArray Log() {
    return Line("[LOG]\r\n");
}
QByteArray Status() {
    return Line("[STATUS]\r\n");
}
QByteArray GetBatStatus() {
    return Line("[GETBATSTATUS]\r\n");
}
QByteArray End(int channelIndex) {
    return Numbered("END", channelIndex + 1, 1);
}
QByteArray Recs() {
    return Line("[RECS]\r\n");
}
QByteArray GetTemplateCount() {
    return Line("[GETTMPLTCOUNT]\r\n");
}
QByteArray GetUserNotes() {
    return Line("[GETUSERNOTES]\r\n");
}

std::optional<QByteArray> GetRec(int number) {
    if (number < 0) return std::nullopt;
    if (number > 999) number = 999;
    if (number == 0) ThePrompter().Message(QStringLiteral("RECORD NUMBER CANNOT BE ZERO"));
    return Numbered("GETREC", number, 3);
}

std::optional<QByteArray> DelRec(int number) {
    if (number < 0) return std::nullopt;
    if (number >= 1000) {
        ThePrompter().Message(QStringLiteral("Record Number is greater than 999"));
        return std::nullopt;
    }
    return Numbered("DELREC", number, 1);
}

std::optional<QByteArray> GetSN(int unit) {
    if (unit < 0) return std::nullopt;
    if (unit >= 5) {
        ThePrompter().Message(QStringLiteral("Channel Number greater than 4"));
        return std::nullopt;
    }
    return Numbered("GETSN", unit, 1);
}

std::optional<QByteArray> GetParams(int unit) {
    if (unit < 0) return std::nullopt;
    if (unit >= 5) {
        ThePrompter().Message(QStringLiteral("Channel Number greater than 4"));
        return std::nullopt;
    }
    return Numbered("GETPARAMS", unit, 1);
}

std::optional<QByteArray> GetTemplate(int number) {
    if (number < 0) return std::nullopt;
    if (number > 200) {
        ThePrompter().Message(QStringLiteral("Template Number is greater than 200"));
        return std::nullopt;
    }
    return Numbered("GETTMPLT", number, 1);
}

std::optional<QByteArray> StartTest(int channelIndex, int testType, bool autoStart,
                                    const QString& controlNumber, const QString& operatorName,
                                    double setFlowRate) {
    QString control = controlNumber;
    QString op = operatorName;
    control.replace(QLatin1Char(','), QLatin1Char('-'));
    op.replace(QLatin1Char(','), QLatin1Char('-'));
    // The rate in 0.01 ml/h, truncated toward zero. The small bias keeps
    // binary fractions from losing a unit (0.29 * 100 = 28.999...).
    const double scaled = setFlowRate * 100.0;
    const long long rate = static_cast<long long>(scaled + (scaled >= 0 ? 1e-7 : -1e-7));
    QString body = control + QLatin1Char(',') + op + QLatin1Char(',') + QString::number(rate) +
                   QStringLiteral("]\r\n");
    QByteArray bodyBytes = codepage::FromUnicode(body);
    if (bodyBytes.size() + 1 > 60) return std::nullopt;

    const int digit = channelIndex + 1;
    QByteArray prefix;
    switch (testType) {
    case TestFlow:
        prefix = autoStart ? "[C%FA," : "[C%F,";
        break;
    case TestOcclusion:
        prefix = "[C%O,";
        break;
    case TestPca:
        prefix = autoStart ? "[C%PCAA," : "[C%PCA,";
        break;
    default:
        break;
    }
    prefix.replace('%', QByteArray::number(digit));
    QByteArray command = prefix + bodyBytes;
    if (command.size() + 1 > 70) return std::nullopt;
    command.append('\0'); // the terminating NUL goes out after the LF
    return command;
}

QByteArray TemplateStepLine(int k, const TemplateStep& s) {
    QByteArray type;
    switch (s.type) {
    case 1:
        type = "FLOW";
        break;
    case 2:
        type = "OCCL";
        break;
    case 3:
        type = "PCA";
        break;
    case 5:
        type = "BOLUS";
        break;
    default:
        break;
    }
    QByteArray unit;
    switch (s.unit) {
    case 2:
        unit = "MMHG";
        break;
    case 3:
        unit = "KPA";
        break;
    case 4:
        unit = "PSI";
        break;
    case 5:
        unit = "ML";
        break;
    default:
        break;
    }
    QByteArray line = "SETTMPLT,";
    line += QByteArray::number(k);
    line += ',' + type + ',' + Fixed2(s.rate) + ',' + Fixed2(s.volume) + ',' + unit + ',' +
            QByteArray::number(s.hours) + ',' + QByteArray::number(s.minutes) + ',' +
            QByteArray::number(s.tolerance);
    return line;
}

QList<QByteArray> SetTemplate(const Template& t) {
    auto frame = [](const QByteArray& body) { return '[' + body + "]\r\n"; };
    QList<QByteArray> lines;
    // The analyzer keeps 30 characters of each text; longer ones would
    // overrun its 72-byte line.
    lines << frame("SETTMPLT,0," + LowBytes(t.name, 30) + ',' + LowBytes(t.deviceComments, 30));
    const int n = std::clamp(t.stepCount, 0, 6);
    for (int k = 1; k <= n; ++k) lines << frame(TemplateStepLine(k, t.steps[k - 1]));
    lines << frame("SETTMPLT,END");
    return lines;
}

QList<QByteArray> SetUserNotes(QIODevice& notesFile) {
    QList<QByteArray> writes;
    writes << QByteArray("[SETUSERNOTES]\r\n") << QByteArray("[");
    for (int i = 0; i < 4000; ++i) {
        QByteArray piece = notesFile.read(100);
        if (piece.isEmpty()) break;
        writes << piece;
    }
    writes << QByteArray("]");
    return writes;
}

QString ScrambleManual(const QByteArray& fileBytes) {
    static const char kKey[] = "QKTZeoimdrcfhjgwxnyb pqsUvkaltwhyzjc";
    static_assert(sizeof(kKey) == 37, "the scrambling key has 36 characters");
    QString out;
    out.reserve(fileBytes.size());
    int i = 0;
    for (char b : fileBytes) {
        out += QChar(ushort(uchar(kKey[i]) ^ uchar(b)));
        i = (i + 1) % 36;
    }
    return out;
}

QString ScrambleManualFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return ScrambleManual(f.readAll());
}

QList<QByteArray> UmSetInstruct(const QString& scrambled) {
    QList<QByteArray> writes;
    writes << QByteArray("[UMSETINSTRUCT]\r\n");
    // One byte per character, zeros included. Characters up to 0xFF are the
    // scrambled bytes themselves: they go out unchanged, also 0x80..0x9F,
    // which the code page would turn into '?' and so corrupt the manual.
    QByteArray bytes;
    bytes.reserve(scrambled.size());
    for (QChar c : scrambled) {
        if (c.unicode() <= 0xFF) {
            bytes += char(c.unicode());
        } else {
            const QByteArray b = codepage::FromUnicode(QString(c));
            bytes += b.isEmpty() ? '?' : b[0];
        }
    }
    if (!bytes.isEmpty()) writes << bytes;
    return writes;
}

} // namespace commands
