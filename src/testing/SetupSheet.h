#pragma once

#include "SetupAccept.h"
#include "SetupSheetRunner.h"

#include <QDialog>

class CDevice;
class CSetupPage;
class QPushButton;
class QTabWidget;
struct EquipmentDetails;

// The test setup sheet of one analyzer channel: Flow, Occlusion and (unless
// the analyzer is a PXR2K) PCA / Dual Flow and Template. The page showing at
// OK decides the test; OK validates it and leaves the parameter block with
// the device. Cancel writes nothing.
class CSetupSheet : public QDialog {
    Q_OBJECT
public:
    CSetupSheet(CDevice& device, int channelIndex, const QString& title, bool allPages,
                QWidget* parent = nullptr,
                setupsheet::SetupContext context = setupsheet::SetupContext::FromApp());

    QTabWidget* Tabs() const { return m_tabs; }
    // The page of that kind, or nullptr when it is not offered.
    CSetupPage* Page(setupsheet::SetupPage kind) const;
    CSetupPage* CurrentPage() const;
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    // The sheet's copy of the equipment texts.
    const setupsheet::SetupEquipment& SheetEquipment() const { return m_equipment; }
    // "FlowTolerance" of the settings, the tolerance default.
    int FlowTolerance() const { return m_flowTolerance; }
    // The latest records-index entry of a control number.
    bool LookUpEquipment(const QString& controlNumber, EquipmentDetails& details) const;
    const setupsheet::SetupContext& Context() const { return m_context; }

    // OK: validation of the page showing; closes only when it passes.
    void accept() override;

private:
    void OnCurrentChanged(int index);
    void ShowProblem(const setupsheet::SetupProblem& problem, CSetupPage* page);

    CDevice& m_device;
    int m_channel;
    setupsheet::SetupContext m_context;
    int m_flowTolerance = 0;
    setupsheet::SetupEquipment m_equipment;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    int m_shownIndex = 0;
};

// The run controller's way to the sheet on screen.
class DialogSetupSheetRunner : public SetupSheetRunner {
public:
    explicit DialogSetupSheetRunner(QWidget* parent = nullptr) : m_parent(parent) {}
    bool RunSetupSheet(CDevice& device, int channelIndex, const QString& title,
                       bool allPages) override;

private:
    QWidget* m_parent;
};
