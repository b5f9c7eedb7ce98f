#include "robot.h"

#include <stdlib.h>
#include <string.h>

namespace robot {

namespace {

constexpr DWORD pollInterval = 10;
constexpr UINT answerTimeout = 5000;
constexpr int messageBoxTextId = 65535;

struct Search {
    const char *className;
    const char *caption;
    DWORD processId;
    bool (*accept)(HWND window);
    bool all;
    std::vector<HWND> found;
};

std::string ClassOf(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK VisitTopWindow(HWND window, LPARAM parameter)
{
    Search *search = (Search *)parameter;
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->processId) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != search->processId)
            return TRUE;
    }
    if (search->className && ClassOf(window) != search->className)
        return TRUE;
    if (search->caption && Text(window) != search->caption)
        return TRUE;
    if (search->accept && !search->accept(window))
        return TRUE;
    search->found.push_back(window);
    return search->all;
}

std::vector<HWND> FindAll(const char *className, const char *caption, DWORD processId,
                          bool (*accept)(HWND), bool all)
{
    Search search = {className, caption, processId, accept, all, {}};
    EnumWindows(VisitTopWindow, (LPARAM)&search);
    return search.found;
}

HWND Find(const char *className, const char *caption, DWORD processId,
          bool (*accept)(HWND) = nullptr)
{
    std::vector<HWND> found = FindAll(className, caption, processId, accept, false);
    return found.empty() ? nullptr : found[0];
}

bool IsMessageBox(HWND window)
{
    HWND text = GetDlgItem(window, messageBoxTextId);
    return text && ClassOf(text) == "Static";
}

}  // namespace

DWORD ScaledTimeout(DWORD timeout)
{
    const char *scale = getenv("QUARVEL_TIMEOUT_SCALE");
    DWORD factor = scale ? strtoul(scale, nullptr, 10) : 1;
    return timeout == INFINITE || factor < 2 ? timeout : timeout * factor;
}

bool WaitUntil(const std::function<bool()> &condition, DWORD timeout)
{
    timeout = ScaledTimeout(timeout);
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeout)
            return false;
        Sleep(pollInterval);
    }
}

std::vector<HWND> FindTopWindows(const char *className, const char *caption, DWORD processId)
{
    return FindAll(className, caption, processId, nullptr, true);
}

bool WaitUntilGone(HWND window, DWORD timeout)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout);
}

HWND FindDialog(const char *caption, DWORD processId)
{
    return Find("#32770", caption, processId);
}

HWND WaitForDialog(const char *caption, DWORD processId, DWORD timeout)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(caption, processId)) != nullptr; }, timeout);
    return found;
}

std::string Text(HWND window)
{
    DWORD_PTR length = 0;
    if (!window || !SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL,
                                        ScaledTimeout(answerTimeout), &length))
        return std::string();
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), (LPARAM)&text[0],
                             SMTO_NORMAL, ScaledTimeout(answerTimeout), &copied))
        return std::string();
    text.resize(strlen(text.c_str()));
    return text;
}

std::string ControlText(HWND dialog, int id)
{
    return Text(GetDlgItem(dialog, id));
}

bool HasControl(HWND dialog, int id)
{
    return GetDlgItem(dialog, id) != nullptr;
}

bool IsControlEnabled(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control && IsWindowEnabled(control);
}

bool Click(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button))
        return false;
    return PostMessageA(button, BM_CLICK, 0, 0) != 0;
}

void PostCommand(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void PressKey(HWND dialog, UINT virtualKey)
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) &&
        thread.hwndFocus && IsChild(dialog, thread.hwndFocus))
        target = thread.hwndFocus;
    UINT scanCode = MapVirtualKeyA(virtualKey, 0 /* MAPVK_VK_TO_VSC */);
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1 | scanCode << 16);
    PostMessageA(target, WM_KEYUP, virtualKey, 1 | scanCode << 16 | 0xC0000000u);
}

void RequestClose(HWND window)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::vector<Box> FindMessageBoxes(const char *caption, DWORD processId)
{
    std::vector<Box> boxes;
    for (HWND window : FindAll("#32770", caption, processId, IsMessageBox, true))
        boxes.push_back({window, Text(window), ControlText(window, messageBoxTextId)});
    return boxes;
}

Box FindMessageBox(const char *caption, DWORD processId)
{
    std::vector<Box> boxes = FindMessageBoxes(caption, processId);
    return boxes.empty() ? Box() : boxes[0];
}

Box WaitForMessageBox(const char *caption, DWORD processId, DWORD timeout)
{
    Box box;
    WaitUntil([&] { return (box = FindMessageBox(caption, processId)).window != nullptr; },
              timeout);
    return box;
}

bool AnswerMessageBox(HWND box, int button, DWORD timeout)
{
    if (!IsWindow(box))
        return false;
    PostCommand(box, button);
    return WaitUntilGone(box, timeout);
}

}  // namespace robot
