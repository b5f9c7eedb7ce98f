// The package layout: where each block of an installer file lies, and the header's fields.
// Portable: compiled into the installer stub and into the packaging tool alike.
#pragma once

#include <stdint.h>

// The installer's program image is exactly this long on disk; the package starts behind it.
constexpr uint32_t packageOffset = 28672;
// Room for an image of the system cabinet library, copied out when the system has none.
constexpr uint32_t cabinetLibrarySlotSize = 40960;
// The system cabinet library's file name, in the system directory.
inline constexpr char cabinetLibraryName[] = "Cabinet.dll";
constexpr uint32_t headerOffset = packageOffset + cabinetLibrarySlotSize;  // 69632
constexpr uint32_t headerSize = 24;
constexpr uint32_t textOffset = headerOffset + headerSize;  // 69656

// Header field offsets, little-endian, no padding. Flags are bytes: nonzero is on.
constexpr uint8_t hdrMagic = 0;                 // 3 bytes, packageMagic
constexpr uint8_t hdrShowCompletion = 3;        // flag
constexpr uint8_t hdrTitleLength = 4;           // byte
constexpr uint8_t hdrInfNameLength = 5;         // byte
constexpr uint8_t hdrRequireAdmin = 6;          // flag
constexpr uint8_t hdrInfoTextLength = 7;        // byte
constexpr uint8_t hdrMessageLength = 8;         // 32-bit
constexpr uint8_t hdrLicenceLength = 12;        // 32-bit
constexpr uint8_t hdrRemoveInstallButton = 16;  // flag
constexpr uint8_t hdrMultiVolume = 17;          // flag
constexpr uint8_t hdrUseAdvpack = 18;           // flag
constexpr uint8_t hdrCabinetScrambled = 19;     // flag
constexpr uint8_t hdrTotalSize = 20;            // 32-bit

// Three letters in the file; the NUL makes the same array a text for messages.
constexpr uint32_t magicLength = 3;
constexpr char packageMagic[magicLength + 1] = "KZQ";

// The fields behind the magic, in file order, as the installer reads them one by one.
struct HeaderField {
    uint8_t offset;
    uint8_t width;
};
constexpr HeaderField headerFields[12] = {
    {hdrShowCompletion, 1}, {hdrTitleLength, 1},   {hdrInfNameLength, 1},
    {hdrRequireAdmin, 1},   {hdrInfoTextLength, 1}, {hdrMessageLength, 4},
    {hdrLicenceLength, 4},  {hdrRemoveInstallButton, 1}, {hdrMultiVolume, 1},
    {hdrUseAdvpack, 1},     {hdrCabinetScrambled, 1}, {hdrTotalSize, 4},
};

// Each field starts where the one before it ends, and the last ends the header.
constexpr bool HeaderFieldsFollowEachOther()
{
    uint32_t next = magicLength;
    for (const HeaderField &field : headerFields) {
        if (field.offset != next)
            return false;
        next += field.width;
    }
    return next == headerSize;
}
static_assert(HeaderFieldsFollowEachOther(), "a header field out of place");

// The 32-bit lengths and the total size are meaningful below 2^31 only.
constexpr uint32_t largestPackageValue = 0x7FFFFFFF;

// A volume set has the installer file and at most 255 continuations (.001 to .255).
constexpr uint32_t maxContinuationVolumes = 255;
// The installer records this many extracted files for deletion.
constexpr uint32_t maxRecordedFiles = 255;

struct PackageHeader {
    char magic[3];
    uint8_t showCompletion;
    uint8_t titleLength;
    uint8_t infNameLength;
    uint8_t requireAdmin;
    uint8_t infoTextLength;
    uint32_t messageLength;
    uint32_t licenceLength;
    uint8_t removeInstallButton;
    uint8_t multiVolume;
    uint8_t useAdvpack;
    uint8_t cabinetScrambled;
    uint32_t totalSize;
};

// True when the three bytes, read as a text ending at the first NUL, are the magic.
bool HasPackageMagic(const uint8_t *bytes);

// Fills every field from the 24 header bytes; flags keep their stored byte.
void ParsePackageHeader(const uint8_t *bytes, PackageHeader *header);

// Writes the 24 header bytes; the magic is always packageMagic.
void SerialisePackageHeader(const PackageHeader *header, uint8_t *bytes);

// Where the cabinet starts: the text offset plus the five block lengths, in 32-bit arithmetic.
uint32_t CabinetOffset(const PackageHeader *header);

// True when every 32-bit value is below 2^31 and the text blocks end within totalSize.
// A header that fails this describes no package that could have been written.
bool PackageHeaderConsistent(const PackageHeader *header);
