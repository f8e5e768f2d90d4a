#pragma once

#include <QObject>

#include <atomic>
#include <mutex>
#include <thread>

class CRivuletrixApp;

// The one-second status cycle. A status request goes out once the previous
// reply has arrived or a second has passed, and a PXR2K is asked for its
// battery too; those waits run on a worker per analyzer, so the window never
// waits for a silent analyzer.
class AnalyzerPoll : public QObject {
    Q_OBJECT
public:
    explicit AnalyzerPoll(CRivuletrixApp& app, QObject* parent = nullptr);
    ~AnalyzerPoll() override;

    // One cycle over slots 1..4 (the frame's timer).
    void Poll();
    // Waits until no poll of the slot is under way (before its device goes).
    void WaitIdle(int slot);

    // Battery indicator of the slot: 'H', 'L', 'S', or 'N' for none.
    char Indicator(int slot) const { return m_indicator[slot - 1]; }

Q_SIGNALS:
    void IndicatorChanged(int slot, char state);

private:
    void Finished(int slot, char before, char after);

    CRivuletrixApp& m_app;
    char m_indicator[4] = {'N', 'N', 'N', 'N'};
    std::mutex m_mutex;
    bool m_busy[4] = {};
    std::thread m_workers[4]; // started and joined on the window's thread
    // Battery results of PXR2K polls, handed over under m_mutex and taken by
    // the next cycle on the window's thread.
    struct Result {
        bool ready = false;
        char before = 'N', after = 'N';
    } m_results[4];
};
