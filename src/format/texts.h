// Texts built into the installer program itself.
#pragma once

#include <stdint.h>

#include "scramble.h"

// Shown in the main dialog when a package carries no message: three CRs, then the sentence.
inline constexpr char defaultMessage[] =
    "\r\r\rVeuillez cliquer sur \"Installer\" pour lancer l'installation.";
static_assert(sizeof defaultMessage - 1 == 63, "the default message is 63 bytes");

// The program's own information text, shown ahead of a package's info text. The program holds
// it scrambled only; StoredBuiltinInfoText makes that form at compile time.
constexpr uint32_t builtinInfoTextLength = 62;

struct StoredText62 {
    uint8_t bytes[builtinInfoTextLength];
};

constexpr StoredText62 ScrambledBuiltinInfoText()
{
    constexpr char plain[] = "Quarvel 1.0, self-extracting installer for 32-bit Windows.\r\n";
    static_assert(sizeof plain <= builtinInfoTextLength, "the information text has 62 bytes");
    StoredText62 stored{};  // NUL-padded
    for (uint32_t i = 0; i < sizeof plain - 1; i++)
        stored.bytes[i] = (uint8_t)plain[i];
    ScrambleText(stored.bytes, builtinInfoTextLength);
    return stored;
}

inline constexpr StoredText62 storedBuiltinInfoText = ScrambledBuiltinInfoText();
