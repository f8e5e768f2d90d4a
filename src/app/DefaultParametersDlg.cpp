#include "DefaultParametersDlg.h"

#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "store/AdoDatabase.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

CDefaultParameters::FolderPicker& Picker() {
    static CDefaultParameters::FolderPicker picker;
    return picker;
}

// The wait cursor for the life of a network look.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

void CDefaultParameters::SetFolderPicker(FolderPicker picker) {
    Picker() = std::move(picker);
}

CDefaultParameters::CDefaultParameters(CRivuletrixApp& app, QWidget* parent)
    : QDialog(parent), m_app(app), m_rules(app, app.Records(), app.Templates()) {
    setWindowTitle(QStringLiteral("Rivuletrix Default Parameters"));
    auto* form = new QFormLayout;
    const auto whatsThis = [](QWidget* w, const char* text) {
        w->setWhatsThis(QString::fromUtf8(text));
    };
    for (int k = 0; k < 3; ++k) {
        m_headers[k] = new QLineEdit(this);
        m_headers[k]->setMaxLength(40);
        m_headers[k]->setObjectName(QStringLiteral("header%1").arg(k + 1));
        whatsThis(m_headers[k], "A header line printed at the top of every report and stored "
                                "with every new test (up to 40 characters).");
        form->addRow(QStringLiteral("Header %1").arg(k + 1), m_headers[k]);
    }
    const auto digits =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), this);
    m_tolerance = new QLineEdit(this);
    m_tolerance->setObjectName(QStringLiteral("tolerance"));
    m_tolerance->setMaxLength(2);
    m_tolerance->setValidator(digits);
    whatsThis(m_tolerance, "The flow tolerance in percent a new test starts with (0 to 50).");
    form->addRow(QStringLiteral("Default Flow Tolerance"), m_tolerance);
    m_lineWidth = new QLineEdit(this);
    m_lineWidth->setObjectName(QStringLiteral("lineWidth"));
    m_lineWidth->setMaxLength(2);
    m_lineWidth->setValidator(digits);
    whatsThis(m_lineWidth, "The width of the graph lines in pixels (1 to 5).");
    form->addRow(QStringLiteral("Graph Line Width"), m_lineWidth);
    m_unit = new QComboBox(this);
    m_unit->setObjectName(QStringLiteral("unit"));
    m_unit->addItems({QStringLiteral("kPa"), QStringLiteral("mmHg"), QStringLiteral("psi")});
    whatsThis(m_unit, "The pressure unit a new channel window starts with.");
    form->addRow(QStringLiteral("Default Pressure Units"), m_unit);

    auto* group = new QGroupBox(QStringLiteral("File Path"), this);
    auto* kinds = new QButtonGroup(this);
    auto* groupLayout = new QVBoxLayout(group);
    auto* radios = new QHBoxLayout;
    const char* names[3] = {"Default Path", "Network Path", "Custom Path"};
    for (int k = 0; k < 3; ++k) {
        m_kinds[k] = new QRadioButton(QString::fromLatin1(names[k]), group);
        kinds->addButton(m_kinds[k], k);
        radios->addWidget(m_kinds[k]);
    }
    whatsThis(m_kinds[0], "Keep records in the settings folder.");
    whatsThis(m_kinds[1], "Keep records in a mounted network folder shared by several PCs.");
    whatsThis(m_kinds[2], "Keep records in a folder of your choice.");
    groupLayout->addLayout(radios);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("Set  File Path"), group));
    m_path = new QLineEdit(group);
    m_path->setObjectName(QStringLiteral("path"));
    whatsThis(m_path, "The data folder: record files and the two database files live here. A "
                      "custom folder that does not exist is created when you press Ok; a "
                      "network folder must be mounted.");
    pathRow->addWidget(m_path, 1);
    m_browse = new QPushButton(QStringLiteral("Browse"), group);
    m_browse->setAutoDefault(false);
    pathRow->addWidget(m_browse);
    groupLayout->addLayout(pathRow);
    m_reason = new QLabel(group);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setWordWrap(true);
    groupLayout->addWidget(m_reason);
    // Which index the stores use; the server is named in the settings file
    // only, with its password (if any) left out here.
    auto* indexRow = new QHBoxLayout;
    indexRow->addWidget(new QLabel(QStringLiteral("Records index"), group));
    m_indexInUse = new QLineEdit(group);
    m_indexInUse->setObjectName(QStringLiteral("indexInUse"));
    m_indexInUse->setReadOnly(true);
    const QString server = m_app.Setting(QStringLiteral("IndexServer")).trimmed();
    m_indexInUse->setText(server.isEmpty() ? QStringLiteral("Database files in the data folder")
                                           : QStringLiteral("PostgreSQL server ") +
                                                 CADODatabase::DisplayUri(server));
    // The beginning says which kind; the whole text is in the tooltip.
    m_indexInUse->setCursorPosition(0);
    m_indexInUse->setToolTip(m_indexInUse->text());
    whatsThis(m_indexInUse,
              "Where the records index and the template index are kept: the two database files "
              "in the data folder, or the PostgreSQL server named by IndexServer= in the "
              "settings file. Record and template files stay in the data folder either way.");
    indexRow->addWidget(m_indexInUse, 1);
    groupLayout->addLayout(indexRow);

    m_ok = new QPushButton(QStringLiteral("Ok"), this);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    for (QPushButton* b : {m_ok, m_close}) b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(group);
    layout->addLayout(buttons);

    // The settings as they are now.
    DefaultParametersRules::Opening o;
    {
        const WaitCursor wait; // a network folder is looked at
        o = m_rules.Open();
    }
    m_kinds[m_rules.Kind()]->setChecked(true);
    for (int k = 0; k < 3; ++k) m_headers[k]->setText(o.headers[k]);
    m_tolerance->setText(o.tolerance);
    m_lineWidth->setText(o.lineWidth);
    // A stored unit the list does not hold shows blank and is kept unless
    // the user picks one.
    m_storedUnit = o.unit;
    m_unit->setCurrentIndex(m_unit->findText(o.unit));
    Show(o.view);
    m_ok->setEnabled(o.view.enableOk);

    const auto enableOk = [this] { m_ok->setEnabled(true); };
    for (QLineEdit* h : m_headers) connect(h, &QLineEdit::textEdited, this, enableOk);
    // Any change of the path, typed or from a choice, enables Ok.
    connect(m_path, &QLineEdit::textChanged, this, enableOk);
    connect(m_unit, &QComboBox::currentIndexChanged, this, enableOk);
    connect(m_tolerance, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_rules.ToleranceEdited(text)) m_ok->setEnabled(true);
    });
    connect(m_lineWidth, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_rules.LineWidthEdited(text)) m_ok->setEnabled(true);
    });
    connect(kinds, &QButtonGroup::idClicked, this, &CDefaultParameters::OnKind);
    connect(m_browse, &QPushButton::clicked, this, &CDefaultParameters::OnBrowse);
    connect(m_ok, &QPushButton::clicked, this, &CDefaultParameters::OnOk);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

void CDefaultParameters::Show(const DefaultParametersRules::PathView& view) {
    m_path->setText(view.path);
    m_path->setReadOnly(view.readOnly);
    m_browse->setEnabled(view.browse);
    m_reason->setText(view.reason);
    m_reason->setVisible(!view.reason.isEmpty());
    if (view.enableOk) m_ok->setEnabled(true);
}

void CDefaultParameters::OnKind(int kind) {
    switch (kind) {
    case DefaultParametersRules::DefaultPath:
        Show(m_rules.ChooseDefault());
        break;
    case DefaultParametersRules::CustomPath:
        Show(m_rules.ChooseCustom());
        break;
    case DefaultParametersRules::NetworkPath: {
        DefaultParametersRules::PathView view;
        {
            const WaitCursor wait;
            view = m_rules.ChooseNetwork();
        }
        if (!view.pickFolder) {
            Show(view);
            break;
        }
        // Not reachable: the field says why until a folder is picked.
        Show(view);
        PickNetworkFolder(true);
        break;
    }
    }
}

QUrl CDefaultParameters::Pick(const QString& caption, const QString& start) {
    if (Picker()) return Picker()(this, caption, start);
    return QFileDialog::getExistingDirectoryUrl(this, caption, QUrl::fromLocalFile(start),
                                                QFileDialog::ShowDirsOnly,
                                                {QStringLiteral("file")});
}

bool CDefaultParameters::PickNetworkFolder(bool fromChoice) {
    const QUrl url =
        Pick(QStringLiteral("Select the mounted network folder"),
             m_rules.Kind() == DefaultParametersRules::NetworkPath ? m_path->text() : QString());
    if (url.isEmpty()) return false;
    if (!url.isLocalFile()) {
        ThePrompter().Message(QStringLiteral("FAILED"), Prompter::Icon::Error);
        return false;
    }
    Show(m_rules.NetworkFolderPicked(url.toLocalFile(), fromChoice));
    return true;
}

void CDefaultParameters::OnBrowse() {
    if (m_rules.Kind() == DefaultParametersRules::NetworkPath) {
        if (!PickNetworkFolder(false)) m_path->setReadOnly(true);
        return;
    }
    const QUrl url = Pick(QStringLiteral("Select the data folder"), m_path->text());
    if (url.isEmpty()) return;
    if (!url.isLocalFile() || url.toLocalFile().isEmpty()) {
        ThePrompter().Message(QStringLiteral("FAILED"), Prompter::Icon::Error);
        return;
    }
    m_path->setText(url.toLocalFile());
    m_ok->setEnabled(true);
}

void CDefaultParameters::OnOk() {
    m_path->setReadOnly(false);
    DefaultParametersRules::Values values;
    values.path = m_path->text();
    for (int k = 0; k < 3; ++k) values.headers[k] = m_headers[k]->text();
    values.tolerance = m_tolerance->text();
    values.lineWidth = m_lineWidth->text();
    values.unit = m_unit->currentIndex() < 0 ? m_storedUnit : m_unit->currentText();
    if (m_rules.Save(values) != DefaultParametersRules::SaveResult::Saved) return;
    accept();
}

void CDefaultParameters::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) {
        QDialog::keyPressEvent(event);
        return;
    }
    // Enter and Escape act only on the buttons, so a stray key in a field
    // neither saves nor throws the entries away.
    QWidget* focus = focusWidget();
    if (focus != m_ok && focus != m_close && focus != m_browse) {
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape)
        reject();
    else if (auto* b = qobject_cast<QPushButton*>(focus); b && b->isEnabled())
        b->click();
    event->accept();
}
