// Fixed vectors of the package format, worked out by hand from its definition. Stored packages
// depend on them: tests compare against these, never against the code under test.
#pragma once

#include <stdint.h>

// The first key bytes of the text scrambling, for the format's seed.
inline const uint8_t firstKeyBytes[] = {0x8A, 0x80, 0xA3, 0xC4, 0xC5, 0xBE, 0xF2, 0xF5};
