// Lagged additive random-number generator with one process-wide state.
// Not locked: use it from one thread only.
#pragma once

#include <cstddef>
#include <cstdint>

// Seeds from the low four bits of every byte, last byte first; a count of 0 gives
// the all-zero state without reading.
void LaggedRandomSeed(size_t count, const uint8_t* bytes);
uint32_t LaggedRandomNext();
