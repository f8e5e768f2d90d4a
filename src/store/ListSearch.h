#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QHBoxLayout;
class QLayout;
class QLineEdit;
class QPushButton;
class QTableView;
class QWidget;

// The search above a browser's list: typing shows the first row that
// matches, the button selects every match. Return, Enter and Escape in the
// text do nothing, so that a search never closes the dialog.
class ListSearch : public QObject {
    Q_OBJECT
public:
    // The rows that match a text, in the list's order.
    using Matcher = std::function<QList<int>(const QString&)>;

    // column is the one scrolled to; tip is the text's and the button's.
    ListSearch(QTableView* list, QLineEdit* text, QPushButton* button, int column, Matcher matches,
               const QString& tip);

    // The row above the list: the label, the text, the button.
    QHBoxLayout* MakeRow(const QString& label) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowFirst(const QString& text);
    void SelectMatches();

    QTableView* m_list;
    QLineEdit* m_text;
    QPushButton* m_button;
    int m_column;
    Matcher m_matches;
};

// A browser's layout: the search row, the list in a box of that title, the
// buttons below.
void LayOutBrowser(QWidget* dialog, QLayout* searchRow, const QString& title, QWidget* list,
                   QLayout* buttons);
