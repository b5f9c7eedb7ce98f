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

// Every visible top-level window with this class and caption (exact, letter case included),
// from the top of the stacking order down; nullptr matches any class or caption, processId 0
// any process.
std::vector<HWND> FindTopWindows(const char *className, const char *caption,
                                 DWORD processId = 0);
// A time-out times QUARVEL_TIMEOUT_SCALE, which a slow test machine sets; INFINITE stays.
DWORD ScaledTimeout(DWORD timeout);
// True once the window is destroyed or hidden (a dialog that EndDialog ends is hidden first).
bool WaitUntilGone(HWND window, DWORD timeout = defaultTimeout);
bool WaitUntil(const std::function<bool()> &condition, DWORD timeout = defaultTimeout);

// A dialog, found by caption: a window of the dialog class "#32770".
HWND FindDialog(const char *caption, DWORD processId = 0);
HWND WaitForDialog(const char *caption, DWORD processId = 0, DWORD timeout = defaultTimeout);

// The window's text, asked with WM_GETTEXT, which reaches other processes too. Empty when
// the window's thread does not answer within a few seconds.
std::string Text(HWND window);
std::string ControlText(HWND dialog, int id);
bool HasControl(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);

// Clicks a button as the user would: refused (false) when it is missing, hidden or disabled.
bool Click(HWND dialog, int id);
// Posts the command as the platform does for keys and close requests, whatever the buttons'
// state: Escape and closing give command 2 (IDCANCEL), Enter the default button's command.
void PostCommand(HWND dialog, int id);
// Posts a key press and release to the dialog's focused control (or to the dialog), where
// the dialog's message loop turns it into a command.
void PressKey(HWND dialog, UINT virtualKey);
inline void PressEscape(HWND dialog) { PressKey(dialog, VK_ESCAPE); }
inline void PressEnter(HWND dialog) { PressKey(dialog, VK_RETURN); }
// The caption's close box (and Alt+F4): WM_SYSCOMMAND with SC_CLOSE.
void RequestClose(HWND window);

// ---- Message boxes: dialogs whose text is the static control 65535 ----

// A message box as it shows.
struct Box {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

// The first visible message box with this caption (nullptr: any) of the process (0: any).
Box FindMessageBox(const char *caption = nullptr, DWORD processId = 0);
// Every such box, from the top of the stacking order down.
std::vector<Box> FindMessageBoxes(const char *caption = nullptr, DWORD processId = 0);
Box WaitForMessageBox(const char *caption = nullptr, DWORD processId = 0,
                             DWORD timeout = defaultTimeout);
// Presses one of the box's buttons (IDOK, IDCANCEL...) and waits until the box has gone.
bool AnswerMessageBox(HWND box, int button, DWORD timeout = defaultTimeout);

}  // namespace robot
