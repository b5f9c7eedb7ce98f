// Stands in for Cabinet.dll in the binding probe's tests, copied under that name. It lacks
// FDIDestroy. Leaves marks beside itself: "<path>.attached" when loaded, holding the process
// error mode at that moment, and "<path>.freed" when FreeLibrary unloads it.
#include <windows.h>

#include <cstdio>

static char modulePath[MAX_PATH];

static void Mark(const char *suffix, unsigned value)
{
    char path[MAX_PATH + 16], text[16];
    snprintf(path, sizeof path, "%s%s", modulePath, suffix);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD length = (DWORD)snprintf(text, sizeof text, "%u", value), written;
    WriteFile(file, text, length, &written, nullptr);
    CloseHandle(file);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        GetModuleFileNameA(instance, modulePath, sizeof modulePath);
        Mark(".attached", GetErrorMode());
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {  // not at process end
        Mark(".freed", 0);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) int FDICreate(void) { return 0; }
extern "C" __declspec(dllexport) int FDIIsCabinet(void) { return 0; }
extern "C" __declspec(dllexport) int FDICopy(void) { return 0; }
