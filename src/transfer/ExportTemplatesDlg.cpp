#include "ExportTemplatesDlg.h"

#include "ExportJob.h"
#include "ExportProgress.h"

#include "base/Prompter.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateStore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kFileRole = Qt::UserRole + 1;
}

CExportTemplatesDlg::CExportTemplatesDlg(CDevice* device, TemplateStore& store, QWidget* parent)
    : QWidget(parent), m_device(device), m_store(store) {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("TemplateList"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({QString(), QStringLiteral("TemplateName"),
                             QStringLiteral("Device Comments"), QStringLiteral("User Comments")});
    const int widths[] = {25, 125, 150, 150};
    for (int c = 0; c < 4; ++c) m_list->setColumnWidth(c, widths[c]);

    m_selectAll = new QPushButton(QStringLiteral("Select All"), this);
    m_unselectAll = new QPushButton(QStringLiteral("Unselect All"), this);
    m_export = new QPushButton(QStringLiteral("Export"), this);
    connect(m_selectAll, &QPushButton::clicked, this, [this] { SetAll(true); });
    connect(m_unselectAll, &QPushButton::clicked, this, [this] { SetAll(false); });
    connect(m_export, &QPushButton::clicked, this, &CExportTemplatesDlg::OnExport);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ShowTemplate(m_list->indexOfTopLevelItem(item)); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_selectAll);
    buttons->addWidget(m_unselectAll);
    buttons->addStretch(1);
    buttons->addWidget(m_export);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    Fill();
}

void CExportTemplatesDlg::Fill() {
    QList<TemplateRow> rows;
    if (m_store.IsOpen()) m_store.ListRows(rows);
    for (const TemplateRow& row : rows) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setCheckState(0, Qt::Unchecked);
        item->setText(1, row.name);
        item->setText(2, row.deviceComments);
        item->setData(1, kFileRole, row.fileName);
        item->setData(2, kFileRole, row.instSerialNumber);
    }
}

void CExportTemplatesDlg::SetAll(bool checked) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        m_list->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void CExportTemplatesDlg::ShowTemplate(int row) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (!item) return;
    CTemplateCreateDlg dlg(m_store, TemplateEditor::Mode::View, item->data(1, kFileRole).toString(),
                           this);
    dlg.exec();
}

void CExportTemplatesDlg::OnExport() {
    if (!m_device) return;
    QList<TemplateRow> rows;
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_list->topLevelItem(i);
        if (item->checkState(0) != Qt::Checked) continue;
        TemplateRow row;
        row.name = item->text(1);
        row.deviceComments = item->text(2);
        row.fileName = item->data(1, kFileRole).toString();
        rows << row;
        items << item;
    }
    if (m_list->topLevelItemCount() == 0) {
        ThePrompter().Message(QStringLiteral("No Templates to Export"));
        return;
    }
    if (rows.isEmpty()) {
        ThePrompter().Message(QStringLiteral("Select Templates to Export."));
        return;
    }
    const TemplateLoad load = LoadTemplates(m_store, rows);
    // Unreadable ones are reported, not retried on the next Export.
    for (QTreeWidgetItem* item : items) {
        bool loaded = false;
        for (const ExportItem& e : load.items) loaded |= e.name == item->text(1);
        if (!loaded) item->setCheckState(0, Qt::Unchecked);
    }
    ExportJob job(*m_device);
    const ExportOutcome out =
        RunExportWithProgress(this, QStringLiteral("Exporting Templates..."), job,
                              [&] { return job.SendTemplates(load.items); });
    // What went out is unchecked; what did not stays checked for a retry.
    int sent = 0;
    for (QTreeWidgetItem* item : items) {
        if (sent < out.sent.size() && item->text(1) == out.sent[sent]) {
            item->setCheckState(0, Qt::Unchecked);
            ++sent;
        }
    }
    for (const QString& skipped : load.skipped)
        ThePrompter().Message(skipped, Prompter::Icon::Warning);
    switch (out.status) {
    case ExportOutcome::Status::PortGone:
        ThePrompter().Message(out.error, Prompter::Icon::Error);
        break;
    case ExportOutcome::Status::Cancelled:
        ThePrompter().Message(QStringLiteral("Export cancelled: %1 of %2 templates sent.")
                                  .arg(out.sent.size())
                                  .arg(load.items.size()));
        break;
    case ExportOutcome::Status::Done:
        if (!out.sent.isEmpty())
            ThePrompter().Message(QStringLiteral("Exporting Template Completed."));
        break;
    }
}
