// Binds the cabinet library in a process of its own and ends through the exit actions, so a
// test can watch what is loaded and freed under the load order that it chooses.
//   cabinet_binding_probe SYSTEMDIR|- bind|bare
// bind exits 2 when bound, 1 when not; bare loads "Cabinet.dll" by its bare name, as a
// planted library would be found, and exits 0 when something loaded.
#include <windows.h>

#include <cstring>

#include "cabinet.h"
#include "driver.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 100;
    if (strcmp(argv[2], "bare") == 0)
        return LoadLibraryA("Cabinet.dll") ? 0 : 1;
    if (strcmp(argv[1], "-") == 0)
        GetSystemDirectoryA(state.systemDirectory, sizeof state.systemDirectory);
    else
        CopyText(state.systemDirectory, sizeof state.systemDirectory, argv[1]);
    BindCabinetLibrary();
    EndProgram(state.cabinetLibraryLoaded ? 2 : 1);
}
