#include "layout.h"

static void WriteLittleEndian32(uint32_t value, uint8_t *bytes)
{
    bytes[0] = (uint8_t)value;
    bytes[1] = (uint8_t)(value >> 8);
    bytes[2] = (uint8_t)(value >> 16);
    bytes[3] = (uint8_t)(value >> 24);
}

void SerialisePackageHeader(const PackageHeader *header, uint8_t *bytes)
{
    for (uint32_t i = 0; i < magicLength; i++)
        bytes[hdrMagic + i] = (uint8_t)packageMagic[i];
    bytes[hdrShowCompletion] = header->showCompletion;
    bytes[hdrTitleLength] = header->titleLength;
    bytes[hdrInfNameLength] = header->infNameLength;
    bytes[hdrRequireAdmin] = header->requireAdmin;
    bytes[hdrInfoTextLength] = header->infoTextLength;
    WriteLittleEndian32(header->messageLength, bytes + hdrMessageLength);
    WriteLittleEndian32(header->licenceLength, bytes + hdrLicenceLength);
    bytes[hdrRemoveInstallButton] = header->removeInstallButton;
    bytes[hdrMultiVolume] = header->multiVolume;
    bytes[hdrUseAdvpack] = header->useAdvpack;
    bytes[hdrCabinetScrambled] = header->cabinetScrambled;
    WriteLittleEndian32(header->totalSize, bytes + hdrTotalSize);
}
