// A program planted beside an installer under a system program's name: it only leaves a mark.
// Given a library name, it loads that library instead, as a probe of the library search.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int)
{
    if (arguments && *arguments)
        return LoadLibraryA(arguments) ? 0 : 1;
    HANDLE mark = CreateFileA("C:\\quarvel-planted-program-ran", GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(mark);
    return 0;
}
