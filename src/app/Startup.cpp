#include "Startup.h"

#include "MainFrame.h"
#include "RecoveryOffer.h"
#include "RivuletrixApp.h"
#include "WorkingFolder.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "store/RecordIndex.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

namespace {
// The setting stays as it is; the technician picks the way out.
void OfferRepair(CMainFrame& frame, const CRivuletrixApp::StartupProblem& problem) {
    if (!problem.folder.isEmpty()) {
        if (ThePrompter().Question(
                QStringLiteral("The data folder cannot be used:\n%1\n\nNo test can be set up or "
                               "saved until it is back or another folder is chosen.\n\nChoose "
                               "another data folder now in Rivuletrix Parameters?")
                    .arg(problem.folder),
                Prompter::Icon::Warning))
            frame.OnCommand(cmd::RivuletrixParameters);
        return;
    }
    if (ThePrompter().Question(
            QStringLiteral("The records index in the data folder could not be opened:\n%1\n\n"
                           "Build the records index again now (File > Build Index)?")
                .arg(problem.index),
            Prompter::Icon::Warning))
        frame.OnCommand(cmd::BuildIndex);
}
} // namespace

void StartMainWindow(CRivuletrixApp& app, CMainFrame& frame, const WorkingFolder& work,
                     const QStringList& records) {
    app.StartingUp = true;
    const CRivuletrixApp::StartupProblem problem = app.StartupSettings();
    app.Initialised = true;
    app.Records().SetStartupFinished(true);
    // Maximised; where no window manager does it, the size is set here.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frame.setGeometry(screen->availableGeometry());
    frame.showMaximized();
    if (work.created)
        ThePrompter().Message(
            QStringLiteral(
                "Rivuletrix made its working folder %1.\nSettings: %2\nTest records: %3\n"
                "Change them with Control > Rivuletrix Parameters.")
                .arg(QDir::toNativeSeparators(work.folder),
                     QDir::toNativeSeparators(work.folder + QStringLiteral("/settings")),
                     QDir::toNativeSeparators(app.GetDataPath())),
            Prompter::Icon::Information);
    if (!work.remadeSettings.isEmpty())
        ThePrompter().Message(
            QStringLiteral("The settings file was missing and was made again with default "
                           "settings:\n%1\nTest records: %2\nChange them with Control > "
                           "Rivuletrix Parameters.")
                .arg(QDir::toNativeSeparators(work.remadeSettings),
                     QDir::toNativeSeparators(app.GetDataPath())),
            Prompter::Icon::Information);
    if (problem.Any()) OfferRepair(frame, problem);
    for (const QString& record : records) frame.OpenDocumentFile(record);
    // The stores are open and the window is up: a recovered test is indexed
    // and opens in a record window like any other.
    OfferJournalRecovery(app, [&frame](const QString& path) { return frame.OpenRecordFile(path); });
    app.StartingUp = false;
}
