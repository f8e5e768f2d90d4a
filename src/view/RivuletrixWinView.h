#pragma once

#include "view/GraphRenderer.h"
#include "view/ViewState.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>

class AppSettings;
class DataTableView;
struct ReportSetup;
class QStackedWidget;
class CRivuletrixDoc;
class QAction;
class QMenu;
class QToolBar;

// The channel window's view of one document: the graph or the trumpet curve
// composed off screen and copied in one go onto its canvas, the view's own
// dockable toolbar, the View-menu commands with their check marks, and box
// moving with the mouse. Live documents redraw as samples arrive, at most
// 25 frames a second.
class CRivuletrixWinView : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinFrameMs = 40; // 25 frames a second

    explicit CRivuletrixWinView(CRivuletrixDoc* doc, QWidget* parent = nullptr,
                                const AppSettings* settings = nullptr);
    ~CRivuletrixWinView() override;

    CRivuletrixDoc* GetDocument() const { return m_doc; }
    ViewState& State() { return m_state; }
    QToolBar* ToolBar() const { return m_toolbar; }
    // The drawing area (the client area of the channel window).
    QWidget* Canvas() const { return m_canvas; }
    // The data table, shown instead of the canvas in data-table mode.
    DataTableView* TableView() const { return m_tableView; }
    // The command of an id (viewcmd::Id), or null.
    QAction* Action(int id) const { return m_actions.value(id); }
    // Fills a "View" menu with the commands of the view.
    void AddViewMenu(QMenu* menu) const;
    // Evaluates enabling and check marks of every command.
    void UpdateActions();

    // The run controller tells the view when a template runs and whether
    // the channel's test has been started (enabling of Average Flow).
    void SetTemplateStepIndex(int index) { m_templateStep = index; }
    void SetStartedPredicate(std::function<bool()> started) { m_started = std::move(started); }
    // Enabling of the test commands (Setup, Start, End, template steps),
    // whose actions the run controller connects to.
    void SetRunCommandEnabler(std::function<bool(int)> enabled) {
        m_runEnabled = std::move(enabled);
    }

    // A template record window moves to its next step (printing prints
    // every step from the current one); false when there is none.
    void SetNextStepHandler(std::function<bool()> next) { m_nextStep = std::move(next); }
    // Prints the record as the Print command does (dialog first).
    bool PrintRecord();
    // Leaves data-table mode for the graph.
    void ShowGraph();

    // Reads "DefaultPressureUnit" into the pressure unit.
    void OnInitialUpdate();
    // Redraw on the next frame slot (coalesced).
    void ScheduleRedraw();
    // Composes the picture of the current state into an image of the
    // window's size (what the next paint shows).
    QImage Compose();

    int FrameCount() const { return m_frames; }
    const QImage& LastImage() const { return m_image; }
    const GraphRenderer::Result& LastResult() const { return m_result; }

Q_SIGNALS:
    // The trumpet curve could not be computed; the text was shown.
    void TrumpetFailed();

private:
    friend class GraphCanvas;
    void PaintCanvas(QPainter& painter);
    void ComposeInto(QImage& image);
    void CanvasResized();
    void CanvasPressed(const QPoint& pos);

    QAction* MakeAction(int id, const QString& text, const QString& prompt, const QString& tip,
                        bool checkable);
    void Command(int id);
    void RedrawAll();
    int LineWidth() const;
    void SetDataTable(bool shown);
    ReportSetup ReportFor() const;

    CRivuletrixDoc* m_doc;
    const AppSettings* m_settings;
    ViewState m_state;
    QToolBar* m_toolbar = nullptr;
    QWidget* m_canvas = nullptr;
    QStackedWidget* m_stack = nullptr;
    DataTableView* m_tableView = nullptr;
    std::function<bool()> m_nextStep;
    QHash<int, QAction*> m_actions;
    QImage m_image;
    GraphRenderer::Result m_result;
    QTimer m_frameTimer;
    QTimer m_updateTimer;
    QElapsedTimer m_sinceFrame;
    bool m_pending = false;
    int m_frames = 0;
    int m_settingsSeen = 0; // AppSettings::SettingsChangeCount() last taken
    int m_templateStep = -1;
    std::function<bool()> m_started;
    std::function<bool(int)> m_runEnabled;
};
