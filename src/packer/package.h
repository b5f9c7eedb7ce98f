// The package as the tool writes and reads it: the blocks in front of the cabinet, built from
// and read back into plain texts. Offsets, the header and the scrambling are the format
// module's; this adds only the assembly.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "layout.h"
#include "volumes.h"

namespace quarvel {

// The five text blocks, plain, in code page 1252 with CR LF line ends.
struct PackageTexts {
    std::string title;
    std::string infName;
    std::string infoText;
    std::string message;
    std::string licence;
};

struct PackageFlags {
    bool showCompletion = false;
    bool requireAdmin = false;
    bool removeInstallButton = false;
    bool multiVolume = false;
    bool useAdvpack = false;
    bool scrambleCabinet = false;
};

// The header of a package with these texts and flags and this total size. A title, INF name or
// info text longer than its one-byte length field allows is an Error naming it.
PackageHeader MakePackageHeader(const PackageTexts &texts, const PackageFlags &flags,
                                uint32_t totalSize);

// Bytes 0 to cabinetOffset: the stub image zero-padded to packageOffset, the cabinet library
// image zero-padded to the slot, the header and the five text blocks, the last three
// scrambled. The stub and library must fit their places.
std::vector<uint8_t> PackagePrefix(const std::vector<uint8_t> &stub,
                                   const std::vector<uint8_t> &cabinetLibrary,
                                   const PackageHeader &header, const PackageTexts &texts);

// What a file holds in front of its cabinet.
struct PackageContents {
    bool hasMagic = false;
    PackageHeader header{};
    // The header passes the format's consistency test and the texts were read.
    bool textsRead = false;
    uint32_t cabinetOffset = 0;
    PackageTexts texts;
    // Bytes of the slot up to its last nonzero byte: 0 for a zero-filled slot.
    uint32_t cabinetLibrarySize = 0;
};

PackageContents ReadPackage(const ByteSource &source);

}  // namespace quarvel
