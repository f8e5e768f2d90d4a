#include "BuildIndexDlg.h"

#include "IndexBuildJob.h"
#include "RecordIndex.h"
#include "TemplateStore.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CBuildIndexDlg::CBuildIndexDlg(RecordIndex& records, TemplateStore& templates,
                               const AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_records(records), m_templates(templates), m_settings(settings),
      m_record(new QRadioButton(QStringLiteral("Record"))),
      m_template(new QRadioButton(QStringLiteral("Template"))), m_status(new QLabel),
      m_progress(new QProgressBar), m_yes(new QPushButton(QStringLiteral("Yes"))),
      m_no(new QPushButton(QStringLiteral("No"))), m_ok(new QPushButton(QStringLiteral("Ok"))),
      m_cancel(new QPushButton(QStringLiteral("Cancel"))) {
    setWindowTitle(QStringLiteral("Build Index"));
    auto* group = new QGroupBox(QStringLiteral("Select Type of Build Index"));
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(m_record);
    groupLayout->addWidget(m_template);
    m_record->setChecked(true);
    m_record->setToolTip(QStringLiteral("On Selection builds record index."));
    m_template->setToolTip(QStringLiteral("On Selection builds Template  index."));
    m_yes->setToolTip(QStringLiteral("Start to build or re-bulid the index of test results."));
    m_no->setToolTip(QStringLiteral("Do NOT build the index of test results. Closes this dialog."));
    m_ok->setToolTip(QStringLiteral("Confirm completion of index build."));
    m_cancel->setToolTip(QStringLiteral("Stops the build and keeps the index as it was."));
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(3 * fontMetrics().height());
    m_status->setTextFormat(Qt::PlainText);
    m_progress->setVisible(false);
    m_cancel->setVisible(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {m_yes, m_no, m_ok, m_cancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(
        new QLabel(QStringLiteral("This will build or rebuild the index of saved results.")));
    layout->addWidget(new QLabel(QStringLiteral("Do you wish to continue ?")));
    layout->addWidget(m_status);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);

    for (QRadioButton* r : {m_record, m_template})
        connect(r, &QRadioButton::clicked, this, [this] {
            m_yes->setEnabled(true);
            m_no->setEnabled(true);
        });
    connect(m_yes, &QPushButton::clicked, this, &CBuildIndexDlg::OnYes);
    connect(m_no, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (!m_job) return;
        m_job->Cancel();
        m_cancel->setEnabled(false);
        m_status->setText(QStringLiteral("Cancelling..."));
    });
}

CBuildIndexDlg::~CBuildIndexDlg() = default; // the job waits for its worker

void CBuildIndexDlg::reject() {
    // Closing from the title bar while the rebuild runs cancels it first.
    if (m_job && m_job->Running()) {
        m_job->Cancel();
        return;
    }
    QDialog::reject();
}

void CBuildIndexDlg::OnYes() {
    const bool records = m_record->isChecked();
    m_yes->setEnabled(false);
    m_no->setEnabled(false);
    m_ok->setEnabled(false);
    if (records && !m_records.IsOpen()) {
        ThePrompter().Message(QStringLiteral(
            "Unable to open the database, please make sure the current path is valid."));
        m_ok->setEnabled(true); // a way out besides the title bar
        return;
    }
    const QString data = records ? m_records.DataFolder() : m_templates.DataFolder();
    const QString seed = records ? m_records.SeedFolder() : m_templates.SeedFolder();
    m_job = std::make_unique<IndexBuildJob>(records ? IndexBuildJob::Kind::Records
                                                    : IndexBuildJob::Kind::Templates,
                                            m_settings, data, seed);
    m_progress->setRange(0, qMax(1, m_job->FileCount()));
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_cancel->setVisible(true);
    m_cancel->setEnabled(true);
    m_record->setEnabled(false);
    m_template->setEnabled(false);
    connect(m_job.get(), &IndexBuildJob::Progress, this,
            [this](int number, const QString& fileName) {
                m_status->setText(
                    QStringLiteral("Adding file %1 (%2) to the index.").arg(number).arg(fileName));
                m_progress->setValue(qMin(number, m_progress->maximum()));
            });
    connect(m_job.get(), &IndexBuildJob::Finished, this, &CBuildIndexDlg::OnFinished);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_job->Start();
}

void CBuildIndexDlg::OnFinished() {
    QApplication::restoreOverrideCursor();
    const RebuildResult& r = m_job->Result();
    const bool records = m_job->GetKind() == IndexBuildJob::Kind::Records;
    // The user-interface thread's cursor reads the table again.
    if (records)
        m_records.Open();
    else
        m_templates.Open();
    m_cancel->setVisible(false);
    m_progress->setValue(m_progress->maximum());
    QString text;
    if (r.cancelled) {
        text = QStringLiteral("Index build cancelled. The index was left as it was.");
    } else if (!m_job->Error().isEmpty()) {
        text = QStringLiteral("The index could not be rebuilt (%1). The index was left as it was.")
                   .arg(m_job->Error());
    } else {
        text =
            QStringLiteral("Index Operation Complete\n\n%1 Files Processed.").arg(r.filesProcessed);
        if (!r.unreadable.isEmpty())
            text += QLatin1Char('\n') + store::UnreadableSummary(r.unreadable);
        if (records)
            m_settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                                    QStringLiteral("0"));
    }
    m_status->setText(text);
    m_ok->setEnabled(true);
    m_ok->setFocus();
}
