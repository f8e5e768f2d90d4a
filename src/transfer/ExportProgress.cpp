#include "ExportProgress.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <thread>

ExportOutcome RunExportWithProgress(QWidget* parent, const QString& what, ExportJob& job,
                                    const std::function<ExportOutcome()>& send) {
    QDialog dlg(parent);
    dlg.setObjectName(QStringLiteral("ExportProgress"));
    dlg.setWindowTitle(QStringLiteral("Export items to device"));
    dlg.setModal(true);
    auto* label = new QLabel(what, &dlg);
    auto* bar = new QProgressBar(&dlg);
    bar->setRange(0, 0); // until the job knows its size
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dlg);
    auto* layout = new QVBoxLayout(&dlg);
    layout->addWidget(label);
    layout->addWidget(bar);
    layout->addWidget(cancel, 0, Qt::AlignRight);

    ExportOutcome outcome;
    std::atomic<bool> finished{false};
    QObject::connect(cancel, &QPushButton::clicked, &dlg, [&] {
        job.Cancel();
        cancel->setEnabled(false);
        label->setText(QStringLiteral("Please wait cancellation is in progress..."));
    });
    // Closing the window is a Cancel too; it closes once the worker ended.
    QObject::connect(&dlg, &QDialog::rejected, &dlg, [&] { job.Cancel(); });

    std::thread worker([&] {
        outcome = send();
        finished = true;
    });
    QTimer tick;
    tick.setInterval(50);
    QObject::connect(&tick, &QTimer::timeout, &dlg, [&] {
        const qint64 total = job.Total();
        if (total > 0) {
            bar->setRange(0, 1000);
            bar->setValue(int(job.Done() * 1000 / total));
        }
        if (finished) dlg.accept();
    });
    tick.start();
    while (!finished) dlg.exec();
    tick.stop();
    worker.join();
    return outcome;
}
