// Installer files built by hand for the tests of both programs, as the packaging tool lays
// them out, so that a test can also describe a package that the tool would never write.
#pragma once

#include <string>

#include "layout.h"

struct PackageTexts {
    std::string title, infName, info, message, licence;
};

// The header with the texts' and the cabinet's lengths, and totalSize the whole file's size.
PackageHeader WithLengths(PackageHeader header, const PackageTexts &texts,
                          const std::string &cabinet);

// front (the program image and library slot, cut or zero-padded to the header offset), then
// the header as given, the texts (info, message and licence scrambled) and the cabinet.
std::string PackageFile(const PackageHeader &header, const PackageTexts &texts,
                        const std::string &cabinet, std::string front);

// A package around a cabinet with no texts but the INF name: a front of "MZ" and zeros, and
// the cabinet, scrambled under the key of the total size when asked.
std::string PackageAround(std::string cabinet, const std::string &infName, bool scrambled);

// Offsets in the PE headers that a linker writes at 0x80, for tests that damage one field.
constexpr uint32_t peHeaderAt = 0x80;
constexpr uint32_t peOptionalHeaderAt = peHeaderAt + 24;
constexpr uint32_t peSecurityDirectoryAt = peOptionalHeaderAt + 96 + 4 * 8;

// The first bytes of a signed 32-bit PE program (peHeadersReadSize of them) whose security
// directory names a certificate table; the rest of the program image is zeros.
std::string SignedProgramFront(uint32_t tableOffset, uint32_t tableSize);

// Writes value little-endian at `at`.
void Put32(std::string &bytes, uint32_t at, uint32_t value);
