#include "MainFrame.h"

#include "AnalyzerPoll.h"
#include "Artwork.h"
#include "ChannelWindow.h"
#include "CommandTarget.h"
#include "DevicePane.h"
#include "RecentFiles.h"
#include "Splash.h"
#include "app/DefaultParametersDlg.h"
#include "app/DeviceInfoDlg.h"
#include "app/HelpCommands.h"
#include "app/ManageConnectionDlg.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "records/TestTypes.h"
#include "testing/RunController.h"
#include "transfer/ExportSheet.h"
#include "view/ReportPrinting.h"
#include "view/RivuletrixWinView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWhatsThis>

#include <functional>

namespace {

const QString kCloseRefused = QStringLiteral(
    "Stop All Tests before closing.\nDisconnect Devices using Manage Connection Screen.");

} // namespace

CMainFrame::CMainFrame(CRivuletrixApp& app, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_mdi(new QMdiArea(this)),
      m_devicePane(new CDialogTopDevicePane(this)), m_pollTimer(new QTimer(this)),
      m_iconTimer(new QTimer(this)), m_balloonTimer(new QTimer(this)),
      m_balloonEnd(new QTimer(this)), m_updateTimer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("Rivuletrix Test Application"));
    setWindowIcon(artwork::ApplicationIcon());
    m_mdi->setBackground(QBrush(artwork::Background())); // tiled from the top-left corner
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    setAcceptDrops(true);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_devicePane);
    CreateStatusBar();
    CreateTray();

    connect(m_devicePane, &CDialogTopDevicePane::ArrangeRequested, this, [this] {
        // Asked for on the device bar: a maximised window would take every
        // window it hands over to with it, and the tiling would need a second
        // click. A resize of the frame leaves a maximised window as it is.
        for (QMdiSubWindow* w : m_mdi->subWindowList())
            if (w->isMaximized()) w->showNormal();
        QTimer::singleShot(0, this, &CMainFrame::ArrangeChannelWindows);
    });
    connect(&m_app.Poll(), &AnalyzerPoll::IndicatorChanged, m_devicePane,
            &CDialogTopDevicePane::SetBatteryIndicator);
    connect(&m_app, &CRivuletrixApp::AnalyzersChanged, this, &CMainFrame::UpdateCommands);
    connect(&m_app, &CRivuletrixApp::AnalyzerLost, this, &CMainFrame::OnAnalyzerLost);
    connect(&m_app, &CRivuletrixApp::AnalyzerReconnected, this, &CMainFrame::OnAnalyzerReconnected);

    m_pollTimer->setInterval(1000);
    connect(m_pollTimer, &QTimer::timeout, &m_app.Poll(), &AnalyzerPoll::Poll);
    m_iconTimer->setInterval(500);
    connect(m_iconTimer, &QTimer::timeout, this, [this] {
        if (!m_balloonShown) RefreshBatteryNotice(false);
    });
    m_balloonTimer->setInterval(30000);
    connect(m_balloonTimer, &QTimer::timeout, this, &CMainFrame::OnBalloonTimer);
    m_balloonEnd->setInterval(10000);
    m_balloonEnd->setSingleShot(true);
    connect(m_balloonEnd, &QTimer::timeout, this, [this] {
        RefreshBatteryNotice(false);
        m_balloonShown = false;
    });
    m_iconTimer->start();
    m_balloonTimer->start();
    m_updateTimer->setInterval(250);
    connect(m_updateTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommands);
    m_updateTimer->start();
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &CMainFrame::UpdateCommands);

    m_app.SetWindowHost(this);
    UpdateCommands();
}

CMainFrame::~CMainFrame() {
    // The windows closing below must not update commands half destroyed.
    disconnect(m_mdi, nullptr, this, nullptr);
    if (m_app.WindowHost() == this) m_app.SetWindowHost(nullptr);
}

QAction* CMainFrame::AddAction(int id, const QString& text, const QString& prompt) {
    auto* a = new QAction(text, this);
    a->setData(id);
    if (!prompt.isEmpty()) {
        const QStringList parts = prompt.split(QLatin1Char('\n'));
        a->setStatusTip(parts.value(0));
        a->setWhatsThis(parts.value(0)); // context help (Shift+F1)
        a->setToolTip(parts.value(1, parts.value(0)));
    }
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions.insert(id, a);
    return a;
}

void CMainFrame::CreateActions() {
    using namespace artwork;
    struct Def {
        int id;
        const char* text;
        const char* prompt;
        int tool; // -1: no toolbar image
    };
    const Def defs[] = {
        {cmd::OpenRecords, "&Records...\tCtrl + R  ", "Open the records browser.\nOpen Records",
         int(Tool::OpenRecords)},
        {cmd::OpenTemplates, "&Templates...\tCtrl + T",
         "Open the template browser.\nOpen Templates", int(Tool::OpenTemplates)},
        {cmd::FilePrint, "&Print...\tCtrl+P", "Print the active document\nPrint", int(Tool::Print)},
        {cmd::FilePrintPreview, "Print Pre&view", "Display full pages\nPrint Preview",
         int(Tool::PrintPreview)},
        {cmd::FilePrintSetup, "P&rint Setup...",
         "Change the printer and printing options.\nPrint Setup", -1},
        {cmd::ExportPdf, "Export P&DF...",
         "Write what Print would print to a PDF file.\nExport PDF", -1},
        {cmd::ExportDataTable, "Export Data &Table...",
         "Write the data table to a CSV file.\nExport Data Table", -1},
        {cmd::BuildIndex, "&Build Index...\tCtrl+B",
         "Build the records index from the record files.\nBuild Index", -1},
        {cmd::AppExit, "E&xit", "Quit the application.\nExit", -1},
        {cmd::ViewToolbar, "&Toolbar", "Show or hide the toolbar.\nToggle ToolBar", -1},
        {cmd::ViewStatusBar, "&Status Bar", "Show or hide the status bar.\nToggle Status Bar", -1},
        {cmd::ShrinkYAxis, "Move Up Y-Axis", "Shrink Y-Axis\nShrink Y-Axis", -1},
        {cmd::ResetYAxis, "Y-Axis Fitin", "Reset Y-Axis\nReset Y-Axis", -1},
        {cmd::ExpandYAxis, "Move Down Y-Axis", "Expand Y-Axis\nExpand Y-Axis", -1},
        {cmd::ShowKey, "Show &Key", "Show or hide the key box\nShow Key", -1},
        {cmd::ShowTestParameters, "Show / Hide Test &Parameters",
         "Display Test Parameters.\nDisplay Test Parameters", -1},
        {cmd::ShowTestDetails, "Show / Hide Test &Details",
         "Display Test Details.\nDisplay Test Details", -1},
        {cmd::ShowPressure, "Show &Pressure", "Show or hide Pressure graph\nPressure Graph",
         int(Tool::PressureGraph)},
        {cmd::ShowAverageFlow, "Show &Ave Flow",
         "Show or hide the Average Flow Rate graph\nAverage Flow Rate Graph",
         int(Tool::AverageFlowGraph)},
        {cmd::ShowDeliveredVolume, "Show &Delivered Volume",
         "Show or hide the Delivered Volume graph\nDelivered Volume Graph", int(Tool::VolumeGraph)},
        {cmd::ShowInstantaneousFlow, "Show &Instantaneous Flow",
         "Show or hide Instantaneous Flow Rate graph\nInstantaneous Flow Graph",
         int(Tool::InstantFlowGraph)},
        {cmd::ShowTrumpetCurve, "Show &Trumpet Curve", "Show Trumpet Curve\nTrumpet Curve",
         int(Tool::TrumpetCurve)},
        {cmd::ShowPcaDualFlow, "Show &PCA /Dual Flow",
         "Show or hide PCA /Dual Flow graph\nPCA /Dual Flow graph", int(Tool::PcaGraph)},
        {cmd::ShowBolusDetails, "Show PCA /Dual &Bolus / Secondary Details",
         "Show or Hide PCA/Dual Bolus/Secondary Details\nBolus/Secondary Details",
         int(Tool::BolusDetails)},
        {cmd::GridLines, "&Grid Lines", "Show / Hide Grid Lines on graph\nGrid Lines",
         int(Tool::GridLines)},
        {cmd::UnitKpa, "&kPa", "Set Pressure Units to kPa\nPressure = kPa", int(Tool::Kpa)},
        {cmd::UnitPsi, "&psi", "Set Pressure Units to psi\nPressure = psi", int(Tool::Psi)},
        {cmd::UnitMmHg, "&mmHg", "Set Pressure Units to mmHg\nPressure = mmHg", int(Tool::MmHg)},
        {cmd::ShowDataTable, "Show / Hide &Data Table",
         "View the test data as a table\nView Data Table", -1},
        {cmd::SetupTest, "Set&up Test", "Set up a test on this channel\nSetup Test", -1},
        {cmd::StartTest, "&Start Test", "Start the test on this channel\nStart Test", -1},
        {cmd::EndTest, "&End Test", "End the test on this channel\nEnd Test", -1},
        {cmd::TemplateNextStep, "Template Next Step",
         "Show the next step of the template record\nNext Step", -1},
        {cmd::TemplatePreviousStep, "Template Previous Step",
         "Show the previous step of the template record\nPrevious Step", -1},
        {cmd::RivuletrixParameters, "&Rivuletrix Parameters...",
         "Edit the default parameters.\nRivuletrix Parameters", -1},
        {cmd::Import, "&Import", "Import records, templates and notes from the analyzer.\nImport",
         int(Tool::Import)},
        {cmd::Export, "&Export", "Export templates, notes and the manual to the analyzer.\nExport",
         int(Tool::Export)},
        {cmd::ManageConnection, "&Manage Connection",
         "Open Manage connectoin screen.\nManage Connection", int(Tool::ManageConnection)},
        {cmd::InstrumentSettings, "&Instrument Settings",
         "Show the analyzer's information.\nInstrument Settings", int(Tool::InstrumentSettings)},
        {cmd::DefaultMode, "&Default mode", "Single analyzer mode\nDefault mode", -1},
        {cmd::WindowCascade, "&Cascade", "Arrange windows so they overlap.\nCascade Windows", -1},
        {cmd::WindowTile, "&Tile", "Arrange windows as non-overlapping tiles.\nTile Windows", -1},
        {cmd::HelpManual, "Help Manual", "Open the help manual.\nHelp Index", int(Tool::HelpIndex)},
        {cmd::ContextHelp, "Context Help",
         "Display help for clicked on buttons, menus and windows\nHelp", int(Tool::ContextHelp)},
        {cmd::AppAbout, "&About Rivuletrix...",
         "Display program information, version number and copyright\nAbout", -1},
    };
    for (const Def& d : defs) {
        QAction* a = AddAction(d.id, QString::fromUtf8(d.text), QString::fromUtf8(d.prompt));
        if (d.tool >= 0) a->setIcon(ToolIcon(Tool(d.tool)));
    }
    for (int id :
         {cmd::ShowKey, cmd::ShowTestParameters, cmd::ShowTestDetails, cmd::ShowPressure,
          cmd::ShowAverageFlow, cmd::ShowDeliveredVolume, cmd::ShowInstantaneousFlow,
          cmd::ShowTrumpetCurve, cmd::ShowPcaDualFlow, cmd::ShowBolusDetails, cmd::GridLines,
          cmd::UnitKpa, cmd::UnitPsi, cmd::UnitMmHg, cmd::ShowDataTable, cmd::DefaultMode,
          cmd::RivuletrixParameters, cmd::ViewToolbar, cmd::ViewStatusBar})
        m_actions[id]->setCheckable(true);
    m_actions[cmd::OpenRecords]->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    m_actions[cmd::OpenTemplates]->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    m_actions[cmd::BuildIndex]->setShortcut(QKeySequence(QStringLiteral("Ctrl+B")));
    m_actions[cmd::FilePrint]->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    m_actions[cmd::AppExit]->setShortcut(QKeySequence(QStringLiteral("Alt+F4")));
    m_actions[cmd::ContextHelp]->setShortcut(QKeySequence(QStringLiteral("Shift+F1")));
    for (int id : {cmd::OpenRecords, cmd::OpenTemplates, cmd::BuildIndex, cmd::FilePrint})
        m_actions[id]->setText(m_actions[id]->text().section(QLatin1Char('\t'), 0, 0));
    for (int id = cmd::RecentFile1; id <= cmd::RecentFile4; ++id)
        AddAction(id, {}, QStringLiteral("Open this document\nOpen"))->setVisible(false);
}

void CMainFrame::CreateMenus() {
    const auto add = [this](QMenu* menu, std::initializer_list<int> ids) {
        for (int id : ids) {
            if (id == 0)
                menu->addSeparator();
            else
                menu->addAction(m_actions[id]);
        }
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QMenu* open = file->addMenu(QStringLiteral("Open"));
    add(open, {cmd::OpenRecords, cmd::OpenTemplates});
    add(file, {0, cmd::FilePrint, cmd::FilePrintPreview, cmd::FilePrintSetup, 0, cmd::ExportPdf,
               cmd::ExportDataTable, 0, cmd::RecentFile1, cmd::RecentFile1 + 1,
               cmd::RecentFile1 + 2, cmd::RecentFile4, 0, cmd::BuildIndex, 0, cmd::AppExit});
    RefreshRecentFiles();
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    add(view, {cmd::ViewToolbar, cmd::ViewStatusBar, 0});
    QMenu* scale = view->addMenu(QStringLiteral("Scale &Graph"));
    add(scale, {cmd::ShrinkYAxis, cmd::ResetYAxis, cmd::ExpandYAxis});
    add(view, {0, cmd::ShowKey, cmd::ShowTestParameters, cmd::ShowTestDetails, cmd::ShowPressure,
               cmd::ShowAverageFlow, cmd::ShowDeliveredVolume, cmd::ShowInstantaneousFlow,
               cmd::ShowTrumpetCurve, cmd::ShowPcaDualFlow, cmd::ShowBolusDetails, 0});
    QMenu* units = view->addMenu(QStringLiteral("Pressure &Units"));
    add(units, {cmd::UnitMmHg, cmd::UnitPsi, cmd::UnitKpa});
    add(view,
        {cmd::GridLines, cmd::ShowDataTable, 0, cmd::TemplateNextStep, cmd::TemplatePreviousStep});
    QMenu* control = menuBar()->addMenu(QStringLiteral("&Control"));
    add(control, {cmd::SetupTest, cmd::StartTest, cmd::EndTest, 0, cmd::RivuletrixParameters,
                  cmd::Import, cmd::Export, cmd::ManageConnection, cmd::InstrumentSettings});
    QMenu* mode = menuBar()->addMenu(QStringLiteral("&Mode"));
    add(mode, {cmd::DefaultMode});
    QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
    add(window, {cmd::WindowCascade, cmd::WindowTile});
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, {cmd::HelpManual, 0, cmd::AppAbout});
}

void CMainFrame::CreateToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Main"));
    bar->setObjectName(QStringLiteral("MainToolBar"));
    bar->setIconSize(QSize(32, 32));
    const std::initializer_list<int> ids = {cmd::OpenRecords,
                                            cmd::OpenTemplates,
                                            cmd::FilePrint,
                                            cmd::FilePrintPreview,
                                            0,
                                            cmd::ManageConnection,
                                            cmd::InstrumentSettings,
                                            cmd::Import,
                                            cmd::Export,
                                            0,
                                            cmd::ShowPressure,
                                            cmd::ShowAverageFlow,
                                            cmd::ShowDeliveredVolume,
                                            cmd::ShowInstantaneousFlow,
                                            cmd::ShowTrumpetCurve,
                                            cmd::ShowPcaDualFlow,
                                            cmd::ShowBolusDetails,
                                            cmd::GridLines,
                                            0,
                                            cmd::UnitKpa,
                                            cmd::UnitPsi,
                                            cmd::UnitMmHg,
                                            0,
                                            cmd::HelpManual,
                                            cmd::ContextHelp};
    for (int id : ids) {
        if (id == 0)
            bar->addSeparator();
        else
            bar->addAction(m_actions[id]);
    }
    connect(m_actions[cmd::ViewToolbar], &QAction::toggled, bar, &QToolBar::setVisible);
}

void CMainFrame::CreateStatusBar() {
    statusBar()->showMessage(QStringLiteral("Ready"));
    for (const char* pane : {"CAP", "NUM", "SCRL"}) {
        auto* label = new QLabel(QString::fromLatin1(pane), this);
        label->setEnabled(false);
        statusBar()->addPermanentWidget(label);
    }
    connect(m_actions[cmd::ViewStatusBar], &QAction::toggled, statusBar(), &QStatusBar::setVisible);
}

void CMainFrame::CreateTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    m_tray = new QSystemTrayIcon(artwork::ApplicationIcon(), this);
    m_tray->setToolTip(QStringLiteral("Rivuletrix"));
    auto* menu = new QMenu(this);
    for (QAction* a : menuBar()->actions().value(0)->menu()->actions()) menu->addAction(a);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                    activateWindow();
                }
            });
    m_tray->show();
}

CommandTarget* CMainFrame::ActiveTarget() const {
    // The channel window itself handles its commands, not the view inside.
    return dynamic_cast<CommandTarget*>(m_mdi->activeSubWindow());
}

void CMainFrame::UpdateCommands() {
    CommandTarget* target = ActiveTarget();
    CDevice* selected = m_app.Device(m_app.CurrentAnalyzer);
    const bool analyzerCommands =
        !m_app.ViewAll && m_app.CurrentAnalyzer != -1 && m_app.SetUpTests == 0;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        const int id = it.key();
        QAction* a = it.value();
        bool enabled = true;
        bool checked = a->isChecked();
        switch (id) {
        case cmd::InstrumentSettings:
            enabled = analyzerCommands;
            break;
        case cmd::Import:
            enabled = analyzerCommands && selected && selected->BatteryState != 'S';
            break;
        case cmd::Export:
            enabled =
                analyzerCommands && !(selected && selected->DeviceModel == QLatin1String("PXR2K"));
            break;
        case cmd::BuildIndex:
            enabled = m_app.Initialised && m_app.SetUpTests == 0;
            break;
        case cmd::OpenTemplates:
            enabled = !(selected && selected->DeviceModel == QLatin1String("PXR2K"));
            break;
        case cmd::RivuletrixParameters:
            checked = true;
            break;
        case cmd::DefaultMode:
            checked = m_app.DefaultMode();
            break;
        case cmd::ViewToolbar:
            checked = findChild<QToolBar*>(QStringLiteral("MainToolBar"))->isVisible();
            break;
        case cmd::ViewStatusBar:
            checked = statusBar()->isVisible();
            break;
        case cmd::OpenRecords:
        case cmd::RecentFile1:
        case cmd::RecentFile1 + 1:
        case cmd::RecentFile1 + 2:
        case cmd::RecentFile4:
        case cmd::ManageConnection:
        case cmd::HelpManual:
        case cmd::ContextHelp:
        case cmd::AppAbout:
        case cmd::AppExit:
        case cmd::WindowCascade:
        case cmd::WindowTile:
        case cmd::FilePrintSetup:
            break;
        default:
            // Channel-window commands belong to the active child.
            enabled = false;
            if (target) target->OnUpdateCommand(id, enabled, checked);
            break;
        }
        if (a->isEnabled() != enabled) a->setEnabled(enabled);
        if (a->isCheckable() && a->isChecked() != checked) {
            const QSignalBlocker block(a);
            a->setChecked(checked);
        }
    }
    // The manage-connection check runs the poll while an analyzer is connected.
    if (m_transferOpen) {
        // A transfer owns the line: a status request among the notes bytes
        // would become part of them.
    } else if (m_app.ConnectedCount > 0 && !m_pollTimer->isActive())
        m_pollTimer->start();
    else if (m_app.ConnectedCount == 0 && m_pollTimer->isActive())
        m_pollTimer->stop();
    m_devicePane->UpdateControls();
}

bool CMainFrame::PollRunning() const {
    return m_pollTimer->isActive();
}

void CMainFrame::OnCommand(int id) {
    switch (id) {
    case cmd::ManageConnection:
        RunConnectionManager(false);
        break;
    case cmd::OpenRecords:
        OpenRecords();
        break;
    case cmd::OpenTemplates:
        OpenTemplates();
        break;
    case cmd::BuildIndex:
        BuildIndex();
        break;
    case cmd::RecentFile1:
    case cmd::RecentFile1 + 1:
    case cmd::RecentFile1 + 2:
    case cmd::RecentFile4:
        OpenRecentFile(id - cmd::RecentFile1);
        break;
    case cmd::InstrumentSettings:
        InstrumentSettings();
        break;
    case cmd::Export:
        ExportItems();
        break;
    case cmd::Import:
        Import();
        break;
    case cmd::RivuletrixParameters:
        OpenSettingsDialog();
        break;
    case cmd::DefaultMode:
        break; // follows from the analyzers connected
    case cmd::HelpManual:
        HelpManual();
        break;
    case cmd::ContextHelp:
        QWhatsThis::enterWhatsThisMode();
        break;
    case cmd::AppAbout:
        ShowAbout();
        break;
    case cmd::AppExit:
        close();
        break;
    case cmd::WindowCascade:
        m_mdi->cascadeSubWindows();
        break;
    case cmd::WindowTile:
        m_mdi->tileSubWindows();
        break;
    case cmd::ViewToolbar:
    case cmd::ViewStatusBar:
        break;
    case cmd::FilePrintSetup:
        printing::PageSetup(this);
        break;
    default:
        if (CommandTarget* target = ActiveTarget()) target->OnCommand(id);
        break;
    }
    UpdateCommands();
}

void CMainFrame::InstrumentSettings() {
    if (m_app.CurrentAnalyzer == -1) {
        ThePrompter().Message(QStringLiteral("Select Device"), Prompter::Icon::Warning);
        return;
    }
    CDevice* device = m_app.Device(m_app.CurrentAnalyzer);
    if (!device) return;
    CDeviceInfoDlg dlg(*device, this);
    dlg.exec();
}

void CMainFrame::ExportItems() {
    if (m_app.CurrentAnalyzer == -1) {
        ThePrompter().Message(QStringLiteral("Please connect a device for exporting the data."),
                              Prompter::Icon::Warning);
        return;
    }
    CDevice* device = m_app.Device(m_app.CurrentAnalyzer);
    if (!device) return;
    WithPollPaused([&] {
        CExportSheet sheet(QStringLiteral("Export Items"), device, m_app.Templates(), this);
        sheet.exec();
    });
}

void CMainFrame::WithPollPaused(const std::function<void()>& transfer) {
    // No status request may go out between the pieces of a transfer.
    m_transferOpen = true;
    m_pollTimer->stop();
    m_app.Poll().WaitIdle(m_app.CurrentAnalyzer);
    transfer();
    m_transferOpen = false;
    UpdateCommands();
}

void CMainFrame::OpenSettingsDialog() {
    CDefaultParameters dlg(m_app, this);
    if (dlg.exec() != QDialog::Accepted) return;
    m_app.SettingsSaved();
    if (auto* active = qobject_cast<ChannelWindow*>(m_mdi->activeSubWindow()))
        active->View()->ScheduleRedraw();
    update();
}

void CMainFrame::HelpManual() {
    OpenHelpManual(this);
}

void CMainFrame::ShowAbout() {
    ShowAboutBox(this);
}

void CMainFrame::RunConnectionManager(bool search) {
    CManageConnectionDlg dlg(m_app, search, this);
    dlg.exec();
    UpdateCommands();
}

void CMainFrame::ShowSplash() {
    auto* splash = new CSplash(this);
    connect(splash, &CSplash::Closed, this, [this] {
        repaint();
        QTimer::singleShot(0, this, [this] { RunConnectionManager(true); });
    });
    splash->show();
}

ChannelWindow* CMainFrame::ChannelWindowAt(int slot, int channel) const {
    for (QMdiSubWindow* w : m_mdi->subWindowList()) {
        auto* cw = qobject_cast<ChannelWindow*>(w);
        if (cw && cw->Slot() == slot && cw->Channel() == channel) return cw;
    }
    return nullptr;
}

void CMainFrame::OpenChannelWindow(int slot, int channel) {
    CDevice* device = m_app.Device(slot);
    auto* w = new ChannelWindow(slot, channel, device ? device->Name : QString(), m_mdi);
    m_mdi->addSubWindow(w);
    w->show();
}

void CMainFrame::CloseChannelWindow(int slot, int channel) {
    if (ChannelWindow* w = ChannelWindowAt(slot, channel)) {
        m_mdi->removeSubWindow(w);
        w->ForceClose();
    }
}

bool CMainFrame::MayCloseChannelWindows(int slot) {
    for (int c = 1; c <= 4; ++c)
        if (ChannelWindow* w = ChannelWindowAt(slot, c))
            if (w->Run() && !w->Run()->CanClose()) return false;
    return true;
}

bool CMainFrame::OpenRecordFile(const QString& path) {
    // A record already open in a window is brought to the front, not opened
    // a second time.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        auto* w = qobject_cast<ChannelWindow*>(sub);
        if (!w || w->Slot() != 0 || !w->Document() || canonical.isEmpty() ||
            QFileInfo(w->Document()->PathName()).canonicalFilePath() != canonical)
            continue;
        BringToFront(w);
        recentfiles::Add(m_app, path);
        RefreshRecentFiles();
        return true;
    }
    auto* doc = new CRivuletrixDoc;
    QString error;
    bool read = doc->ReadRecordFile(path, &error);
    // An empty file or other bytes read as a record with no test.
    if (read && !IsTestType(doc->TestType)) {
        read = false;
        error = QStringLiteral("Failed to open document. It is not a test record.");
    }
    if (!read) {
        delete doc;
        ThePrompter().Message(
            QStringLiteral("Cannot open %1:\n%2").arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    auto* w = new ChannelWindow(doc, m_mdi);
    m_mdi->addSubWindow(w);
    w->show();
    BringToFront(w);
    recentfiles::Add(m_app, path);
    RefreshRecentFiles();
    return true;
}

void CMainFrame::BringToFront(QMdiSubWindow* w) {
    if (w->isMinimized()) w->showNormal();
    m_mdi->setActiveSubWindow(w);
    // The keyboard too: when the frame is active again (a browser or a
    // question closed) Qt gives the focus back to the widget that had it, and
    // the window holding that widget would come back in front.
    w->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::ArrangeChannelWindows() {
    if (m_arranging) return;
    m_arranging = true;
    QMdiSubWindow* active = m_mdi->activeSubWindow();
    QList<QMdiSubWindow*> collected = m_mdi->subWindowList(QMdiArea::StackingOrder);
    if (collected.size() > 21) collected = collected.mid(0, 21);
    if (collected.isEmpty()) {
        m_arranging = false;
        return;
    }
    for (auto& row : m_table)
        for (auto& entry : row) entry = nullptr;
    QSet<QMdiSubWindow*> inTable;
    for (int slot = 1; slot <= 4; ++slot) {
        CDevice* device = m_app.Device(slot);
        if (!device) continue;
        for (qsizetype k = 0; k < collected.size() && k < 16; ++k) {
            QMdiSubWindow* w = collected[k];
            if (inTable.contains(w)) continue;
            const QString title = w->windowTitle();
            const qsizetype at = title.indexOf(QStringLiteral("Channel "));
            if (at < 0 || title.mid(at + 10) != device->Name) continue;
            for (int c = 1; c <= 4; ++c) {
                if (!title.contains(QStringLiteral("Channel %1").arg(c))) continue;
                if (!m_table[slot - 1][c - 1]) {
                    m_table[slot - 1][c - 1] = w;
                    inTable.insert(w);
                }
                break;
            }
        }
    }
    const int selected = m_app.CurrentAnalyzer;
    if (m_app.ViewAll) {
        for (auto& row : m_table)
            for (auto& w : row)
                if (w) w->showNormal();
    } else {
        if (selected < 1 || selected > 4) {
            m_arranging = false;
            return; // nothing selected: the frame only lays itself out
        }
        for (int s = 1; s <= 4; ++s)
            for (auto& w : m_table[s - 1]) {
                if (!w) continue;
                if (s == selected) {
                    if (w->isMinimized()) w->showNormal();
                } else {
                    w->showMinimized();
                }
            }
        for (QMdiSubWindow* w : collected)
            if (!inTable.contains(w) &&
                !w->windowTitle().left(80).contains(QStringLiteral("Channel ")))
                w->showMinimized();
    }
    for (int s = 4; s >= 1; --s)
        for (int c = 4; c >= 1; --c)
            if (QMdiSubWindow* w = m_table[s - 1][c - 1]; w && !w->isMinimized())
                m_mdi->setActiveSubWindow(w);
    // Tiled from the most recently activated: channel 1 of the lowest
    // analyzer is laid out first, at the top left.
    const QMdiArea::WindowOrder order = m_mdi->activationOrder();
    m_mdi->setActivationOrder(QMdiArea::ActivationHistoryOrder);
    m_mdi->tileSubWindows();
    m_mdi->setActivationOrder(order);
    if (!m_app.StartingUp && active && !active->isMinimized()) m_mdi->setActiveSubWindow(active);
    m_arranging = false;
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    QTimer::singleShot(0, this, &CMainFrame::ArrangeChannelWindows);
}

char CMainFrame::RefreshBatteryNotice(bool withBalloon) {
    char states[4];
    for (int slot = 1; slot <= 4; ++slot) {
        CDevice* d = m_app.Device(slot);
        states[slot - 1] = d ? char(d->BatteryState) : 'N';
    }
    const BatteryNotice::Notice n = m_notice.Refresh(states, m_app.ConnectedCount, withBalloon);
    if (n.result == 'N') return 'N';
    m_lastNotice = n;
    QIcon icon;
    switch (n.icon) {
    case BatteryNotice::Icon::Application:
        icon = artwork::ApplicationIcon();
        break;
    case BatteryNotice::Icon::Low:
        icon = artwork::BatteryLowIcon();
        break;
    case BatteryNotice::Icon::Empty1:
        icon = artwork::BatteryEmptyIcon(0);
        break;
    case BatteryNotice::Icon::Empty2:
        icon = artwork::BatteryEmptyIcon(1);
        break;
    case BatteryNotice::Icon::Empty3:
        icon = artwork::BatteryEmptyIcon(2);
        break;
    }
    if (m_tray) {
        m_tray->show(); // an icon that was removed comes back
        m_tray->setIcon(icon);
        m_tray->setToolTip(QStringLiteral("Rivuletrix"));
        if (withBalloon && !n.message.isEmpty())
            m_tray->showMessage(n.title, n.message, QSystemTrayIcon::Warning, 10000);
    }
    return n.result;
}

void CMainFrame::OnBalloonTimer() {
    if (m_balloonShown) return;
    RefreshBatteryNotice(true);
    m_balloonShown = true;
    m_balloonEnd->start();
}

void CMainFrame::OnAnalyzerLost(int slot, const QString& name) {
    const QString text = QStringLiteral("%1 (Dev %2) is not answering: its connection was lost. "
                                        "Reconnect it with Manage Connection.")
                             .arg(name)
                             .arg(slot);
    statusBar()->showMessage(text);
    if (QPushButton* b = m_devicePane->AnalyzerButton(slot)) b->setToolTip(text);
    m_devicePane->SetBatteryIndicator(slot, 'N');
    m_devicePane->UpdateControls();
}

void CMainFrame::OnAnalyzerReconnected(int slot) {
    statusBar()->clearMessage();
    if (QPushButton* b = m_devicePane->AnalyzerButton(slot)) b->setToolTip(QString());
    m_devicePane->SetBatteryIndicator(slot, m_app.Poll().Indicator(slot));
    m_devicePane->UpdateControls();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_tray) m_tray->hide();
    if (m_app.TestInProgress()) {
        ThePrompter().Message(kCloseRefused, Prompter::Icon::Warning);
        event->ignore();
        return;
    }
    // Results kept after a failed save are offered once more.
    for (QMdiSubWindow* w : m_mdi->subWindowList())
        if (auto* channel = qobject_cast<ChannelWindow*>(w))
            if (channel->Run() && !channel->Run()->CanClose()) {
                event->ignore();
                return;
            }
    event->accept();
    QApplication::exit(18);
}
