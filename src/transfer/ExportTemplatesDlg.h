#pragma once

#include <QWidget>

class CDevice;
class QPushButton;
class QTreeWidget;
class TemplateStore;

// "Template Selection": the template store's entries with check boxes; Export
// sends the checked ones in list order and clears their check boxes.
class CExportTemplatesDlg : public QWidget {
    Q_OBJECT
public:
    CExportTemplatesDlg(CDevice* device, TemplateStore& store, QWidget* parent = nullptr);

    QTreeWidget* List() const { return m_list; }
    QPushButton* ExportButton() const { return m_export; }
    QPushButton* SelectAllButton() const { return m_selectAll; }
    QPushButton* UnselectAllButton() const { return m_unselectAll; }

    void OnExport();

private:
    void Fill();
    void SetAll(bool checked);
    void ShowTemplate(int row);

    CDevice* m_device;
    TemplateStore& m_store;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_selectAll = nullptr;
    QPushButton* m_unselectAll = nullptr;
};
