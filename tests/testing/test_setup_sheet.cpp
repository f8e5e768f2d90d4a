// The setup sheet on screen (offscreen platform), over a real records index
// and template store in a temporary data folder.
#include "../store/StoreTestEnv.h"

#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "store/RecordIndex.h"
#include "store/TemplateCreateDlg.h"
#include "store/TemplateStore.h"
#include "testing/SetupPages.h"
#include "testing/SetupSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace setupsheet;

Q_DECLARE_METATYPE(setupsheet::SetupPage)
Q_DECLARE_METATYPE(setupsheet::SetupField)

namespace {

FoundAnalyzer Analyzer(const QString& model) {
    FoundAnalyzer a;
    a.name = QStringLiteral("Bench A");
    a.serialNumber = QStringLiteral("80000001");
    a.model = model;
    a.slot = 2;
    a.channels[0] = a.channels[1] = 1;
    return a;
}

RecordIndexRow IndexRow(const QString& control, const QString& op, const QString& maker,
                        const QString& file) {
    RecordIndexRow r;
    r.controlNumber = control;
    r.operatorName = op;
    r.manufacture = maker;
    r.model = maker + QStringLiteral(" P-100");
    r.serialNumber = QStringLiteral("PS-") + op;
    r.location = QStringLiteral("Ward 3");
    r.comments = QStringLiteral("yearly");
    r.fileName = file;
    r.typeOfTest = QStringLiteral("F");
    r.dateTime = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
    return r;
}

QStringList EquipmentTexts(const CSetupPage* page) {
    QStringList texts;
    for (int i = 0; i < CSetupPage::kEquipmentFields; ++i) texts << page->EquipmentEdit(i)->text();
    return texts;
}

} // namespace

class TestSetupSheet : public QObject {
    Q_OBJECT

    std::unique_ptr<StoreTestEnv> m_env;
    std::unique_ptr<CRivuletrixApp> m_app;
    std::unique_ptr<CDevice> m_device;
    ScriptedPrompter m_prompter;

    std::unique_ptr<CSetupSheet> Sheet(const QString& model = QStringLiteral("PXR-8"),
                                       bool allPages = true) {
        m_device = std::make_unique<CDevice>(Analyzer(model));
        auto sheet = std::make_unique<CSetupSheet>(
            *m_device, 1, QStringLiteral("Channel 2 Test Setup - Bench A"), allPages);
        sheet->show();
        return sheet;
    }
    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static void Fill(CSetupPage* page, const QString& control, const QString& op) {
        Type(page->EquipmentEdit(0), control);
        Type(page->EquipmentEdit(1), op);
    }

private Q_SLOTS:
    void init() {
        m_env = std::make_unique<StoreTestEnv>(QStringLiteral("ReportHeader1=City Hospital\r\n"));
        m_app = std::make_unique<CRivuletrixApp>(m_env->work);
        QVERIFY(m_app->Records().Open());
        QVERIFY(m_app->Templates().Open());
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() {
        SetPrompter(nullptr);
        m_device.reset();
        m_app.reset();
        m_env.reset();
    }

    void pagesByModel_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("allPages");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("PXR-8") << "PXR-8" << true
                               << QStringList{"Flow", "Occlusion", "PCA / Dual Flow", "Template"};
        QTest::newRow("PXR2K") << "PXR2K" << false << QStringList{"Flow", "Occlusion"};
    }
    void pagesByModel() {
        QFETCH(QString, model);
        QFETCH(bool, allPages);
        QFETCH(QStringList, titles);
        auto sheet = Sheet(model, allPages);
        QCOMPARE(sheet->windowTitle(), QStringLiteral("Channel 2 Test Setup - Bench A"));
        QStringList shown;
        for (int i = 0; i < sheet->Tabs()->count(); ++i) shown << sheet->Tabs()->tabText(i);
        QCOMPARE(shown, titles);
        QCOMPARE(sheet->Tabs()->currentIndex(), 0);
        QCOMPARE(sheet->Page(SetupPage::Pca) != nullptr, allPages);
    }

    // A new sheet: the defaults, enabling and tool tips of its pages.
    void newSheetDefaults() {
        auto sheet = Sheet();
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        QCOMPARE(flow->Edit(SetupField::FlowTolerance)->text(), QStringLiteral("7"));
        QVERIFY(flow->Check(SetupCheck::Tolerance)->isChecked());
        QVERIFY(flow->Check(SetupCheck::AutoStart)->isChecked());
        QVERIFY(!flow->Edit(SetupField::FlowStopVolume)->isEnabled());
        QVERIFY(!flow->Edit(SetupField::FlowHours)->isEnabled());
        CSetupPage* occlusion = sheet->Page(SetupPage::Occlusion);
        QVERIFY(!occlusion->Edit(SetupField::OcclusionHours)->isEnabled());
        CSetupPage* pca = sheet->Page(SetupPage::Pca);
        QCOMPARE(pca->Edit(SetupField::PcaBasalRate)->text(), QStringLiteral("0"));
        QVERIFY(!pca->Check(SetupCheck::AutoStart)->isChecked()); // basal rate 0
        QCOMPARE(pca->Edit(SetupField::PcaTolerance)->text(), QStringLiteral("7"));
        for (CSetupPage* p : {flow, occlusion, pca, sheet->Page(SetupPage::Template)})
            QCOMPARE(EquipmentTexts(p), QStringList(7, QString()));
        QCOMPARE(flow->EquipmentEdit(0)->maxLength(), 20);
        QCOMPARE(flow->EquipmentEdit(6)->maxLength(), 30);
        QCOMPARE(flow->Edit(SetupField::FlowHours)->maxLength(), 2);
        QCOMPARE(pca->Edit(SetupField::PcaLoadingDose)->maxLength(), 7);
    }

    void toolTips_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("tip");
        const auto F = SetupPage::Flow, O = SetupPage::Occlusion, P = SetupPage::Pca,
                   T = SetupPage::Template;
        const QString control = "Test Control Number or Pump Identification Code.";
        const QString clear = "To clear Equipment details,Control no and Operator fields.";
        for (SetupPage p : {F, O, P, T})
            QTest::addRow("control %d", int(p)) << p << "control" << control;
        QTest::newRow("clear flow") << F << "clear" << clear;
        QTest::newRow("clear template") << T << "clear" << clear;
        QTest::newRow("clear pca") << P << "clear"
                                   << "";
        QTest::newRow("comments") << O << "comments"
                                  << "Test comments";
        QTest::newRow("rate occlusion") << O << "rate"
                                        << "The Flow Rate the pump is set at.";
        QTest::newRow("basal") << P << "rate"
                               << "The Flow Rate the pump is set at.";
        QTest::newRow("stop volume none") << F << "stopVolume"
                                          << "";
        QTest::newRow("tolerance value none") << F << "toleranceValue"
                                              << "";
        QTest::newRow("hours")
            << P << "hours"
            << "The time in hours and minutes when Rivuletrix will stop the test";
        QTest::newRow("both") << F << "both"
                              << "Tick to stop when both vol/time condtion is reached.";
        QTest::newRow("time") << O << "time"
                              << "Tick to make Rivuletrix stop the test when the stop time  is "
                                 "reached.";
        QTest::newRow("lockout") << P << "lockout"
                                 << "The lockout time as set on the pump";
        QTest::newRow("loading dose") << P << "dose"
                                      << "The loading dose set on the pump.";
    }
    void toolTips() {
        QFETCH(SetupPage, page);
        QFETCH(QString, control);
        QFETCH(QString, tip);
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(page);
        const bool flow = page == SetupPage::Flow;
        QWidget* w = nullptr;
        if (control == "control") w = p->EquipmentEdit(0);
        if (control == "comments") w = p->EquipmentEdit(6);
        if (control == "clear") w = p->ClearButton();
        if (control == "rate")
            w = p->FieldWidget(page == SetupPage::Pca ? SetupField::PcaBasalRate
                                                      : SetupField::OcclusionSetRate);
        if (control == "stopVolume") w = p->FieldWidget(SetupField::FlowStopVolume);
        if (control == "toleranceValue") w = p->FieldWidget(SetupField::FlowTolerance);
        if (control == "hours") w = p->FieldWidget(SetupField::PcaHours);
        if (control == "both") w = p->Check(SetupCheck::BothConditions);
        if (control == "time") w = p->Check(SetupCheck::StopTime);
        if (control == "lockout") w = p->FieldWidget(SetupField::PcaLockoutSeconds);
        if (control == "dose") w = p->FieldWidget(SetupField::PcaLoadingDose);
        Q_UNUSED(flow);
        QVERIFY(w);
        QCOMPARE(w->toolTip(), tip);
    }

    // Every field of a decimal value keeps at most two decimals as it is
    // typed; the other number fields take digits only (and a point).
    void typing_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<SetupField>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        using F = SetupField;
        const auto Fl = SetupPage::Flow, O = SetupPage::Occlusion, P = SetupPage::Pca;
        QTest::newRow("flow rate") << Fl << F::FlowSetRate << "12.345"
                                   << "12.34";
        QTest::newRow("flow total") << Fl << F::FlowTotalVolume << "12.345"
                                    << "12.34";
        QTest::newRow("flow stop volume") << Fl << F::FlowStopVolume << "12.345"
                                          << "12.34";
        QTest::newRow("occlusion rate") << O << F::OcclusionSetRate << "12.345"
                                        << "12.34";
        QTest::newRow("basal") << P << F::PcaBasalRate << "12.345"
                               << "12.34";
        QTest::newRow("pca total") << P << F::PcaTotalVolume << "12.345"
                                   << "12.34";
        QTest::newRow("bolus") << P << F::PcaBolusVolume << "12.345"
                               << "12.34";
        QTest::newRow("loading dose not held") << P << F::PcaLoadingDose << "12.345"
                                               << "12.345";
        QTest::newRow("letters refused") << Fl << F::FlowSetRate << "1a2.b5"
                                         << "12.5";
        QTest::newRow("second point refused") << Fl << F::FlowSetRate << "1.2.3"
                                              << "1.23";
        QTest::newRow("integer no point") << Fl << F::FlowTolerance << "1.5"
                                          << "15";
        QTest::newRow("two characters") << Fl << F::FlowTolerance << "123"
                                        << "12";
        QTest::newRow("seven characters") << Fl << F::FlowTotalVolume << "123456789"
                                          << "1234567";
    }
    void typing() {
        QFETCH(SetupPage, page);
        QFETCH(SetupField, field);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(page);
        sheet->Tabs()->setCurrentWidget(p);
        QLineEdit* edit = p->Edit(field);
        edit->setEnabled(true); // the stop volume starts disabled
        Type(edit, typed);
        QCOMPARE(edit->text(), kept);
    }

    // Each change of the control number looks it up in the records index.
    void controlNumberFillsAndEmpties_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::newRow("flow") << SetupPage::Flow;
        QTest::newRow("occlusion") << SetupPage::Occlusion;
        QTest::newRow("pca") << SetupPage::Pca;
        QTest::newRow("template") << SetupPage::Template;
    }
    void controlNumberFillsAndEmpties() {
        QFETCH(SetupPage, page);
        RecordIndex& index = m_app->Records();
        QVERIFY(index.AddRow(IndexRow("A12", "Old", "Acme", "a.p8d")));
        QVERIFY(index.AddRow(IndexRow("A12", "New", "Baxa", "b.p8d")));
        QVERIFY(index.AddRow(IndexRow("B7", "Other", "Cade", "c.p8d")));
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(page);
        sheet->Tabs()->setCurrentWidget(p);
        QLineEdit* control = p->EquipmentEdit(0);
        QTest::keyClicks(control, "A12");
        const QStringList latest = {"A12",    "New",    "Baxa",  "Baxa P-100",
                                    "PS-New", "Ward 3", "yearly"};
        QCOMPARE(EquipmentTexts(p), latest);
        QTest::keyClicks(control, "3");
        QCOMPARE(EquipmentTexts(p), (QStringList{"A123", "", "", "", "", "", ""}));
        QTest::keyClick(control, Qt::Key_Backspace);
        QCOMPARE(EquipmentTexts(p), latest);
        p->ClearButton()->click();
        QCOMPARE(EquipmentTexts(p), QStringList(7, QString()));
    }

    void closedIndexLeavesFieldsEmpty() {
        QVERIFY(m_app->Records().AddRow(IndexRow("A12", "New", "Baxa", "b.p8d")));
        m_app->Records().Close();
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(SetupPage::Flow);
        Type(p->EquipmentEdit(1), "typed");
        QTest::keyClicks(p->EquipmentEdit(0), "A12");
        QCOMPARE(EquipmentTexts(p), (QStringList{"A12", "", "", "", "", "", ""}));
    }

    // The equipment details move with the user from page to page, as typed
    // (no new lookup overwrites them), and OK on the Occlusion page sets up
    // an Occlusion test.
    void pageChangeKeepsEquipment() {
        QVERIFY(m_app->Records().AddRow(IndexRow("A12", "New", "Baxa", "b.p8d")));
        auto sheet = Sheet();
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        QTest::keyClicks(flow->EquipmentEdit(0), "A12");
        Type(flow->EquipmentEdit(1), "Me");
        Type(flow->EquipmentEdit(6), "after repair");
        const QStringList typed = EquipmentTexts(flow);
        CSetupPage* occlusion = sheet->Page(SetupPage::Occlusion);
        sheet->Tabs()->setCurrentWidget(occlusion);
        QCOMPARE(sheet->CurrentPage(), occlusion);
        QCOMPARE(EquipmentTexts(occlusion), typed);
        // ... and back, after a change on the second page.
        Type(occlusion->EquipmentEdit(4), "SN-9");
        sheet->Tabs()->setCurrentWidget(sheet->Page(SetupPage::Template));
        sheet->Tabs()->setCurrentWidget(occlusion);
        QCOMPARE(occlusion->EquipmentEdit(4)->text(), QStringLiteral("SN-9"));
        QCOMPARE(occlusion->EquipmentEdit(1)->text(), QStringLiteral("Me"));

        Type(occlusion->Edit(SetupField::OcclusionSetRate), "25.5");
        occlusion->Check(SetupCheck::StopTime)->click();
        Type(occlusion->Edit(SetupField::OcclusionMinutes), "45");
        sheet->OkButton()->click();
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        QVERIFY(m_prompter.messages.isEmpty());
        const ChannelSetup& s = m_device->Setup[1];
        QCOMPARE(s.equipment.typeIndex, 2);
        QCOMPARE(s.equipment.controlNumber, QStringLiteral("A12"));
        QCOMPARE(s.equipment.operatorName, QStringLiteral("Me"));
        QCOMPARE(s.equipment.serialNumber, QStringLiteral("SN-9"));
        QCOMPARE(s.equipment.comments, QStringLiteral("after repair"));
        QCOMPARE(s.equipment.reportHeader1, QStringLiteral("City Hospital"));
        QCOMPARE(s.occlusion.setFlowRate, 25.5);
        QCOMPARE(s.occlusion.stopOnTime, 1);
        QCOMPARE(s.occlusion.stopMinutes, 45);
        QCOMPARE(m_app->CurrentAnalyzer, 2);
    }

    // A page with a number out of range cannot be left.
    void outOfRangeKeepsThePage() {
        auto sheet = Sheet();
        QVERIFY(QTest::qWaitForWindowActive(sheet.get()));
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        Type(flow->Edit(SetupField::FlowSetRate), "3000");
        QTabBar* bar = sheet->Tabs()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(sheet->CurrentPage(), flow);
        QCOMPARE(m_prompter.messages,
                 QStringList{QStringLiteral("Enter a number between 0 and 2000.")});
        QVERIFY(flow->Edit(SetupField::FlowSetRate)->hasFocus());
        Type(flow->Edit(SetupField::FlowSetRate), "2000");
        sheet->Tabs()->setCurrentIndex(1);
        QCOMPARE(sheet->CurrentPage(), sheet->Page(SetupPage::Occlusion));
    }

    // OK fails: the message, the focus on the field, the sheet open and
    // nothing left with the device.
    void okRefused_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("hours");
        QTest::addColumn<QString>("minutes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<SetupField>("focus");
        QTest::newRow("empty operator")
            << "PXR-8" << SetupPage::Flow << "C1"
            << ""
            << "0"
            << "0"
            << "Operator name should not be empty" << SetupField::Operator;
        QTest::newRow("empty control number")
            << "PXR-8" << SetupPage::Occlusion << ""
            << "Op"
            << "0"
            << "0"
            << "Control number should not be empty" << SetupField::ControlNumber;
        QTest::newRow("PXR-8 occlusion 1 h 5")
            << "PXR-8" << SetupPage::Occlusion << "C1"
            << "Op"
            << "1"
            << "5"
            << "Maximum allowed time for Occlusion test is 1 hour, Please reset the test timings."
            << SetupField::OcclusionHours;
        QTest::newRow("minutes out of range")
            << "PXR2K" << SetupPage::Occlusion << "C1"
            << "Op"
            << "0"
            << "75"
            << "Enter an integer between 0 and 59." << SetupField::OcclusionMinutes;
    }
    void okRefused() {
        QFETCH(QString, model);
        QFETCH(SetupPage, page);
        QFETCH(QString, control);
        QFETCH(QString, op);
        QFETCH(QString, hours);
        QFETCH(QString, minutes);
        QFETCH(QString, message);
        QFETCH(SetupField, focus);
        auto sheet = Sheet(model, model != "PXR2K");
        QVERIFY(QTest::qWaitForWindowActive(sheet.get()));
        CSetupPage* p = sheet->Page(page);
        sheet->Tabs()->setCurrentWidget(p);
        Fill(p, control, op);
        if (page == SetupPage::Occlusion) {
            p->Check(SetupCheck::StopTime)->click();
            Type(p->Edit(SetupField::OcclusionHours), hours);
            Type(p->Edit(SetupField::OcclusionMinutes), minutes);
        }
        QTest::mouseClick(sheet->OkButton(), Qt::LeftButton);
        QCOMPARE(m_prompter.messages, QStringList{message});
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->result(), int(QDialog::Rejected));
        QVERIFY(p->FieldWidget(focus)->hasFocus());
        QCOMPARE(m_device->Setup[1].equipment.typeIndex, 0);
        QCOMPARE(m_app->CurrentAnalyzer, -1);
        // What was typed stays.
        QCOMPARE(p->EquipmentEdit(0)->text(), control);
    }

    void cancelWritesNothing() {
        auto sheet = Sheet();
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        Fill(flow, "C1", "Op");
        Type(flow->Edit(SetupField::FlowSetRate), "10");
        QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
        QVERIFY(!sheet->isVisible());
        QCOMPARE(sheet->result(), int(QDialog::Rejected));
        QCOMPARE(m_device->Setup[1].equipment.typeIndex, 0);
        QCOMPARE(m_device->Setup[1].flow.setFlowRate, 0.0);
    }

    // The four stop options: one at most, and the fields they enable.
    void stopOptionsAreExclusive_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::newRow("flow") << SetupPage::Flow;
        QTest::newRow("pca") << SetupPage::Pca;
    }
    void stopOptionsAreExclusive() {
        QFETCH(SetupPage, page);
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(page);
        sheet->Tabs()->setCurrentWidget(p);
        const bool flow = page == SetupPage::Flow;
        QLineEdit* stopVolume =
            p->Edit(flow ? SetupField::FlowStopVolume : SetupField::PcaStopVolume);
        QLineEdit* hours = p->Edit(flow ? SetupField::FlowHours : SetupField::PcaHours);
        QLineEdit* minutes = p->Edit(flow ? SetupField::FlowMinutes : SetupField::PcaMinutes);
        const SetupCheck checks[] = {SetupCheck::StopVolume, SetupCheck::StopTime,
                                     SetupCheck::FirstCondition, SetupCheck::BothConditions};
        auto ticked = [&] {
            QList<bool> t;
            for (SetupCheck c : checks) t << p->Check(c)->isChecked();
            return t;
        };
        p->Check(SetupCheck::StopVolume)->click();
        QCOMPARE(ticked(), (QList<bool>{true, false, false, false}));
        QVERIFY(stopVolume->isEnabled() && !hours->isEnabled() && !minutes->isEnabled());
        p->Check(SetupCheck::StopTime)->click();
        QCOMPARE(ticked(), (QList<bool>{false, true, false, false}));
        QVERIFY(!stopVolume->isEnabled() && hours->isEnabled() && minutes->isEnabled());
        p->Check(SetupCheck::FirstCondition)->click();
        QCOMPARE(ticked(), (QList<bool>{false, false, true, false}));
        QVERIFY(stopVolume->isEnabled() && hours->isEnabled());
        p->Check(SetupCheck::BothConditions)->click();
        QCOMPARE(ticked(), (QList<bool>{false, false, false, true}));
        QVERIFY(stopVolume->isEnabled() && hours->isEnabled());
        p->Check(SetupCheck::BothConditions)->click(); // unticked: none left
        QCOMPARE(ticked(), (QList<bool>{false, false, false, false}));
        QVERIFY(!stopVolume->isEnabled() && !hours->isEnabled());
    }

    // Ticking a volume option copies the total volume into the stop volume;
    // the Flow page only once a control number is entered.
    void stopVolumeTakesTotal_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("stopVolume");
        QTest::newRow("flow, no control number") << SetupPage::Flow << ""
                                                 << "0";
        QTest::newRow("flow") << SetupPage::Flow << "C1"
                              << "250.5";
        QTest::newRow("pca, no control number") << SetupPage::Pca << ""
                                                << "250.5";
    }
    void stopVolumeTakesTotal() {
        QFETCH(SetupPage, page);
        QFETCH(QString, control);
        QFETCH(QString, stopVolume);
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(page);
        sheet->Tabs()->setCurrentWidget(p);
        const bool flow = page == SetupPage::Flow;
        if (!control.isEmpty()) QTest::keyClicks(p->EquipmentEdit(0), control);
        Type(p->Edit(flow ? SetupField::FlowTotalVolume : SetupField::PcaTotalVolume), "250.5");
        p->Check(SetupCheck::FirstCondition)->click();
        QCOMPARE(p->Edit(flow ? SetupField::FlowStopVolume : SetupField::PcaStopVolume)->text(),
                 stopVolume);
    }

    void flowStopSettingsReachTheBlock() {
        auto sheet = Sheet(QStringLiteral("PXR2K"), false);
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        Fill(flow, "C1", "Op");
        Type(flow->Edit(SetupField::FlowTotalVolume), "1000");
        flow->Check(SetupCheck::BothConditions)->click();
        Type(flow->Edit(SetupField::FlowHours), "72");
        flow->Check(SetupCheck::AutoStart)->click();
        QCOMPARE(flow->Edit(SetupField::FlowStopVolume)->text(), QStringLiteral("1000"));
        sheet->OkButton()->click();
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        const FlowBlock& b = m_device->Setup[1].flow;
        QCOMPARE(b.totalVolume, 1000.0);
        QCOMPARE(b.stopVolume, 1000.0);
        QCOMPARE(b.bothConditions, 1);
        QCOMPARE(b.stopOnVolume, 0);
        QCOMPARE(b.stopHours, 72);
        QCOMPARE(b.autoStart, 0);
        QCOMPARE(b.toleranceOverride, 1);
        QCOMPARE(b.tolerance, 7);
    }

    void occlusionTimeEnablesHoursAndMinutes() {
        auto sheet = Sheet();
        CSetupPage* p = sheet->Page(SetupPage::Occlusion);
        QCheckBox* time = p->Check(SetupCheck::StopTime);
        time->click();
        QVERIFY(p->Edit(SetupField::OcclusionHours)->isEnabled());
        QVERIFY(p->Edit(SetupField::OcclusionMinutes)->isEnabled());
        time->click();
        QVERIFY(!p->Edit(SetupField::OcclusionHours)->isEnabled());
        QVERIFY(!p->Edit(SetupField::OcclusionMinutes)->isEnabled());
    }

    void toleranceChecks() {
        auto sheet = Sheet();
        CSetupPage* flow = sheet->Page(SetupPage::Flow);
        QLineEdit* value = flow->Edit(SetupField::FlowTolerance);
        Type(value, "20");
        flow->Check(SetupCheck::Tolerance)->click(); // unticked: default, disabled
        QVERIFY(!value->isEnabled());
        QCOMPARE(value->text(), QStringLiteral("7"));
        flow->Check(SetupCheck::Tolerance)->click();
        QVERIFY(value->isEnabled());
        QCOMPARE(value->text(), QStringLiteral("7"));

        CSetupPage* pca = sheet->Page(SetupPage::Pca);
        QLineEdit* pcaValue = pca->Edit(SetupField::PcaTolerance);
        pca->Check(SetupCheck::Tolerance)->click();
        QVERIFY(!pcaValue->isEnabled());
        QCOMPARE(pcaValue->text(), QStringLiteral("0"));
        pca->Check(SetupCheck::Tolerance)->click();
        QVERIFY(pcaValue->isEnabled());
    }

    void pcaAutoStartFollowsBasalRate() {
        auto sheet = Sheet();
        CSetupPage* pca = sheet->Page(SetupPage::Pca);
        QLineEdit* basal = pca->Edit(SetupField::PcaBasalRate);
        QCheckBox* autoStart = pca->Check(SetupCheck::AutoStart);
        sheet->Tabs()->setCurrentWidget(pca);
        Type(basal, "2.5");
        QVERIFY(autoStart->isChecked());
        basal->clear(); // empty: left as it is
        QVERIFY(autoStart->isChecked());
        QTest::keyClicks(basal, "0");
        QVERIFY(!autoStart->isChecked());
        autoStart->click(); // the user's own choice stands until the rate changes
        Fill(pca, "C1", "Op");
        sheet->OkButton()->click();
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        QCOMPARE(m_device->Setup[1].pca.autoStart, 1);
        QCOMPARE(m_device->Setup[1].pca.toleranceOverride, 0);
        QCOMPARE(m_device->Setup[1].equipment.typeIndex, 3);
    }

    // The template list: the store's templates in order, one tick at most,
    // and OK takes the ticked one.
    void templateList() {
        TemplateStore& store = m_app->Templates();
        const QStringList names = {"Weekly", "Annual", "Quick"};
        for (const QString& name : names) {
            TemplateRow r;
            r.name = name;
            r.deviceComments = name + " pumps";
            r.fileName = "RXt_" + name + ".p8t";
            QVERIFY(store.AddRow(r));
        }
        Template t;
        t.name = "Annual";
        t.stepCount = 1;
        t.steps[0].type = TemplateStep::Occlusion;
        QVERIFY(store.WriteTemplateFile("RXt_Annual.p8t", t)); // "Quick" has no file

        auto sheet = Sheet();
        auto* page = static_cast<CSetupTemplateDlg*>(sheet->Page(SetupPage::Template));
        sheet->Tabs()->setCurrentWidget(page);
        QTreeWidget* list = page->List();
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("TemplateName"));
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("Device Comments"));
        QCOMPARE(list->columnWidth(0), 25);
        QCOMPARE(list->columnWidth(1), 250);
        QCOMPARE(list->columnWidth(2), 280);
        QStringList shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i) shown << list->topLevelItem(i)->text(1);
        QCOMPARE(shown, names);
        QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("Weekly pumps"));

        Fill(page, "C1", "Op");
        sheet->OkButton()->click();
        QCOMPARE(m_prompter.messages.value(0),
                 QStringLiteral("Please select a template to proceed"));

        list->topLevelItem(0)->setCheckState(0, Qt::Checked);
        list->topLevelItem(2)->setCheckState(0, Qt::Checked);
        QCOMPARE(page->TickedItem(), list->topLevelItem(2));
        QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
        list->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(page->TickedItem(), nullptr);

        list->topLevelItem(2)->setCheckState(0, Qt::Checked);
        sheet->OkButton()->click();
        QCOMPARE(m_prompter.messages.value(1), QStringLiteral("File Not Found"));
        QVERIFY(sheet->isVisible());

        list->topLevelItem(1)->setCheckState(0, Qt::Checked);
        sheet->OkButton()->click();
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        QCOMPARE(m_device->Setup[1].equipment.typeIndex, 4);
        QCOMPARE(m_device->Setup[1].templateName, QStringLiteral("Annual"));
    }

    // Double-clicking a template shows it read-only in the template editor;
    // the choice on the page is not changed by looking.
    void templateDoubleClickShowsIt() {
        TemplateStore& store = m_app->Templates();
        Template t;
        t.name = "Annual";
        t.deviceComments = "Ward pumps";
        t.stepCount = 1;
        t.steps[0].type = TemplateStep::Occlusion;
        QVERIFY(store.WriteTemplateFile("RXt_Annual.p8t", t));
        TemplateRow r;
        r.name = t.name;
        r.deviceComments = t.deviceComments;
        r.fileName = "RXt_Annual.p8t";
        QVERIFY(store.AddRow(r));

        auto sheet = Sheet();
        auto* page = static_cast<CSetupTemplateDlg*>(sheet->Page(SetupPage::Template));
        sheet->Tabs()->setCurrentWidget(page);
        QTreeWidget* list = page->List();
        QCOMPARE(list->topLevelItemCount(), 1);
        QTreeWidgetItem* item = list->topLevelItem(0);
        QString name, comment;
        bool readOnly = false, saveEnabled = true;
        QTimer::singleShot(100, this, [&] {
            auto* view = page->findChild<CTemplateCreateDlg*>();
            if (!view) return;
            name = view->NameEdit()->text();
            comment = view->CommentEdit()->text();
            readOnly = view->NameEdit()->isReadOnly() || !view->NameEdit()->isEnabled();
            saveEnabled = view->SaveButton()->isEnabled();
            view->CancelButton()->click();
        });
        QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
        const QRect rect = list->visualItemRect(item);
        QVERIFY(rect.isValid());
        // An item view takes a double click as the second click of a pair.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(name, QStringLiteral("Annual"));
        QCOMPARE(comment, QStringLiteral("Ward pumps"));
        QVERIFY(readOnly);
        QVERIFY(!saveEnabled);
        QCOMPARE(page->TickedItem(), nullptr);
        QVERIFY(sheet->isVisible());
    }

    // The run controller's way in: a modal sheet, OK or Cancel.
    void dialogRunner_data() {
        QTest::addColumn<bool>("ok");
        QTest::newRow("ok") << true;
        QTest::newRow("cancel") << false;
    }
    void dialogRunner() {
        QFETCH(bool, ok);
        CDevice device(Analyzer(QStringLiteral("PXR2K")));
        QString title;
        int pages = 0;
        QTimer::singleShot(0, this, [&] {
            auto* sheet = qobject_cast<CSetupSheet*>(QApplication::activeModalWidget());
            if (!sheet) return;
            title = sheet->windowTitle();
            pages = sheet->Tabs()->count();
            Fill(sheet->CurrentPage(), "C1", "Op");
            (ok ? sheet->OkButton() : sheet->CancelButton())->click();
        });
        DialogSetupSheetRunner runner;
        QCOMPARE(runner.RunSetupSheet(device, 0, QStringLiteral("Channel 1 Test Setup - K"), false),
                 ok);
        QCOMPARE(title, QStringLiteral("Channel 1 Test Setup - K"));
        QCOMPARE(pages, 2);
        QCOMPARE(device.Setup[0].equipment.typeIndex, ok ? 1 : 0);
    }
};

QTEST_MAIN(TestSetupSheet)
#include "test_setup_sheet.moc"
