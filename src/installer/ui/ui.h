// The installer's windows: the main dialog, the licence dialog, progress and window helpers.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LicenceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The extraction's progress callback: shows the file's name in the main dialog's status text.
void ReportExtractionProgress(const char *fileName);
// Handles at most one pending message of the thread, without waiting.
void PumpOneMessage(void);
// Centres a top-level window on the whole primary screen.
void CentreWindow(HWND window);
// Runs a dialog resource modally; its EndDialog result, or -1 when it cannot be created.
INT_PTR RunModalDialog(HINSTANCE instance, const char *resourceName, HWND owner,
                       DLGPROC procedure);

// Sets a control's text; nothing happens when the dialog has no such control (any more).
void SetControlText(HWND dialog, int id, const char *text);
// Shows four CR LF pairs, lead and text in the main dialog's status text.
void ShowStatus(const char *lead, const char *text);
