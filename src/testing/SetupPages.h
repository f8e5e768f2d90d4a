#pragma once

#include "SetupForm.h"
#include "SetupRules.h"

#include <QHash>
#include <QWidget>

class CSetupSheet;
class QCheckBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The check boxes a page may have.
enum class SetupCheck {
    Tolerance,
    AutoStart,
    StopVolume,
    StopTime,
    FirstCondition,
    BothConditions
};

// One page of the test setup sheet. Every page carries the seven equipment
// fields; the sheet moves their values along when the user changes page.
class CSetupPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kEquipmentFields = 7;

    setupsheet::SetupPage Kind() const { return m_kind; }

    // The equipment texts; setting them does not look the control number up.
    setupsheet::SetupEquipment Equipment() const;
    void SetEquipment(const setupsheet::SetupEquipment& e);
    // The page's own texts and ticks into form (equipment included).
    virtual void ReadForm(setupsheet::SetupForm& form) const = 0;

    // The widget a failed check puts the focus on (nullptr when not here).
    QWidget* FieldWidget(setupsheet::SetupField field) const { return m_fields.value(field); }
    QLineEdit* Edit(setupsheet::SetupField field) const;
    // Equipment fields in order: control number, operator, manufacturer,
    // device type, serial number, location, comments.
    QLineEdit* EquipmentEdit(int index) const { return m_equipment[index]; }
    QPushButton* ClearButton() const { return m_clear; }
    QCheckBox* Check(SetupCheck check) const { return m_checks.value(check); }

    // "Clear Fields": empties the seven equipment fields.
    void ClearFields();

protected:
    CSetupPage(setupsheet::SetupPage kind, CSetupSheet& sheet, QWidget* parent);

    // The equipment box with "Clear Fields" (tipped or not).
    QWidget* BuildEquipmentBox(bool clearTip);
    // A numeric field: character limit, validator, the two-decimal rule.
    QLineEdit* AddNumberField(setupsheet::SetupField field, const QString& text);
    QCheckBox* AddCheck(SetupCheck check, const QString& label, const QString& tip = {});
    void ReadEquipment(setupsheet::SetupForm& form) const { form.equipment = Equipment(); }
    void SetEnabled(std::initializer_list<setupsheet::SetupField> fields, bool enabled);

    // The stop options of the Flow and PCA / Dual Flow pages.
    void BuildStopOptions(QGridLayout* grid, int row, setupsheet::SetupField stopVolume,
                          setupsheet::SetupField hours, setupsheet::SetupField minutes);
    void ApplyStopOptions(const setupsheet::StopOptions& s);
    virtual bool ShowsCopiedVolume() const = 0;
    virtual setupsheet::SetupField TotalVolumeField() const = 0;

    CSetupSheet& m_sheet;
    QHash<setupsheet::SetupField, QWidget*> m_fields;
    QHash<SetupCheck, QCheckBox*> m_checks;

private:
    void OnControlNumberChanged(const QString& text);
    void OnStopOptionClicked(setupsheet::StopOption option, bool checked);

    setupsheet::SetupPage m_kind;
    QLineEdit* m_equipment[kEquipmentFields] = {};
    QPushButton* m_clear = nullptr;
    bool m_settingEquipment = false;
    setupsheet::SetupField m_stopVolume = setupsheet::SetupField::None;
    setupsheet::SetupField m_stopHours = setupsheet::SetupField::None;
    setupsheet::SetupField m_stopMinutes = setupsheet::SetupField::None;
};

// "Flow".
class CSetupFlowDlg : public CSetupPage {
    Q_OBJECT
public:
    CSetupFlowDlg(CSetupSheet& sheet, QWidget* parent = nullptr);
    void ReadForm(setupsheet::SetupForm& form) const override;

protected:
    bool ShowsCopiedVolume() const override;
    setupsheet::SetupField TotalVolumeField() const override {
        return setupsheet::SetupField::FlowTotalVolume;
    }
};

// "Occlusion".
class CSetupOcclusionDlg : public CSetupPage {
    Q_OBJECT
public:
    CSetupOcclusionDlg(CSetupSheet& sheet, QWidget* parent = nullptr);
    void ReadForm(setupsheet::SetupForm& form) const override;

protected:
    bool ShowsCopiedVolume() const override { return false; }
    setupsheet::SetupField TotalVolumeField() const override {
        return setupsheet::SetupField::None;
    }

private:
    QCheckBox* m_time = nullptr;
};

// "PCA / Dual Flow".
class CSetupPcaDlg : public CSetupPage {
    Q_OBJECT
public:
    CSetupPcaDlg(CSetupSheet& sheet, QWidget* parent = nullptr);
    void ReadForm(setupsheet::SetupForm& form) const override;

protected:
    bool ShowsCopiedVolume() const override { return true; }
    setupsheet::SetupField TotalVolumeField() const override {
        return setupsheet::SetupField::PcaTotalVolume;
    }
};

// "Template": the template store's templates, at most one ticked.
class CSetupTemplateDlg : public CSetupPage {
    Q_OBJECT
public:
    CSetupTemplateDlg(CSetupSheet& sheet, QWidget* parent = nullptr);
    void ReadForm(setupsheet::SetupForm& form) const override;

    QTreeWidget* List() const { return m_list; }
    // The ticked row, or nullptr.
    QTreeWidgetItem* TickedItem() const;

protected:
    bool ShowsCopiedVolume() const override { return false; }
    setupsheet::SetupField TotalVolumeField() const override {
        return setupsheet::SetupField::None;
    }

private:
    void Fill();
    void OnItemChanged(QTreeWidgetItem* item, int column);

    QTreeWidget* m_list = nullptr;
};
