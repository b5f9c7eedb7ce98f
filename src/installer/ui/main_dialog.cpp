// The installer's one window. All the work (licence, extraction, INF installation, deletion)
// runs on the dialog's own thread, inside the handling of its Install command.
#include "ui.h"

#include "cabinet.h"
#include "controls.h"
#include "driver.h"
#include "launcher.h"

// Commands that reach the dialog through the nested message loops while the work runs, or
// while the Close command deletes the files and ends the dialog, are dropped: the disabled
// buttons keep the user's clicks out, but a close request or a posted command would otherwise
// close the dialog in the middle of the extraction, or run the Close command a second time.
static bool working;
// Set once the Close command has started: a licence dialog still open then must not start the
// work on a dialog that is going away.
static bool closing;

// Deletes every recorded file, showing each one, and ends the dialog.
static void CloseInstaller(HWND dialog)
{
    closing = true;
    for (DWORD i = 0; i < state.extractedFileCount; i++) {
        DeleteExtractedFile(state.extractedFiles[i]);
        ShowStatus(messages.dialog.deleting, state.extractedFiles[i]);
        PumpOneMessage();
    }
    EndDialog(dialog, IDCANCEL);
}

static void StartInstallation(HWND dialog)
{
    if (state.licenceLength != 0 &&
        RunModalDialog(GetModuleHandleA(0), "DLG_LIC", 0, LicenceDialogProc) != IDOK)
        return;
    // The main dialog stays usable while the licence is open: it may have been closed, or a
    // second licence dialog may have started the work, in the meantime.
    if (closing || state.installStarted)
        return;
    state.installStarted = 1;
    working = true;
    EnableWindow(GetDlgItem(dialog, IDC_INSTALL), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), FALSE);
    if (state.removeInstallButton)
        DestroyWindow(GetDlgItem(dialog, IDC_INSTALL));

    ExtractCabinet(dialog, ReportExtractionProgress);
    if (state.extractionSucceeded) {
        char status[80];
        CopyText(status, sizeof status, "\r\n\r\n\r\n");
        AppendText(status, sizeof status, messages.dialog.updatingSystem);
        AppendText(status, sizeof status, "\r\n\r\n");
        AppendText(status, sizeof status, messages.dialog.pleaseWait);
        SetControlText(dialog, IDC_STATUS, status);
        LaunchInfInstallation();
        working = false;
        if (state.showCompletion) {
            SetControlText(dialog, IDC_CLOSE, messages.dialog.ok);
            ShowStatus("", messages.dialog.installationComplete);
            SetControlText(dialog, IDC_INSTALL, messages.dialog.info);
        } else {
            SetForegroundWindow(dialog);
            CloseInstaller(dialog);
        }
    } else {
        working = false;
        EndDialog(dialog, IDOK);
    }
    EnableWindow(GetDlgItem(dialog, IDC_CLOSE), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_INSTALL), TRUE);
}

static void ShowInfo(void)
{
    char text[builtinInfoTextLength + 255 + 1];  // a package's info text has at most 255 bytes
    CopyText(text, sizeof text, state.builtinInfoText);
    AppendText(text, sizeof text, state.infoText);
    MessageBoxA(0, text, "License Information", MB_OK | MB_ICONINFORMATION);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        working = closing = false;
        SetClassLongA(dialog, GCL_HICON, (LONG)LoadIconA(GetModuleHandleA(0), "MNICON"));
        if (state.hasTitle)
            SetWindowTextA(dialog, state.title);
        SetControlText(dialog, IDC_INSTALL, messages.dialog.install);
        SetControlText(dialog, IDC_CLOSE, messages.dialog.quit);
        SetControlText(dialog, IDC_STATUS, state.messageText);
        CentreWindow(dialog);
        state.mainWindow = dialog;
        if (state.messageLength == 0 && !state.showCompletion) {
            // Nothing to read and nothing to confirm: the whole installation runs now, before
            // the dialog is first shown.
            SetForegroundWindow(dialog);
            StartInstallation(dialog);
        }
        return 0;  // the focus stays where the platform puts it
    }
    if (message != WM_COMMAND || working || closing)
        return 0;
    switch (LOWORD(wParam)) {
    case IDC_INSTALL:
        if (!state.installStarted)
            StartInstallation(dialog);
        else if (!state.removeInstallButton)
            ShowInfo();
        else {
            // The Install button is gone: Enter, which still yields its command, closes.
            SetForegroundWindow(dialog);
            CloseInstaller(dialog);
        }
        return 0;
    case IDC_CLOSE:
        CloseInstaller(dialog);
        return 1;
    }
    return 0;
}
