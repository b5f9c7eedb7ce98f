// Runs a dialog of the program's resources modally on a thread of its own, as the installer
// does on its one thread, so that the test's thread can drive it with the robot. Every text
// that the dialog thread sets on a window (WM_SETTEXT) is logged on the way.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct TextSet {
    int controlId;  // 0 for the dialog's caption
    std::string text;
};

class DialogRun {
public:
    DialogRun(const char *resourceName, DLGPROC procedure);
    // Ends what is still open (a failed test), then the thread.
    ~DialogRun();
    // Waits for the modal run to end: its result, or notFinished after the time-out.
    INT_PTR Result(DWORD timeout = 10000);
    bool Finished();
    DWORD ThreadId() const { return threadId_; }
    // The texts set so far, oldest first; only those of controlId when it is not -1.
    std::vector<std::string> TextsSet(int controlId = -1);
    // Returns once the dialog thread has taken out of its queue everything posted to the
    // window before the call, and what handling that posted in turn (a close request posts
    // its command): so a posted command has been handled, or dropped, when this returns.
    bool Sync(HWND window, DWORD timeout = 10000);

    static constexpr INT_PTR notFinished = -1000;

private:
    static DWORD WINAPI Run(void *self);
    static LRESULT CALLBACK WatchSentMessage(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WatchPostedMessage(int code, WPARAM wParam, LPARAM lParam);
    const char *resourceName_;
    DLGPROC procedure_;
    HANDLE thread_;
    DWORD threadId_;
    INT_PTR result_;
    CRITICAL_SECTION lock_;
    std::vector<TextSet> texts_;
    volatile LONG markersTaken_;
};
