#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class CRivuletrixApp;
struct JournalRecovery;

// At start-up: the tests a crash, a power cut or a killed process left
// behind as journals. For each, the user is asked (through the Prompter)
// whether to recover it as a record; one not recovered may be discarded or
// kept for the next start. Journals that a running test still writes (a
// second program, a command-line run) are not offered.
struct RecoveryOutcome {
    QStringList recovered; // record files made
    QStringList kept;      // journals left for later
    QStringList discarded; // journals deleted
};

// The question naming one journal's test.
QString RecoveryQuestion(const JournalRecovery& j);

// openRecord opens a recovered record (in a record window); it may be empty.
RecoveryOutcome OfferJournalRecovery(CRivuletrixApp& app,
                                     const std::function<bool(const QString&)>& openRecord);
