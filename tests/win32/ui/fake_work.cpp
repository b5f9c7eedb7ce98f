#include "fake_work.h"

#include "cabinet.h"
#include "controls.h"
#include "driver.h"
#include "launcher.h"
#include "test_support.h"
#include "ui.h"

FakeWork fakeWork;

void ResetFakeWork(const std::string &directory)
{
    ReleaseFakeWork();
    for (HANDLE event : {fakeWork.holdExtraction, fakeWork.holdLaunch, fakeWork.extracting,
                         fakeWork.launching})
        if (event)
            CloseHandle(event);
    fakeWork = FakeWork();
    fakeWork.directory = directory;
    fakeWork.extracting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    fakeWork.launching = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void ReleaseFakeWork()
{
    if (fakeWork.holdExtraction)
        SetEvent(fakeWork.holdExtraction);
    if (fakeWork.holdLaunch)
        SetEvent(fakeWork.holdLaunch);
}

// Serves every message of the thread until the event is set, as the installer's own wait
// does: the queue is emptied before each wait, since MsgWaitForMultipleObjects wakes only for
// messages that arrived after the queue was last looked at.
static void WaitServingMessages(HANDLE event)
{
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
            return;
    }
}

static void NoteWhatTheDialogShows(HWND dialog)
{
    fakeWork.dialogVisibleDuringWork |= IsWindowVisible(dialog) != 0;
    HWND install = GetDlgItem(dialog, IDC_INSTALL);
    fakeWork.buttonsEnabledDuringWork |= (install && IsWindowEnabled(install)) ||
                                         IsWindowEnabled(GetDlgItem(dialog, IDC_CLOSE));
}

void ExtractCabinet(HWND dialog, ProgressCallback progress)
{
    fakeWork.extractions++;
    fakeWork.dialogGiven = dialog;
    fakeWork.progressWasReportExtractionProgress = progress == ReportExtractionProgress;
    for (const std::string &name : fakeWork.names) {
        progress(name.c_str());
        std::string path = fakeWork.directory + name;
        WriteFileBytes(path, name);
        if (state.extractedFileCount < maxRecordedFiles)
            CopyText(state.extractedFiles[state.extractedFileCount++], extractedPathSize,
                     path.c_str());
    }
    NoteWhatTheDialogShows(dialog);
    SetEvent(fakeWork.extracting);
    if (fakeWork.holdExtraction)
        WaitServingMessages(fakeWork.holdExtraction);
    NoteWhatTheDialogShows(dialog);
    state.extractionSucceeded = fakeWork.succeed;
    if (!fakeWork.succeed)
        SetControlText(dialog, IDC_STATUS, messages.dialog.extractionError);
}

void LaunchInfInstallation(void)
{
    fakeWork.launches++;
    HWND dialog = state.mainWindow;
    char status[512] = "";
    GetDlgItemTextA(dialog, IDC_STATUS, status, sizeof status);
    fakeWork.statusDuringLaunch = status;
    NoteWhatTheDialogShows(dialog);
    SetEvent(fakeWork.launching);
    if (fakeWork.holdLaunch)
        WaitServingMessages(fakeWork.holdLaunch);
    NoteWhatTheDialogShows(dialog);
    if (fakeWork.closeRequestAtLaunchEnd)
        PostMessageA(dialog, WM_COMMAND, IDC_CLOSE, 0);
}
