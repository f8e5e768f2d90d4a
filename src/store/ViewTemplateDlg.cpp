#include "ViewTemplateDlg.h"

#include "DataFolderForOpening.h"
#include "ListSearch.h"
#include "SortArrowStyle.h"
#include "TemplateCreateDlg.h"
#include "TemplateListModel.h"
#include "TemplateStore.h"
#include "base/AppSettings.h"
#include "base/Prompter.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

CViewTemplateDlg::CViewTemplateDlg(TemplateStore& store, const AppSettings& settings,
                                   QWidget* parent)
    : QDialog(parent), m_store(store), m_settings(settings), m_model(new TemplateListModel(this)),
      m_list(new QTableView), m_search(new QLineEdit),
      m_searchButton(new QPushButton(QStringLiteral("Search..."))),
      m_selectAll(new QPushButton(QStringLiteral("Select All"))),
      m_unselectAll(new QPushButton(QStringLiteral("Unselect All"))),
      m_delete(new QPushButton(QStringLiteral("Delete"))),
      m_create(new QPushButton(QStringLiteral("Create"))),
      m_ok(new QPushButton(QStringLiteral("Ok"))) {
    setWindowTitle(QStringLiteral("Template"));
    m_ok->setToolTip(QStringLiteral("Closes the dialog"));
    m_create->setToolTip(QStringLiteral("Creates new template."));
    m_unselectAll->setToolTip(QStringLiteral("Deselects all the templates."));
    m_delete->setToolTip(QStringLiteral("Deletes the selected template."));
    m_selectAll->setToolTip(QStringLiteral("Selects all the templates"));

    m_list->setModel(m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->verticalHeader()->hide();
    // One line a template: long texts are elided, the file name takes the
    // width left over.
    m_list->setWordWrap(false);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->horizontalHeader()->setSectionsClickable(true);
    m_list->horizontalHeader()->setHighlightSections(false);
    SortArrowStyle::Use(m_list->horizontalHeader());
    const int widths[] = {25, 125, 150, 95};
    for (int c = 0; c < TemplateListModel::ColumnCount; ++c) m_list->setColumnWidth(c, widths[c]);
    connect(m_list->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CViewTemplateDlg::OnHeaderClicked);
    connect(m_list, &QTableView::doubleClicked, this,
            [this](const QModelIndex& i) { OnDoubleClicked(i.row()); });
    connect(m_model, &TemplateListModel::TicksChanged, this,
            [this] { m_create->setEnabled(!m_model->AnyTicked()); });

    const auto* search = new ListSearch(
        m_list, m_search, m_searchButton, TemplateListModel::TemplateName,
        [this](const QString& text) { return m_model->Matches(text); },
        QStringLiteral("Searches for given template name."));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_selectAll, m_unselectAll, m_delete, m_create, m_ok}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    LayOutBrowser(this, search->MakeRow(QStringLiteral("Search by Template Name")),
                  QStringLiteral("Template"), m_list, buttons);
    resize(480, 400);

    connect(m_selectAll, &QPushButton::clicked, this, [this] { m_model->SetAllTicked(true); });
    connect(m_unselectAll, &QPushButton::clicked, this, [this] { m_model->SetAllTicked(false); });
    connect(m_delete, &QPushButton::clicked, this, &CViewTemplateDlg::OnDelete);
    connect(m_create, &QPushButton::clicked, this, &CViewTemplateDlg::OnCreate);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    // A rebuild that failed leaves the list empty.
    if (Rebuild()) Fill();
}

bool CViewTemplateDlg::Rebuild() {
    if (m_settings.Setting(QStringLiteral("BuildIndex")) != QLatin1String("1")) return true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const RebuildResult r = m_store.RebuildTemplateIndex(TemplateStore::RebuildKind::Full);
    QApplication::restoreOverrideCursor();
    if (!r.ran || !r.stored) {
        // The request to rebuild stands, so that the next opening tries again.
        ThePrompter().Message(
            r.error.isEmpty()
                ? QStringLiteral("Template database not found/corrupted.")
                : QStringLiteral("Template database not found/corrupted.\n%1").arg(r.error));
        return false;
    }
    m_settings.WriteSetting(settings::kSection, QStringLiteral("BuildIndex"), QStringLiteral("0"));
    return true;
}

void CViewTemplateDlg::Fill() {
    QList<TemplateRow> rows;
    m_store.ListRows(rows);
    m_model->SetRows(rows);
    m_list->horizontalHeader()->setSortIndicatorShown(false);
}

void CViewTemplateDlg::OnHeaderClicked(int section) {
    if (section == TemplateListModel::Tick) return;
    m_list->clearSelection();
    const Qt::SortOrder order = m_model->SortByClick(TemplateListModel::Column(section));
    m_list->horizontalHeader()->setSortIndicatorShown(true);
    m_list->horizontalHeader()->setSortIndicator(section, order);
}

void CViewTemplateDlg::OnCreate() {
    CTemplateCreateDlg editor(m_store, TemplateEditor::Mode::Create, {}, this);
    editor.exec();
    Fill();
}

void CViewTemplateDlg::OnDoubleClicked(int row) {
    if (row < 0 || row >= m_model->RowCount()) return;
    const QString folder = store::FolderForOpening(m_settings, m_store.DataFolder());
    if (folder.isEmpty()) {
        ThePrompter().Message(QStringLiteral(
            "Please provide a valid path in the Control Menu\\Rivuletrix parameters box."));
        return;
    }
    const QString file = m_model->Row(row).fileName;
    if (file.isEmpty() || !QFileInfo::exists(folder + QLatin1Char('/') + file)) {
        ThePrompter().Message(QStringLiteral("File not found"));
        return;
    }
    CTemplateCreateDlg editor(m_store, TemplateEditor::Mode::Edit, file, this);
    editor.exec();
    // The list shows what the editor saved (a new name, a new comment).
    Fill();
}

void CViewTemplateDlg::OnDelete() {
    const QList<int> rows = m_model->TickedRows();
    if (rows.isEmpty()) return;
    if (!ThePrompter().QuestionDefaultNo(QStringLiteral("Do you want to delete the Template"),
                                         Prompter::Icon::Question))
        return;
    for (int r : rows) {
        const QString file = m_model->Row(r).fileName;
        m_store.DeleteRow(QStringLiteral("Filename"), file);
        QFile f(m_store.TemplateFilePath(file));
        if (!f.exists())
            ThePrompter().Message(QStringLiteral("File not found"));
        else if (!f.remove())
            ThePrompter().Message(QStringLiteral("The template file %1 could not be deleted (%2).")
                                      .arg(file, f.errorString()),
                                  Prompter::Icon::Warning);
    }
    Fill();
    m_create->setEnabled(true);
}
