#include "signature.h"

// PE header fields, as offsets from the start of their structure.
constexpr uint32_t dosNewHeaderPointer = 0x3C;     // e_lfanew
constexpr uint32_t peSignatureSize = 4;            // "PE\0\0"
constexpr uint32_t fileHeaderSize = 20;
constexpr uint32_t optionalHeaderSizeField = 16;   // in the file header
constexpr uint16_t pe32Magic = 0x10B;
constexpr uint32_t directoryCountField = 92;       // in the PE32 optional header
constexpr uint32_t firstDirectory = 96;
constexpr uint32_t securityDirectory = 4;          // IMAGE_DIRECTORY_ENTRY_SECURITY
constexpr uint32_t directorySize = 8;              // two 32-bit values

static uint32_t Read16(const uint8_t *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8;
}

static uint32_t Read32(const uint8_t *bytes)
{
    return Read16(bytes) | Read16(bytes + 2) << 16;
}

bool FindCertificateTable(const uint8_t *fileStart, uint32_t length, CertificateTable *table)
{
    if (length < dosNewHeaderPointer + 4 || fileStart[0] != 'M' || fileStart[1] != 'Z')
        return false;
    uint32_t peHeader = Read32(fileStart + dosNewHeaderPointer);
    uint32_t optionalHeader = peHeader + peSignatureSize + fileHeaderSize;
    uint32_t entry = optionalHeader + firstDirectory + securityDirectory * directorySize;
    // Compared before adding: a hostile pointer near 2^32 must not wrap into range.
    if (peHeader > length || length - peHeader < entry - peHeader + directorySize)
        return false;
    const uint8_t *pe = fileStart + peHeader;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0 ||
        Read16(fileStart + optionalHeader) != pe32Magic ||
        Read16(pe + peSignatureSize + optionalHeaderSizeField) <
            firstDirectory + (securityDirectory + 1) * directorySize ||
        Read32(fileStart + optionalHeader + directoryCountField) <= securityDirectory)
        return false;
    table->offset = Read32(fileStart + entry);
    table->size = Read32(fileStart + entry + 4);
    return table->size > 0;
}

bool CertificateTableEndsFile(const CertificateTable *table, uint32_t fileSize)
{
    return table->size > 0 && table->offset % certificateTableAlignment == 0 &&
           table->offset <= fileSize && fileSize - table->offset == table->size;
}

bool SignatureTrailsContent(const CertificateTable *table, uint32_t contentSize,
                            uint32_t fileSize, const uint8_t *padding)
{
    if (table->offset != CertificateTableOffsetAfter(contentSize) || table->offset < contentSize ||
        !CertificateTableEndsFile(table, fileSize))
        return false;
    for (uint32_t i = 0; i < table->offset - contentSize; i++)
        if (padding[i] != 0)
            return false;
    return true;
}

uint32_t UnsignedPackageBytes(const PackageHeader *header, uint32_t fileSize,
                              const uint8_t *fileStart, uint32_t startLength,
                              const uint8_t *atTotalSize, CertificateTable *table)
{
    CertificateTable found;
    bool trails = FindCertificateTable(fileStart, startLength, &found) &&
                  (header->multiVolume
                       ? CertificateTableEndsFile(&found, fileSize) &&
                             found.offset >= CabinetOffset(header)
                       : SignatureTrailsContent(&found, header->totalSize, fileSize, atTotalSize));
    if (!trails) {
        *table = CertificateTable{0, 0};
        return fileSize;
    }
    *table = found;
    return header->multiVolume ? found.offset : header->totalSize;
}
