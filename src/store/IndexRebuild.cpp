// Indexing records and rebuilding the index from the record files.
#include "RecordIndex.h"

#include "AdoRecordset.h"
#include "RebuildAside.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"

#include <QDir>

#include <memory>

RecordIndexRow RecordIndex::MakeRow(CRivuletrixDoc& doc, const QString& fileName,
                                    const QString& deviceType) const {
    if (doc.ControlNumber.trimmed().isEmpty()) doc.ControlNumber = QStringLiteral("zzUNKNOWN");
    if (doc.DefaultTolerance < 0 || doc.DefaultTolerance > 50)
        doc.DefaultTolerance = m_settings.IntSetting(QStringLiteral("FlowTolerance"));
    doc.SetFlowRateText = QString::asprintf("%lf", doc.SetFlowRate);
    if (doc.SetVolume >= 0) doc.SetVolumeText = QString::asprintf("%lf", doc.SetVolume);
    doc.SetBasalFlowRateText = QString::asprintf("%lf", doc.SetBasalFlowRate);

    RecordIndexRow r;
    r.controlNumber = doc.ControlNumber;
    if (doc.TemplateSteps != 0)
        r.typeOfTest = QStringLiteral("T");
    else if (doc.TestType != '\0')
        r.typeOfTest = QString(QLatin1Char(doc.TestType));
    r.startDate = NormaliseStartDate(doc.StartDate);
    r.startTime = doc.StartTime;
    r.dateTime = ParseStartDateTime(doc.StartDate, doc.StartTime);
    r.fileName = fileName;
    r.operatorName = doc.Operator;
    r.manufacture = doc.Manufacture;
    r.model = doc.Model;
    r.serialNumber = doc.SerialNumber;
    r.location = doc.Location;
    r.comments = doc.Comments;
    r.channelNo = doc.ChannelNo;
    r.tdSerialNum = doc.TdSerialNum;
    r.tdVersion = doc.TdVersion;
    r.instSerialNum = doc.InstSerialNum;
    r.instVersion = doc.InstVersion;
    r.instModel = doc.InstModel;
    r.instManuf = doc.InstManuf;
    r.instDesc = doc.InstDesc;
    r.setPcaTime = doc.SetPcaTime;
    r.repHeader1 = doc.RepHeader1;
    r.repHeader2 = doc.RepHeader2;
    r.repHeader3 = doc.RepHeader3;
    r.tolerance = doc.DefaultTolerance;
    r.deviceType = deviceType;
    r.setFlowRate = doc.SetFlowRateText;
    r.setVolume = doc.SetVolume >= 0 ? doc.SetVolumeText : QString();
    r.setBasalFlowRate = doc.SetBasalFlowRateText;
    return r;
}

bool RecordIndex::IndexRecord(CRivuletrixDoc& doc, const QString& fileName,
                              const QString& deviceType) {
    if (!m_startupFinished) return false;
    // An index that was busy when it was last opened is opened now.
    if (!IsOpen()) Open();
    return AddRow(MakeRow(doc, fileName, deviceType));
}

RebuildResult RecordIndex::Rebuild(RebuildKind kind, const RebuildCallbacks& cb) {
    RebuildResult result;
    if (kind == RebuildKind::Import) {
        if (!Open()) return result;
    } else if (!IsOpen()) {
        return result;
    }
    result.ran = true;
    // The rows are built aside and swapped in at the end: other programs
    // keep reading and adding rows meanwhile, and a rebuild that cannot
    // store its rows leaves the old ones whole.
    RebuildAside aside(m_table, store::DbKind::Records);
    if (!aside.Begin()) {
        result.error = aside.LastError();
        return result;
    }
    // A record read for its window takes the tolerance setting; so does its row.
    const int tolerance = m_settings.IntSetting(QStringLiteral("FlowTolerance"));

    QStringList patterns{QStringLiteral("*.p8d")};
    if (kind != RebuildKind::Import) patterns << QStringLiteral("*.p7d");
    const QDir dir(DataFolder());
    int rows = 0;
    for (const QString& pattern : patterns) {
        const QStringList files = store::ListDataFiles(dir, pattern);
        for (const QString& file : files) {
            if (cb.cancelRequested && cb.cancelRequested()) {
                result.cancelled = true;
                break;
            }
            ++result.filesProcessed;
            if (cb.onFile) cb.onFile(result.filesProcessed, file);
            auto doc = std::make_unique<CRivuletrixDoc>();
            doc->DefaultTolerance = tolerance;
            QString error;
            if (!doc->ReadRecordFile(dir.filePath(file), &error, /*keepSamples=*/false)) {
                result.unreadable << file;
                if (cb.onUnreadable) cb.onUnreadable(file, error);
                if (kind != RebuildKind::IndexBuild) continue;
                doc = std::make_unique<CRivuletrixDoc>(); // indexed as an empty record
                doc->DefaultTolerance = tolerance;
            }
            if (m_startupFinished && AddRowTo(aside.Rows(), MakeRow(*doc, file))) ++rows;
        }
        if (result.cancelled) break;
    }
    // A cancelled rebuild leaves its side rows to be dropped with the side table.
    if (result.cancelled) return result;
    if (!aside.SwapIn()) {
        result.error = aside.LastError();
        return result;
    }
    result.stored = true;
    result.rowsAdded = rows;
    return result;
}
