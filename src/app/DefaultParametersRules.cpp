#include "DefaultParametersRules.h"

#include "base/AppSettings.h"
#include "base/CheckedSaveFile.h"
#include "base/DataFolder.h"
#include "base/Prompter.h"
#include "store/RecordIndex.h"
#include "store/TemplateStore.h"

#include <QDir>
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

DefaultParametersRules::Opening DefaultParametersRules::Open() {
    Opening o;
    const QString type = m_settings.Setting(kPathType);
    m_kind = type == QLatin1String("1")   ? NetworkPath
             : type == QLatin1String("2") ? CustomPath
                                          : DefaultPath;
    m_networkPath = m_settings.Setting(kNetworkPath);
    m_networkDrive = m_settings.Setting(kNetworkDrive);
    switch (m_kind) {
    case DefaultPath:
        o.view.path = m_settings.GetIniFolder();
        o.view.readOnly = true;
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
    // Shown, and written on Ok only.
    if (o.unit.isEmpty()) o.unit = QStringLiteral("mmHg");
    m_toleranceAccepted = m_lineWidthAccepted = false;
    m_openedKind = m_kind;
    m_openedPath = o.view.path;
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
    // The default data folder is the settings folder; nothing typed can
    // change it.
    v.path = m_settings.GetIniFolder();
    v.readOnly = true;
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::ChooseCustom() {
    m_kind = CustomPath;
    PathView v;
    v.path = m_settings.Setting(kCustomPath);
    v.readOnly = true;
    v.browse = true;
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::ChooseNetwork() {
    m_kind = NetworkPath;
    PathView v;
    v.browse = true;
    v.path = m_networkPath;
    const FolderState state = Check(v.path);
    if (!state.Connected()) {
        v.pickFolder = true;
        v.reason = state.reason;
        return v;
    }
    v.readOnly = true;
    v.enableOk = true;
    return v;
}

DefaultParametersRules::PathView DefaultParametersRules::NetworkFolderPicked(const QString& folder,
                                                                             bool) {
    PathView v;
    v.browse = true;
    v.path = folder;
    // The mount point stands where a drive letter was mapped.
    m_networkPath = folder;
    m_networkDrive = MountRoot(folder);
    v.readOnly = true;
    v.enableOk = true;
    return v;
}

QString DefaultParametersRules::MountRoot(const QString& folder) {
    const QStorageInfo mount(folder);
    return mount.isValid() ? mount.rootPath() : QString();
}

FolderState DefaultParametersRules::Check(const QString& path) const {
    FolderState state = CheckFolder(path, m_timeoutMs, m_probe);
    if (!state.Connected()) return state;
    // An empty mount point is a folder, but not the share.
    const QString drive = path == m_networkPath ? m_networkDrive : QString();
    const QString problem = FolderProblem(path, drive);
    if (!problem.isEmpty()) return {FolderState::Kind::Missing, problem};
    return state;
}

void DefaultParametersRules::ReopenStores() {
    m_records.Close();
    m_records.Open();
    m_templates.Close();
    m_templates.Open();
}

QString DefaultParametersRules::SettingsFile() const {
    const QString folder = m_settings.GetIniFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(settings::kSettingsFile);
}

DefaultParametersRules::SaveResult DefaultParametersRules::Save(const Values& values) {
    const QString path = m_kind == DefaultPath ? m_settings.GetIniFolder() : values.path;
    // The folder must take records before anything is written: a network
    // folder is never made (an unmounted share would become a local
    // folder); a custom one the technician typed is made here.
    bool usable = false;
    if (m_kind == NetworkPath) {
        if (path != m_networkPath) {
            m_networkPath = path;
            m_networkDrive = MountRoot(path);
        }
        usable = !path.trimmed().isEmpty() && Check(path).Connected();
    } else {
        usable = !path.trimmed().isEmpty() && (QFileInfo(path).isDir() || MakeFolderChain(path));
    }
    if (!usable) {
        ThePrompter().Message(QStringLiteral("Select Valid Path"), Prompter::Icon::Error);
        return SaveResult::InvalidPath;
    }

    // Kept to put back should the index not open in the new folder.
    const QString file = SettingsFile();
    QByteArray before;
    const bool haveBefore = !file.isEmpty() && checkedfile::Read(file, before);
    const bool moved =
        m_kind != m_openedKind || QDir::cleanPath(path) != QDir::cleanPath(m_openedPath);

    const QString kind = QString::number(m_kind);
    if (!Write(kPathType, kind, QStringLiteral("cannot write new PathType to ini File")))
        return SaveResult::WriteFailed;
    if (m_kind == CustomPath &&
        !Write(kCustomPath, path, QStringLiteral("cannot write new DeaultPath to ini File")))
        return SaveResult::WriteFailed;
    if (m_kind == NetworkPath &&
        (!Write(kNetworkPath, path, QStringLiteral("cannot write new NetworkPath to ini File")) ||
         !Write(kNetworkDrive, m_networkDrive)))
        return SaveResult::WriteFailed;
    // A new folder's index is built from its record files.
    if (moved) Write(kBuildIndex, QStringLiteral("1"));

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
        // Nothing changes: the settings and both stores are as they were.
        if (haveBefore) checkedfile::Write(file, before);
        ReopenStores();
        ThePrompter().Message(QStringLiteral("Select Valid Path"), Prompter::Icon::Error);
        return SaveResult::InvalidPath;
    }
    // The template store follows the records to the new folder, also when it
    // could not be opened before.
    m_templates.Close();
    m_templates.Open();
    return SaveResult::Saved;
}
