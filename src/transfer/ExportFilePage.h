#pragma once

#include <QWidget>

class CDevice;
class QLineEdit;
class QPushButton;

// A page that sends one chosen file: a read-only path field, Browse and
// Load. The manual and the user notes pages differ in their filter and in
// how the file goes out.
class CExportFilePage : public QWidget {
    Q_OBJECT
public:
    CExportFilePage(CDevice* device, const QString& filter, QWidget* parent = nullptr);

    QLineEdit* PathField() const { return m_pathField; }
    QPushButton* BrowseButton() const { return m_browse; }
    QPushButton* LoadButton() const { return m_load; }
    // As a completed Browse (tests, and a path given by the caller).
    void ChooseFile(const QString& path);
    bool FileChosen() const { return m_chosen; }

    void OnBrowse();
    void OnLoad();

protected:
    // Sends the chosen file; messages are shown here on the window's thread.
    virtual void Send(CDevice& device, const QString& path) = 0;

private:
    CDevice* m_device;
    QString m_filter;
    QString m_path;
    bool m_chosen = false;
    QLineEdit* m_pathField = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_load = nullptr;
};

// "Export Instruction Manual": the manual goes out scrambled.
class CExportInstManualDlg : public CExportFilePage {
    Q_OBJECT
public:
    explicit CExportInstManualDlg(CDevice* device, QWidget* parent = nullptr);

protected:
    void Send(CDevice& device, const QString& path) override;
};

// "Export User Notes": the notes go out in 100-byte pieces.
class CExportUserNotesDlg : public CExportFilePage {
    Q_OBJECT
public:
    explicit CExportUserNotesDlg(CDevice* device, QWidget* parent = nullptr);

protected:
    void Send(CDevice& device, const QString& path) override;
};
