#include "ImportProgressDlg.h"

#include "link/Device.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

CImportProgressDlg::CImportProgressDlg(CDevice& device, Mode mode, const QString& target,
                                       QWidget* parent)
    : QDialog(parent), m_device(device), m_mode(mode),
      m_job(std::make_unique<ImportDownload>(device, mode, target)), m_summary(new QLabel(this)),
      m_current(new QLabel(this)), m_lines(new QLabel(this)), m_stepped(new QProgressBar(this)),
      m_marquee(new QProgressBar(this)), m_status(new QLabel(this)),
      m_ok(new QPushButton(QStringLiteral("Ok"), this)),
      m_cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("Import items from device"));
    setObjectName(QStringLiteral("ImportProgress"));
    m_marquee->setRange(0, 1);
    m_marquee->setTextVisible(false);
    m_stepped->setTextVisible(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : {static_cast<QWidget*>(m_summary), static_cast<QWidget*>(m_current),
                       static_cast<QWidget*>(m_lines), static_cast<QWidget*>(m_stepped),
                       static_cast<QWidget*>(m_marquee), static_cast<QWidget*>(m_status)})
        layout->addWidget(w);
    layout->addLayout(buttons);
    setMinimumWidth(380);

    m_ok->setEnabled(false);
    m_cancel->setEnabled(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CImportProgressDlg::reject);

    // The worker's signals arrive here, on the window's thread.
    connect(m_job.get(), &ImportDownload::Counted, this, &CImportProgressDlg::OnCounted,
            Qt::QueuedConnection);
    connect(m_job.get(), &ImportDownload::ItemStarted, this, &CImportProgressDlg::OnItemStarted,
            Qt::QueuedConnection);
    connect(m_job.get(), &ImportDownload::Finished, this, &CImportProgressDlg::OnFinished,
            Qt::QueuedConnection);
    if (mode == Mode::Records)
        connect(&m_device, &CDevice::RecordLinesReceived, this, &CImportProgressDlg::OnLines,
                Qt::QueuedConnection);
    if (mode == Mode::Notes) m_summary->setText(QStringLiteral("Importing User Notes"));
}

CImportProgressDlg::~CImportProgressDlg() {
    // The worker must not outlive the window it reports to.
    m_job->Cancel();
    m_job->Wait();
}

void CImportProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        QTimer::singleShot(0, this, &CImportProgressDlg::StartWorker);
    }
}

void CImportProgressDlg::StartWorker() {
    m_busy = true;
    m_marquee->setRange(0, 0); // moves while the worker runs
    m_job->Start();
}

void CImportProgressDlg::SetText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void CImportProgressDlg::OnCounted(int count) {
    m_count = count;
    const bool templates = m_mode == Mode::Templates;
    SetText(m_summary, (templates ? QStringLiteral("Total number of Templates : %1")
                                  : QStringLiteral("Total number of Records : %1"))
                           .arg(count));
    if (count > 0)
        SetText(m_current, (templates ? QStringLiteral("Retrieving Template : 1 / %1")
                                      : QStringLiteral("Retrieving Records : 1 / %1"))
                               .arg(count));
    m_stepped->setRange(0, std::max(count, 1));
    m_stepped->setValue(0);
}

void CImportProgressDlg::OnItemStarted(int n, int count, int lineBase) {
    m_item = n;
    m_lineBase = lineBase;
    m_stepped->setValue(n - 1);
    if (m_mode == Mode::Templates) {
        SetText(m_current, QStringLiteral("Retrieving Template : %1 / %2").arg(n).arg(count));
    } else {
        // Fixed-width counters: " 003 / 012", " 00042".
        SetText(m_current, QStringLiteral("Retrieving Record :  %1 / %2")
                               .arg(n, 3, 10, QLatin1Char('0'))
                               .arg(count, 3, 10, QLatin1Char('0')));
        SetText(m_lines, QStringLiteral("LineCount :  %1").arg(0, 5, 10, QLatin1Char('0')));
    }
}

void CImportProgressDlg::OnLines(int total) {
    if (!m_busy || m_item == 0) return;
    SetText(m_lines,
            QStringLiteral("LineCount :  %1").arg(total - m_lineBase, 5, 10, QLatin1Char('0')));
}

void CImportProgressDlg::OnFinished() {
    m_job->Wait();
    m_result = m_job->GetResult();
    m_marquee->setRange(0, 1);
    const bool cancelled = m_cancelling;
    m_busy = false;
    // The bar shows what was done: a cancelled run stops at the items that
    // finished (the one in progress always finishes).
    m_stepped->setValue(cancelled ? std::min(m_item, m_stepped->maximum()) : m_stepped->maximum());
    const int failed = int(m_result.failures.size());
    if (!m_result.ok && !m_result.error.isEmpty())
        SetText(m_status, m_result.error);
    else if (cancelled)
        ; // the cancellation text stays until the dialog closes
    else if (failed > 0)
        SetText(m_status, QStringLiteral("%1 of %2 not imported").arg(failed).arg(m_count));
    else
        SetText(m_status, QStringLiteral("Successfully imported"));
    m_ok->setEnabled(true);
    m_cancel->setEnabled(false);
    // A cancelled run shows its text a moment longer; a finished one closes.
    QTimer::singleShot(cancelled ? 300 : 0, this, [this] { done(QDialog::Rejected); });
}

void CImportProgressDlg::reject() {
    if (m_busy) {
        if (!m_cancelling) {
            m_cancelling = true;
            SetText(m_status, QStringLiteral("Please wait cancellation is in progress..."));
            m_cancel->setEnabled(false);
            m_job->Cancel();
        }
        return; // closes once the worker is done
    }
    QDialog::reject();
}
