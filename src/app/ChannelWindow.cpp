#include "ChannelWindow.h"

#include "RivuletrixApp.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "records/Template.h"
#include "testing/RunController.h"
#include "testing/SetupSheet.h"
#include "testing/TemplateNextStepDlg.h"
#include "view/RivuletrixWinView.h"
#include "view/SeriesCache.h"
#include "view/ViewState.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

ChannelWindow::ChannelWindow(int slot, int channel, const QString& analyzerName, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(new CRivuletrixDoc(this)), m_slot(slot), m_channel(channel) {
    m_title = QStringLiteral("Channel %1 ").arg(channel) + analyzerName;
    m_doc->Run.live = true;
    m_doc->ChannelNo = channel - 1;
    CRivuletrixApp* app = RxApp();
    m_doc->RepHeader1 = app->ReportHeader[0];
    m_doc->RepHeader2 = app->ReportHeader[1];
    m_doc->RepHeader3 = app->ReportHeader[2];
    m_doc->DefaultTolerance = app->FlowTolerance;
    m_doc->GraphLineWidth = app->GraphLineWidth;
    m_doc->DefaultPressureUnit = app->DefaultPressureUnit;
    app->ChannelDocs[slot - 1][channel - 1] = m_doc;
    if (CDevice* device = app->Device(slot)) device->SetChannelDoc(channel - 1, m_doc);

    m_run = new RunController(*app, *m_doc, slot, channel, this);
    m_sheet = new DialogSetupSheetRunner(this);
    m_run->SetSetupSheet(m_sheet);
    m_run->ChooseNextStep = [this](const RunController::NextStepInfo& info, bool& autoStart) {
        return CTemplateNextStepDlg::Choose(info, autoStart, this);
    };
    Build();
    m_view->SetRunCommandEnabler([this](int id) {
        switch (id) {
        case cmd::SetupTest:
            return m_run->SetupEnabled();
        case cmd::StartTest:
            return m_run->StartEnabled();
        case cmd::EndTest:
            return m_run->EndEnabled();
        default:
            return false;
        }
    });
    m_view->SetStartedPredicate([this] { return m_doc->Run.running; });
    connect(m_view->Action(cmd::SetupTest), &QAction::triggered, m_run,
            &RunController::OnSetupTest);
    connect(m_view->Action(cmd::StartTest), &QAction::triggered, m_run,
            &RunController::OnStartTest);
    connect(m_view->Action(cmd::EndTest), &QAction::triggered, m_run, &RunController::OnEndTest);
    m_run->Print = [this] {
        m_doc->DropEmptyLastSample();
        m_view->PrintRecord();
    };
    connect(m_run, &RunController::ViewsChanged, m_view, [this] {
        // The title names the template step while a template run goes on.
        const RunController::TemplateRunState& t = m_run->TemplateRun();
        m_view->SetTemplateStepIndex(t.active ? t.stepIndex : -1);
        m_view->ScheduleRedraw();
    });
    connect(m_run, &RunController::TitleChanged, this, &QWidget::setWindowTitle);
    connect(m_run, &RunController::StatusNoteChanged, m_statusLine, [this](const QString& note) {
        m_statusLine->setText(note);
        m_statusLine->setVisible(!note.isEmpty());
    });
    connect(m_run, &RunController::GraphReset, m_view,
            [this] { m_view->State().ResetGraphScaling(); });
    connect(m_run, &RunController::StateChanged, m_view, &CRivuletrixWinView::UpdateActions);
}

ChannelWindow::ChannelWindow(CRivuletrixDoc* record, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(record) {
    m_doc->setParent(this);
    m_title = QFileInfo(m_doc->PathName()).fileName();
    Build();
    m_view->SetRunCommandEnabler([this](int id) {
        const int steps = m_doc->TemplateSteps;
        if (id == cmd::TemplateNextStep) return steps > 0 && m_doc->StepToShow < steps;
        if (id == cmd::TemplatePreviousStep) return steps > 0 && m_doc->StepToShow > 1;
        return false;
    });
    connect(m_view->Action(cmd::TemplateNextStep), &QAction::triggered, this,
            [this] { ShowTemplateStep(true); });
    m_view->SetNextStepHandler([this] { return ShowTemplateStep(true); });
    connect(m_view->Action(cmd::TemplatePreviousStep), &QAction::triggered, this,
            [this] { ShowTemplateStep(false); });
    m_view->UpdateActions();
}

bool ChannelWindow::ShowTemplateStep(bool next) {
    const int shown = m_doc->StepToShow;
    int step = next ? shown + 1 : shown - 1;
    if (step > Template::kSlots) step = 1;
    if (step < 1) step = 1;
    // The file the window was opened from, wherever it lies.
    const QString path = m_doc->PathName();
    m_doc->StepToShow = step;
    QString error;
    if (!m_doc->ReadRecordFile(path, &error)) {
        m_doc->StepToShow = shown;
        ThePrompter().Message(QStringLiteral("The record file %1 cannot be read: %2")
                                  .arg(QDir::toNativeSeparators(path), error));
        return false;
    }
    SeriesCache::For(m_doc)->Invalidate(); // another step's samples
    m_view->State().ResetGraphScaling();
    m_view->UpdateActions();
    m_view->ScheduleRedraw();
    return true;
}

ChannelWindow::~ChannelWindow() {
    if (m_slot == 0) return;
    if (CRivuletrixApp* app = RxApp()) {
        if (app->ChannelDocs[m_slot - 1][m_channel - 1] == m_doc)
            app->ChannelDocs[m_slot - 1][m_channel - 1] = nullptr;
        if (CDevice* device = app->Device(m_slot))
            if (device->ChannelDoc(m_channel - 1) == m_doc)
                device->SetChannelDoc(m_channel - 1, nullptr);
    }
}

void ChannelWindow::Build() {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(m_title);
    m_view = new CRivuletrixWinView(m_doc, this, RxApp());
    m_view->setMinimumSize(320, 200);
    if (m_slot == 0) {
        setWidget(m_view);
    } else {
        auto* body = new QWidget(this);
        auto* layout = new QVBoxLayout(body);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(m_view, 1);
        m_statusLine = new QLabel(body);
        m_statusLine->setObjectName(QStringLiteral("statusLine"));
        m_statusLine->setWordWrap(true);
        m_statusLine->setMargin(4);
        m_statusLine->setStyleSheet(QStringLiteral("background: #fff3c4; color: black;"));
        m_statusLine->hide();
        layout->addWidget(m_statusLine);
        setWidget(body);
    }
    m_view->OnInitialUpdate();
}

bool ChannelWindow::OnCommand(int id) {
    QAction* a = m_view->Action(id);
    if (!a || !a->isEnabled()) return false;
    a->trigger();
    return true;
}

bool ChannelWindow::OnUpdateCommand(int id, bool& enabled, bool& checked) {
    QAction* a = m_view->Action(id);
    if (!a) return false;
    enabled = a->isEnabled();
    checked = a->isChecked();
    return true;
}

void ChannelWindow::ForceClose() {
    m_forced = true;
    close();
}

void ChannelWindow::closeEvent(QCloseEvent* event) {
    if (!m_forced && m_slot != 0) {
        CRivuletrixApp* app = RxApp();
        // A channel window lives as long as its analyzer is connected.
        if (app->Device(app->CurrentAnalyzer)) {
            ThePrompter().Message(
                QStringLiteral("Cannot Close Windows that are Associated with the Instrument"),
                Prompter::Icon::Warning);
            event->ignore();
            return;
        }
        if (!m_run->CanClose()) {
            event->ignore();
            return;
        }
    }
    QMdiSubWindow::closeEvent(event);
}
