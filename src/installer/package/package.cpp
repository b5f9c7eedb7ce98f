#include "package.h"

#include "driver.h"
#include "scramble.h"
#include "signature.h"
#include "texts.h"

// Needed only between the two reads.
static PackageHeader header;

static DWORD ReadBytes(HANDLE file, void *buffer, DWORD count)
{
    DWORD read = 0;
    if (count > 0)
        ReadFile(file, buffer, count, &read, 0);
    return read;
}

PackageReadResult ReadPackageHeader(HANDLE file)
{
    BYTE bytes[headerSize];
    FillBytes(bytes, 0, sizeof bytes);
    SetFilePointer(file, headerOffset, 0, FILE_BEGIN);
    if (ReadBytes(file, bytes + hdrMagic, magicLength) < magicLength || !HasPackageMagic(bytes))
        return noPackage;
    // Field by field: a short read leaves zeros, and the size test catches a short file.
    for (const HeaderField &field : headerFields)
        ReadBytes(file, bytes + field.offset, field.width);
    ParsePackageHeader(bytes, &header);

    state.showCompletion = header.showCompletion;
    state.requireAdmin = header.requireAdmin;
    state.infoTextLength = header.infoTextLength;
    state.messageLength = header.messageLength;
    state.licenceLength = header.licenceLength;
    state.removeInstallButton = header.removeInstallButton;
    state.multiVolume = header.multiVolume;
    state.useAdvpack = header.useAdvpack;
    state.cabinetScrambled = header.cabinetScrambled;
    state.totalSize = header.totalSize;
    state.hasTitle = header.titleLength > 0;
    return headerRead;
}

// A zero-filled block of length + 1 bytes holding the unscrambled text.
static char *ReadStoredText(HANDLE file, DWORD length)
{
    char *text = (char *)AllocateOrStop(length + 1);
    ReadBytes(file, text, length);
    ScrambleText((uint8_t *)text, length);
    return text;
}

PackageReadResult ReadPackageTexts(HANDLE file)
{
    // Lengths of 2^31 or more, or texts reaching past the package's end, mean a damaged
    // package; refusing them here also keeps a hostile length from a huge allocation.
    if (!PackageHeaderConsistent(&header))
        return sizeMismatch;

    FillBytes(state.title, 0, pathBufferSize);
    ReadBytes(file, state.title, header.titleLength);
    FillBytes(state.infName, 0, pathBufferSize);
    ReadBytes(file, state.infName, header.infNameLength);

    state.infoText = ReadStoredText(file, header.infoTextLength);
    state.messageText = header.messageLength > 0 ? ReadStoredText(file, header.messageLength)
                                                 : defaultMessage;
    state.licenceText = header.licenceLength > 0 ? ReadStoredText(file, header.licenceLength)
                                                 : "";

    if (!header.multiVolume && PackageBytesInFile(file) != header.totalSize)
        return sizeMismatch;
    state.cabinetOffset = CabinetOffset(&header);
    return textsRead;
}

static DWORD ReadBytesAt(HANDLE file, DWORD offset, void *buffer, DWORD count)
{
    SetFilePointer(file, (LONG)offset, 0, FILE_BEGIN);
    return ReadBytes(file, buffer, count);
}

DWORD PackageBytesInFile(HANDLE file)
{
    BYTE start[peHeadersReadSize];
    BYTE atTotalSize[certificateTableAlignment];
    FillBytes(atTotalSize, 0, sizeof atTotalSize);
    DWORD startLength = ReadBytesAt(file, 0, start, sizeof start);
    ReadBytesAt(file, header.totalSize, atTotalSize, sizeof atTotalSize);
    SetFilePointer(file, 0, 0, FILE_BEGIN);
    CertificateTable table;
    return UnsignedPackageBytes(&header, GetFileSize(file, 0), start, startLength, atTotalSize,
                                &table);
}
