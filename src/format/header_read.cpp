#include "layout.h"

static uint32_t ReadLittleEndian32(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

bool HasPackageMagic(const uint8_t *bytes)
{
    // The magic holds no NUL, so a text that stops early at a NUL never equals it.
    return bytes[0] == packageMagic[0] && bytes[1] == packageMagic[1] &&
           bytes[2] == packageMagic[2];
}

void ParsePackageHeader(const uint8_t *bytes, PackageHeader *header)
{
    for (uint32_t i = 0; i < magicLength; i++)
        header->magic[i] = (char)bytes[hdrMagic + i];
    header->showCompletion = bytes[hdrShowCompletion];
    header->titleLength = bytes[hdrTitleLength];
    header->infNameLength = bytes[hdrInfNameLength];
    header->requireAdmin = bytes[hdrRequireAdmin];
    header->infoTextLength = bytes[hdrInfoTextLength];
    header->messageLength = ReadLittleEndian32(bytes + hdrMessageLength);
    header->licenceLength = ReadLittleEndian32(bytes + hdrLicenceLength);
    header->removeInstallButton = bytes[hdrRemoveInstallButton];
    header->multiVolume = bytes[hdrMultiVolume];
    header->useAdvpack = bytes[hdrUseAdvpack];
    header->cabinetScrambled = bytes[hdrCabinetScrambled];
    header->totalSize = ReadLittleEndian32(bytes + hdrTotalSize);
}

uint32_t CabinetOffset(const PackageHeader *header)
{
    return textOffset + header->titleLength + header->infNameLength + header->infoTextLength +
           header->messageLength + header->licenceLength;
}

bool PackageHeaderConsistent(const PackageHeader *header)
{
    if (header->messageLength > largestPackageValue ||
        header->licenceLength > largestPackageValue ||
        header->totalSize > largestPackageValue)
        return false;
    // Two lengths just below 2^31 together wrap 32 bits: add in 64.
    uint64_t textsEnd = (uint64_t)textOffset + header->titleLength + header->infNameLength +
                        header->infoTextLength + header->messageLength + header->licenceLength;
    return textsEnd <= header->totalSize;
}
