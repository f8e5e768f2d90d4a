#include "ChannelWindow.h"

#include "Prompter.h"
#include "RivuletrixApp.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>

ChannelWindow::ChannelWindow(int slot, int channel, const QString& analyzerName, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(new CRivuletrixDoc(this)), m_slot(slot), m_channel(channel) {
    setWindowTitle(QStringLiteral("Channel %1 ").arg(channel) + analyzerName);
    m_doc->Run.live = true;
    m_doc->ChannelNo = channel - 1;
    if (CRivuletrixApp* app = RxApp()) {
        m_doc->RepHeader1 = app->ReportHeader[0];
        m_doc->RepHeader2 = app->ReportHeader[1];
        m_doc->RepHeader3 = app->ReportHeader[2];
        m_doc->DefaultTolerance = app->FlowTolerance;
        m_doc->GraphLineWidth = app->GraphLineWidth;
        m_doc->DefaultPressureUnit = app->DefaultPressureUnit;
        app->ChannelDocs[slot - 1][channel - 1] = m_doc;
        if (CDevice* device = app->Device(slot)) device->SetChannelDoc(channel - 1, m_doc);
    }
    Build();
}

ChannelWindow::ChannelWindow(CRivuletrixDoc* record, QWidget* parent)
    : QMdiSubWindow(parent), m_doc(record) {
    m_doc->setParent(this);
    setWindowTitle(QFileInfo(m_doc->PathName()).fileName());
    Build();
}

ChannelWindow::~ChannelWindow() {
    if (m_slot == 0) return;
    if (CRivuletrixApp* app = RxApp()) {
        if (app->ChannelDocs[m_slot - 1][m_channel - 1] == m_doc)
            app->ChannelDocs[m_slot - 1][m_channel - 1] = nullptr;
        if (CDevice* device = app->Device(m_slot))
            if (device->ChannelDoc(m_channel - 1) == m_doc)
                device->SetChannelDoc(m_channel - 1, nullptr);
    }
}

void ChannelWindow::Build() {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon());
    auto* placeholder = new QLabel(windowTitle(), this);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setMinimumSize(320, 200);
    setWidget(placeholder);
}

void ChannelWindow::ForceClose() {
    m_forced = true;
    close();
}

void ChannelWindow::closeEvent(QCloseEvent* event) {
    if (m_slot != 0 && !m_forced) {
        // A channel window lives as long as its analyzer is connected.
        ThePrompter().Message(
            QStringLiteral("Cannot Close Windows that are Associated with the Instrument"));
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}
