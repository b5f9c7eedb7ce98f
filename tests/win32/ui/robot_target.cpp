// robot-target box|dialog: windows in a process of their own for the robot's tests. "box"
// shows a message box, "dialog" the licence dialog template with a plain procedure; the exit
// code is the button or command that ended it.
#include <windows.h>

#include <string.h>

#include "controls.h"

static INT_PTR CALLBACK TargetDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetWindowTextA(dialog, "Robot target dialog");
        SetDlgItemTextA(dialog, IDC_LICENCE_TEXT, "Texte accentu\xE9 d'un autre processus");
        EnableWindow(GetDlgItem(dialog, IDC_LICENCE_PROMPT), FALSE);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        EndDialog(dialog, LOWORD(wParam));
    return FALSE;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "box") == 0)
        return MessageBoxA(nullptr, "Voil\xE0 une bo\xEEte.", "Robot target", MB_OKCANCEL);
    if (argc == 2 && strcmp(argv[1], "dialog") == 0)
        return (int)DialogBoxParamA(GetModuleHandleA(nullptr), "DLG_LIC", nullptr,
                                    TargetDialogProc, 0);
    return 100;
}
