// A stand-in for an INF installer, told by QUARVEL_CHILD ("sleepMs window log") what to do: logs
// "start", its path, current directory and command line (tab-separated), posts a Q key press to
// the window (if not 0), sleeps, logs "end" and exits with 259, STILL_ACTIVE, as if still running.
#include <windows.h>
#include <stdio.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char told[1024] = "", module[MAX_PATH] = "", directory[MAX_PATH] = "";
    unsigned long sleepMs = 0, window = 0;
    int logAt = 0;
    GetEnvironmentVariableA("QUARVEL_CHILD", told, sizeof told);
    sscanf(told, "%lu %lu %n", &sleepMs, &window, &logAt);
    GetModuleFileNameA(nullptr, module, sizeof module);
    GetCurrentDirectoryA(sizeof directory, directory);
    FILE *log = fopen(told + logAt, "ab");
    fprintf(log, "start\t%s\t%s\t%s\n", module, directory, GetCommandLineA());
    fclose(log);
    if (window)  // a key press's lParam: repeated once, scan code 0x10 (Q)
        PostMessageA((HWND)window, WM_KEYDOWN, 'Q', 0x00100001);
    Sleep(sleepMs);
    log = fopen(told + logAt, "ab");
    fputs("end\n", log);
    fclose(log);
    return STILL_ACTIVE;
}
