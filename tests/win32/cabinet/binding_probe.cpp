// Binds the cabinet library in a process of its own and ends through the exit actions, so a
// test can watch what is loaded and freed, under the load order that the test chooses.
//   cabinet_binding_probe SYSTEMDIR|- bind|bind-twice|bare
// Exit code: 1 not bound; 2 bound to SYSTEMDIR\Cabinet.dll; 3 bound to another copy.
// "bare" loads "Cabinet.dll" by its bare name: 4 when the copy beside the probe came, 5 another.
#include <windows.h>

#include <cstring>

#include "cabinet.h"
#include "driver.h"

static bool SameFile(HMODULE module, const char *path)
{
    char loaded[MAX_PATH] = "";
    GetModuleFileNameA(module, loaded, sizeof loaded);
    return lstrcmpiA(loaded, path) == 0;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 100;
    if (strcmp(argv[1], "-") == 0)
        GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
    else
        CopyText(state.systemDirectory, sizeof state.systemDirectory, argv[1]);

    if (strcmp(argv[2], "bare") == 0) {
        char beside[MAX_PATH];
        GetModuleFileNameA(nullptr, beside, sizeof beside);
        strcpy(strrchr(beside, '\\') + 1, "Cabinet.dll");
        HMODULE module = LoadLibraryA("Cabinet.dll");
        return !module ? 1 : SameFile(module, beside) ? 4 : 5;
    }

    BindCabinetLibrary();
    if (strcmp(argv[2], "bind-twice") == 0)
        BindCabinetLibrary();
    char expected[MAX_PATH];
    strcpy(expected, state.systemDirectory);
    strcat(expected, "\\Cabinet.dll");
    UINT code = !state.cabinetLibraryLoaded ? 1 : SameFile(cabinetLibrary.module, expected) ? 2 : 3;
    EndProgram(code);
}
