#pragma once

#include <QStringList>
#include <QWidget>

class QPushButton;
class QTreeWidget;

// What the records and template pages share: a list with check boxes and
// the buttons "GetList", "Select All", "Unselect All", "Import" and "Close".
class ImportListPage : public QWidget {
    Q_OBJECT
public:
    ImportListPage(const QStringList& columns, const QList<int>& widths, QWidget* parent = nullptr);

    QTreeWidget* List() const { return m_list; }
    QPushButton* GetListButton() const { return m_getList; }
    QPushButton* SelectAllButton() const { return m_selectAll; }
    QPushButton* UnselectAllButton() const { return m_unselectAll; }
    QPushButton* ImportButton() const { return m_import; }
    QPushButton* CloseButton() const { return m_close; }

Q_SIGNALS:
    void CloseRequested();

protected:
    virtual void OnGetList() = 0;
    virtual void OnImport() = 0;
    // One row per entry, unchecked, with the given texts.
    void FillRows(const QList<QStringList>& rows, const QList<bool>& checked);
    QList<bool> CheckedRows() const;

private:
    void SetAll(bool checked);
    void OnListClicked();

    QTreeWidget* m_list;
    QPushButton* m_getList;
    QPushButton* m_selectAll;
    QPushButton* m_unselectAll;
    QPushButton* m_import;
    QPushButton* m_close;
};
