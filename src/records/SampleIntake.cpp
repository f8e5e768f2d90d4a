// Live intake: measurement lines from the analyzer become samples.
#include "RivuletrixDoc.h"

namespace {

// Hexadecimal field of an upper-cased line; false on any other character.
bool Hex(const char* p, int digits, uint32_t& value) {
    value = 0;
    for (int k = 0; k < digits; ++k) {
        const char c = p[k];
        uint32_t d;
        if (c >= '0' && c <= '9')
            d = uint32_t(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = uint32_t(c - 'A' + 10);
        else
            return false;
        value = value << 4 | d;
    }
    return true;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

} // namespace

void CRivuletrixDoc::AddSample(const QByteArray& line) {
    if (Run.ending || Run.cancelled || Run.notOurs || line.size() <= 21) return;
    if (Run.running) {
        Run.dataReceived = true;
        if (TestType == 'P') FlowOrOcclusion = false;
    }
    Run.waitingForData = false;

    const char code = line[1];
    if (code == 'o' || code == 'O') KeepEverySample = true;
    Modified = true;

    char upper[22];
    for (int k = 0; k < 22; ++k) upper[k] = Upper(line[k]);
    uint32_t time, volume, pressure;
    // Garbage on the line must not become a sample.
    if (!Hex(upper + 2, 8, time) || !Hex(upper + 10, 8, volume) || !Hex(upper + 18, 4, pressure))
        return;

    if (m_storedCount < 1) m_storedCount = 1; // slot 0 stays empty
    if (time == 0) return;
    if (m_storedCount >= 2) {
        const Sample& prev = m_samples[size_t(m_storedCount - 1)];
        if (time < prev.time) return;
        if (time - prev.time < uint32_t(TicksPerSecond / 10) && !KeepEverySample) return;
        if (volume < prev.volume) return;
    }

    Sample s;
    s.code = code;
    s.time = time;
    s.volume = volume;
    s.pressure = int16_t(uint16_t(pressure));
    if (!SetSample(m_storedCount, s)) return;
    if (SampleStored) SampleStored(m_storedCount, s);
    m_elapsed = time;
    ++m_storedCount;

    const qint64 now = Clock();
    if (m_storedCount == 2) m_acquisitionStart = m_lastRefresh = now;
    // Every sample in the first hour, then once a minute.
    if (now < m_acquisitionStart + 3600) {
        Q_EMIT UpdateAllViews();
    } else if (now >= m_lastRefresh + 60) {
        m_lastRefresh = now;
        ++m_refreshCount;
        Q_EMIT UpdateAllViews();
    }
    if (StopCheck) StopCheck();
}
