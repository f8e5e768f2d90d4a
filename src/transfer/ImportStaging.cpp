#include "ImportStaging.h"

#include "base/AppSettings.h"
#include "base/CodePage.h"
#include "base/SafeFileName.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>

namespace staging {

namespace {
// The header fields are short; longer lines are cut here.
constexpr qsizetype kMaxLine = 119;

QString Field(const QList<QByteArray>& fields, int i) {
    return i < fields.size() ? codepage::ToUnicode(fields[i]) : QString();
}
} // namespace

QString Folder(const AppSettings& settings) {
    QString base = settings.Setting(QStringLiteral("CustomPath"));
    if (base.isEmpty()) base = settings.GetDataPath();
    if (base.isEmpty()) return {};
    return QDir::cleanPath(base + QStringLiteral("/Temp"));
}

Area::Area(const QString& base) {
    if (!base.isEmpty()) MakeFolderChain(base);
    if (base.isEmpty() || !QFileInfo(base).isDir()) {
        m_error = QStringLiteral("Cannot Create Temp Folder");
        return;
    }
    m_dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/import-XXXXXX"));
    if (!m_dir->isValid())
        m_error = QStringLiteral("Cannot Create Temp Folder: %1").arg(m_dir->errorString());
}

bool Prepare(const QString& folder, QString* error) {
    if (!folder.isEmpty()) MakeFolderChain(folder);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return true;
    if (error) *error = QStringLiteral("Cannot Create Temp Folder");
    return false;
}

QString RecordPath(const QString& folder, int number) {
    return folder + QLatin1Char('/') +
           safename::Name({}, QString::number(number), QStringLiteral(".p8d"));
}

QString TemplatePath(const QString& folder, int number) {
    return folder + QLatin1Char('/') +
           safename::Name({}, QString::number(number), QStringLiteral(".p8t"));
}

void ParseHeader(const QByteArray& bytes, ImportedRecord& e) {
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0) end = bytes.size();
        QByteArray line = bytes.mid(at, end - at);
        at = end + 1;
        if (line.isEmpty() || line[0] != 'H') continue;
        line.replace("\r", "");
        line.truncate(kMaxLine);
        const QList<QByteArray> f = line.split(',');
        const QByteArray& key = f[0];
        if (key == "H1") {
            e.instSerial = Field(f, 1);
        } else if (key == "H2") {
            e.tdSerial = Field(f, 2);
            // The older form runs the serial number on from the channel digit.
            const QString first = Field(f, 1);
            if (f.size() < 3 && first.size() >= 2) e.tdSerial = first.mid(1);
        } else if (key == "H6") {
            e.controlNumber = Field(f, 1);
        } else if (key == "H12") {
            const QString type = Field(f, 1);
            e.testType = type.isEmpty() ? 0 : type[0].toLatin1();
        } else if (key == "H18") {
            e.startDate = Field(f, 1);
            e.startTime = Field(f, 2);
        }
    }
}

bool ReadHeader(const QString& path, ImportedRecord& e) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    ParseHeader(f.readAll(), e);
    return true;
}

bool IsCompleteRecord(const QByteArray& bytes) {
    return bytes.size() >= 4 && bytes[0] == 'N' && bytes.endsWith("E0");
}

bool CheckRecord(const QByteArray& bytes, QString* why) {
    const auto fail = [why](const QString& text) {
        if (why) *why = text;
        return false;
    };
    if (!IsCompleteRecord(bytes))
        return fail(QStringLiteral("it does not begin with its N line and end with E0"));
    constexpr int kHeaderLines = 22;
    QList<std::array<bool, kHeaderLines + 1>> sections{{}};
    int declared = -1;
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0) end = bytes.size();
        const QByteArrayView line(bytes.constData() + at, end - at);
        at = end + 1;
        if (line.isEmpty()) continue;
        if (declared < 0) {
            declared = line.size() >= 2 && line[1] >= '0' && line[1] <= '9' ? line[1] - '0' : 0;
            continue;
        }
        if (line[0] == 'E') {
            if (line.startsWith("E0")) break;
            sections.append(std::array<bool, kHeaderLines + 1>{});
        } else if (line[0] == 'H') {
            int n = 0;
            qsizetype i = 1;
            while (i < line.size() && line[i] >= '0' && line[i] <= '9' && n <= kHeaderLines)
                n = n * 10 + (line[i++] - '0');
            if (i < line.size() && line[i] == ',' && n >= 1 && n <= kHeaderLines)
                sections.last()[size_t(n)] = true;
        }
    }
    const int expected = declared <= 0 ? 1 : declared;
    if (sections.size() != expected)
        return fail(QStringLiteral("its N line names %1 section(s), it holds %2")
                        .arg(expected)
                        .arg(sections.size()));
    for (int s = 0; s < sections.size(); ++s)
        for (int n = 1; n <= kHeaderLines; ++n)
            if (!sections[s][size_t(n)])
                return fail(QStringLiteral("header line H%1 is missing%2")
                                .arg(n)
                                .arg(sections.size() > 1
                                         ? QStringLiteral(" in section %1").arg(s + 1)
                                         : QString()));
    return true;
}

QByteArray Digest(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace staging
