#pragma once

#include <QDialog>

#include <memory>

class AppSettings;
class IndexBuildJob;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class RecordIndex;
class TemplateStore;

// "Build Index": rebuilds the records index or the template index from the
// files of the data folder. The rebuild runs on a worker thread with a
// progress bar and can be cancelled; a cancelled or failed rebuild keeps the
// old index and says so.
class CBuildIndexDlg : public QDialog {
    Q_OBJECT
public:
    CBuildIndexDlg(RecordIndex& records, TemplateStore& templates, const AppSettings& settings,
                   QWidget* parent = nullptr);
    ~CBuildIndexDlg() override;

    QRadioButton* RecordButton() const { return m_record; }
    QRadioButton* TemplateButton() const { return m_template; }
    QPushButton* YesButton() const { return m_yes; }
    QPushButton* NoButton() const { return m_no; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* StatusLine() const { return m_status; }
    QProgressBar* ProgressBar() const { return m_progress; }
    IndexBuildJob* Job() const { return m_job.get(); }

protected:
    void reject() override;

private:
    void OnYes();
    void OnFinished();

    RecordIndex& m_records;
    TemplateStore& m_templates;
    const AppSettings& m_settings;
    QRadioButton* m_record;
    QRadioButton* m_template;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_yes;
    QPushButton* m_no;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    std::unique_ptr<IndexBuildJob> m_job;
};
