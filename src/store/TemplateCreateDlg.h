#pragma once

#include "TemplateEditor.h"

#include <QDialog>

#include <array>

class QComboBox;
class QLineEdit;
class QPushButton;
class TemplateStore;

// "Template Detail": the template editor in its create, edit or view mode.
// The rules live in TemplateEditor; this dialog shows its state and passes
// the user's choices in. It always ends with the cancel result.
class CTemplateCreateDlg : public QDialog {
    Q_OBJECT
public:
    // fileName: the template file in the data folder (edit and view), or a
    // full path (view of a file chosen elsewhere).
    CTemplateCreateDlg(TemplateStore& store, TemplateEditor::Mode mode,
                       const QString& fileName = {}, QWidget* parent = nullptr);

    // False when the file could not be read ("File not found" was shown);
    // exec() then returns at once.
    bool Loaded() const { return m_loaded; }
    int exec() override;

    struct RowWidgets {
        QComboBox* type;
        QLineEdit* rate;
        QLineEdit* volume;
        QComboBox* unit;
        QLineEdit* hours;
        QLineEdit* minutes;
        QLineEdit* tolerance;
        QPushButton* remove;
    };
    const RowWidgets& Row(int n) const { return m_rows[size_t(n - 1)]; }
    QLineEdit* NameEdit() const { return m_name; }
    QLineEdit* CommentEdit() const { return m_comment; }
    QPushButton* SaveButton() const { return m_save; }
    QPushButton* ClearAllButton() const { return m_clearAll; }
    QPushButton* CancelButton() const { return m_cancel; }
    const TemplateEditor& Editor() const { return m_editor; }
    QString SavedFileName() const { return m_savedFile; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Refresh();
    void OnSave();
    void OnClearAll();

    TemplateStore& m_store;
    TemplateEditor m_editor;
    QString m_fileName;
    QString m_savedFile;
    bool m_loaded = true;
    std::array<RowWidgets, TemplateEditor::kRows> m_rows{};
    QLineEdit* m_name;
    QLineEdit* m_comment;
    QPushButton* m_clearAll;
    QPushButton* m_save;
    QPushButton* m_cancel;
};
