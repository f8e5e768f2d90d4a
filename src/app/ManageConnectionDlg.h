#pragma once

#include "link/FoundAnalyzer.h"

#include <QDialog>

class CRivuletrixApp;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;

// "Manage Connections": search the USB ports, move analyzers between the
// found list and the ready list, connect and disconnect them. The found
// analyzers whose serial numbers were saved reconnect after every search.
class CManageConnectionDlg : public QDialog {
    Q_OBJECT
public:
    // search: search when opened (the start-up form).
    CManageConnectionDlg(CRivuletrixApp& app, bool search, QWidget* parent = nullptr);
    ~CManageConnectionDlg() override;

    QTreeWidget* UsbList() const { return m_usbList; }
    QTreeWidget* ReadyList() const { return m_readyList; }
    QPushButton* Button(const QString& text) const;
    bool Searching() const { return m_worker != nullptr; }

    // The actions of the buttons, on the selected rows.
    void Search();
    void AddSelected();
    void RemoveSelected();
    void ConnectSelected();
    void DisconnectSelected();

    // Saves the connected analyzers' serial numbers in ready-list order.
    void SaveSerialNumbers();

Q_SIGNALS:
    void SearchFinished();

public Q_SLOTS:
    void reject() override;

private:
    void StartWorker(bool search);
    void WorkerDone(bool search);
    void Reconnect();
    void Refill();
    void ReadySelectionChanged();
    bool SelectedReady(FoundAnalyzer& record) const;
    // Connected, and its port went away (also before the news reached the
    // ready list).
    bool Lost(const FoundAnalyzer& record) const;
    // Connects a lost analyzer again in its slot, on whichever port it is.
    void ReconnectLost(FoundAnalyzer record);

    CRivuletrixApp& m_app;
    QTreeWidget* m_usbList;
    QTreeWidget* m_readyList;
    QPushButton* m_search;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_connect;
    QPushButton* m_disconnect;
    QPushButton* m_exit;
    QProgressBar* m_progress;
    QThread* m_worker = nullptr;
    bool m_closing = false;
};
