#pragma once

#include <QDialog>

class QPushButton;
class QTabWidget;

// The tabbed sheet the import and export commands open. A transfer page acts
// on its own buttons, so the sheet keeps only the button that closes it:
// Apply, OK and Help are hidden and Cancel takes the place at the right end
// of the button row where they stood.
class CTransferSheet : public QDialog {
    Q_OBJECT
public:
    explicit CTransferSheet(const QString& title, QWidget* parent = nullptr);

    // Adds a page under its tab caption, in order.
    void AddPage(QWidget* page, const QString& caption);

    QTabWidget* Tabs() const { return m_tabs; }
    QPushButton* CancelButton() const { return m_cancel; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* HelpButton() const { return m_help; }

private:
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_help = nullptr;
};
