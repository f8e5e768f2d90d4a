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
        InvalidPath  // written, but the records index does not open there
    };

    DefaultParametersRules(const AppSettings& settings, RecordIndex& records,
                           TemplateStore& templates);

    // How long a network folder may take to answer, in milliseconds.
    void SetNetworkTimeout(int ms) { m_timeoutMs = ms; }
    void SetProbe(std::function<FolderState(const QString&)> probe) { m_probe = std::move(probe); }

    // Reads the settings; writes "mmHg" as pressure unit when none is set.
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
    // A reachable network folder is taken at once (path kind written, stores
    // reopened); otherwise the view asks for the folder picker.
    PathView ChooseNetwork();
    // The folder chosen in the picker for the network kind. fromChoice: the
    // picker followed the radio button (the index is then rebuilt).
    PathView NetworkFolderPicked(const QString& folder, bool fromChoice);

    SaveResult Save(const Values& values);

private:
    bool Write(const QString& key, const QString& value, const QString& failure = {}) const;
    bool CheckRange(const QString& text, int low, int high, const QString& message,
                    bool& accepted) const;
    void ReopenStores();
    FolderState Check(const QString& path) const;

    const AppSettings& m_settings;
    RecordIndex& m_records;
    TemplateStore& m_templates;
    int m_kind = DefaultPath;
    bool m_toleranceAccepted = false;
    bool m_lineWidthAccepted = false;
    int m_timeoutMs = 3000;
    std::function<FolderState(const QString&)> m_probe = ProbeFolder;
};
