#include "ListSearch.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

ListSearch::ListSearch(QTableView* list, QLineEdit* text, QPushButton* button, int column,
                       Matcher matches, const QString& tip)
    : QObject(list), m_list(list), m_text(text), m_button(button), m_column(column),
      m_matches(std::move(matches)) {
    m_text->setToolTip(tip);
    m_button->setToolTip(tip);
    m_text->installEventFilter(this);
    connect(m_text, &QLineEdit::textChanged, this, &ListSearch::ShowFirst);
    connect(m_button, &QPushButton::clicked, this, &ListSearch::SelectMatches);
}

QHBoxLayout* ListSearch::MakeRow(const QString& label) const {
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label));
    row->addWidget(m_text, 1);
    row->addWidget(m_button);
    return row;
}

bool ListSearch::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
    }
    return QObject::eventFilter(watched, event);
}

void ListSearch::ShowFirst(const QString& text) {
    const QList<int> rows = m_matches(text);
    if (!rows.isEmpty()) m_list->scrollTo(m_list->model()->index(rows.first(), m_column));
    m_text->setFocus();
}

void ListSearch::SelectMatches() {
    const QString text = m_text->text();
    if (text.isEmpty()) return;
    const QList<int> rows = m_matches(text);
    QAbstractItemModel* model = m_list->model();
    // Runs of neighbouring rows become one range of the selection.
    QItemSelection selection;
    const int last = model->columnCount() - 1;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
        selection.select(model->index(rows[i], 0), model->index(rows[j], last));
        i = j + 1;
    }
    m_list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty()) m_list->scrollTo(model->index(rows.first(), m_column));
    m_list->setFocus();
}

void LayOutBrowser(QWidget* dialog, QLayout* searchRow, const QString& title, QWidget* list,
                   QLayout* buttons) {
    auto* group = new QGroupBox(title);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(list);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(searchRow);
    layout->addWidget(group, 1);
    layout->addLayout(buttons);
}
