// Arbitrary files through the record file reader.
#include "records/RivuletrixDoc.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte chooses header-only or full reading and the step shown.
    const uint8_t mode = data[0];
    CRivuletrixDoc doc;
    doc.StepToShow = 1 + (mode >> 1) % 7;
    doc.ReadRecordBytes(reinterpret_cast<const char*>(data + 1), size - 1, (mode & 1) != 0);
    (void)doc.SampleCount();
    (void)doc.MakeRecordFileName();
    return 0;
}
