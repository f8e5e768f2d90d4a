// The template editor's rules without a screen: the lists each row offers,
// the PCA/bolus coupling, Delete and Clear All, every save check with its
// message, and saving into a real template store.
#include "StoreTestEnv.h"
#include "base/Prompter.h"
#include "store/TemplateEditor.h"
#include "store/TemplateStore.h"

#include <QtTest>

namespace {

// A row as the user fills it: "TYPE|rate|volume|unit|hours|minutes|tolerance";
// empty parts are left alone.
void Fill(TemplateEditor& e, int n, const QString& spec) {
    const QStringList p = spec.split(QLatin1Char('|'));
    e.ChooseType(n, p.value(0));
    if (!p.value(3).isEmpty()) e.ChooseUnit(n, p.value(3));
    const std::pair<int, QString TemplateEditor::Row::*> fields[] = {
        {1, &TemplateEditor::Row::rate},
        {2, &TemplateEditor::Row::volume},
        {4, &TemplateEditor::Row::hours},
        {5, &TemplateEditor::Row::minutes},
        {6, &TemplateEditor::Row::tolerance}};
    for (const auto& [at, field] : fields)
        if (p.size() > at && p.value(at) != QLatin1String("-")) e.SetText(n, field, p.value(at));
}

} // namespace

class TestTemplateEditor : public QObject {
    Q_OBJECT

    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void init() {
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    void listsOfANewTemplate() {
        TemplateEditor e;
        for (int n = 1; n <= 5; ++n)
            QCOMPARE(e.RowAt(n).typeItems, (QStringList{"FLOW", "OCCLUSION", "PCA"}));
        QCOMPARE(e.RowAt(6).typeItems, (QStringList{"FLOW", "OCCLUSION"}));
        QCOMPARE(e.RowAt(1).unitItems, (QStringList{"mmHg", "psi", "kPa", "ml"}));
        QCOMPARE(e.RowAt(1).unitIndex, -1);
        e.ChooseType(1, QStringLiteral("OCCLUSION"));
        QCOMPARE(e.RowAt(1).unitItems, (QStringList{"mmHg", "kPa", "psi"}));
        QCOMPARE(e.RowAt(1).unitIndex, 1);
        QCOMPARE(e.Slot(1).unit, int(TemplateStep::KPa));
        QCOMPARE(e.RowAt(1).tolerance, QStringLiteral("5"));
        e.ChooseType(1, QStringLiteral("FLOW"));
        QCOMPARE(e.RowAt(1).unitItems, QStringList{"ml"});
        QCOMPARE(e.Slot(1).unit, int(TemplateStep::Ml));
    }

    void pcaMakesTheRowBelowItsBolusRow() {
        TemplateEditor e;
        e.ChooseType(2, QStringLiteral("PCA"));
        const TemplateEditor::Row& bolus = e.RowAt(3);
        QCOMPARE(bolus.typeItems, QStringList{"BOLUS"});
        QCOMPARE(bolus.TypeText(), QStringLiteral("BOLUS"));
        QCOMPARE(bolus.unitItems, QStringList{"ml"});
        QVERIFY(bolus.valuesReadOnly);
        QCOMPARE(e.Slot(3).type, int(TemplateStep::Bolus));
        QVERIFY(e.RowAt(2).pca);
        // Another type in the PCA row gives the bolus row back.
        e.ChooseType(2, QStringLiteral("FLOW"));
        QCOMPARE(e.Slot(3).type, int(TemplateStep::Empty));
        QCOMPARE(e.RowAt(3).typeItems, (QStringList{"FLOW", "OCCLUSION", "PCA"}));
        QVERIFY(!e.RowAt(3).valuesReadOnly);
        QVERIFY(!e.RowAt(2).pca);
    }

    // A loaded PCA step turned into a flow step gives its bolus row back
    // empty: nothing of the bolus is left to block or spoil the save.
    void loadedBolusRowGivenBack() {
        Template t;
        t.name = QStringLiteral("T");
        t.stepCount = 2;
        t.steps[0] = {TemplateStep::Pca, 5, TemplateStep::Ml, 10, 5, 0, 30};
        t.steps[1] = {TemplateStep::Bolus, 0.5, TemplateStep::Ml, 0, 0, 0, 0};
        TemplateEditor e(TemplateEditor::Mode::Edit);
        e.Load(t);
        QVERIFY(e.RowAt(2).rate.isEmpty() && e.RowAt(2).tolerance.isEmpty());
        QCOMPARE(e.RowAt(2).volume.trimmed(), QStringLiteral("0.50"));
        e.ChooseType(1, QStringLiteral("FLOW"));
        QCOMPARE(e.Check(), QString());
        QCOMPARE(e.Compacted().stepCount, 1);
        QCOMPARE(e.Slot(2), TemplateStep{});
    }

    void pcaRefusedInRowSix() {
        TemplateEditor e;
        e.Delete(6); // a cleared row 6 offers PCA
        QCOMPARE(e.RowAt(6).typeItems, (QStringList{"FLOW", "OCCLUSION", "PCA"}));
        e.ChooseType(6, QStringLiteral("PCA"));
        QCOMPARE(e.RowAt(6).typeItems, (QStringList{"FLOW", "OCCLUSION"}));
        // Nothing was chosen before: nothing is shown, as nothing is saved.
        QCOMPARE(e.RowAt(6).TypeText(), QString());
        QCOMPARE(e.Slot(6).type, int(TemplateStep::Empty));
    }

    // A PCA chosen over the PCA step below it takes that step's bolus row
    // away too: no bolus slot is left without its PCA step.
    void pcaOverAnotherPcaLeavesNoStrayBolus() {
        TemplateEditor e;
        e.ChooseType(2, QStringLiteral("PCA")); // bolus in row 3
        e.ChooseType(1, QStringLiteral("PCA")); // row 2 becomes row 1's bolus
        QCOMPARE(e.Slot(2).type, int(TemplateStep::Bolus));
        QCOMPARE(e.Slot(3).type, int(TemplateStep::Empty));
        QVERIFY(!e.RowAt(3).valuesReadOnly);
        QVERIFY(!e.RowAt(2).pca);
    }

    // Delete on a PCA row or on its bolus row clears the pair.
    void deleteClearsThePcaPair_data() {
        QTest::addColumn<int>("deleted");
        QTest::newRow("the PCA row") << 2;
        QTest::newRow("its bolus row") << 3;
    }
    void deleteClearsThePcaPair() {
        QFETCH(int, deleted);
        TemplateEditor e;
        Fill(e, 1, "FLOW|10|5|ml|1|0|5");
        Fill(e, 2, "PCA|10|5|ml|1|0|5");
        e.SetText(3, &TemplateEditor::Row::volume, QStringLiteral("1"));
        e.Delete(deleted);
        QCOMPARE(e.Slot(2).type, int(TemplateStep::Empty));
        QCOMPARE(e.Slot(3).type, int(TemplateStep::Empty));
        QVERIFY(e.RowAt(2).rate.isEmpty());
        QCOMPARE(e.RowAt(3).unitItems, (QStringList{"mmHg", "kPa", "psi", "ml"}));
        QCOMPARE(e.Slot(1).type, int(TemplateStep::Flow)); // rows below do not move
    }

    void clearAll() {
        TemplateEditor e;
        e.name = QStringLiteral("T");
        e.SetComment(QStringLiteral("c"));
        e.ChooseType(1, QStringLiteral("PCA"));
        e.ClearAll();
        QVERIFY(e.name.isEmpty() && e.comment.isEmpty());
        for (int n = 1; n <= 6; ++n) {
            QCOMPARE(e.Slot(n), TemplateStep{});
            QVERIFY(!e.RowAt(n).pca && !e.RowAt(n).valuesReadOnly);
        }
    }

    void checks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("emptied"); // field emptied: "name", "rate1", "volume1", ...
        const QStringList flow{"FLOW|10|5|ml|1|0|5"};
        QTest::newRow("accepted") << "Test_1-a" << flow << ""
                                  << "";
        QTest::newRow("special character") << "Test.1" << flow
                                           << "Only - and _ special characters are allowed in "
                                              "Template Name"
                                           << "name";
        QTest::newRow("blank name") << "" << flow << "Template Name  Should not be blank"
                                    << "";
        QTest::newRow("row 1 empty") << "T" << QStringList{"", "FLOW|1|1|ml|0|1|5"}
                                     << "Please enter the proper template details."
                                     << "";
        QTest::newRow("gap between rows")
            << "T" << QStringList{"FLOW|1|1|ml|0|1|5", "", "FLOW|1|1|ml|0|1|5"}
            << "Please enter the proper template details."
            << "";
        QTest::newRow("rate empty")
            << "T" << QStringList{"FLOW||5|ml|1|0|5"} << "Flow Rate Field should not be empty"
            << "";
        QTest::newRow("rate letters") << "T" << QStringList{"FLOW|1e3|5|ml|1|0|5"}
                                      << "Flow Rate Field should not contain Alphabets"
                                      << "";
        QTest::newRow("rate 2000 accepted") << "T" << QStringList{"FLOW|2000|5|ml|1|0|5"} << ""
                                            << "";
        QTest::newRow("rate above 2000")
            << "T" << QStringList{"FLOW|2000.5|5|ml|1|0|5"} << "Invalid Flow Rate range in step 1"
            << "rate1";
        QTest::newRow("negative rate")
            << "T" << QStringList{"FLOW|1|5|ml|0|1|5", "FLOW|-1|5|ml|0|1|5"}
            << "Invalid Flow Rate range in step 2"
            << "rate2";
        QTest::newRow("hours 99 minutes 59") << "T" << QStringList{"FLOW|1|5|ml|99|59|5"} << ""
                                             << "";
        QTest::newRow("minutes 60")
            << "T" << QStringList{"FLOW|1|5|ml|0|60|5"} << "Invalid Minute at step 1"
            << "minutes1";
        QTest::newRow("tolerance 51")
            << "T" << QStringList{"FLOW|1|5|ml|0|1|51"} << "Invalid Tolerance at step 1"
            << "tolerance1";
        QTest::newRow("tolerance without digits is 0")
            << "T" << QStringList{"FLOW|1|5|ml|0|1|xy"} << ""
            << "";
        QTest::newRow("volume letters") << "T" << QStringList{"FLOW|1|5a|ml|0|1|5"}
                                        << "Volume/Pressure Field should not contain Alphabets."
                                        << "";
        QTest::newRow("volume above 9999")
            << "T" << QStringList{"FLOW|1|10000|ml|0|1|5"} << "Invalid Volume range at step 1"
            << "volume1";
        QTest::newRow("empty volume is 0") << "T" << QStringList{"FLOW|1||ml|0|1|5"} << ""
                                           << "";
        QTest::newRow("kPa 310 accepted") << "T" << QStringList{"OCCLUSION|1|310|kPa|0|1|5"} << ""
                                          << "";
        QTest::newRow("kPa 311") << "T" << QStringList{"OCCLUSION|1|311|kPa|0|1|5"}
                                 << "Invalid Pressure range at step 1"
                                 << "volume1";
        QTest::newRow("mmHg 2328") << "T" << QStringList{"OCCLUSION|1|2328|mmHg|0|1|5"}
                                   << "Invalid Pressure range at step 1"
                                   << "volume1";
        QTest::newRow("psi 46") << "T" << QStringList{"OCCLUSION|1|46|psi|0|1|5"}
                                << "Invalid Pressure range at step 1"
                                << "volume1";
        QTest::newRow("bolus volume checked")
            << "T" << QStringList{"PCA|10|5|ml|1|0|5", "BOLUS|-|10000|-|-|-|-"}
            << "Invalid Volume range at step 2"
            << "volume2";
        QTest::newRow("two steps")
            << "T" << QStringList{"FLOW|1|5|ml|0|1|5", "FLOW|1|5|ml|0|1|5"} << ""
            << "";
    }
    void checks() {
        QFETCH(QString, name);
        QFETCH(QStringList, rows);
        QFETCH(QString, message);
        QFETCH(QString, emptied);
        TemplateEditor e;
        e.name = name;
        for (int n = 1; n <= rows.size(); ++n)
            if (!rows[n - 1].isEmpty()) Fill(e, n, rows[n - 1]);
        QCOMPARE(e.Check(), message);
        if (emptied == QLatin1String("name")) QVERIFY(e.name.isEmpty());
        for (int n = 1; n <= 6; ++n) {
            const TemplateEditor::Row& r = e.RowAt(n);
            const std::pair<QString, QString> fields[] = {{"rate", r.rate},
                                                          {"volume", r.volume},
                                                          {"minutes", r.minutes},
                                                          {"tolerance", r.tolerance}};
            for (const auto& [field, text] : fields)
                if (emptied == field + QString::number(n)) QVERIFY(text.isEmpty());
        }
    }

    void noStepAtAll() {
        TemplateEditor e;
        e.name = QStringLiteral("T");
        e.ChooseType(1, QStringLiteral("FLOW"));
        e.ChooseType(1, QString()); // blank again: the row text is empty
        QCOMPARE(e.Check(), QStringLiteral("Please enter the proper template details."));
    }

    void saveCreatesFileAndRow() {
        StoreTestEnv env;
        env.CopySeeds();
        TemplateStore store(*env.settings);
        store.SetSeedFolder(env.work);
        QVERIFY(store.Open());
        TemplateEditor e;
        e.name = QStringLiteral("Infusion-1");
        e.SetComment(QStringLiteral("ward"));
        Fill(e, 1, "FLOW|25|10|ml|1|30|5");
        Fill(e, 2, "PCA|10|5|ml|0|45|5");
        e.SetText(3, &TemplateEditor::Row::volume, QStringLiteral("0.5"));
        QString file;
        QVERIFY(e.Save(store, {}, &file));
        QCOMPARE(file, QStringLiteral("RXt_Infusion-1.p8t"));
        Template t;
        QVERIFY(store.ReadTemplateFile(file, t));
        QCOMPARE(t.stepCount, 3);
        QCOMPARE(t.steps[0].rate, 25.0);
        QCOMPARE(t.steps[0].minutes, 30);
        QCOMPARE(t.steps[2].type, int(TemplateStep::Bolus));
        QCOMPARE(t.steps[2].volume, 0.5);
        QCOMPARE(t.steps[3].type, int(TemplateStep::Empty));
        QCOMPARE(t.deviceComments, QStringLiteral("ward"));
        QList<TemplateRow> rows;
        QVERIFY(store.ListRows(rows));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].instSerialNumber, QStringLiteral("0000"));
        QCOMPARE(rows[0].stepCount, 3);

        // The same name again: the overwrite question, No keeps the editor open.
        TemplateEditor again;
        again.name = QStringLiteral("Infusion-1");
        Fill(again, 1, "FLOW|1|1|ml|0|1|5");
        QVERIFY(!again.Save(store, {}));
        QCOMPARE(m_prompter.questions.value(0),
                 QStringLiteral("File already exist,Do you want to overwrite it"));

        // Edit: a new name keeps the file name; the index row is replaced.
        TemplateEditor edit(TemplateEditor::Mode::Edit);
        edit.Load(t);
        QCOMPARE(edit.RowAt(3).typeItems, QStringList{"BOLUS"});
        QVERIFY(edit.RowAt(2).pca);
        QCOMPARE(edit.RowAt(1).rate, QStringLiteral("  25.00"));
        edit.name = QStringLiteral("Renamed");
        QVERIFY(edit.Save(store, file, &file));
        QCOMPARE(file, QStringLiteral("RXt_Infusion-1.p8t"));
        QVERIFY(store.ListRows(rows));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].name, QStringLiteral("Renamed"));
        QVERIFY(store.ReadTemplateFile(file, t));
        QCOMPARE(t.name, QStringLiteral("Renamed"));
        QCOMPARE(t.stepCount, 3);
    }

    // A file that cannot be written is reported and the editor stays open;
    // in edit mode the old index row stays too.
    void failedWriteKeepsEditorAndRow() {
        StoreTestEnv env;
        env.CopySeeds();
        TemplateStore store(*env.settings);
        store.SetSeedFolder(env.work);
        QVERIFY(store.Open());
        TemplateRow row;
        row.name = QStringLiteral("Old");
        row.fileName = QStringLiteral("RXt_Old.p8t");
        QVERIFY(store.AddRow(row));
        QVERIFY(QDir().mkpath(env.dataDir + QStringLiteral("/RXt_Old.p8t"))); // not a file
        TemplateEditor e(TemplateEditor::Mode::Edit);
        e.name = QStringLiteral("Old");
        Fill(e, 1, "FLOW|1|1|ml|0|1|5");
        QVERIFY(!e.Save(store, QStringLiteral("RXt_Old.p8t")));
        QVERIFY(m_prompter.messages.value(0).contains(QStringLiteral("could not be written")));
        QList<TemplateRow> rows;
        QVERIFY(store.ListRows(rows));
        QCOMPARE(rows.size(), 1);
    }

    void viewModeChangesNothing() {
        TemplateEditor e(TemplateEditor::Mode::View);
        Template t;
        t.stepCount = 1;
        t.steps[0] = {TemplateStep::Occlusion, 300, TemplateStep::MmHg, 5, 5, 0, 10};
        e.Load(t);
        QCOMPARE(e.RowAt(1).unitItems, QStringList{"mmHg"});
        QCOMPARE(e.RowAt(2).unitItems, QStringList{});
        e.ChooseType(1, QStringLiteral("FLOW"));
        e.Delete(1);
        QCOMPARE(e.Slot(1).type, int(TemplateStep::Occlusion));
    }
};

QTEST_GUILESS_MAIN(TestTemplateEditor)
#include "test_template_editor.moc"
