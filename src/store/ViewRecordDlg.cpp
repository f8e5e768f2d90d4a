#include "ViewRecordDlg.h"

#include "DataFolderForOpening.h"
#include "ListSearch.h"
#include "RecordIndex.h"
#include "RecordListModel.h"
#include "ServerRowsLoader.h"
#include "SortArrowStyle.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

const int CViewRecordDlg::kColumnWidths[] = {25, 100, 100, 115, 100, 100, 100, 100, 100, 100, 100};

CViewRecordDlg::CViewRecordDlg(RecordIndex& index, const AppSettings& settings,
                               OpenDocument openDocument, QWidget* parent)
    : QDialog(parent), m_index(index), m_settings(settings), m_open(std::move(openDocument)),
      m_model(new RecordListModel(this)), m_list(new QTableView), m_search(new QLineEdit),
      m_searchButton(new QPushButton(QStringLiteral("Search..."))),
      m_ok(new QPushButton(QStringLiteral("OK"))),
      m_cancelButton(new QPushButton(QStringLiteral("Cancel"))),
      m_delete(new QPushButton(QStringLiteral("Delete"))), m_loading(new QLabel) {
    setWindowTitle(QStringLiteral("Test Records"));
    m_ok->setToolTip(QStringLiteral("Opens the selected record."));

    m_list->setModel(m_model);
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    // Fixed row heights: the view never measures 100,000 rows.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    SortArrowStyle::Use(header);
    for (int c = 0; c < RecordListModel::ColumnCount; ++c)
        m_list->setColumnWidth(c, kColumnWidths[c]);
    connect(header, &QHeaderView::sectionClicked, this, &CViewRecordDlg::OnHeaderClicked);
    connect(m_list, &QTableView::clicked, this,
            [this](const QModelIndex& i) { m_model->RowClicked(i.row()); });
    connect(m_list, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { OnDoubleClicked(i.row()); });

    const auto* search = new ListSearch(
        m_list, m_search, m_searchButton, RecordListModel::ControlNo,
        [this](const QString& text) { return m_model->Matches(text); },
        QStringLiteral("Searches for the given control no."));
    auto* buttons = new QHBoxLayout;
    m_loading->hide();
    buttons->addWidget(m_loading);
    buttons->addStretch();
    for (QPushButton* b : {m_ok, m_cancelButton, m_delete}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    LayOutBrowser(this, search->MakeRow(QStringLiteral("Search by Control Number")),
                  QStringLiteral("Test Records"), m_list, buttons);
    resize(1000, 480);

    connect(m_ok, &QPushButton::clicked, this, &CViewRecordDlg::OnOk);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_delete, &QPushButton::clicked, this, &CViewRecordDlg::OnDelete);

    Fill();
}

void CViewRecordDlg::Fill() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString problem; // told once the list is shown
    if (m_settings.Setting(QStringLiteral("BuildIndex")) == QLatin1String("1")) {
        const RebuildResult r = m_index.Rebuild(RecordIndex::RebuildKind::Browser);
        if (r.ran && r.stored) {
            m_settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                                    QStringLiteral("0"));
            if (!r.unreadable.isEmpty())
                problem = QStringLiteral("The index was rebuilt; these records are not in it.\n") +
                          store::UnreadableSummary(r.unreadable);
        } else if (r.ran) {
            // The request to rebuild stands, so that the next opening tries again.
            problem = QStringLiteral("The index could not be rebuilt (%1). The list shows the "
                                     "index as it was.")
                          .arg(r.error);
        }
    }
    // A server may hold a million rows, or not answer at all: its rows
    // arrive from a worker while the dialog is in use.
    QList<RecordListRow> rows;
    const bool server = m_index.OnServer();
    if (!server) m_index.ListRows(rows);
    m_model->SetRows(rows);
    rows.clear();
    QApplication::restoreOverrideCursor();
    if (!problem.isEmpty()) ThePrompter().Message(problem, Prompter::Icon::Warning);
    if (server)
        LoadServerRows();
    else
        ReportEmptyFlowRates();
}

void CViewRecordDlg::LoadServerRows() {
    m_loader =
        new ServerRowsLoader(m_index.Table().Database().Connection().connectionName(), 0, this);
    const auto count = [this] {
        m_loading->setText(
            QStringLiteral("Reading the index: %L1 records so far...").arg(m_model->RowCount()));
    };
    count();
    m_loading->show();
    connect(m_loader, &ServerRowsLoader::Expecting, m_model, &RecordListModel::ReserveMore);
    connect(m_loader, &ServerRowsLoader::RowsArrived, this,
            [this, count](const QList<RecordListRow>& rows) {
                m_model->AppendRows(rows);
                count();
            });
    connect(m_loader, &ServerRowsLoader::Finished, this, &CViewRecordDlg::ServerRowsLoaded);
}

void CViewRecordDlg::ServerRowsLoaded(const QString& error) {
    m_loader->deleteLater();
    m_loader = nullptr;
    m_loading->hide();
    // A sort chosen while rows were arriving takes in the late ones.
    if (m_model->SortColumn() != RecordListModel::Tick) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_model->SortRows(m_model->SortColumn(), m_model->SortOrder());
        QApplication::restoreOverrideCursor();
    }
    if (!error.isEmpty())
        ThePrompter().Message(m_model->RowCount() == 0
                                  ? QStringLiteral("The records index could not be read, so the "
                                                   "list is empty: %1.")
                                        .arg(error)
                                  : QStringLiteral("Only %L1 records could be read from the index "
                                                   "server (%2).")
                                        .arg(m_model->RowCount())
                                        .arg(error),
                              Prompter::Icon::Warning);
    ReportEmptyFlowRates();
}

// Once for the whole list, however many rows lack the set flow rate.
void CViewRecordDlg::ReportEmptyFlowRates() {
    if (m_model->EmptyFlowRateCount() > 0)
        ThePrompter().Message(
            QStringLiteral("Please rebuild the database index before accessing the test records."));
}

void CViewRecordDlg::OnHeaderClicked(int section) {
    if (section == RecordListModel::Tick) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Qt::SortOrder order = m_model->SortByClick(RecordListModel::Column(section));
    QHeaderView* header = m_list->horizontalHeader();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(section, order);
    QApplication::restoreOverrideCursor();
}

void CViewRecordDlg::OnOk() {
    const QString folder = m_index.DataFolder();
    QList<int> rows = m_model->TickedRows();
    if (rows.isEmpty()) {
        // Nothing ticked: the rows highlighted (by Search or a click) open.
        for (const QModelIndex& i : m_list->selectionModel()->selectedRows()) rows << i.row();
        std::sort(rows.begin(), rows.end());
    }
    if (rows.isEmpty()) {
        ThePrompter().Message(QStringLiteral("Tick the records to open, or select one."));
        return;
    }
    for (int row : rows) {
        const QString file = m_model->FileName(row);
        if (!file.isEmpty()) m_open(folder + QLatin1Char('/') + file);
    }
}

void CViewRecordDlg::OnDoubleClicked(int row) {
    const QString folder = store::FolderForOpening(m_settings, m_index.DataFolder());
    if (folder.isEmpty()) {
        ThePrompter().Message(QStringLiteral(
            "Please provide a valid path in the Control Menu\\Rivuletrix parameters box."));
        return;
    }
    const QString file = m_model->FileName(row);
    if (file.isEmpty()) return;
    m_open(folder + QLatin1Char('/') + file);
    accept();
}

void CViewRecordDlg::OnDelete() {
    QList<int> rows = m_model->TickedRows();
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [this](int r) { return m_model->FileName(r).isEmpty(); }),
               rows.end());
    if (rows.isEmpty()) return;
    const QString folder = m_index.DataFolder();
    int files = 0;
    for (int r : rows)
        if (QFileInfo::exists(folder + QLatin1Char('/') + m_model->FileName(r))) ++files;
    if (!ThePrompter().QuestionDefaultNo(
            QStringLiteral("Delete %1 test record(s) from the index and %2 record file(s) from "
                           "the data folder?")
                .arg(rows.size())
                .arg(files),
            Prompter::Icon::Question))
        return;
    QStringList failed;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        const int row = rows[i];
        const QString file = m_model->FileName(row);
        QFile f(folder + QLatin1Char('/') + file);
        // A file that stays keeps its row: the index must not lose a record
        // that is still there.
        if (f.exists() && !f.remove()) {
            failed << QDir::toNativeSeparators(f.fileName()) + QStringLiteral(" (") +
                          f.errorString() + QLatin1Char(')');
            continue;
        }
        m_index.DeleteRow(QStringLiteral("Filename"), file);
        m_model->RemoveListRow(row);
    }
    if (!failed.isEmpty())
        ThePrompter().Message(QStringLiteral("These record files could not be deleted; they stay "
                                             "in the list:\n%1")
                                  .arg(failed.join(QLatin1Char('\n'))),
                              Prompter::Icon::Warning);
}
