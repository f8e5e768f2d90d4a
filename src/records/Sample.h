#pragma once

#include <cstdint>

// One sample of a test record, stored by value in a flat array. An empty slot
// reads as code ' ' and zeros.
struct Sample {
    uint32_t time = 0;    // ms since the test start (1/256 s in "PXR-7" records)
    uint32_t volume = 0;  // cumulative volume, 0.1 ul units (10 000 = 1 ml)
    int16_t pressure = 0; // mmHg
    char code = ' ';      // status code as the analyzer sent it, case kept
};
static_assert(sizeof(Sample) <= 12, "a sample must stay within 12 bytes");
