#include "app/HelpCommands.h"
#include "app/MainFrame.h"
#include "app/MessageBoxPrompter.h"
#include "app/RivuletrixApp.h"
#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "app/WorkingFolder.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Rivuletrix"));
    // No display name: the window system would append it to every caption.
    QApplication::setApplicationVersion(QStringLiteral(RIVULETRIX_VERSION));
    // Seeds of an installation are in its shared data folder, of a build in
    // the build folder.
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList seedSources = {QDir(appDir).filePath(QStringLiteral("../share/rivuletrix")),
                                     appDir, QDir(appDir).filePath(QStringLiteral("../.."))};
    if (QApplication::arguments().contains(QStringLiteral("--version"))) {
        QTextStream out(stdout);
        out << help::AboutText() << "\nManual: " << help::ManualPath() << "\nSeeds:";
        for (const QString& s : seedSources)
            if (QFileInfo::exists(QDir(s).filePath(QStringLiteral("RX_Records.bak"))))
                out << ' ' << QDir::cleanPath(s);
        out << Qt::endl;
        return 0;
    }
    MessageBoxPrompter prompter;
    SetPrompter(&prompter);

    const SingleInstance instance(
        QStringLiteral("RIVULETRIX-088FA840-B10D-11D3-BC36-006067709674"));
    if (!instance.First()) {
        ThePrompter().Message(QStringLiteral("Application is already running"));
        return 0;
    }
    if (QScreen* screen = QGuiApplication::primaryScreen();
        screen && screen->size().width() <= 800) {
        QMessageBox::warning(
            nullptr, QStringLiteral("Rivuletrix Software"),
            QStringLiteral("Video resolution must be configured to at least 1024 X 768 "
                           "to run this Application"));
        return 0;
    }

    const QString startDir = QDir::currentPath();
    const WorkingFolder work =
        PrepareWorkingFolder(QDir::currentPath(), AppSettings::PublicFolder(), seedSources);
    // Without settings every step would fail with a box of its own: one
    // message, and the program stops.
    if (work.folder.isEmpty()) {
        ThePrompter().Message(work.error + QStringLiteral("\nRivuletrix cannot start."),
                              Prompter::Icon::Error);
        return 1;
    }
    QDir::setCurrent(work.folder);
    CRivuletrixApp app(work.folder);
    app.StartingUp = true;
    CMainFrame frame(app);
    prompter.SetParent(&frame);
    QStringList records; // every record named on the command line
    for (const QString& a : QApplication::arguments().mid(1))
        if (!a.startsWith(QLatin1Char('-'))) records << QDir(startDir).absoluteFilePath(a);
    StartMainWindow(app, frame, work, records);
    QTimer::singleShot(0, &frame, &CMainFrame::ShowSplash);
    const int code = QApplication::exec();
    app.ExitInstance();
    return code == 18 ? 0 : code;
}
