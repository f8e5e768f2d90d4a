#include "AnalyzerPoll.h"

#include "RivuletrixApp.h"
#include "link/Device.h"

AnalyzerPoll::AnalyzerPoll(CRivuletrixApp& app, QObject* parent) : QObject(parent), m_app(app) {}

AnalyzerPoll::~AnalyzerPoll() {
    for (int slot = 1; slot <= 4; ++slot) WaitIdle(slot);
}

void AnalyzerPoll::Poll() {
    for (int slot = 1; slot <= 4; ++slot) {
        Result result;
        {
            std::lock_guard lock(m_mutex);
            std::swap(result, m_results[slot - 1]);
        }
        if (result.ready) Finished(slot, result.before, result.after);
    }
    for (int slot = 1; slot <= 4; ++slot) {
        CDevice* device = m_app.Device(slot);
        const auto set = [&](char state) {
            if (m_indicator[slot - 1] == state) return;
            m_indicator[slot - 1] = state;
            Q_EMIT IndicatorChanged(slot, state);
        };
        if (!device) {
            set('N');
            continue;
        }
        const char before = device->BatteryState;
        const bool pxr2k = device->DeviceModel == QLatin1String("PXR2K");
        // An analyzer whose battery is empty is no longer polled; the
        // indicator of a PXR2K in that state is cleared.
        if (before == 'S') {
            if (pxr2k) set('N');
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_busy[slot - 1]) continue; // the previous cycle still waits
            m_busy[slot - 1] = true;
        }
        if (m_workers[slot - 1].joinable()) m_workers[slot - 1].join(); // finished: it was not busy
        m_workers[slot - 1] = std::thread([this, device, slot, before, pxr2k] {
            device->SendSTATUS();
            const char after = pxr2k ? device->PollBattery() : before;
            std::lock_guard lock(m_mutex);
            if (pxr2k) m_results[slot - 1] = Result{true, before, after};
            m_busy[slot - 1] = false;
        });
    }
}

void AnalyzerPoll::Finished(int slot, char before, char after) {
    if (after == before || m_indicator[slot - 1] == after) return;
    m_indicator[slot - 1] = after;
    Q_EMIT IndicatorChanged(slot, after);
}

void AnalyzerPoll::WaitIdle(int slot) {
    if (m_workers[slot - 1].joinable()) m_workers[slot - 1].join();
}
