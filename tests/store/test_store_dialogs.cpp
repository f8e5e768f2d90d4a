// The record browser, the index build, the template browser and the template
// editor on real widgets (offscreen) over real SQLite indexes and files.
#include <QtGlobal>
#ifndef Q_OS_WIN
#include "PgTestServer.h"
#endif
#include "StoreTestEnv.h"
#include "base/Prompter.h"
#include "store/BuildIndexDlg.h"
#include "store/IndexBuildJob.h"
#include "store/RecordIndex.h"
#include "store/RecordListModel.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateListModel.h"
#include "store/TemplateStore.h"
#include "store/ViewRecordDlg.h"
#include "store/ViewTemplateDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QtTest>

#include <functional>

namespace {

RecordIndexRow IndexRow(const QString& control, const QString& date, const QString& time,
                        const QString& rate, const QString& file) {
    RecordIndexRow r;
    r.controlNumber = control;
    r.typeOfTest = QStringLiteral("F");
    r.startDate = date;
    r.startTime = time;
    r.fileName = file;
    r.manufacture = QStringLiteral("Acme");
    r.setFlowRate = rate;
    return r;
}

QByteArray RecordFile(const QString& control) {
    QByteArray out;
    for (int i = 1; i <= 22; ++i) {
        QByteArray v;
        if (i == 6) v = control.toLatin1();
        if (i == 12) v = "Flow";
        if (i == 13) v = "5.50";
        if (i == 18) v = "08-Dec-2026,14:05:09";
        out += "H" + QByteArray::number(i) + "," + v + "\r\n";
    }
    out += "D1,:,0,0,0\r\nD2, ,1000,14,20\r\n";
    return out;
}

// Runs act on the first visible dialog of type D once it shows (a modal
// dialog blocks the caller until it closes).
template <class D> void WhenShown(std::function<void(D*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<D*>(w); d && d->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(d);
                return;
            }
    });
    timer->start(20);
}

void ClickHeader(QTableView* list, int section) {
    QHeaderView* h = list->horizontalHeader();
    QTest::mouseClick(
        h->viewport(), Qt::LeftButton, {},
        QPoint(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2));
}

// Which way the sort arrow drawn on a header section points, read off the
// pixels the arrow adds to the header: +1 up (narrow top), -1 down, 0 when
// none is drawn.
int DrawnArrow(QTableView* list, int section) {
    QHeaderView* h = list->horizontalHeader();
    const QImage with = h->viewport()->grab().toImage();
    h->setSortIndicatorShown(false);
    const QImage without = h->viewport()->grab().toImage();
    h->setSortIndicatorShown(true);
    const int left = h->sectionViewportPosition(section);
    QList<int> widths;
    for (int y = 0; y < with.height(); ++y) {
        int n = 0;
        for (int x = left; x < left + h->sectionSize(section); ++x)
            if (with.pixel(x, y) != without.pixel(x, y)) ++n;
        if (n) widths << n;
    }
    if (widths.size() < 2 || widths.first() == widths.last()) return 0;
    return widths.first() < widths.last() ? 1 : -1;
}

QPoint CellCentre(QTableView* list, int row, int column) {
    return list->visualRect(list->model()->index(row, column)).center();
}

// A user's double-click: the first click, then the second.
void DoubleClick(QTableView* list, int row, int column) {
    const QPoint at = CellCentre(list, row, column);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void Tick(QTableView* list, int row) {
    list->scrollTo(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CellCentre(list, row, 0));
}

QStringList Column(const QAbstractItemModel* m, int column) {
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, column).data().toString();
    return out;
}

// Picks an entry of a drop-down list as the user does.
void Choose(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

// Fills an editor row through its fields: type, rate, volume, minutes.
void FillRow(CTemplateCreateDlg& ed, int n, const QString& type, const QString& rate,
             const QString& volume, const QString& minutes) {
    const auto& w = ed.Row(n);
    Choose(w.type, type);
    QTest::keyClicks(w.rate, rate);
    QTest::keyClicks(w.volume, volume);
    QTest::keyClicks(w.minutes, minutes);
}

TemplateStep Step(int type, double rate, double volume, int unit) {
    TemplateStep s;
    s.type = type;
    s.rate = rate;
    s.volume = volume;
    s.unit = unit;
    s.tolerance = 5;
    s.minutes = 10;
    return s;
}

} // namespace

class TestStoreDialogs : public QObject {
    Q_OBJECT

    ScriptedPrompter m_prompter;
    std::unique_ptr<StoreTestEnv> m_env;
    std::unique_ptr<RecordIndex> m_index;
    std::unique_ptr<TemplateStore> m_templates;
    QStringList m_opened;

    void AddRecord(const QString& control, const QString& date, const QString& time,
                   const QString& rate, bool withFile = true) {
        const QString file = QStringLiteral("RXr_%1.p8d").arg(control);
        QVERIFY(m_index->AddRow(IndexRow(control, date, time, rate, file)));
        if (withFile)
            StoreTestEnv::Write(m_env->dataDir + QLatin1Char('/') + file, RecordFile(control));
    }
    std::unique_ptr<CViewRecordDlg> RecordBrowser() {
        auto dlg = std::make_unique<CViewRecordDlg>(*m_index, *m_env->settings,
                                                    [this](const QString& path) {
                                                        m_opened << path;
                                                        return true;
                                                    });
        dlg->show();
        return dlg;
    }

private Q_SLOTS:
    void init() {
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
        m_opened.clear();
        m_env = std::make_unique<StoreTestEnv>();
        m_env->CopySeeds();
        m_index = std::make_unique<RecordIndex>(*m_env->settings);
        m_index->SetSeedFolder(m_env->work);
        m_index->SetStartupFinished(true);
        QVERIFY(m_index->Open());
        m_templates = std::make_unique<TemplateStore>(*m_env->settings);
        m_templates->SetSeedFolder(m_env->work);
        QVERIFY(m_templates->Open());
    }
    void cleanup() {
        m_index.reset();
        m_templates.reset();
        m_env.reset();
        SetPrompter(nullptr);
    }

    void recordBrowserListsSortsAndSearches() {
        AddRecord("XA12", "31-Dec-25", "23:59:59", "5.500000");
        AddRecord("B1", "01-Jan-26", "9:00:00", "");
        AddRecord("A1", "01-Jan-26", "10:00:00", "");
        auto dlg = RecordBrowser();
        // Two rows lack the set flow rate: one message, not one per row.
        QCOMPARE(
            m_prompter.messages,
            QStringList{"Please rebuild the database index before accessing the test records."});
        QTableView* list = dlg->List();
        QCOMPARE(Column(list->model(), RecordListModel::ControlNo),
                 (QStringList{"XA12", "B1", "A1"}));
        QCOMPARE(list->model()->index(0, RecordListModel::StartDateTime).data().toString(),
                 QStringLiteral("31-Dec-25 23:59:59"));
        QCOMPARE(list->model()->index(0, RecordListModel::SetFlowRate).data().toString(),
                 QStringLiteral("5.50"));
        QCOMPARE(list->columnWidth(RecordListModel::StartDateTime), 115);

        ClickHeader(list, RecordListModel::StartDateTime);
        QCOMPARE(Column(list->model(), RecordListModel::ControlNo),
                 (QStringList{"A1", "B1", "XA12"}));
        QCOMPARE(list->horizontalHeader()->sortIndicatorSection(),
                 int(RecordListModel::StartDateTime));
        QCOMPARE(list->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        // Latest first is a descending sort: its arrow points down, as on
        // Windows' own lists.
        QCOMPARE(DrawnArrow(list, RecordListModel::StartDateTime), -1);
        ClickHeader(list, RecordListModel::StartDateTime);
        QCOMPARE(Column(list->model(), RecordListModel::ControlNo),
                 (QStringList{"XA12", "B1", "A1"}));
        QCOMPARE(DrawnArrow(list, RecordListModel::StartDateTime), 1);
        ClickHeader(list, RecordListModel::Tick); // the check-box column does not sort
        QCOMPARE(Column(list->model(), RecordListModel::ControlNo),
                 (QStringList{"XA12", "B1", "A1"}));

        // Typing scrolls only; "Search..." selects every match.
        QTest::keyClicks(dlg->SearchEdit(), QStringLiteral("a1"));
        QVERIFY(list->selectionModel()->selectedRows().isEmpty());
        QTest::keyClick(dlg->SearchEdit(), Qt::Key_Return); // ignored: the dialog stays
        QTest::keyClick(dlg->SearchEdit(), Qt::Key_Escape);
        QVERIFY(dlg->isVisible());
        dlg->SearchButton()->click();
        QList<int> selected;
        for (const QModelIndex& i : list->selectionModel()->selectedRows()) selected << i.row();
        std::sort(selected.begin(), selected.end());
        QCOMPARE(selected, (QList<int>{0, 2}));
    }

    // On an index server the browser shows the first thousand rows at once
    // and takes in the rest while the user works: a sort chosen meanwhile
    // covers the late rows too, and closing the browser early stops the
    // reading.
    void recordBrowserOnServerReadsRowsOnAWorker() {
#ifdef Q_OS_WIN
        QSKIP("the index server is a Linux feature: no PostgreSQL driver on Windows");
#else
        if (!PgTestServer::Missing().isEmpty()) QSKIP(qPrintable(PgTestServer::Missing()));
        PgTestServer server;
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        StoreTestEnv env(QStringLiteral("IndexServer=%1\r\n").arg(server.Uri()));
        RecordIndex index(*env.settings);
        index.SetStartupFinished(true);
        QVERIFY2(index.Open(), qPrintable(index.LastError()));
        // Row i starts on day i % 28 + 1 at i seconds past 10:00; the
        // latest of all is row 2491 (28 Jan, 10:41:31), far past the first
        // thousand.
        QVERIFY2(server.Exec(QStringLiteral(
                     "INSERT INTO \"RivuletrixRecords\" (\"ControlNumber\", "
                     "\"TypeofTest\", \"StartDate\", \"StartTime\", \"Filename\", "
                     "\"SetFlowRate\") SELECT 'C' || i, 'F', lpad((i % 28 + 1)::text, "
                     "2, '0') || '-Jan-26', '10:' || lpad((i / 60)::text, 2, '0') || "
                     "':' || lpad((i % 60)::text, 2, '0'), 'RXr_' || i || '.p8d', "
                     "'5.500000' FROM generate_series(1, 2500) AS i")),
                 "filling the server failed");
        const auto browser = [&] {
            return std::make_unique<CViewRecordDlg>(index, *env.settings,
                                                    [](const QString&) { return true; });
        };
        auto dlg = browser();
        dlg->show();
        QTableView* list = dlg->List();
        QVERIFY(dlg->Loading());
        // A sort chosen while the rows arrive takes in the late ones.
        ClickHeader(list, RecordListModel::StartDateTime); // latest first
        QTRY_VERIFY_WITH_TIMEOUT(!dlg->Loading(), 20000);
        QCOMPARE(list->model()->rowCount(), 2500);
        QCOMPARE(list->model()->index(0, RecordListModel::ControlNo).data().toString(),
                 QStringLiteral("C2491"));
        QCOMPARE(list->model()->index(2499, RecordListModel::ControlNo).data().toString(),
                 QStringLiteral("C28")); // 01-Jan-26 10:00:28
        QVERIFY2(m_prompter.messages.isEmpty(), qPrintable(m_prompter.messages.join('|')));
        dlg.reset();

        // Closed at once: the reading stops, nothing is told.
        for (int i = 0; i < 3; ++i) {
            auto early = browser();
            early->show();
            QVERIFY(early->Loading());
        }
        QTest::qWait(100);
        QVERIFY(m_prompter.messages.isEmpty());
#endif
    }

    // A server that stops answering (frozen with SIGSTOP: its connections
    // stay open): the browser opens at once and stays usable while its
    // worker waits, then says the index could not be read; once the server
    // answers again the browser lists the rows.
    void recordBrowserOnFrozenServerSaysSo() {
#ifdef Q_OS_WIN
        QSKIP("the index server is a Linux feature: no PostgreSQL driver on Windows");
#else
        if (!PgTestServer::Missing().isEmpty()) QSKIP(qPrintable(PgTestServer::Missing()));
        PgTestServer server;
        QString error;
        QVERIFY2(server.Start(&error), qPrintable(error));
        StoreTestEnv env(QStringLiteral("IndexServer=%1\r\n").arg(server.Uri()));
        RecordIndex index(*env.settings);
        index.SetStartupFinished(true);
        QVERIFY2(index.Open(), qPrintable(index.LastError()));
        QVERIFY(server.Exec(QStringLiteral(
            "INSERT INTO \"RivuletrixRecords\" (\"ControlNumber\", \"Filename\") SELECT 'C' || "
            "i, 'RXr_' || i || '.p8d' FROM generate_series(1, 50) AS i")));
        const auto browser = [&] {
            return std::make_unique<CViewRecordDlg>(index, *env.settings,
                                                    [](const QString&) { return true; });
        };
        QVERIFY(server.Freeze(true));
        auto thaw = qScopeGuard([&server] { server.Freeze(false); });
        auto dlg = browser();
        dlg->show();
        QVERIFY(dlg->Loading());
        ClickHeader(dlg->List(), RecordListModel::StartDateTime); // usable meanwhile
        QTRY_VERIFY_WITH_TIMEOUT(!dlg->Loading(), 60000);
        QCOMPARE(dlg->List()->model()->rowCount(), 0);
        const QStringList told = m_prompter.messages.filter(QStringLiteral("could not be read"));
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QStringLiteral("did not answer")), qPrintable(told[0]));
        dlg.reset();
        QVERIFY(server.Freeze(false));
        thaw.dismiss();
        auto again = browser();
        again->show();
        QTRY_VERIFY_WITH_TIMEOUT(!again->Loading(), 20000);
        QCOMPARE(again->List()->model()->rowCount(), 50);
#endif
    }

    // RIVULETRIX_SCREENSHOTS=DIR keeps a picture of a browser with a month of
    // tests, latest first, one ticked and a search typed.
    void recordBrowserPicture() {
        const char* const makers[] = {"Acme", "Baxter", "Fresenius", "B. Braun"};
        const char* const types[] = {"F", "O", "P", "T"};
        for (int i = 0; i < 24; ++i) {
            RecordIndexRow r = IndexRow(
                QStringLiteral("W%1-%2").arg(3 + i % 4).arg(100 + i * 7),
                QStringLiteral("%1-Nov-26").arg(1 + i, 2, 10, QLatin1Char('0')),
                QStringLiteral("%1:%2:05").arg(8 + i % 9).arg(i * 2 % 60, 2, 10, QLatin1Char('0')),
                QString::asprintf("%lf", 25.0 * (1 + i % 5)),
                QStringLiteral("RXr_%1_%2.p8d").arg(QLatin1String(types[i % 4])).arg(i));
            r.typeOfTest = QLatin1String(types[i % 4]);
            r.manufacture = QLatin1String(makers[i % 4]);
            r.model = QStringLiteral("Pump-%1").arg(10 + i % 3);
            r.serialNumber = QStringLiteral("PS%1").arg(40200 + i);
            r.instSerialNum = i % 2 ? QStringLiteral("80001234") : QStringLiteral("80005678");
            r.tdSerialNum = QStringLiteral("T%1").arg(120 + i % 4);
            QVERIFY(m_index->AddRow(r));
        }
        auto dlg = RecordBrowser();
        ClickHeader(dlg->List(), RecordListModel::StartDateTime);
        Tick(dlg->List(), 2);
        QTest::keyClicks(dlg->SearchEdit(), QStringLiteral("w4"));
        dlg->SearchButton()->click();
        QCOMPARE(dlg->Model()->Text(0, RecordListModel::StartDateTime),
                 QStringLiteral("24-Nov-26 13:46:05"));
        const QByteArray dir = qgetenv("RIVULETRIX_SCREENSHOTS");
        if (!dir.isEmpty())
            QVERIFY(dlg->grab().save(QString::fromLocal8Bit(dir) +
                                     QStringLiteral("/record-browser.png")));
    }

    void openRecords_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("pathType"); // "2": the data folder; "1": a network path
        QTest::addColumn<int>("opened");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("closed");
        QTest::newRow("OK opens every ticked row") << "ok"
                                                   << "2" << 2 << "" << false;
        QTest::newRow("OK opens the row Search highlighted") << "search"
                                                             << "2" << 1 << "" << false;
        QTest::newRow("OK with nothing ticked or highlighted")
            << "nothing"
            << "2" << 0 << "Tick the records to open, or select one." << false;
        QTest::newRow("double-click opens one and closes") << "double"
                                                           << "2" << 1 << "" << true;
        QTest::newRow("double-click without a valid folder")
            << "double"
            << "1" << 0
            << "Please provide a valid path in the Control Menu\\Rivuletrix parameters box."
            << false;
    }
    void openRecords() {
        QFETCH(QString, how);
        QFETCH(QString, pathType);
        QFETCH(int, opened);
        QFETCH(QString, message);
        QFETCH(bool, closed);
        AddRecord("A", "01-Jan-26", "10:00:00", "1.000000");
        AddRecord("B", "01-Jan-26", "11:00:00", "1.000000");
        AddRecord("C", "01-Jan-26", "12:00:00", "1.000000");
        auto dlg = RecordBrowser();
        // The network path is read only by the double-click.
        m_env->settings->WriteSetting(settings::kSection, QStringLiteral("NetworkPath"),
                                      m_env->tmp.path() + QStringLiteral("/nowhere"));
        m_env->settings->WriteSetting(settings::kSection, QStringLiteral("PathType"), pathType);
        QTableView* list = dlg->List();
        if (how == QLatin1String("ok")) {
            Tick(list, 0);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CellCentre(list, 1, 2));
            Tick(list, 2); // the click moved the memory: row 0 keeps its tick
            QCOMPARE(dlg->Model()->TickedRows(), (QList<int>{0, 2}));
            dlg->OkButton()->click();
        } else if (how == QLatin1String("search")) {
            QTest::keyClicks(dlg->SearchEdit(), QStringLiteral("B"));
            dlg->SearchButton()->click();
            dlg->OkButton()->click();
        } else if (how == QLatin1String("nothing")) {
            list->clearSelection();
            dlg->OkButton()->click();
        } else {
            DoubleClick(list, 1, 1);
        }
        if (how == QLatin1String("search"))
            QVERIFY(m_opened.value(0).endsWith(QStringLiteral("/RXr_B.p8d")));
        QCOMPARE(m_opened.size(), opened);
        for (const QString& path : m_opened) QVERIFY2(QFile::exists(path), qPrintable(path));
        if (how == QLatin1String("double") && opened)
            QVERIFY(m_opened[0].endsWith(QStringLiteral("/RXr_B.p8d")));
        QCOMPARE(m_prompter.messages.value(0), message);
        QCOMPARE(!dlg->isVisible(), closed);
    }

    // Delete asks once; a file that cannot go keeps its row and is named.
    void deleteRowsAndFiles_data() {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void deleteRowsAndFiles() {
        QFETCH(bool, answer);
        AddRecord("A", "01-Jan-26", "10:00:00", "1.000000");
        AddRecord("B", "01-Jan-26", "11:00:00", "1.000000", false); // stuck, below
        AddRecord("C", "01-Jan-26", "12:00:00", "1.000000", false); // file already gone
        AddRecord("D", "01-Jan-26", "13:00:00", "1.000000");
        const QString stuck = m_env->dataDir + QStringLiteral("/RXr_B.p8d");
        QVERIFY(QDir().mkpath(stuck + QStringLiteral("/inside")));
        auto dlg = RecordBrowser();
        RecordListModel* m = dlg->Model();
        for (int r = 0; r < 3; ++r) {
            m->RowClicked(3); // keeps every tick
            m->SetTicked(r, true);
        }
        m_prompter.QueueAnswer(answer);
        dlg->DeleteButton()->click();
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY2(m_prompter.questions[0].contains(QStringLiteral("3 test record(s)")) &&
                     m_prompter.questions[0].contains(QStringLiteral("2 record file(s)")),
                 qPrintable(m_prompter.questions[0]));
        if (!answer) {
            QCOMPARE(m->RowCount(), 4);
            QCOMPARE(m_index->GetCount(), 4);
            return;
        }
        QCOMPARE(Column(m, RecordListModel::ControlNo), (QStringList{"B", "D"}));
        QVERIFY(!QFile::exists(m_env->dataDir + QStringLiteral("/RXr_A.p8d")));
        QVERIFY(QFile::exists(m_env->dataDir + QStringLiteral("/RXr_D.p8d")));
        QCOMPARE(m_prompter.messages.size(), 1);
        QVERIFY(m_prompter.messages[0].contains(QStringLiteral("RXr_B.p8d")));
        QList<RecordListRow> rows;
        QVERIFY(m_index->ListRows(rows));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].controlNumber, QStringLiteral("B"));
    }

    void browserRebuildsWhenAsked() {
        AddRecord("OLD", "01-Jan-26", "10:00:00", "1.000000", false);
        StoreTestEnv::Write(m_env->dataDir + QStringLiteral("/RXr_new.p8d"), RecordFile("NEW"));
        m_env->settings->WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                                      QStringLiteral("1"));
        auto dlg = RecordBrowser();
        QCOMPARE(Column(dlg->Model(), RecordListModel::ControlNo), QStringList{"NEW"});
        QCOMPARE(m_env->settings->Setting(QStringLiteral("BuildIndex")), QStringLiteral("0"));
    }

    // A browser that rebuilds on opening says what it could not do: records
    // it could not read are named; a rebuild whose rows could not be stored
    // (another program holds the write lock) is reported and the request to
    // rebuild stands. The template browser then shows an empty list.
    void browserRebuildProblemsAreReported_data() {
        QTest::addColumn<bool>("templates");
        QTest::addColumn<bool>("locked");
        QTest::newRow("records, unreadable file") << false << false;
        QTest::newRow("records, index locked") << false << true;
        QTest::newRow("templates, store locked") << true << true;
    }
    void browserRebuildProblemsAreReported() {
        QFETCH(bool, templates);
        QFETCH(bool, locked);
        AddRecord("OLD", "01-Jan-26", "10:00:00", "1.000000");
        // A link that leads nowhere: listed, but it cannot be read.
        QVERIFY(QFile::link(m_env->dataDir + QStringLiteral("/gone.p8d"),
                            m_env->dataDir + QStringLiteral("/RXr_bad.p8d")));
        TemplateRow row;
        row.name = QStringLiteral("Weekly");
        row.fileName = QStringLiteral("RXt_Weekly.p8t");
        QVERIFY(m_templates->AddRow(row));
        m_env->settings->WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                                      QStringLiteral("1"));
        const QString db = m_env->dataDir + (templates ? QStringLiteral("/RX_Templates.accdb")
                                                       : QStringLiteral("/RX_Records.accdb"));
        int listed = -1;
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
            other.setDatabaseName(db);
            QVERIFY(other.open());
            QSqlQuery q(other);
            if (locked) QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            if (templates) {
                CViewTemplateDlg dlg(*m_templates, *m_env->settings);
                listed = dlg.Model()->rowCount();
            } else {
                auto dlg = RecordBrowser();
                listed = dlg->Model()->rowCount();
            }
            if (locked) QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            q.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QCOMPARE(m_prompter.messages.size(), 1);
        const QString message = m_prompter.messages[0];
        if (templates) {
            QVERIFY2(message.startsWith(QLatin1String("Template database not found/corrupted.")),
                     qPrintable(message));
            QCOMPARE(listed, 0);
        } else if (locked) {
            QVERIFY2(message.startsWith(QLatin1String("The index could not be rebuilt")),
                     qPrintable(message));
            QCOMPARE(listed, 1); // the index as it was
        } else {
            QVERIFY2(message.contains(QLatin1String("1 could not be read: RXr_bad.p8d")),
                     qPrintable(message));
            QCOMPARE(listed, 1);
        }
        QCOMPARE(m_env->settings->Setting(QStringLiteral("BuildIndex")),
                 locked ? QStringLiteral("1") : QStringLiteral("0"));
    }

    void buildIndexRebuilds_data() {
        QTest::addColumn<bool>("templates");
        QTest::newRow("records") << false;
        QTest::newRow("templates") << true;
    }
    void buildIndexRebuilds() {
        QFETCH(bool, templates);
        AddRecord("OLD", "01-Jan-26", "10:00:00", "1.000000", false);
        for (const char* c : {"R1", "R2"})
            StoreTestEnv::Write(m_env->dataDir +
                                    QStringLiteral("/RXr_%1.p8d").arg(QLatin1String(c)),
                                RecordFile(QLatin1String(c)));
        QFile::copy(QStringLiteral(RX_TEST_DATA "/records/old_model.p7d"),
                    m_env->dataDir + QStringLiteral("/old.p7d"));
        QFile::copy(QStringLiteral(RX_TEST_DATA "/store/flow_pca.p8t"),
                    m_env->dataDir + QStringLiteral("/RXt_a.p8t"));
        m_env->settings->WriteSetting(settings::kSection, QStringLiteral("BuildIndex"),
                                      QStringLiteral("1"));
        CBuildIndexDlg dlg(*m_index, *m_templates, *m_env->settings);
        dlg.show();
        QVERIFY(dlg.RecordButton()->isChecked());
        if (templates) dlg.TemplateButton()->click();
        dlg.YesButton()->click();
        QVERIFY(!dlg.YesButton()->isEnabled() && !dlg.OkButton()->isEnabled());
        QSignalSpy finished(dlg.Job(), &IndexBuildJob::Finished);
        QVERIFY(finished.wait(20000));
        QTRY_VERIFY(dlg.OkButton()->isEnabled());
        const int files = templates ? 1 : 3;
        QCOMPARE(dlg.StatusLine()->text(),
                 QStringLiteral("Index Operation Complete\n\n%1 Files Processed.").arg(files));
        if (templates) {
            QCOMPARE(m_templates->GetCount(), 1);
            QCOMPARE(m_env->settings->Setting(QStringLiteral("BuildIndex")), QStringLiteral("1"));
        } else {
            QList<RecordListRow> rows;
            QVERIFY(m_index->ListRows(rows)); // the dialog's thread sees the new rows
            QCOMPARE(rows.size(), 3);
            QCOMPARE(rows[0].controlNumber, QStringLiteral("R1"));
            QCOMPARE(m_env->settings->Setting(QStringLiteral("BuildIndex")), QStringLiteral("0"));
        }
        dlg.OkButton()->click();
        QVERIFY(!dlg.isVisible());
    }

    // Cancel while the files are read: the old rows stay and the dialog says so.
    void buildIndexCancelKeepsTheOldIndex() {
        AddRecord("OLD1", "01-Jan-26", "10:00:00", "1.000000", false);
        AddRecord("OLD2", "01-Jan-26", "10:00:00", "1.000000", false);
        const QByteArray bytes = RecordFile(QStringLiteral("NEW"));
        for (int i = 0; i < 1500; ++i)
            StoreTestEnv::Write(m_env->dataDir + QStringLiteral("/RXr_%1.p8d").arg(i), bytes);
        CBuildIndexDlg dlg(*m_index, *m_templates, *m_env->settings);
        dlg.show();
        dlg.YesButton()->click();
        QVERIFY(dlg.CancelButton()->isVisible());
        QCOMPARE(dlg.ProgressBar()->maximum(), 1500);
        dlg.CancelButton()->click();
        QSignalSpy finished(dlg.Job(), &IndexBuildJob::Finished);
        QVERIFY(finished.wait(20000));
        QVERIFY(dlg.Job()->Result().cancelled);
        QCOMPARE(dlg.StatusLine()->text(),
                 QStringLiteral("Index build cancelled. The index was left as it was."));
        QList<RecordListRow> rows;
        QVERIFY(m_index->ListRows(rows));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1].controlNumber, QStringLiteral("OLD2"));
        QVERIFY(dlg.OkButton()->isEnabled());
    }

    void buildIndexWithoutAnOpenIndex() {
        m_index->Close();
        CBuildIndexDlg dlg(*m_index, *m_templates, *m_env->settings);
        dlg.show();
        dlg.YesButton()->click();
        QCOMPARE(m_prompter.messages,
                 QStringList{
                     "Unable to open the database, please make sure the current path is valid."});
        QVERIFY(!dlg.Job());
    }

    void templateBrowserCreateEditDelete() {
        CViewTemplateDlg dlg(*m_templates, *m_env->settings);
        dlg.show();
        QCOMPARE(dlg.Model()->RowCount(), 0);
        QVERIFY(dlg.CreateButton()->isEnabled());

        // Create: the editor in create mode; the new template is listed.
        WhenShown<CTemplateCreateDlg>([](CTemplateCreateDlg* ed) {
            QTest::keyClicks(ed->NameEdit(), QStringLiteral("Infusion-1"));
            QTest::keyClicks(ed->CommentEdit(), QStringLiteral("ward 3"));
            const auto& row = ed->Row(1);
            row.type->setCurrentIndex(0);
            Q_EMIT row.type->activated(0); // FLOW
            QTest::keyClicks(row.rate, QStringLiteral("25"));
            QTest::keyClicks(row.volume, QStringLiteral("10"));
            QTest::keyClicks(row.minutes, QStringLiteral("30"));
            ed->SaveButton()->click();
        });
        dlg.CreateButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{});
        QCOMPARE(Column(dlg.Model(), TemplateListModel::TemplateName), QStringList{"Infusion-1"});
        QCOMPARE(Column(dlg.Model(), TemplateListModel::Filename),
                 QStringList{"RXt_Infusion-1.p8t"});
        QCOMPARE(Column(dlg.Model(), TemplateListModel::DeviceComments), QStringList{"ward 3"});

        // Double-click: edit mode; a new name keeps the file.
        WhenShown<CTemplateCreateDlg>([](CTemplateCreateDlg* ed) {
            QCOMPARE(ed->NameEdit()->text(), QStringLiteral("Infusion-1"));
            QCOMPARE(ed->Row(1).type->currentText(), QStringLiteral("FLOW"));
            ed->NameEdit()->clear();
            QTest::keyClicks(ed->NameEdit(), QStringLiteral("Renamed"));
            ed->SaveButton()->click();
        });
        DoubleClick(dlg.List(), 0, 1);
        QCOMPARE(Column(dlg.Model(), TemplateListModel::TemplateName), QStringList{"Renamed"});
        QCOMPARE(Column(dlg.Model(), TemplateListModel::Filename),
                 QStringList{"RXt_Infusion-1.p8t"});
        QVERIFY(!QFile::exists(m_env->dataDir + QStringLiteral("/RXt_Renamed.p8t")));

        // A tick disables Create; Delete asks, Yes deletes row and file.
        Tick(dlg.List(), 0);
        QVERIFY(dlg.Model()->IsTicked(0));
        QVERIFY(!dlg.CreateButton()->isEnabled());
        dlg.UnselectAllButton()->click();
        QVERIFY(dlg.CreateButton()->isEnabled());
        dlg.DeleteButton()->click(); // nothing ticked: nothing asked
        QVERIFY(m_prompter.questions.isEmpty());
        dlg.SelectAllButton()->click();
        m_prompter.QueueAnswer(true);
        dlg.DeleteButton()->click();
        QCOMPARE(m_prompter.questions, QStringList{"Do you want to delete the Template"});
        QCOMPARE(dlg.Model()->RowCount(), 0);
        QCOMPARE(m_templates->GetCount(), 0);
        QVERIFY(!QFile::exists(m_env->dataDir + QStringLiteral("/RXt_Infusion-1.p8t")));
        QVERIFY(dlg.CreateButton()->isEnabled());
    }

    void templateBrowserSortsAndReportsMissingFiles() {
        for (const char* name : {"beta", "Alpha", "alpha"}) {
            TemplateRow row;
            row.name = QLatin1String(name);
            row.fileName = QStringLiteral("RXt_%1.p8t").arg(QLatin1String(name));
            QVERIFY(m_templates->AddRow(row));
        }
        CViewTemplateDlg dlg(*m_templates, *m_env->settings);
        dlg.show();
        // Titles left-aligned; one line a row, a long file name elided with
        // its whole text as the tip.
        for (int c = 1; c < TemplateListModel::ColumnCount; ++c)
            QCOMPARE(dlg.Model()
                             ->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole)
                             .value<Qt::Alignment>() &
                         Qt::AlignHorizontal_Mask,
                     Qt::Alignment(Qt::AlignLeft));
        QVERIFY(!dlg.List()->wordWrap());
        QCOMPARE(dlg.Model()->index(0, TemplateListModel::Filename).data(Qt::ToolTipRole),
                 dlg.Model()->index(0, TemplateListModel::Filename).data());
        ClickHeader(dlg.List(), TemplateListModel::TemplateName);
        QCOMPARE(Column(dlg.Model(), TemplateListModel::TemplateName),
                 (QStringList{"Alpha", "alpha", "beta"}));
        QCOMPARE(DrawnArrow(dlg.List(), TemplateListModel::TemplateName), 1); // A to Z: up
        ClickHeader(dlg.List(), TemplateListModel::TemplateName);
        QCOMPARE(Column(dlg.Model(), TemplateListModel::TemplateName),
                 (QStringList{"beta", "alpha", "Alpha"}));
        QCOMPARE(DrawnArrow(dlg.List(), TemplateListModel::TemplateName), -1);
        DoubleClick(dlg.List(), 0, 1);
        QCOMPARE(m_prompter.messages, QStringList{"File not found"});
        dlg.SearchEdit()->setText(QStringLiteral("ALP"));
        dlg.SearchButton()->click();
        QCOMPARE(dlg.List()->selectionModel()->selectedRows().size(), 2);
    }

    // View mode: everything read-only, Save and Clear All disabled.
    void editorViewMode() {
        QVERIFY(QFile::copy(QStringLiteral(RX_TEST_DATA "/store/flow_pca.p8t"),
                            m_env->dataDir + QStringLiteral("/RXt_v.p8t")));
        CTemplateCreateDlg ed(*m_templates, TemplateEditor::Mode::View,
                              QStringLiteral("RXt_v.p8t"));
        QVERIFY(ed.Loaded());
        QVERIFY(!ed.SaveButton()->isEnabled() && !ed.ClearAllButton()->isEnabled());
        QVERIFY(ed.NameEdit()->isReadOnly());
        for (int n = 1; n <= 6; ++n) {
            QVERIFY(!ed.Row(n).type->isEnabled());
            QVERIFY(ed.Row(n).rate->isReadOnly() && ed.Row(n).volume->isReadOnly());
            QVERIFY(!ed.Row(n).remove->isEnabled());
        }
        CTemplateCreateDlg missing(*m_templates, TemplateEditor::Mode::Edit,
                                   QStringLiteral("RXt_no.p8t"));
        QVERIFY(!missing.Loaded());
        QCOMPARE(missing.exec(), int(QDialog::Rejected));
        QCOMPARE(m_prompter.messages, QStringList{"File not found"});
    }

    // PCA is refused in row 6: the row keeps the type it had, on screen and
    // in the file, with everything typed in it.
    void editorRowSixRefusesPca_data() {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QString>("before"); // row 6's type before PCA is chosen
        QTest::newRow("new, occlusion") << false << "OCCLUSION";
        QTest::newRow("new, flow") << false << "FLOW";
        QTest::newRow("loaded flow") << true << "FLOW";
    }
    void editorRowSixRefusesPca() {
        QFETCH(bool, edit);
        QFETCH(QString, before);
        const int type =
            before == QLatin1String("FLOW") ? TemplateStep::Flow : TemplateStep::Occlusion;
        const int unit = type == TemplateStep::Flow ? TemplateStep::Ml : TemplateStep::KPa;
        const QString file = QStringLiteral("RXt_Six.p8t");
        std::unique_ptr<CTemplateCreateDlg> ed;
        if (edit) {
            Template t;
            t.name = QStringLiteral("Six");
            t.stepCount = 6;
            for (auto& s : t.steps) s = Step(TemplateStep::Flow, 10, 5, TemplateStep::Ml);
            t.steps[5] = Step(type, 12.5, 40, unit);
            QVERIFY(m_templates->WriteTemplateFile(file, t));
            ed = std::make_unique<CTemplateCreateDlg>(*m_templates, TemplateEditor::Mode::Edit,
                                                      file);
        } else {
            ed = std::make_unique<CTemplateCreateDlg>(*m_templates, TemplateEditor::Mode::Create);
            ed->show();
            QTest::keyClicks(ed->NameEdit(), QStringLiteral("Six"));
            for (int n = 1; n <= 5; ++n) FillRow(*ed, n, "FLOW", "10", "5", "10");
            ed->Row(6).remove->click(); // a cleared row 6 offers PCA again
            FillRow(*ed, 6, before, "12.5", "40", "10");
        }
        ed->show();
        const auto& r6 = ed->Row(6);
        QVERIFY(r6.type->findText(QStringLiteral("PCA")) >= 0);
        Choose(r6.type, QStringLiteral("PCA"));
        QCOMPARE(r6.type->currentText(), before);
        QCOMPARE(r6.type->findText(QStringLiteral("PCA")), -1);
        QCOMPARE(r6.rate->text().toDouble(), 12.5);
        ed->SaveButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{});
        Template saved;
        QVERIFY(m_templates->ReadTemplateFile(file, saved));
        QCOMPARE(saved.stepCount, 6);
        QCOMPARE(saved.steps[5].type, type);
        QCOMPARE(saved.steps[5].rate, 12.5);
        QCOMPARE(saved.steps[5].volume, 40.0);
        QCOMPARE(saved.steps[5].unit, unit);
    }

    // A blank row 6 with typed values: Save says what is missing rather
    // than dropping them.
    void editorTypedValuesWithoutATypeAreNotDropped() {
        CTemplateCreateDlg ed(*m_templates, TemplateEditor::Mode::Create);
        ed.show();
        QTest::keyClicks(ed.NameEdit(), QStringLiteral("T"));
        FillRow(ed, 1, "FLOW", "10", "5", "10");
        ed.Row(2).remove->click();
        QTest::keyClicks(ed.Row(2).rate, QStringLiteral("7"));
        ed.SaveButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{"Test Type Field should not be empty"});
        QVERIFY(ed.isVisible());
        QCOMPARE(ed.Row(2).rate->text(), QStringLiteral("7"));
    }

    // Loaded rates are shown whole in edit and view mode and saved whole.
    void editorShowsLoadedRatesWhole_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("edit") << int(TemplateEditor::Mode::Edit);
        QTest::newRow("view") << int(TemplateEditor::Mode::View);
    }
    void editorShowsLoadedRatesWhole() {
        QFETCH(int, mode);
        const QList<double> rates{5.25, 123.45, 250.75, 2000};
        Template t;
        t.name = QStringLiteral("Rates");
        t.stepCount = int(rates.size());
        for (int i = 0; i < rates.size(); ++i)
            t.steps[size_t(i)] = Step(TemplateStep::Flow, rates[i], 5, TemplateStep::Ml);
        const QString file = QStringLiteral("RXt_Rates.p8t");
        QVERIFY(m_templates->WriteTemplateFile(file, t));
        CTemplateCreateDlg ed(*m_templates, TemplateEditor::Mode(mode), file);
        ed.show();
        for (int i = 0; i < rates.size(); ++i)
            QCOMPARE(ed.Row(i + 1).rate->text().trimmed(), QString::number(rates[i], 'f', 2));
        if (mode != int(TemplateEditor::Mode::Edit)) return;
        // Editing one field keeps the others whole; the edited one as typed.
        QLineEdit* rate2 = ed.Row(2).rate;
        rate2->setFocus();
        rate2->end(false);
        QTest::keyClick(rate2, Qt::Key_Backspace);
        QTest::keyClicks(rate2, QStringLiteral("6"));
        QCOMPARE(rate2->text().trimmed(), QStringLiteral("123.46"));
        ed.SaveButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{});
        Template saved;
        QVERIFY(m_templates->ReadTemplateFile(file, saved));
        QCOMPARE(saved.steps[0].rate, 5.25);
        QCOMPARE(saved.steps[1].rate, 123.46);
        QCOMPARE(saved.steps[2].rate, 250.75);
        QCOMPARE(saved.steps[3].rate, 2000.0);
    }

    // A row that becomes the bolus row keeps only its volume; its other
    // fields are emptied, greyed and not saved.
    void editorBolusRowKeepsOnlyItsVolume() {
        CTemplateCreateDlg ed(*m_templates, TemplateEditor::Mode::Create);
        ed.show();
        QTest::keyClicks(ed.NameEdit(), QStringLiteral("Bolus"));
        FillRow(ed, 1, "FLOW", "10", "5", "10");
        FillRow(ed, 2, "OCCLUSION", "25", "300", "15");
        QTest::keyClicks(ed.Row(2).hours, QStringLiteral("1"));
        Choose(ed.Row(1).type, QStringLiteral("PCA"));
        const auto& b = ed.Row(2);
        QCOMPARE(b.type->currentText(), QStringLiteral("BOLUS"));
        for (QLineEdit* e : {b.rate, b.hours, b.minutes, b.tolerance}) {
            QVERIFY(e->text().isEmpty());
            QVERIFY(e->isReadOnly() && !e->isEnabled());
        }
        QCOMPARE(b.volume->text(), QStringLiteral("300"));
        QVERIFY(b.volume->isEnabled() && !b.volume->isReadOnly());
        b.volume->clear();
        QTest::keyClicks(b.volume, QStringLiteral("0.5"));
        ed.SaveButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{});
        Template saved;
        QVERIFY(m_templates->ReadTemplateFile(QStringLiteral("RXt_Bolus.p8t"), saved));
        QCOMPARE(saved.stepCount, 2);
        TemplateStep bolus;
        bolus.type = TemplateStep::Bolus;
        bolus.unit = TemplateStep::Ml;
        bolus.volume = 0.5;
        QCOMPARE(saved.steps[1], bolus);
    }

    // The editor's PCA coupling on screen and a refused save keeping the
    // dialog open with the field emptied.
    void editorRowsOnScreen() {
        CTemplateCreateDlg ed(*m_templates, TemplateEditor::Mode::Create);
        ed.show();
        const auto& r2 = ed.Row(2);
        r2.type->setCurrentIndex(2);
        Q_EMIT r2.type->activated(2); // PCA
        QCOMPARE(ed.Row(3).type->currentText(), QStringLiteral("BOLUS"));
        QVERIFY(ed.Row(3).rate->isReadOnly() && !ed.Row(3).volume->isReadOnly());
        QCOMPARE(ed.Row(3).unit->currentText(), QStringLiteral("ml"));
        QTest::keyClicks(ed.NameEdit(), QStringLiteral("T"));
        const auto& r1 = ed.Row(1);
        r1.type->setCurrentIndex(1);
        Q_EMIT r1.type->activated(1); // OCCLUSION: kPa
        QCOMPARE(r1.unit->currentText(), QStringLiteral("kPa"));
        QTest::keyClicks(r1.rate, QStringLiteral("10"));
        QTest::keyClicks(r1.volume, QStringLiteral("311"));
        QTest::keyClicks(r1.hours, QStringLiteral("a1")); // digits only
        QCOMPARE(r1.hours->text(), QStringLiteral("1"));
        ed.SaveButton()->click();
        QCOMPARE(m_prompter.messages, QStringList{"Invalid Pressure range at step 1"});
        QVERIFY(r1.volume->text().isEmpty());
        QVERIFY(ed.isVisible());
        QTest::keyClick(r1.rate, Qt::Key_Escape); // ignored outside the buttons
        QVERIFY(ed.isVisible());
    }
};

QTEST_MAIN(TestStoreDialogs)
#include "test_store_dialogs.moc"
