#include "DevicePane.h"

#include "Artwork.h"
#include "RivuletrixApp.h"
#include "link/Device.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

CDialogTopDevicePane::CDialogTopDevicePane(QWidget* parent)
    : QToolBar(QStringLiteral("Devices"), parent) {
    setObjectName(QStringLiteral("DevicePane"));
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(4, 2, 4, 2);
    for (int slot = 1; slot <= 4; ++slot) {
        auto* button = new QPushButton(QStringLiteral(" "), box);
        button->setMinimumWidth(170);
        button->setObjectName(QStringLiteral("Dev%1").arg(slot));
        connect(button, &QPushButton::clicked, this, [this, slot] {
            RxApp()->CurrentAnalyzer = slot;
            RxApp()->ViewAll = false;
            Q_EMIT ArrangeRequested();
        });
        auto* image = new QLabel(box);
        image->setFixedSize(32, 16);
        m_buttons[slot - 1] = button;
        m_images[slot - 1] = image;
        layout->addWidget(button);
        layout->addWidget(image);
        layout->addSpacing(8);
    }
    m_viewAll = new QPushButton(QStringLiteral("ViewAll"), box);
    m_viewAll->setObjectName(QStringLiteral("ViewAll"));
    connect(m_viewAll, &QPushButton::clicked, this, [this] {
        RxApp()->ViewAll = true;
        Q_EMIT ArrangeRequested();
    });
    layout->addWidget(m_viewAll);
    layout->addStretch();
    addWidget(box);
    UpdateControls();
}

void CDialogTopDevicePane::UpdateControls() {
    CRivuletrixApp* app = RxApp();
    for (int slot = 1; slot <= 4; ++slot) {
        CDevice* device = app ? app->Device(slot) : nullptr;
        // Live when the analyzer has a channel window (not only channel 1:
        // a PXR-8 may report channels 2..4 alone).
        bool live = false;
        for (int c = 0; device && c < 4; ++c) live = live || app->ChannelDocs[slot - 1][c];
        QString text =
            live ? device->Name + QStringLiteral(" - Dev %1").arg(slot) : QStringLiteral(" ");
        if (live && device->IsLost()) text = device->Name + QStringLiteral(" - lost");
        if (m_buttons[slot - 1]->text() != text) m_buttons[slot - 1]->setText(text);
        m_buttons[slot - 1]->setEnabled(live);
    }
    m_viewAll->setEnabled(app && app->ConnectedCount > 1);
}

void CDialogTopDevicePane::SetBatteryIndicator(int slot, char state) {
    m_battery[slot - 1] = state;
    QLabel* image = m_images[slot - 1];
    switch (state) {
    case 'H':
        image->setPixmap(artwork::BatteryImage(artwork::Battery::Normal));
        break;
    case 'L':
        image->setPixmap(artwork::BatteryImage(artwork::Battery::Low));
        break;
    case 'S':
        image->setPixmap(artwork::BatteryImage(artwork::Battery::Empty));
        break;
    default:
        image->clear();
        break;
    }
}
