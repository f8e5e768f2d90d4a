#include "SetupForm.h"

#include "base/AppSettings.h"

#include <QLocale>

#include <cmath>

namespace setupsheet {

namespace {

QLocale NumberLocale() {
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    return c;
}

// Bounds print as the shortest exact form: "0 and 2000", never "2000.000000".
QString Bound(double v, bool integer) {
    return integer ? QString::number(qint64(v)) : QString::number(v, 'g', 15);
}

int IntValue(const QString& text) {
    return NumberLocale().toInt(text.trimmed());
}

double DoubleValue(const QString& text) {
    return NumberLocale().toDouble(text.trimmed());
}

using F = SetupField;

} // namespace

QString PageTitle(SetupPage page) {
    switch (page) {
    case SetupPage::Flow:
        return QStringLiteral("Flow");
    case SetupPage::Occlusion:
        return QStringLiteral("Occlusion");
    case SetupPage::Pca:
        return QStringLiteral("PCA / Dual Flow");
    case SetupPage::Template:
        return QStringLiteral("Template");
    }
    return {};
}

SetupForm SetupForm::Defaults(int flowTolerance) {
    SetupForm f;
    f.flow.tolerance = QString::number(flowTolerance);
    f.pca.tolerance = QString::number(flowTolerance);
    return f;
}

const QList<FieldSpec>& PageFields(SetupPage page) {
    static const QList<FieldSpec> flow = {
        {F::FlowSetRate, false, 0, 2000, 7, true}, {F::FlowTotalVolume, false, 0, 9999, 7, true},
        {F::FlowTolerance, true, 0, 50, 2, false}, {F::FlowStopVolume, false, 0, 9999, 7, true},
        {F::FlowHours, true, 0, 99, 2, false},     {F::FlowMinutes, true, 0, 59, 2, false},
    };
    static const QList<FieldSpec> occlusion = {
        {F::OcclusionSetRate, false, 0, 2000, 7, true},
        {F::OcclusionHours, true, 0, 1, 2, false},
        {F::OcclusionMinutes, true, 0, 59, 2, false},
    };
    static const QList<FieldSpec> pca = {
        {F::PcaBasalRate, false, 0, 500, 7, true},
        {F::PcaTotalVolume, false, 0, 9999, 7, true},
        {F::PcaBolusVolume, false, 0, 9999, 7, true},
        {F::PcaLockoutMinutes, true, 0, 60, 2, false},
        {F::PcaLockoutSeconds, true, 0, 59, 2, false},
        {F::PcaLoadingDose, false, 0, 99, 7, false},
        {F::PcaTolerance, true, 0, 50, 2, false},
        {F::PcaStopVolume, false, 0, 9999, 7, false},
        {F::PcaHours, true, 0, 99, 2, false},
        {F::PcaMinutes, true, 0, 59, 2, false},
    };
    static const QList<FieldSpec> none;
    switch (page) {
    case SetupPage::Flow:
        return flow;
    case SetupPage::Occlusion:
        return occlusion;
    case SetupPage::Pca:
        return pca;
    case SetupPage::Template:
        return none;
    }
    return none;
}

const FieldSpec* FindFieldSpec(SetupField field) {
    for (SetupPage p : {SetupPage::Flow, SetupPage::Occlusion, SetupPage::Pca})
        for (const FieldSpec& s : PageFields(p))
            if (s.field == field) return &s;
    return nullptr;
}

QString* FieldText(SetupForm& f, SetupField field) {
    switch (field) {
    case F::ControlNumber:
        return &f.equipment.controlNumber;
    case F::Operator:
        return &f.equipment.operatorName;
    case F::FlowSetRate:
        return &f.flow.setFlowRate;
    case F::FlowTotalVolume:
        return &f.flow.totalVolume;
    case F::FlowTolerance:
        return &f.flow.tolerance;
    case F::FlowStopVolume:
        return &f.flow.stopVolume;
    case F::FlowHours:
        return &f.flow.stopHours;
    case F::FlowMinutes:
        return &f.flow.stopMinutes;
    case F::OcclusionSetRate:
        return &f.occlusion.setFlowRate;
    case F::OcclusionHours:
        return &f.occlusion.stopHours;
    case F::OcclusionMinutes:
        return &f.occlusion.stopMinutes;
    case F::PcaBasalRate:
        return &f.pca.basalRate;
    case F::PcaTotalVolume:
        return &f.pca.totalVolume;
    case F::PcaBolusVolume:
        return &f.pca.bolusVolume;
    case F::PcaLockoutMinutes:
        return &f.pca.lockoutMinutes;
    case F::PcaLockoutSeconds:
        return &f.pca.lockoutSeconds;
    case F::PcaLoadingDose:
        return &f.pca.loadingDose;
    case F::PcaTolerance:
        return &f.pca.tolerance;
    case F::PcaStopVolume:
        return &f.pca.stopVolume;
    case F::PcaHours:
        return &f.pca.stopHours;
    case F::PcaMinutes:
        return &f.pca.stopMinutes;
    case F::None:
    case F::TemplateList:
        return nullptr;
    }
    return nullptr;
}

const QString* FieldText(const SetupForm& f, SetupField field) {
    return FieldText(const_cast<SetupForm&>(f), field);
}

SetupProblem CheckField(const FieldSpec& spec, const QString& text, double* value) {
    const QLocale c = NumberLocale();
    bool ok = false;
    double v = 0;
    if (spec.integer)
        v = c.toInt(text.trimmed(), &ok);
    else
        v = c.toDouble(text.trimmed(), &ok);
    // "nan" and "inf" parse but are no numbers to test with.
    if (!ok || !std::isfinite(v))
        return {spec.field, spec.integer ? QStringLiteral("Enter an integer.")
                                         : QStringLiteral("Enter a number.")};
    if (v < spec.min || v > spec.max) {
        const QString text = spec.integer ? QStringLiteral("Enter an integer between %1 and %2.")
                                          : QStringLiteral("Enter a number between %1 and %2.");
        return {spec.field, text.arg(Bound(spec.min, spec.integer), Bound(spec.max, spec.integer))};
    }
    if (value) *value = v;
    return {};
}

SetupProblem CheckRanges(SetupPage page, const SetupForm& form) {
    for (const FieldSpec& spec : PageFields(page)) {
        const SetupProblem p = CheckField(spec, *FieldText(form, spec.field));
        if (p.failed()) return p;
    }
    return {};
}

SetupProblem CheckModelLimits(SetupPage page, const QString& model, const SetupForm& form) {
    const bool pxr2k = model == QLatin1String("PXR2K");
    if (page == SetupPage::Flow && pxr2k) {
        if (DoubleValue(form.flow.stopVolume) * 10000 > kPxr2kFlowVolumeLimit)
            return {F::FlowStopVolume, msg::kPxr2kFlowVolume};
        if (StopTimeMs(IntValue(form.flow.stopHours), IntValue(form.flow.stopMinutes)) >
            kPxr2kFlowTimeLimitMs)
            return {F::FlowHours, msg::kPxr2kFlowTime};
    }
    if (page == SetupPage::Occlusion) {
        const int hours = IntValue(form.occlusion.stopHours);
        const int minutes = IntValue(form.occlusion.stopMinutes);
        if (model == QLatin1String("PXR-8") && hours != 0 && minutes != 0)
            return {F::OcclusionHours, msg::kPxr8OcclusionTime};
        if (pxr2k && StopTimeMs(hours, minutes) > kPxr2kOcclusionTimeLimitMs)
            return {F::OcclusionHours, msg::kPxr2kOcclusionTime};
    }
    return {};
}

SetupProblem CheckForOk(SetupPage page, const QString& model, const SetupForm& form) {
    SetupProblem p = CheckRanges(page, form);
    if (p.failed()) return p;
    if (page == SetupPage::Template && !form.templ.selected)
        return {F::TemplateList, msg::kTemplateNotSelected};
    if (form.equipment.controlNumber.isEmpty()) return {F::ControlNumber, msg::kControlNumberEmpty};
    if (form.equipment.operatorName.isEmpty()) return {F::Operator, msg::kOperatorEmpty};
    return CheckModelLimits(page, model, form);
}

void ReadReportHeaders(const AppSettings& settings, QString (&headers)[3]) {
    for (int k = 0; k < 3; ++k)
        headers[k] = settings.Setting(QStringLiteral("ReportHeader%1").arg(k + 1));
}

void StoreSetup(SetupPage page, const SetupForm& form, const QString (&headers)[3],
                ChannelSetup& setup) {
    EquipmentRecord& e = setup.equipment;
    e.typeIndex = int(page);
    e.controlNumber = form.equipment.controlNumber;
    e.operatorName = form.equipment.operatorName;
    e.manufacturer = form.equipment.manufacturer;
    e.deviceType = form.equipment.deviceType;
    e.serialNumber = form.equipment.serialNumber;
    e.location = form.equipment.location;
    e.comments = form.equipment.comments;
    e.reportHeader1 = headers[0];
    e.reportHeader2 = headers[1];
    e.reportHeader3 = headers[2];

    switch (page) {
    case SetupPage::Flow: {
        const SetupFlowForm& f = form.flow;
        FlowBlock& b = setup.flow;
        b.setFlowRate = DoubleValue(f.setFlowRate);
        b.totalVolume = DoubleValue(f.totalVolume);
        b.tolerance = IntValue(f.tolerance);
        b.toleranceOverride = f.toleranceOverride;
        b.autoStart = f.autoStart;
        b.stopOnVolume = f.stopOnVolume;
        b.stopOnTime = f.stopOnTime;
        b.firstCondition = f.firstCondition;
        b.bothConditions = f.bothConditions;
        b.stopVolume = DoubleValue(f.stopVolume);
        b.stopHours = IntValue(f.stopHours);
        b.stopMinutes = IntValue(f.stopMinutes);
        break;
    }
    case SetupPage::Occlusion: {
        const SetupOcclusionForm& f = form.occlusion;
        OcclusionBlock& b = setup.occlusion;
        b.setFlowRate = DoubleValue(f.setFlowRate);
        b.stopOnTime = f.stopOnTime;
        b.stopHours = IntValue(f.stopHours);
        b.stopMinutes = IntValue(f.stopMinutes);
        break;
    }
    case SetupPage::Pca: {
        const SetupPcaForm& f = form.pca;
        PcaBlock& b = setup.pca;
        b.basalRate = DoubleValue(f.basalRate);
        b.totalVolume = DoubleValue(f.totalVolume);
        b.bolusVolume = DoubleValue(f.bolusVolume);
        b.lockoutMinutes = IntValue(f.lockoutMinutes);
        b.lockoutSeconds = IntValue(f.lockoutSeconds);
        b.loadingDose = DoubleValue(f.loadingDose);
        // Kept for the record of what was entered; a PCA test runs with the
        // channel window's tolerance, so the override is never passed on.
        b.tolerance = IntValue(f.tolerance);
        b.toleranceOverride = 0;
        b.autoStart = f.autoStart;
        b.stopOnVolume = f.stopOnVolume;
        b.stopOnTime = f.stopOnTime;
        b.firstCondition = f.firstCondition;
        b.bothConditions = f.bothConditions;
        b.stopVolume = DoubleValue(f.stopVolume);
        b.stopHours = IntValue(f.stopHours);
        b.stopMinutes = IntValue(f.stopMinutes);
        break;
    }
    case SetupPage::Template:
        setup.templateName = form.templ.name;
        setup.templateFileName = form.templ.fileName;
        break;
    }
}

} // namespace setupsheet
