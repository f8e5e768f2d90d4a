// The setup sheet without widgets: range checks and their messages, the
// order of the checks of OK, the limits of the analyzer models, the editing
// rules, and the parameter block OK leaves with the device.
#include "../store/StoreTestEnv.h"

#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "store/TemplateStore.h"
#include "testing/SetupAccept.h"
#include "testing/SetupForm.h"
#include "testing/SetupRules.h"

#include <QSignalSpy>
#include <QtTest>

using namespace setupsheet;

Q_DECLARE_METATYPE(setupsheet::SetupPage)
Q_DECLARE_METATYPE(setupsheet::SetupField)
Q_DECLARE_METATYPE(setupsheet::StopOption)
Q_DECLARE_METATYPE(setupsheet::StopOptions)

namespace {

SetupForm Filled() {
    SetupForm f = SetupForm::Defaults(7);
    f.equipment.controlNumber = QStringLiteral("CN-1");
    f.equipment.operatorName = QStringLiteral("JS");
    return f;
}

FoundAnalyzer Analyzer(const QString& model, int slot) {
    FoundAnalyzer a;
    a.name = QStringLiteral("Bench");
    a.serialNumber = QStringLiteral("80000001");
    a.model = model;
    a.slot = slot;
    a.channels[0] = 1;
    return a;
}

bool SameFlow(const FlowBlock& a, const FlowBlock& b) {
    return a.setFlowRate == b.setFlowRate && a.totalVolume == b.totalVolume &&
           a.tolerance == b.tolerance && a.toleranceOverride == b.toleranceOverride &&
           a.autoStart == b.autoStart && a.stopOnVolume == b.stopOnVolume &&
           a.stopOnTime == b.stopOnTime && a.firstCondition == b.firstCondition &&
           a.bothConditions == b.bothConditions && a.stopVolume == b.stopVolume &&
           a.stopHours == b.stopHours && a.stopMinutes == b.stopMinutes;
}

} // namespace

class TestSetupValidation : public QObject {
    Q_OBJECT

    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void init() {
        m_prompter = ScriptedPrompter();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    // ---- Range checks ----

    void rangeMessages_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<SetupField>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: passes

        using P = SetupPage;
        using F = SetupField;
        const QString number = QStringLiteral("Enter a number.");
        const QString integer = QStringLiteral("Enter an integer.");
        QTest::newRow("rate at top") << P::Flow << F::FlowSetRate << "2000"
                                     << "";
        QTest::newRow("rate above") << P::Flow << F::FlowSetRate << "2000.01"
                                    << "Enter a number between 0 and 2000.";
        QTest::newRow("rate empty") << P::Flow << F::FlowSetRate << "" << number;
        QTest::newRow("rate point only") << P::Flow << F::FlowSetRate << "." << number;
        QTest::newRow("rate nan") << P::Flow << F::FlowSetRate << "nan" << number;
        QTest::newRow("rate blanks") << P::Flow << F::FlowSetRate << " 12.5 "
                                     << "";
        QTest::newRow("rate grouped") << P::Flow << F::FlowSetRate << "1,000" << number;
        QTest::newRow("total above") << P::Flow << F::FlowTotalVolume << "9999.01"
                                     << "Enter a number between 0 and 9999.";
        QTest::newRow("tolerance above") << P::Flow << F::FlowTolerance << "51"
                                         << "Enter an integer between 0 and 50.";
        QTest::newRow("tolerance decimal") << P::Flow << F::FlowTolerance << "1.5" << integer;
        QTest::newRow("tolerance empty") << P::Flow << F::FlowTolerance << "" << integer;
        QTest::newRow("stop volume above") << P::Flow << F::FlowStopVolume << "10000"
                                           << "Enter a number between 0 and 9999.";
        QTest::newRow("hours 99") << P::Flow << F::FlowHours << "99"
                                  << "";
        QTest::newRow("minutes 60") << P::Flow << F::FlowMinutes << "60"
                                    << "Enter an integer between 0 and 59.";
        QTest::newRow("occlusion rate") << P::Occlusion << F::OcclusionSetRate << "2001"
                                        << "Enter a number between 0 and 2000.";
        QTest::newRow("occlusion hours 1") << P::Occlusion << F::OcclusionHours << "1"
                                           << "";
        QTest::newRow("occlusion hours 2") << P::Occlusion << F::OcclusionHours << "2"
                                           << "Enter an integer between 0 and 1.";
        QTest::newRow("basal above") << P::Pca << F::PcaBasalRate << "500.5"
                                     << "Enter a number between 0 and 500.";
        QTest::newRow("bolus above") << P::Pca << F::PcaBolusVolume << "10000"
                                     << "Enter a number between 0 and 9999.";
        QTest::newRow("lockout 60") << P::Pca << F::PcaLockoutMinutes << "60"
                                    << "";
        QTest::newRow("lockout 61") << P::Pca << F::PcaLockoutMinutes << "61"
                                    << "Enter an integer between 0 and 60.";
        QTest::newRow("lockout seconds") << P::Pca << F::PcaLockoutSeconds << "60"
                                         << "Enter an integer between 0 and 59.";
        QTest::newRow("loading dose") << P::Pca << F::PcaLoadingDose << "99.5"
                                      << "Enter a number between 0 and 99.";
        QTest::newRow("pca tolerance") << P::Pca << F::PcaTolerance << "51"
                                       << "Enter an integer between 0 and 50.";
        QTest::newRow("pca stop volume") << P::Pca << F::PcaStopVolume << "abc" << number;
        QTest::newRow("pca hours") << P::Pca << F::PcaHours << "100"
                                   << "Enter an integer between 0 and 99.";
    }
    void rangeMessages() {
        QFETCH(SetupPage, page);
        QFETCH(SetupField, field);
        QFETCH(QString, text);
        QFETCH(QString, message);
        SetupForm form = Filled();
        *FieldText(form, field) = text;
        const SetupProblem p = CheckRanges(page, form);
        QCOMPARE(p.message, message);
        if (!message.isEmpty()) QCOMPARE(p.field, field);
        // A field of another page never stops this one.
        const SetupPage other = page == SetupPage::Flow ? SetupPage::Occlusion : SetupPage::Flow;
        QVERIFY(!CheckRanges(other, form).failed());
    }

    // The first failing field in page order is the one reported.
    void rangesInFieldOrder_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QList<SetupField>>("bad");
        QTest::addColumn<SetupField>("reported");
        using F = SetupField;
        QTest::newRow("flow minutes and rate")
            << SetupPage::Flow << QList<F>{F::FlowMinutes, F::FlowSetRate} << F::FlowSetRate;
        QTest::newRow("flow hours and stop volume")
            << SetupPage::Flow << QList<F>{F::FlowHours, F::FlowStopVolume} << F::FlowStopVolume;
        QTest::newRow("flow tolerance and total")
            << SetupPage::Flow << QList<F>{F::FlowTolerance, F::FlowTotalVolume}
            << F::FlowTotalVolume;
        QTest::newRow("occlusion minutes and hours")
            << SetupPage::Occlusion << QList<F>{F::OcclusionMinutes, F::OcclusionHours}
            << F::OcclusionHours;
        QTest::newRow("pca loading dose and lockout")
            << SetupPage::Pca << QList<F>{F::PcaLoadingDose, F::PcaLockoutSeconds}
            << F::PcaLockoutSeconds;
        QTest::newRow("pca minutes and tolerance")
            << SetupPage::Pca << QList<F>{F::PcaMinutes, F::PcaTolerance} << F::PcaTolerance;
    }
    void rangesInFieldOrder() {
        QFETCH(SetupPage, page);
        QFETCH(QList<SetupField>, bad);
        QFETCH(SetupField, reported);
        SetupForm form = Filled();
        for (SetupField f : bad) *FieldText(form, f) = QStringLiteral("x");
        QCOMPARE(CheckRanges(page, form).field, reported);
    }

    // ---- OK: the checks in order ----

    void okChecksInOrder_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("rate"); // set rate of the page
        QTest::addColumn<bool>("templateTicked");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("stopVolume");
        QTest::addColumn<QString>("message");
        QTest::addColumn<SetupField>("field");
        using F = SetupField;
        QTest::newRow("range before names")
            << SetupPage::Flow << "PXR-8"
            << "3000" << false << ""
            << ""
            << "0"
            << "Enter a number between 0 and 2000." << F::FlowSetRate;
        QTest::newRow("control number") << SetupPage::Flow << "PXR-8"
                                        << "5" << false << ""
                                        << ""
                                        << "0" << msg::kControlNumberEmpty << F::ControlNumber;
        QTest::newRow("operator") << SetupPage::Occlusion << "PXR-8"
                                  << "5" << false << "C1"
                                  << ""
                                  << "0" << msg::kOperatorEmpty << F::Operator;
        QTest::newRow("names before model limit") << SetupPage::Flow << "PXR2K"
                                                  << "5" << false << "C1"
                                                  << ""
                                                  << "1500" << msg::kOperatorEmpty << F::Operator;
        QTest::newRow("model limit last") << SetupPage::Flow << "PXR2K"
                                          << "5" << false << "C1"
                                          << "Op"
                                          << "1500" << msg::kPxr2kFlowVolume << F::FlowStopVolume;
        QTest::newRow("template before names")
            << SetupPage::Template << "PXR-8"
            << "5" << false << ""
            << ""
            << "0" << msg::kTemplateNotSelected << F::TemplateList;
        QTest::newRow("template ticked") << SetupPage::Template << "PXR-8"
                                         << "5" << true << ""
                                         << "Op"
                                         << "0" << msg::kControlNumberEmpty << F::ControlNumber;
        QTest::newRow("all good") << SetupPage::Pca << "PXR-8"
                                  << "5" << false << "C1"
                                  << "Op"
                                  << "0"
                                  << "" << F::None;
    }
    void okChecksInOrder() {
        QFETCH(SetupPage, page);
        QFETCH(QString, model);
        QFETCH(QString, rate);
        QFETCH(bool, templateTicked);
        QFETCH(QString, control);
        QFETCH(QString, op);
        QFETCH(QString, stopVolume);
        QFETCH(QString, message);
        QFETCH(SetupField, field);
        SetupForm form = SetupForm::Defaults(5);
        form.flow.setFlowRate = form.occlusion.setFlowRate = form.pca.basalRate = rate;
        form.flow.stopVolume = stopVolume;
        form.templ.selected = templateTicked;
        form.equipment.controlNumber = control;
        form.equipment.operatorName = op;
        const SetupProblem p = CheckForOk(page, model, form);
        QCOMPARE(p.message, message);
        QCOMPARE(p.field, field);
    }

    // ---- Limits of the analyzer models ----

    void modelLimits_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("stopVolume");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<QString>("message");
        const auto F = SetupPage::Flow;
        const auto O = SetupPage::Occlusion;
        const auto P = SetupPage::Pca;
        QTest::newRow("2K flow 1000 ml") << F << "PXR2K"
                                         << "1000" << 0 << 0 << "";
        QTest::newRow("2K flow 1000.01 ml") << F << "PXR2K"
                                            << "1000.01" << 0 << 0 << msg::kPxr2kFlowVolume;
        QTest::newRow("8 flow 9999 ml") << F << "PXR-8"
                                        << "9999" << 0 << 0 << "";
        QTest::newRow("2K flow 72 h") << F << "PXR2K"
                                      << "0" << 72 << 0 << "";
        QTest::newRow("2K flow 71 h 59") << F << "PXR2K"
                                         << "0" << 71 << 59 << "";
        QTest::newRow("2K flow 72 h 1") << F << "PXR2K"
                                        << "0" << 72 << 1 << msg::kPxr2kFlowTime;
        QTest::newRow("2K flow 99 h 59") << F << "PXR2K"
                                         << "0" << 99 << 59 << msg::kPxr2kFlowTime;
        QTest::newRow("2K flow volume first") << F << "PXR2K"
                                              << "2000" << 80 << 0 << msg::kPxr2kFlowVolume;
        QTest::newRow("8 flow 99 h 59") << F << "PXR-8"
                                        << "0" << 99 << 59 << "";
        QTest::newRow("8 occlusion 1 h 5") << O << "PXR-8"
                                           << "0" << 1 << 5 << msg::kPxr8OcclusionTime;
        QTest::newRow("8 occlusion 1 h 0") << O << "PXR-8"
                                           << "0" << 1 << 0 << "";
        QTest::newRow("8 occlusion 0 h 59") << O << "PXR-8"
                                            << "0" << 0 << 59 << "";
        QTest::newRow("2K occlusion 30 min") << O << "PXR2K"
                                             << "0" << 0 << 30 << "";
        QTest::newRow("2K occlusion 31 min") << O << "PXR2K"
                                             << "0" << 0 << 31 << msg::kPxr2kOcclusionTime;
        QTest::newRow("2K occlusion 1 h") << O << "PXR2K"
                                          << "0" << 1 << 0 << msg::kPxr2kOcclusionTime;
        QTest::newRow("8 pca 99 h, 9999 ml") << P << "PXR-8"
                                             << "9999" << 99 << 59 << "";
    }
    void modelLimits() {
        QFETCH(SetupPage, page);
        QFETCH(QString, model);
        QFETCH(QString, stopVolume);
        QFETCH(int, hours);
        QFETCH(int, minutes);
        QFETCH(QString, message);
        // The limits hold with the stop options ticked or not.
        for (bool ticked : {false, true}) {
            SetupForm form = Filled();
            form.flow.stopVolume = form.pca.stopVolume = stopVolume;
            form.flow.stopHours = form.occlusion.stopHours = form.pca.stopHours =
                QString::number(hours);
            form.flow.stopMinutes = form.occlusion.stopMinutes = form.pca.stopMinutes =
                QString::number(minutes);
            form.flow.firstCondition = form.occlusion.stopOnTime = form.pca.firstCondition = ticked;
            QCOMPARE(CheckForOk(page, model, form).message, message);
        }
    }

    // ---- Editing rules ----

    void twoDecimals_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("third decimal") << "12.345"
                                       << "12.34";
        QTest::newRow("two decimals") << "12.34"
                                      << "12.34";
        QTest::newRow("one decimal") << "1.2"
                                     << "1.2";
        QTest::newRow("no point") << "12345"
                                  << "12345";
        QTest::newRow("point first") << ".123"
                                     << ".12";
        QTest::newRow("pasted") << "1.23456"
                                << "1.23";
        QTest::newRow("point last") << "7."
                                    << "7.";
        QTest::newRow("empty") << ""
                               << "";
    }
    void twoDecimals() {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QCOMPARE(TrimDecimals(typed), kept);
    }

    void stopOptions_data() {
        QTest::addColumn<StopOption>("option");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<StopOptions>("expected");
        auto s = [](bool v, bool t, bool f, bool b, bool volEnabled, bool timeEnabled) {
            StopOptions o;
            o.volume = v;
            o.time = t;
            o.first = f;
            o.both = b;
            o.stopVolumeEnabled = volEnabled;
            o.stopTimeEnabled = timeEnabled;
            o.copyTotalVolume = volEnabled;
            return o;
        };
        using O = StopOption;
        QTest::newRow("volume") << O::Volume << true << s(1, 0, 0, 0, 1, 0);
        QTest::newRow("time") << O::Time << true << s(0, 1, 0, 0, 0, 1);
        QTest::newRow("first") << O::First << true << s(0, 0, 1, 0, 1, 1);
        QTest::newRow("both") << O::Both << true << s(0, 0, 0, 1, 1, 1);
        for (O o : {O::Volume, O::Time, O::First, O::Both})
            QTest::addRow("untick %d", int(o)) << o << false << s(0, 0, 0, 0, 0, 0);
    }
    void stopOptions() {
        QFETCH(StopOption, option);
        QFETCH(bool, checked);
        QFETCH(StopOptions, expected);
        QVERIFY(ClickStopOption(option, checked) == expected);
    }

    void pcaAutoStartFollowsBasalRate_data() {
        QTest::addColumn<QString>("basal");
        QTest::addColumn<int>("autoStart"); // -1 left as it was
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("zero with decimals") << "0.00" << 0;
        QTest::newRow("rate") << "5" << 1;
        QTest::newRow("below one") << "0.5" << 1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("point only") << "." << -1;
    }
    void pcaAutoStartFollowsBasalRate() {
        QFETCH(QString, basal);
        QFETCH(int, autoStart);
        const std::optional<bool> on = AutoStartForBasalRate(basal);
        QCOMPARE(on.has_value(), autoStart >= 0);
        if (on) QCOMPARE(int(*on), autoStart);
    }

    // ---- The parameter block ----

    void storesFlowBlock() {
        SetupForm form = Filled();
        form.equipment = {"C1", "Op", "Acme", "P-100", "PS-1", "Ward 3", "new set"};
        form.flow.setFlowRate = "12.34";
        form.flow.totalVolume = "100";
        form.flow.toleranceOverride = false;
        form.flow.tolerance = "9";
        form.flow.autoStart = false;
        form.flow.firstCondition = true;
        form.flow.stopVolume = "50.5";
        form.flow.stopHours = "2";
        form.flow.stopMinutes = "30";
        const QString headers[3] = {"H1", "H2", "H3"};
        ChannelSetup setup;
        setup.occlusion.setFlowRate = 9; // another kind's block is left alone
        StoreSetup(SetupPage::Flow, form, headers, setup);
        const EquipmentRecord& e = setup.equipment;
        QCOMPARE(e.typeIndex, 1);
        QCOMPARE(QStringList({e.controlNumber, e.operatorName, e.manufacturer, e.deviceType,
                              e.serialNumber, e.location, e.comments}),
                 QStringList({"C1", "Op", "Acme", "P-100", "PS-1", "Ward 3", "new set"}));
        QCOMPARE(QStringList({e.reportHeader1, e.reportHeader2, e.reportHeader3}),
                 QStringList({"H1", "H2", "H3"}));
        FlowBlock expected;
        expected.setFlowRate = 12.34;
        expected.totalVolume = 100;
        expected.tolerance = 9;
        expected.toleranceOverride = 0;
        expected.autoStart = 0;
        expected.firstCondition = 1;
        expected.stopVolume = 50.5;
        expected.stopHours = 2;
        expected.stopMinutes = 30;
        QVERIFY(SameFlow(setup.flow, expected));
        QCOMPARE(setup.occlusion.setFlowRate, 9.0);
    }

    void storesOcclusionPcaAndTemplate() {
        SetupForm form = Filled();
        form.occlusion = {"25.5", true, "1", "0"};
        form.pca.basalRate = "2.5";
        form.pca.totalVolume = "50";
        form.pca.bolusVolume = "1.25";
        form.pca.lockoutMinutes = "15";
        form.pca.lockoutSeconds = "30";
        form.pca.loadingDose = "3";
        form.pca.toleranceOverride = true;
        form.pca.tolerance = "12";
        form.pca.autoStart = true;
        form.pca.bothConditions = true;
        form.pca.stopVolume = "40";
        form.pca.stopHours = "4";
        form.pca.stopMinutes = "5";
        form.templ = {true, "Weekly", "RXt_Weekly.p8t"};
        const QString headers[3];
        ChannelSetup setup;

        StoreSetup(SetupPage::Occlusion, form, headers, setup);
        QCOMPARE(setup.equipment.typeIndex, 2);
        QCOMPARE(setup.occlusion.setFlowRate, 25.5);
        QCOMPARE(setup.occlusion.stopOnTime, 1);
        QCOMPARE(setup.occlusion.stopHours, 1);
        QCOMPARE(setup.occlusion.stopMinutes, 0);

        StoreSetup(SetupPage::Pca, form, headers, setup);
        const PcaBlock& p = setup.pca;
        QCOMPARE(setup.equipment.typeIndex, 3);
        QCOMPARE(p.basalRate, 2.5);
        QCOMPARE(p.totalVolume, 50.0);
        QCOMPARE(p.bolusVolume, 1.25);
        QCOMPARE(p.lockoutMinutes, 15);
        QCOMPARE(p.lockoutSeconds, 30);
        QCOMPARE(p.loadingDose, 3.0);
        QCOMPARE(p.tolerance, 12);        // kept as entered
        QCOMPARE(p.toleranceOverride, 0); // but never passed on
        QCOMPARE(p.autoStart, 1);
        QCOMPARE(p.bothConditions, 1);
        QCOMPARE(p.firstCondition, 0);
        QCOMPARE(p.stopVolume, 40.0);
        QCOMPARE(p.stopHours, 4);
        QCOMPARE(p.stopMinutes, 5);

        StoreSetup(SetupPage::Template, form, headers, setup);
        QCOMPARE(setup.equipment.typeIndex, 4);
        QCOMPARE(setup.templateName, QStringLiteral("Weekly"));
        QCOMPARE(setup.templateFileName, QStringLiteral("RXt_Weekly.p8t"));
    }

    // OK with the application: headers from the settings, the block with the
    // device, the device as current analyzer.
    void acceptLeavesTheBlockWithTheDevice() {
        StoreTestEnv env(QStringLiteral("ReportHeader1=City Hospital\r\nReportHeader2=Biomed\r\n"
                                        "ReportHeader3=Bench 2\r\n"));
        CRivuletrixApp app(env.work);
        app.CurrentAnalyzer = 1;
        QSignalSpy changed(&app, &CRivuletrixApp::AnalyzersChanged);
        CDevice device(Analyzer(QStringLiteral("PXR-8"), 3));
        SetupForm form = Filled();
        form.occlusion.setFlowRate = QStringLiteral("25");
        const SetupContext context{&app, &app.Templates(), &app};
        QVERIFY(!AcceptSetup(SetupPage::Occlusion, form, device, 2, context).failed());
        const EquipmentRecord& e = device.Setup[2].equipment;
        QCOMPARE(e.typeIndex, 2);
        QCOMPARE(e.controlNumber, QStringLiteral("CN-1"));
        QCOMPARE(e.reportHeader1, QStringLiteral("City Hospital"));
        QCOMPARE(e.reportHeader3, QStringLiteral("Bench 2"));
        QCOMPARE(device.Setup[2].occlusion.setFlowRate, 25.0);
        QCOMPARE(device.Setup[0].equipment.typeIndex, 0); // only that channel
        QCOMPARE(app.CurrentAnalyzer, 3);
        QCOMPARE(changed.size(), 1);
    }

    void failedAcceptWritesNothing_data() {
        QTest::addColumn<SetupPage>("page");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("message");
        QTest::newRow("occlusion over an hour")
            << SetupPage::Occlusion << "PXR-8" << msg::kPxr8OcclusionTime;
        QTest::newRow("2K flow volume") << SetupPage::Flow << "PXR2K" << msg::kPxr2kFlowVolume;
        QTest::newRow("template missing") << SetupPage::Template << "PXR-8" << msg::kFileNotFound;
    }
    void failedAcceptWritesNothing() {
        QFETCH(SetupPage, page);
        QFETCH(QString, model);
        QFETCH(QString, message);
        StoreTestEnv env;
        CRivuletrixApp app(env.work);
        QVERIFY(app.Templates().Open());
        CDevice device(Analyzer(model, 1));
        device.Setup[0].equipment.controlNumber = QStringLiteral("earlier");
        SetupForm form = Filled();
        form.occlusion.stopHours = QStringLiteral("1");
        form.occlusion.stopMinutes = QStringLiteral("5");
        form.flow.stopVolume = QStringLiteral("1200");
        form.templ = {true, QStringLiteral("Gone"), QStringLiteral("RXt_Gone.p8t")};
        const SetupContext context{&app, &app.Templates(), &app};
        const SetupProblem p = AcceptSetup(page, form, device, 0, context);
        QCOMPARE(p.message, message);
        QCOMPARE(device.Setup[0].equipment.controlNumber, QStringLiteral("earlier"));
        QCOMPARE(device.Setup[0].equipment.typeIndex, 0);
        QCOMPARE(app.CurrentAnalyzer, -1);
    }

    void acceptLoadsTheTemplate() {
        StoreTestEnv env;
        CRivuletrixApp app(env.work);
        QVERIFY(app.Templates().Open());
        Template t;
        t.name = QStringLiteral("Weekly"); // the file's own name differs from the listing
        t.stepCount = 1;
        t.steps[0].type = TemplateStep::Flow;
        QVERIFY(app.Templates().WriteTemplateFile(QStringLiteral("RXt_Imported.p8t"), t));
        CDevice device(Analyzer(QStringLiteral("PXR-8"), 1));
        SetupForm form = Filled();
        form.templ = {true, QStringLiteral("Weekly check"), QStringLiteral("RXt_Imported.p8t")};
        const SetupContext context{&app, &app.Templates(), &app};
        QVERIFY(!AcceptSetup(SetupPage::Template, form, device, 1, context).failed());
        QCOMPARE(device.Setup[1].equipment.typeIndex, 4);
        QCOMPARE(device.Setup[1].templateName, QStringLiteral("Weekly check"));
        QCOMPARE(device.Setup[1].templateFileName, QStringLiteral("RXt_Imported.p8t"));
    }

    // The screenless runner the run controller's tests use.
    void presetRunner() {
        StoreTestEnv env;
        CRivuletrixApp app(env.work);
        const SetupContext context{&app, &app.Templates(), &app};
        CDevice device(Analyzer(QStringLiteral("PXR2K"), 2));

        PresetSetupSheetRunner pca(SetupPage::Pca, Filled(), context);
        QVERIFY(!pca.RunSetupSheet(device, 0, QStringLiteral("Channel 1 Test Setup - Bench"),
                                   false)); // no such page on a PXR2K
        QCOMPARE(pca.lastTitle, QStringLiteral("Channel 1 Test Setup - Bench"));

        SetupForm form = Filled();
        form.occlusion.stopMinutes = QStringLiteral("45");
        PresetSetupSheetRunner occlusion(SetupPage::Occlusion, form, context);
        QVERIFY(!occlusion.RunSetupSheet(device, 0, {}, false));
        QCOMPARE(m_prompter.messages, QStringList{msg::kPxr2kOcclusionTime});
        occlusion.form().occlusion.stopMinutes = QStringLiteral("30");
        QVERIFY(occlusion.RunSetupSheet(device, 0, {}, false));
        QCOMPARE(device.Setup[0].occlusion.stopMinutes, 30);
        QCOMPARE(app.CurrentAnalyzer, 2);
    }
};

QTEST_GUILESS_MAIN(TestSetupValidation)
#include "test_setup_validation.moc"
