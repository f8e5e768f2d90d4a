#pragma once

#include "app/CommandTarget.h"

#include <QMdiSubWindow>

class CRivuletrixDoc;
class QLabel;
class CRivuletrixWinView;
class RunController;
class SetupSheetRunner;

// A child window of the main frame: the channel window of an analyzer
// channel, with its document, view and run controller, or the window of a
// record opened from disk. It handles the channel commands of the menus.
class ChannelWindow : public QMdiSubWindow, public CommandTarget {
    Q_OBJECT
public:
    // A live channel window of (slot, channel), both 1-based.
    ChannelWindow(int slot, int channel, const QString& analyzerName, QWidget* parent = nullptr);
    // A record window; takes the document.
    explicit ChannelWindow(CRivuletrixDoc* record, QWidget* parent = nullptr);
    ~ChannelWindow() override;

    CRivuletrixDoc* Document() const { return m_doc; }
    CRivuletrixWinView* View() const { return m_view; }
    RunController* Run() const { return m_run; }
    // The status line under a live channel's view: journal trouble, or a
    // test on the analyzer that this program did not start. Hidden while
    // there is nothing to say.
    QLabel* StatusLine() const { return m_statusLine; }
    int Slot() const { return m_slot; }
    int Channel() const { return m_channel; }

    // Closes without asking (the analyzer was disconnected).
    void ForceClose();

    // CommandTarget
    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, bool& enabled, bool& checked) override;

protected:
    void closeEvent(QCloseEvent* event) override;

    // A template record window shows one step at a time: the next (after
    // the sixth, the first) or the previous one, read again from its file.
    bool ShowTemplateStep(bool next);

private:
    void Build();

    CRivuletrixDoc* m_doc;
    CRivuletrixWinView* m_view = nullptr;
    RunController* m_run = nullptr;
    QLabel* m_statusLine = nullptr;
    SetupSheetRunner* m_sheet = nullptr;
    QString m_title;
    int m_slot = 0;
    int m_channel = 0;
    bool m_forced = false;
};
