#pragma once

#include "app/DefaultParametersRules.h"

#include <QDialog>
#include <QUrl>

#include <functional>

class CRivuletrixApp;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "Rivuletrix Default Parameters": report headers, default tolerance, graph
// line width, pressure unit and the data folder. Ok writes the settings and
// reopens both stores on the folder (DefaultParametersRules).
class CDefaultParameters : public QDialog {
    Q_OBJECT
public:
    explicit CDefaultParameters(CRivuletrixApp& app, QWidget* parent = nullptr);

    // Asks for a folder: (caption, starting folder) -> the chosen location,
    // empty when cancelled. Tests put a scripted picker in place of the file
    // dialog.
    using FolderPicker = std::function<QUrl(QWidget*, const QString&, const QString&)>;
    static void SetFolderPicker(FolderPicker picker);

    DefaultParametersRules& Rules() { return m_rules; }
    QLineEdit* Header(int k) const { return m_headers[k]; }
    QLineEdit* Tolerance() const { return m_tolerance; }
    QLineEdit* LineWidth() const { return m_lineWidth; }
    QComboBox* Unit() const { return m_unit; }
    QRadioButton* PathChoice(int kind) const { return m_kinds[kind]; }
    QLineEdit* PathField() const { return m_path; }
    QLabel* Reason() const { return m_reason; }
    // Read-only: which index is in use.
    QLineEdit* IndexInUse() const { return m_indexInUse; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CloseButton() const { return m_close; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Show(const DefaultParametersRules::PathView& view);
    void OnKind(int kind);
    void OnBrowse();
    void OnOk();
    // The network folder picker; false when cancelled.
    bool PickNetworkFolder(bool fromChoice);
    QUrl Pick(const QString& caption, const QString& start);

    CRivuletrixApp& m_app;
    DefaultParametersRules m_rules;
    QLineEdit* m_headers[3];
    QLineEdit* m_tolerance;
    QLineEdit* m_lineWidth;
    QComboBox* m_unit;
    QRadioButton* m_kinds[3];
    QLineEdit* m_path;
    QLabel* m_reason;
    QLineEdit* m_indexInUse;
    QPushButton* m_browse;
    QPushButton* m_ok;
    QPushButton* m_close;
    QString m_storedUnit;
};
