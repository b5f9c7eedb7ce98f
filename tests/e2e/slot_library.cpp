// A stand-in cabinet library for a package's library slot: small enough for the slot, it leaves
// a mark when it is loaded and offers the four entry points, none of which extracts.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        CloseHandle(CreateFileA("C:\\quarvel-slot-library-loaded", GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return TRUE;
}

// No context: the installer reports an extraction error.
extern "C" __declspec(dllexport) void *__cdecl FDICreate(void *, void *, void *, void *, void *,
                                                         void *, void *, int, void *) { return nullptr; }
extern "C" __declspec(dllexport) BOOL __cdecl FDIIsCabinet(void *, INT_PTR, void *) { return FALSE; }
extern "C" __declspec(dllexport) BOOL __cdecl FDICopy(void *, char *, char *, int, void *, void *,
                                                      void *) { return FALSE; }
extern "C" __declspec(dllexport) BOOL __cdecl FDIDestroy(void *) { return TRUE; }
