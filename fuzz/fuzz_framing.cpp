// Arbitrary received bytes through framing and reply dispatch, with a record
// download and a notes download open, as the I/O thread runs them.
#include "link/FrameAssembler.h"
#include "link/ReplyDispatcher.h"

#include <QBuffer>

#include <cstdint>
#include <cstring>

namespace {
struct Sink : LineSink {
    size_t bytes = 0;
    void DeliverLine(int channelIndex, const char* line, size_t size) override {
        if (channelIndex < 0 || channelIndex > 3 || size > 22) __builtin_trap();
        for (size_t i = 0; i < size; ++i) bytes += uint8_t(line[i]);
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte picks how the rest is cut into reads.
    const size_t step = size_t(data[0] % 64) + 1;
    ++data;
    --size;

    FrameAssembler frames;
    ReplyDispatcher dispatcher;
    Sink sink;
    dispatcher.SetLineSink(&sink);
    QBuffer record, notes;
    record.open(QIODevice::ReadWrite);
    notes.open(QIODevice::ReadWrite);
    dispatcher.BeginRecordDownload(&record);
    dispatcher.BeginNotes(&notes);
    for (size_t off = 0; off < size; off += step) {
        const size_t n = std::min(step, size - off);
        frames.FeedChunk(reinterpret_cast<const char*>(data) + off, n, dispatcher);
        if (frames.Fill() > FrameAssembler::kCapacity) __builtin_trap();
    }
    // The whole input once more as one frame, as a caller might pass it.
    dispatcher.DispatchReply(reinterpret_cast<const char*>(data), size);
    dispatcher.EndRecordDownload();
    dispatcher.EndNotes();
    for (int ch = 0; ch < 4; ++ch) (void)dispatcher.ChannelStatus(ch);
    return 0;
}
