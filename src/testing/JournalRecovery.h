#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class RecordIndex;

// Turning the journal of a test that did not end cleanly into a normal
// record file in the data folder.
struct JournalRecovery {
    QString journal;       // the journal file
    QString record;        // the record file made, when recovered
    int samples = 0;       // samples after slot 0
    uint32_t lastTime = 0; // ticks of the last sample
    int ticksPerSecond = 1000;
    QString controlNumber;
    char testType = 'N';
    int channel = 0;    // 1-based
    QString analyzer;   // model and serial number
    QString started;    // date and time of Start Test
    bool inUse = false; // a running test still writes it
    bool tornTail = false;
    int missingSamples = 0;    // slots lost to damaged frames before the last sample
    qint64 damagedBytes = 0;   // journal bytes passed over as damaged
    bool alreadySaved = false; // the record was there already (saved before a crash)
    bool indexed = false;
    bool gone = false; // another recovery took it meanwhile: nothing to do
    QString kept;      // why the journal stays although the record was made
    QString error;     // why it could not be read or recovered
};

// What a journal holds, without changing anything.
JournalRecovery InspectJournal(const QString& journalPath);

// Writes the record file into dataFolder (never over an existing file), adds
// its row to index when one is given, and removes the journal. A record file
// there already that holds every sample of the journal (a save that was cut
// short before the journal went, or an earlier recovery that could not remove
// it) is that test's record: it is indexed, once, instead of written again.
// The journal stays when the record could not be written, and when damage
// kept some of its samples out of the record.
// A journal a running test still writes is left alone (inUse, error).
JournalRecovery RecoverJournal(const QString& journalPath, const QString& dataFolder,
                               RecordIndex* index);

// Deletes a journal the user gave up; false (with the reason) when a running
// test holds it or it cannot be deleted.
bool DiscardJournal(const QString& journalPath, QString* error = nullptr);
