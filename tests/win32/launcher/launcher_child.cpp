// A stand-in for an INF installer, told by QUARVEL_CHILD ("sleepMs exitCode window thread
// message wParam log") what to do: appends "start", its own path, its current directory and
// its command line (tab-separated) to the log, posts the message (if not 0) to the window, or
// else to the thread, sleeps, appends "end" and exits with the code.
#include <windows.h>

#include <stdio.h>

#include <string>

static void AppendToLog(const char *log, const std::string &line)
{
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(file);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char told[1024] = "", module[MAX_PATH] = "", directory[MAX_PATH] = "";
    unsigned long sleepMs = 0, exitCode = 0, window = 0, thread = 0, message = 0, wParam = 0;
    int logAt = 0;
    GetEnvironmentVariableA("QUARVEL_CHILD", told, sizeof told);
    sscanf(told, "%lu %lu %lu %lu %lu %lu %n", &sleepMs, &exitCode, &window, &thread, &message,
           &wParam, &logAt);
    GetModuleFileNameA(nullptr, module, sizeof module);
    GetCurrentDirectoryA(sizeof directory, directory);
    AppendToLog(told + logAt, std::string("start\t") + module + "\t" + directory + "\t" +
                                  GetCommandLineA() + "\n");
    if (message && window)  // a key press's lParam: repeated once, scan code 0x10 (Q)
        PostMessageA((HWND)window, message, wParam, 0x00100001);
    else if (message)
        PostThreadMessageA(thread, message, wParam, 0);
    Sleep(sleepMs);
    AppendToLog(told + logAt, "end\n");
    return (int)exitCode;
}
