#include "SetupSheet.h"

#include "SetupPages.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "store/RecordIndex.h"
#include "testing/RunHost.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace setupsheet;

CSetupSheet::CSetupSheet(CDevice& device, int channelIndex, const QString& title, bool allPages,
                         QWidget* parent, SetupContext context)
    : QDialog(parent), m_device(device), m_channel(channelIndex), m_context(context) {
    setWindowTitle(title);
    if (m_context.settings)
        m_flowTolerance = m_context.settings->IntSetting(QStringLiteral("FlowTolerance"));

    m_tabs = new QTabWidget;
    auto add = [this](CSetupPage* page) { m_tabs->addTab(page, PageTitle(page->Kind())); };
    add(new CSetupFlowDlg(*this));
    add(new CSetupOcclusionDlg(*this));
    if (allPages) {
        add(new CSetupPcaDlg(*this));
        add(new CSetupTemplateDlg(*this));
    }
    connect(m_tabs, &QTabWidget::currentChanged, this, &CSetupSheet::OnCurrentChanged);

    // OK and Cancel only: the sheet has no Apply and no Help.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSetupSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSetupSheet::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

CSetupPage* CSetupSheet::Page(SetupPage kind) const {
    for (int i = 0; i < m_tabs->count(); ++i) {
        auto* page = static_cast<CSetupPage*>(m_tabs->widget(i));
        if (page->Kind() == kind) return page;
    }
    return nullptr;
}

CSetupPage* CSetupSheet::CurrentPage() const {
    return static_cast<CSetupPage*>(m_tabs->currentWidget());
}

bool CSetupSheet::LookUpEquipment(const QString& controlNumber, EquipmentDetails& details) const {
    // An index that is closed (no data folder) finds nothing.
    RunHost* app = m_context.app;
    if (!app || !app->Records().IsOpen()) return false;
    return app->Records().FindEquipment(controlNumber, details);
}

void CSetupSheet::ShowProblem(const SetupProblem& problem, CSetupPage* page) {
    ThePrompter().Message(problem.message);
    if (QWidget* w = page->FieldWidget(problem.field)) {
        w->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    }
}

void CSetupSheet::OnCurrentChanged(int index) {
    auto* left = static_cast<CSetupPage*>(m_tabs->widget(m_shownIndex));
    if (left && index != m_shownIndex) {
        // A page is left only with its numbers in range.
        SetupForm form;
        left->ReadForm(form);
        const SetupProblem problem = CheckRanges(left->Kind(), form);
        if (problem.failed()) {
            {
                const QSignalBlocker block(m_tabs);
                m_tabs->setCurrentIndex(m_shownIndex);
            }
            ShowProblem(problem, left);
            return;
        }
        m_equipment = left->Equipment();
    }
    m_shownIndex = index;
    if (CSetupPage* shown = CurrentPage()) shown->SetEquipment(m_equipment);
}

void CSetupSheet::accept() {
    CSetupPage* page = CurrentPage();
    SetupForm form;
    page->ReadForm(form);
    const SetupProblem problem = AcceptSetup(page->Kind(), form, m_device, m_channel, m_context);
    // The sheet keeps what was entered, whatever the outcome of the checks.
    m_equipment = form.equipment;
    if (problem.failed()) {
        ShowProblem(problem, page);
        return;
    }
    QDialog::accept();
}

bool DialogSetupSheetRunner::RunSetupSheet(CDevice& device, int channelIndex, const QString& title,
                                           bool allPages) {
    CSetupSheet sheet(device, channelIndex, title, allPages, m_parent);
    return sheet.exec() == QDialog::Accepted;
}
