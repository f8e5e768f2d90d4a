#include "RivuletrixWinView.h"

#include "view/DataTableView.h"
#include "view/ReportPrinting.h"
#include "view/SeriesCache.h"
#include "view/TrumpetCurve.h"
#include "view/ViewToolbar.h"

#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "base/Trace.h"
#include "records/RivuletrixDoc.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QToolBar>
#include <QWheelEvent>

// The client area: paints the composed picture, reports size and presses.
class GraphCanvas : public QWidget {
public:
    explicit GraphCanvas(CRivuletrixWinView* view) : QWidget(view), m_view(view) {
        // Every pixel is painted from the composed picture.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(50, 50);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        m_view->PaintCanvas(p);
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        m_view->CanvasResized();
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) m_view->CanvasPressed(e->position().toPoint());
        QWidget::mousePressEvent(e);
    }
    // The wheel neither scrolls nor reaches the parent.
    void wheelEvent(QWheelEvent* e) override { e->accept(); }

private:
    CRivuletrixWinView* m_view;
};

CRivuletrixWinView::CRivuletrixWinView(CRivuletrixDoc* doc, QWidget* parent,
                                       const AppSettings* settings)
    : QMainWindow(parent), m_doc(doc), m_settings(settings),
      m_settingsSeen(AppSettings::SettingsChangeCount()) {
    // A main window is a window of its own; inside a channel window it is
    // a plain child, or it would never show.
    if (parent) setWindowFlags(Qt::Widget);
    m_stack = new QStackedWidget(this);
    m_canvas = new GraphCanvas(this);
    m_tableView = new DataTableView(*doc, m_stack);
    m_stack->addWidget(m_canvas);
    m_stack->addWidget(m_tableView);
    setCentralWidget(m_stack);

    m_toolbar = new QToolBar(tr("View"), this);
    m_toolbar->setIconSize(QSize(18, 18));
    addToolBar(Qt::TopToolBarArea, m_toolbar);

    using namespace viewcmd;
    // Menu text, status-bar prompt, tool tip.
    MakeAction(SetupTest, tr("Set&up Test"), tr("Set up a test on this channel"), tr("Setup Test"),
               false);
    MakeAction(StartTest, tr("&Start Test"), tr("Start the test on this channel"), tr("Start Test"),
               false);
    MakeAction(EndTest, tr("&End Test"), tr("End the test on this channel"), tr("End Test"), false);
    MakeAction(ShowKey, tr("Show &Key"), tr("Show or hide the key box"), tr("Show / Hide Key Box"),
               true);
    MakeAction(ShowTestParameters, tr("Show / Hide Test &Parameters"),
               tr("Display Test Parameters."), tr("Display Test Parameters"), true);
    MakeAction(ShowTestDetails, tr("Show / Hide Test &Details"), tr("Display Test Details."),
               tr("Display Test Details"), true);
    MakeAction(ShowDataTable, tr("Show / Hide &Data Table"), tr("View the test data as a table"),
               tr("View Data Table"), true);
    MakeAction(ExpandYAxis, tr("Move Down Y-Axis"), tr("Expand Y-Axis"), tr("Expand Y-Axis"),
               false);
    MakeAction(ResetYAxis, tr("Y-Axis Fitin"), tr("Reset Y-Axis"), tr("Reset Y-Axis"), false);
    MakeAction(ShrinkYAxis, tr("Move Up Y-Axis"), tr("Shrink Y-Axis"), tr("Shrink Y-Axis"), false);
    MakeAction(TemplatePreviousStep, tr("Template Previous Step"),
               tr("Show the previous step of the template record"), tr("Template Previous Step"),
               false);
    MakeAction(TemplateNextStep, tr("Template Next Step"),
               tr("Show the next step of the template record"), tr("Template Next Step"), false);
    MakeAction(GridLines, tr("&Grid Lines"), tr("Show / Hide Grid Lines on graph"),
               tr("Grid Lines"), true);
    MakeAction(UnitMmHg, tr("&mmHg"), tr("Set Pressure Units to mmHg"), tr("Pressure = mmHg"),
               true);
    MakeAction(UnitPsi, tr("&psi"), tr("Set Pressure Units to psi"), tr("Pressure = psi"), true);
    MakeAction(UnitKpa, tr("&kPa"), tr("Set Pressure Units to kPa"), tr("Pressure = kPa"), true);
    MakeAction(ShowPressure, tr("Show &Pressure"), tr("Show or hide Pressure graph"),
               tr("Pressure Graph"), true);
    MakeAction(ShowAverageFlow, tr("Show &Ave Flow"),
               tr("Show or hide the Average Flow Rate graph"), tr("Average Flow Rate Graph"), true);
    MakeAction(ShowDeliveredVolume, tr("Show &Delivered Volume"),
               tr("Show or hide the Delivered Volume graph"), tr("Delivered Volume Graph"), true);
    MakeAction(ShowInstantaneousFlow, tr("Show &Instantaneous Flow"),
               tr("Show or hide Instantaneous Flow Rate graph"), tr("Instantaneous Flow Graph"),
               true);
    MakeAction(ShowPcaDualFlow, tr("Show &PCA /Dual Flow"), tr("Show or hide PCA /Dual Flow graph"),
               tr("PCA /Dual Flow graph"), true);
    MakeAction(ShowBolusDetails, tr("Show PCA /Dual &Bolus / Secondary Details"),
               tr("Show or Hide PCA/Dual Bolus/Secondary Details"), tr("Bolus/Secondary Details"),
               true);
    MakeAction(ShowTrumpetCurve, tr("Show &Trumpet Curve"), tr("Show Trumpet Curve"),
               tr("Trumpet Curve"), true);
    MakeAction(FilePrint, tr("&Print..."), tr("Print the active document"), tr("Print"), false);
    MakeAction(FilePrintPreview, tr("Print Pre&view"), tr("Display full pages"),
               tr("Print Preview"), false);
    MakeAction(ExportPdf, tr("Export P&DF..."), tr("Write what Print would print to a PDF file"),
               tr("Export PDF"), false);
    MakeAction(ExportDataTable, tr("Export Data &Table..."),
               tr("Write the data table to a CSV file"), tr("Export Data Table"), false);
    // Start goes back to the graph before the run controller starts.
    connect(m_actions.value(StartTest), &QAction::triggered, this, &CRivuletrixWinView::ShowGraph);

    const int toolbarOrder[] = {SetupTest,
                                StartTest,
                                EndTest,
                                0,
                                ShowKey,
                                ShowTestParameters,
                                ShowTestDetails,
                                ShowDataTable,
                                0,
                                ExpandYAxis,
                                ResetYAxis,
                                ShrinkYAxis,
                                0,
                                TemplatePreviousStep,
                                TemplateNextStep};
    for (int id : toolbarOrder) {
        if (id == 0)
            m_toolbar->addSeparator();
        else
            m_toolbar->addAction(m_actions.value(id));
    }

    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        if (m_pending) m_canvas->update();
    });
    // Enabling follows document state that changes without a signal.
    m_updateTimer.setInterval(250);
    connect(&m_updateTimer, &QTimer::timeout, this, &CRivuletrixWinView::UpdateActions);
    m_updateTimer.start();
    connect(m_doc, &CRivuletrixDoc::UpdateAllViews, this, &CRivuletrixWinView::ScheduleRedraw);
    connect(m_doc, &QObject::destroyed, this, [this] { m_doc = nullptr; });
    m_sinceFrame.start();
    OnInitialUpdate();
    UpdateActions();
}

CRivuletrixWinView::~CRivuletrixWinView() = default;

QAction* CRivuletrixWinView::MakeAction(int id, const QString& text, const QString& prompt,
                                        const QString& tip, bool checkable) {
    auto* a = new QAction(viewtoolbar::Icon(id), text, this);
    a->setToolTip(tip);
    a->setStatusTip(prompt);
    a->setCheckable(checkable);
    a->setData(id);
    connect(a, &QAction::triggered, this, [this, id] { Command(id); });
    m_actions.insert(id, a);
    return a;
}

void CRivuletrixWinView::AddViewMenu(QMenu* menu) const {
    using namespace viewcmd;
    for (int id : {ShowKey, ShowTestParameters, ShowTestDetails, ShowDataTable})
        menu->addAction(m_actions.value(id));
    menu->addSeparator();
    for (int id : {ShowPressure, ShowAverageFlow, ShowDeliveredVolume, ShowInstantaneousFlow,
                   ShowPcaDualFlow, ShowBolusDetails, ShowTrumpetCurve, GridLines})
        menu->addAction(m_actions.value(id));
    QMenu* scale = menu->addMenu(tr("Scale &Graph"));
    for (int id : {ShrinkYAxis, ResetYAxis, ExpandYAxis}) scale->addAction(m_actions.value(id));
    QMenu* units = menu->addMenu(tr("Pressure &Units"));
    for (int id : {UnitMmHg, UnitPsi, UnitKpa}) units->addAction(m_actions.value(id));
}

void CRivuletrixWinView::OnInitialUpdate() {
    const AppSettings fallback;
    const AppSettings& s = m_settings ? *m_settings : fallback;
    const int u = PressureUnitFromName(
        GraphRenderer::QuietSetting(s, QStringLiteral("DefaultPressureUnit")).trimmed());
    if (u >= 0) m_state.pressureUnit = u;
}

int CRivuletrixWinView::LineWidth() const {
    // One process-wide width, read again at most twice a second so that
    // sixteen live windows do not each read the settings file every frame.
    static int width = 1;
    static QElapsedTimer since;
    if (!since.isValid() || since.elapsed() > 500) {
        const AppSettings fallback;
        const AppSettings& s = m_settings ? *m_settings : fallback;
        width = GraphRenderer::LineWidthFromText(
            GraphRenderer::QuietSetting(s, QStringLiteral("GraphLineWidth")));
        since.start();
    }
    return width;
}

void CRivuletrixWinView::UpdateActions() {
    if (!m_doc) return;
    using namespace viewcmd;
    const CRivuletrixDoc& d = *m_doc;
    const char type = d.TestType;
    const bool started = m_started ? m_started() : d.Run.running;
    const auto set = [this](int id, bool enabled, bool checked) {
        QAction* a = m_actions.value(id);
        a->setEnabled(enabled);
        if (a->isCheckable()) a->setChecked(checked);
    };
    set(ShowKey, true, d.ShowKey);
    set(ShowTestParameters, true, d.ShowTestParameters);
    set(ShowTestDetails, true, d.ShowTestDetails);
    // 'D': the Dual Flow records of older analyzers print too.
    const bool record = type == 'F' || type == 'O' || type == 'P' || type == 'D';
    // A saved record, or the test running on a live channel.
    set(ShowDataTable, !d.PathName().isEmpty() || (d.Run.live && record), m_state.showDataTable);
    for (int id : {FilePrint, FilePrintPreview, ExportPdf, ExportDataTable})
        set(id, record && !started, false);
    set(GridLines, true, m_state.grid);
    set(UnitMmHg, type == 'O', m_state.pressureUnit == 0);
    set(UnitPsi, type == 'O', m_state.pressureUnit == 1);
    set(UnitKpa, type == 'O', m_state.pressureUnit == 2);
    set(ShowPressure, type == 'O', m_state.showPressure);
    set(ShowAverageFlow, started ? type != 'P' : type == 'F', m_state.showAvgFlow);
    set(ShowDeliveredVolume, type == 'F' || type == 'P', m_state.showVolume);
    set(ShowInstantaneousFlow, type == 'F', m_state.showInstFlow);
    set(ShowPcaDualFlow, type == 'P', m_state.showPca);
    set(ShowBolusDetails, type == 'P', m_state.showBolusLabels);
    set(ShowTrumpetCurve, type == 'F', m_state.showTrumpet);
    for (int id : {ShrinkYAxis, ResetYAxis, ExpandYAxis}) set(id, true, false);
    // Test commands belong to the run controller, which connects to their
    // actions and says when they are enabled.
    for (int id : {SetupTest, StartTest, EndTest, TemplatePreviousStep, TemplateNextStep})
        m_actions.value(id)->setEnabled(m_runEnabled ? m_runEnabled(id) : false);
}

void CRivuletrixWinView::RedrawAll() {
    UpdateActions();
    if (m_doc) Q_EMIT m_doc->UpdateAllViews();
}

void CRivuletrixWinView::Command(int id) {
    if (!m_doc) return;
    using namespace viewcmd;
    CRivuletrixDoc& d = *m_doc;
    ViewState& st = m_state;
    const double autoPressure = st.pressureMax - st.pressureMin;
    switch (id) {
    case ShowKey:
        d.ShowKey = !d.ShowKey;
        break;
    case ShowTestParameters:
        d.ShowTestParameters = !d.ShowTestParameters;
        break;
    case ShowTestDetails:
        d.ShowTestDetails = !d.ShowTestDetails;
        break;
    case GridLines:
        st.grid = !st.grid;
        break;
    case UnitMmHg:
        st.pressureUnit = 0;
        break;
    case UnitPsi:
        st.pressureUnit = 1;
        break;
    case UnitKpa:
        st.pressureUnit = 2;
        break;
    case ShowPressure:
        st.showPressure = !st.showPressure;
        break;
    case ShowAverageFlow:
        st.showAvgFlow = !st.showAvgFlow;
        break;
    case ShowDeliveredVolume:
        st.showVolume = !st.showVolume;
        break;
    case ShowInstantaneousFlow:
        st.ToggleInstFlow();
        break;
    case ShowPcaDualFlow:
        st.showPca = !st.showPca;
        break;
    case ShowBolusDetails:
        st.showBolusLabels = !st.showBolusLabels;
        break;
    case ShowTrumpetCurve:
        st.showTrumpet = !st.showTrumpet;
        break;
    case ShowDataTable:
        SetDataTable(!st.showDataTable);
        break;
    case FilePrint:
        PrintRecord();
        break;
    case FilePrintPreview: {
        printing::Job job{d, st, ReportFor(), m_nextStep, this};
        printing::Preview(job);
        break;
    }
    case ExportPdf: {
        printing::Job job{d, st, ReportFor(), m_nextStep, this};
        printing::ExportPdf(job);
        break;
    }
    case ExportDataTable:
        printing::ExportCsv(d, this);
        break;
    case ShrinkYAxis:
        if (st.Shrink(st.flowMax, st.volumeMax, autoPressure)) break;
        UpdateActions();
        return;
    case ExpandYAxis:
        st.Expand(st.flowMax, st.volumeMax, autoPressure);
        break;
    case ResetYAxis:
        st.ResetScale();
        break;
    default:
        return;
    }
    RedrawAll();
}

void CRivuletrixWinView::SetDataTable(bool shown) {
    m_state.showDataTable = shown;
    m_stack->setCurrentWidget(shown ? static_cast<QWidget*>(m_tableView) : m_canvas);
    m_tableView->ScrollHome();
    if (shown) m_tableView->Refresh();
}

void CRivuletrixWinView::ShowGraph() {
    if (!m_state.showDataTable) return;
    SetDataTable(false);
    RedrawAll();
}

ReportSetup CRivuletrixWinView::ReportFor() const {
    ReportSetup setup;
    setup.table = m_state.showDataTable;
    setup.render.lineWidth = LineWidth();
    setup.render.templateStepIndex = m_templateStep;
    // The report headers as the settings have them now, blank ones too; a
    // view without settings prints the record's own.
    if (m_settings) {
        QStringList headers;
        for (const char* key : {"ReportHeader1", "ReportHeader2", "ReportHeader3"})
            headers << GraphRenderer::QuietSetting(*m_settings, QString::fromLatin1(key)).trimmed();
        setup.reportHeaders = headers;
    }
    return setup;
}

bool CRivuletrixWinView::PrintRecord() {
    if (!m_doc) return false;
    printing::Job job{*m_doc, m_state, ReportFor(), m_nextStep, this};
    const bool printed = printing::Print(job);
    RedrawAll();
    return printed;
}

void CRivuletrixWinView::ScheduleRedraw() {
    if (m_state.showDataTable) {
        // The table takes in new samples at once; paints coalesce.
        m_tableView->Refresh();
        return;
    }
    m_pending = true;
    if (m_frameTimer.isActive()) return;
    const qint64 since = m_sinceFrame.elapsed();
    if (since >= kMinFrameMs)
        m_canvas->update();
    else
        m_frameTimer.start(int(kMinFrameMs - since));
}

QImage CRivuletrixWinView::Compose() {
    ComposeInto(m_image);
    return m_image;
}

void CRivuletrixWinView::ComposeInto(QImage& image) {
    // The same buffer frame after frame: a fresh one each time costs page
    // faults that sixteen live windows would pay ten times a second each.
    const QSize size = m_canvas->size().isEmpty() ? QSize(1, 1) : m_canvas->size();
    if (image.size() != size || image.format() != QImage::Format_RGB32)
        image = QImage(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (!m_doc) return;
    if (m_settingsSeen != AppSettings::SettingsChangeCount()) {
        // Saved in the settings dialog: the default pressure unit shows now.
        m_settingsSeen = AppSettings::SettingsChangeCount();
        OnInitialUpdate();
    }
    QPainter p(&image);
    RenderTarget t;
    t.width = image.width();
    t.height = image.height();
    t.dpiX = m_canvas->logicalDpiX();
    t.dpiY = m_canvas->logicalDpiY();
    RenderOptions o;
    o.lineWidth = LineWidth();
    o.templateStepIndex = m_templateStep;
    m_result = GraphRenderer::Render(p, *m_doc, m_state, t, o);
}

void CRivuletrixWinView::PaintCanvas(QPainter& painter) {
    m_pending = false;
    m_sinceFrame.start();
    ++m_frames;
    ComposeInto(m_image);
    // A bolus that outgrew the flow scale has rescaled it: draw once more so
    // that curve and axis agree in the picture shown and saved.
    if (m_result.needsRedraw) ComposeInto(m_image);
    painter.drawImage(0, 0, m_image);
    if (m_doc && m_doc->ScreenImageRequested) {
        m_doc->ScreenImageRequested = false;
        GraphRenderer::WriteBitmap(m_image, QStringLiteral("DC_Image.bmp"));
    }
    if (m_result.trumpetFailed) {
        // Told after the paint, then the graph is drawn again.
        QTimer::singleShot(0, this, [this] {
            ThePrompter().Message(TrumpetCurve::FailureText(), Prompter::Icon::Warning);
            Q_EMIT TrumpetFailed();
            UpdateActions();
            m_canvas->update();
        });
    }
    if (m_result.needsRedraw) ScheduleRedraw();
}

void CRivuletrixWinView::CanvasResized() {
    m_state.FlagFirstPlacement();
}

void CRivuletrixWinView::CanvasPressed(const QPoint& pos) {
    if (m_state.showDataTable) return;
    if (m_state.MousePress(pos.x(), pos.y())) m_canvas->update();
}
