// How continuation volumes are named. Portable: the stub looks for them by these names, the
// packaging tool writes them.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A continuation volume's number takes the last three characters of the installer file's name:
// SETUP.EXE, then SETUP.001 to SETUP.255.
constexpr uint32_t volumeNumberLength = 3;

// The number (below 1000) in three digits, zero-padded on the left (1 gives "001"), and a NUL:
// text holds 4 bytes.
void FormatVolumeNumber(uint32_t number, char *text);

// Turns name, `length` characters and a NUL, into the name of continuation volume `number`;
// false, with name unchanged, when it is shorter than the number.
bool NameVolume(char *name, size_t length, uint32_t number);
