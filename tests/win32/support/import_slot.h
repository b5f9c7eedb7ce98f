// Replaces a system function for a whole test program, in the slot of the import table through
// which the code under test calls it: a definition in the program takes the place of the import
// library's, so the installer itself carries no seam. At namespace scope:
//
//     QUARVEL_IMPORT_SLOT(MsgWaitForMultipleObjects, 20) = FailingWait;
//
// argumentBytes is the stdcall decoration: four bytes for each argument.
#pragma once

#define QUARVEL_IMPORT_SLOT(function, argumentBytes)                                            \
    extern "C" decltype(&::function) function##ImportSlot                                       \
        __asm__("__imp__" #function "@" #argumentBytes);                                        \
    decltype(&::function) function##ImportSlot

// The system's own function, for a replacement that passes calls on.
#define QUARVEL_SYSTEM_FUNCTION(library, function)                                              \
    ((decltype(&::function))(void (*)(void))GetProcAddress(GetModuleHandleA(library), #function))
