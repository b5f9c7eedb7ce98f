// Joining a package that spans volume files into one package file in the work directory.
#include "driver.h"

#include "package.h"

static const char joinedFileName[] = "Quarvel.pkg";

// "Veuillez insérer le disque n° N...\n<path> required)"; true when the user cancels.
static bool AskForDisk(void)
{
    char prompt[pathBufferSize + 64];
    char number[12];
    CopyText(prompt, sizeof prompt, messages.preparation.insertDisk);
    DecimalText(state.volumeCount + 1u, number);
    AppendText(prompt, sizeof prompt, number);
    AppendText(prompt, sizeof prompt, "...\n");
    AppendText(prompt, sizeof prompt, state.volumeName);
    AppendText(prompt, sizeof prompt, " required)");
    return MessageBoxA(0, prompt, state.title, MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL;
}

// Appends the first `size` bytes of the open volume to the joined file. A read that fails or
// comes back empty before then ends the joining, as a failed write does.
static void CopyVolume(DWORD size)
{
    LONG remaining = (LONG)size;
    while (remaining > 0 && !state.failed) {
        DWORD chunk = remaining < (LONG)copyBufferSize ? (DWORD)remaining : copyBufferSize;
        DWORD read = 0, written = 0;
        if (!ReadFile(state.auxHandle, state.copyBuffer, chunk, &read, 0) || read == 0) {
            state.failed = 1;
            break;
        }
        remaining -= (LONG)read;
        if (!WriteFile(state.packageHandle, state.copyBuffer, read, &written, 0) ||
            written != read)
            state.failed = 1;
    }
}

void JoinVolumes(const char *firstVolume)
{
    CopyText(state.packagePath, pathBufferSize, state.workDirectory);
    AppendText(state.packagePath, pathBufferSize, joinedFileName);
    state.volumeCount = 0;
    state.packageHandle = CreateFileA(state.packagePath, GENERIC_WRITE, FILE_SHARE_WRITE, 0,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    state.failed = state.packageHandle == INVALID_HANDLE_VALUE;
    state.copyBuffer = (BYTE *)AllocateOrStop(copyBufferSize);
    CopyText(state.volumeName, pathBufferSize, firstVolume);
    DWORD nameLength = TextLength(state.volumeName);

    while (!state.failed &&
           (LONG)GetFileSize(state.packageHandle, 0) < (LONG)state.totalSize) {
        if (state.volumeCount > 0)
            NameVolume(state.volumeName, nameLength, state.volumeCount);
        state.auxHandle = CreateFileA(state.volumeName, GENERIC_READ, FILE_SHARE_READ, 0,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
        if (state.auxHandle == INVALID_HANDLE_VALUE) {
            state.failed = AskForDisk();
            continue;
        }
        // A signed installer file: its certificate table is no part of the package.
        CopyVolume(state.volumeCount == 0 ? PackageBytesInFile(state.auxHandle)
                                          : GetFileSize(state.auxHandle, 0));
        CloseHandle(state.auxHandle);
        state.auxHandle = INVALID_HANDLE_VALUE;
        if (state.volumeCount == maxContinuationVolumes) {
            // .255 was the last name there is: a package still short of its size is broken.
            if ((LONG)GetFileSize(state.packageHandle, 0) < (LONG)state.totalSize)
                state.failed = 1;
            break;
        }
        state.volumeCount++;
    }

    FreeBlock(state.copyBuffer);
    state.copyBuffer = 0;
    if (state.packageHandle != INVALID_HANDLE_VALUE)
        CloseHandle(state.packageHandle);
    state.packageHandle = INVALID_HANDLE_VALUE;
}

void AssembleVolumes(void)
{
    char installer[pathBufferSize];
    GetModuleFileNameA(0, installer, pathBufferSize);
    JoinVolumes(installer);
}
