#pragma once

#include "FolderCheck.h"

#include <QString>

#include <functional>

class AppSettings;
class RecordIndex;
class TemplateStore;

// The rules of the "Rivuletrix Default Parameters" dialog without its
// widgets: what the dialog shows when it opens, the checks of the tolerance
// and line width fields, the three kinds of data folder and the Ok sequence
// that writes the settings and reopens both stores on the chosen folder.
// Every message goes through the prompter.
class DefaultParametersRules {
public:
    enum PathKind { DefaultPath = 0, NetworkPath = 1, CustomPath = 2 };

    // What the path field shows after a choice.
    struct PathView {
        QString path;
        bool readOnly = false;
        bool browse = false;
        bool enableOk = false;
        // The folder picker must be offered (a network folder not reachable).
        bool pickFolder = false;
        // Why a network folder is not reachable; empty otherwise.
        QString reason;
    };

    // Everything the dialog shows when it opens.
    struct Opening {
        PathView view;
        QString headers[3];
        QString tolerance;
        QString lineWidth;
        QString unit;
    };

    // What Ok writes.
    struct Values {
        QString path;
        QString headers[3];
        QString tolerance;
        QString lineWidth;
        QString unit;
    };

    enum class SaveResult {
        Saved,       // settings written, both stores open on the folder
        WriteFailed, // a path setting could not be written; nothing after it
        InvalidPath  // the folder or its index cannot be used; nothing changed
    };

    DefaultParametersRules(const AppSettings& settings, RecordIndex& records,
                           TemplateStore& templates);

    // How long a network folder may take to answer, in milliseconds.
    void SetNetworkTimeout(int ms) { m_timeoutMs = ms; }
    void SetProbe(std::function<FolderState(const QString&)> probe) { m_probe = std::move(probe); }

    // Reads the settings; shows "mmHg" as pressure unit when none is set.
    // Nothing is written before Ok: Close leaves the settings as they were.
    Opening Open();

    int Kind() const { return m_kind; }
    // The tolerance (0..50) and line width (1..5) fields, on every change.
    // Empty text changes nothing; a value out of range shows its message.
    // True when the text was accepted (Ok is then enabled).
    bool ToleranceEdited(const QString& text);
    bool LineWidthEdited(const QString& text);
    bool ToleranceAccepted() const { return m_toleranceAccepted; }
    bool LineWidthAccepted() const { return m_lineWidthAccepted; }

    PathView ChooseDefault();
    PathView ChooseCustom();
    // A reachable network folder is shown; otherwise the view asks for the
    // folder picker.
    PathView ChooseNetwork();
    // The folder chosen in the picker for the network kind, kept until Ok.
    // fromChoice: the picker followed the radio button.
    PathView NetworkFolderPicked(const QString& folder, bool fromChoice);

    SaveResult Save(const Values& values);

private:
    bool Write(const QString& key, const QString& value, const QString& failure = {}) const;
    bool CheckRange(const QString& text, int low, int high, const QString& message,
                    bool& accepted) const;
    void ReopenStores();
    FolderState Check(const QString& path) const;
    QString SettingsFile() const;
    static QString MountRoot(const QString& folder);

    const AppSettings& m_settings;
    RecordIndex& m_records;
    TemplateStore& m_templates;
    int m_kind = DefaultPath;
    // As the dialog opened, to tell whether Ok moves the data folder.
    int m_openedKind = DefaultPath;
    QString m_openedPath;
    // The network folder and its mount, chosen but not yet saved.
    QString m_networkPath;
    QString m_networkDrive;
    bool m_toleranceAccepted = false;
    bool m_lineWidthAccepted = false;
    int m_timeoutMs = 3000;
    std::function<FolderState(const QString&)> m_probe = ProbeFolder;
};
