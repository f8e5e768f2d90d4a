#include "TransferSheet.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

CTransferSheet::CTransferSheet(const QString& title, QWidget* parent) : QDialog(parent) {
    setWindowTitle(title);
    m_tabs = new QTabWidget(this);

    m_ok = new QPushButton(tr("OK"), this);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_apply = new QPushButton(tr("&Apply"), this);
    m_help = new QPushButton(tr("Help"), this);
    // The pages do the work; nothing is left for OK, Apply or Help to do.
    m_ok->hide();
    m_apply->hide();
    m_help->hide();
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_apply);
    buttons->addWidget(m_help);
    // Cancel ends the row where Help stood.
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    // Room for every tab caption and the lists' columns.
    resize(720, 440);
}

void CTransferSheet::AddPage(QWidget* page, const QString& caption) {
    m_tabs->addTab(page, caption);
}
