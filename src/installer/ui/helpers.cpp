// The small window operations the dialogs and the extraction share.
#include "ui.h"

#include "controls.h"
#include "driver.h"

// Four CR LF pairs push every status text below the top of the status area.
static const char statusLead[] = "\r\n\r\n\r\n\r\n";

void SetControlText(HWND dialog, int id, const char *text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text);
}

void ShowStatus(const char *lead, const char *text)
{
    char status[sizeof statusLead + 16 + extractedPathSize];
    CopyText(status, sizeof status, statusLead);
    AppendText(status, sizeof status, lead);
    AppendText(status, sizeof status, text);
    SetControlText(state.mainWindow, IDC_STATUS, status);
}

void ReportExtractionProgress(const char *fileName)
{
    ShowStatus(messages.dialog.extracting, fileName);
    PumpOneMessage();
}

void PumpOneMessage(void)
{
    MSG message;
    if (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void CentreWindow(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    // Signed division truncates toward zero: 3 pixels too wide gives -1, as intended.
    int x = (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2;
    SetWindowPos(window, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR RunModalDialog(HINSTANCE instance, const char *resourceName, HWND owner,
                       DLGPROC procedure)
{
    return DialogBoxParamA(instance, resourceName, owner, procedure, 0);
}
