// The licence agreement: the package's licence in a read-only field; only "J'accepte" lets the
// installation start.
#include "ui.h"

#include "controls.h"
#include "driver.h"

INT_PTR CALLBACK LicenceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetControlText(dialog, IDC_LICENCE_TEXT, state.licenceText);
        SetWindowTextA(dialog, messages.dialog.licenceCaption);
        SetControlText(dialog, IDC_LICENCE_PROMPT, messages.dialog.licencePrompt);
        SetControlText(dialog, IDOK, messages.dialog.accept);
        SetControlText(dialog, IDCANCEL, messages.dialog.cancel);
        CentreWindow(dialog);
        return 0;  // the focus stays where the platform puts it
    }
    if (message == WM_COMMAND) {
        WORD command = LOWORD(wParam);
        if (command == IDOK || command == IDCANCEL) {
            EndDialog(dialog, command);
            return command == IDCANCEL;
        }
    }
    return 0;
}
