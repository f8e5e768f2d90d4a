#pragma once

#include "StoreRebuild.h"
#include "StoreTable.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <utility>

class AppSettings;
class CADORecordset;
class CRivuletrixDoc;

// One row of the records index, every column.
struct RecordIndexRow {
    QString controlNumber;
    QString typeOfTest;
    QString startDate;
    QString startTime;
    QDateTime dateTime;
    QString fileName;
    QString operatorName;
    QString manufacture;
    QString model;
    QString serialNumber;
    QString location;
    QString comments;
    int channelNo = 0; // 0-based
    QString tdSerialNum;
    QString tdVersion;
    QString instSerialNum;
    QString instVersion;
    QString instModel;
    QString instManuf;
    QString instDesc;
    QString setPcaTime;
    QString repHeader1, repHeader2, repHeader3;
    int tolerance = 0;
    QString deviceType;
    QString setFlowRate;
    QString setVolume;
    QString setBasalFlowRate;
    QString setPcaVolume;
};

// What the record browser lists.
struct RecordListRow {
    QString controlNumber;
    QString startDate;
    QString startTime;
    QString typeOfTest;
    QString manufacture;
    QString model;
    QString serialNumber;
    QString instSerialNum;
    QString tdSerialNum;
    QString fileName;
    QString setFlowRate;
};

// What the test setup pages take from the latest record of a control number.
struct EquipmentDetails {
    QString controlNumber;
    QString operatorName;
    QString manufacture;
    QString model;
    QString serialNumber;
    QString location;
    QString comments;
};

// The records index "RX_Records.accdb" in the data folder: one row per
// record file, in the order rows were added. Operations return false (or 0,
// or an empty list) on failure and never show a message.
class RecordIndex {
public:
    explicit RecordIndex(const AppSettings& settings);

    // Folder of the seed "RX_Records.bak"; the working directory unless set.
    void SetSeedFolder(const QString& folder) { m_seedFolder = folder; }
    QString SeedFolder() const;
    // Overrides the data folder of the settings (empty: use the settings).
    void SetDataFolder(const QString& folder) { m_dataFolder = folder; }
    QString DataFolder() const;
    // Nothing is indexed until the application has finished starting.
    void SetStartupFinished(bool finished) { m_startupFinished = finished; }
    bool StartupFinished() const { return m_startupFinished; }

    bool Open();
    // The last Open failed only because the database was busy.
    bool LastOpenWasBusy() const { return m_table.LastOpenWasBusy(); }
    void Close() { m_table.Close(); }
    bool IsOpen() const { return m_table.IsOpen(); }
    int GetCount();
    bool ClearAll();
    bool AddRow(const RecordIndexRow& row);
    bool ListRows(QList<RecordListRow>& rows);
    // The latest row added with this control number.
    bool FindEquipment(const QString& controlNumber, EquipmentDetails& details);
    // Reopens the index, then deletes the first row whose column holds value.
    bool DeleteRow(const QString& column, const QString& value);

    // Makes the row of a record and adds it. Adjusts the record as indexing
    // always has: a blank control number becomes "zzUNKNOWN", an out-of-range
    // tolerance the "FlowTolerance" setting, and the set-value texts the
    // "%lf" forms stored in the row. deviceType is the text entered at test
    // setup (records read from files do not carry it).
    bool IndexRecord(CRivuletrixDoc& record, const QString& fileName,
                     const QString& deviceType = {});
    // IndexRecord for a row already made (by MakeRow, on another thread).
    bool IndexRow(const RecordIndexRow& row);
    // The row IndexRecord would add, with the same adjustments of the record.
    RecordIndexRow MakeRow(CRivuletrixDoc& record, const QString& fileName,
                           const QString& deviceType = {}) const;

    enum class RebuildKind {
        // Index build dialog: needs an open index; "*.p8d" then "*.p7d"; a file
        // that cannot be read is indexed as an empty record.
        IndexBuild,
        // Record browser when "BuildIndex" is "1": as the build, but an
        // unreadable file gets no row.
        Browser,
        // Import: reopens the index first; "*.p8d" only; unreadable files get
        // no row.
        Import,
    };
    RebuildResult Rebuild(RebuildKind kind, const RebuildCallbacks& callbacks = {});

    // Date texts as the index keeps them.
    static QString NormaliseStartDate(const QString& date);
    // "StartDate StartTime" read day first; 1 January 1900 when unreadable.
    static QDateTime ParseStartDateTime(const QString& date, const QString& time);

    QString LastError() const { return m_error.isEmpty() ? m_table.LastError() : m_error; }
    // The reason alone, without the connection's details.
    QString ErrorDescription() const;
    StoreTable& Table() { return m_table; }

    // On a server, a row that could not be added (the server gone) is noted
    // in "RX_Records.unindexed" in the data folder and added when the server
    // answers again (the next Open or indexed record) or by the next rebuild.
    bool OnServer() const { return m_table.OnServer(); }
    // The last IndexRecord failed and its row waits for the server.
    bool LastRowQueued() const { return m_queued; }
    QStringList QueuedFiles() const;
    // Notes a saved file before its row is handed to another thread: a crash
    // before the row is in still leaves the file to be added. The note goes
    // when the row is added.
    bool NoteForLater(const QString& fileName, const QString& deviceType) {
        return Queue(fileName, deviceType);
    }
    // Adds the rows of the noted files; returns how many were added.
    int AddQueuedRows();

private:
    // One statement on the server, values bound; first takes the first
    // column of the first row when given.
    bool ServerExec(const QString& sql, const QVariantList& values = {}, QVariant* first = nullptr);
    bool ListServerRows(QList<RecordListRow>& rows);
    bool FindServerEquipment(const QString& controlNumber, EquipmentDetails& details);
    QString QueuePath() const;
    // False when the note could not be written.
    bool Queue(const QString& fileName, const QString& deviceType);
    // Forgets the noted files in names (their rows were made by a rebuild).
    void Unqueue(const QStringList& names);
    // A row written through the given cursor (the table's, or a rebuild's).
    static bool AddRowTo(CADORecordset* rs, const RecordIndexRow& row);
    bool AddServerRow(const RecordIndexRow& row);
    // The columns of a row and their values, in the order of the table.
    static QList<std::pair<QString, QVariant>> Fields(const RecordIndexRow& row);

    const AppSettings& m_settings;
    QString m_seedFolder;
    QString m_dataFolder;
    bool m_startupFinished = false;
    bool m_queued = false;
    QString m_error;
    StoreTable m_table{store::DbKind::Records};
};
