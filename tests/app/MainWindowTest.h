#pragma once

// The main window over a working folder of its own, for the tests that drive
// the program as a user does: a fresh folder and scripted prompter for each
// test function, the application and its window, and their closing.
#include "../WorkingFolder.h"

#include "app/MainFrame.h"
#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/PortScanner.h"
#include "store/RecordIndex.h"

#include <QObject>
#include <QSize>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A scripted prompter that also lets a test look at the screen while a
// question is up.
class WatchingPrompter : public ScriptedPrompter {
public:
    std::function<void(const QString&)> onQuestion;
    bool Question(const QString& text, Icon icon = Icon::Default) override {
        if (onQuestion) onQuestion(text);
        return ScriptedPrompter::Question(text, icon);
    }
};

class MainWindowTest : public QObject {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    WatchingPrompter m_prompter;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<CMainFrame> m_frame;

    // A fresh working folder (see WriteWorkingFolder) and a prompter that
    // answers as scripted.
    bool NewWorkingFolder(const QByteArray& moreSettings) {
        m_dir = std::make_unique<QTemporaryDir>();
        UseScriptedPrompter();
        return WriteWorkingFolder(m_dir->path(), moreSettings);
    }
    // The same with the run tests' folder (see MakeWorkingFolder).
    bool NewRunFolder() {
        m_dir = std::make_unique<QTemporaryDir>();
        UseScriptedPrompter();
        return MakeWorkingFolder(m_dir->path());
    }
    void UseScriptedPrompter() {
        m_prompter = WatchingPrompter();
        SetPrompter(&m_prompter);
    }
    QString DataFolder() const { return m_dir->filePath(QStringLiteral("data")); }

    // The application and its main window, shown at size.
    void Start(QSize size) {
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_frame = std::make_unique<CMainFrame>(*m_app);
        ShowAt(size);
    }
    // As the program's main starts them: the window made while starting up
    // and, once initialised, the start-up settings read and records indexed.
    void StartAsMain(QSize size, bool initialised = true) {
        m_app = std::make_unique<CRivuletrixApp>(m_dir->path());
        m_app->StartingUp = true;
        m_frame = std::make_unique<CMainFrame>(*m_app);
        if (initialised) {
            m_app->StartupSettings();
            m_app->Initialised = true;
            m_app->Records().SetStartupFinished(true);
        }
        m_app->StartingUp = false;
        ShowAt(size);
    }

    // Disconnects the analyzers still connected, closes the window and the
    // application, and takes the prompter away.
    void Close() {
        if (m_app)
            for (FoundAnalyzer r : m_app->Scanner().Ready())
                if (r.connected) m_app->DisconnectAnalyzer(r.slot, r);
        m_frame.reset();
        m_app.reset();
        SetPrompter(nullptr);
    }

private:
    void ShowAt(QSize size) {
        m_frame->resize(size);
        m_frame->show();
    }
};
