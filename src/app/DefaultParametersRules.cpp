#include "DefaultParametersRules.h"

#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace {
const QString kBuildIndex = QStringLiteral("BuildIndex");
const QString kPathType = QStringLiteral("PathType");
const QString kNetworkPath = QStringLiteral("NetworkPath ");
const QString kNetworkDrive = QStringLiteral("NetworkPathDrive");
const QString kCustomPath = QStringLiteral("CustomPath  ");
} // namespace

DefaultParametersRules::DefaultParametersRules(const AppSettings& settings, RecordIndex& records,
                                               TemplateStore& templates)
    : m_settings(settings), m_records(records), m_templates(templates) {}

bool DefaultParametersRules::Write(const QString& key, const QString& value,
                                   const QString& failure) const {
    // WriteSetting shows "Write Failed" itself; the caller's own text follows.
    if (m_settings.WriteSetting(settings::kSection, key, value)) return true;
    if (!failure.isEmpty()) ThePrompter().Message(failure);
    return false;
}

FolderState DefaultParametersRules::Check(const QString& path) const {
    return CheckFolder(path, m_timeoutMs, m_probe);
}

DefaultParametersRules::Opening DefaultParametersRules::Open() {
    Opening o;
    const QString type = m_settings.Setting(kPathType);
    m_kind = type == QLatin1String("1")   ? NetworkPath
             : type == QLatin1String("2") ? CustomPath
                                          : DefaultPath;
    switch (m_kind) {
    case DefaultPath:
        o.view.path = m_settings.GetIniFolder();
        break;
    case NetworkPath:
        o.view.path = m_settings.Setting(kNetworkPath);
        o.view.browse = true;
        break;
    case CustomPath:
        o.view.path = m_settings.Setting(kCustomPath);
        o.view.browse = true;
        break;
    }
    for (int k = 0; k < 3; ++k)
        o.headers[k] = m_settings.Setting(QStringLiteral("ReportHeader%1").arg(k + 1));
    o.tolerance = m_settings.Setting(QStringLiteral("FlowTolerance "));
    o.lineWidth = m_settings.Setting(QStringLiteral("GraphLineWidth"));
    o.unit = m_settings.Setting(QStringLiteral("DefaultPressureUnit"));
    if (o.unit.isEmpty()) {
        o.unit = QStringLiteral("mmHg");
        Write(QStringLiteral("DefaultPressureUnit"), o.unit);
    }
    m_toleranceAccepted = m_lineWidthAccepted = false;
    if (m_kind == NetworkPath) {
        // The result only decides how the path is shown; it never blocks Ok.
        const FolderState state = Check(o.view.path);
        o.view.readOnly = state.Connected();
        o.view.enableOk = state.Connected();
        o.view.reason = state.reason;
    }
    return o;
}

bool DefaultParametersRules::CheckRange(const QString& text, int low, int high,
                                        const QString& message, bool& accepted) const {
    if (text.isEmpty()) return false;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) {
        ThePrompter().Message(message);
        accepted = false;
        return false;
    }
    accepted = true;
    return true;
}

bool DefaultParametersRules::ToleranceEdited(const QString& text) {
    return CheckRange(text, 0, 50, QStringLiteral("Enter Flow Tolerance in the range  0 to 50"),
                      m_toleranceAccepted);
}

bool DefaultParametersRules::LineWidthEdited(const QString& text) {
    return CheckRange(text, 1, 5, QStringLiteral("Enter Graph Line Width in the range  1 to 5"),
                      m_lineWidthAccepted);
}

DefaultParametersRules::PathView DefaultParametersRules::ChooseDefault() {
    m_kind = DefaultPath;
    PathView v;
    v.path = m_settings.GetIniFolder();
    Write(kBuildIndex, QStringLiteral("1"));
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::ChooseCustom() {
    m_kind = CustomPath;
    PathView v;
    v.path = m_settings.Setting(kCustomPath);
    Write(kBuildIndex, QStringLiteral("1"));
    v.readOnly = true;
    v.browse = true;
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::ChooseNetwork() {
    m_kind = NetworkPath;
    PathView v;
    v.browse = true;
    v.path = m_settings.Setting(kNetworkPath);
    const FolderState state = Check(v.path);
    if (!state.Connected()) {
        v.pickFolder = true;
        v.reason = state.reason;
        return v;
    }
    v.readOnly = true;
    v.enableOk = true;
    Write(kPathType, QStringLiteral("1"));
    Write(kBuildIndex, QStringLiteral("1"));
    ReopenStores();
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::NetworkFolderPicked(const QString& folder,
                                                                             bool fromChoice) {
    PathView v;
    v.browse = true;
    v.path = folder;
    // The mount point stands where a drive letter was mapped.
    const QStorageInfo mount(folder);
    Write(kNetworkPath, folder);
    Write(kNetworkDrive, mount.isValid() ? mount.rootPath() : QString());
    if (fromChoice) Write(kBuildIndex, QStringLiteral("1"));
    v.readOnly = true;
    v.enableOk = true;
    return v;
}

void DefaultParametersRules::ReopenStores() {
    if (m_records.IsOpen()) {
        m_records.Close();
        m_records.Open();
    }
    if (m_templates.IsOpen()) {
        m_templates.Close();
        m_templates.Open();
    }
}

DefaultParametersRules::SaveResult DefaultParametersRules::Save(const Values& values) {
    const QString path = values.path;
    if (!path.trimmed().isEmpty() && !QFileInfo::exists(path)) MakeFolderChain(path);

    const QString kind = QString::number(m_kind);
    if (!Write(kPathType, kind, QStringLiteral("cannot write new PathType to ini File")))
        return SaveResult::WriteFailed;
    if (m_kind == CustomPath &&
        !Write(kCustomPath, path, QStringLiteral("cannot write new DeaultPath to ini File")))
        return SaveResult::WriteFailed;
    if (m_kind == NetworkPath &&
        !Write(kNetworkPath, path, QStringLiteral("cannot write new NetworkPath to ini File")))
        return SaveResult::WriteFailed;
    Write(kPathType, kind);

    for (int k = 0; k < 3; ++k)
        Write(QStringLiteral("ReportHeader%1").arg(k + 1), values.headers[k],
              QStringLiteral("cannot write new ReportHeader%1 to ini File").arg(k + 1));
    // An accepted field emptied again keeps the stored value.
    if (m_toleranceAccepted && !values.tolerance.isEmpty())
        Write(QStringLiteral("FlowTolerance "), values.tolerance,
              QStringLiteral("cannot write new Flow Tolerance to ini File"));
    if (m_lineWidthAccepted && !values.lineWidth.isEmpty())
        Write(QStringLiteral("GraphLineWidth"), values.lineWidth,
              QStringLiteral("cannot write new GraphLinewidth to ini File"));
    Write(QStringLiteral("DefaultPressureUnit"), values.unit);

    m_records.Close();
    m_records.Open();
    if (!m_records.IsOpen() && m_records.OnServer()) {
        // No folder would help: the data folder is fine, the index server
        // is away. Records are still saved and indexed once it is back.
        ThePrompter().Message(
            QStringLiteral("The settings were saved, but the records index server could not be "
                           "reached:\n%1")
                .arg(m_records.LastError()),
            Prompter::Icon::Warning);
    } else if (!m_records.IsOpen()) {
        ThePrompter().Message(QStringLiteral("Select Valid Path"), Prompter::Icon::Error);
        return SaveResult::InvalidPath;
    }
    // The template store follows the records to the new folder, also when it
    // could not be opened before.
    m_templates.Close();
    m_templates.Open();
    return SaveResult::Saved;
}
