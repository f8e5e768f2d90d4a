#include "TemplateEditor.h"

#include "TemplateStore.h"
#include "base/Prompter.h"

#include <QLocale>
#include <QRegularExpression>

namespace {

const QString kFlow = QStringLiteral("FLOW");
const QString kOcclusion = QStringLiteral("OCCLUSION");
const QString kPca = QStringLiteral("PCA");
const QString kBolus = QStringLiteral("BOLUS");
const QStringList kThreeTypes{kFlow, kOcclusion, kPca};
const QStringList kTwoTypes{kFlow, kOcclusion};
const QStringList kNewUnits{QStringLiteral("mmHg"), QStringLiteral("psi"), QStringLiteral("kPa"),
                            QStringLiteral("ml")};
const QStringList kClearedUnits{QStringLiteral("mmHg"), QStringLiteral("kPa"),
                                QStringLiteral("psi"), QStringLiteral("ml")};
const QStringList kPressureUnits{QStringLiteral("mmHg"), QStringLiteral("kPa"),
                                 QStringLiteral("psi")};
const QStringList kMl{QStringLiteral("ml")};

QString UnitName(int unit) {
    switch (unit) {
    case TemplateStep::MmHg:
        return QStringLiteral("mmHg");
    case TemplateStep::KPa:
        return QStringLiteral("kPa");
    case TemplateStep::Psi:
        return QStringLiteral("psi");
    case TemplateStep::Ml:
        return QStringLiteral("ml");
    default:
        return {};
    }
}

bool HasLetter(const QString& text) {
    for (QChar c : text)
        if (c.isLetter()) return true;
    return false;
}

// The number at the start of the text, as the C conversions read it: leading
// blanks, a sign, digits with one point. No number reads as 0.
double LeadingDouble(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?(\\d+\\.?\\d*|\\.\\d+))"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? QLocale::c().toDouble(m.captured(1)) : 0.0;
}

long long LeadingInt(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?\\d{1,12})"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

bool Empty(const TemplateStep& s) {
    return s.type == TemplateStep::Empty && s.volume == 0 && s.rate == 0 && s.tolerance == 0 &&
           s.hours == 0 && s.minutes == 0;
}

} // namespace

const QString TemplateEditor::kSpecialCharacters = QStringLiteral("!@#$%^&*()=+~.,:;/?{}[]<>\\");

TemplateEditor::TemplateEditor(Mode mode) : m_mode(mode) {
    for (int n = 1; n <= kRows; ++n) {
        R(n).typeItems = n == kRows ? kTwoTypes : kThreeTypes;
        R(n).unitItems = kNewUnits;
    }
}

void TemplateEditor::Load(const Template& t) {
    m_template = t;
    name = t.name;
    comment = t.deviceComments;
    for (int n = 1; n <= kRows; ++n) {
        Row& row = R(n);
        row = Row{};
        TemplateStep& s = S(n);
        switch (s.type) {
        case TemplateStep::Bolus:
            row.typeItems = QStringList{kBolus};
            row.typeIndex = 0;
            row.valuesReadOnly = true;
            if (n > 1) R(n - 1).pca = true;
            break;
        default:
            row.typeItems = kThreeTypes;
            row.typeIndex = s.type == TemplateStep::Flow        ? 0
                            : s.type == TemplateStep::Occlusion ? 1
                            : s.type == TemplateStep::Pca       ? 2
                                                                : -1;
            break;
        }
        if (s.type == TemplateStep::Occlusion) {
            const QString unit = UnitName(s.unit);
            if (!unit.isEmpty()) {
                row.unitItems = QStringList{unit};
                row.unitIndex = 0;
            }
        } else if (s.type != TemplateStep::Empty) {
            row.unitItems = kMl;
            row.unitIndex = 0;
            s.unit = TemplateStep::Ml;
        }
        if (s.type == TemplateStep::Bolus) {
            row.volume = QString::asprintf("%6.2f", s.volume); // its only field
        } else if (s.type != TemplateStep::Empty) {
            row.rate = QString::asprintf("%7.2f", s.rate);
            row.volume = QString::asprintf("%6.2f", s.volume);
            row.hours = QString::number(s.hours);
            row.minutes = QString::number(s.minutes);
            row.tolerance = QString::number(s.tolerance);
        }
    }
}

void TemplateEditor::SetComment(const QString& text) {
    comment = text;
    m_template.deviceComments = text;
}

void TemplateEditor::SetText(int n, QString Row::*field, const QString& text) {
    R(n).*field = text;
}

void TemplateEditor::ResetBolusRowBelow(int n) {
    if (!R(n).pca) return;
    R(n).pca = false;
    if (n >= kRows) return;
    Row& b = R(n + 1);
    TemplateStep& s = S(n + 1);
    s = TemplateStep{};
    b.rate.clear();
    b.volume.clear();
    b.hours.clear();
    b.minutes.clear();
    b.tolerance.clear();
    b.typeItems = n + 1 == kRows ? kTwoTypes : kThreeTypes;
    b.typeIndex = -1;
    b.unitItems = kNewUnits;
    b.unitIndex = -1;
    b.valuesReadOnly = false;
    b.pca = false;
}

void TemplateEditor::ChooseType(int n, const QString& text) {
    if (ReadOnly() || n < 1 || n > kRows) return;
    Row& row = R(n);
    TemplateStep& s = S(n);
    const int index = row.typeItems.indexOf(text);
    if (text == kFlow || text == kOcclusion) {
        row.typeIndex = index;
        const bool flow = text == kFlow;
        const int type = flow ? TemplateStep::Flow : TemplateStep::Occlusion;
        if (s.type == type) return;
        s.type = type;
        if (flow) {
            row.unitItems = kMl;
            row.unitIndex = 0;
            s.unit = TemplateStep::Ml;
        } else {
            row.unitItems = kPressureUnits;
            row.unitIndex = 1;
            s.unit = TemplateStep::KPa;
        }
        ResetBolusRowBelow(n);
        row.changed = true;
        s.tolerance = 5;
        row.tolerance = QStringLiteral("5");
    } else if (text == kPca) {
        if (s.type == TemplateStep::Pca) {
            row.typeIndex = index;
            return;
        }
        if (n == kRows) {
            // No room for the bolus row: the row keeps the type it had, so
            // what is shown is what is saved and nothing typed is lost.
            row.typeItems = kTwoTypes;
            row.typeIndex = s.type == TemplateStep::Flow        ? 0
                            : s.type == TemplateStep::Occlusion ? 1
                                                                : -1;
            return;
        }
        row.typeIndex = index;
        s.type = TemplateStep::Pca;
        row.unitItems = kMl;
        row.unitIndex = 0;
        s.unit = TemplateStep::Ml;
        // A PCA row below gives up its own bolus row before it becomes ours.
        ResetBolusRowBelow(n + 1);
        Row& b = R(n + 1);
        TemplateStep& bs = S(n + 1);
        bs.type = TemplateStep::Bolus;
        bs.unit = TemplateStep::Ml;
        b.typeItems = QStringList{kBolus};
        b.typeIndex = 0;
        b.unitItems = kMl;
        b.unitIndex = 0;
        // A bolus uses its volume only: whatever the row held before goes.
        b.valuesReadOnly = true;
        b.rate.clear();
        b.hours.clear();
        b.minutes.clear();
        b.tolerance.clear();
        bs.rate = 0;
        bs.hours = 0;
        bs.minutes = 0;
        bs.tolerance = 0;
        b.pca = false;
        if (n + 2 <= kRows && !R(n + 2).pca) {
            Row& after = R(n + 2);
            // It may have been the bolus row of a PCA step now overwritten:
            // a bolus slot without its PCA step must not stay behind.
            if (S(n + 2).type == TemplateStep::Bolus) {
                ClearRow(n + 2);
            } else {
                after.typeItems = n + 2 == kRows ? kTwoTypes : kThreeTypes;
                after.typeIndex = -1;
            }
            if (n + 2 == kRows) after.typeItems = kTwoTypes;
            MakeEditable(n + 2);
        }
        row.pca = true;
        row.changed = true;
        s.tolerance = 5;
        row.tolerance = QStringLiteral("5");
    } else if (text.isEmpty()) {
        row.typeIndex = -1;
        if (s.type == TemplateStep::Empty) return;
        s.type = TemplateStep::Empty;
        row.unitItems = kNewUnits;
        row.unitIndex = -1;
        s.unit = TemplateStep::NotSet;
        ResetBolusRowBelow(n);
        row.changed = true;
    } else if (text == kBolus) {
        row.typeIndex = index;
        s.type = TemplateStep::Bolus;
    } else {
        row.typeIndex = -1;
        s.type = TemplateStep::Empty;
    }
}

void TemplateEditor::ChooseUnit(int n, const QString& text) {
    if (ReadOnly() || n < 1 || n > kRows) return;
    Row& row = R(n);
    const int index = row.unitItems.indexOf(text);
    if (index < 0) return;
    row.unitIndex = index;
    if (text == QLatin1String("mmHg"))
        S(n).unit = TemplateStep::MmHg;
    else if (text == QLatin1String("kPa"))
        S(n).unit = TemplateStep::KPa;
    else if (text == QLatin1String("psi"))
        S(n).unit = TemplateStep::Psi;
    else if (text == QLatin1String("ml"))
        S(n).unit = TemplateStep::Ml;
}

void TemplateEditor::ClearRow(int n) {
    Row& row = R(n);
    row.rate.clear();
    row.volume.clear();
    row.hours.clear();
    row.minutes.clear();
    row.tolerance.clear();
    row.typeItems = kThreeTypes;
    row.typeIndex = -1;
    row.unitItems = kClearedUnits;
    row.unitIndex = -1;
    row.pca = false;
    row.valuesReadOnly = false;
    S(n) = TemplateStep{};
}

void TemplateEditor::Delete(int n) {
    if (ReadOnly() || n < 1 || n > kRows) return;
    if (S(n).type == TemplateStep::Bolus && n > 1 && S(n - 1).type == TemplateStep::Pca)
        n -= 1; // a bolus row goes with its PCA step
    if (R(n).TypeText() == kPca && n < kRows) {
        ClearRow(n);
        ClearRow(n + 1);
    } else {
        ClearRow(n);
    }
}

void TemplateEditor::ClearAll() {
    if (ReadOnly()) return;
    for (int n = 1; n <= kRows; ++n) ClearRow(n);
    name.clear();
    SetComment({});
}

QString TemplateEditor::Check() {
    for (QChar c : name)
        if (kSpecialCharacters.contains(c)) {
            name.clear();
            return QStringLiteral("Only - and _ special characters are allowed in Template Name");
        }
    m_template.name = name;
    if (name.isEmpty()) return QStringLiteral("Template Name  Should not be blank");
    const QString proper = QStringLiteral("Please enter the proper template details.");
    if (RowAt(1).TypeText().isEmpty()) return proper;
    for (int n = 1; n < kRows; ++n)
        if (RowAt(n).TypeText().isEmpty())
            for (int below = n + 1; below <= kRows; ++below)
                if (!RowAt(below).TypeText().isEmpty()) return proper;
    bool any = false;
    for (const TemplateStep& s : m_template.steps) any = any || s.type != TemplateStep::Empty;
    if (!any) return QStringLiteral("Minimum one step should be present");

    const QString typeEmpty = QStringLiteral("TestType Field should not be empty");
    for (int n = 1; n <= kRows; ++n) {
        TemplateStep& s = S(n);
        Row& row = R(n);
        // Values typed in a row without a type would be dropped without a word.
        if (s.type == TemplateStep::Empty &&
            !(row.rate + row.volume + row.hours + row.minutes + row.tolerance).trimmed().isEmpty())
            return QStringLiteral("Test Type Field should not be empty");
        if (Empty(s)) break;
        if (s.type != TemplateStep::Bolus) {
            if (s.type == TemplateStep::Empty)
                return QStringLiteral("Test Type Field should not be empty");
            if (row.rate.isEmpty()) return QStringLiteral("Flow Rate Field should not be empty");
            if (HasLetter(row.rate))
                return QStringLiteral("Flow Rate Field should not contain Alphabets");
            const double rate = LeadingDouble(row.rate);
            if (rate < 0 || rate > 2000) {
                row.rate.clear();
                return QStringLiteral("Invalid Flow Rate range in step %1").arg(n);
            }
            s.rate = rate;
            const struct {
                QString Row::*field;
                int32_t TemplateStep::*slot;
                long long max;
                const char* message;
            } ints[] = {
                {&Row::hours, &TemplateStep::hours, 99, "Invalid Hour at step %1"},
                {&Row::minutes, &TemplateStep::minutes, 59, "Invalid Minute at step %1"},
                {&Row::tolerance, &TemplateStep::tolerance, 50, "Invalid Tolerance at step %1"}};
            for (const auto& c : ints) {
                const long long v = LeadingInt(row.*c.field);
                if (v < 0 || v > c.max) {
                    (row.*c.field).clear();
                    return QString::fromLatin1(c.message).arg(n);
                }
                s.*c.slot = int32_t(v);
            }
        }
        if (s.type == TemplateStep::Empty) return typeEmpty;
        if (HasLetter(row.volume))
            return QStringLiteral("Volume/Pressure Field should not contain Alphabets.");
        const double volume = LeadingDouble(row.volume);
        if (s.type == TemplateStep::Occlusion) {
            double max = -1;
            if (s.unit == TemplateStep::MmHg) max = 2327;
            if (s.unit == TemplateStep::KPa) max = 310;
            if (s.unit == TemplateStep::Psi) max = 45;
            if (max < 0) continue; // no unit chosen: nothing to check or keep
            if (volume < 0 || volume > max) {
                row.volume.clear();
                return QStringLiteral("Invalid Pressure range at step %1").arg(n);
            }
        } else if (volume < 0 || volume > 9999) {
            row.volume.clear();
            return QStringLiteral("Invalid Volume range at step %1").arg(n);
        }
        s.volume = volume;
    }
    return {};
}

Template TemplateEditor::Compacted() const {
    Template t = m_template;
    int used = 0;
    for (const TemplateStep& s : m_template.steps)
        if (s.type != TemplateStep::Empty) t.steps[size_t(used++)] = s;
    for (int i = used; i < kRows; ++i) t.steps[size_t(i)] = TemplateStep{};
    t.stepCount = used;
    return t;
}

bool TemplateEditor::Save(TemplateStore& store, const QString& editedFileName,
                          QString* writtenFileName) {
    if (ReadOnly()) return false;
    const QString failure = Check();
    if (!failure.isEmpty()) {
        ThePrompter().Message(failure);
        return false;
    }
    QString fileName;
    if (m_mode == Mode::Create) {
        if (!store.MakeTemplateFileName(name, fileName)) return false;
    } else {
        fileName = editedFileName;
        m_template.thirdText.clear();
    }
    m_template.deviceComments = comment;
    const Template t = Compacted();
    // The file first: when it cannot be written the index keeps its row and
    // the editor stays open with the user's work.
    if (!store.WriteTemplateFile(fileName, t)) {
        ThePrompter().Message(
            QStringLiteral("The template file %1 could not be written.").arg(fileName),
            Prompter::Icon::Warning);
        return false;
    }
    if (m_mode == Mode::Edit) store.DeleteRow(QStringLiteral("Filename"), fileName);
    TemplateRow row;
    row.name = t.name;
    row.instSerialNumber = QStringLiteral("0000");
    row.deviceComments = t.deviceComments;
    row.fileName = fileName;
    row.stepCount = t.stepCount;
    store.AddRow(row);
    if (writtenFileName) *writtenFileName = fileName;
    return true;
}
