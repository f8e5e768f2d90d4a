#include "ImportStaging.h"

#include "base/AppSettings.h"
#include "base/CodePage.h"
#include "base/SafeFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace staging
