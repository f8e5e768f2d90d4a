// Arbitrary bytes through the test journal reader: intact samples come back
// in slot order, nothing else.
#include "records/TestJournal.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    journal::Contents c;
    if (!journal::Decode(reinterpret_cast<const char*>(data), size, c)) return 0;
    for (size_t k = 0; k < c.samples.size(); ++k)
        if (c.samples[k].slot != k + 1) std::abort();
    return 0;
}
