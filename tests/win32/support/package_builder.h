// Installer files built by hand for the tests, as the packaging tool lays them out, so that a
// test can also describe a package that the tool would never write.
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
