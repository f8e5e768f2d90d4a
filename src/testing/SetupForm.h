#pragma once

#include "link/ChannelSetup.h"

#include <QList>
#include <QString>

class AppSettings;

// The texts and ticks of the test setup sheet, its range checks, the checks
// of OK and the parameter block it leaves for the run controller. No widgets:
// the pages hand their texts over in a SetupForm.
namespace setupsheet {

// The pages in their order; the value is the type index kept with the setup.
enum class SetupPage { Flow = 1, Occlusion = 2, Pca = 3, Template = 4 };

QString PageTitle(SetupPage page);

// Every field a check can fail on (the focus goes there).
enum class SetupField {
    None,
    ControlNumber,
    Operator,
    FlowSetRate,
    FlowTotalVolume,
    FlowTolerance,
    FlowStopVolume,
    FlowHours,
    FlowMinutes,
    OcclusionSetRate,
    OcclusionHours,
    OcclusionMinutes,
    PcaBasalRate,
    PcaTotalVolume,
    PcaBolusVolume,
    PcaLockoutMinutes,
    PcaLockoutSeconds,
    PcaLoadingDose,
    PcaTolerance,
    PcaStopVolume,
    PcaHours,
    PcaMinutes,
    TemplateList,
};

struct SetupEquipment {
    QString controlNumber, operatorName, manufacturer, deviceType, serialNumber, location, comments;
    bool operator==(const SetupEquipment&) const = default;
};

// How many characters the sheet's equipment edits take: comments 30, the
// other six 20.
inline constexpr int kEquipmentTextLimit = 20;
inline constexpr int kCommentsLimit = 30;

struct SetupFlowForm {
    QString setFlowRate = QStringLiteral("0");
    QString totalVolume = QStringLiteral("0");
    bool toleranceOverride = true;
    QString tolerance = QStringLiteral("0");
    bool autoStart = true;
    bool stopOnVolume = false;
    QString stopVolume = QStringLiteral("0");
    bool stopOnTime = false;
    QString stopHours = QStringLiteral("0");
    QString stopMinutes = QStringLiteral("0");
    bool firstCondition = false, bothConditions = false;
};

struct SetupOcclusionForm {
    QString setFlowRate = QStringLiteral("0");
    bool stopOnTime = false;
    QString stopHours = QStringLiteral("0");
    QString stopMinutes = QStringLiteral("0");
};

struct SetupPcaForm {
    QString basalRate = QStringLiteral("0");
    QString totalVolume = QStringLiteral("0");
    QString bolusVolume = QStringLiteral("0");
    QString lockoutMinutes = QStringLiteral("0");
    QString lockoutSeconds = QStringLiteral("0");
    QString loadingDose = QStringLiteral("0");
    bool toleranceOverride = true;
    QString tolerance = QStringLiteral("0");
    bool autoStart = false; // follows the basal rate, which starts at 0
    bool stopOnVolume = false;
    QString stopVolume = QStringLiteral("0");
    bool stopOnTime = false;
    QString stopHours = QStringLiteral("0");
    QString stopMinutes = QStringLiteral("0");
    bool firstCondition = false, bothConditions = false;
};

struct SetupTemplateForm {
    bool selected = false;
    QString name, fileName; // of the ticked row
};

struct SetupForm {
    SetupEquipment equipment;
    SetupFlowForm flow;
    SetupOcclusionForm occlusion;
    SetupPcaForm pca;
    SetupTemplateForm templ;

    // A new sheet: empty equipment, the defaults, both tolerances at the
    // "FlowTolerance" setting.
    static SetupForm Defaults(int flowTolerance);
};

// A numeric field: integer or decimal, its bounds, how many characters it
// takes and whether typing is held to two decimals.
struct FieldSpec {
    SetupField field;
    bool integer;
    double min, max;
    int maxLength;
    bool twoDecimals;
};

// The numeric fields of a page in the order they are checked.
const QList<FieldSpec>& PageFields(SetupPage page);
const FieldSpec* FindFieldSpec(SetupField field);
// The text of a numeric field in the form (nullptr for a field without one).
const QString* FieldText(const SetupForm& form, SetupField field);
QString* FieldText(SetupForm& form, SetupField field);

// A failed check: the message shown and the field that takes the focus.
struct SetupProblem {
    SetupField field = SetupField::None;
    QString message;
    bool failed() const { return !message.isEmpty(); }
};

// Texts of the checks.
namespace msg {
inline const QString kTemplateNotSelected = QStringLiteral("Please select a template to proceed");
inline const QString kControlNumberEmpty = QStringLiteral("Control number should not be empty");
inline const QString kOperatorEmpty = QStringLiteral("Operator name should not be empty");
inline const QString kPxr2kFlowVolume =
    QStringLiteral("Maximum allowed Volume for Flow Test in PXR2K is 1000ml ( 1 litre ) only");
inline const QString kPxr2kFlowTime =
    QStringLiteral("Maximum allowed time for Flow test in PXR2K is 72 Hours only");
inline const QString kPxr8OcclusionTime = QStringLiteral(
    "Maximum allowed time for Occlusion test is 1 hour, Please reset the test timings.");
inline const QString kPxr2kOcclusionTime =
    QStringLiteral("Maximum allowed time for Occlusion test is 30 Minutes only");
inline const QString kFileNotFound = QStringLiteral("File Not Found");
} // namespace msg

// One field: "Enter a number." / "Enter an integer." when the text does not
// parse, "Enter a number between 0 and 2000." when it is out of range.
SetupProblem CheckField(const FieldSpec& spec, const QString& text, double* value = nullptr);
// The numeric fields of the page, in order; the first failure.
SetupProblem CheckRanges(SetupPage page, const SetupForm& form);
// The checks of OK that need no store, in their order: ranges, template
// selection, control number and operator, limits of the analyzer model.
SetupProblem CheckForOk(SetupPage page, const QString& model, const SetupForm& form);
// Limits of the analyzer model; the ranges have passed. They hold whether
// or not the matching stop option is ticked.
SetupProblem CheckModelLimits(SetupPage page, const QString& model, const SetupForm& form);

// Milliseconds of a stop time.
inline qint64 StopTimeMs(int hours, int minutes) {
    return qint64(hours) * 3600000 + qint64(minutes) * 60000;
}
inline constexpr qint64 kPxr2kFlowTimeLimitMs = 72LL * 3600000;    // 72 hours
inline constexpr qint64 kPxr2kOcclusionTimeLimitMs = 30LL * 60000; // 30 minutes
inline constexpr double kPxr2kFlowVolumeLimit = 10000000;          // 0.1 µl units, 1000 ml

// "ReportHeader1".."ReportHeader3" from the settings.
void ReadReportHeaders(const AppSettings& settings, QString (&headers)[3]);

// Writes the equipment record (type index, the seven texts, the report
// headers) and the page's block into setup; the other blocks stay as they
// were. The form has passed CheckForOk.
void StoreSetup(SetupPage page, const SetupForm& form, const QString (&headers)[3],
                ChannelSetup& setup);

} // namespace setupsheet
