#include "robot.h"

#include <stdlib.h>
#include <string.h>

namespace robot {

namespace {

constexpr int messageBoxTextId = 65535;

struct Search {
    const char *className, *caption;
    DWORD processId;
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
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (IsWindowVisible(window) && (!search->processId || process == search->processId) &&
        (!search->className || ClassOf(window) == search->className) &&
        (!search->caption || Text(window) == search->caption))
        search->found.push_back(window);
    return TRUE;
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
    for (DWORD start = GetTickCount();; Sleep(10)) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeout)
            return false;
    }
}

std::vector<HWND> FindTopWindows(const char *className, const char *caption, DWORD processId)
{
    Search search = {className, caption, processId, {}};
    EnumWindows(VisitTopWindow, (LPARAM)&search);
    return search.found;
}

HWND WaitForDialog(const char *caption, DWORD processId, DWORD timeout)
{
    std::vector<HWND> found;
    WaitUntil([&] { return !(found = FindTopWindows("#32770", caption, processId)).empty(); },
              timeout);
    return found.empty() ? nullptr : found[0];
}

std::string Text(HWND window)
{
    DWORD timeout = ScaledTimeout(5000);
    DWORD_PTR length = 0;
    if (!window || !SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeout,
                                        &length))
        return "";
    std::string text(length + 1, '\0');
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), (LPARAM)&text[0], SMTO_NORMAL,
                             timeout, nullptr))
        return "";
    return text.c_str();
}

bool Click(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    return IsWindowVisible(button) && IsWindowEnabled(button) &&
           PostMessageA(button, BM_CLICK, 0, 0);
}

void PostCommand(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void PressEnter(HWND dialog)
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) &&
        thread.hwndFocus && IsChild(dialog, thread.hwndFocus))
        target = thread.hwndFocus;
    UINT scanCode = MapVirtualKeyA(VK_RETURN, 0 /* MAPVK_VK_TO_VSC */);
    PostMessageA(target, WM_KEYDOWN, VK_RETURN, 1 | scanCode << 16);
    PostMessageA(target, WM_KEYUP, VK_RETURN, 1 | scanCode << 16 | 0xC0000000u);
}

std::vector<Box> FindMessageBoxes(const char *caption, DWORD processId)
{
    std::vector<Box> boxes;
    for (HWND window : FindTopWindows("#32770", caption, processId)) {
        HWND text = GetDlgItem(window, messageBoxTextId);
        if (text && ClassOf(text) == "Static")
            boxes.push_back({window, Text(window), Text(text)});
    }
    return boxes;
}

bool AnswerMessageBox(HWND box, int button, DWORD timeout)
{
    if (!IsWindow(box))
        return false;
    PostCommand(box, button);
    return WaitUntilGone(box, timeout);
}

}  // namespace robot
