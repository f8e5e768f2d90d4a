// Any byte string as a transducer serial number or a name sent by an
// analyzer: the file name made from it is one plain component that stays in
// its folder.
#include "base/CodePage.h"
#include "base/SafeFileName.h"
#include "records/RivuletrixDoc.h"

#include <QDir>
#include <QFileInfo>

#include <cstdint>
#include <cstdlib>

namespace {

void CheckStaysInFolder(const QString& name) {
    static const QDir folder(QStringLiteral("/data/records"));
    if (!safename::IsSafe(name)) std::abort();
    if (QFileInfo(folder.filePath(name)).absolutePath() != folder.path()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    // As the wire and record files bring text: through the code page.
    const QString text = codepage::ToUnicode(bytes, qsizetype(size));
    CRivuletrixDoc doc;
    doc.TestType = 'F';
    doc.StartDate = QStringLiteral("10-Dec-2026");
    doc.StartTime = QStringLiteral("10:00:00");
    doc.TdSerialNum = text;
    CheckStaysInFolder(doc.MakeRecordFileName());
    CheckStaysInFolder(doc.MakeRecordFileName(true));
    // As raw UTF-16, lone surrogates included.
    const QString utf16 =
        QString(reinterpret_cast<const QChar*>(data), qsizetype(size / sizeof(QChar)));
    CheckStaysInFolder(safename::Name(QStringLiteral("RXt_"), utf16, QStringLiteral(".p8t")));
    CheckStaysInFolder(safename::Name({}, text, {}));
    return 0;
}
