#include "FrameAssembler.h"

#include <cstring>

void FrameAssembler::FeedBytes(const char* data, size_t size, FrameHandler& handler) {
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '[') {
            m_fill = 0;
            m_inFrame = true;
            m_discarding = false;
        } else if (c == 0) {
            continue;
        } else if (m_discarding) {
            if (c == '\r') m_discarding = false;
            continue;
        }
        if (m_fill == kCapacity) {
            // Too long without CR or '[': drop it and its tail.
            m_fill = 0;
            m_inFrame = false;
            ++m_overflows;
            if (c != '\r') m_discarding = true;
            continue;
        }
        m_buffer[m_fill++] = c;
        if (c == '\r') {
            m_inFrame = false;
            const size_t n = m_fill;
            m_fill = 0;
            handler.DispatchReply(m_buffer, n);
        }
    }
}

void FrameAssembler::FeedChunk(const char* data, size_t size, FrameHandler& handler) {
    if (size == 0 || data[0] == 0) return;
    FeedBytes(data, size, handler);
}

void FrameAssembler::Clear() {
    m_fill = 0;
    m_inFrame = false;
    m_discarding = false;
}
