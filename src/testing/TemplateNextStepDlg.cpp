#include "TemplateNextStepDlg.h"

#include "records/Template.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CTemplateNextStepDlg::CTemplateNextStepDlg(const RunController::NextStepInfo& info, QWidget* parent)
    : QDialog(parent), m_autoStartBox(new QCheckBox(QStringLiteral("AutoStart"), this)) {
    setWindowTitle(QStringLiteral("Template Next Step"));
    auto* form = new QFormLayout;
    const auto field = [&](const QString& label, const QString& value) {
        auto* edit = new QLineEdit(value, this);
        edit->setReadOnly(true);
        edit->setObjectName(label.trimmed());
        form->addRow(label, edit);
    };
    QString type = QStringLiteral(" ");
    switch (info.type) {
    case TemplateStep::Flow:
        type = QStringLiteral("Flow");
        break;
    case TemplateStep::Occlusion:
        type = QStringLiteral("Occlusion");
        break;
    case TemplateStep::Pca:
        type = QStringLiteral("PCA");
        break;
    default:
        break;
    }
    field(QStringLiteral("Template Name "), info.templateName);
    field(QStringLiteral("Template Step"), QString::number(info.step));
    field(QStringLiteral("Set Flow Rate"), QString::asprintf("%7.2f", info.rate));
    field(QStringLiteral("Channel #"), QString::number(info.channel));
    field(QStringLiteral("Test Type"), type);

    // Flow starts by itself; occlusion never; PCA when it has a basal rate.
    const bool can =
        info.type == TemplateStep::Flow || (info.type == TemplateStep::Pca && info.rate > 0);
    m_autoStartBox->setEnabled(can);
    m_autoStartBox->setChecked(can);
    m_autoStart = can;
    connect(m_autoStartBox, &QCheckBox::toggled, this, [this](bool on) { m_autoStart = on; });

    auto* next = new QPushButton(QStringLiteral("Next Step"), this);
    auto* repeat = new QPushButton(QStringLiteral("Repeat Step"), this);
    auto* exit = new QPushButton(QStringLiteral("Save and Exit"), this);
    next->setEnabled(info.nextEnabled);
    const auto choose = [this](RunController::NextChoice c) {
        m_choice = c;
        accept();
    };
    connect(next, &QPushButton::clicked, this,
            [=] { choose(RunController::NextChoice::NextStep); });
    connect(repeat, &QPushButton::clicked, this,
            [=] { choose(RunController::NextChoice::RepeatStep); });
    connect(exit, &QPushButton::clicked, this,
            [=] { choose(RunController::NextChoice::SaveAndExit); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(next);
    buttons->addWidget(repeat);
    buttons->addWidget(exit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_autoStartBox);
    layout->addLayout(buttons);
}

RunController::NextChoice CTemplateNextStepDlg::Choose(const RunController::NextStepInfo& info,
                                                       bool& autoStart, QWidget* parent) {
    CTemplateNextStepDlg dlg(info, parent);
    // Closed without a button: the run is kept as far as it went.
    if (dlg.exec() != QDialog::Accepted) return RunController::NextChoice::SaveAndExit;
    autoStart = dlg.AutoStart();
    return dlg.Choice();
}
