// Cabinet extraction through the system cabinet library (FDI), reading the cabinet in place
// inside the package file.
#pragma once

#include <windows.h>
#include <fdi.h>

#include "driver.h"

// ---- Binding ----
// The library's four entry points, resolved in this order; later ones stay null after the
// first that is missing.
enum CabinetEntryPoint { fdiCreate, fdiIsCabinet, fdiCopy, fdiDestroy, cabinetEntryPointCount };

struct CabinetLibrary {
    HMODULE module;
    FARPROC entryPoints[cabinetEntryPointCount];
};
extern CabinetLibrary cabinetLibrary;

// The system directory's Cabinet.dll by its full path, where it is loaded from and where the
// package's image of it is written; path holds cabinetLibraryPathSize bytes.
constexpr DWORD cabinetLibraryPathSize = systemDirectorySize + 1 + sizeof cabinetLibraryName;
void CabinetLibraryPath(char *path);
// Loads the system directory's Cabinet.dll once and resolves FDICreate, FDIIsCabinet, FDICopy
// and FDIDestroy; sets state.cabinetLibraryLoaded when all four are there.
void BindCabinetLibrary(void);
// The exit action the binding registers: frees the library.
void ReleaseCabinetLibrary(void);

// ---- Callbacks handed to FDICreate ----
void *DIAMONDAPI CabinetAlloc(ULONG size);
void DIAMONDAPI CabinetFree(void *block);
INT_PTR DIAMONDAPI CabinetOpen(char *name, int flags, int mode);
UINT DIAMONDAPI CabinetRead(INT_PTR handle, void *buffer, UINT count);
UINT DIAMONDAPI CabinetWrite(INT_PTR handle, void *buffer, UINT count);
int DIAMONDAPI CabinetClose(INT_PTR handle);
LONG DIAMONDAPI CabinetSeek(INT_PTR handle, LONG distance, int origin);

// ---- The table of handles open on the package file ----
void ResetCabinetHandles(void);
void AddCabinetHandle(INT_PTR handle);
bool IsCabinetHandle(INT_PTR handle);
void RemoveCabinetHandle(INT_PTR handle);

// ---- The extraction driver ----
typedef void (*ProgressCallback)(const char *fileName);

// Extracts every file of the package's cabinet into the work directory and records it;
// reports a failure in a message box and in the dialog's status text (control 3002).
void ExtractCabinet(HWND dialog, ProgressCallback progress);
// Refuses (-1) a stored name that would leave the work directory or name a device, one that
// would make a path longer than MAX_PATH - 1, and every file of a cabinet set.
INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);
// path holds pathBufferSize bytes; a backslash is appended unless empty or already there.
void WithTrailingBackslash(char *path);
