#include "dialog_run.h"

#include "ui.h"

// The run whose thread a hook belongs to; one dialog thread at a time per test.
static DialogRun *current;
// Posted by Sync; the dialog's procedure leaves it alone.
static const UINT syncMarker = WM_APP + 0x5151;

DialogRun::DialogRun(const char *resourceName, DLGPROC procedure)
    : resourceName_(resourceName), procedure_(procedure), threadId_(0), result_(notFinished),
      markersTaken_(0)
{
    InitializeCriticalSection(&lock_);
    current = this;
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
}

static BOOL CALLBACK AskToClose(HWND window, LPARAM)
{
    EnableWindow(GetDlgItem(window, IDCANCEL), TRUE);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

DialogRun::~DialogRun()
{
    // Whatever is still open on the thread is asked to close until the thread has ended.
    for (int round = 0; round < 100 && !Finished(); round++) {
        EnumThreadWindows(threadId_, AskToClose, 0);
        WaitForSingleObject(thread_, 100);
    }
    if (!Finished())
        TerminateThread(thread_, 1);
    CloseHandle(thread_);
    current = nullptr;
    DeleteCriticalSection(&lock_);
}

DWORD WINAPI DialogRun::Run(void *self)
{
    DialogRun *run = (DialogRun *)self;
    HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, WatchSentMessage, nullptr,
                                   GetCurrentThreadId());
    HHOOK posted = SetWindowsHookExA(WH_GETMESSAGE, WatchPostedMessage, nullptr,
                                     GetCurrentThreadId());
    INT_PTR result = RunModalDialog(GetModuleHandleA(nullptr), run->resourceName_, nullptr,
                                    run->procedure_);
    UnhookWindowsHookEx(posted);
    UnhookWindowsHookEx(sent);
    EnterCriticalSection(&run->lock_);
    run->result_ = result;
    LeaveCriticalSection(&run->lock_);
    return 0;
}

LRESULT CALLBACK DialogRun::WatchSentMessage(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *sent = (const CWPSTRUCT *)lParam;
    if (code == HC_ACTION && sent->message == WM_SETTEXT && current && sent->lParam) {
        int id = (GetWindowLongA(sent->hwnd, GWL_STYLE) & WS_CHILD) ? GetDlgCtrlID(sent->hwnd)
                                                                      : 0;
        EnterCriticalSection(&current->lock_);
        current->texts_.push_back({id, (const char *)sent->lParam});
        LeaveCriticalSection(&current->lock_);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK DialogRun::WatchPostedMessage(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG *taken = (const MSG *)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && taken->message == syncMarker && current)
        InterlockedIncrement(&current->markersTaken_);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool DialogRun::Sync(HWND window, DWORD timeout)
{
    for (int round = 0; round < 2; round++) {
        LONG before = markersTaken_;
        if (!PostMessageA(window, syncMarker, 0, 0))
            return false;
        DWORD start = GetTickCount();
        while (markersTaken_ == before) {
            if (Finished() || GetTickCount() - start > timeout)
                return false;
            Sleep(5);
        }
    }
    return true;
}

INT_PTR DialogRun::Result(DWORD timeout)
{
    WaitForSingleObject(thread_, timeout);
    EnterCriticalSection(&lock_);
    INT_PTR result = result_;
    LeaveCriticalSection(&lock_);
    return result;
}

bool DialogRun::Finished()
{
    return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

std::vector<std::string> DialogRun::TextsSet(int controlId)
{
    std::vector<std::string> texts;
    EnterCriticalSection(&lock_);
    for (const TextSet &set : texts_)
        if (controlId == -1 || set.controlId == controlId)
            texts.push_back(set.text);
    LeaveCriticalSection(&lock_);
    return texts;
}
