// Binds the cabinet library in a process of its own and ends through the exit actions, so a
// test can watch what is loaded and freed under the load order it chooses. Its argument: the
// directory to bind from (exits 2 when bound once, 1 when not bound, 3 when the error mode or
// binding again changed anything), or "bare": loads "Cabinet.dll" by its bare name, 0 if found.
#include <cstring>

#include "cabinet.h"
#include "driver.h"

int main(int argc, char **argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS);  // not what binding sets, whatever was inherited
    if (argc == 2 && TextsEqual(argv[1], "bare"))
        return LoadLibraryA("Cabinet.dll") ? 0 : 1;
    CopyText(state.systemDirectory, sizeof state.systemDirectory, argc == 2 ? argv[1] : "");
    BindCabinetLibrary();
    CabinetLibrary first = cabinetLibrary;
    if (state.cabinetLibraryLoaded) {  // again, from beside this program
        GetModuleFileNameA(0, state.systemDirectory, sizeof state.systemDirectory);
        *strrchr(state.systemDirectory, '\\') = 0;
        BindCabinetLibrary();
    }
    bool kept = GetErrorMode() == SEM_FAILCRITICALERRORS &&
                memcmp(&cabinetLibrary, &first, sizeof first) == 0;
    EndProgram(!kept ? 3 : state.cabinetLibraryLoaded ? 2 : 1);
}
