#pragma once

#include <QDialog>

#include <atomic>

class CDevice;
class QLineEdit;

// "PXR Information": what the analyzer reports about itself. The requests
// run off the window's thread, so a silent analyzer never freezes it.
class CDeviceInfoDlg : public QDialog {
    Q_OBJECT
public:
    CDeviceInfoDlg(CDevice& device, QWidget* parent = nullptr);
    ~CDeviceInfoDlg() override;

    QString Field(const QString& name) const; // "Manufacturer", "Channel 2 S/N " ...
    // True once every request has answered or failed.
    bool Finished() const { return m_finished; }

Q_SIGNALS:
    void Filled();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Answers;
    void Show(const Answers& a);
    void ParametersFailed();

    QHash<QString, QLineEdit*> m_fields;
    QThread* m_worker = nullptr;
    bool m_finished = false;
    bool m_paramsReported = false;
    std::atomic<bool> m_cancel{false};
};
