#pragma once

#include <cstddef>

// Receives one complete frame: the bytes since the previous CR or the last
// '[', up to and including the CR. The frame is valid only during the call.
class FrameHandler {
public:
    virtual ~FrameHandler() = default;
    virtual void DispatchReply(const char* frame, size_t size) = 0;
};

// Cuts the analyzer's byte stream into frames. Independent of any port: bytes
// in, frames out.
//
// - '[' starts a new frame and throws away what was collected;
// - NUL bytes are skipped;
// - CR completes the frame; the LF after it becomes the first byte of the
//   next frame (the dispatcher drops it);
// - a frame that reaches kCapacity bytes without CR or '[' is discarded, and
//   so is everything after it up to the next CR or '[' (the tail of an
//   overlong frame must not pass for a frame of its own).
class FrameAssembler {
public:
    static constexpr size_t kCapacity = 1024;

    void FeedBytes(const char* data, size_t size, FrameHandler& handler);
    // One read from the port: a chunk whose first byte is NUL is discarded
    // whole (the analyzer's idle filler), the others go to FeedBytes.
    void FeedChunk(const char* data, size_t size, FrameHandler& handler);
    void Clear();

    size_t Fill() const { return m_fill; }
    bool InFrame() const { return m_inFrame; }
    // Frames thrown away because they outgrew the buffer.
    size_t OverflowCount() const { return m_overflows; }

private:
    char m_buffer[kCapacity];
    size_t m_fill = 0;
    bool m_inFrame = false;
    bool m_discarding = false;
    size_t m_overflows = 0;
};
