#pragma once

#include "records/SampleArray.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// Run state of a channel document; all false at creation unless stated.
struct RunFlags {
    bool live = false;
    bool setUp = false;
    bool startAllowed = false;
    bool starting = false;
    bool waitingForData = false;
    bool running = false;
    bool primed = false;
    bool dataReceived = false;
    bool ending = false;
    bool cancelled = false;
    bool autoStopped = false;
    bool stopDetected = false;
    bool analyzerShutDown = false;
    bool testActive = false;
    bool templatePending = false;
    bool wrongInlet = false;
    // The analyzer runs a test on the channel that this program did not
    // start: its lines are not taken into the document.
    bool notOurs = false;
};

// The document of one channel window: the test record (header and samples),
// its file form, the live intake of samples and every value computed from
// them. Lives on the user-interface thread.
class CRivuletrixDoc : public QObject {
    Q_OBJECT
public:
    explicit CRivuletrixDoc(QObject* parent = nullptr);
    ~CRivuletrixDoc() override;

    // ---- Header (H1..H22) ----
    QString InstSerialNum, InstVersion;         // H1
    int ChannelNo = 0;                          // H2, 0-based
    QString TdSerialNum, TdVersion;             // H2
    QString RepHeader1, RepHeader2, RepHeader3; // H3..H5
    QString ControlNumber;                      // H6
    QString Operator;                           // H7
    QString Manufacture;                        // H8
    QString Model;                              // H9
    QString SerialNumber;                       // H10
    QString Location;                           // H11
    char TestType = 'N';                        // H12: 'F', 'O', 'P', 'D'; 'N' no test
    double SetFlowRate = 0;                     // H13, ml/h
    double SetVolume = 0;                       // H14, ml
    double SetBasalFlowRate = 0;                // H15, ml/h
    double SetPcaVolume = 0;                    // H16, ml
    QString SetFlowRateText, SetVolumeText, SetBasalFlowRateText, SetPcaVolumeText;
    QString SetPcaTime;           // H17
    QString StartDate, StartTime; // H18
    QString InstModel;            // H19
    QString InstDesc;             // H20
    QString InstManuf;            // H21
    QString Comments;             // H22

    // ---- Derived values ----
    bool SetRateIsZero = false;
    bool NewModel = true;      // times in ms; false for "PXR-7" records
    int TicksPerSecond = 1000; // 256 for "PXR-7" records
    bool FlowOrOcclusion = true;
    int BolusThresholdK = 2;

    // Template fields.
    QString TemplateName;
    int TemplateSteps = 0;       // from the N line; non-zero marks a template record
    int TemplateCurrentStep = 0; // 1-based step being run
    int StepToShow = 1;          // the E line at which reading stops

    // Values the views take from the settings (a live window keeps its own).
    int DefaultTolerance = 0;
    int GraphLineWidth = 1;
    QString DefaultPressureUnit;

    RunFlags Run;
    // View options (commands 32003..32005), all on at creation.
    bool ShowKey = true;
    bool ShowTestDetails = true;
    bool ShowTestParameters = true;
    // Live time axis window in whole minutes; 1 at the start of a test.
    int LiveWindowMinutes = 1;
    // The time axis spans at least this many ticks.
    uint32_t MinTimeSpan = 0;
    // Set when a test ends: the view writes its screen image at the next redraw.
    bool ScreenImageRequested = false;
    bool KeepEverySample = false;
    bool Modified = false;

    // ---- Samples ----
    const SampleArray& Samples() const { return m_samples; }
    // The stored count of the record model: next free slot while live, the
    // slot of the last complete D line after reading.
    int StoredCount() const { return m_storedCount; }
    // False (after "Error - Out of Memory") when the slot cannot be made.
    bool SetSample(int slot, const Sample& s);
    uint32_t ElapsedTimeMs() const { return m_elapsed; }
    int RefreshCount() const { return m_refreshCount; }

    // ---- Record file ----
    // One record section: the N line when nLine is set, H1..H22, the D lines
    // and, when endStep > 0 (template runs), the E line "E<endStep>". Template
    // sections leave out the zero-time samples after slot 0.
    // Writing H13 also sets SetRateIsZero.
    QByteArray FormatSection(bool nLine = false, int endStep = 0);
    // Writes a plain record through a temporary file and an atomic replace.
    // replace false: fails rather than replace a file that is there by then.
    bool WriteRecordFile(const QString& path, QString* error = nullptr, bool replace = true);
    // Far beyond the longest record (six 100-hour steps at 10 Hz are about
    // 0.6 GB); a bigger file is refused before it is read into memory.
    static constexpr qint64 kMaxRecordFileBytes = qint64(2) << 30;
    // Resets the document and reads a ".p8d"/".p7d" file up to the step to
    // show. keepSamples = false reads the header only (index rebuilds).
    bool ReadRecordFile(const QString& path, QString* error = nullptr, bool keepSamples = true);
    // The same from bytes already in memory.
    void ReadRecordBytes(const char* data, size_t size, bool keepSamples = true);
    QString PathName() const { return m_pathName; }

    // Reads one header line ("H18,08-Dec-2026,14:05:09") into the fields.
    void ReadHeaderLine(const char* line, size_t len);
    // Stamps StartDate/StartTime from the given local time (Start Test).
    void StampStart(const class QDateTime& now);

    // Empty when the type or the start stamp cannot make a name. Characters of
    // the transducer serial number that no file name may hold become '_'; the
    // header keeps the serial number as sent.
    QString MakeRecordFileName(bool templateRecord = false) const;
    static QString TestTypeName(char type);

    // ---- Live intake ----
    void AddSample(const QByteArray& line);
    // Automatic stop check after every stored sample; the run controller
    // installs it.
    std::function<void()> StopCheck;
    // Every sample stored by AddSample, with its slot (the test's journal).
    std::function<void(int slot, const Sample& s)> SampleStored;
    // Wall clock in whole seconds, replaceable by tests.
    std::function<qint64()> Clock;

    // Clears header, samples and run state as a document reset does.
    void ResetRecord();
    // Drops a last sample whose elapsed time is 0 (the empty slot a stopped
    // test leaves), before printing.
    void DropEmptyLastSample();
    // Clears the samples only (between the steps of a template run).
    void ClearSamples();

    // ---- Calculations ----
    int SampleCount() const;
    uint32_t ElapsedTicks(int i) const;
    // The last slot holding a sample among those SampleCount() covers: after
    // a live test has ended, the slot past the samples is empty.
    int LastSampleIndex() const;
    // The time of sample i in milliseconds ("PXR-7" ticks converted), for
    // every elapsed-time text.
    uint64_t ElapsedMs(int i) const;
    uint32_t VolumeAt(int i) const;
    char StatusAt(int i) const;
    int PressureAt(int i) const;
    double PressureKpa(int i) const;
    double PressurePsi(int i) const;
    double FlowFromDelta(uint32_t dt, uint32_t dv) const;
    double FlowOver(int i, int n) const;
    double AverageFlowAt(int i) const;
    int BolusEdgeAt(int i) const;
    int BolusCount() const;
    int PcaTableRows() const;
    uint32_t VolumeStep() const;
    static QString FormatHms(uint64_t ms);

Q_SIGNALS:
    // Every view of the document redraws.
    void UpdateAllViews();

private:
    const Sample* At(int i) const {
        return (i >= 0 && size_t(i) < m_samples.size()) ? &m_samples[size_t(i)] : nullptr;
    }
    void ReadSampleLine(const char* line, size_t len, size_t slotLimit);

    SampleArray m_samples;
    int m_storedCount = 0;
    uint32_t m_elapsed = 0;
    QString m_pathName;
    qint64 m_acquisitionStart = 0;
    qint64 m_lastRefresh = 0;
    int m_refreshCount = 0;
};
