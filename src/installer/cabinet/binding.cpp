// Binding to the system cabinet library, loaded at run time from the system directory.
#include "cabinet.h"

#include "driver.h"

CabinetLibrary cabinetLibrary;

void CabinetLibraryPath(char *path)
{
    CopyText(path, cabinetLibraryPathSize, state.systemDirectory);
    AppendText(path, cabinetLibraryPathSize, "\\");
    AppendText(path, cabinetLibraryPathSize, cabinetLibraryName);
}

void BindCabinetLibrary(void)
{
    if (state.cabinetLibraryLoaded)
        return;
    UINT savedErrorMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);

    // By its full path: a bare name would search the installer's own directory first, and a
    // Cabinet.dll planted beside a downloaded installer would run inside it.
    char path[cabinetLibraryPathSize];
    CabinetLibraryPath(path);
    HMODULE module = LoadLibraryA(path);
    cabinetLibrary.module = module;

    if ((UINT_PTR)module >= 32) {
        RegisterExitAction(ReleaseCabinetLibrary);
        static const char *const names[cabinetEntryPointCount] = {
            "FDICreate", "FDIIsCabinet", "FDICopy", "FDIDestroy"};
        DWORD found = 0;
        while (found < cabinetEntryPointCount &&
               (cabinetLibrary.entryPoints[found] = GetProcAddress(module, names[found])) != 0)
            found++;
        if (found == cabinetEntryPointCount)
            state.cabinetLibraryLoaded = 1;
    }
    SetErrorMode(savedErrorMode);
}

void ReleaseCabinetLibrary(void)
{
    FreeLibrary(cabinetLibrary.module);
}
