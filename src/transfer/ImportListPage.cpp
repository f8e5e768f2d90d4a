#include "ImportListPage.h"

#include "base/Prompter.h"
#include "transfer/ImportStaging.h"

#include <QEventLoop>
#include <QProgressDialog>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <thread>

ImportListPage::ImportListPage(const QStringList& columns, const QList<int>& widths,
                               QWidget* parent)
    : QWidget(parent), m_list(new QTreeWidget(this)),
      m_getList(new QPushButton(QStringLiteral("GetList"), this)),
      m_selectAll(new QPushButton(QStringLiteral("Select All"), this)),
      m_unselectAll(new QPushButton(QStringLiteral("Unselect All"), this)),
      m_import(new QPushButton(QStringLiteral("Import"), this)),
      m_close(new QPushButton(QStringLiteral("Close"), this)) {
    // The untitled first column carries the check boxes.
    m_list->setHeaderLabels(QStringList{QString()} + columns);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAlternatingRowColors(true);
    m_list->setColumnWidth(0, 25);
    for (int i = 0; i < widths.size(); ++i) m_list->setColumnWidth(i + 1, widths[i]);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_getList, m_selectAll, m_unselectAll, m_import, m_close})
        buttons->addWidget(b);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    m_getList->setEnabled(true);
    m_import->setEnabled(false);
    m_selectAll->setEnabled(false);
    m_unselectAll->setEnabled(false);
    connect(m_getList, &QPushButton::clicked, this, [this] { OnGetList(); });
    connect(m_import, &QPushButton::clicked, this, [this] { OnImport(); });
    connect(m_close, &QPushButton::clicked, this, &ImportListPage::CloseRequested);
    connect(m_selectAll, &QPushButton::clicked, this, [this] {
        SetAll(true);
        m_selectAll->setEnabled(false);
        m_unselectAll->setEnabled(true);
    });
    connect(m_unselectAll, &QPushButton::clicked, this, [this] {
        SetAll(false);
        m_unselectAll->setEnabled(false);
        m_selectAll->setEnabled(true);
    });
    connect(m_list, &QTreeWidget::itemChanged, this, &ImportListPage::OnListClicked);
}

void ImportListPage::FillRows(const QList<QStringList>& rows, const QList<bool>& checked) {
    const QSignalBlocker block(m_list);
    m_list->clear();
    for (int i = 0; i < rows.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_list, QStringList{QString()} + rows[i]);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, checked.value(i) ? Qt::Checked : Qt::Unchecked);
    }
}

QList<bool> ImportListPage::CheckedRows() const {
    QList<bool> out;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        out << (m_list->topLevelItem(i)->checkState(0) == Qt::Checked);
    return out;
}

void ImportListPage::SetAll(bool checked) {
    const QSignalBlocker block(m_list);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        m_list->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void ImportListPage::OnListClicked() {
    // Up to the first ticked row: rows before it allow Unselect All, the
    // ticked one allows Select All.
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->checkState(0) == Qt::Checked) {
            m_selectAll->setEnabled(true);
            return;
        }
        m_unselectAll->setEnabled(true);
    }
}

ImportListPage::~ImportListPage() = default;

QString ImportListPage::NewStagingFolder(const AppSettings& settings) {
    m_staging.reset();
    m_staging = std::make_unique<staging::Area>(staging::Folder(settings));
    if (m_staging->Ok()) return m_staging->Path();
    ThePrompter().Message(m_staging->Error(), Prompter::Icon::Warning);
    return {};
}

void ImportListPage::EnableForRows(bool any) {
    m_selectAll->setEnabled(any);
    m_unselectAll->setEnabled(any);
    m_import->setEnabled(any);
}

void ImportListPage::RunWithProgress(
    const QString& label, const std::function<void(const std::function<void(int, int)>&)>& work) {
    QProgressDialog progress(label, QString(), 0, 0, this);
    progress.setWindowTitle(QStringLiteral("Import items from device"));
    progress.setObjectName(QStringLiteral("ImportMergeProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setCancelButton(nullptr);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.show();
    QEventLoop loop;
    std::thread worker([&] {
        work([&progress](int done, int total) {
            QMetaObject::invokeMethod(
                &progress,
                [&progress, done, total] {
                    progress.setMaximum(total);
                    progress.setValue(done);
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}
