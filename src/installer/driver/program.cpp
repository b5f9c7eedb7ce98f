// The program body: preparation, the main dialog, and the shutdown clean-up that runs however
// the dialog ends, a crash included.
#include "driver.h"

#include "ui.h"

static bool IsOwnFile(const char *path)
{
    char own[pathBufferSize];
    GetModuleFileNameA(0, own, pathBufferSize);
    return TextsEqual(own, path);
}

// Closes the package file, deletes the joined package file and removes the work directory.
// The directory goes only when empty: the Close command has deleted the extracted files.
static void ShutdownCleanup(void)
{
    static bool done;
    if (done)
        return;
    done = true;
    if (!state.failed && state.packageHandle != INVALID_HANDLE_VALUE &&
        !CloseHandle(state.packageHandle))
        MessageBoxA(0, messages.dialog.cannotCloseFile, messages.dialog.closeErrorCaption,
                    MB_ICONHAND);
    state.packageHandle = INVALID_HANDLE_VALUE;
    // The installer's own file stays, whatever the platform would allow.
    if (!IsOwnFile(state.packagePath))
        DeleteFileA(state.packagePath);
    RemoveDirectoryA(state.workDirectory);
}

// A crash while the dialog runs: clean up, then let the platform report the error and end the
// process as it would have.
static LONG WINAPI CleanUpAfterCrash(EXCEPTION_POINTERS *)
{
    for (DWORD i = 0; i < state.extractedFileCount; i++)
        DeleteExtractedFile(state.extractedFiles[i]);
    ShutdownCleanup();
    return EXCEPTION_CONTINUE_SEARCH;
}

void RunProgram(void)
{
    RegisterExitAction(ReleaseBuffers);
    AllocateBuffers();
    state.packageHandle = INVALID_HANDLE_VALUE;
    SetUnhandledExceptionFilter(CleanUpAfterCrash);
    if (PrepareInstallation())
        RunModalDialog(GetModuleHandleA(0), "DLG_Main", 0, MainDialogProc);
    ShutdownCleanup();
    EndProgram(0);
}
