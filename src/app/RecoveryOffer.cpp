#include "RecoveryOffer.h"

#include "RivuletrixApp.h"
#include "base/Prompter.h"
#include "base/Trace.h"
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"
#include "testing/JournalRecovery.h"

#include <QDir>

namespace {

QString Describe(const JournalRecovery& j) {
    const bool known =
        j.testType == 'F' || j.testType == 'O' || j.testType == 'P' || j.testType == 'D';
    QString text = known
                       ? QStringLiteral("The %1 test").arg(CRivuletrixDoc::TestTypeName(j.testType))
                       : QStringLiteral("The test");
    text += QStringLiteral(" on channel %1").arg(j.channel);
    if (!j.analyzer.isEmpty()) text += QStringLiteral(" of analyzer %1").arg(j.analyzer);
    if (!j.controlNumber.isEmpty())
        text += QStringLiteral(" (control number %1)").arg(j.controlNumber);
    if (!j.started.isEmpty()) text += QStringLiteral(", started %1,").arg(j.started);
    return text + QStringLiteral(" did not end cleanly");
}

QString LastTime(const JournalRecovery& j) {
    const int tps = j.ticksPerSecond > 0 ? j.ticksPerSecond : 1000;
    return CRivuletrixDoc::FormatHms(uint64_t(j.lastTime) * 1000 / uint64_t(tps));
}

} // namespace

QString RecoveryQuestion(const JournalRecovery& j) {
    return QStringLiteral("%1. Its journal holds %2 samples, the last at %3 of the test.\n\n"
                          "Recover the test as a record in the data folder?")
        .arg(Describe(j))
        .arg(j.samples)
        .arg(LastTime(j));
}

RecoveryOutcome OfferJournalRecovery(CRivuletrixApp& app,
                                     const std::function<bool(const QString&)>& openRecord) {
    RecoveryOutcome out;
    const QString folder = app.JournalFolder();
    if (folder.isEmpty()) return out;
    Prompter& ask = ThePrompter();
    for (const QString& path : journal::List(folder)) {
        if (journal::InUse(path)) continue; // its test is running
        const JournalRecovery found = InspectJournal(path);
        const QString shown = QDir::toNativeSeparators(path);
        if (!found.error.isEmpty()) {
            ask.Message(QStringLiteral("The journal %1 of a test that did not end cleanly cannot "
                                       "be recovered:\n%2\n\nIt is kept.")
                            .arg(shown, found.error),
                        Prompter::Icon::Warning);
            out.kept << path;
            continue;
        }
        bool discard = false;
        if (found.samples == 0) {
            discard = ask.Question(
                QStringLiteral("%1 before its first sample was kept.\n\nDelete its journal?")
                    .arg(Describe(found)),
                Prompter::Icon::Question);
        } else if (ask.Question(RecoveryQuestion(found), Prompter::Icon::Question)) {
            const JournalRecovery made = RecoverJournal(path, app.GetDataPath(), &app.Records());
            if (made.gone) continue; // another program window recovered it
            if (made.record.isEmpty()) {
                ask.Message(QStringLiteral("The test could not be recovered:\n%1\n\nIts journal "
                                           "%2 is kept.")
                                .arg(made.error, shown),
                            Prompter::Icon::Error);
                out.kept << path;
                continue;
            }
            out.recovered << made.record;
            if (!made.indexed)
                ask.Message(QStringLiteral("The test was recovered as %1, but it could not be "
                                           "added to the records index. Build Index adds it.")
                                .arg(QDir::toNativeSeparators(made.record)),
                            Prompter::Icon::Warning);
            if (!made.kept.isEmpty()) {
                out.kept << path;
                ask.Message(QStringLiteral("The test was recovered as %1.\n%2\n\n%3")
                                .arg(QDir::toNativeSeparators(made.record), made.kept, shown),
                            Prompter::Icon::Warning);
            }
            if (openRecord) openRecord(made.record);
            continue;
        } else {
            discard = ask.Question(
                QStringLiteral("Delete the journal of this test? Its samples are then lost.\n\n"
                               "No keeps it, and the test is offered again at the next start."),
                Prompter::Icon::Question);
        }
        QString error;
        if (discard && DiscardJournal(path, &error)) {
            out.discarded << path;
            continue;
        }
        if (discard)
            ask.Message(
                QStringLiteral("The journal %1 could not be deleted:\n%2").arg(shown, error),
                Prompter::Icon::Warning);
        out.kept << path;
    }
    if (!out.recovered.isEmpty() || !out.discarded.isEmpty() || !out.kept.isEmpty())
        qCDebug(lcTrace) << "OfferJournalRecovery - recovered" << out.recovered.size() << "kept"
                         << out.kept.size() << "discarded" << out.discarded.size();
    return out;
}
