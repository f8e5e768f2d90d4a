#pragma once

#include "testing/RunController.h"

#include <QDialog>

class QCheckBox;

// "Template Next Step": what comes next in a template run, and the choice of
// Next Step, Repeat Step or Save and Exit.
class CTemplateNextStepDlg : public QDialog {
    Q_OBJECT
public:
    CTemplateNextStepDlg(const RunController::NextStepInfo& info, QWidget* parent = nullptr);

    RunController::NextChoice Choice() const { return m_choice; }
    bool AutoStart() const { return m_autoStart; }
    QCheckBox* AutoStartBox() const { return m_autoStartBox; }

    // Runs the dialog as the run controller's chooser.
    static RunController::NextChoice Choose(const RunController::NextStepInfo& info,
                                            bool& autoStart, QWidget* parent);

private:
    RunController::NextChoice m_choice = RunController::NextChoice::SaveAndExit;
    bool m_autoStart = false;
    QCheckBox* m_autoStartBox;
};
