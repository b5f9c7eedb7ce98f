// The test robot: finds the installer's windows and message boxes, in this process or in
// another one, reads what they show and works them as a user would. Every call returns at
// once except the Wait ones, which poll until their condition holds or the time-out passes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace robot {

constexpr DWORD defaultTimeout = 10000;  // milliseconds

// A time-out times QUARVEL_TIMEOUT_SCALE, which a slow test machine sets; INFINITE stays.
DWORD ScaledTimeout(DWORD timeout);
bool WaitUntil(const std::function<bool()> &condition, DWORD timeout = defaultTimeout);
// True once the window is destroyed or hidden (a dialog that EndDialog ends is hidden first).
inline bool WaitUntilGone(HWND window, DWORD timeout = defaultTimeout)
{
    return WaitUntil([&] { return !IsWindowVisible(window); }, timeout);
}

// Every visible top-level window with this class and caption (exact, letter case included),
// from the top of the stacking order down; nullptr matches any class or caption, processId 0
// any process.
std::vector<HWND> FindTopWindows(const char *className, const char *caption, DWORD processId = 0);
// The first such dialog (class "#32770"), or nullptr.
HWND WaitForDialog(const char *caption, DWORD processId = 0, DWORD timeout = defaultTimeout);

// The window's text, asked with WM_GETTEXT, which reaches other processes too. Empty when
// the window's thread does not answer within a few seconds.
std::string Text(HWND window);
inline std::string ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }
inline bool IsControlEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id));
}

// Clicks a button as the user would: refused (false) when it is missing, hidden or disabled.
bool Click(HWND dialog, int id);
// Posts the command as the platform does for keys and close requests, whatever the buttons'
// state: Escape and closing give command 2 (IDCANCEL), Enter the default button's command.
void PostCommand(HWND dialog, int id);
// Posts Enter, pressed and released, to the dialog's focused control (or to the dialog), where
// the dialog's message loop turns it into the default button's command.
void PressEnter(HWND dialog);

// ---- Message boxes: dialogs whose text is the static control 65535 ----

struct Box {
    HWND window = nullptr;
    std::string caption, text;
};

// Every visible message box with this caption (nullptr: any) of the process (0: any), from
// the top of the stacking order down.
std::vector<Box> FindMessageBoxes(const char *caption = nullptr, DWORD processId = 0);
// Presses one of the box's buttons (IDOK, IDCANCEL...) and waits until the box has gone.
bool AnswerMessageBox(HWND box, int button, DWORD timeout = defaultTimeout);

}  // namespace robot
