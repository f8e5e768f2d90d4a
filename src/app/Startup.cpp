#include "Startup.h"

#include "MainFrame.h"
#include "RecoveryOffer.h"
#include "RivuletrixApp.h"
#include "WorkingFolder.h"
#include "base/Prompter.h"
#include "store/RecordIndex.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

void StartMainWindow(CRivuletrixApp& app, CMainFrame& frame, const WorkingFolder& work,
                     const QStringList& records) {
    app.StartingUp = true;
    app.StartupSettings();
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
    for (const QString& record : records) frame.OpenRecordFile(record);
    // The stores are open and the window is up: a recovered test is indexed
    // and opens in a record window like any other.
    OfferJournalRecovery(app, [&frame](const QString& path) { return frame.OpenRecordFile(path); });
    app.StartingUp = false;
}
