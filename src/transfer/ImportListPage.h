#pragma once

#include <functional>
#include <memory>

#include <QStringList>
#include <QWidget>

class QPushButton;
class QTreeWidget;
class AppSettings;
namespace staging {
class Area;
}

// What the records and template pages share: a list with check boxes and
// the buttons "GetList", "Select All", "Unselect All", "Import" and "Close".
class ImportListPage : public QWidget {
    Q_OBJECT
public:
    ImportListPage(const QStringList& columns, const QList<int>& widths, QWidget* parent = nullptr);
    ~ImportListPage() override;

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
    // A fresh staging folder of this page's own for a GetList (the one of
    // the previous list goes with it); empty, after telling the user, when
    // none can be made.
    QString NewStagingFolder(const AppSettings& settings);
    // After a GetList: the buttons that need rows are enabled only when
    // rows came.
    void EnableForRows(bool any);
    // Runs work on a worker thread while a progress dialog with label stays
    // up; work reports done/total through its argument.
    void RunWithProgress(const QString& label,
                         const std::function<void(const std::function<void(int, int)>&)>& work);

private:
    void SetAll(bool checked);
    void OnListClicked();

    std::unique_ptr<staging::Area> m_staging;
    QTreeWidget* m_list;
    QPushButton* m_getList;
    QPushButton* m_selectAll;
    QPushButton* m_unselectAll;
    QPushButton* m_import;
    QPushButton* m_close;
};
