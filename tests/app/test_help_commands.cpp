// Help Manual and About through the Help menu of the main window.
#include "app/HelpCommands.h"
#include "app/MainFrame.h"
#include "app/RivuletrixApp.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QWhatsThis>

#include <functional>
#include <memory>

class TestHelpCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<CMainFrame> m_frame;
    QString m_startDir;
    QList<QUrl> m_opened;

    // Triggers the action and hands the message box it shows to check.
    void TriggerWithBox(int id, const std::function<void(QMessageBox&)>& check) {
        bool seen = false;
        QTimer::singleShot(50, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = true;
            check(*box);
            box->accept();
        });
        m_frame->Action(id)->trigger();
        QVERIFY(seen);
    }

public Q_SLOTS:
    void Open(const QUrl& url) { m_opened << url; }

private Q_SLOTS:
    void init() {
        m_startDir = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_opened.clear();
        SetPrompter(&m_prompter);
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_frame = std::make_unique<CMainFrame>(*m_app);
        m_frame->show();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open");
    }
    void cleanup() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        m_frame.reset();
        m_app.reset();
        SetPrompter(nullptr);
        QDir::setCurrent(m_startDir);
    }

    void missingManualSaysSo() {
        QVERIFY(help::ManualPath().isEmpty());
        TriggerWithBox(cmd::HelpManual, [](QMessageBox& box) {
            QCOMPARE(box.windowTitle(), QStringLiteral("File Error-3"));
            QCOMPARE(box.text(), QStringLiteral("Help file not found"));
            QCOMPARE(box.icon(), QMessageBox::Critical);
        });
        QVERIFY(m_opened.isEmpty());
    }

    void manualOpensInBrowser() {
        QDir().mkpath(m_dir->filePath(QStringLiteral("manual")));
        QFile page(m_dir->filePath(QStringLiteral("manual/index.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html><body>Manual</body></html>");
        page.close();
        m_frame->Action(cmd::HelpManual)->trigger();
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened[0].toLocalFile(), QFileInfo(page).canonicalFilePath());
    }

    // Where no browser takes the manual, it opens in a help window of the
    // program's own.
    void manualOpensInHelpWindowWithoutBrowser() {
        // Windows hands every file to its shell, so a browser is always there.
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QSKIP("the platform opens files itself: no machine without a browser to play");
        QDesktopServices::unsetUrlHandler(QStringLiteral("file")); // offscreen has no browser
        QDir().mkpath(m_dir->filePath(QStringLiteral("manual")));
        QFile page(m_dir->filePath(QStringLiteral("manual/index.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<html><body><h1>Connecting analyzers</h1></body></html>");
        page.close();
        m_frame->Action(cmd::HelpManual)->trigger();
        auto* window = m_frame->findChild<QDialog*>(QStringLiteral("HelpWindow"));
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());
        auto* browser = window->findChild<QTextBrowser*>();
        QVERIFY(browser);
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Connecting analyzers")));
        window->close();
        QVERIFY(m_opened.isEmpty());
    }

    void repositoryManualCoversTheTopics() {
        QFile manual(QStringLiteral(RX_TEST_DATA "/../../docs/manual/index.html"));
        QVERIFY(manual.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(manual.readAll());
        for (const char* topic :
             {"Connecting analyzers", "Running a test", "Templates", "trumpet curve", "data table",
              "Import and export", "Settings", "Messages", "Troubleshooting", "Select Valid Path",
              "Write Failed", "dialout"})
            QVERIFY2(text.contains(QString::fromLatin1(topic), Qt::CaseInsensitive), topic);
    }

    // Run from the build folder, the program finds the manual beside itself.
    void manualBesideTheBuiltProgram() {
        QFile repo(QStringLiteral(RX_TEST_DATA "/../../docs/manual/index.html"));
        QFile built(QStringLiteral(RX_PROGRAM_DIR "/manual/index.html"));
        QVERIFY(repo.open(QIODevice::ReadOnly));
        QVERIFY2(built.open(QIODevice::ReadOnly), qPrintable(built.fileName()));
        QCOMPARE(built.readAll(), repo.readAll());
        QVERIFY(
            help::ManualCandidates().contains(QDir(QCoreApplication::applicationDirPath())
                                                  .filePath(QStringLiteral("manual/index.html"))));
    }

    void contextHelpForEveryToolbarButton() {
        QCOMPARE(m_frame->Action(cmd::ContextHelp)->shortcut(),
                 QKeySequence(QStringLiteral("Shift+F1")));
        const auto bars = m_frame->findChildren<QToolBar*>(QStringLiteral("MainToolBar"));
        QCOMPARE(bars.size(), 1);
        for (QAction* a : bars[0]->actions())
            if (!a->isSeparator()) QVERIFY2(!a->whatsThis().isEmpty(), qPrintable(a->text()));
        m_frame->Action(cmd::ContextHelp)->trigger();
        QVERIFY(QWhatsThis::inWhatsThisMode());
        QWhatsThis::leaveWhatsThisMode();
    }

    void aboutNamesVersionAndBuild() {
        TriggerWithBox(cmd::AppAbout, [](QMessageBox& box) {
            QCOMPARE(box.windowTitle(), QStringLiteral("About Rivuletrix"));
            QCOMPARE(box.text(), QStringLiteral("Rivuletrix, Version " RIVULETRIX_VERSION));
            QVERIFY(box.informativeText().contains(QStringLiteral("Build: ")));
            QVERIFY(box.informativeText().contains(QStringLiteral("Qt " QT_VERSION_STR)));
        });
    }
};

QTEST_MAIN(TestHelpCommands)
#include "test_help_commands.moc"
