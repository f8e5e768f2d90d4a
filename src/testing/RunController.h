#pragma once

#include "records/Template.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class CDevice;
class RunHost;
class CRivuletrixDoc;
class QTimer;
class SetupSheetRunner;
class TestJournal;

// Runs the test of one channel window: setup, the wait for the primed
// channel, start, the automatic stop check, end (with the cancel question and
// the end wait), the save and print prompts, and the saved, indexed record.
// The waits are states advanced by the channel status, never nested loops.
class RunController : public QObject {
    Q_OBJECT
public:
    // OnAnalyzer: the analyzer runs a test on the channel that this program
    // did not start (one left running when the program ended); End Test
    // ends it there.
    enum class State { Idle, WaitingForPrimed, Armed, Running, EndWait, Finishing, OnAnalyzer };
    // Why the last test stopped.
    enum class StopReason { None, Volume, Time, Analyzer, User, Shutdown, Cancelled };

    struct StopConditions {
        bool onVolume = false;
        uint32_t volume = 0; // 0.1 ul units
        bool onTime = false;
        uint32_t time = 0; // ms
        bool first = false;
        bool both = false;
    };

    // slot and channel 1-based. The controller installs itself as the
    // document's stop check.
    RunController(RunHost& app, CRivuletrixDoc& doc, int slot, int channel,
                  QObject* parent = nullptr);
    ~RunController() override;

    void SetSetupSheet(SetupSheetRunner* sheet) { m_sheet = sheet; }
    // Printing through the view; without it the print question is not asked.
    std::function<void()> Print;

    // ---- Template runs ----
    enum class NextChoice { NextStep, RepeatStep, SaveAndExit };
    struct NextStepInfo {
        QString templateName;
        int step = 0;    // 1-based step number of the next slot
        double rate = 0; // its rate, ml/h
        int channel = 0; // 1-based
        int type = 0;    // its step type
        bool nextEnabled = false;
    };
    // The "Template Next Step" dialog: returns the choice and sets autoStart
    // from its check box.
    std::function<NextChoice(const NextStepInfo& info, bool& autoStart)> ChooseNextStep;

    struct TemplateRunState {
        bool active = false;
        bool firstStep = true;
        bool stepContinues = false;
        bool lastStep = false;
        bool closeRun = false;
        int stepIndex = 0;
        int steps = 0;
        int stepsEnded = 0;
        bool dialogShown = false;
        bool autoStartChoice = true;
        QString fileName;
        QString filePath;
        Template tmpl;
    };
    const TemplateRunState& TemplateRun() const { return m_tpl; }
    // Copies step slot index into the test values (nothing above slot 5).
    void SetupTemplateStep(int index);

    // ---- Commands ----
    void OnSetupTest();
    void OnStartTest();
    // Also cancels a setup the analyzer has not confirmed, or a test not
    // started yet.
    void OnEndTest();
    bool NeedToStop();
    bool CanClose();
    // False when unsaved results could not be saved and stay.
    bool ResetDocument();
    // Writes the record in the data folder and indexes it; false (after a
    // message naming the file) when it could not be written.
    bool SaveRecord();

    // ---- Enabling ----
    bool SetupEnabled() const;
    // Applies the status effects of the channel status first.
    bool StartEnabled();
    bool EndEnabled() const;

    // ---- State ----
    State CurrentState() const { return m_state; }
    StopConditions Stop;
    // Waiting for the primed channel, no status reply for this long means a
    // silent analyzer (reported once).
    int SilentLimitMs = 10000;
    bool AutoStart = false;
    int Tolerance = 0;
    int ToleranceOverride = 0;
    StopReason LastStop() const { return m_lastStop; }
    // The sample slot on which the automatic stop was decided, or -1.
    int StopSlot() const { return m_stopSlot; }
    QString LastSavedPath() const { return m_savedPath; }
    // Results that could not be saved and stay in the window.
    bool ResultsKept() const;
    QString WindowTitle() const;
    // Why the running test's journal is not written; empty while it is.
    QString JournalProblem() const { return m_journalProblem; }
    // What the channel window's status line says: journal trouble, or a
    // test on the analyzer that this program did not start; empty otherwise.
    QString StatusNote() const;
    QString ElapsedTimeText() const;
    CDevice* Device() const;
    QString ChannelStatus() const;
    // Reads the channel status and advances the waits; a timer calls it.
    void CheckStatus();

Q_SIGNALS:
    void ViewsChanged();
    void TitleChanged(const QString& title);
    void StatusNoteChanged(const QString& note);
    // The test is over and the document reset (saved or not).
    void TestFinished();
    // The view's graph scaling starts afresh (a new setup, a new step).
    void GraphReset();
    void StateChanged(RunController::State state);
    // The analyzer stopped answering while the setup waited for it.
    void AnalyzerSilent();

private:
    void SetState(State s);
    void SetupHandOver();
    void FinishSetupWait(const QString& status);
    bool EndPreStep();
    // Ends a setup or a test not started yet on the analyzer; ask: the
    // cancel question first.
    void CancelSetup(bool ask);
    // The status shows the test set up but not started, and no data came.
    bool NotStarted() const;
    bool AskCancel();
    // This test ended on the analyzer: its place in the analyzer's order.
    void MarkEnded();
    void EndWaitDone();
    void ContinueEndTest();
    // False when the results could not be saved and stay in the window.
    bool FinishTest();
    void ApplyStatusEffects(const QString& status);
    // The analyzer reports the running test's channel idle: say so and
    // offer the end.
    void OfferEndOfLostTest();
    // While idle: the analyzer reports the channel busy with a test this
    // program did not start, or no longer.
    void WatchTestNotOurs(const CDevice& device);
    // True once the status is newer than the state's start (two replies).
    bool FreshStatus(const CDevice& device);
    // The analyzer runs a test of its own on the channel and ignored the
    // setup: the setup is dropped and the test shown.
    void DropIgnoredSetup();
    void EndTestNotOurs();
    // The title and the status line say the state again.
    void NoteChanged();
    void CopyParameters();
    void SetSetUpFlag(bool on);
    void SetStartedFlag(bool on);
    bool StartedFlag() const;
    void ReadAnalyzerIdentity();
    bool StartTemplateRun();
    // Ends the template run without anything more to save.
    void AbandonTemplateRun();
    // The run is over: a template run left unfinished is dropped, the results
    // go unless they are kept, and the views and the shell hear of it.
    void ReturnToIdle();
    void TemplateEndStep();
    // A step whose section could not be written: kept, and the run ends.
    void KeepFailedStep(int ranIndex);
    // After the common end: "Save and Exit", the next step, or the run's end.
    // True when a next step was set up.
    bool TemplateAfterEnd();
    bool SaveTemplateSection();
    // The journal of the running test: opened at Start, removed once the
    // results are saved or discarded; kept while they are neither.
    void StartJournal();
    void EndJournal();
    // Journal trouble (empty: over) goes to the title and, once, a message.
    void ReportJournalProblem(const QString& problem);
    void DeleteAnalyzersLastRecord();
    void IndexTemplateRecord();
    // Enters a saved record in the records index: a server's row is added
    // on the host's indexer, and its outcome said when it comes.
    void IndexSavedRecord(CRivuletrixDoc& record, const QString& name);
    // A saved record the records index did not take: the technician is told.
    // queued: its row waits for the server.
    void ReportNotIndexed(const QString& name, const QString& error, bool queued);

    RunHost& m_app;
    CRivuletrixDoc& m_doc;
    int m_slot;
    int m_channel;
    SetupSheetRunner* m_sheet = nullptr;
    QTimer* m_statusTimer;
    State m_state = State::Idle;
    StopReason m_lastStop = StopReason::None;
    QDateTime m_startDeadline;
    int m_endWaitPasses = 0;
    bool m_wasPrimed = false;
    bool m_inWrongInlet = false;
    bool m_refreshedRunning = false;
    QString m_savedPath;
    int m_stopSlot = -1;
    bool m_keepResults = false; // a save failed: the results stay until saved
    uint64_t m_waitReplies = 0;
    QElapsedTimer m_sinceReply;
    bool m_silentReported = false;
    int m_endOrder = 0;             // 0 until the test ended on the analyzer
    bool m_cancelConfirmed = false; // the cancel question was answered Yes already
    TemplateRunState m_tpl;
    std::unique_ptr<TestJournal> m_journal;
    QString m_journalProblem;
    bool m_indexerWatched = false;
    QStringList m_indexing;            // records handed to the indexer, outcome not yet known
    bool m_journalProblemSaid = false; // the message comes once a test
    // Status replies counted from here on show the analyzer as it is after
    // this program's last command to the channel.
    const CDevice* m_idleDevice = nullptr;
    uint64_t m_idleReplies = 0;
    uint64_t m_endNotOursReplies = 0; // End sent to a test not ours; 0: not
};
