#include "ManageConnectionDlg.h"

#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "link/PortScanner.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kSection = QStringLiteral("Connection Details");
const QString kTestRunning = QStringLiteral(
    "Stop All Tests before closing.\nDisconnect Devices using Manage Connection Screen.");

QString SerialKey(int n) {
    return QStringLiteral("%1DeviceSerialNumber").arg(n);
}

enum class ReadyState { Connected, Lost, NotConnected };

QIcon ReadyIcon(ReadyState state) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(state == ReadyState::Connected ? QColor(40, 170, 60)
               : state == ReadyState::Lost    ? QColor(210, 50, 40)
                                              : QColor(190, 190, 190));
    p.drawRoundedRect(2, 4, 12, 8, 2, 2);
    p.fillRect(6, 1, 4, 3, QColor(60, 60, 60));
    return QIcon(pm);
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

CManageConnectionDlg::CManageConnectionDlg(CRivuletrixApp& app, bool search, QWidget* parent)
    : QDialog(parent), m_app(app) {
    setWindowTitle(QStringLiteral("Manage Connections"));
    const auto makeList = [this](const QStringList& headers) {
        auto* list = new QTreeWidget(this);
        list->setHeaderLabels(headers);
        list->setRootIsDecorated(false);
        list->setAllColumnsShowFocus(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->header()->setStretchLastSection(true);
        return list;
    };
    m_usbList = makeList({QStringLiteral("Device Name"), QStringLiteral("Serial number")});
    m_usbList->setColumnWidth(0, 200);
    m_readyList = makeList({QStringLiteral("Device Name"), QStringLiteral("Serial number")});
    m_readyList->setColumnWidth(0, 185);
    m_search = new QPushButton(QStringLiteral("Search"), this);
    m_add = new QPushButton(QStringLiteral("Add >>"), this);
    m_remove = new QPushButton(QStringLiteral("<< Remove"), this);
    m_connect = new QPushButton(QStringLiteral("Connect"), this);
    m_disconnect = new QPushButton(QStringLiteral("Disconnect"), this);
    m_exit = new QPushButton(QStringLiteral("E&xit"), this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 0); // a moving marquee
    m_progress->setTextVisible(false);
    m_progress->hide();

    auto* usbBox = new QGroupBox(QStringLiteral("USB Devices"), this);
    auto* usbLayout = new QVBoxLayout(usbBox);
    usbLayout->addWidget(m_usbList);
    usbLayout->addWidget(m_search);
    auto* readyBox = new QGroupBox(QStringLiteral("Ready for connection"), this);
    auto* readyLayout = new QVBoxLayout(readyBox);
    readyLayout->addWidget(m_readyList);
    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_add);
    middle->addWidget(m_remove);
    middle->addStretch();
    auto* grid = new QGridLayout(this);
    grid->addWidget(usbBox, 0, 0);
    grid->addLayout(middle, 0, 1);
    grid->addWidget(readyBox, 0, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_progress, 1);
    buttons->addWidget(m_connect);
    buttons->addWidget(m_disconnect);
    buttons->addWidget(m_exit);
    grid->addLayout(buttons, 1, 0, 1, 3);
    resize(760, 360);

    connect(m_search, &QPushButton::clicked, this, &CManageConnectionDlg::Search);
    connect(m_add, &QPushButton::clicked, this, &CManageConnectionDlg::AddSelected);
    connect(m_usbList, &QTreeWidget::itemDoubleClicked, this, &CManageConnectionDlg::AddSelected);
    connect(m_remove, &QPushButton::clicked, this, &CManageConnectionDlg::RemoveSelected);
    connect(m_connect, &QPushButton::clicked, this, &CManageConnectionDlg::ConnectSelected);
    connect(m_readyList, &QTreeWidget::itemDoubleClicked, this,
            &CManageConnectionDlg::ConnectSelected);
    connect(m_disconnect, &QPushButton::clicked, this, &CManageConnectionDlg::DisconnectSelected);
    connect(m_readyList, &QTreeWidget::itemSelectionChanged, this,
            &CManageConnectionDlg::ReadySelectionChanged);
    connect(m_exit, &QPushButton::clicked, this, &CManageConnectionDlg::reject);

    // An analyzer unplugged while the manager is open shows as lost at once.
    connect(&m_app, &CRivuletrixApp::AnalyzerLost, this, [this] {
        if (!m_worker) Refill();
    });

    m_connect->setEnabled(false);
    m_disconnect->setEnabled(false);
    if (search) m_app.Scanner().PurgeKind(FoundAnalyzer::KindUsbSerial);
    StartWorker(search);
}

CManageConnectionDlg::~CManageConnectionDlg() {
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
    SaveSerialNumbers();
}

QPushButton* CManageConnectionDlg::Button(const QString& text) const {
    for (QPushButton* b : {m_search, m_add, m_remove, m_connect, m_disconnect, m_exit})
        if (b->text() == text) return b;
    return nullptr;
}

void CManageConnectionDlg::StartWorker(bool search) {
    m_progress->show();
    m_search->setEnabled(false);
    PortScanner* scanner = &m_app.Scanner();
    m_worker = QThread::create([scanner, search] {
        if (search) scanner->ScanUsbPorts();
    });
    connect(m_worker, &QThread::finished, this, [this, search] { WorkerDone(search); });
    m_worker->start(QThread::LowestPriority);
}

void CManageConnectionDlg::WorkerDone(bool search) {
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    if (m_closing) {
        reject();
        return;
    }
    const auto finish = [this] {
        Refill();
        m_progress->hide();
        m_search->setEnabled(true);
        Q_EMIT SearchFinished();
    };
    if (!search) {
        finish();
        return;
    }
    QTimer::singleShot(10, this, [this, finish] {
        if (m_closing) return;
        Reconnect();
        finish();
    });
}

void CManageConnectionDlg::Search() {
    if (m_worker) return;
    m_readyList->clear();
    m_usbList->clear();
    m_app.Scanner().PurgeKind(FoundAnalyzer::KindUsbSerial);
    StartWorker(true);
}

void CManageConnectionDlg::Reconnect() {
    PortScanner& scanner = m_app.Scanner();
    for (int n = 1; n <= 4; ++n) {
        QString saved;
        m_app.GetSetting(kSection, SerialKey(n), saved);
        // Compared without trailing blanks, so analyzers that do not pad
        // their serial number reconnect too.
        saved = saved.trimmed();
        if (saved.isEmpty()) continue;
        for (FoundAnalyzer record : scanner.Found()) {
            if (record.serialNumber.trimmed() != saved) continue;
            record.added = 1;
            if (!record.connected) {
                const int slot = m_app.FreeSlot();
                if (slot == 0 || m_app.ConnectAnalyzer(slot, record) == 0) return;
                record.slot = slot;
                record.connected = 1;
            }
            scanner.Update(record);
            scanner.Add(record.serialNumber);
            break;
        }
    }
}

void CManageConnectionDlg::Refill() {
    m_usbList->clear();
    for (const FoundAnalyzer& a : m_app.Scanner().Found())
        if (a.kind == FoundAnalyzer::KindUsbSerial)
            new QTreeWidgetItem(m_usbList, {a.name, a.serialNumber});
    const QString selected =
        m_readyList->currentItem() ? m_readyList->currentItem()->text(1) : QString();
    m_readyList->clear();
    for (const FoundAnalyzer& a : m_app.Scanner().Ready()) {
        QString text =
            QStringLiteral(" ") + a.name + QStringLiteral("   %1 Channels").arg(a.ChannelCount());
        ReadyState state = a.connected ? ReadyState::Connected : ReadyState::NotConnected;
        if (Lost(a)) {
            state = ReadyState::Lost;
            text += QStringLiteral(" - lost");
        }
        auto* item = new QTreeWidgetItem(m_readyList, {text, a.serialNumber});
        item->setIcon(0, ReadyIcon(state));
        if (state == ReadyState::Lost)
            item->setToolTip(
                0, QStringLiteral("Its port went away. Plug it in again and press Connect."));
        if (a.serialNumber == selected) m_readyList->setCurrentItem(item);
    }
    ReadySelectionChanged();
}

bool CManageConnectionDlg::Lost(const FoundAnalyzer& record) const {
    if (!record.connected) return false;
    const CDevice* device = m_app.Device(record.slot);
    return record.lost || (device && device->IsLost());
}

bool CManageConnectionDlg::SelectedReady(FoundAnalyzer& record) const {
    const QTreeWidgetItem* item = m_readyList->currentItem();
    if (!item) return false;
    for (const FoundAnalyzer& a : m_app.Scanner().Ready())
        if (a.serialNumber == item->text(1)) {
            record = a;
            return true;
        }
    return false;
}

void CManageConnectionDlg::ReadySelectionChanged() {
    FoundAnalyzer record;
    if (!SelectedReady(record)) {
        m_connect->setEnabled(false);
        m_disconnect->setEnabled(false);
        return;
    }
    // A lost analyzer is connected again in its slot, or let go.
    m_disconnect->setEnabled(record.connected);
    m_connect->setEnabled(!record.connected || Lost(record));
    m_remove->setEnabled(!record.connected);
}

void CManageConnectionDlg::AddSelected() {
    if (const QTreeWidgetItem* item = m_usbList->currentItem()) m_app.Scanner().Add(item->text(1));
    Refill();
}

void CManageConnectionDlg::RemoveSelected() {
    FoundAnalyzer record;
    if (SelectedReady(record) && !record.connected) m_app.Scanner().Remove(record.serialNumber);
    Refill();
}

void CManageConnectionDlg::ConnectSelected() {
    WaitCursor wait;
    FoundAnalyzer record;
    if (!SelectedReady(record)) return;
    if (Lost(record)) {
        ReconnectLost(record);
        return;
    }
    if (record.connected) return;
    const int slot = m_app.FreeSlot();
    if (slot == 0) {
        ThePrompter().Message(QStringLiteral("Four analyzers are connected already.\n"
                                             "Disconnect one before connecting another."));
        return;
    }
    if (m_app.ConnectAnalyzer(slot, record) == 0) return;
    record.slot = slot;
    record.connected = 1;
    m_app.Scanner().Update(record);
    Refill();
}

void CManageConnectionDlg::ReconnectLost(FoundAnalyzer record) {
    if (m_worker) return; // the search is probing the ports
    // Plugged back in, it may have come up on another port: found again by
    // its serial number, passing over the ports of the live analyzers.
    QStringList inUse;
    for (const FoundAnalyzer& a : m_app.Scanner().Ready())
        if (a.connected && !Lost(a)) inUse << a.portName;
    const QString port = m_app.Scanner().Locate(record.serialNumber, inUse);
    if (port.isEmpty()) {
        ThePrompter().Message(QStringLiteral("%1 (serial number %2) does not answer on any port.\n"
                                             "Plug it in again and press Connect.")
                                  .arg(record.name, record.serialNumber.trimmed()));
        return;
    }
    record.portName = port;
    if (m_app.ReconnectAnalyzer(record.slot, record) == 0) {
        m_app.Scanner().Update(record); // still lost, on the port it was seen on
        Refill();
        return;
    }
    m_app.Scanner().Update(record);
    Refill();
}

void CManageConnectionDlg::DisconnectSelected() {
    WaitCursor wait;
    FoundAnalyzer record;
    if (!SelectedReady(record)) return;
    if (record.connected && m_app.TestInProgress(record.slot)) {
        ThePrompter().Message(kTestRunning);
        return;
    }
    // Results kept after a failed save go with their windows: offered first.
    if (record.connected && m_app.WindowHost() &&
        !m_app.WindowHost()->MayCloseChannelWindows(record.slot))
        return;
    if (record.connected) {
        if (!Lost(record)) QThread::msleep(1000); // lets the analyzer finish what it was sending
        m_app.DisconnectAnalyzer(record.slot, record);
        record.slot = 0;
        record.connected = 0;
        m_app.Scanner().Update(record);
    }
    Refill();
}

void CManageConnectionDlg::reject() {
    m_closing = true;
    if (m_worker) return; // closes when the search ends
    if (m_app.Device(1)) {
        m_app.CurrentAnalyzer = 1;
        m_app.ViewAll = false;
        if (ChannelWindowHost* host = m_app.WindowHost()) host->ArrangeChannelWindows();
    }
    QDialog::reject();
}

void CManageConnectionDlg::SaveSerialNumbers() {
    for (int n = 1; n <= 4; ++n) m_app.WriteSetting(kSection, SerialKey(n), QString());
    int n = 1;
    for (const FoundAnalyzer& a : m_app.Scanner().Ready())
        if (a.connected && n <= 4) m_app.WriteSetting(kSection, SerialKey(n++), a.serialNumber);
}
