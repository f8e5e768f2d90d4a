#pragma once

#include <QDialog>

#include <functional>

class AppSettings;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class RecordIndex;
class RecordListModel;
class ServerRowsLoader;

// "Test Records": lists the records index, sorts by a column, searches by
// control number, opens the ticked records (OK) or one record (double-click)
// and deletes ticked records with their files.
class CViewRecordDlg : public QDialog {
    Q_OBJECT
public:
    // openDocument opens a record file in a window of its own.
    using OpenDocument = std::function<bool(const QString& path)>;

    CViewRecordDlg(RecordIndex& index, const AppSettings& settings, OpenDocument openDocument,
                   QWidget* parent = nullptr);

    QTableView* List() const { return m_list; }
    RecordListModel* Model() const { return m_model; }
    QLineEdit* SearchEdit() const { return m_search; }
    QPushButton* SearchButton() const { return m_searchButton; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QPushButton* DeleteButton() const { return m_delete; }
    // Rows still arriving from an index server.
    bool Loading() const { return m_loader != nullptr; }

    // Column widths of the list, in pixels.
    static const int kColumnWidths[];

private:
    void Fill();
    void LoadServerRows();
    void ServerRowsLoaded(const QString& error);
    void ReportEmptyFlowRates();
    void OnHeaderClicked(int section);
    void OnOk();
    void OnDoubleClicked(int row);
    void OnDelete();

    RecordIndex& m_index;
    const AppSettings& m_settings;
    OpenDocument m_open;
    RecordListModel* m_model;
    QTableView* m_list;
    QLineEdit* m_search;
    QPushButton* m_searchButton;
    QPushButton* m_ok;
    QPushButton* m_cancelButton;
    QPushButton* m_delete;
    QLabel* m_loading;
    ServerRowsLoader* m_loader = nullptr;
};
