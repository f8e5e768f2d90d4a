#pragma once

#include "StoreRebuild.h"
#include "StoreTable.h"
#include "records/Template.h"

#include <QList>
#include <QString>

class AppSettings;
class CADORecordset;

// The template files (".p8t" in the data folder) and their index database
// "RX_Templates.accdb". Store operations never show messages, except the two
// questions of MakeTemplateFileName, which go through the prompter.
class TemplateStore {
public:
    explicit TemplateStore(const AppSettings& settings);

    // Folder of the seed "RX_Templates.bak"; the working directory unless set.
    void SetSeedFolder(const QString& folder) { m_seedFolder = folder; }
    QString SeedFolder() const;
    // Overrides the data folder of the settings (empty: use the settings).
    void SetDataFolder(const QString& folder) { m_dataFolder = folder; }
    QString DataFolder() const;

    bool Open();
    void Close() { m_table.Close(); }
    bool IsOpen() const { return m_table.IsOpen(); }
    int GetCount();
    bool ClearAll();
    bool AddRow(const TemplateRow& row);
    bool ListRows(QList<TemplateRow>& rows);
    // Deletes the first row whose column holds value.
    bool DeleteRow(const QString& column, const QString& value);

    QString TemplateFilePath(const QString& fileName) const;
    // "RXt_" + name + ".p8t". Refuses an empty name or one that is not a plain
    // file name ("Not a valid Templatename"); asks before an existing file is
    // overwritten. fileName is set whenever the name is valid.
    bool MakeTemplateFileName(const QString& name, QString& fileName);
    bool WriteTemplateFile(const QString& fileName, const Template& t);
    bool ReadTemplateFile(const QString& fileName, Template& t);

    enum class RebuildKind {
        // Index build dialog and template browser: every file gets a row, an
        // unreadable one an empty row.
        Full,
        // Import: reopens the store first and skips unreadable files.
        Import,
    };
    RebuildResult RebuildTemplateIndex(RebuildKind kind = RebuildKind::Full,
                                       const RebuildCallbacks& callbacks = {});

    QString LastError() const { return m_table.LastError(); }
    StoreTable& Table() { return m_table; }

private:
    static bool AddRowTo(CADORecordset* rs, const TemplateRow& row);

    const AppSettings& m_settings;
    QString m_seedFolder;
    QString m_dataFolder;
    StoreTable m_table{store::DbKind::Templates};
};
