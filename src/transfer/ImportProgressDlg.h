#pragma once

#include "transfer/ImportDownload.h"

#include <QDialog>

#include <memory>

class CDevice;
class QLabel;
class QProgressBar;
class QPushButton;

// "Import items from device": counts the analyzer's records or templates,
// downloads them (or the user notes) on a worker thread and shows how far it
// got. Cancel stops between items. The dialog closes itself when the worker
// is done; the page that opened it reads Result() afterwards.
class CImportProgressDlg : public QDialog {
    Q_OBJECT
public:
    using Mode = ImportDownload::Mode;

    // target: the staging folder, or the notes file.
    CImportProgressDlg(CDevice& device, Mode mode, const QString& target,
                       QWidget* parent = nullptr);
    ~CImportProgressDlg() override;

    ImportDownload::Result Result() const { return m_result; }

    QLabel* SummaryText() const { return m_summary; }
    QLabel* CurrentText() const { return m_current; }
    QLabel* LineText() const { return m_lines; }
    QLabel* StatusText() const { return m_status; }
    QProgressBar* SteppedBar() const { return m_stepped; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void StartWorker();
    void OnCounted(int count);
    void OnItemStarted(int n, int count, int lineBase);
    void OnLines(int total);
    void OnFinished();
    void SetText(QLabel* label, const QString& text);

    CDevice& m_device;
    Mode m_mode;
    std::unique_ptr<ImportDownload> m_job;
    ImportDownload::Result m_result;
    bool m_busy = false;
    bool m_started = false;
    bool m_cancelling = false;
    int m_lineBase = 0;
    int m_item = 0, m_count = 0;

    QLabel* m_summary;
    QLabel* m_current;
    QLabel* m_lines;
    QProgressBar* m_stepped;
    QProgressBar* m_marquee;
    QLabel* m_status;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};
