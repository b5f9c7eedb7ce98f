// Stands in for Cabinet.dll in the binding probe's tests, copied under that name; it lacks
// FDIDestroy. Marks beside itself: "<path>.quiet" or "<path>.attached" when loaded with the
// platform's file error boxes off or on, "<path>.freed" when FreeLibrary unloads it.
#include <windows.h>

static char path[MAX_PATH + 16];
static DWORD pathLength;  // the module's own path

static void Mark(const char *suffix)
{
    lstrcpyA(path + pathLength, suffix);
    CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        pathLength = GetModuleFileNameA(instance, path, MAX_PATH);
        Mark(GetErrorMode() & SEM_NOOPENFILEERRORBOX ? ".quiet" : ".attached");
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {  // not at process end
        Mark(".freed");
    }
    return TRUE;
}

extern "C" __declspec(dllexport) int FDICreate(void) { return 0; }
extern "C" __declspec(dllexport) int FDIIsCabinet(void) { return 0; }
extern "C" __declspec(dllexport) int FDICopy(void) { return 0; }
