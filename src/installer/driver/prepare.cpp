// Preparation: the paths, the package intake, the cabinet library, the work directory, the
// volumes and the binding, in that order, before any window exists.
#include "driver.h"

#include "cabinet.h"
#include "guards.h"
#include "package.h"
#include "scramble.h"

static const char workFolderName[] = "\\$Quarvel.Tmp\\";
constexpr DWORD tempPathQuerySize = 254;

static void ShowError(const char *text)
{
    MessageBoxA(0, text, messages.preparation.error, MB_ICONHAND);
}

static HANDLE OpenForReading(const char *path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, 0);
}

static bool HasSpace(const char *text)
{
    for (; *text; text++)
        if (*text == ' ')
            return true;
    return false;
}

// The temporary directory without its final backslash, or the system directory when the
// temporary one is unusable: a query that fails or does not fit, a one-character result, a
// path with a space, or one too long for the folder name to follow it.
static void ChooseWorkDirectory(DWORD systemLength)
{
    DWORD result = GetTempPathA(tempPathQuerySize, state.workDirectory);
    DWORD base = result - 1;
    constexpr DWORD longestBase = pathBufferSize - sizeof workFolderName;
    if (result <= 1 || result >= tempPathQuerySize || base > longestBase ||
        state.workDirectory[base] != '\\' || HasSpace(state.workDirectory)) {
        CopyText(state.workDirectory, pathBufferSize, state.systemDirectory);
        base = systemLength;
    }
    state.workDirectory[base] = 0;
    AppendText(state.workDirectory, pathBufferSize, workFolderName);
}

// Writes the package's library image as the system's Cabinet.dll when there is none. Only a
// DLL image is written: an empty slot would plant a broken system library. A write that fails
// part-way removes what it wrote.
static void ProvideCabinetLibrary(void)
{
    char target[cabinetLibraryPathSize];
    CabinetLibraryPath(target);
    if (PathExists(target))
        return;

    state.copyBuffer = (BYTE *)AllocateOrStop(copyBufferSize);
    DWORD read = 0;
    SetFilePointer(state.packageHandle, packageOffset, 0, FILE_BEGIN);
    ReadFile(state.packageHandle, state.copyBuffer, cabinetLibrarySlotSize, &read, 0);
    if (read >= 2 && state.copyBuffer[0] == 'M' && state.copyBuffer[1] == 'Z') {
        state.auxHandle = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_WRITE, 0, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, 0);
        if (state.auxHandle != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            if (!WriteFile(state.auxHandle, state.copyBuffer, read, &written, 0) ||
                written != read)
                state.failed = 1;
            CloseHandle(state.auxHandle);
            if (state.failed)
                DeleteFileA(target);
        }
        state.auxHandle = INVALID_HANDLE_VALUE;
    }
    FreeBlock(state.copyBuffer);
    state.copyBuffer = 0;
}

bool PrepareInstallation(void)
{
    state.installStarted = 0;
    state.hasTitle = 0;
    state.failed = 0;
    state.packageHandle = INVALID_HANDLE_VALUE;
    state.auxHandle = INVALID_HANDLE_VALUE;

    GetModuleFileNameA(0, state.packagePath, pathBufferSize);

    StoredText62 info = storedBuiltinInfoText;
    ScrambleText(info.bytes, builtinInfoTextLength);
    for (DWORD i = 0; i < builtinInfoTextLength; i++)
        state.builtinInfoText[i] = (char)info.bytes[i];
    state.builtinInfoText[builtinInfoTextLength] = 0;

    DWORD current = GetCurrentDirectoryA(currentDirectorySize, state.currentDirectory);
    DWORD systemLength = GetSystemDirectoryA(state.systemDirectory, systemDirectorySize - 1);
    // A start directory that does not fit cannot be restored after the INF installer ran; the
    // system directory then takes its place, so that the work directory does not stay current
    // and can still be removed.
    if (current == 0 || current >= currentDirectorySize)
        CopyText(state.currentDirectory, currentDirectorySize, state.systemDirectory);
    ChooseWorkDirectory(systemLength);

    state.packageHandle = OpenForReading(state.packagePath);
    if (state.packageHandle == INVALID_HANDLE_VALUE) {
        MessageBoxA(0, state.packagePath, messages.preparation.cannotOpenFile, MB_ICONHAND);
        return false;
    }
    if (ReadPackageHeader(state.packageHandle) == noPackage)
        return false;
    if (state.requireAdmin && !IsAdministrator()) {
        ShowError(messages.preparation.administratorOnly);
        return false;
    }
    if (ReadPackageTexts(state.packageHandle) == sizeMismatch) {
        ShowError(messages.preparation.corruptFile);
        CloseHandle(state.packageHandle);
        EndProgram(0);
    }

    ProvideCabinetLibrary();
    CloseHandle(state.packageHandle);
    state.packageHandle = INVALID_HANDLE_VALUE;

    MakeDirectoryPath(state.workDirectory);
    if (state.multiVolume)
        AssembleVolumes();

    BindCabinetLibrary();
    if (!state.cabinetLibraryLoaded) {
        state.failed = 1;
        ShowError(messages.preparation.cabinetNotLoaded);
        return false;
    }
    if (state.failed) {
        ShowError(messages.preparation.archiveNotCreated);
        return false;
    }
    state.packageHandle = OpenForReading(state.packagePath);
    state.failed = state.packageHandle == INVALID_HANDLE_VALUE;
    return !state.failed;
}
