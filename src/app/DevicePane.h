#pragma once

#include <QToolBar>

class QLabel;
class QPushButton;

// The device selector bar: one button per analyzer slot, "ViewAll", and the
// four battery indicators.
class CDialogTopDevicePane : public QToolBar {
    Q_OBJECT
public:
    explicit CDialogTopDevicePane(QWidget* parent = nullptr);

    // Button texts and enabling from the application state.
    void UpdateControls();
    void SetBatteryIndicator(int slot, char state);

    QPushButton* AnalyzerButton(int slot) const { return m_buttons[slot - 1]; }
    QPushButton* ViewAllButton() const { return m_viewAll; }
    char BatteryIndicator(int slot) const { return m_battery[slot - 1]; }

Q_SIGNALS:
    // The selection changed; the frame arranges its windows.
    void ArrangeRequested();

private:
    QPushButton* m_buttons[4];
    QPushButton* m_viewAll;
    QLabel* m_images[4];
    char m_battery[4] = {'N', 'N', 'N', 'N'};
};
