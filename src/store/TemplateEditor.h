#pragma once

#include "records/Template.h"

#include <QString>
#include <QStringList>

#include <array>

class TemplateStore;

// The rules of the template editor, without widgets: the six step rows with
// the entries their drop-down lists offer, the field texts, which fields are
// read-only, the PCA/bolus coupling, and saving with every check. The dialog
// shows this state and passes the user's choices in.
class TemplateEditor {
public:
    enum class Mode { Create = 1, Edit = 2, View = 3 };
    static constexpr int kRows = Template::kSlots;

    struct Row {
        QStringList typeItems;
        int typeIndex = -1; // -1: nothing selected
        QStringList unitItems;
        int unitIndex = -1;
        QString rate, volume, hours, minutes, tolerance;
        bool valuesReadOnly = false; // rate, time and tolerance of a bolus row
        bool pca = false;            // the row below is this PCA step's bolus row
        bool changed = false;
        QString TypeText() const { return typeItems.value(typeIndex); }
    };

    explicit TemplateEditor(Mode mode = Mode::Create);

    Mode GetMode() const { return m_mode; }
    bool ReadOnly() const { return m_mode == Mode::View; }
    // Rows are numbered 1..6.
    const Row& RowAt(int n) const { return m_rows[size_t(n - 1)]; }
    const TemplateStep& Slot(int n) const { return m_template.steps[size_t(n - 1)]; }
    const Template& GetTemplate() const { return m_template; }

    // Fills the rows from a template read from its file (edit and view).
    void Load(const Template& t);

    QString name, comment;
    void SetComment(const QString& text);
    void SetText(int n, QString Row::*field, const QString& text);

    // The user picks an entry of a row's type list ("" for none).
    void ChooseType(int n, const QString& text);
    void ChooseUnit(int n, const QString& text);
    // The row's "Delete" button.
    void Delete(int n);
    // "Clear All", once the user said Yes.
    void ClearAll();

    // Save checks in their order; returns the first failure's message (empty
    // when every check passes). A failed range check empties its field; a
    // refused name empties the name. Passing checks store their values.
    QString Check();
    // The template as written: gaps closed, step count recounted.
    Template Compacted() const;
    // Check, then write the file and its index row. Messages go to the
    // prompter. True when the editor may close.
    bool Save(TemplateStore& store, const QString& editedFileName,
              QString* writtenFileName = nullptr);

    static const QString kSpecialCharacters;

private:
    Row& R(int n) { return m_rows[size_t(n - 1)]; }
    TemplateStep& S(int n) { return m_template.steps[size_t(n - 1)]; }
    void ClearRow(int n);
    void ResetBolusRowBelow(int n);
    void MakeEditable(int n) { R(n).valuesReadOnly = false; }

    Mode m_mode;
    std::array<Row, kRows> m_rows;
    Template m_template;
};
