#pragma once

#include <QDialog>

class AppSettings;
class QLineEdit;
class QPushButton;
class QTableView;
class TemplateListModel;
class TemplateStore;

// "Template": lists the template index; ticks, Select All / Unselect All,
// Delete, Create (only while nothing is ticked), sorting, search, and a
// double-click that edits the template.
class CViewTemplateDlg : public QDialog {
    Q_OBJECT
public:
    CViewTemplateDlg(TemplateStore& store, const AppSettings& settings, QWidget* parent = nullptr);

    QTableView* List() const { return m_list; }
    TemplateListModel* Model() const { return m_model; }
    QLineEdit* SearchEdit() const { return m_search; }
    QPushButton* SearchButton() const { return m_searchButton; }
    QPushButton* SelectAllButton() const { return m_selectAll; }
    QPushButton* UnselectAllButton() const { return m_unselectAll; }
    QPushButton* DeleteButton() const { return m_delete; }
    QPushButton* CreateButton() const { return m_create; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // False when the requested rebuild failed (and was reported).
    bool Rebuild();
    void Fill();
    void OnHeaderClicked(int section);
    void OnCreate();
    void OnDoubleClicked(int row);
    void OnDelete();

    TemplateStore& m_store;
    const AppSettings& m_settings;
    TemplateListModel* m_model;
    QTableView* m_list;
    QLineEdit* m_search;
    QPushButton* m_searchButton;
    QPushButton* m_selectAll;
    QPushButton* m_unselectAll;
    QPushButton* m_delete;
    QPushButton* m_create;
    QPushButton* m_ok;
};
