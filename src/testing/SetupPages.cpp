#include "SetupPages.h"

#include "SetupSheet.h"
#include "store/RecordIndex.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateStore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace setupsheet;

namespace {

// Tool tips (string table 1400..1419).
namespace tip {
const QString kControlNumber = QStringLiteral("Test Control Number or Pump Identification Code.");
const QString kOperator = QStringLiteral("Operator / Technician name or initials.");
const QString kManufacturer = QStringLiteral("Manufacturer of the Infusion Device being tested");
const QString kDeviceType =
    QStringLiteral("Device Type or Model of the Infusion Device being tested.");
const QString kSerialNumber =
    QStringLiteral("The Serial Number of the Infusion Device being tested.");
const QString kLocation = QStringLiteral("The normal place the Infusion Device is used or kept");
const QString kComments = QStringLiteral("Test comments");
const QString kClear = QStringLiteral("To clear Equipment details,Control no and Operator fields.");
const QString kSetRate = QStringLiteral("The Flow Rate the pump is set at.");
const QString kTotalVolume = QStringLiteral("The volume the pump is set to deliver.");
const QString kAutoStart =
    QStringLiteral("Tick to use AutoStart feature.  Clear to use manual start.");
const QString kStopTime =
    QStringLiteral("The time in hours and minutes when Rivuletrix will stop the test");
const QString kVolumeReached =
    QStringLiteral("Tick to make Rivuletrix stop the test when the stop volume is reached.");
const QString kTimeReached =
    QStringLiteral("Tick to make Rivuletrix stop the test when the stop time  is reached.");
const QString kTolerance = QStringLiteral("Tick to override default-Tolerance.");
const QString kFirst = QStringLiteral("Tick to stop test when first condition is reached.");
const QString kBoth = QStringLiteral("Tick to stop when both vol/time condtion is reached.");
const QString kLockout = QStringLiteral("The lockout time as set on the pump");
const QString kBolus = QStringLiteral("The Bolus / Secondary volume as set on the pump.");
const QString kLoadingDose = QStringLiteral("The loading dose set on the pump.");
} // namespace tip

QLabel* Label(const QString& text, QWidget* buddy = nullptr) {
    auto* l = new QLabel(text);
    if (buddy) l->setBuddy(buddy);
    return l;
}

void SetTip(QWidget* w, const QString& text) {
    if (w) w->setToolTip(text);
}

} // namespace

// ---------------------------------------------------------------------------
// CSetupPage

CSetupPage::CSetupPage(SetupPage kind, CSetupSheet& sheet, QWidget* parent)
    : QWidget(parent), m_sheet(sheet), m_kind(kind) {}

SetupEquipment CSetupPage::Equipment() const {
    SetupEquipment e;
    QString* texts[kEquipmentFields] = {&e.controlNumber, &e.operatorName, &e.manufacturer,
                                        &e.deviceType,    &e.serialNumber, &e.location,
                                        &e.comments};
    for (int i = 0; i < kEquipmentFields; ++i) *texts[i] = m_equipment[i]->text();
    return e;
}

void CSetupPage::SetEquipment(const SetupEquipment& e) {
    const QString* texts[kEquipmentFields] = {&e.controlNumber, &e.operatorName, &e.manufacturer,
                                              &e.deviceType,    &e.serialNumber, &e.location,
                                              &e.comments};
    // The values move as they are; looking the control number up here would
    // overwrite what the user typed on the other page.
    m_settingEquipment = true;
    for (int i = 0; i < kEquipmentFields; ++i) m_equipment[i]->setText(*texts[i]);
    m_settingEquipment = false;
}

QLineEdit* CSetupPage::Edit(SetupField field) const {
    return qobject_cast<QLineEdit*>(m_fields.value(field));
}

void CSetupPage::ClearFields() {
    m_settingEquipment = true;
    for (QLineEdit* e : m_equipment) e->clear();
    m_settingEquipment = false;
}

void CSetupPage::OnControlNumberChanged(const QString& text) {
    if (m_settingEquipment) return;
    EquipmentDetails d;
    const bool found = m_sheet.LookUpEquipment(text, d);
    const QString values[kEquipmentFields - 1] = {d.operatorName, d.manufacture, d.model,
                                                  d.serialNumber, d.location,    d.comments};
    for (int i = 1; i < kEquipmentFields; ++i)
        m_equipment[i]->setText(found ? values[i - 1] : QString());
}

QWidget* CSetupPage::BuildEquipmentBox(bool clearTip) {
    auto* box = new QGroupBox(QStringLiteral("Equipment Details"));
    auto* grid = new QGridLayout(box);
    static const char* const labels[kEquipmentFields] = {
        "Control Number *", "Operator *", "Manufacturer", "Device Type",
        "Serial Number",    "Location",   "Comments"};
    const QString tips[kEquipmentFields] = {
        tip::kControlNumber, tip::kOperator, tip::kManufacturer, tip::kDeviceType,
        tip::kSerialNumber,  tip::kLocation, tip::kComments};
    for (int i = 0; i < kEquipmentFields; ++i) {
        auto* edit = new QLineEdit;
        edit->setMaxLength(i == kEquipmentFields - 1 ? kCommentsLimit : kEquipmentTextLimit);
        edit->setToolTip(tips[i]);
        m_equipment[i] = edit;
        grid->addWidget(Label(QString::fromLatin1(labels[i]), edit), i, 0);
        grid->addWidget(edit, i, 1);
    }
    m_fields.insert(SetupField::ControlNumber, m_equipment[0]);
    m_fields.insert(SetupField::Operator, m_equipment[1]);
    connect(m_equipment[0], &QLineEdit::textChanged, this, &CSetupPage::OnControlNumberChanged);

    m_clear = new QPushButton(QStringLiteral("Clear Fields"));
    if (clearTip) m_clear->setToolTip(tip::kClear);
    connect(m_clear, &QPushButton::clicked, this, &CSetupPage::ClearFields);
    grid->addWidget(m_clear, kEquipmentFields, 1, Qt::AlignRight);
    return box;
}

QLineEdit* CSetupPage::AddNumberField(SetupField field, const QString& text) {
    const FieldSpec* spec = FindFieldSpec(field);
    Q_ASSERT(spec);
    auto* edit = new QLineEdit(text);
    edit->setMaxLength(spec->maxLength);
    // As wide as the longest value it takes.
    edit->setMaximumWidth(
        edit->fontMetrics().horizontalAdvance(QString(spec->maxLength + 2, QLatin1Char('0'))) + 12);
    // Digits only, and one point in a decimal field; the range is checked at
    // OK and when the page is left.
    static const QRegularExpression integer(QStringLiteral("[0-9]*"));
    static const QRegularExpression decimal(QStringLiteral("[0-9]*\\.?[0-9]*"));
    edit->setValidator(new QRegularExpressionValidator(spec->integer ? integer : decimal, edit));
    if (spec->twoDecimals) {
        connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& t) {
            const QString trimmed = TrimDecimals(t);
            if (trimmed == t) return;
            const int cursor = edit->cursorPosition();
            edit->setText(trimmed);
            edit->setCursorPosition(std::min<int>(cursor, trimmed.size()));
        });
    }
    m_fields.insert(field, edit);
    return edit;
}

QCheckBox* CSetupPage::AddCheck(SetupCheck check, const QString& label, const QString& tipText) {
    auto* box = new QCheckBox(label);
    if (!tipText.isEmpty()) box->setToolTip(tipText);
    m_checks.insert(check, box);
    return box;
}

void CSetupPage::SetEnabled(std::initializer_list<SetupField> fields, bool enabled) {
    for (SetupField f : fields)
        if (QWidget* w = m_fields.value(f)) w->setEnabled(enabled);
}

void CSetupPage::BuildStopOptions(QGridLayout* grid, int row, SetupField stopVolume,
                                  SetupField hours, SetupField minutes) {
    m_stopVolume = stopVolume;
    m_stopHours = hours;
    m_stopMinutes = minutes;

    QCheckBox* volume =
        AddCheck(SetupCheck::StopVolume, QStringLiteral("....Volume reached"), tip::kVolumeReached);
    QLineEdit* volumeEdit = AddNumberField(stopVolume, QStringLiteral("0"));
    grid->addWidget(volume, row, 0);
    grid->addWidget(volumeEdit, row, 1);
    grid->addWidget(Label(QStringLiteral("ml"), volumeEdit), row, 2);

    QCheckBox* time =
        AddCheck(SetupCheck::StopTime, QStringLiteral("... Time reached"), tip::kTimeReached);
    QLineEdit* h = AddNumberField(hours, QStringLiteral("0"));
    QLineEdit* m = AddNumberField(minutes, QStringLiteral("0"));
    h->setToolTip(tip::kStopTime);
    m->setToolTip(tip::kStopTime);
    auto* hm = new QHBoxLayout;
    hm->addWidget(h);
    hm->addWidget(Label(QStringLiteral("Hours"), h));
    hm->addWidget(m);
    hm->addWidget(Label(QStringLiteral("Mins"), m));
    grid->addWidget(time, row + 1, 0);
    grid->addLayout(hm, row + 1, 1, 1, 2);

    QCheckBox* first =
        AddCheck(SetupCheck::FirstCondition, QStringLiteral("First condition"), tip::kFirst);
    QCheckBox* both =
        AddCheck(SetupCheck::BothConditions, QStringLiteral("Both conditions"), tip::kBoth);
    grid->addWidget(first, row + 2, 0);
    grid->addWidget(both, row + 3, 0);

    const std::pair<QCheckBox*, StopOption> options[] = {{volume, StopOption::Volume},
                                                         {time, StopOption::Time},
                                                         {first, StopOption::First},
                                                         {both, StopOption::Both}};
    for (const auto& [box, option] : options) {
        const StopOption o = option;
        connect(box, &QCheckBox::clicked, this,
                [this, o](bool checked) { OnStopOptionClicked(o, checked); });
    }
    ApplyStopOptions(StopOptionsOf(false, false, false, false));
}

void CSetupPage::ApplyStopOptions(const StopOptions& s) {
    m_checks[SetupCheck::StopVolume]->setChecked(s.volume);
    m_checks[SetupCheck::StopTime]->setChecked(s.time);
    m_checks[SetupCheck::FirstCondition]->setChecked(s.first);
    m_checks[SetupCheck::BothConditions]->setChecked(s.both);
    SetEnabled({m_stopVolume}, s.stopVolumeEnabled);
    SetEnabled({m_stopHours, m_stopMinutes}, s.stopTimeEnabled);
}

void CSetupPage::OnStopOptionClicked(StopOption option, bool checked) {
    const StopOptions s = ClickStopOption(option, checked);
    ApplyStopOptions(s);
    if (s.copyTotalVolume && ShowsCopiedVolume())
        Edit(m_stopVolume)->setText(Edit(TotalVolumeField())->text());
}

// ---------------------------------------------------------------------------
// CSetupFlowDlg

CSetupFlowDlg::CSetupFlowDlg(CSetupSheet& sheet, QWidget* parent)
    : CSetupPage(SetupPage::Flow, sheet, parent) {
    const QString tolerance = QString::number(sheet.FlowTolerance());

    auto* params = new QGroupBox(QStringLiteral("Flow Test Parameters"));
    auto* pg = new QGridLayout(params);
    QLineEdit* rate = AddNumberField(SetupField::FlowSetRate, QStringLiteral("0"));
    rate->setToolTip(tip::kSetRate);
    pg->addWidget(Label(QStringLiteral("Set Flow Rate (ml/hr)"), rate), 0, 0);
    pg->addWidget(rate, 0, 1);
    QLineEdit* total = AddNumberField(SetupField::FlowTotalVolume, QStringLiteral("0"));
    total->setToolTip(tip::kTotalVolume);
    pg->addWidget(Label(QStringLiteral("Total Volume (ml)"), total), 1, 0);
    pg->addWidget(total, 1, 1);
    QCheckBox* tolCheck =
        AddCheck(SetupCheck::Tolerance, QStringLiteral("Tolerance %"), tip::kTolerance);
    tolCheck->setChecked(true);
    QLineEdit* tolEdit = AddNumberField(SetupField::FlowTolerance, tolerance);
    pg->addWidget(tolCheck, 2, 0);
    pg->addWidget(tolEdit, 2, 1);
    QCheckBox* autoStart =
        AddCheck(SetupCheck::AutoStart, QStringLiteral("Use AutoStart    "), tip::kAutoStart);
    autoStart->setChecked(true);
    pg->addWidget(autoStart, 3, 0, 1, 2);
    // Either way the value goes back to the default tolerance.
    connect(tolCheck, &QCheckBox::clicked, this, [this, tolEdit](bool checked) {
        tolEdit->setEnabled(checked);
        tolEdit->setText(QString::number(m_sheet.FlowTolerance()));
    });

    auto* stop = new QGroupBox(QStringLiteral("Stop Test when..."));
    auto* sg = new QGridLayout(stop);
    BuildStopOptions(sg, 0, SetupField::FlowStopVolume, SetupField::FlowHours,
                     SetupField::FlowMinutes);

    auto* top = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(params);
    row->addWidget(stop);
    top->addLayout(row);
    top->addWidget(BuildEquipmentBox(true));
    top->addStretch();
}

bool CSetupFlowDlg::ShowsCopiedVolume() const {
    return FlowShowsCopiedVolume(EquipmentEdit(0)->text());
}

void CSetupFlowDlg::ReadForm(SetupForm& form) const {
    ReadEquipment(form);
    SetupFlowForm& f = form.flow;
    f.setFlowRate = Edit(SetupField::FlowSetRate)->text();
    f.totalVolume = Edit(SetupField::FlowTotalVolume)->text();
    f.toleranceOverride = Check(SetupCheck::Tolerance)->isChecked();
    f.tolerance = Edit(SetupField::FlowTolerance)->text();
    f.autoStart = Check(SetupCheck::AutoStart)->isChecked();
    f.stopOnVolume = Check(SetupCheck::StopVolume)->isChecked();
    f.stopVolume = Edit(SetupField::FlowStopVolume)->text();
    f.stopOnTime = Check(SetupCheck::StopTime)->isChecked();
    f.stopHours = Edit(SetupField::FlowHours)->text();
    f.stopMinutes = Edit(SetupField::FlowMinutes)->text();
    f.firstCondition = Check(SetupCheck::FirstCondition)->isChecked();
    f.bothConditions = Check(SetupCheck::BothConditions)->isChecked();
}

// ---------------------------------------------------------------------------
// CSetupOcclusionDlg

CSetupOcclusionDlg::CSetupOcclusionDlg(CSetupSheet& sheet, QWidget* parent)
    : CSetupPage(SetupPage::Occlusion, sheet, parent) {
    auto* params = new QGroupBox(QStringLiteral("Occlusion Test Parameters"));
    auto* pg = new QGridLayout(params);
    QLineEdit* rate = AddNumberField(SetupField::OcclusionSetRate, QStringLiteral("0"));
    rate->setToolTip(tip::kSetRate);
    pg->addWidget(Label(QStringLiteral("Set Flow Rate (ml/hr)"), rate), 0, 0);
    pg->addWidget(rate, 0, 1);

    m_time = AddCheck(SetupCheck::StopTime, QStringLiteral("... Time reached"), tip::kTimeReached);
    QLineEdit* h = AddNumberField(SetupField::OcclusionHours, QStringLiteral("0"));
    QLineEdit* m = AddNumberField(SetupField::OcclusionMinutes, QStringLiteral("0"));
    h->setToolTip(tip::kStopTime);
    m->setToolTip(tip::kStopTime);
    auto* hm = new QHBoxLayout;
    hm->addWidget(h);
    hm->addWidget(Label(QStringLiteral("Hours"), h));
    hm->addWidget(m);
    hm->addWidget(Label(QStringLiteral("Mins"), m));
    pg->addWidget(m_time, 1, 0);
    pg->addLayout(hm, 1, 1);
    pg->setColumnStretch(2, 1);
    SetEnabled({SetupField::OcclusionHours, SetupField::OcclusionMinutes}, false);
    connect(m_time, &QCheckBox::toggled, this, [this](bool checked) {
        SetEnabled({SetupField::OcclusionHours, SetupField::OcclusionMinutes}, checked);
    });

    auto* top = new QVBoxLayout(this);
    top->addWidget(params);
    top->addWidget(BuildEquipmentBox(true));
    top->addStretch();
}

void CSetupOcclusionDlg::ReadForm(SetupForm& form) const {
    ReadEquipment(form);
    SetupOcclusionForm& f = form.occlusion;
    f.setFlowRate = Edit(SetupField::OcclusionSetRate)->text();
    f.stopOnTime = m_time->isChecked();
    f.stopHours = Edit(SetupField::OcclusionHours)->text();
    f.stopMinutes = Edit(SetupField::OcclusionMinutes)->text();
}

// ---------------------------------------------------------------------------
// CSetupPcaDlg

CSetupPcaDlg::CSetupPcaDlg(CSetupSheet& sheet, QWidget* parent)
    : CSetupPage(SetupPage::Pca, sheet, parent) {
    auto* params = new QGroupBox(QStringLiteral("PCA / Dual Flow Test Parameters"));
    auto* pg = new QGridLayout(params);
    int row = 0;
    auto addRow = [&](SetupField field, const QString& label, const QString& tipText) {
        QLineEdit* e = AddNumberField(field, QStringLiteral("0"));
        SetTip(e, tipText);
        pg->addWidget(Label(label, e), row, 0);
        pg->addWidget(e, row, 1, 1, 4);
        ++row;
        return e;
    };
    QLineEdit* basal =
        addRow(SetupField::PcaBasalRate,
               QStringLiteral("Basal / Primary Flow Rate (ml/hr)   (Continuous)"), tip::kSetRate);
    addRow(SetupField::PcaTotalVolume, QStringLiteral("Total Volume (ml)"), tip::kTotalVolume);
    addRow(SetupField::PcaBolusVolume, QStringLiteral("Bolus / Secondary Volume  (ml)"),
           tip::kBolus);

    QLineEdit* lm = AddNumberField(SetupField::PcaLockoutMinutes, QStringLiteral("0"));
    QLineEdit* ls = AddNumberField(SetupField::PcaLockoutSeconds, QStringLiteral("0"));
    lm->setToolTip(tip::kLockout);
    ls->setToolTip(tip::kLockout);
    pg->addWidget(Label(QStringLiteral("Lockout Time"), lm), row, 0);
    pg->addWidget(lm, row, 1);
    pg->addWidget(Label(QStringLiteral("Min"), lm), row, 2);
    pg->addWidget(ls, row, 3);
    pg->addWidget(Label(QStringLiteral("Sec"), ls), row, 4);
    ++row;
    addRow(SetupField::PcaLoadingDose, QStringLiteral("Loading Dose (ml)"), tip::kLoadingDose);

    QCheckBox* tolCheck =
        AddCheck(SetupCheck::Tolerance, QStringLiteral("Tolerance %"), tip::kTolerance);
    tolCheck->setChecked(true);
    QLineEdit* tolEdit =
        AddNumberField(SetupField::PcaTolerance, QString::number(sheet.FlowTolerance()));
    pg->addWidget(tolCheck, row, 0);
    pg->addWidget(tolEdit, row, 1, 1, 4);
    ++row;
    connect(tolCheck, &QCheckBox::clicked, this, [tolEdit](bool checked) {
        if (!checked) tolEdit->setText(QStringLiteral("0"));
        tolEdit->setEnabled(checked);
    });

    QCheckBox* autoStart =
        AddCheck(SetupCheck::AutoStart, QStringLiteral("Use AutoStart    "), tip::kAutoStart);
    pg->addWidget(autoStart, row, 0, 1, 5);
    autoStart->setChecked(AutoStartForBasalRate(basal->text()).value_or(true));
    connect(basal, &QLineEdit::textChanged, this, [autoStart](const QString& text) {
        if (const std::optional<bool> on = AutoStartForBasalRate(text)) autoStart->setChecked(*on);
    });

    auto* stop = new QGroupBox(QStringLiteral("Stop Test when..."));
    auto* sg = new QGridLayout(stop);
    BuildStopOptions(sg, 0, SetupField::PcaStopVolume, SetupField::PcaHours,
                     SetupField::PcaMinutes);

    auto* top = new QVBoxLayout(this);
    auto* r = new QHBoxLayout;
    r->addWidget(params);
    r->addWidget(stop);
    top->addLayout(r);
    top->addWidget(BuildEquipmentBox(false));
    top->addStretch();
}

void CSetupPcaDlg::ReadForm(SetupForm& form) const {
    ReadEquipment(form);
    SetupPcaForm& f = form.pca;
    f.basalRate = Edit(SetupField::PcaBasalRate)->text();
    f.totalVolume = Edit(SetupField::PcaTotalVolume)->text();
    f.bolusVolume = Edit(SetupField::PcaBolusVolume)->text();
    f.lockoutMinutes = Edit(SetupField::PcaLockoutMinutes)->text();
    f.lockoutSeconds = Edit(SetupField::PcaLockoutSeconds)->text();
    f.loadingDose = Edit(SetupField::PcaLoadingDose)->text();
    f.toleranceOverride = Check(SetupCheck::Tolerance)->isChecked();
    f.tolerance = Edit(SetupField::PcaTolerance)->text();
    f.autoStart = Check(SetupCheck::AutoStart)->isChecked();
    f.stopOnVolume = Check(SetupCheck::StopVolume)->isChecked();
    f.stopVolume = Edit(SetupField::PcaStopVolume)->text();
    f.stopOnTime = Check(SetupCheck::StopTime)->isChecked();
    f.stopHours = Edit(SetupField::PcaHours)->text();
    f.stopMinutes = Edit(SetupField::PcaMinutes)->text();
    f.firstCondition = Check(SetupCheck::FirstCondition)->isChecked();
    f.bothConditions = Check(SetupCheck::BothConditions)->isChecked();
}

// ---------------------------------------------------------------------------
// CSetupTemplateDlg

namespace {
constexpr int kFileNameRole = Qt::UserRole;
}

CSetupTemplateDlg::CSetupTemplateDlg(CSetupSheet& sheet, QWidget* parent)
    : CSetupPage(SetupPage::Template, sheet, parent) {
    auto* box = new QGroupBox(QStringLiteral("Template Selection"));
    auto* bl = new QVBoxLayout(box);
    m_list = new QTreeWidget;
    m_list->setRootIsDecorated(false);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels(
        {QString(), QStringLiteral("TemplateName"), QStringLiteral("Device Comments")});
    // Fixed column widths, the tick column narrower than Qt's default minimum.
    m_list->header()->setMinimumSectionSize(20);
    m_list->header()->setStretchLastSection(false);
    m_list->setColumnWidth(0, 25);
    m_list->setColumnWidth(1, 250);
    m_list->setColumnWidth(2, 280);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    bl->addWidget(m_list);
    m_fields.insert(SetupField::TemplateList, m_list);
    Fill();
    connect(m_list, &QTreeWidget::itemChanged, this, &CSetupTemplateDlg::OnItemChanged);
    // Double-clicking a row shows its template, read-only, before it is run.
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        TemplateStore* store = m_sheet.Context().templates;
        if (!store || !item) return;
        CTemplateCreateDlg view(*store, TemplateEditor::Mode::View,
                                item->data(0, kFileNameRole).toString(), this);
        view.exec();
    });

    auto* top = new QVBoxLayout(this);
    top->addWidget(box);
    top->addWidget(BuildEquipmentBox(true));
}

void CSetupTemplateDlg::Fill() {
    TemplateStore* store = m_sheet.Context().templates;
    QList<TemplateRow> rows;
    if (!store) return;
    // Opened at start-up; a store that failed then gets another chance.
    if (!store->IsOpen() && !store->Open()) return;
    if (!store->ListRows(rows)) return;
    for (const TemplateRow& r : rows) {
        auto* item = new QTreeWidgetItem(m_list, {QString(), r.name, r.deviceComments});
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        item->setCheckState(0, Qt::Unchecked);
        item->setData(0, kFileNameRole, r.fileName);
    }
}

void CSetupTemplateDlg::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (column != 0 || item->checkState(0) != Qt::Checked) return;
    // One tick at most: ticking a row unticks the one ticked before.
    const QSignalBlocker block(m_list);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* other = m_list->topLevelItem(i);
        if (other != item && other->checkState(0) != Qt::Unchecked)
            other->setCheckState(0, Qt::Unchecked);
    }
}

QTreeWidgetItem* CSetupTemplateDlg::TickedItem() const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->checkState(0) == Qt::Checked) return m_list->topLevelItem(i);
    return nullptr;
}

void CSetupTemplateDlg::ReadForm(SetupForm& form) const {
    ReadEquipment(form);
    form.templ = {};
    if (QTreeWidgetItem* item = TickedItem()) {
        form.templ.selected = true;
        form.templ.name = item->text(1);
        form.templ.fileName = item->data(0, kFileNameRole).toString();
    }
}
