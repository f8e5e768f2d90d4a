#pragma once

#include "app/BatteryNotice.h"
#include "app/RivuletrixApp.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <functional>

class CDialogTopDevicePane;
class CImportAndMergeSheet;
class ChannelWindow;
class CommandTarget;
class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QSystemTrayIcon;
class QTimer;

// The main window: child area with the channel windows, menus, toolbar,
// status bar, device selector bar, notification-area icon, the analyzer poll
// and battery notices, and the window arrangement.
class CMainFrame : public QMainWindow, public ChannelWindowHost {
    Q_OBJECT
public:
    explicit CMainFrame(CRivuletrixApp& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // ChannelWindowHost
    void OpenChannelWindow(int slot, int channel) override;
    void CloseChannelWindow(int slot, int channel) override;
    bool MayCloseChannelWindows(int slot) override;
    void ArrangeChannelWindows() override;

    // Shows the splash; when it goes, the connection manager searches.
    void ShowSplash();
    void RunConnectionManager(bool search);

    QAction* Action(int id) const { return m_actions.value(id); }
    // What a menu item or toolbar button does, also for start-up's offers.
    void OnCommand(int id);
    QMdiArea* MdiArea() const { return m_mdi; }
    CDialogTopDevicePane* DevicePane() const { return m_devicePane; }
    ChannelWindow* ChannelWindowAt(int slot, int channel) const;
    // Enabling and check marks of every action from the present state.
    void UpdateCommands();
    // Battery notice refresh; returns 'N', 'H', 'L' or 'S'.
    char RefreshBatteryNotice(bool withBalloon);
    const BatteryNotice::Notice& LastNotice() const { return m_lastNotice; }
    bool PollRunning() const;

    // Opens a record file in a window of its own and lists it first among
    // the recent files.
    bool OpenRecordFile(const QString& path);
    // A template opens in the template editor's view, anything else as a
    // record (refused with a message when it is not one).
    bool OpenDocumentFile(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Record files dropped on the window open.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTray();
    QAction* AddAction(int id, const QString& text, const QString& prompt = {});
    // The active child window, which handles the channel commands.
    CommandTarget* ActiveTarget() const;
    void OnBalloonTimer();
    void OnAnalyzerLost(int slot, const QString& name);
    void OnAnalyzerReconnected(int slot);
    void ShowAbout();
    void HelpManual();
    void InstrumentSettings();
    void ExportItems();
    void Import();
    // Runs an import or export with the analyzer poll stopped.
    void WithPollPaused(const std::function<void()>& transfer);
    // File > Open > Records and Templates, Build Index, the recent files
    // (MainFrameOpen.cpp).
    void OpenRecords();
    void OpenTemplates();
    void BuildIndex();
    // The plain file-open dialog, where the indexes cannot be used.
    void OpenWithFileDialog();
    void OpenRecentFile(int index);
    void RefreshRecentFiles();
    // Active, raised and holding the keyboard.
    void BringToFront(QMdiSubWindow* w);
    void OpenSettingsDialog();

    CRivuletrixApp& m_app;
    QMdiArea* m_mdi;
    CDialogTopDevicePane* m_devicePane;
    QSystemTrayIcon* m_tray = nullptr;
    QHash<int, QAction*> m_actions;
    // An import or export sheet is open: the status poll waits.
    bool m_transferOpen = false;
    QTimer* m_pollTimer;    // 5: 1000 ms while an analyzer is connected
    QTimer* m_iconTimer;    // 6: 500 ms
    QTimer* m_balloonTimer; // 7: 30 s
    QTimer* m_balloonEnd;   // 8: 10 s, once
    QTimer* m_updateTimer;  // command enabling
    bool m_balloonShown = false;
    BatteryNotice m_notice;
    BatteryNotice::Notice m_lastNotice;
    QPointer<QMdiSubWindow> m_table[4][4];
    // The sheet of the last Import command, kept until the next one.
    QPointer<CImportAndMergeSheet> m_importSheet;
    bool m_arranging = false;
};
