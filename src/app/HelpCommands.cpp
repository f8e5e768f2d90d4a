#include "HelpCommands.h"

#include "Artwork.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSysInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#ifndef RIVULETRIX_COMMIT
#define RIVULETRIX_COMMIT "unknown"
#endif
#ifndef RIVULETRIX_BUILD_TYPE
#define RIVULETRIX_BUILD_TYPE ""
#endif

namespace {
const QString kManual = QStringLiteral("manual/index.html");
}

QStringList help::ManualCandidates() {
    const QString appDir = QCoreApplication::applicationDirPath();
    return {QDir(QDir::currentPath()).filePath(kManual),
            QDir(appDir).filePath(QStringLiteral("../share/rivuletrix/") + kManual),
            QDir(appDir).filePath(kManual)};
}

QString help::ManualPath() {
    for (const QString& c : ManualCandidates())
        if (QFileInfo(c).isFile()) return QDir::cleanPath(c);
    return {};
}

QString help::AboutText() {
    QString compiler;
#if defined(__clang__)
    compiler = QStringLiteral("Clang " __clang_version__);
#elif defined(__GNUC__)
    compiler =
        QStringLiteral("GCC %1.%2.%3").arg(__GNUC__).arg(__GNUC_MINOR__).arg(__GNUC_PATCHLEVEL__);
#endif
    QStringList lines;
    lines << QStringLiteral("Rivuletrix, Version " RIVULETRIX_VERSION)
          << QStringLiteral("Build: %1 %2")
                 .arg(QStringLiteral(RIVULETRIX_COMMIT), QStringLiteral(RIVULETRIX_BUILD_TYPE))
          << QStringLiteral("Qt %1 (built with %2)")
                 .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR))
          << QStringLiteral("Compiler: %1").arg(compiler)
          << QStringLiteral("System: %1 (%2)")
                 .arg(QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture());
    return lines.join(QLatin1Char('\n'));
}

void OpenHelpManual(QWidget* parent) {
    const QString path = help::ManualPath();
    if (path.isEmpty()) {
        QMessageBox::critical(parent, QStringLiteral("File Error-3"),
                              QStringLiteral("Help file not found"));
        return;
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (QDesktopServices::openUrl(url)) return;
    // No browser on this machine: a help window of our own.
    auto* window = new QDialog(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QStringLiteral("HelpWindow"));
    window->setWindowTitle(QStringLiteral("Rivuletrix Help"));
    auto* browser = new QTextBrowser(window);
    browser->setOpenExternalLinks(true);
    browser->setSource(url);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(browser);
    window->resize(900, 700);
    window->show();
}

void ShowAboutBox(QWidget* parent) {
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("About Rivuletrix"));
    box.setIconPixmap(artwork::ApplicationIcon().pixmap(64, 64));
    const QStringList lines = help::AboutText().split(QLatin1Char('\n'));
    box.setText(lines.value(0));
    box.setInformativeText(lines.mid(1).join(QLatin1Char('\n')));
    box.exec();
}
