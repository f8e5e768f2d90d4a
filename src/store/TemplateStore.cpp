#include "TemplateStore.h"

#include "RebuildAside.h"
#include "StoreTrace.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kColName = QStringLiteral("TemplateName");
const QString kColSerial = QStringLiteral("Inst SerialNumber");
const QString kColComments = QStringLiteral("Device Comments");
const QString kColSteps = QStringLiteral("No of Steps");
const QString kColFile = QStringLiteral("Filename");

// Characters that no file name may hold here or on Windows; a name coming
// from an analyzer must not lead the file out of the data folder.
bool IsPlainFileName(const QString& name) {
    if (name == QLatin1String(".") || name == QLatin1String("..")) return false;
    for (QChar c : name) {
        if (c.unicode() < 0x20) return false;
        if (QStringLiteral("\\/:*?\"<>|").contains(c)) return false;
    }
    return true;
}
} // namespace

TemplateStore::TemplateStore(const AppSettings& settings) : m_settings(settings) {}

QString TemplateStore::SeedFolder() const {
    return StoreTable::SeedFolderOf(m_settings, m_seedFolder);
}

QString TemplateStore::DataFolder() const {
    return StoreTable::DataFolderOf(m_settings, m_dataFolder);
}

bool TemplateStore::Open() {
    return m_table.OpenFor(m_settings, m_dataFolder, m_seedFolder);
}

int TemplateStore::GetCount() {
    CADORecordset* rs = m_table.Recordset();
    return rs ? rs->GetRecordCount() : 0;
}

bool TemplateStore::ClearAll() {
    CADORecordset* rs = m_table.Recordset();
    if (!rs || !rs->IsOpen()) return false;
    return rs->DeleteALL(rs->GetRecordCount());
}

bool TemplateStore::AddRow(const TemplateRow& row) {
    return AddRowTo(m_table.Recordset(), row);
}

bool TemplateStore::AddRowTo(CADORecordset* rs, const TemplateRow& row) {
    if (!rs || !rs->AddNew()) return false;
    rs->PutFieldValue(kColName, row.name);
    rs->PutFieldValue(kColSerial, row.instSerialNumber);
    rs->PutFieldValue(kColComments, row.deviceComments);
    if (!rs->PutFieldValue(kColSteps, row.stepCount)) {
        rs->CancelUpdate();
        return false;
    }
    rs->PutFieldValue(kColFile, row.fileName);
    if (!rs->Update()) {
        rs->CancelUpdate();
        return false;
    }
    return true;
}

bool TemplateStore::ListRows(QList<TemplateRow>& rows) {
    rows.clear();
    return m_table.ReadEveryRow(rows, [](CADORecordset& rs, TemplateRow& r) {
        rs.GetFieldValue(kColName, r.name);
        rs.GetFieldValue(kColSerial, r.instSerialNumber);
        rs.GetFieldValue(kColComments, r.deviceComments);
        rs.GetFieldValue(kColSteps, r.stepCount);
        rs.GetFieldValue(kColFile, r.fileName);
    });
}

bool TemplateStore::DeleteRow(const QString& column, const QString& value) {
    return m_table.DeleteFirst(column, value);
}

QString TemplateStore::TemplateFilePath(const QString& fileName) const {
    return DataFolder() + QLatin1Char('/') + fileName;
}

bool TemplateStore::MakeTemplateFileName(const QString& name, QString& fileName) {
    if (name.isEmpty() || !IsPlainFileName(name)) {
        ThePrompter().Message(QStringLiteral("Not a valid Templatename"));
        return false;
    }
    fileName = QStringLiteral("RXt_") + name + QStringLiteral(".p8t");
    if (QFileInfo::exists(TemplateFilePath(fileName)))
        return ThePrompter().QuestionDefaultNo(
            QStringLiteral("File already exist,Do you want to overwrite it"),
            Prompter::Icon::Question);
    return true;
}

bool TemplateStore::WriteTemplateFile(const QString& fileName, const Template& t) {
    const QString folder = DataFolder();
    if (folder.isEmpty()) return false;
    MakeFolderChain(folder);
    QString error;
    if (!templatefile::WriteFile(TemplateFilePath(fileName), t, &error)) {
        qCDebug(lcStore) << "\nTemplateStore::WriteTemplateFile -" << fileName << error;
        return false;
    }
    return true;
}

bool TemplateStore::ReadTemplateFile(const QString& fileName, Template& t) {
    QString error;
    if (!templatefile::ReadFile(TemplateFilePath(fileName), t, &error)) {
        qCDebug(lcStore) << "\nTemplateStore::ReadTemplateFile -" << fileName << error;
        return false;
    }
    return true;
}

RebuildResult TemplateStore::RebuildTemplateIndex(RebuildKind kind, const RebuildCallbacks& cb) {
    RebuildResult result;
    if (kind == RebuildKind::Import && !Open()) return result;
    if (!IsOpen()) return result;
    result.ran = true;
    // Built aside and swapped in: see the records index.
    RebuildAside aside(m_table, store::DbKind::Templates);
    if (!aside.Begin()) {
        result.error = aside.LastError();
        return result;
    }
    int rows = 0;
    const QDir dir(DataFolder());
    const QStringList files = store::ListDataFiles(dir, QStringLiteral("*.p8t"));
    for (const QString& file : files) {
        if (cb.cancelRequested && cb.cancelRequested()) {
            result.cancelled = true;
            break;
        }
        ++result.filesProcessed;
        if (cb.onFile) cb.onFile(result.filesProcessed, file);
        Template t;
        QString error;
        const bool read = templatefile::ReadFile(dir.filePath(file), t, &error);
        if (!read) {
            result.unreadable << file;
            if (cb.onUnreadable) cb.onUnreadable(file, error);
            if (kind == RebuildKind::Import) continue;
            t = Template{}; // the row of an unreadable file: empty texts, 0 steps
        }
        TemplateRow row;
        row.name = t.name;
        row.instSerialNumber = t.instSerialNumber;
        row.thirdText = t.thirdText;
        row.deviceComments = t.deviceComments;
        row.fileName = file;
        row.stepCount = t.stepCount;
        if (AddRowTo(aside.Rows(), row)) ++rows;
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
