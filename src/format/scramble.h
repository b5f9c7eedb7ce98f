// Text scrambling of the stored texts, and the one-byte key of a scrambled cabinet.
// The routine is its own inverse: the packaging tool stores texts with it, the installer reads
// them back with it. Both sides must use these very constants.
#pragma once

#include <stdint.h>

constexpr uint32_t scrambleSeed = 417;
constexpr uint32_t scrambleMultiplier = 134775813;  // 0x08088405
constexpr uint32_t scrambleIncrement = 1;
constexpr int32_t cabinetKeyModulus = 73;

// XORs bytes 1 to length - 1 with the generator's key sequence; byte 0 stays plain. Each call
// starts the generator from the seed, so every text meets the same key bytes in the same places.
constexpr void ScrambleText(uint8_t *text, uint32_t length)
{
    uint32_t generator = scrambleSeed;
    for (uint32_t i = 1; i < length; i++) {
        generator = generator * scrambleMultiplier + scrambleIncrement;
        // A draw below 128: the high word of 128 × state, which is the state's top 7 bits.
        uint8_t draw = (uint8_t)(generator >> 25);
        text[i] ^= (uint8_t)(draw | 0x80);
    }
}

// The key every cabinet byte is XORed with: totalSize, taken as signed, modulo the modulus.
constexpr uint8_t CabinetKey(uint32_t totalSize)
{
    return (uint8_t)((int32_t)totalSize % cabinetKeyModulus);
}

// Stored packages depend on both keys: the cabinet's, and the text key sequence, whose first
// bytes are worked out by hand from the seed and whose every byte from the second on has its
// top bit, so no plain ASCII text shows through.
static_assert(CabinetKey(73 * 1000 + 5) == 5 && CabinetKey(72) == 72 && CabinetKey(73) == 0,
              "the cabinet key changed");
constexpr bool KeySequenceIsTheStoredPackagesOne()
{
    const uint8_t first[9] = {0, 0x8A, 0x80, 0xA3, 0xC4, 0xC5, 0xBE, 0xF2, 0xF5};
    uint8_t keys[5000] = {};
    ScrambleText(keys, sizeof keys);
    for (uint32_t i = 0; i < sizeof keys; i++)
        if (i < sizeof first ? keys[i] != first[i] : keys[i] < 0x80)
            return false;
    return true;
}
static_assert(KeySequenceIsTheStoredPackagesOne(), "the key sequence changed");
