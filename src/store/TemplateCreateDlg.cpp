#include "TemplateCreateDlg.h"

#include "TemplateStore.h"
#include "base/Prompter.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

void SetItems(QComboBox* box, const QStringList& items, int index) {
    const QSignalBlocker block(box);
    if (QStringList current =
            [&] {
                QStringList l;
                for (int i = 0; i < box->count(); ++i) l << box->itemText(i);
                return l;
            }();
        current != items) {
        box->clear();
        box->addItems(items);
    }
    box->setCurrentIndex(index);
}

void SetText(QLineEdit* edit, const QString& text) {
    // A loaded value is shown whole: the length limit is for typing only.
    if (text.size() > edit->maxLength()) edit->setMaxLength(int(text.size()));
    if (edit->text() != text) {
        const QSignalBlocker block(edit);
        edit->setText(text);
    }
}

} // namespace

CTemplateCreateDlg::CTemplateCreateDlg(TemplateStore& store, TemplateEditor::Mode mode,
                                       const QString& fileName, QWidget* parent)
    : QDialog(parent), m_store(store), m_editor(mode), m_fileName(fileName), m_name(new QLineEdit),
      m_comment(new QLineEdit), m_clearAll(new QPushButton(QStringLiteral("Clear All"))),
      m_save(new QPushButton(QStringLiteral("Save"))),
      m_cancel(new QPushButton(QStringLiteral("Cancel"))) {
    setWindowTitle(QStringLiteral("Template Detail"));
    m_name->setMaxLength(20);
    m_comment->setMaxLength(20);

    auto* creation = new QGroupBox(QStringLiteral("Template Creation"));
    auto* top = new QGridLayout(creation);
    top->addWidget(new QLabel(QStringLiteral("Template Name *")), 0, 0);
    top->addWidget(m_name, 0, 1);
    top->addWidget(new QLabel(QStringLiteral("Comment")), 1, 0);
    top->addWidget(m_comment, 1, 1);

    auto* grid = new QGridLayout;
    const char* const titles[] = {"Step", "Test Type",  "Rate",        "Volume/Pressure",
                                  "Unit", "Time hh:mm", "Tolerance %", ""};
    for (int c = 0; c < 8; ++c) grid->addWidget(new QLabel(QString::fromLatin1(titles[c])), 0, c);
    const auto digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), this);
    for (int n = 1; n <= TemplateEditor::kRows; ++n) {
        RowWidgets& w = m_rows[size_t(n - 1)];
        w.type = new QComboBox;
        w.rate = new QLineEdit;
        w.volume = new QLineEdit;
        w.unit = new QComboBox;
        w.hours = new QLineEdit;
        w.minutes = new QLineEdit;
        w.tolerance = new QLineEdit;
        w.remove = new QPushButton(QStringLiteral("Delete"));
        w.remove->setAutoDefault(false);
        // Room for the widest rate a template holds ("2000.00", "%7.2f").
        w.rate->setMaxLength(7);
        w.volume->setMaxLength(7);
        for (QLineEdit* e : {w.hours, w.minutes, w.tolerance}) {
            e->setMaxLength(2);
            e->setValidator(digits);
            e->setMaximumWidth(40);
        }
        auto* time = new QHBoxLayout;
        time->addWidget(w.hours);
        time->addWidget(new QLabel(QStringLiteral(" :")));
        time->addWidget(w.minutes);
        grid->addWidget(new QLabel(QString::number(n)), n, 0);
        grid->addWidget(w.type, n, 1);
        grid->addWidget(w.rate, n, 2);
        grid->addWidget(w.volume, n, 3);
        grid->addWidget(w.unit, n, 4);
        grid->addLayout(time, n, 5);
        grid->addWidget(w.tolerance, n, 6);
        grid->addWidget(w.remove, n, 7);

        connect(w.type, &QComboBox::activated, this, [this, n, &w](int index) {
            m_editor.ChooseType(n, w.type->itemText(index));
            Refresh();
        });
        connect(w.unit, &QComboBox::activated, this, [this, n, &w](int index) {
            m_editor.ChooseUnit(n, w.unit->itemText(index));
            Refresh();
        });
        const std::pair<QLineEdit*, QString TemplateEditor::Row::*> fields[] = {
            {w.rate, &TemplateEditor::Row::rate},
            {w.volume, &TemplateEditor::Row::volume},
            {w.hours, &TemplateEditor::Row::hours},
            {w.minutes, &TemplateEditor::Row::minutes},
            {w.tolerance, &TemplateEditor::Row::tolerance}};
        for (const auto& [edit, field] : fields)
            connect(edit, &QLineEdit::textChanged, this,
                    [this, n, field](const QString& t) { m_editor.SetText(n, field, t); });
        connect(w.remove, &QPushButton::clicked, this, [this, n] {
            m_editor.Delete(n);
            Refresh();
        });
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("Note:-   *  Fields are mandatory.")));
    buttons->addStretch();
    for (QPushButton* b : {m_clearAll, m_save, m_cancel}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(creation);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(m_name, &QLineEdit::textChanged, this, [this](const QString& t) { m_editor.name = t; });
    connect(m_comment, &QLineEdit::textChanged, this,
            [this](const QString& t) { m_editor.SetComment(t); });
    connect(m_save, &QPushButton::clicked, this, &CTemplateCreateDlg::OnSave);
    connect(m_clearAll, &QPushButton::clicked, this, &CTemplateCreateDlg::OnClearAll);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (mode != TemplateEditor::Mode::Create) {
        Template t;
        const bool read = QDir::isAbsolutePath(fileName) ? templatefile::ReadFile(fileName, t)
                                                         : m_store.ReadTemplateFile(fileName, t);
        if (read) {
            m_editor.Load(t);
        } else {
            m_loaded = false;
            ThePrompter().Message(QStringLiteral("File not found"));
        }
    }
    Refresh();
}

int CTemplateCreateDlg::exec() {
    if (!m_loaded) return QDialog::Rejected;
    return QDialog::exec();
}

void CTemplateCreateDlg::Refresh() {
    const bool view = m_editor.ReadOnly();
    SetText(m_name, m_editor.name);
    SetText(m_comment, m_editor.comment);
    m_name->setReadOnly(view);
    m_comment->setReadOnly(view);
    for (int n = 1; n <= TemplateEditor::kRows; ++n) {
        const TemplateEditor::Row& r = m_editor.RowAt(n);
        RowWidgets& w = m_rows[size_t(n - 1)];
        SetItems(w.type, r.typeItems, r.typeIndex);
        SetItems(w.unit, r.unitItems, r.unitIndex);
        SetText(w.rate, r.rate);
        SetText(w.volume, r.volume);
        SetText(w.hours, r.hours);
        SetText(w.minutes, r.minutes);
        SetText(w.tolerance, r.tolerance);
        for (QLineEdit* e : {w.rate, w.hours, w.minutes, w.tolerance}) {
            e->setReadOnly(view || r.valuesReadOnly);
            e->setEnabled(!r.valuesReadOnly); // a bolus row's unused fields are greyed
        }
        w.volume->setReadOnly(view);
        w.type->setEnabled(!view);
        w.unit->setEnabled(!view);
        w.remove->setEnabled(!view);
    }
    m_save->setEnabled(!view);
    m_clearAll->setEnabled(!view);
    update();
}

void CTemplateCreateDlg::OnSave() {
    m_editor.name = m_name->text();
    const bool saved = m_editor.Save(m_store, m_fileName, &m_savedFile);
    Refresh();
    if (saved) done(QDialog::Rejected); // the browser refills its list either way
}

void CTemplateCreateDlg::OnClearAll() {
    if (!ThePrompter().Question(QStringLiteral("Do you want to clear all steps "),
                                Prompter::Icon::Question))
        return;
    m_editor.ClearAll();
    Refresh();
}

void CTemplateCreateDlg::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        // Only a focused button acts on Enter and Escape.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (key == Qt::Key_Escape)
                reject();
            else
                button->click();
        }
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
